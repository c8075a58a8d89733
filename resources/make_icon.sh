#!/usr/bin/env bash
# Renders app_icon.mvg (an ImageMagick drawing, 256 x 256) into app_icon.ico
# with the sizes Windows picks from: 16, 20, 24, 32, 40, 48, 64 and 256 pixels.
# The .ico is committed, so the build does not need ImageMagick; run this after
# changing the drawing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Comment lines are dropped; the drawing is passed inline because the default
# ImageMagick policy forbids reading draw files with @.
convert -size 256x256 xc:none -draw "$(grep -v '^#' "$here/app_icon.mvg")" -depth 8 "$work/256.png"
sizes=()
for s in 16 20 24 32 40 48 64; do
  convert "$work/256.png" -filter Lanczos -resize "${s}x${s}" "$work/$s.png"
  sizes+=("$work/$s.png")
done
convert "${sizes[@]}" "$work/256.png" "$here/app_icon.ico"
identify "$here/app_icon.ico"
