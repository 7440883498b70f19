#!/bin/sh
# Per-process cost of the file commands against the cheapest peer-class program, cp -r of
# the same files: marrowin-cli extract, info and card ls run N times each, one process per
# run, as scripts and file managers run them. Prints milliseconds per run and the ratio.
#   bench/process_cost.sh [BUILD_DIR] [N]   (default build-bench, configured Release if missing; N 200)
# MARROWIN_BENCH_NO_BUILD=1 runs BUILD_DIR/marrowin-cli as it is (e.g. a copy of an older build).
# extract syncs every file it writes and cp does not, so its ratio is not start cost alone.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-bench}
n=${2:-200}
if [ -z "${MARROWIN_BENCH_NO_BUILD:-}" ] && [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMARROWIN_GUI=OFF -DMARROWIN_TESTS=OFF >/dev/null
fi
[ -n "${MARROWIN_BENCH_NO_BUILD:-}" ] || cmake --build "$build" -j2 --target marrowin-cli >/dev/null
cli=$(realpath "$build/marrowin-cli")
formats=$(realpath tests/data/formats)
demo=$(realpath samples/demo.psu)

work=$(mktemp -d /tmp/marrowin-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$demo" demo.psu
cp "$formats/final-fantasy12.max" ff12.max
cp "$formats/mc02.ps2" card.ps2
# What extract writes, for cp -r to copy: the same files in the same folder.
mkdir extracted
"$cli" extract -C extracted demo.psu ff12.max >/dev/null

now() { date +%s%N; }
# Runs "$@" n times, each in a fresh output folder out/I (the command may name it as @OUT@).
per_run() {
    rm -rf out && mkdir out
    # The folders are made beforehand: a mkdir process per run would hide the difference.
    i=0
    while [ $i -lt "$n" ]; do
        mkdir "out/$i"
        i=$((i + 1))
    done
    start=$(now)
    i=0
    while [ $i -lt "$n" ]; do
        cmd=""
        for a in "$@"; do
            [ "$a" = "@OUT@" ] && a="out/$i"
            cmd="$cmd '$a'"
        done
        eval "$cmd" >/dev/null
        i=$((i + 1))
    done
    end=$(now)
    echo $(((end - start) / n))
}
report() {
    awk -v what="$1" -v a="$2" -v b="$3" \
        'BEGIN { printf "%-24s %7.2f ms   cp -r %7.2f ms   ratio %.2f\n", what, a / 1e6, b / 1e6, a / b }'
}

folder_of() { ls extracted | grep -v '^\.' | sed -n "$1p"; }
demo_folder=$(folder_of 1)
max_folder=$(folder_of 2)

echo "$n runs each, per process:"
report "extract demo.psu" "$(per_run "$cli" extract -C @OUT@ demo.psu)" \
    "$(per_run cp -r "extracted/$demo_folder" @OUT@)"
report "extract ff12.max" "$(per_run "$cli" extract -C @OUT@ ff12.max)" \
    "$(per_run cp -r "extracted/$max_folder" @OUT@)"
report "info demo.psu" "$(per_run "$cli" info demo.psu)" "$(per_run cp -r demo.psu @OUT@)"
report "info ff12.max" "$(per_run "$cli" info ff12.max)" "$(per_run cp -r ff12.max @OUT@)"
report "card ls card.ps2" "$(per_run "$cli" card ls card.ps2)" "$(per_run cp -r card.ps2 @OUT@)"
# The start alone: what every command pays before it reads a byte.
report "--version (start)" "$(per_run "$cli" --version)" "$(per_run cp -r demo.psu @OUT@)"
