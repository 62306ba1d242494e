#!/bin/sh
# Makes the Debian package afresh into its own folder: build_package.sh CPACK CONFIG OUTDIR
set -eu
cpack=$1 config=$2 out=$3
rm -rf "$out"
"$cpack" -G DEB --config "$config" -B "$out"
set -- "$out"/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { echo "expected one package in $out, found: $*" >&2; exit 1; }
