#!/bin/sh
# Executions per second of each fuzz target, from libFuzzer's final statistics.
#   bench/fuzz_rate.sh [SECONDS] [TARGET...]    (defaults: 20 seconds, every target)
# Each target starts from the seed corpus in a fresh, throw-away corpus folder, with the
# flags scripts/fuzz.sh uses, so figures taken before and after a change compare. One
# target runs at a time. On a shared machine the wall-clock rate moves with the load (shown);
# executions per second of the target's own CPU time move much less.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_save_image fuzz_check_archive fuzz_draw_gl"}
dir=build-fuzz

# FUZZ_RATE_BUILD=0 measures the targets as they are built.
if [ "${FUZZ_RATE_BUILD:-1}" != 0 ]; then
    # shellcheck disable=SC2086
    scripts/fuzz.sh --build $targets >/dev/null
fi

# The throw-away corpus on tmpfs where there is one: new inputs are written as they are found.
scratch=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
work=$(mktemp -d "$scratch/marrowin-fuzz-rate-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/seeds"
"$dir/fuzz/make_fuzz_seeds" "$work/seeds" >/dev/null

printf '%-20s %10s %12s %12s %10s %10s %6s\n' \
    target execs/s execs/cpu-s executions seconds cpu-s load
for target in $targets; do
    mkdir "$work/$target"
    log="$work/$target.log"
    start=$(date +%s.%N)
    # shellcheck disable=SC2046
    (
        "$dir/fuzz/$target" $(scripts/fuzz.sh --flags) -max_total_time="$seconds" \
            -artifact_prefix="$work/" "$work/$target" "$work/seeds" >"$log" 2>&1
        rc=$?
        times >"$work/$target.times"  # second line: the target's user and system time
        exit $rc
    ) || {
        echo "$target failed, see its log:" >&2
        tail -n 30 "$log" >&2
        exit 1
    }
    end=$(date +%s.%N)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    load=$(cut -d' ' -f1 /proc/loadavg)
    # The rate over the whole run (libFuzzer's own average rounds down to whole seconds).
    awk -v t="$target" -v r="$runs" -v s="$start" -v e="$end" -v l="$load" '
        function secs(x, p) { split(x, p, /[ms]/); return p[1] * 60 + p[2] }
        NR == 2 {
            cpu = secs($1) + secs($2)
            printf "%-20s %10.0f %12.0f %12d %10.1f %10.1f %6s\n", t, r / (e - s), r / cpu, r, e - s, cpu, l
        }' "$work/$target.times"
done
