#!/usr/bin/env bash
# Makes res/qiro7.ico, the Windows executables' icon, from res/qiro7.svg: the sizes Explorer and
# the title bar ask for, 16 to 256 pixels. Run it after changing the SVG and commit the result;
# the build itself needs neither tool. Needs rsvg-convert (librsvg2-bin) and ImageMagick.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sizes=(16 20 24 32 40 48 64 256)
pictures=()
for size in "${sizes[@]}"; do
    rsvg-convert -w "$size" -h "$size" "$root/res/qiro7.svg" -o "$work/$size.png"
    pictures+=("$work/$size.png")
done
# Without dates in the embedded PNG, the same SVG gives the same file.
convert "${pictures[@]}" -define png:exclude-chunks=date,time "$root/res/qiro7.ico"
echo "res/qiro7.ico: ${sizes[*]} pixels"
