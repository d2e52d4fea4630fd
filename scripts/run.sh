#!/usr/bin/env bash
# Builds Vexil and runs it on the bundled EmuTOS ROM.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target vexil
exec build/release/vexil --rom roms/etos256us.img "$@"
