#!/usr/bin/env bash
# Builds Vexil and opens its window. With no ROM chosen in the settings (and no
# VexilDefault.ROM in the current folder) it runs the bundled EmuTOS, from whatever folder it is
# started. Options go to the program (try --help); --headless runs it without a window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target vexil
exec "$root/build/release/vexil" "$@"
