#!/bin/sh
# Thumbnail throughput for a folder of 200 save archives, the way file managers make them
# (one marrowin-cli process per file) and in one batch process, and the time from start to
# first picture of one process.
#   bench/thumbnails.sh [BUILD_DIR]      (default build-bench, configured Release if missing)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMARROWIN_BENCH=ON -DMARROWIN_GUI=OFF \
        -DMARROWIN_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target marrowin-cli >/dev/null
cli=$(realpath "$build/marrowin-cli")
data=$(realpath tests/data)
demo=$(realpath samples/demo.psu)

work=$(mktemp -d /tmp/marrowin-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The archives: the sample and the real icons packed, 200 in all.
mkdir opl default saves
cp "$data/opl.icn" opl/ && cp "$data/opl-icon.sys" opl/icon.sys
# The descriptor names its model "my.icn".
cp "$data/default-icon.icn" default/my.icn && cp "$data/default-icon.sys" default/icon.sys
"$cli" pack opl default >/dev/null
i=0
while [ $i -lt 200 ]; do
    case $((i % 3)) in
    0) cp "$demo" "saves/demo-$i.psu" ;;
    1) cp opl.psu "saves/opl-$i.psu" ;;
    2) cp default.psu "saves/default-$i.psu" ;;
    esac
    i=$((i + 1))
done

now() { date +%s%N; }
rate() { awk -v n="$1" -v ns="$2" 'BEGIN { printf "%.1f thumbnails/s (%.2f ms each)", n / (ns / 1e9), ns / 1e6 / n }'; }

size=${SIZE:-256}
# One process for all 200.
"$cli" thumbnail -s "$size" -d warm saves/demo-0.psu >/dev/null 2>&1 || true
start=$(now)
"$cli" thumbnail -s "$size" -d batch saves/*.psu
batch=$(($(now) - start))

# One process per file, as a file manager runs the thumbnailer.
mkdir each
start=$(now)
for f in saves/*.psu; do
    "$cli" thumbnail -s "$size" "$f" "each/$(basename "$f" .psu).png"
done
each=$(($(now) - start))

# Start to first picture: one 1x1 thumbnail, and the bare process start for comparison.
best() {
    b=0
    for _ in 1 2 3 4 5 6 7 8 9 10 11; do
        s=$(now)
        "$@" >/dev/null
        t=$(($(now) - s))
        if [ $b -eq 0 ] || [ $t -lt $b ]; then b=$t; fi
    done
    echo $b
}
first=$(best "$cli" thumbnail -s 1 "$demo" first.png)
bare=$(best "$cli" --version)

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "thumbnails of ${size}x${size}, 200 archives (demo, OPL and default icons):"
echo "  one process:      $(rate 200 $batch)"
echo "  process per file: $(rate 200 $each)"
awk -v f="$first" -v b="$bare" 'BEGIN { printf "start to first picture: %.1f ms (process start alone: %.1f ms)\n", f / 1e6, b / 1e6 }'
