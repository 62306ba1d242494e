#!/usr/bin/env bash
# The Windows side in one command: the cross toolchain and Wine, Qt for
# Windows (cached), the whole tree cross-built into build-win/, and every
# Windows test run by CTest under Wine, headless, in a private Wine prefix.
#   tools/windows/test-windows.sh [ctest arguments...]
#   DSG_WIN_BUILD_DIR=<dir> tools/windows/test-windows.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${DSG_WIN_BUILD_DIR:-$repo/build-win}"

"$here/install-toolchain.sh"
# The driver alone first: it needs no Qt and says early whether Wine works.
"$here/build-trovport.sh"
DSG_WIN_BUILD_DIR="$build" "$here/build-windows.sh"

# One private Wine prefix for the whole run, made once and gone afterwards.
DSG_WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/dsg-wine.XXXXXX")"
export DSG_WINEPREFIX
cleanup() {
  WINEPREFIX="$DSG_WINEPREFIX" timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$DSG_WINEPREFIX"
}
trap cleanup EXIT
"$here/wine-prefix.sh" "$DSG_WINEPREFIX"

cd "$build"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 "$@"
