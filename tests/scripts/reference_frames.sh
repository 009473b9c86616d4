#!/usr/bin/env bash
# Every frame stays what it was: one long run of a loud synthetic voice that
# grows all sixteen crystals to the longest recording, shows them, dissolves
# them into thousands of sparks and lets them rest, then Escape closes the
# program; selected frames (title, growth, full, dissolving, resting,
# closing) are compared with tests/reference/frames.
# usage: reference_frames.sh SOLVANE BUILD_DIR   (run from the source folder)
# With SOLVANE_KEEP_FRAMES=DIR the rendered frames are copied to DIR.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"

# 34 s: four silent seconds (the title fades meanwhile), then 30 s of two
# sweeping tones, loud in every block, longer than the longest recording.
# No dither, so the file is the same on every run.
sox -D -n -r 160000 -c 1 -b 16 "$work/voice.wav" synth 30 sine 150-1800 sine 300-600 remix - \
    gain -n -2 pad 4 0

# A copy of the data folder, so the stored voice does not land in the source.
fresh_data "$work/data"
HOME="$work/home" XDG_DATA_HOME="$work/xdg" "$solvane" --headless --fast --seed 7 \
    --voice "$work/voice.wav" --data "$work/data" --press escape@780 \
    --frames "$work/frames" --frame-every 10 2> "$work/run.log" || { cat "$work/run.log"; exit 1; }

if [ -n "${SOLVANE_KEEP_FRAMES:-}" ]; then
    mkdir -p "$SOLVANE_KEEP_FRAMES"
    cp "$work"/frames/*.png "$SOLVANE_KEEP_FRAMES"/
fi
python3 "$source_dir/tests/scripts/compare_frames.py" "$source_dir/tests/reference/frames" "$work/frames"
