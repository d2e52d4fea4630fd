#!/usr/bin/env bash
# Checks the window run under a virtual X server (Xvfb): the window "Vexil 1.00" opens with the
# control bar, its Run item starts the machine, a quit saves the settings, and the window shows
# the picture the screenshot holds, and the Record page shows the capture it saves (ImageMagick's
# import and compare). Needs no display of its own. Usage: window-check.sh [path/to/vexil]
set -euo pipefail
cd "$(dirname "$0")/.."
vexil=$(realpath "${1:-build/release/vexil}")
xvfb_args=("$vexil")
source scripts/xvfb-preamble.sh
fail() {
    echo "window check: FAIL: $*"
    cat "$tmp/err" 2>/dev/null || true
    exit 1
}
printf '[Graphics]\nbAskFullscreen = 0\n' >"$settings"

# start ARGS...: starts vexil from another folder and waits for its window.
start() {
    (cd "$tmp" && exec "$vexil" "$@" >"$tmp/out" 2>"$tmp/err") &
    pid=$!
    window=$(timeout 20 xdotool search --sync --name '^Vexil 1\.00$' | head -n 1) || fail "no window"
    sleep 1
}
# finish: waits up to 30 s for vexil to end, then gives its status.
finish() {
    for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    local status=0
    wait "$pid" || status=$?
    pid=
    return "$status"
}

# 1. Run (the fifth item of the bar) starts the bundled EmuTOS; --frames ends the run.
start --frames 50
[ "$(xdotool getwindowgeometry "$window" | awk '/Geometry/ {print $2}')" = 800x600 ] || fail "window size"
xdotool mousemove --window "$window" 519 24 click 1
finish || fail "the run after Run exited $?"
grep -q '^50 frames' "$tmp/out" || fail "Run did not start the machine: $(cat "$tmp/out")"
grep -q '^\[ROMS\]' "$settings" || fail "settings not saved after the run"

# 2. A quit from the window (the window system's request to close reaches the program as a quit
# event, as SIGTERM does) ends the run cleanly and saves the settings.
printf '[Graphics]\nbAskFullscreen = 0\n' >"$settings"
start
kill -TERM "$pid"
finish || fail "closing the window exited $?"
grep -q '^\[ROMS\]' "$settings" || fail "settings not saved after closing the window"
# 3. The picture in the window is the frame the screenshot holds: --screenshot writes the last
# picture at the quit; EmuTOS's screen is still long before that (from about frame 200). The
# run reports every 50th frame; the window is captured once it has reported frame 300, so the
# capture shows the still screen however slowly the host runs.
printf '[Graphics]\nbAskFullscreen = 0\n[Machine]\ng_softwareMode = 0\n' >"$settings"
start --frames 400 --screenshot "$tmp/shot.tga"
xdotool mousemove --window "$window" 519 24 click 1
for _ in $(seq 1 600); do
    grep -q '^frame 300$' "$tmp/out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
grep -q '^frame 300$' "$tmp/out" || fail "the run did not report frame 300: $(cat "$tmp/out")"
while kill -0 "$pid" 2>/dev/null; do
    timeout 5 import -window "$window" "$tmp/capture.png" 2>/dev/null && mv "$tmp/capture.png" "$tmp/window.png"
    sleep 0.5
