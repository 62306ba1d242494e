#!/usr/bin/env bash
# Runs one 32-bit Windows program under Wine, as CTest's emulator or by hand:
#   tools/windows/wine-run.sh prog.exe [args...]
# The Wine prefix is private: $DSG_WINEPREFIX when set (a caller running many
# programs boots it once), else a temporary one removed afterwards. Programs
# that need a display get a headless one from the caller (xvfb-run).
set -euo pipefail

export WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts while a prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

own_prefix=
if [ -n "${DSG_WINEPREFIX:-}" ]; then
  export WINEPREFIX="$DSG_WINEPREFIX"
else
  own_prefix="$(mktemp -d "${TMPDIR:-/tmp}/dsg-wine.XXXXXX")"
  export WINEPREFIX="$own_prefix"
fi
cleanup() {
  if [ -n "$own_prefix" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$own_prefix"
  fi
}
trap cleanup EXIT

# The first use of a prefix builds it (10-20 s); later runs skip this.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 120 wineboot --init >/dev/null 2>&1
  timeout 60 wineserver -w
fi

status=0
wine "$@" || status=$?
exit $status
