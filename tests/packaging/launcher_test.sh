#!/usr/bin/env bash
# Unpacks the Debian package into a temporary root and starts its launcher as
# a new user would: on a display of its own (Xvfb), with HOME and the XDG
# folders temporary, and with blanks in every path.
#   launcher_test.sh DEB_DIR
set -euo pipefail
deb=$(echo "$1"/*.deb)
[ -f "$deb" ] || { echo "no package in $1" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/dsg pkg.XXXXXX")
xvfb=
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  chmod -R u+w "$tmp" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

root="$tmp/unpacked root"
dpkg-deb -x "$deb" "$root"
launcher=$root/usr/bin/trova-5926
private=$(dirname "$(find "$root/usr/lib" -name Dsg5926 -type f)")
standin=$private/trovport.dll
[ -x "$launcher" ] && [ -f "$standin" ] && [ -x "$private/Excel" ] || fail "package lacks the launcher, the driver or the spreadsheet"

home="$tmp/home of user"
work=$home/.local/share/trova-5926
driver=$work/trovport.dll
mkdir -p "$home" "$tmp/config/Trova" "$tmp/runtime"
chmod 700 "$tmp/runtime"
# Settings stored already, so the first-run Setup dialog stays away.
printf '[Device]\nPort=1\nSpeed=4800\nRT=1\n' > "$tmp/config/Trova/5926.conf"

# A display of its own; -displayfd picks a free number without races.
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
display=:$(head -n1 "$tmp/display")

# A user's session: nothing of the caller's environment leaks in.
run_env=(env -i "HOME=$home" PATH=/usr/bin:/bin "DISPLAY=$display" LANG=C.UTF-8
         "XDG_CONFIG_HOME=$tmp/config" "XDG_RUNTIME_DIR=$tmp/runtime" QT_QPA_PLATFORM=xcb)

# Starts the launcher and waits until it has become the program (it must
# exec it, not run it as a child).
start() {
  "${run_env[@]}" "$launcher" >"$tmp/program.log" 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$private/Dsg5926" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the launcher ended: $(cat "$tmp/program.log")"
    sleep 0.1
  done
  [ "$(readlink "/proc/$pid/exe")" = "$private/Dsg5926" ] || fail "the program did not start"
  [ "$(readlink "/proc/$pid/cwd")" = "$work" ] || fail "the program does not run in $work"
}

stop() {
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
}

# Pixels of clear colour in a button: the pictures of Start (green) and Exit
# are coloured, and a disabled button shows its picture in grey.
coloured() { # SHOT X Y (button position in the window's client area)
  local top=$(( $(identify -format %h "$1") - 437 ))
  convert "$1" -crop "73x57+$2+$((top + $3))" +repage -colorspace HCL -channel G -separate \
    +channel -threshold 25% -format '%[fx:round(mean*w*h)]' info:
}

# Waits for the main window with Start enabled; STOP, disabled at start,
# shows that the test tells the two apart.
main_window_with_start_enabled() {
  local shot=$tmp/shot.png start=0 deadline=$((SECONDS + 90))
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$tmp/program.log")"
    # import asks for a mouse click when the window is not there yet, so it
    # is given the window's id only once the window exists.
    local id
    id=$(DISPLAY=$display xwininfo -name "5926 Data Collect" 2>/dev/null | awk '/Window id:/ {print $4}') || id=
    if [ -n "$id" ] && DISPLAY=$display timeout 20 import -window "$id" "$shot" 2>/dev/null; then
      start=$(coloured "$shot" 268 36) || start=0
      [ "$start" -ge 20 ] && break
    fi
    sleep 0.5
  done
  [ "$start" -ge 20 ] || fail "no main window with Start enabled (Start: $start coloured pixels)"
  local stop_pixels
  stop_pixels=$(coloured "$shot" 348 36)
  [ "$stop_pixels" -lt 5 ] || fail "STOP looks enabled ($stop_pixels coloured pixels)"
  echo "main window: Start $start, STOP $stop_pixels coloured pixels"
}

same_file() { [ "$(readlink -f "$1")" = "$(readlink -f "$2")" ]; }

# The help names the working folder.
"${run_env[@]}" "$launcher" --help | grep -qF "$work" || fail "--help does not name $work"
# ...and the settings file, where a relative XDG_CONFIG_HOME is ignored.
"${run_env[@]}" XDG_CONFIG_HOME=relconf "$launcher" --help | grep -qF "$home/.config/Trova/5926.conf" ||
  fail "--help does not name the settings under $home/.config for a relative XDG_CONFIG_HOME"

# First start: the working folder is made with a link to the stand-in driver.
start
[ -L "$driver" ] && same_file "$driver" "$standin" || fail "no link to the stand-in driver in $work"
main_window_with_start_enabled
stop

# A driver the user put there is kept.
rm "$driver"
cp "$standin" "$driver"
cp "$driver" "$tmp/users driver"
start
main_window_with_start_enabled
stop
[ ! -L "$driver" ] && cmp -s "$driver" "$tmp/users driver" || fail "the user's driver was replaced"

# A link of ours into a copy that has gone is pointed at this copy.
rm "$driver"
ln -s "/gone/${private#"$root/usr/"}/trovport.dll" "$driver"
start
stop
[ -L "$driver" ] && same_file "$driver" "$standin" || fail "a dangling link of ours was not refreshed"

# The user's own link is kept, even when it leads nowhere.
rm "$driver"
ln -s "$tmp/unplugged/trovport.dll" "$driver"
start
stop
[ "$(readlink "$driver")" = "$tmp/unplugged/trovport.dll" ] || fail "the user's own link was replaced"
grep -q "does not exist" "$tmp/program.log" || fail "no warning about the user's dangling link"

# Where the launcher cannot prepare the working folder, the user still gets
# a window that says so: a start from the menu shows no stderr. File
# permissions do not bind root, so as root these starts run as nobody.
as_user=()
user_runtime=$tmp/runtime
if [ "$(id -u)" = 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod 755 "$tmp"
  user_runtime="$tmp/runtime of nobody"
  mkdir -m 700 "$user_runtime"
  chown 65534:65534 "$user_runtime"
fi

# Starts the launcher with HOME and waits for its error box, which must
# belong to this start and name FOLDER, WHAT went wrong and the system's
# reason; then ends it.
refused_with_a_box() { # HOME FOLDER WHAT
  local user_home=$1 folder=$2 what=$3 id= shot=$tmp/box.png
  "${as_user[@]}" env -i "HOME=$user_home" PATH=/usr/bin:/bin "DISPLAY=$display" LANG=C.UTF-8 \
    "XDG_CONFIG_HOME=$tmp/config" "XDG_RUNTIME_DIR=$user_runtime" QT_QPA_PLATFORM=xcb \
    "$launcher" >"$tmp/program.log" 2>&1 &
  pid=$!
  # The box must belong to this start (the box of an earlier one may not
  # have left the screen yet): the launcher has become the box's program.
  local deadline=$((SECONDS + 60)) box_pid=
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$pid" 2>/dev/null || fail "the launcher ended without a window: $(cat "$tmp/program.log")"
    id=$(DISPLAY=$display xwininfo -name Error 2>/dev/null | awk '/Window id:/ {print $4}') || id=
    if [ -n "$id" ]; then
      box_pid=$(DISPLAY=$display xprop -id "$id" _NET_WM_PID 2>/dev/null | awk '{print $3}') || box_pid=
      [ "$box_pid" = "$pid" ] && break
    fi
    sleep 0.2
  done
  [ -n "$id" ] && [ "$box_pid" = "$pid" ] || fail "no error box for $what: $(cat "$tmp/program.log")"
  [ "$(readlink "/proc/$pid/exe")" = "$private/start-error" ] || fail "the box is not the launcher's"

  # What the box says: the one argument the launcher gave it.
  local text
  text=$(tr '\0' '\n' <"/proc/$pid/cmdline" | tail -n +2)
  for part in "5926 Data Collect cannot start" "$folder" "$what"; do
    grep -qF -- "$part" <<<"$text" || fail "the box does not say \"$part\": $text"
  done
  grep -qE '\((Permission denied|Read-only file system)\)' <<<"$text" || fail "the box gives no reason: $text"
  grep -qF -- "$what" "$tmp/program.log" || fail "nothing on stderr about $what"

  # ...and shows it: a box wide enough for the text, with the text drawn.
  local dark=0
  for _ in $(seq 20); do
    if DISPLAY=$display timeout 20 import -window "$id" "$shot" 2>/dev/null; then
      dark=$(convert "$shot" -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:)
      [ "$dark" -ge 2000 ] && break
    fi
    sleep 0.2
  done
  [ "$(identify -format %w "$shot")" -ge 300 ] && [ "$dark" -ge 2000 ] ||
    fail "the box for $what shows no text ($(identify -format %wx%h "$shot"), $dark dark pixels)"
  echo "error box: $what ($(identify -format %wx%h "$shot"), $dark dark pixels)"
  stop
}

# A home folder that cannot be written: no working folder.
locked_home="$tmp/read-only home"
mkdir -m 555 "$locked_home"
refused_with_a_box "$locked_home" "$locked_home/.local/share/trova-5926" "cannot be made"
[ ! -e "$locked_home/.local" ] || fail "something was made in the read-only home"

# A working folder that cannot be written: no link to the driver.
locked_home="$tmp/home with a read-only working folder"
locked_work=$locked_home/.local/share/trova-5926
mkdir -p "$locked_work"
chmod 555 "$locked_work"
refused_with_a_box "$locked_home" "$locked_work" "does not take the link to the meter driver"

# ...nor can a link of ours into a copy that has gone be renewed there.
chmod 755 "$locked_work"
ln -s "/gone/${private#"$root/usr/"}/trovport.dll" "$locked_work/trovport.dll"
chmod 555 "$locked_work"
refused_with_a_box "$locked_home" "$locked_work" "does not take the link to the meter driver"
chmod 755 "$locked_work"

echo "launcher: all checks passed"
