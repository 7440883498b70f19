#!/bin/sh
# Sets up, builds and starts Marrowin; paths given here are opened as if dropped on the window
# (./scripts/run.sh samples/demo.psu). Without paths the demo save is opened, so the first run
# shows what the program is for; the program itself still starts empty when given nothing.
# On Wayland the program goes through XWayland itself.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
if [ "$#" -eq 0 ]; then
    set -- samples/demo.psu
fi
exec ./build/marrowin "$@"
