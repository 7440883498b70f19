#!/bin/sh
# Sets up, builds and starts Marrowin; paths given here are opened as if dropped on the window
# (./scripts/run.sh samples/demo.psu). On Wayland the program goes through XWayland itself.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
exec ./build/marrowin "$@"
