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
cmake --build build/sanitize -j "$jobs" --target vexil_tests vexil
ctest --test-dir build/sanitize -j "$jobs" --output-on-failure

if [ -f fuzz/CMakeLists.txt ]; then
    bash scripts/fuzz.sh 8
fi
