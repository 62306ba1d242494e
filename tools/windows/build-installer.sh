#!/usr/bin/env bash
# Builds the Windows installer of 5926 Data Collect with NSIS:
#   tools/windows/build-installer.sh              cross-builds first (build-windows.sh)
#   tools/windows/build-installer.sh --no-build   packs what build-win/bin holds
# DSG_WIN_BUILD_DIR=<dir> packs another build. The installer lands in
# <build>/installer/Dsg5926-<version>-setup.exe and its path is printed last.
#
# It ships the program, the stand-in spreadsheet Excel.exe when the build made
# one, the stand-in driver, Qt's Windows platform plugin and exactly the DLLs
# these import from the build folder, followed through their own imports.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${DSG_WIN_BUILD_DIR:-$repo/build-win}"

if [ "${1:-}" != "--no-build" ]; then
  "$here/build-windows.sh"
fi
command -v makensis >/dev/null || { echo "makensis is missing: run tools/windows/install-toolchain.sh" >&2; exit 1; }
objdump=i686-w64-mingw32-objdump
strip=i686-w64-mingw32-strip
for t in "$objdump" "$strip"; do
  command -v "$t" >/dev/null || { echo "$t is missing: run tools/windows/install-toolchain.sh" >&2; exit 1; }
done

bin="$build/bin"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
[ -n "$version" ] || { echo "No project version in $build/CMakeCache.txt: build first" >&2; exit 1; }
for f in Dsg5926.exe trovport.dll platforms/qwindows.dll; do
  [ -f "$bin/$f" ] || { echo "$bin/$f is missing: build first" >&2; exit 1; }
done

roots=(Dsg5926.exe platforms/qwindows.dll)
excel=()
if [ -f "$bin/Excel.exe" ]; then
  roots+=(Excel.exe)
  excel=(-DWITH_EXCEL)
else
  echo "warning: $bin/Excel.exe is missing, the installer comes without the stand-in spreadsheet" >&2
fi

# The build folder's file of a DLL name, matched as Windows matches: without case.
find_dll() {
  find "$bin" -maxdepth 1 -type f -iname "$1" -print -quit
}

# Follows the imports: a DLL found in the build folder ships; anything else
# is the system's, except names of Qt or the MinGW runtime, which must be there.
declare -A seen=()
queue=("${roots[@]}")
runtime=()
while [ ${#queue[@]} -gt 0 ]; do
  file="${queue[0]}"; queue=("${queue[@]:1}")
  while read -r dll; do
    key="${dll,,}"
    [ -z "${seen[$key]:-}" ] || continue
    seen[$key]=1
    found="$(find_dll "$dll")"
    if [ -n "$found" ]; then
      runtime+=("$(basename "$found")")
      queue+=("$(basename "$found")")
    elif [[ "$key" == qt6* || "$key" == lib* ]]; then
      echo "$file imports $dll, which is not in $bin" >&2
      exit 1
    fi
  done < <("$objdump" -p "$bin/$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
done

# The build's files carry debug information (half their size and more); the
# installed ones go without it, from a staging copy.
out="$build/installer"
stage="$out/stage"
rm -rf "$stage"
mkdir -p "$stage/platforms"
for f in "${roots[@]}" "${runtime[@]}" trovport.dll; do
  "$strip" --strip-unneeded -o "$stage/$f" "$bin/$f"
done
runtime_nsh="$out/runtime.nsh"
{
  echo "; Made by tools/windows/build-installer.sh: the DLLs the program imports."
  echo '!macro INSTALL_RUNTIME'
  for d in "${runtime[@]}"; do echo "  File \"\${BINDIR}\\$d\""; done
  echo '!macroend'
  echo '!macro UNINSTALL_RUNTIME'
  for d in "${runtime[@]}"; do echo "  Delete \"\$INSTDIR\\$d\""; done
  echo '!macroend'
} > "$runtime_nsh"
echo "Runtime DLLs: ${runtime[*]}" >&2

setup="$out/Dsg5926-$version-setup.exe"
makensis -V2 -NOCD "-DVERSION=$version" "-DBINDIR=$stage" "-DRUNTIME=$runtime_nsh" \
  "-DOUTFILE=$setup" "${excel[@]}" "$repo/packaging/windows/Dsg5926.nsi" >&2
echo "$setup"
