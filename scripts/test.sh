#!/bin/sh
# Sets up, builds and runs every test: unit and rendering tests, the GUI tests under Xvfb,
# a bounded fuzzing run under the sanitizers, and then the Windows build with its tests under
# Wine (core, drawing, the CLI's thumbnail and the Win32 window).
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build --output-on-failure -j2
./scripts/fuzz.sh 110
./scripts/build-windows.sh --test
