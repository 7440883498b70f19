#!/bin/sh
# Fuzzes every reader (save archives, the other containers, memory cards and folder card
# indexes), the writers' round trip and the icon drawing under AddressSanitizer and
# UndefinedBehaviorSanitizer.
#   scripts/fuzz.sh [SECONDS] [TARGET]    (defaults: 60, every target, the time split evenly)
#   scripts/fuzz.sh --build [TARGET...]   (only build the targets and the seed maker)
#   scripts/fuzz.sh --flags               (print the libFuzzer flags every run uses)
# Builds with clang into build-fuzz (incrementally), seeds the corpus from the test
# fixtures and tests/data, runs one libFuzzer process per target and fails on any finding.
# Extraction writes into a folder on /dev/shm (tmpfs) that each target makes and removes.
set -eu
cd "$(dirname "$0")/.."
all="fuzz_save_image fuzz_check_archive fuzz_draw_gl fuzz_read_max fuzz_read_cbs fuzz_read_sharkport
fuzz_read_psv fuzz_round_trip fuzz_card_read fuzz_card_import fuzz_folder_index fuzz_open_bytes"
dir=build-fuzz
# Inputs up to 512 KiB, well past a typical save with its icons; FUZZ_MAX_LEN=BYTES for more.
flags="-timeout=20 -rss_limit_mb=2048 -max_len=${FUZZ_MAX_LEN:-524288} -print_final_stats=1"

build() {
    gl=OFF
    for target in "$@"; do
        case "$target" in *_gl) gl=ON ;; esac
    done
    if [ ! -f "$dir/CMakeCache.txt" ] || ! grep -q "^MARROWIN_GL:BOOL=$gl" "$dir/CMakeCache.txt"; then
        CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DMARROWIN_FUZZ=ON -DMARROWIN_TESTS=OFF -DMARROWIN_GUI=OFF -DMARROWIN_GL=$gl >/dev/null
    fi
    cmake --build "$dir" -j2 --target "$@" make_fuzz_seeds
}

case "${1:-}" in
    --flags)
        echo "$flags"
        exit 0
        ;;
    --build)
        shift
        # shellcheck disable=SC2086
        [ $# -gt 0 ] || set -- $all
        build "$@"
        exit 0
        ;;
esac

seconds=${1:-60}
targets=${2:-$all}
count=0
for target in $targets; do
    count=$((count + 1))
done
each=$((seconds / count))
[ "$each" -ge 1 ] || each=1
# shellcheck disable=SC2086
build $targets

seeds="$dir/fuzz-seeds"
artifacts="$dir/fuzz-artifacts/"
mkdir -p "$seeds" "$artifacts"
"$dir/fuzz/make_fuzz_seeds" "$seeds"

# Findings (crash, leak, timeout, out of memory) make libFuzzer exit non-zero.
for target in $targets; do
    corpus="$dir/fuzz-corpus/$target"
    mkdir -p "$corpus"
    # shellcheck disable=SC2086
    "$dir/fuzz/$target" $flags -max_total_time="$each" -artifact_prefix="$artifacts" \
        "$corpus" "$seeds"
done
