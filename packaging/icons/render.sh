#!/bin/sh
# Draws the PNG icons from the SVG. Run it after changing the SVG and commit
# what it writes; the build installs the committed files.
set -eu
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" com.trova.Dsg5926.svg -o "com.trova.Dsg5926-$size.png"
done
