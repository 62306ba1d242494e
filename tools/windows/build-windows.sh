#!/usr/bin/env bash
# Cross-builds the whole tree for 32-bit Windows: the cross toolchain and
# Wine, Qt for Windows (built once into the cache, 35+ minutes the first
# time), then the program, the stand-ins and the tests into build-win/ with
# the DLLs they need beside them in build-win/bin.
#   tools/windows/build-windows.sh            DSG_WIN_BUILD_DIR=<dir> to build elsewhere
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${DSG_WIN_BUILD_DIR:-$repo/build-win}"

"$here/install-toolchain.sh"
"$here/build-qt.sh" >/dev/null
qt="$("$here/build-qt.sh" --print-prefix)"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
"$qt/bin/qt-cmake" -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDSG_BENCH=OFF -DDSG_WITH_CALC=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
