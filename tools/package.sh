#!/usr/bin/env bash
# Builds the Debian package of the program (trova-5926_<version>_<arch>.deb)
# in a build folder of its own, build-package/ (or $DSG_PACKAGE_BUILD_DIR),
# and prints its path. Extra arguments go to CMake's configure step. The
# package is reproducible: its file times are SOURCE_DATE_EPOCH, by default
# the time of the last commit (tools/source-date-epoch.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${DSG_PACKAGE_BUILD_DIR:-$top/build-package}
"$top/tools/install-deps.sh"
# The same sources give the same package: file times from the last commit.
SOURCE_DATE_EPOCH=$("$top/tools/source-date-epoch.sh")
export SOURCE_DATE_EPOCH
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDSG_BENCH=OFF "$@" >/dev/null
# Only what goes into the package; the tests stay unbuilt.
cmake --build "$build" -j"$(nproc)" --target Dsg5926 Excel trovport start-error packaging_files
rm -rf "$build/package"
(cd "$build" && cpack -G DEB -B "$build/package" >/dev/null)
ls "$build"/package/*.deb
