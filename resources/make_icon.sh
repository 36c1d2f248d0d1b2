#!/usr/bin/env bash
# Draws the programs' icon and assembles resources/app.ico: ten images, 16 and 32 px at 4 bpp;
# 16, 32 and 48 px at 8 bpp; 16, 32, 48, 64 and 256 px at 32 bpp (the 256-px one stored as PNG).
# Needs ImageMagick and icoutils; the build itself uses only the committed app.ico.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The design: a slate-blue tile with rounded corners, a light page with a fold, and an amber
# arrow that bends up and to the right, the mark of a shortcut.
convert -size 256x256 xc:none \
  -fill '#27446e' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#3b6aa8' -draw 'roundrectangle 8,8 247,150 40,40' \
  -fill '#27446e' -draw 'rectangle 8,110 247,150' \
  -fill '#f4f6fa' -draw 'polygon 60,44 160,44 196,80 196,212 60,212' \
  -fill '#c9d3e3' -draw 'polygon 160,44 160,80 196,80' \
  -stroke '#f0a020' -strokewidth 22 -fill none -draw 'path "M 92,190 Q 92,120 150,120"' \
  -stroke none -fill '#f0a020' -draw 'polygon 140,86 190,120 140,154' \
  "PNG32:$work/master.png"

files=()
for size in 16 32; do
  convert "$work/master.png" -resize ${size}x${size} -background '#27446e' -alpha remove \
    -colors 16 "PNG8:$work/i${size}-4.png"
  files+=("$work/i${size}-4.png")
done
for size in 16 32 48; do
  convert "$work/master.png" -resize ${size}x${size} -background '#27446e' -alpha remove \
    -colors 200 "PNG8:$work/i${size}-8.png"
  files+=("$work/i${size}-8.png")
done
for size in 16 32 48 64; do
  convert "$work/master.png" -resize ${size}x${size} "PNG32:$work/i${size}-32.png"
  files+=("$work/i${size}-32.png")
done

icotool -c -o "$here/app.ico" "${files[@]}" -r "$work/master.png"
icotool -l "$here/app.ico"
