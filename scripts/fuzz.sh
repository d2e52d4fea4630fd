#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given number of seconds (default
# 10), starting from seed corpora made here. Fails on the first crash or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
build=build/fuzz
corpus=$build/corpus

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEXIL_FUZZ=ON -DVEXIL_TESTS=OFF \
    -DVEXIL_BENCH=OFF >/dev/null
targets=()
for f in fuzz/*Fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
cmake --build "$build" -j "$(nproc)" --target MakeFuzzSeeds "${targets[@]}" >/dev/null

# Seeds: hand-made disk images, Deflate data from gzip, and zip archives from zip.
for t in "${targets[@]}"; do mkdir -p "$corpus/$t"; done
"$build/fuzz/MakeFuzzSeeds" "$corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seq 1 3000 | tr '\n' ' ' > "$work/text"
head -c 3000 /dev/urandom > "$work/noise"
echo "hello hello hello" > "$work/short"
for f in text noise short; do
    for level in 1 9; do
        # A piece-size byte, then the raw Deflate data between gzip's header and trailer.
        { printf '\007'; gzip -c -n -"$level" "$work/$f" | tail -c +11 | head -c -8; } > "$corpus/InflateFuzz/$f-$level"
    done
done
if command -v zip >/dev/null; then
    (cd "$work" && cp short GAME.ST && zip -q -X -0 stored.zip GAME.ST text && zip -q -X -9 deflated.zip text GAME.ST)
    cp "$work/stored.zip" "$work/deflated.zip" "$corpus/ZipFuzz/"
fi

# Save states: a mode byte, then overwrites of the checked sections, a cut, or a whole file.
printf '\001\020\000\377\024\000\000\200\001\001' > "$corpus/StateFuzz/patch"
printf '\002\100\000\000' > "$corpus/StateFuzz/cut"
printf '\000VEXILSTA\001\000\000\000\000\000\000\000' > "$corpus/StateFuzz/header"

for t in "${targets[@]}"; do
    echo "fuzz: $t for ${seconds}s"
    status=0
    "$build/fuzz/$t" -max_total_time="$seconds" -max_len=20000 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/$t-" "$corpus/$t" > "$build/$t.log" 2>&1 || status=$?
    grep -E '^stat::number_of_executed_units' "$build/$t.log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$build/$t.log"
        echo "fuzz: $t failed"
        exit 1
    fi
done
