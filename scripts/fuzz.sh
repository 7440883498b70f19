#!/bin/sh
# Fuzzes the save reading path under AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/fuzz.sh [SECONDS] [TARGET]    (defaults: 60, fuzz_save_image)
# Builds with clang into build-fuzz (incrementally), seeds the corpus from the test
# fixtures and tests/data, runs one libFuzzer process and fails on any finding.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=${2:-fuzz_save_image}
dir=build-fuzz

gl=OFF
case "$target" in *_gl) gl=ON ;; esac
if [ ! -f "$dir/CMakeCache.txt" ] || ! grep -q "^MARROWIN_GL:BOOL=$gl" "$dir/CMakeCache.txt"; then
    CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMARROWIN_FUZZ=ON -DMARROWIN_TESTS=OFF -DMARROWIN_GUI=OFF -DMARROWIN_GL=$gl >/dev/null
fi
cmake --build "$dir" -j2 --target "$target" make_fuzz_seeds

seeds="$dir/fuzz-seeds"
corpus="$dir/fuzz-corpus/$target"
artifacts="$dir/fuzz-artifacts/"
mkdir -p "$seeds" "$corpus" "$artifacts"
"$dir/fuzz/make_fuzz_seeds" "$seeds"

# Findings (crash, leak, timeout, out of memory) make libFuzzer exit non-zero.
"$dir/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$seeds"
