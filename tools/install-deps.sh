#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, run and test.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libbenchmark-dev libxlsxwriter-dev
  fonts-liberation fonts-wqy-zenhei
  xvfb xauth imagemagick
  dpkg-dev            # the Debian package: cpack's dependency scan (dpkg-shlibdeps)
  lintian             # the Debian package: policy checks
  desktop-file-utils  # the Debian package: desktop-file-validate
  appstream           # the Debian package: appstreamcli validate
  librsvg2-bin        # the Debian package: rsvg-convert draws the PNG icons from the SVG
  x11-utils           # the Debian package's test: xwininfo finds the main window
  openbox             # the placement test: a window manager that frames windows late
  locales             # the Calc export's test in a decimal-comma region (de_DE.UTF-8)
  g++-mingw-w64-i686  # the bridge's 32-bit Windows helper and the tests' 32-bit driver
  wine wine32:i386    # the bridge to the maker's driver, and its tests
)
if [ "${DSG_WITH_LIBREOFFICE:-1}" = 1 ]; then
  packages+=(
    libreoffice-calc  # Calc with its windows; takes the place of libreoffice-calc-nogui, runs headless too
    libreoffice-dev   # UNO C++ SDK (cppumaker, headers) for the stand-in spreadsheet's Calc backend
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if [ ${#missing[@]} -gt 0 ]; then
  # wine32 is a package of the i386 architecture; the update below then
  # fetches that architecture's lists too.
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' \
     && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  echo "Installing: ${missing[*]}"
  # Other builds on the machine may hold apt's lock for a while.
  apt=(apt-get -o DPkg::Lock::Timeout=600)
  $SUDO "${apt[@]}" update -q
  DEBIAN_FRONTEND=noninteractive $SUDO "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}"
fi

# A region that writes decimal commas, for the export tests that need one.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  $SUDO sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi
