#!/bin/sh
# Configures and builds Marrowin into build/ (two jobs: the reference machine has two cores).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j2
