#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given number of seconds (default
# 10), starting from seed corpora made here. Fails on the first crash or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
only=${2:-}  # one target's name, to run that one alone
build=build/fuzz
corpus=$build/corpus

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEXIL_FUZZ=ON -DVEXIL_TESTS=OFF \
    -DVEXIL_BENCH=OFF >/dev/null
targets=()
for f in fuzz/*Fuzz.cpp; do
    name=$(basename "$f" .cpp)
    if [ -z "$only" ] || [ "$only" = "$name" ]; then targets+=("$name"); fi
done
cmake --build "$build" -j "$(nproc)" --target MakeFuzzSeeds "${targets[@]}" >/dev/null

# Seeds: hand-made disk images, Deflate data from gzip, and zip archives from zip.
for f in fuzz/*Fuzz.cpp; do mkdir -p "$corpus/$(basename "$f" .cpp)"; done
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

# Seeds for the settings file and the ROM loaders: a settings file as the program writes it,
# the head of the bundled EmuTOS, and the two cartridge headers.
cat > "$corpus/SettingsFuzz/saved.ini" <<'INI'
; Vexil settings

[ROMS]
Count = 2
ROM1 = "roms/etos256us.img"
Active1 = 1
ROM0 = "/nonexistent/cart.img"
Active0 = 0

[Graphics]
FrameSkip = 0
bFullscreen = 0
bAskFullscreen = 1

[Machine]
RAMSize = 0x3
bDACSound = 1
Machine = 1
g_softwareMode = 1

[Disks]
DriveA = "/home/me/disks/\"game\".st"
DriveB = ""
AutoInsertDiskA = 1
INI
head -c 16384 roms/etos256us.img > "$corpus/RomFuzz/etos-head"
printf '\xab\xcd\xef\x42\x00\x00\x00\x00' > "$corpus/RomFuzz/application"
printf '\xfa\x52\x23\x5f\x00\x00\x00\x00' > "$corpus/RomFuzz/diagnostic"
# Save states: a mode byte, then overwrites of the checked sections, a cut, or a whole file.
printf '\001\020\000\377\024\000\000\200\001\001' > "$corpus/StateFuzz/patch"
printf '\002\100\000\000' > "$corpus/StateFuzz/cut"
printf '\000VEXILSTA\001\000\000\000\000\000\000\000' > "$corpus/StateFuzz/header"

# Overlay files: an empty overlay as it stands, and one track of one sector in the wrapped form
# (mode byte 1, track count 1, the track: cylinder 0, side 0, one ID of 128 bytes, its data).
printf '\000VXOVRLAY\001\000\000\000\000\000\000\000\135\275\020\347' > "$corpus/OverlayFuzz/empty"
{
    printf '\001\001\000\000\001\000\113\000\045\000\000\000\001\000\000\000\040\000'
    head -c 128 /dev/zero
} > "$corpus/OverlayFuzz/one-track"

# Input scripts: every kind of line.
cat > "$corpus/InputScriptFuzz/all.txt" <<'SCRIPT'
# a comment
0 clock 2024-02-29 23:59:58
3 key down A
3 key up 0x1E
20 mouse -4 7 left right
25 joy 0x81
30 type "Hi!\n\"x\" \\"
SCRIPT

# Test files: every setting, step, check and wait.
cat > "$corpus/TestFileFuzz/all.test" <<'TEST'
# a comment
machine ste
ram 1024
rom tos.img
disk "a b.st"
disk-b b.msa
frames 900
natfeats off
printer -
serial out.txt
serial-in in.bin
expect exit 3
0 clock 2024-02-29 23:59:58
5 type "Hi!\n"
10 screenshot shot.tga
11 dump ram 0x100 16 ram.bin
until ram 0x100000 == 52454459
2 expect pixel 400 300 0000A4
2 expect region 80 100 640 400 e0bad3238cbd5ce48ecf0e5339c53d63ad3abc88809b57775c76137b0700e9fb
3 expect ram 0x100 CAFE
4 expect output "a\r\t\"b\\"
5 expect sound
6 expect silence
7 until output "<end>"
until pc 0xE00100
until exit
TEST
# GEMDOS calls: a memory image (a basepage at 0x100 on drive C: with its DTA at 0x1000, the
# path "C:\*.*" at 0x800, Fsfirst's arguments at 0x900), then Fsfirst, Fsnext and Fopen.
{
    printf '\x0a\x00'
    head -c 2560 /dev/zero
    printf '\x13\x00\x09\x00\x14\x00\x09\x00\x07\x00\x09\x00'
} > "$work/gemdos"
printf '\x00\x00\x10\x00' | dd of="$work/gemdos" bs=1 seek=$((2 + 0x120)) conv=notrunc status=none
printf '\x02' | dd of="$work/gemdos" bs=1 seek=$((2 + 0x137)) conv=notrunc status=none
printf 'C:\\*.*\x00' | dd of="$work/gemdos" bs=1 seek=$((2 + 0x800)) conv=notrunc status=none
printf '\x00\x4e\x00\x00\x08\x00\x00\x10' | dd of="$work/gemdos" bs=1 seek=$((2 + 0x900)) conv=notrunc status=none
cp "$work/gemdos" "$corpus/GemdosFuzz/calls"

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
