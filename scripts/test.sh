#!/usr/bin/env bash
# Builds and runs the whole test suite: a release build with a check of the window under a
# virtual X server (Xvfb, started here), then the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzz target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -j "$jobs" --output-on-failure
bash scripts/window-check.sh build/release/vexil

cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVEXIL_SANITIZE=ON -DVEXIL_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="-O1" >/dev/null
cmake --build build/sanitize -j "$jobs" --target vexil_tests vexil vexil_st_disks
# Every instrumented process pays a long start-up, so the GoogleTest suite runs here in one
# process per core (shards of the same tests) rather than one per test; the tests that are
# scripts go through CTest as in the release build.
pids=()
for ((i = 0; i < jobs; i++)); do
    GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$i build/sanitize/tests/vexil_tests --gtest_brief=1 \
        > "build/sanitize/shard-$i.log" 2>&1 &
    pids+=($!)
done
failed=0
for ((i = 0; i < jobs; i++)); do
    if ! wait "${pids[$i]}"; then
        failed=1
        tail -n 100 "build/sanitize/shard-$i.log"
    fi
    tail -n 1 "build/sanitize/shard-$i.log"
done
[ "$failed" -eq 0 ] || { echo "sanitizer build: tests failed"; exit 1; }
ctest --test-dir build/sanitize -j "$jobs" -LE gtest --output-on-failure

if [ -f fuzz/CMakeLists.txt ]; then
    bash scripts/fuzz.sh 8
fi
