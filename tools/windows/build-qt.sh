#!/usr/bin/env bash
# Builds Qt for 32-bit Windows (i686-w64-mingw32) from Debian's own qt6-base
# source, once, into a cache outside the clone. Debian's Qt tools on the host
# (moc, rcc, uic) serve the cross-build, so the target Qt must be the very
# version the host has.
#
#   tools/windows/build-qt.sh                 build (or find) the cached Qt
#   tools/windows/build-qt.sh --print-prefix  only print where it goes
#
# Runs at the lowest priority on two jobs: it takes over half an hour and the
# machine is shared. Logs to build.log in the cache folder.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
toolchain="$repo/cmake/toolchain-i686-w64-mingw32.cmake"

qt_version=6.4.2
target=i686-w64-mingw32
jobs="${DSG_QT_JOBS:-2}"

# Everything that changes what gets built goes into this list, and the list's
# hash names the install folder: change an option and a new Qt is built beside
# the old one instead of a stale one being reused.
qt_options=(
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_opengl=OFF
  -DFEATURE_dynamicgl=OFF     # otherwise still on with OpenGL off, and qwindows fails to compile
  -DFEATURE_dbus=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_vulkan=OFF
  -DFEATURE_direct2d=OFF      # a second copy of the Windows platform plugin, not needed
  -DFEATURE_directwrite3=OFF  # Gui builds its DirectWrite font database only with Direct2D, yet
                              # the plugin would link it; the default GDI one serves
  -DFEATURE_system_zlib=OFF   # no MinGW builds of these here; the tarball bundles its own
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF
)
options_hash="$(printf '%s\n' "$qt_version" "$target" "${qt_options[@]}" \
  "$(cat "$toolchain")" "$(sed -n '/^write_wintab_shim()/,/^}/p' "$0")" \
  | sha256sum | cut -c1-8)"

cache="${XDG_CACHE_HOME:-$HOME/.cache}/dsg5926"
prefix="$cache/qt-$qt_version-$target-$options_hash"
stamp="$prefix/.dsg5926-complete"

if [ "${1:-}" = "--print-prefix" ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$stamp" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache"
log="$cache/build-qt-$options_hash.log"
echo "Building Qt $qt_version for $target into $prefix"
echo "Log: $log"
exec 3>&1 >"$log" 2>&1
trap 'echo "Qt build failed; see $log" >&3' ERR
date

# --- 1. Debian's source, through an apt configuration of our own ---------
# The system's sources are left alone: the deb-src entry lives in a private
# folder, derived from the entry the machine already uses for its release.
srcdir="$cache/src"
aptdir="$cache/apt"
mkdir -p "$srcdir" "$aptdir/sources" "$aptdir/lists/partial"

release="$(. /etc/os-release && echo "${VERSION_CODENAME:?}")"
write_deb_src() {
  local out="$aptdir/sources/qt-src.sources" f
  : >"$out"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # A deb822 file holds stanzas apart by blank lines; keep the ones that
    # carry the release itself as a suite (not just "<release>-security").
    awk -v rel="$release" '
      function flush() {
        if (uris != "" && suites_ok) {
          print "Types: deb-src"; print "URIs: " uris; print "Suites: " suites
          print "Components: " comps
          if (signed != "") print "Signed-By: " signed
          print ""
        }
        uris = suites = comps = signed = ""; suites_ok = 0
      }
      /^[[:space:]]*$/ { flush(); next }
      /^#/ { next }
      /^URIs:/       { sub(/^URIs:[[:space:]]*/, "");       uris = $0 }
      /^Components:/ { sub(/^Components:[[:space:]]*/, ""); comps = $0 }
      /^Signed-By:/  { sub(/^Signed-By:[[:space:]]*/, "");  signed = $0 }
      /^Suites:/ {
        sub(/^Suites:[[:space:]]*/, ""); suites = $0
        n = split($0, s, /[[:space:]]+/)
        for (i = 1; i <= n; i++) if (s[i] == rel) suites_ok = 1
      }
      END { flush() }' "$f" >>"$out"
  done
  # Machines still on the one-line format.
  if [ ! -s "$out" ] && [ -f /etc/apt/sources.list ]; then
    awk -v rel="$release" '$1 == "deb" && $0 !~ /\[/ && $3 == rel {
        $1 = "deb-src"; print }' /etc/apt/sources.list >"$aptdir/sources/qt-src.list"
    rm -f "$out"
    [ -s "$aptdir/sources/qt-src.list" ] && return 0
    echo "No apt source for $release found"; return 1
  fi
  [ -s "$out" ] || { echo "No apt source for $release found"; return 1; }
}

apt_private=(
  -o Dir::Etc::SourceList=/dev/null
  -o Dir::Etc::SourceParts="$aptdir/sources"
  -o Dir::State::Lists="$aptdir/lists"
  -o Dir::Cache::pkgcache=
  -o Dir::Cache::srcpkgcache=
)

# The host's own version, so host tools and target libraries match.
host_version="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
case "$host_version" in
  "$qt_version"+*) ;;
  *) echo "The host's Qt is $host_version, not $qt_version"; exit 1 ;;
esac

orig="$(ls "$srcdir"/qt6-base_"$qt_version"*.orig.tar.xz 2>/dev/null | head -n1 || true)"
if [ -z "$orig" ]; then
  write_deb_src
  apt-get "${apt_private[@]}" update
  (cd "$srcdir" && apt-get "${apt_private[@]}" source --download-only "qt6-base=$host_version")
  orig="$(ls "$srcdir"/qt6-base_"$qt_version"*.orig.tar.xz | head -n1)"
fi

qtsrc="$srcdir/qtbase-$qt_version-$options_hash"
if [ ! -f "$qtsrc/.unpacked" ]; then
  rm -rf "$qtsrc" "$qtsrc.tmp"
  mkdir -p "$qtsrc.tmp"
  tar -xJf "$orig" -C "$qtsrc.tmp" --strip-components=1
  mv "$qtsrc.tmp" "$qtsrc"
  touch "$qtsrc/.unpacked"
fi

# --- 2. The tablet headers Debian's tarball leaves out ----------------------
# Qt's Windows plugin includes wintab.h and pktdef.h from src/3rdparty/wintab.
# Wine ships both, written for Winelib: these shims supply the few macros
# Winelib would, then include Wine's own.
write_wintab_shim() {
  local dir="$1/src/3rdparty/wintab"
  mkdir -p "$dir"
  cat >"$dir/wintab.h" <<'SHIM'
#ifndef DSG_WINTAB_SHIM_H
#define DSG_WINTAB_SHIM_H
#include <windows.h>
#ifndef WINELIB_NAME_AW
#define WINELIB_NAME_AW(n) n##W
#endif
#ifndef DECL_WINELIB_TYPE_AW
#define DECL_WINELIB_TYPE_AW(t) typedef WINELIB_NAME_AW(t) t;
#endif
#ifndef API
#define API WINAPI
#endif
#include "/usr/include/wine/wine/windows/wintab.h"
#endif
SHIM
  cat >"$dir/pktdef.h" <<'SHIM'
#include "/usr/include/wine/wine/windows/pktdef.h"
SHIM
}
[ -f /usr/include/wine/wine/windows/wintab.h ] || {
  echo "Wine's wintab.h is missing: run tools/windows/install-toolchain.sh"; exit 1; }
write_wintab_shim "$qtsrc"

# --- 3. Configure, build, install -------------------------------------------
# The installed qt-cmake loads the toolchain file Qt was configured with, by
# its path: a copy in the cache outlives the clone this script ran from.
cached_toolchain="$cache/toolchain-$target-$options_hash.cmake"
cp "$toolchain" "$cached_toolchain"

build="$cache/build-qt-$options_hash"
mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
  nice -n 19 cmake -S "$qtsrc" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$cached_toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    "${qt_options[@]}"
fi
# Every configured target, not only the modules the program links: the
# install step expects all of them, and the rest (entry point, styles, image
# format and TLS plugins) is small.
nice -n 19 cmake --build "$build" --parallel "$jobs"
nice -n 19 cmake --install "$build"

date
touch "$stamp"
trap - ERR
exec 1>&3
echo "$prefix"
