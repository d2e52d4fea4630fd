#!/usr/bin/env bash
# Measures the window run's pace under a virtual X server (Xvfb) with SDL's dummy audio
# driver: FRAMES frames (default 500) after Run is clicked, once in the normal mode (the sound
# device's queue paces the machine: 50 frames a second) and once with ForceVBLSync (the display
# paces). Prints the program's own line: frames, the seconds they ran, frames per second.
# Usage: pace-check.sh [path/to/vexil] [FRAMES]
set -euo pipefail
cd "$(dirname "$0")/.."
vexil=$(realpath "${1:-build/release/vexil}")
frames=${2:-500}
xvfb_args=("$vexil" "$frames")
source scripts/xvfb-preamble.sh
for sync in 0 1; do
    printf '[Graphics]\nbAskFullscreen = 0\nForceVBLSync = %s\n' "$sync" >"$settings"
    (cd "$tmp" && exec "$vexil" --frames "$frames" >"$tmp/out" 2>"$tmp/err") &
    pid=$!
    window=$(timeout 20 xdotool search --sync --name '^Vexil 1\.00$' | head -n 1)
    sleep 1
    xdotool mousemove --window "$window" 519 24 click 1
    wait "$pid" || { echo "vexil exited $?"; cat "$tmp/err"; exit 1; }
    pid=
    echo "ForceVBLSync=$sync: $(tail -n 1 "$tmp/out")"
    grep -h "audio:" "$tmp/err" || true
done