done
[ -s "$tmp/window.png" ] || fail "no capture of the window"
finish || fail "the screenshot run exited $?"
[ -s "$tmp/shot.tga" ] || fail "no screenshot written"
# ImageMagick keeps the file's bottom-up row order as a note; -auto-orient turns it upright.
convert "$tmp/shot.tga" -auto-orient "$tmp/shot.png"
differing=$(compare -metric AE "$tmp/window.png" "$tmp/shot.png" null: 2>&1) || true
[ "$differing" = 0 ] || fail "the window and the screenshot differ in $differing pixels"
# 4. The Options and Disks items of the bar open their pages: each capture differs from the
# other over much of the window (a missing page would be one line of text in both).
mkdir -p "$tmp/disks"
head -c 368640 /dev/zero >"$tmp/disks/game.st"
printf '[Graphics]\nbAskFullscreen = 0\n[Disks]\nDirectory = "%s/disks/"\n' "$tmp" >"$settings"
start
xdotool mousemove --window "$window" 207 24 click 1
sleep 1
timeout 5 import -window "$window" "$tmp/options.png" || fail "no capture of the options page"
xdotool mousemove --window "$window" 103 24 click 1
sleep 1
timeout 5 import -window "$window" "$tmp/disks.png" || fail "no capture of the disk page"
kill -TERM "$pid"
finish || fail "the pages run exited $?"
differing=$(compare -metric AE "$tmp/options.png" "$tmp/disks.png" null: 2>&1) || true
[ "${differing%% *}" -gt 5000 ] 2>/dev/null || fail "the options and disk pages look alike ($differing pixels differ)"
grep -q "Directory = \"$tmp/disks/\"" "$settings" || fail "the disk page lost its folder"
# 5. The Record page: F12 returns to the menu, which captures the picture; the page shows it as
# its preview, and "Save Screenshot" writes it as a GIF into the data folder's "shot". The
# preview in the window (at 24,100 under the bar) is the picture of the file.
printf '[Graphics]\nbAskFullscreen = 0\n' >"$settings"
start
xdotool mousemove --window "$window" 519 24 click 1
sleep 3
timeout 5 xdotool windowfocus --sync "$window" || true
xdotool keydown F12
sleep 0.3
xdotool keyup F12
sleep 1
xdotool mousemove --window "$window" 311 24 click 1
sleep 0.5
xdotool mousemove --window "$window" 184 413 click 1
sleep 1
timeout 5 import -window "$window" "$tmp/page.png" || fail "no capture of the Record page"
kill -TERM "$pid"
finish || fail "the Record page run exited $?"
gif=$XDG_DATA_HOME/vexil/shot/Vexil_000.gif
[ -s "$gif" ] || fail "Save Screenshot wrote no GIF"
convert "$tmp/page.png" -crop 400x300+24+100 +repage "$tmp/preview.png"
differing=$(compare -metric AE -fuzz 5% "$tmp/preview.png" "$gif" null: 2>&1) || true
[ "$differing" = 0 ] || fail "the Record page's preview and the saved GIF differ in $differing pixels"
# 6. With -debug the bar offers the debugger first; its page shows the active pane's title in
# its own red.
printf '[Graphics]\nbAskFullscreen = 0\n' >"$settings"
start -debug
xdotool mousemove --window "$window" 103 24 click 1
sleep 1
timeout 5 import -window "$window" "$tmp/debugger.png" 2>/dev/null || fail "no capture of the debugger page"
kill -TERM "$pid"
finish || fail "the debugger run exited $?"
red=$(convert "$tmp/debugger.png" -fill black +opaque "rgb(255,50,63)" -fill white -opaque "rgb(255,50,63)" \
    -format "%[fx:round(mean*w*h)]" info:)
[ "$red" -gt 200 ] || fail "the debugger page is not in the window ($red title pixels)"
# 7. A disk image given on the command line runs the machine at once, without Run.
printf '[Graphics]\nbAskFullscreen = 0\n' >"$settings"
start "$tmp/disks/game.st" --frames 50
finish || fail "the run of a disk exited $?"
grep -q '^50 frames' "$tmp/out" || fail "the disk on the command line did not start the machine: $(cat "$tmp/out")"
grep -q "Recent0 = \"$tmp/disks/game.st\"" "$settings" || fail "the disk is not among the recent images"
# 8. The first start asks about fullscreen in the window; a request to quit while the question
# is open answers No and ends the run cleanly, with the settings saved.
rm -f "$settings"
start
kill -TERM "$pid"
finish || fail "quitting at the fullscreen question exited $?"
grep -q '^bFullscreen = 0' "$settings" || fail "the quit did not answer No: $(cat "$settings" 2>/dev/null)"
# 9. Right Ctrl+P pauses through the window's own key events: no frame is reported while the
# machine stands, and a second press lets the run go on to its end.
printf '[Graphics]\nbAskFullscreen = 0\n' >"$settings"
start "$tmp/disks/game.st" --frames 150
for _ in $(seq 1 300); do grep -q '^frame 50$' "$tmp/out" && break; sleep 0.1; done
timeout 5 xdotool windowfocus --sync "$window" || true
xdotool key --clearmodifiers Control_R+p
before=$(grep -c '^frame' "$tmp/out")
sleep 3
after=$(grep -c '^frame' "$tmp/out")
[ "$after" -le $((before + 1)) ] || fail "the machine ran on while paused ($before, then $after reports)"
kill -0 "$pid" 2>/dev/null || fail "the paused run ended"
xdotool key --clearmodifiers Control_R+p
finish || fail "the paused run exited $?"
grep -q '^150 frames' "$tmp/out" || fail "the run did not go on after the pause: $(cat "$tmp/out")"
echo "window check: all checks passed"
