#!/bin/sh
# Renders res/marrowin.svg into the app icon sizes kept in res/ (res/marrowin-NxN.png).
# Run once after changing the SVG and commit the PNGs: the build never renders SVG.
# Needs rsvg-convert (librsvg2-bin); ImageMagick's convert is used when it is missing.
set -eu
cd "$(dirname "$0")/.."
for n in 48 64 128 256; do
    out="res/marrowin-${n}x${n}.png"
    if command -v rsvg-convert >/dev/null 2>&1; then
        rsvg-convert -w "$n" -h "$n" res/marrowin.svg -o "$out"
    else
        convert -background none -density 384 res/marrowin.svg -resize "${n}x${n}" "$out"
    fi
    echo "$out"
done
