#!/bin/sh
# Prints the time the package's file times are taken from (SOURCE_DATE_EPOCH,
# seconds since 1970), so that the same sources pack into the same bytes:
# the caller's SOURCE_DATE_EPOCH when it has one; else the time of the last
# commit; outside a git checkout (a source tarball), the release date of the
# packaging, the date its changelog carries.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd -P)

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  echo "$SOURCE_DATE_EPOCH"
  exit 0
fi
if command -v git >/dev/null 2>&1 &&
  [ "$(git -C "$top" rev-parse --show-toplevel 2>/dev/null)" = "$top" ] &&
  time=$(git -C "$top" log -1 --format=%ct 2>/dev/null) && [ -n "$time" ]; then
  echo "$time"
  exit 0
fi
date=$(sed -n 's/^set(DSG_RELEASE_DATE \([0-9-]*\))$/\1/p' "$top/packaging/CMakeLists.txt")
[ -n "$date" ] || { echo "$0: no release date in $top/packaging/CMakeLists.txt" >&2; exit 1; }
date -u -d "$date" +%s
