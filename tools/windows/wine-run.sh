#!/usr/bin/env bash
# Runs one 32-bit Windows program under Wine, as CTest's emulator or by hand:
#   tools/windows/wine-run.sh prog.exe [args...]
#   tools/windows/wine-run.sh --qtest test.exe [args...]   a Qt Test program
# The Wine prefix is private: $DSG_WINEPREFIX when set (a caller running many
# programs boots it once), else a temporary one removed afterwards. Programs
# that need a display get a headless one from the caller (xvfb-run).
set -euo pipefail

export WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts while a prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine keeps the host's QT_* variables from Windows programs (they are
# meant for the host's Qt). The tests take their platform from this one:
# Qt's own Windows platform, whose fonts are Wine's, on the caller's X
# display (xvfb-run).
export DSG_QPA_PLATFORM="${DSG_QPA_PLATFORM:-windows}"
# Qt Test's results written to a piped stdout are lost under Wine, while a
# log file works: a Qt Test program logs into one, printed afterwards.
qtest_log=
if [ "${1:-}" = "--qtest" ]; then
  shift
  qtest_log="$(mktemp "${TMPDIR:-/tmp}/dsg-qtest.XXXXXX")"
fi

own_prefix=
if [ -n "${DSG_WINEPREFIX:-}" ]; then
  export WINEPREFIX="$DSG_WINEPREFIX"
else
  own_prefix="$(mktemp -d "${TMPDIR:-/tmp}/dsg-wine.XXXXXX")"
  export WINEPREFIX="$own_prefix"
fi
cleanup() {
  [ -z "$qtest_log" ] || rm -f "$qtest_log"
  if [ -n "$own_prefix" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$own_prefix"
  fi
}
trap cleanup EXIT

# The first use of a prefix builds it (10-20 s); later runs skip this.
"$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX"

status=0
if [ -n "$qtest_log" ]; then
  prog="$1"; shift
  wine "$prog" -o "$qtest_log,txt" "$@" || status=$?
  cat "$qtest_log"
else
  wine "$@" || status=$?
fi
exit $status
