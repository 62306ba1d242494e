#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine on the simulated meter
# of the stand-in driver, as a user on Windows would: in its own working
# folder build-win/run/ (trovport.dll there), with a Wine prefix of its own
# (build-win/wine), so its settings and its registry stay between runs.
# Without a display it runs for a few seconds under Xvfb and saves a
# screenshot to build-win/run/main-window.png.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${DSG_WIN_BUILD_DIR:-$repo/build-win}"
DSG_WIN_BUILD_DIR="$build" "$here/build-windows.sh"

work="$build/run"
mkdir -p "$work"
cp -f "$build/bin/trovport.dll" "$work/trovport.dll"
export WINEPREFIX="$build/wine" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
"$here/wine-prefix.sh" "$WINEPREFIX"
# The program finds its DLLs beside itself; the stand-in spreadsheet is
# started from there too.
exe="$build/bin/Dsg5926.exe"
cd "$work"
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$exe"
fi
echo "No display found: running 5926 Data Collect under Wine and Xvfb for a few seconds."
shot="$work/main-window.png"
# The screenshot run stores its settings first, so the first-run Setup
# dialog does not stand in front of the main window.
wine reg add 'HKCU\Software\Trova\5926\Device' /v Port /d 1 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Trova\5926\Device' /v Speed /d 4800 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Trova\5926\Device' /v RT /d 1 /f >/dev/null 2>&1
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine "$1" & pid=$!
  sleep 10
  import -window root "$2"
  wineserver -k 2>/dev/null || true
  wait $pid 2>/dev/null || true
' _ "$exe" "$shot"
echo "Screenshot of the main window saved to $shot"
