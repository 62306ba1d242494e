#!/usr/bin/env bash
# Installs, reinstalls, starts and uninstalls the Windows installer under Wine
# in a private prefix, per user and for all users:
#   tests/packaging/windows/installer_test.sh [<Windows build folder>]
# The installer is built from the build folder (build-win/ by default) with
# tools/windows/build-installer.sh --no-build, or taken from $DSG_SETUP.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../../.." && pwd)"
build="$(cd "${1:-$repo/build-win}" && pwd)"

# A display of its own: Wine draws even a silent installer's hidden windows,
# and the keys the test types reach no other test's Wine desktop.
if [ -z "${DSG_INSTALLER_TEST_XVFB:-}" ]; then
  DSG_INSTALLER_TEST_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi

tmp="$(mktemp -d "${TMPDIR:-/tmp}/dsg-installer.XXXXXX")"
export WINEPREFIX="$tmp/prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko prompts, and no menu entries on the host for the
# shortcuts the installer makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The installed program has only Qt's Windows platform.
unset QT_QPA_PLATFORM DSG_QPA_PLATFORM
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
expect() { # expect <what> <wanted> <got>
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: wanted '$2', got '$3'"; fi
}

setup="${DSG_SETUP:-}"
if [ -z "$setup" ]; then
  setup="$(DSG_WIN_BUILD_DIR="$build" "$repo/tools/windows/build-installer.sh" --no-build | tail -n 1)"
fi
[ -f "$setup" ] || { echo "no installer at '$setup'"; exit 1; }
cp "$setup" "$tmp/setup.exe"

"$repo/tools/windows/wine-prefix.sh" "$WINEPREFIX"

winenv() { wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }
unix() { winepath -u "$1" 2>/dev/null | tr -d '\r' | sed 's:/$::'; }
regval() { # regval <key> <value>: the data, empty when absent
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
    | sed -n "s/^[[:space:]]*$2[[:space:]]\{1,\}REG_[A-Z_]*[[:space:]]\{1,\}//p"
}
haskey() { wine reg query "$1" >/dev/null 2>&1; }
lower() { tr '[:upper:]' '[:lower:]'; }
runsetup() { timeout 180 wine "$tmp/setup.exe" "$@"; }
# An NSIS uninstaller copies itself away and returns at once. Its "_?=<folder>"
# switch, which would keep it waiting, must come unquoted, while Wine quotes an
# argument with spaces; so the test waits for the prefix's last process, as
# the uninstaller a user starts from "Apps & features" runs.
uninstall() { # uninstall <install folder (Windows)> <args...>
  local dir="$1"; shift
  timeout 60 wine "$dir\\Uninstall.exe" "$@" /S || return
  timeout 120 wineserver -w
}

lad="$(winenv LOCALAPPDATA)"
appdata="$(winenv APPDATA)"
progfiles="$(winenv ProgramFiles)"
progdata="$(winenv ProgramData)"
[ -n "$lad" ] && [ -n "$progdata" ] || { echo "cannot read the prefix's folders"; exit 1; }
product="5926 Data Collect"
ukey="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
user_inst="$lad\\Programs\\$product"
user_work="$lad\\Trova\\5926"
user_lnk="$(unix "$appdata\\Microsoft\\Windows\\Start Menu\\Programs")/$product.lnk"
all_inst="$progfiles\\$product"
all_work="$progdata\\Trova\\5926"
all_lnk="$(unix "$progdata\\Microsoft\\Windows\\Start Menu\\Programs")/$product.lnk"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"

# The runtime DLLs beside the program are checked by their imports below.
wanted_files="Dsg5926.exe
Uninstall.exe
platforms/qwindows.dll"
if [ -f "$build/bin/Excel.exe" ]; then
  wanted_files="$(printf '%s\nExcel.exe' "$wanted_files")"
else
  echo "note: $build/bin/Excel.exe is missing, so no stand-in spreadsheet is expected"
fi
wanted_files="$(LC_ALL=C sort <<<"$wanted_files")"

