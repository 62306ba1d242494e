#!/usr/bin/env bash
# The Windows program driven under Wine as a user drives it: keys and clicks
# on a private X display, screenshots, the registry, the files it writes.
#
#   user_test.sh [--part main|excel] <Windows bin dir> [<Linux bin dir>]
#
# The Windows bin dir holds Dsg5926.exe, its DLLs, platforms/qwindows.dll,
# the stand-in driver trovport.dll and, when built, the stand-in spreadsheet
# Excel.exe. From it the test lays out an installed copy (the program and
# its DLLs in one folder, the driver in a separate working folder, as a user
# has them) and runs it in a Wine prefix and an Xvfb display of its own.
#
# --part main (default): first-run Setup, recording, text export, About box,
#   Exit, the missing driver, and the main window's layout against the Linux
#   build's (when a Linux bin dir with Dsg5926 is given).
# --part excel: the Excel export into the stand-in over DDEML, and its
#   faults. Without Excel.exe it exits 77 (skipped).
#
# Needs: wine (32-bit), Xvfb, xdotool, xwininfo, ImageMagick, xclip,
# python3; openbox for the Linux comparison.
set -uo pipefail

part=main
if [ "${1:-}" = "--part" ]; then
  part="${2:?--part main|excel}"
  shift 2
fi
bin="$(cd "${1:?usage: user_test.sh [--part main|excel] <Windows bin dir> [<Linux bin dir>]}" && pwd)"
linux_bin="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
screen="python3 $here/screen.py"

failures=0
pass() { echo "PASS: $*"; }
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
  # What the screen showed, for a run kept with DSG_KEEP_USER_TEST=1.
  [ -n "${DISPLAY:-}" ] && [ -d "${out:-}" ] && import -window root "$out/failure-$failures.png" 2>/dev/null
}
skip() { echo "SKIP: $*"; }
note() { echo "  .. $*"; }

for tool in wine xdotool xwininfo Xvfb convert import xclip python3; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
[ -f "$bin/Dsg5926.exe" ] || { echo "FAIL: no Dsg5926.exe in $bin"; exit 1; }
if [ "$part" = excel ] && [ ! -f "$bin/Excel.exe" ]; then
  echo "SKIP: skipped: no Excel.exe in $bin (the stand-in spreadsheet for Windows is not built)"
  exit 77
fi

T="$(mktemp -d "${TMPDIR:-/tmp}/dsg-user.XXXXXX")"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  [ -d "$T/prefix" ] && WINEPREFIX="$T/prefix" timeout 20 wineserver -k >/dev/null 2>&1
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  if [ -n "${DSG_KEEP_USER_TEST:-}" ]; then echo "kept $T"; else rm -rf "$T"; fi
}
trap cleanup EXIT

# ---------------------------------------------------------------- helpers

# start_xvfb NAME: an X server on a free display; sets XVFB_DISPLAY to its
# number.
start_xvfb() {
  local file="$T/xvfb-$1" n
  : >"$file"
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$file" >"$T/xvfb-$1.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    n="$(tr -dc 0-9 <"$file")"
    [ -n "$n" ] && { XVFB_DISPLAY="$n"; return 0; }
    sleep 0.1
  done
  return 1
}

# wait_window REGEX SECONDS: the id of the visible window whose title
# matches, once there.
wait_window() {
  local end=$((SECONDS + $2)) w
  while [ $SECONDS -le $end ]; do
    w="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1)"
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  return 1
}

# wait_no_window REGEX SECONDS
wait_no_window() {
  local end=$((SECONDS + $2))
  while [ $SECONDS -le $end ]; do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}

# wait_exit PID SECONDS: true when the process is gone in time.
wait_exit() {
  local end=$((SECONDS + $2))
  while [ $SECONDS -le $end ]; do
    kill -0 "$1" 2>/dev/null || { wait "$1" 2>/dev/null; return 0; }
    sleep 0.1
  done
  return 1
}

# wait_file PATH SECONDS: true once the file exists and has stopped growing.
wait_file() {
  local end=$((SECONDS + $2)) size=-1 now
  while [ $SECONDS -le $end ]; do
    if [ -f "$1" ]; then
      now="$(stat -c %s "$1")"
      [ "$now" = "$size" ] && [ "$now" -gt 0 ] && return 0
      size="$now"
    fi
    sleep 0.3
  done
  return 1
}

