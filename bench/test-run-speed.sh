#!/usr/bin/env bash
# The test runner's speed: 20 tests of 500 frames each (EmuTOS starting up, a check at the
# end), run by `vexil test` in two processes. Prints the wall-clock seconds of the whole run
# and the CPU seconds its processes took, which a busy machine does not inflate.
# Usage: bench/test-run-speed.sh [path/to/vexil] [processes]
set -euo pipefail
vexil=${1:-build/vexil}
jobs=${2:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in $(seq -w 1 20); do
    printf 'frames 500\n500 expect silence\n' > "$work/boot$i.test"
done
TIMEFORMAT='%R %U %S'
{ time "$vexil" test -j "$jobs" "$work"/*.test > "$work/report.txt"; } 2> "$work/time.txt"
tail -n 1 "$work/report.txt"
read -r wall user sys < "$work/time.txt"
awk -v w="$wall" -v u="$user" -v y="$sys" -v j="$jobs" \
    'BEGIN {printf "20 tests of 500 frames with -j %d: %.2f s wall clock, %.2f s of CPU (%.2f s a core)\n", j, w, u + y, (u + y) / j}'
