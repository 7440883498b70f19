#!/bin/sh
# Runs a Windows test program under Wine. Wine's OpenGL draws through X, so without a DISPLAY
# a private Xvfb serves this one run and goes with it.
set -u
: "${WINEDEBUG:=-all}"
export WINEDEBUG
if [ -n "${DISPLAY:-}" ]; then
    exec wine "$@"
fi
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "wine-with-display.sh: no DISPLAY and no Xvfb (package xvfb)" >&2
    exit 1
fi
dir=$(mktemp -d) || exit 1
# -displayfd: the server picks a free display itself and writes its number once it listens.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$dir/display" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$dir"' EXIT
tries=0
until grep -q '^[0-9]' "$dir/display" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "wine-with-display.sh: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
done
DISPLAY=":$(head -n 1 "$dir/display")" wine "$@"
