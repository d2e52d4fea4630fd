#!/usr/bin/env bash
# The program's command line: exit statuses, messages and the closing line of a headless run.
# Usage: command-line.sh path/to/vexil
set -u
vexil=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
fail() {
    echo "FAIL: $*"
    cat "$tmp/err" 2>/dev/null
    exit 1
}
# expect STATUS ARGS...: runs vexil, checks the status and that stderr has at most one line.
expect() {
    local want=$1
    shift
    "$vexil" "$@" >"$tmp/out" 2>"$tmp/err"
    local status=$?
    [ "$status" -eq "$want" ] || fail "vexil $* exited $status, not $want"
    [ "$(wc -l <"$tmp/err")" -le 1 ] || fail "vexil $* wrote more than one line of errors"
}

# The bundled US EmuTOS runs the colour monitor at 60 Hz, the monochrome one at 71 Hz: the
# closing line gives the machine time the frames took.
expect 0 --headless --frames 100
grep -Eq '^100 frames \(1\.7 s of machine time\) in [0-9.]+ s; PC \$[0-9A-F]{6} SR \$[0-9A-F]{4}$' "$tmp/out" ||
    fail "closing line: $(cat "$tmp/out")"
expect 0 --headless --frames 100 --monitor mono
grep -Eq '^100 frames \(1\.4 s of machine time\)' "$tmp/out" || fail "mono closing line: $(cat "$tmp/out")"
[ ! -e "$tmp/config/vexil/vexil.ini" ] || fail "a headless run wrote the settings file"

expect 1 --headless --rom /nonexistent
grep -q '/nonexistent' "$tmp/err" || fail "the refused ROM is not named"
expect 1 --headless --disk /nonexistent.st
grep -q 'nonexistent.st' "$tmp/err" || fail "the refused disk is not named"
expect 1 --headless --disk-b /nonexistent-b.st
grep -q 'nonexistent-b.st' "$tmp/err" || fail "the refused drive B disk is not named"
expect 0 --headless --frames 10 --wav "$tmp/sound.wav"
size=$(stat -c %s "$tmp/sound.wav")
# 44,100 samples a second of machine time: 734.5 a 60 Hz frame, 881.1 a 50 Hz one.
[ "$size" -ge $((44 + 10 * 734 * 2)) ] && [ "$size" -le $((44 + 10 * 882 * 2)) ] ||
    fail "the sound file does not hold 10 frames: $size bytes"
expect 1 --headless --frames 10 --wav /nonexistent/sound.wav
expect 0 --headless --frames 5 --ram 4096
expect 0 --headless --frames 5 --ram 2560
expect 1 --headless --frames 1 --folder-drive /nonexistent-folder
grep -q 'nonexistent-folder' "$tmp/err" || fail "the refused folder is not named"
expect 1 --headless --frames 1 --run 'C:\PROG.PRG'
mkdir -p "$tmp/drive"
expect 0 --headless --frames 10 --folder-drive-ro "$tmp/drive" --boot a

for args in "--bogus" "--frames" "--frames x" "--frames -1" "--ram 4000" "--rom" "--disk" "--disk-b" "--config" \
    "--disassemble 0" "--boot" "--boot b" "--folder-drive" "--run" "--monitor" "--monitor tv"; do
    # shellcheck disable=SC2086
    expect 2 $args
done

# An input script: a good one runs (and makes the run headless); a bad line is named and
# nothing runs.
printf '# keys\n5 key down A\n7 key up A\n9 type "ok"\n' >"$tmp/input.txt"
expect 0 --input "$tmp/input.txt" --frames 20
grep -q '^20 frames' "$tmp/out" || fail "the scripted run did not run its frames"
printf '5 key down A\n6 key sideways A\n' >"$tmp/bad-input.txt"
expect 2 --headless --input "$tmp/bad-input.txt" --frames 20
grep -q 'line 2' "$tmp/err" || fail "the bad script line is not named"
[ ! -s "$tmp/out" ] || fail "a run started with a bad script"
expect 2 --input
# --screenshot writes the last picture as an 800 x 600 24-bit TGA; an unwritable one is an error.
expect 0 --headless --frames 50 --screenshot "$tmp/shot.tga"
[ "$(stat -c %s "$tmp/shot.tga")" -eq $((18 + 800 * 600 * 3)) ] || fail "the screenshot is not 800 x 600 x 24 bits"
expect 1 --headless --frames 1 --screenshot "$tmp/missing/shot.tga"
grep -q 'missing/shot.tga' "$tmp/err" || fail "the unwritable screenshot is not named"
# Save states are options of their own.
expect 0 --headless --frames 2 --save-state "$tmp/run.state"
expect 0 --headless --frames 2 --load-state "$tmp/run.state"
# Files after the options: a disk image for drive A (then B), a save state (.vxs) loaded; a
# third file, or one that cannot be read, is refused and named.
head -c 737280 /dev/zero >"$tmp/a.st"
expect 0 --headless --frames 2 --save-state "$tmp/run.vxs"
expect 0 --headless "$tmp/a.st" --frames 2 "$tmp/a.st"
expect 0 --headless --frames 2 "$tmp/run.vxs"
expect 2 --headless "$tmp/a.st" "$tmp/a.st" "$tmp/a.st"
expect 1 --headless --frames 2 "$tmp/nonexistent-positional.st"
grep -q 'nonexistent-positional.st' "$tmp/err" || fail "the refused positional disk is not named"
expect 1 --headless --frames 2 "$tmp/a.vxs"

# A damaged settings file is reported, the run goes on, and the file stays as it was.
mkdir -p "$tmp/config/vexil"
printf '[Machine]\nRAMSize = 1\n[Dis' >"$tmp/config/vexil/vexil.ini"
expect 0 --headless --frames 1
grep -q 'not usable' "$tmp/err" || fail "the damaged settings file is not reported"
[ "$(cat "$tmp/config/vexil/vexil.ini")" = "$(printf '[Machine]\nRAMSize = 1\n[Dis')" ] || fail "settings file changed"

# Without a display the window run says so and suggests --headless.
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$vexil" --frames 1 >"$tmp/out" 2>"$tmp/err"
[ $? -eq 1 ] || fail "a window run without a display did not exit 1"
grep -q -- '--headless' "$tmp/err" || fail "no hint at --headless"
echo "command line: all checks passed"
