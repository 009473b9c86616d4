#!/usr/bin/env bash
# A live recording survives a kill -9: the demo runs in real time with
# --video for a few seconds, is killed without warning, and the file it
# leaves still decodes up to its last fragment (a key picture every 2 s;
# on a busy machine the encoder, at the lowest priority, drops pictures).
# A second run, into a Matroska file, is killed the same way.
# usage: video_kill.sh SOLVANE BUILD_DIR   (run from the source folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"
# A run still going when the check fails is killed as the check kills it.
stop_signal=KILL
private_home
fresh_data "$work/data"

record_and_kill() {  # file: killed once 100 pictures are encoded (two fragments closed)
    local file="$1"
    rm -f "$work/status.json"
    "$solvane" --headless --demo --seed 1 --data "$work/data" --status-file "$work/status.json" \
        --video "$file" 2> "$work/log" &
    pid=$!
    pids=("$pid")
    # Counted in pictures encoded, not in seconds: on a busy machine the
    # encoder, at the lowest priority, gets little time and drops pictures.
    local encoded=0
    # NOTE: a closed fragment reaches the disk at the next periodic flush,
    # which a starved encoder may reach well after its 41st picture.
    for _ in $(seq 1200); do
        encoded="$(grep -o '"frames": [0-9]*' "$work/status.json" 2>/dev/null | grep -o '[0-9]*$' || true)"
        [ "${encoded:-0}" -ge 100 ] && break
        sleep 0.1
    done
    kill -9 "$pid"
    wait "$pid" 2>/dev/null || true
    pids=()
    local frames
    frames="$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
        -of default=noprint_wrappers=1:nokey=1 "$file" || true)"
    local steps
    steps="$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["steps"])' "$work/status.json")"
    echo "video_kill: $(basename "$file"): $frames pictures decode after a kill -9 at step ~$steps ($encoded encoded)"
    # The first fragment (a key picture every 40 encoded pictures) is whole.
    if ! [ "${frames:-0}" -ge 40 ] 2>/dev/null; then
        echo "video_kill: FAIL: $(basename "$file") holds too few pictures that decode (${frames:-none})" >&2
        cat "$work/log" >&2
        exit 1
    fi
}

record_and_kill "$work/live.mp4"
record_and_kill "$work/live.mkv"
echo "video_kill: ok"
