#!/usr/bin/env bash
# Makes a private 32-bit Wine prefix ready for the program and its tests:
#   tools/windows/wine-prefix.sh <prefix folder>
# The first boot of a prefix takes 10-20 s; a prefix already made is left as
# it is. Its programs run in one Wine virtual desktop (1280 x 1024): there
# Wine itself activates and frames the windows, as Windows does, instead of
# waiting for a window manager that a headless X server does not have.
set -euo pipefail
prefix="${1:?usage: wine-prefix.sh <prefix folder>}"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
[ -f "$prefix/.dsg5926-ready" ] && exit 0
mkdir -p "$prefix"
timeout 120 wineboot --init >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
# Qt's own FreeType renderer for the Qt programs of the prefix: Wine's GDI
# hands Qt no glyph for the one-pixel-wide "I" and "!" at small sizes. Set
# as a Windows environment variable, which the Qt programs see (Wine keeps
# the host's QT_* variables from them).
timeout 60 wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d 'windows:fontengine=freetype' /f >/dev/null 2>&1
timeout 60 wineserver -w
touch "$prefix/.dsg5926-ready"
