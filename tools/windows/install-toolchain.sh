#!/usr/bin/env bash
# Installs what the 32-bit Windows cross-build needs on this Debian 12 host:
# the MinGW-w64 compilers, Wine to run the results, Wine's headers (Qt's
# Windows plugin borrows its tablet headers) and a headless X server.
# Safe to run again: nothing is fetched when everything is present.
set -euo pipefail

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo

# The host's own Qt tools (moc, rcc, uic) serve the cross-build, and the
# project's Linux packages bring them.
"$(dirname "$0")/../install-deps.sh"

packages=(
  wine wine32:i386        # runs the 32-bit programs and tests
  fonts-wine              # Wine's Tahoma and friends, the Windows dialog fonts
  g++-mingw-w64-i686      # the -posix compilers: std::thread, which Qt needs
  libwine-dev             # wintab.h and pktdef.h for Qt's Windows platform plugin
  xvfb xauth              # Wine draws its windows on a headless X server
  xdotool imagemagick     # the end-to-end tests press keys and take screenshots,
  xclip openbox x11-utils # read message boxes, and run the Linux build beside
  xz-utils                # unpacks Qt's source tarball
  nsis                    # makensis, which builds the Windows installer
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ $need_update -eq 0 ] && exit 0

$SUDO apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
