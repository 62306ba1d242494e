#!/usr/bin/env bash
# Builds the stand-in driver as a 32-bit Windows DLL with plain MinGW (no Qt
# needed) and checks it under Wine: ordinals, stdcall, the simulated and
# scripted meters, the port handle and CloseHandle.
#   tools/windows/build-trovport.sh          build into build-win-trovport/ and test
#   DSG_WIN_TROVPORT_BUILD_DIR=<dir> ...     build elsewhere
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${DSG_WIN_TROVPORT_BUILD_DIR:-$repo/build-win-trovport}"

"$here/install-toolchain.sh"

cmake -S "$here/trovport" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
cmake --build "$build" -j2

# One private Wine prefix for the whole run, gone afterwards.
DSG_WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/dsg-wine.XXXXXX")"
export DSG_WINEPREFIX
cleanup() {
  WINEPREFIX="$DSG_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$DSG_WINEPREFIX"
}
trap cleanup EXIT
(cd "$build" && ctest --output-on-failure)