# wait_grep PATTERN FILE SECONDS
wait_grep() {
  local end=$((SECONDS + $3))
  while [ $SECONDS -le $end ]; do
    grep -q -- "$1" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# geometry ID: sets X Y W H, the outer rectangle on the screen (Wine's
# frame included).
geometry() {
  eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/{print "X="$4} /Absolute upper-left Y/{print "Y="$4}
                                   /^ *Width:/{print "W="$2} /^ *Height:/{print "H="$2}')"
}

# client ID CW CH: sets CX CY, the screen position of the client area of a
# window whose client area is CW x CH. Wine frames a fixed-size window with
# equal borders left, right and below, and puts the caption (and, for the
# main window, Qt's menu bar) above the client area.
client() {
  geometry "$1"
  local b=$(((W - $2) / 2))
  CX=$((X + b))
  CY=$((Y + H - b - $3))
}

# click ID CW CH X Y: a left click at client position X,Y.
click() {
  client "$1" "$2" "$3"
  xdotool mousemove $((CX + $4)) $((CY + $5)) click 1
}

# focus ID: a click on the window's caption, which gives it the keyboard.
focus() {
  geometry "$1"
  xdotool mousemove $((X + 40)) $((Y + 8)) click 1
}

# grab_window ID FILE.ppm: the whole window.
grab_window() {
  geometry "$1"
  import -window root -crop "${W}x$H+$X+$Y" +repage -depth 8 "$2"
}

# grab_client ID FILE.ppm CW CH: the client area of a window.
grab_client() {
  client "$1" "$3" "$4"
  import -window root -crop "$3x$4+$CX+$CY" +repage -depth 8 "$2"
}

# The text of the focused Qt message box, through the clipboard (Ctrl+C in
# a message box copies its title, text and buttons).
message_box_text() {
  xdotool key ctrl+c
  local end=$((SECONDS + 5)) text=
  while [ $SECONDS -le $end ]; do
    text="$(timeout 3 xclip -selection clipboard -o 2>/dev/null)"
    [ -n "$text" ] && break
    sleep 0.2
  done
  printf '%s' "$text"
}

# ------------------------------------------------------------ the layout

inst="$T/inst" work="$T/work" empty="$T/empty" out="$T/out"
mkdir -p "$inst/platforms" "$work" "$empty" "$out"
cp "$bin/Dsg5926.exe" "$inst/"
for dll in "$bin"/*.dll; do
  case "$(basename "$dll")" in trovport*) ;; *) cp "$dll" "$inst/" ;; esac
done
cp "$bin/platforms/qwindows.dll" "$inst/platforms/"
[ -f "$bin/Excel.exe" ] && cp "$bin/Excel.exe" "$inst/"
cp "$bin/trovport.dll" "$work/"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

start_xvfb win || { echo "FAIL: Xvfb did not start"; exit 1; }
display=$XVFB_DISPLAY
export DISPLAY=":$display"
export WINEPREFIX="$T/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "Wine prefix and display :$display ready in ..."
start=$SECONDS
"$repo/tools/windows/wine-prefix.sh" "$WINEPREFIX" || { echo "FAIL: no Wine prefix"; exit 1; }
echo "  $((SECONDS - start)) s"

# start_program FOLDER: the program with FOLDER as its working folder; sets
# PROG to its process id.
start_program() {
  (cd "$1" && exec wine "$inst/Dsg5926.exe" >>"$T/program.log" 2>&1) &
  PROG=$!
  pids+=("$PROG")
}

main_window=
# main_window_up: waits for the main window (the prefix already holds the
# settings, so no Setup dialog comes first).
main_window_up() {
  main_window="$(wait_window '^5926 Data Collect$' 30)"
}

# The export text file's lines as the list holds them; checks its form.
check_text_export() {
  local file="$1" rows
  python3 - "$file" <<'EOF'
import re, sys
data = open(sys.argv[1], 'rb').read()
problems = []
header = b'time,ppt,Compensated Conductivity,UnCompensated Conductivity,Temp\r\n'
if not data.startswith(header):
    problems.append('header line is %r' % data.split(b'\n')[0])
if not data.endswith(b'\r\n'):
    problems.append('last line does not end with CR LF')
lines = data.split(b'\r\n')[:-1]
if any(b'\n' in l or b'\r' in l for l in lines):
    problems.append('a line ends other than with CR LF')
rows = lines[1:]
time_re = re.compile(rb'^(\d{1,2}):(\d\d):(\d\d)( [AP]M)?$')
seconds = []
for n, row in enumerate(rows, 2):
    f = row.split(b',')
    if len(f) != 5:
        problems.append('line %d has %d fields: %r' % (n, len(f), row))
        continue
    m = time_re.match(f[0])
    if not m:
        problems.append('line %d: time %r' % (n, f[0]))
    else:
        h = int(m.group(1)) % 12 if m.group(4) else int(m.group(1))
        if m.group(4) == b' PM':
            h += 12
        seconds.append(h * 3600 + int(m.group(2)) * 60 + int(m.group(3)))
    for name, text, pattern in (('ppt', f[1], rb'^\d+\.\d$'), ('Comp_con', f[2], rb'^\d+\.\d{6}$'),
                                ('UnComp_con', f[3], rb'^\d+\.\d{6}$'), ('Temp', f[4], rb'^-?\d+\.\d$')):
        if not re.match(pattern, text):
            problems.append('line %d: %s %r' % (n, name, text))
steps = [(b - a) % 86400 for a, b in zip(seconds, seconds[1:])]
if any(s not in (0, 1, 2) for s in steps) or (steps and not 0.5 <= sum(steps) / len(steps) <= 1.5):
    problems.append('readings are not one second apart: %r' % steps)
for p in problems:
    print('  ' + p)
print('rows=%d' % len(rows))
sys.exit(1 if problems else 0)
EOF
}

# ================================================================ part main
run_main() {
  # ---- first run: the Setup dialog before the main window
  start_program "$work"
  local setup
  if setup="$(wait_window '^System Setup$' 40)"; then
    if xdotool search --onlyvisible --name '^5926 Data Collect$' >/dev/null 2>&1; then
      fail "first run: the main window is up before System Setup is answered"
    else
      pass "first run: System Setup comes first"
    fi
    xdotool key Return
  else
    fail "first run: no System Setup window within 40 s"
  fi
  main_window_up || { fail "no main window '5926 Data Collect' within 30 s"; return; }
  pass "main window '5926 Data Collect' is up"
  local reg
  reg="$(timeout 30 wine reg query 'HKCU\Software\Trova\5926\Device' 2>/dev/null | tr -d '\r')"
  if grep -Eq '^ +Port +REG_SZ +1$' <<<"$reg" && grep -Eq '^ +Speed +REG_SZ +4800$' <<<"$reg" \
     && grep -Eq '^ +RT +REG_SZ +1$' <<<"$reg"; then
    pass "Setup accepted: Port 1, Speed 4800, RT 1 in HKCU\\Software\\Trova\\5926\\Device"
  else
    fail "registry after Setup: $reg"
  fi

  # ---- the main window: centred, its controls where they belong
  geometry "$main_window"
  local dx=$((X + W / 2 - 640)) dy=$((Y + H / 2 - 512))
  if [ ${dx#-} -le 2 ] && [ ${dy#-} -le 2 ]; then pass "main window centred ($X,$Y ${W}x$H)"
  else fail "main window not centred: $X,$Y ${W}x$H on 1280x1024"; fi
  [ $((W - 505)) -ge 0 ] && [ $(((W - 505) % 2)) -eq 0 ] && [ $((W - 505)) -le 16 ] \
    || fail "main window is $W wide: no 505-pixel client area in a Wine frame"
  grab_client "$main_window" "$out/win-client.ppm" 505 437
  $screen rects "$out/win-client.ppm" >"$out/win-rects.txt"
  local expected="button1 268 36 73 57
button2 348 36 73 57
button3 428 36 73 57
button4 268 100 73 57
button5 348 100 73 57
button6 428 100 73 57"
  if [ "$(grep '^button' "$out/win-rects.txt")" = "$expected" ]; then
    pass "the six buttons at their places, 73x57, in a 505x437 client area"
  else
    fail "buttons found in the client area: $(grep '^button' "$out/win-rects.txt" | tr '\n' ';')"
  fi
  [ "$(grep -c '^lcd' "$out/win-rects.txt")" = 4 ] || fail "LCD displays found: $(grep '^lcd' "$out/win-rects.txt" | tr '\n' ';')"

  # ---- a recording of about three seconds
  click "$main_window" 505 437 304 64    # Start
  sleep 3.2
  click "$main_window" 505 437 384 64    # STOP
  sleep 0.3

  # ---- the text export, through the Export button and the export choice
  local select save file="$out/readings.txt"
  click "$main_window" 505 437 464 64    # Export
  if select="$(wait_window '^Select$' 10)"; then
    click "$select" 276 123 91 108       # &Output, "Text File with ','" being checked
    if save="$(wait_window '^输出文件名$' 10)"; then
      sleep 0.5
      xdotool key ctrl+a
      xdotool type --delay 20 "$(winpath "$file")"
      xdotool key Return
      if wait_file "$file" 10; then
        local result
        if result="$(check_text_export "$file")"; then
          local rows="${result##*rows=}"
          if [ "$rows" -ge 3 ] && [ "$rows" -le 5 ]; then
            pass "text export: header, CR LF, $rows readings of five fields one second apart"
          else
            fail "text export after a 3-second recording holds $rows readings"
          fi
        else
          fail "text export: $result"
        fi
        wait_no_window '^输出文件名$' 5 || fail "the save dialog stays open after Return"
      else
        fail "text export: no file $file within 10 s"
      fi
    else
      fail "no save dialog '输出文件名' after Output"
    fi
  else
    fail "no export choice dialog 'Select' after Export"
  fi

  # ---- the About box: opens from Help, scrolls, closes
  click "$main_window" 505 437 300 180   # an empty spot, for the keyboard focus
  xdotool key alt+h
  sleep 0.3
  xdotool key a
  local about
  if about="$(wait_window '^About Trova Modal 5926$' 10)"; then
    grab_client "$about" "$out/about1.ppm" 269 140
    sleep 1
    grab_client "$about" "$out/about2.ppm" 269 140
    if [ "$($screen differ "$out/about1.ppm" "$out/about2.ppm")" -gt 0 ]; then
      pass "About box open, its credits moving"
    else
      fail "About box open, but its credits stand still"
    fi
    xdotool key Return                    # &Ok
    if wait_no_window '^About Trova Modal 5926$' 5; then pass "About box closes with Ok"
    else fail "About box still open 5 s after Ok"; fi
  else
    fail "no About box within 10 s of Help > About"
  fi

  # ---- Exit ends the program
  click "$main_window" 505 437 464 128   # Exit
  if wait_exit "$PROG" 5; then pass "Exit ends the program"
  else fail "the program still runs 5 s after Exit"; kill "$PROG" 2>/dev/null; fi

  # ---- without the driver: the Chinese message, then the end
  start_program "$empty"
  local box
  if box="$(wait_window '^Error$' 30)"; then
    sleep 0.3
    local text
    text="$(message_box_text)"
    if grep -qxF "系统驱动程序'trovport.dll'无法找到!" <<<"$text" && grep -qx 'Error' <<<"$text" \
       && grep -qE '^OK *$' <<<"$text"; then
      pass "missing trovport.dll: 'Error' box with the driver message and OK"
    else
      fail "missing trovport.dll: the box reads: $text"
    fi
    grab_window "$box" "$out/error-box.ppm"
    [ "$($screen red "$out/error-box.ppm")" -ge 30 ] || fail "missing trovport.dll: no error icon in the box"
    if xdotool search --onlyvisible --name '^5926 Data Collect$' >/dev/null 2>&1; then
      fail "missing trovport.dll: a main window came up"
    fi
    xdotool key Return
    if wait_exit "$PROG" 5; then pass "missing trovport.dll: the program ends after OK"
    else fail "missing trovport.dll: the program still runs 5 s after OK"; kill "$PROG" 2>/dev/null; fi
  else
    fail "missing trovport.dll: no 'Error' box within 30 s"
    kill "$PROG" 2>/dev/null
  fi

  compare_with_linux
}

# The main window of the Linux build under Xvfb and openbox: its control
# rectangles against the Windows build's, relative to the client area.
compare_with_linux() {
  if [ -z "$linux_bin" ] || [ ! -x "$linux_bin/Dsg5926" ] || [ ! -f "$linux_bin/trovport.dll" ]; then
    skip "layout against the Linux build: no Linux Dsg5926 and trovport.dll given (${linux_bin:-none})"
    return
  fi
  command -v openbox >/dev/null || { skip "layout against the Linux build: openbox is not installed"; return; }
  [ -s "$out/win-rects.txt" ] || { fail "layout against the Linux build: no Windows screenshot"; return; }
  local d
  start_xvfb linux || { fail "second Xvfb did not start"; return; }
  d=$XVFB_DISPLAY
  mkdir -p "$T/linux/work" "$T/linux/config" "$T/linux/runtime"
  chmod 700 "$T/linux/runtime"
  cp "$linux_bin/trovport.dll" "$T/linux/work/"
  # Settings in place: the Setup dialog does not come first.
  mkdir -p "$T/linux/config/Trova"
  printf '[Device]\nPort=1\nRT=1\nSpeed=4800\n' >"$T/linux/config/Trova/5926.conf"
  DISPLAY=":$d" openbox >"$T/openbox.log" 2>&1 &
  pids+=($!)
  # The window manager first, as a desktop session has it: a window mapped
  # while openbox is still taking over the screen can stay unmapped.
  local wm_end=$((SECONDS + 15))
  until DISPLAY=":$d" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    [ $SECONDS -le $wm_end ] || { fail "Linux build: openbox did not start on :$d"; return; }
    sleep 0.1
  done
  (cd "$T/linux/work" && DISPLAY=":$d" XDG_CONFIG_HOME="$T/linux/config" XDG_RUNTIME_DIR="$T/linux/runtime" \
     QT_QPA_PLATFORM=xcb exec "$linux_bin/Dsg5926" >"$T/linux.log" 2>&1) &
  local lprog=$!
  pids+=("$lprog")
  local w
  if ! w="$(DISPLAY=":$d" wait_window '^5926 Data Collect$' 20)"; then
    fail "Linux build: no main window on :$d; its windows: $(DISPLAY=":$d" xdotool search --name . 2>/dev/null \
          | while read -r id; do DISPLAY=":$d" xdotool getwindowname "$id"; done | tr '\n' ';'); log: $(head -c 300 "$T/linux.log")"
    kill "$lprog" 2>/dev/null
    return
  fi
  sleep 0.5
  # Qt's X window is the client area with the menu bar above it.
  DISPLAY=":$d" geometry "$w"
  DISPLAY=":$d" import -window root -crop "505x437+$X+$((Y + H - 437))" +repage -depth 8 "$out/linux-client.ppm"
  kill "$lprog" 2>/dev/null
  [ "$W" = 505 ] || fail "Linux build: main window client is $W wide"
  $screen rects "$out/linux-client.ppm" >"$out/linux-rects.txt"
  local report
  if report="$(python3 - "$out/win-rects.txt" "$out/linux-rects.txt" <<'EOF'
import sys
def load(p):
    return {l.split()[0]: tuple(map(int, l.split()[1:])) for l in open(p) if l.strip()}
win, lin = load(sys.argv[1]), load(sys.argv[2])
bad = []
if sorted(win) != sorted(lin) or len(win) != 10:
    bad.append('controls found: Windows %s, Linux %s' % (sorted(win), sorted(lin)))
for name in sorted(set(win) & set(lin)):
    if any(abs(a - b) > 2 for a, b in zip(win[name], lin[name])):
        bad.append('%s: Windows %s, Linux %s' % (name, win[name], lin[name]))
print('; '.join(bad))
sys.exit(1 if bad else 0)
EOF
)"; then
    pass "layout: 4 LCD displays and 6 buttons within 2 px of the Linux build's"
  else
    fail "layout against the Linux build: $report"
  fi
}

# =============================================================== part excel
excel_log="$out/excel.log"
excel_pid=
# start_excel ARGS...: the stand-in, windowed, logging what it receives.
start_excel() {
  rm -f "$excel_log"
  (cd "$work" && exec wine "$inst/Excel.exe" --grid --log "$(winpath "$excel_log")" "$@" \
     >>"$T/excel.out" 2>&1) &
  excel_pid=$!
  pids+=("$excel_pid")
  wait_window '^Excel - Book1$' 30 >/dev/null
}

# record SECONDS: a recording of that length in a program already up.
record() {
  click "$main_window" 505 437 304 64
  sleep "$1"
  click "$main_window" 505 437 384 64
  sleep 0.3
}

# The text export through the menu, into FILE.
export_text_via_menu() {
  click "$main_window" 505 437 300 180
  xdotool key alt+d
  sleep 0.3
  xdotool key t
  wait_window '^输出文件名$' 10 >/dev/null || return 1
  sleep 0.5
  xdotool key ctrl+a
  xdotool type --delay 20 "$(winpath "$1")"
  xdotool key Return
  wait_file "$1" 10
}

excel_export_via_menu() {
  click "$main_window" 505 437 300 180
  xdotool key alt+d
  sleep 0.3
  xdotool key e
}

run_excel() {
  # Settings in place, so no Setup dialog stands in front.
  timeout 30 wine reg add 'HKCU\Software\Trova\5926\Device' /v Port /d 1 /f >/dev/null 2>&1
  timeout 30 wine reg add 'HKCU\Software\Trova\5926\Device' /v Speed /d 4800 /f >/dev/null 2>&1
  timeout 30 wine reg add 'HKCU\Software\Trova\5926\Device' /v RT /d 1 /f >/dev/null 2>&1

  # ---- every cell of an export, as sent and as it lands in the sheet
  local sheet="$out/sheet.csv" texts="$out/list.txt"
  start_excel --dump-on-exit "$(winpath "$sheet")" || { fail "Excel.exe: no window 'Excel - Book1'"; return; }
  start_program "$work"
  main_window_up || { fail "no main window"; return; }
  record 2.2
  export_text_via_menu "$texts" || fail "the text export for the reference list did not land"
  excel_export_via_menu
  local rows=$(($(wc -l <"$texts") - 1)) cells
  cells=$((6 + 5 * rows))
  local end=$((SECONDS + 20))
  while [ $SECONDS -le $end ] && [ "$(grep -c 'FORMULA' "$excel_log" 2>/dev/null)" -lt "$cells" ]; do sleep 0.2; done
  # Closing its window ends the stand-in, which then saves its sheet.
  local ew
  if ew="$(wait_window '^Excel - Book1$' 2)"; then
    focus "$ew"
    xdotool key alt+F4
  fi
  wait_exit "$excel_pid" 10 || { fail "Excel.exe did not end on Alt+F4"; kill "$excel_pid" 2>/dev/null; }
  wait_file "$sheet" 5
  local report
  if report="$(python3 - "$texts" "$excel_log" "$sheet" <<'EOF'
import csv, re, sys
texts, log, sheet = sys.argv[1:]
rows = [l.split(',') for l in open(texts, encoding='latin-1', newline='').read().split('\r\n')[1:-1]]
table = [['These data are import from Pemdat.exe (5926)'],
         ['Time', 'ppt', 'Compensated Conductivity', 'UnCompensated Conductivity', 'Temp']] + rows
expected = ['[FORMULA("%s", "R%dC%d")]' % (t.replace('"', '""'), r, c)
            for r, line in enumerate(table, 1) for c, t in enumerate(line, 1)]
sent = [l.split(' ', 2)[2].rstrip('\n') for l in open(log, encoding='utf-8') if l.startswith('execute ') and 'FORMULA' in l]
bad = []
if sent != expected:
    bad.append('commands sent differ: %d sent, %d expected; first difference %r' % (
        len(sent), len(expected), next(((a, b) for a, b in zip(sent, expected) if a != b), None)))
got = list(csv.reader(open(sheet, encoding='utf-8')))
def seconds(t):
    m = re.match(r'^(\d{1,2}):(\d\d):(\d\d)(?: ([AP]M))?$', t)
    if not m:
        return None
    h = int(m.group(1))
    if m.group(4):
        h = h % 12 + (12 if m.group(4) == 'PM' else 0)
    return h * 3600 + int(m.group(2)) * 60 + int(m.group(3))
def same(want, cell):
    if want == cell:
        return True
    if seconds(want) is not None:
        return seconds(want) == seconds(cell)
    try:
        return float(want) == float(cell)
    except ValueError:
        return False
for r, line in enumerate(table):
    for c, want in enumerate(line):
        cell = got[r][c] if r < len(got) and c < len(got[r]) else None
        if cell is None or not same(want, cell):
            bad.append('R%dC%d holds %r, not %r' % (r + 1, c + 1, cell, want))
if len(got) != len(table):
    bad.append('the sheet has %d rows, not %d' % (len(got), len(table)))
print('; '.join(bad[:5]))
sys.exit(1 if bad else 0)
EOF
)"; then
    pass "Excel export: all $cells cells sent in order and in the stand-in's sheet"
  else
    fail "Excel export: $report"
  fi

  click "$main_window" 505 437 464 128   # Exit
  wait_exit "$PROG" 5 || { fail "the program still runs 5 s after Exit"; kill "$PROG" 2>/dev/null; }

  # ---- the stand-in killed in the middle of an export
  # Each run starts the stand-in first, so the main window opens over its
  # window and the clicks meant for it land on it.
  # The export hands its cells over without waiting, except for Excel's
  # "Ready" before every 128th: 27 readings (6 + 5 x 27 cells) take it past
  # that wait, which a slow stand-in makes long enough to be killed in.
  start_excel --delay-ms 300 || { fail "Excel.exe (slow): no window"; return; }
  start_program "$work"
  main_window_up || { fail "no main window"; return; }
  record 26.5
  excel_export_via_menu
  local end=$((SECONDS + 20))
  while [ $SECONDS -le $end ] && [ "$(grep -c '^execute' "$excel_log" 2>/dev/null)" -lt 127 ]; do sleep 0.2; done
  if [ "$(grep -c '^execute' "$excel_log" 2>/dev/null)" -ge 127 ]; then
    sleep 0.5
    { kill -9 "$excel_pid"; wait "$excel_pid"; } 2>/dev/null
    local report_box
    if report_box="$(wait_window '^Dsg5926$' 10)"; then
      sleep 0.3
      local text
      text="$(message_box_text)"
      if [ -n "$(sed -n 4p <<<"$text")" ]; then pass "stand-in killed during an export: the error report: $(sed -n 4p <<<"$text")"
      else fail "stand-in killed during an export: an empty error report"; fi
      xdotool key Return
      kill -0 "$PROG" 2>/dev/null || fail "the program ended after the error report"
    else
      fail "stand-in killed during an export: no error report within 10 s"
    fi
  else
    fail "the slow stand-in received $(grep -c '^execute' "$excel_log" 2>/dev/null) commands, not 127, within 20 s"
  fi
  { kill -9 "$excel_pid"; wait "$excel_pid"; } 2>/dev/null
  click "$main_window" 505 437 464 128   # Exit
  wait_exit "$PROG" 5 || { fail "the program still runs 5 s after Exit"; kill "$PROG" 2>/dev/null; }

  # ---- the main window closed while the export waits for the stand-in
  start_excel --mute || { fail "Excel.exe (mute): no window"; return; }
  start_program "$work"
  main_window_up || { fail "no main window"; return; }
  excel_export_via_menu
  if wait_grep 'request' "$excel_log" 15; then
    local t0=$SECONDS
    click "$main_window" 505 437 300 180
    xdotool key alt+F4
    if wait_exit "$PROG" 2; then pass "main window closed during an Excel wait: the program ends within 2 s"
    else fail "main window closed during an Excel wait: the program still runs after 2 s"; kill "$PROG" 2>/dev/null; fi
  else
    fail "the mute stand-in was asked nothing within 15 s"
    kill "$PROG" 2>/dev/null
  fi
  kill "$excel_pid" 2>/dev/null
}

case "$part" in
  main) run_main ;;
  excel) run_excel ;;
  *) echo "unknown part $part"; exit 2 ;;
esac

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
