#!/bin/sh
# Renders the app icons' SVGs (res/marrowin.svg, res/marrowin-cards.svg) into the sizes kept in
# res/ (res/NAME-NxN.png). Run once after changing an SVG and commit the PNGs: the build never
# renders SVG. Name the icons to render (marrowin, marrowin-cards) or get both.
# Needs rsvg-convert (librsvg2-bin); without it, gdk-pixbuf's SVG loader (what GTK itself draws
# icons with), then ImageMagick's convert.
set -eu
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- marrowin marrowin-cards
loaders=/usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0
for name in "$@"; do
    for n in 48 64 128 256; do
        out="res/${name}-${n}x${n}.png"
        if command -v rsvg-convert >/dev/null 2>&1; then
            rsvg-convert -w "$n" -h "$n" "res/${name}.svg" -o "$out"
        elif command -v gdk-pixbuf-thumbnailer >/dev/null 2>&1 && [ -e "$loaders/2.10.0/loaders/libpixbufloader-svg.so" ]; then
            # A loader list of the SVG loader alone: the system's list may leave it out.
            cache=$(mktemp)
            "$loaders/gdk-pixbuf-query-loaders" "$loaders/2.10.0/loaders/libpixbufloader-svg.so" >"$cache"
            GDK_PIXBUF_MODULE_FILE=$cache gdk-pixbuf-thumbnailer -s "$n" "res/${name}.svg" "$out"
            rm -f "$cache"
        else
            convert -background none -density 384 "res/${name}.svg" -resize "${n}x${n}" "$out"
        fi
        echo "$out"
    done
done
