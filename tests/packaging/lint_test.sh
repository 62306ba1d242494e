#!/usr/bin/env bash
# Checks the Debian package with Debian's own tools: lintian, the desktop
# entry and AppStream validators, man; and that its parts fit together.
#   lint_test.sh DEB_DIR
set -euo pipefail
deb=$(echo "$1"/*.deb)
[ -f "$deb" ] || { echo "no package in $1" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# Errors and warnings both fail; lintian shows neither for this package.
lint=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian reports errors or warnings"
printf '%s\n' "$lint" | grep -v 'running with root privileges' || true

root=$tmp/root
dpkg-deb -x "$deb" "$root"
share=$root/usr/share
set -- "$share"/applications/*.desktop
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one desktop entry, found: $*"
desktop=$1
id=$(basename "$desktop" .desktop)
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

# The entry starts the launcher, and its icon exists at every size drawn.
exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/usr/bin/$exec_cmd" ] || fail "Exec=$exec_cmd is not in /usr/bin"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
for size in 16 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/$icon.png
  [ "$(identify -format %wx%h "$png" 2>/dev/null)" = "${size}x${size}" ] || fail "icon $png is not ${size}x${size}"
done

# The manual page renders without complaint.
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  "$share/man/man1/$exec_cmd.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page: $warnings"

# Every library the binaries need is found on the system's path alone.
for f in "$root"/usr/lib/*/trova-5926/* "$root"/usr/lib/trova-5926/*; do
  [ -f "$f" ] || continue
  # Linux binaries only: the bridge's helper is a Windows program for Wine.
  [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  # The one run path allowed: LibreOffice's program folder, for the UNO
  # runtime of the spreadsheet's Calc backend.
  allowed=none
  [ "${f##*/}" = Excel ] && allowed='/usr/lib/libreoffice/program'
  runpath=$(readelf -d "$f" 2>/dev/null | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p')
  if [ -n "$runpath" ] && [ "$runpath" != "$allowed" ]; then fail "$f has the run path $runpath"; fi
  if ldd "$f" 2>&1 | grep -q 'not found'; then fail "$f: $(ldd "$f" | grep 'not found')"; fi
done

[ "$failed" = 0 ] && echo "lint: all checks passed"
exit "$failed"
