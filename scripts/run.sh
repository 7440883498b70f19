#!/bin/sh
# Sets up, builds and starts Marrowin.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
# Debian's wxWidgets draws its GL view through GLX only: on Wayland, go through XWayland.
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    export GDK_BACKEND=x11
fi
exec ./build/marrowin