# Every import of an installed module is installed beside it or is Windows'
# own, and every DLL installed beside the program is imported by one: no
# missing runtime, no test or spare library shipped.
check_imports() { # check_imports <label> <install folder (Unix)>
  local label="$1" d="$2" m i bad="" used=" "
  local sys="$WINEPREFIX/drive_c/windows/system32"
  while read -r m; do
    while read -r i; do
      used+="${i,,} "
      # API sets, which the loader maps onto system DLLs.
      [[ "${i,,}" == api-ms-win-* || "${i,,}" == ext-ms-* ]] && continue
      [ -n "$(find "$d" -maxdepth 1 -iname "$i" -print -quit)" ] && continue
      [ -n "$(find "$sys" -maxdepth 1 -iname "$i" -print -quit)" ] && continue
      bad+=" $m:$i"
    done < <(i686-w64-mingw32-objdump -p "$d/$m" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
  done < <(cd "$d" && find . -type f \( -iname '*.exe' -o -iname '*.dll' \) | sed 's:^\./::')
  expect "$label: every import found" "" "$bad"
  local unused=""
  while read -r m; do
    [[ "$used" == *" ${m,,} "* ]] || unused+=" $m"
  done < <(cd "$d" && find . -maxdepth 1 -type f -iname '*.dll' | sed 's:^\./::')
  expect "$label: every DLL beside the program imported" "" "$unused"
}

check_installed() { # check_installed <label> <root> <install folder> <working folder> <shortcut> <mode>
  local label="$1" root="$2" inst="$3" work="$4" lnk="$5" mode="$6" d
  d="$(unix "$inst")"
  expect "$label: the files installed, and only those" "$wanted_files" \
    "$( (cd "$d" 2>/dev/null && find . -type f ! -path './*.dll' -o -type f -path './*/*' | sed 's:^\./::' | LC_ALL=C sort) || true)"
  check_imports "$label" "$d"
  if [ -f "$(unix "$work")/trovport.dll" ]; then pass "$label: trovport.dll in the working folder"
  else fail "$label: no trovport.dll in $work"; fi

  if [ -f "$lnk" ]; then
    local info target workdir
    info="$(python3 "$here/lnkinfo.py" "$lnk")"
    target="$(sed -n 1p <<<"$info")"; workdir="$(sed -n 2p <<<"$info")"
    expect "$label: the shortcut starts the program" "$(lower <<<"$inst\\Dsg5926.exe")" "$(lower <<<"$target")"
    expect "$label: the shortcut's working folder" "$(lower <<<"$work")" "$(lower <<<"$workdir")"
  else
    fail "$label: no shortcut $lnk"
  fi

  expect "$label: DisplayName" "$product" "$(regval "$root\\$ukey" DisplayName)"
  expect "$label: Publisher" "Trova" "$(regval "$root\\$ukey" Publisher)"
  expect "$label: DisplayVersion" "$version" "$(regval "$root\\$ukey" DisplayVersion)"
  expect "$label: InstallLocation" "$inst" "$(regval "$root\\$ukey" InstallLocation)"
  expect "$label: UninstallString" "\"$inst\\Uninstall.exe\" /$mode" "$(regval "$root\\$ukey" UninstallString)"
  expect "$label: DisplayIcon" "$inst\\Dsg5926.exe,0" "$(regval "$root\\$ukey" DisplayIcon)"
  expect "$label: NoModify" "0x1" "$(regval "$root\\$ukey" NoModify)"
  expect "$label: NoRepair" "0x1" "$(regval "$root\\$ukey" NoRepair)"
  local size kb
  size="$(regval "$root\\$ukey" EstimatedSize)"
  kb=$(( $(du -sk "$d" | cut -f1) ))
  # Within a tenth of what the folder holds.
  if [ -n "$size" ] && [ $((size)) -gt $((kb * 9 / 10)) ] && [ $((size)) -lt $((kb * 11 / 10)) ]; then
    pass "$label: EstimatedSize $((size)) KB"
  else
    fail "$label: EstimatedSize '$size' for a folder of $kb KB"
  fi
}

check_gone() { # check_gone <label> <root> <install folder> <shortcut>
  local label="$1" root="$2" inst="$3" lnk="$4" left
  if haskey "$root\\$ukey"; then fail "$label: the uninstall key stays"; else pass "$label: the uninstall key is gone"; fi
  if [ -e "$lnk" ]; then fail "$label: the shortcut stays"; else pass "$label: the shortcut is gone"; fi
  left="$( (cd "$(unix "$inst")" 2>/dev/null && find . -type f -iname '*.exe' -o -type f -iname '*.dll') || true)"
  expect "$label: no program files left" "" "$left"
}

# --- Per user, silent ---------------------------------------------------
runsetup /S || fail "per-user setup exit status $?"
check_installed "per user" HKCU "$user_inst" "$user_work" "$user_lnk" CurrentUser
if haskey "HKLM\\$ukey"; then fail "per user: an HKLM uninstall key"; else pass "per user: nothing in HKLM"; fi
# The installed program carries its icon (the one windows and the
# uninstall entry show) and its version, as Explorer reads them.
resources="$(i686-w64-mingw32-windres -i "$(unix "$user_inst")/Dsg5926.exe" -O rc 2>/dev/null)"
for want in '"IDI_ICON1" 14' "VALUE \"ProductName\", \"5926 Data Collect\"" \
            "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
  if grep -qF -- "$want" <<<"$resources"; then pass "resource: $want"; else fail "resource missing: $want"; fi
done
for p in "$all_inst" "$progdata\\Trova" ; do
  if [ -e "$(unix "$p")" ]; then fail "per user: $p exists"; else pass "per user: no $p"; fi
done
if [ -e "$all_lnk" ]; then fail "per user: an all-users shortcut"; else pass "per user: no all-users shortcut"; fi

# --- The installed program starts from the shortcut's working folder -----
# Its first start asks for the port through the Setup dialog; Return takes
# the defaults, which it saves, and the stand-in driver in the working folder
# opens the port.
if command -v xdotool >/dev/null; then
  (cd "$(unix "$user_work")" && exec wine "$user_inst\\Dsg5926.exe") >"$tmp/program.log" 2>&1 &
  program=$!
  device='HKCU\Software\Trova\5926\Device'
  for _ in $(seq 90); do
    haskey "$device" && break
    kill -0 $program 2>/dev/null || break
    desk="$(xdotool search --name '^Default - Wine desktop$' 2>/dev/null | head -n 1 || true)"
    if [ -n "$desk" ]; then
      xdotool windowfocus --sync "$desk" key Return >/dev/null 2>&1 || true
    fi
    sleep 1
  done
  expect "program: Port saved by the first Setup" "1" "$(regval "$device" Port)"
  expect "program: Speed saved by the first Setup" "4800" "$(regval "$device" Speed)"
  [ -n "$(regval "$device" RT)" ] && pass "program: RT saved" || fail "program: no RT saved"
  if kill -0 $program 2>/dev/null; then pass "program: still running"; else fail "program: ended early: $(cat "$tmp/program.log")"; fi
  timeout 20 wine taskkill /im Dsg5926.exe >/dev/null 2>&1 || true
  timeout 20 tail --pid=$program -f /dev/null || { fail "program: did not close within 20 s"; kill $program 2>/dev/null || true; }
  wineserver -k >/dev/null 2>&1 || true
else
  echo "note: xdotool is missing, the installed program is not started"
fi

# --- Reinstall over the user's own driver --------------------------------
work="$(unix "$user_work")"
printf 'MZ the maker driver %s\n' "$RANDOM" >"$tmp/maker.dll"
cp "$tmp/maker.dll" "$work/trovport.dll"
echo "time,value" >"$work/export.csv"
echo "mine" >"$(unix "$user_inst")/notes.txt"
echo "mine" >"$(unix "$lad\\Programs")/beside.csv"
runsetup /S || fail "second setup exit status $?"
if cmp -s "$tmp/maker.dll" "$work/trovport.dll"; then pass "reinstall keeps the user's trovport.dll"
else fail "reinstall replaced the user's trovport.dll"; fi
[ -f "$(unix "$user_inst")/Dsg5926.exe" ] && pass "reinstall: the program is there" || fail "reinstall: no program"

# --- Uninstall, per user -------------------------------------------------
uninstall "$user_inst" /CurrentUser || fail "per-user uninstall exit status $?"
check_gone "per-user uninstall" HKCU "$user_inst" "$user_lnk"
cmp -s "$tmp/maker.dll" "$work/trovport.dll" && pass "uninstall keeps the user's trovport.dll" \
  || fail "uninstall removed or changed the user's trovport.dll"
for f in "$work/export.csv" "$(unix "$user_inst")/notes.txt" "$(unix "$lad\\Programs")/beside.csv"; do
  [ -f "$f" ] && pass "uninstall keeps $(basename "$f")" || fail "uninstall removed $f"
done

# --- All users, silent ---------------------------------------------------
runsetup /S /AllUsers || fail "all-users setup exit status $?"
check_installed "all users" HKLM "$all_inst" "$all_work" "$all_lnk" AllUsers
if haskey "HKCU\\$ukey"; then fail "all users: an HKCU uninstall key"; else pass "all users: nothing in HKCU"; fi
if [ -e "$user_lnk" ]; then fail "all users: a per-user shortcut"; else pass "all users: no per-user shortcut"; fi
# Started without a switch, as from its folder, the uninstaller finds its mode.
uninstall "$all_inst" || fail "all-users uninstall exit status $?"
check_gone "all-users uninstall" HKLM "$all_inst" "$all_lnk"
[ -f "$(unix "$all_work")/trovport.dll" ] && pass "all-users uninstall leaves trovport.dll" \
  || fail "all-users uninstall removed trovport.dll"
[ -e "$(unix "$all_inst")" ] && fail "all-users uninstall leaves its folder: $(ls -R "$(unix "$all_inst")")" \
  || pass "all-users uninstall removes its folder"

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
