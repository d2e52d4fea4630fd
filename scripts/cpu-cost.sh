#!/usr/bin/env bash
# Host instructions per emulated instruction on the fixed CPU workload (bench/cpu-mix.s),
# counted by callgrind: the same figure on a loaded machine as on an idle one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if ! command -v valgrind >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends valgrind
fi
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target vexil_bench >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out" \
    build/release/bench/vexil_bench --benchmark_filter=BM_CpuMix >/dev/null 2>&1
# BM_CpuMix runs the workload 3 times; the run loop's inclusive cost covers every instruction.
host=$(callgrind_annotate --inclusive=yes "$out" 2>/dev/null | awk '/vexil::CpuRun\(int\)/ {gsub(",", "", $1); print $1; exit}')
emulated=$(awk '$1 == "instructions" {print 3 * $2}' bench/cpu-mix.expected)
awk -v h="$host" -v e="$emulated" 'BEGIN {printf "%.0f host instructions for %.0f emulated: %.2f per instruction\n", h, e, h / e}'
