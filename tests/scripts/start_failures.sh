#!/usr/bin/env bash
# A start that fails on an input file says so in exactly one line, naming the
# right file and the reason, and exits 1: an unreadable or hostile voice
# file, a data folder that does not exist, broken pictures (a BMP whose header
# claims 100 000 x 100 000 pixels is refused at once, not after gigabytes).
# What is not a regular file (a FIFO, /dev/zero, a folder) in place of a
# required file or --config is refused at once, without blocking or reading.
# A missing logo texture is not a failure (the logo is never drawn).
# usage: start_failures.sh SOLVANE BUILD_DIR   (run from the source folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"
private_home

# expect_one_line NAME PATTERN ARGS...: exit 1 within 20 s, and of the lines
# on stderr exactly one says that something failed, matching PATTERN (the
# others are the usual notices of a start: video driver, graphics).
expect_one_line() {
    local name="$1" pattern="$2"
    shift 2
    local status=0
    timeout 20 "$solvane" --headless --fast --steps 5 "$@" > /dev/null 2> "$work/$name.log" || status=$?
    local failures
    failures="$(grep -c -i -E "cannot|refused|missing|not loaded|error" "$work/$name.log" || true)"
    if [ "$status" -ne 1 ] || [ "$failures" -ne 1 ] || ! grep -q -- "$pattern" "$work/$name.log"; then
        echo "$name: status $status, expected 1 and one line matching: $pattern"
        cat "$work/$name.log"
        exit 1
    fi
    echo "$name: $(grep -- "$pattern" "$work/$name.log")"
}

python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
def wave(path, rate, data=b"\0\1" * 100):
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data
    open(path, "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
wave(f"{work}/1hz.wav", 1)
open(f"{work}/garbage.wav", "wb").write(b"this is not a wave file")
bmp = bytearray(b"BM" + struct.pack("<IHHI", 210, 0, 0, 54) + struct.pack("<IiiHH", 40, 100000, 100000, 1, 24))
bmp += b"\x40" * (210 - len(bmp))
open(f"{work}/hostile.bmp", "wb").write(bmp)
PY

expect_one_line voice-1hz "cannot start: voice file \"$work/1hz.wav\": refused: a rate of 1 Hz" \
    --voice "$work/1hz.wav" --data "$source_dir/data"
expect_one_line voice-garbage "cannot start: voice file \"$work/garbage.wav\": not a RIFF WAVE file" \
    --voice "$work/garbage.wav" --data "$source_dir/data"
expect_one_line voice-missing "cannot start: voice file \"$work/none.wav\": cannot open the file" \
    --voice "$work/none.wav" --data "$source_dir/data"
expect_one_line data-missing "cannot start: the data folder \"$work/no-such-folder\" is missing" \
    --data "$work/no-such-folder"

for picture in light1.bmp light2.bmp spheremap.bmp; do
    rm -rf "$work/data"
    cp -r "$source_dir/data" "$work/data"
    cp "$work/hostile.bmp" "$work/data/$picture"
    expect_one_line "hostile-$picture" \
        "cannot start: cannot read data file \"$work/data/$picture\": picture size 100000 x 100000" --data "$work/data"
done

mkfifo "$work/fifo"
mkdir "$work/folder"
for target in "$work/fifo" /dev/zero "$work/folder"; do
    name="$(basename "$target")"
    expect_one_line "config-$name" "cannot start: cannot read the settings file \"$target\": not a regular file" \
        --config "$target" --data "$source_dir/data"
    [ "$name" = folder ] && continue  # the readers' unit tests cover folders
    rm -rf "$work/data"
    cp -r "$source_dir/data" "$work/data"
    rm "$work/data/logo.x"
    ln -s "$target" "$work/data/logo.x"
    expect_one_line "logo-$name" "cannot start: cannot read data file \"$work/data/logo.x\": not a regular file" \
        --data "$work/data"
done
# theStrings.ini on /dev/zero: one warning, and the run goes on without pictures.
rm -rf "$work/data"
cp -r "$source_dir/data" "$work/data"
ln -s /dev/zero "$work/data/theStrings.ini"
timeout 20 "$solvane" --headless --fast --steps 5 --data "$work/data" > /dev/null 2> "$work/strings-zero.log" \
    || { echo "theStrings.ini on /dev/zero: the run failed"; cat "$work/strings-zero.log"; exit 1; }
grep -q "theStrings.ini: not a regular file (a character device); running without pictures" "$work/strings-zero.log" \
    || { echo "theStrings.ini on /dev/zero: no warning"; cat "$work/strings-zero.log"; exit 1; }

rm -rf "$work/data"
cp -r "$source_dir/data" "$work/data"
rm "$work/data/logo.bmp"
timeout 60 "$solvane" --headless --fast --steps 5 --data "$work/data" > /dev/null 2> "$work/no-logo-texture.log" \
    || { echo "no logo.bmp: the start failed"; cat "$work/no-logo-texture.log"; exit 1; }
echo "start_failures: ok"
