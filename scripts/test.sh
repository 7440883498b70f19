#!/bin/sh
# Sets up, builds and runs every test: unit and rendering tests, the GUI tests under Xvfb,
# and a bounded fuzzing run under the sanitizers.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build --output-on-failure -j2
./scripts/fuzz.sh 60
