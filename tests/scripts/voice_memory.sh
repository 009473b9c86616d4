#!/usr/bin/env bash
# The voice that grows the crystals is kept: a spoken phrase played as the
# microphone ends up, block for block, in <data>/memory.wav; when the data
# folder refuses the file it goes to the user data folder instead; and
# --echo plays the stored voice through SDL's disk audio driver.
# usage: voice_memory.sh SOLVANE BUILD_DIR   (run from the source folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"

espeak-ng -w "$work/phrase.wav" "the crystals grow from the voice"
# At 160 000 Hz mono the program's conversion is the identity, so the stored
# samples can be compared with the file exactly. The phrase starts after four
# seconds, once the title has faded and the crystals listen.
sox "$work/phrase.wav" -r 160000 -c 1 -b 16 "$work/voice.wav" gain -n -1 pad 4 0

run() {
    HOME="$work/home" XDG_DATA_HOME="$work/xdg" "$solvane" --headless --fast --voice "$work/voice.wav" \
        --steps 600 --data "$1" "${@:2}"
}

echo "== the voice is stored in the data folder"
fresh_data "$work/data"
SDL_AUDIODRIVER=dummy run "$work/data" 2> "$work/first.log" || { cat "$work/first.log"; exit 1; }
python3 "$source_dir/tests/scripts/check_memory_wav.py" "$work/data/memory.wav" "$work/voice.wav"
test ! -e "$work/xdg/solvane/memory.wav"

echo "== in real time (steps a little over 50 ms apart) no block of the recording is lost"
fresh_data "$work/realtime"
HOME="$work/home" XDG_DATA_HOME="$work/xdg" SDL_AUDIODRIVER=dummy "$solvane" --headless --voice "$work/voice.wav" \
    --steps 160 --data "$work/realtime" 2> "$work/realtime.log" || { cat "$work/realtime.log"; exit 1; }
python3 "$source_dir/tests/scripts/check_memory_wav.py" "$work/realtime/memory.wav" "$work/voice.wav"

echo "== a data folder that refuses the file: the user data folder, loaded and echoed from there"
fresh_data "$work/refusing"
mkdir "$work/refusing/memory.wav"   # refused whatever rights the test runs with
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw" SDL_DISKAUDIODELAY=5 \
    run "$work/refusing" --echo 2> "$work/second.log" || { cat "$work/second.log"; exit 1; }
grep -q "cannot write \"$work/refusing/memory.wav\"" "$work/second.log"
python3 "$source_dir/tests/scripts/check_memory_wav.py" "$work/xdg/solvane/memory.wav" "$work/voice.wav"
rate="$(sed -n 's/.*solvane: music: playback at \([0-9]*\) Hz.*/\1/p' "$work/second.log" | head -1)"
test -n "$rate"
python3 "$source_dir/tests/scripts/check_memory_wav.py" "$work/xdg/solvane/memory.wav" "$work/voice.wav" \
    "$work/played.raw" "$rate"
echo "voice_memory: ok"
