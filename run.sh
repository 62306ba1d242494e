#!/usr/bin/env bash
# Installs what the program needs, builds it, and starts it in run/ on the
# simulated meter of the stand-in driver. Without a display it runs the
# program under Xvfb and saves a screenshot of the main window instead.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
bin=$top/build/bin
work=$top/run
mkdir -p "$work"
cp -f "$bin/trovport.dll" "$work/trovport.dll"
cd "$work"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$bin/Dsg5926"
fi
echo "No display found: running 5926 Data Collect under Xvfb for a few seconds."
shot=$work/main-window.png
# The screenshot run keeps its settings in run/config, stored already, so the
# first-run Setup dialog does not stand in front of the main window.
export XDG_CONFIG_HOME=$work/config
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
fi
if [ ! -f "$XDG_CONFIG_HOME/Trova/5926.conf" ]; then
  mkdir -p "$XDG_CONFIG_HOME/Trova"
  printf '[Device]\nPort=1\nSpeed=4800\nRT=1\n' > "$XDG_CONFIG_HOME/Trova/5926.conf"
fi
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  "$1" & pid=$!
  sleep 5
  import -window root "$2"
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
' _ "$bin/Dsg5926" "$shot"
echo "Screenshot of the main window saved to $shot"
