#!/usr/bin/env bash
# The package is reproducible: a second packing of the same build gives the
# same bytes, and every time in it (archive members, compressed streams, the
# files) is SOURCE_DATE_EPOCH, the time of the last commit by default.
#   reproducible_test.sh CPACK CONFIG DEB_DIR SOURCE_DIR
# DEB_DIR holds the first packing; the second is made here.
set -euo pipefail
cpack=$1 config=$2 first=$(echo "$3"/*.deb) src=$4
[ -f "$first" ] || { echo "no package in $3" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# Where the time comes from: the caller's SOURCE_DATE_EPOCH, the last commit,
# or outside a checkout the packaging's release date.
epoch_of() { "$1/tools/source-date-epoch.sh"; }
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  expected=$SOURCE_DATE_EPOCH
elif [ -e "$src/.git" ] && command -v git >/dev/null; then
  expected=$(git -C "$src" log -1 --format=%ct)
else
  expected=$(epoch_of "$src")
fi
[ "$(epoch_of "$src")" = "$expected" ] || fail "the time is $(epoch_of "$src"), not $expected"
[ "$(SOURCE_DATE_EPOCH=1234567890 epoch_of "$src")" = 1234567890 ] || fail "a SOURCE_DATE_EPOCH given is not kept"
tarball="$tmp/source tarball"
mkdir -p "$tarball/tools" "$tarball/packaging"
cp "$src/tools/source-date-epoch.sh" "$tarball/tools/"
cp "$src/packaging/CMakeLists.txt" "$tarball/packaging/"
release=$(sed -n 's/^set(DSG_RELEASE_DATE \([0-9-]*\))$/\1/p' "$src/packaging/CMakeLists.txt")
[ "$(env -u SOURCE_DATE_EPOCH "$tarball/tools/source-date-epoch.sh")" = "$(date -u -d "$release" +%s)" ] ||
  fail "outside a checkout the time is not the release date $release"

# The second packing, by cpack alone: the time comes from the package's own
# CPack configuration unless the caller gave one.
"$cpack" -G DEB --config "$config" -B "$tmp/second" >/dev/null
second=$(echo "$tmp"/second/*.deb)
cmp "$first" "$second" || fail "two packings of the same build differ"

# The times inside, so that two packings within one second cannot pass by
# chance.
# Members of an ar archive: 60-byte headers, the time at offset 16.
ar_times() {
  local f=$1 off=8 total header size
  total=$(stat -c %s "$f")
  while [ "$off" -lt "$total" ]; do
    header=$(head -c $((off + 60)) "$f" | tail -c 60)
    echo "${header:0:16} $((10#$(tr -d ' ' <<<"${header:16:12}")))"
    size=$((10#$(tr -d ' ' <<<"${header:48:10}")))
    off=$((off + 60 + size + size % 2))
  done
}
members=$(ar_times "$first") || fail "cannot read the members of $first"
[ "$(wc -l <<<"$members")" = 3 ] || fail "expected three archive members, found: $members"
while read -r member time; do
  [ "$time" = "$expected" ] || fail "archive member $member has the time $time, not $expected"
done <<<"$members"

mkdir "$tmp/members"
(cd "$tmp/members" && ar x "$first")
when=$(TZ=UTC date -d "@$expected" '+%F %T')
for archive in "$tmp"/members/*.tar.*; do
  name=${archive##*/}
  case $name in
    *.gz)
      # A gzip stream's own time (0 means none).
      gz=$(od -An -tu4 -j4 -N4 "$archive" | tr -d ' ')
      [ "$gz" = 0 ] || [ "$gz" = "$expected" ] || fail "$name carries the time $gz"
      ;;
  esac
  entries=$(TZ=UTC tar --full-time -tvaf "$archive" | wc -l)
  [ "$entries" -gt 0 ] || fail "$name is empty"
  others=$(TZ=UTC tar --full-time -tvaf "$archive" | grep -vF " $when " || true)
  [ -z "$others" ] || fail "in $name, entries not of $when:
$others"
done

[ "$failed" = 0 ] && echo "reproducible: two packings identical, every time $when"
exit "$failed"
