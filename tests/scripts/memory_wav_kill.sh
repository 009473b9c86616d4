#!/usr/bin/env bash
# A stored voice is never lost: the program is killed (-9) thirty times while
# it stores memory.wav, at a random moment of the store, and every time the
# data folder holds a whole memory.wav, either the previous voice or the new
# one. Each run plays the voice (of two, of different lengths) that is not
# the one stored, so the two outcomes can be told apart; a run that starts finds the previous run's
# partial file and removes it.
# usage: memory_wav_kill.sh SOLVANE BUILD_DIR [KILLS]   (run from the source folder)
set -euo pipefail
solvane="$1"
build="$(cd "$2" && pwd)"
kills="${3:-30}"
source_dir="$(pwd)"
work="$(mktemp -d "$build/memory-wav-kill.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/xdg" SDL_AUDIODRIVER=dummy

# Loud for 1 s (voice a) or 2 s (voice b) after the title, at the capture
# rate so that stored blocks equal voice blocks.
sox -n -r 160000 -c 1 -b 16 "$work/a.wav" synth 1 sine 440 gain -3 pad 4 3
sox -n -r 160000 -c 1 -b 16 "$work/b.wav" synth 2 sine 660 gain -3 pad 4 3
cp -r "$source_dir/data" "$work/data"
rm -f "$work/data/memory.wav"

python3 - "$solvane" "$work" "$kills" "$source_dir/tests/scripts/check_memory_wav.py" <<'PY'
import os, random, signal, subprocess, sys, time
solvane, work, kills, checker = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
data = f"{work}/data"
memory, partial = f"{data}/memory.wav", f"{data}/memory.wav.partial"
random.seed(1)

def check(expect_one_of):
    """memory.wav is whole and holds one of the named voices; returns which."""
    size = os.path.getsize(memory)
    with open(memory, "rb") as f:
        header = f.read(46)
    declared = int.from_bytes(header[42:46], "little")
    assert declared == size - 46, f"header promises {declared} bytes, the file holds {size - 46}"
    for name in expect_one_of:
        r = subprocess.run([sys.executable, checker, memory, f"{work}/{name}.wav"], capture_output=True, text=True)
        if r.returncode == 0:
            return name
    raise AssertionError(f"memory.wav ({size} bytes) is none of {expect_one_of}")

outcomes = {"previous": 0, "new": 0}
in_store = 0
missed = 0
previous = None
run = 0
done = 0
while done < kills:
    run += 1
    assert run <= 4 * kills + 1, f"only {done} kills landed in a store in {run - 1} runs"
    # Never the voice already stored, so that "previous" and "new" differ.
    voice = "b" if previous == "a" else "a"
    p = subprocess.Popen([solvane, "--headless", "--fast", "--renderer", "null", "--steps", "3000", "--voice", f"{work}/{voice}.wav",
                          "--data", data], stdout=subprocess.DEVNULL, stderr=open(f"{work}/run.log", "w"))
    deadline = time.monotonic() + 60
    if previous is None:
        # The first run stores a voice undisturbed: the "previous" of the next.
        while not (os.path.exists(memory) and os.path.getsize(memory) > 46) and time.monotonic() < deadline:
            time.sleep(0.01)
        time.sleep(0.5)
        p.send_signal(signal.SIGKILL)
        p.wait()
        previous = check([voice])
        continue
    # The partial file a kill left behind is removed by the next start.
    while os.path.exists(partial) and time.monotonic() < deadline:
        time.sleep(0.0005)
    assert not os.path.exists(partial), f"run {run}: the previous partial file was not removed"
    # Polled every half millisecond rather than in a busy loop: a store lasts
    # some milliseconds, and a spinning watcher would take a core from the
    # program it watches (and from the tests beside it).
    seen = False
    while time.monotonic() < deadline and p.poll() is None:
        if os.path.exists(partial):
            seen = True
            break
        with open(f"{work}/run.log") as log:
            if "stored the voice" in log.read():
                break  # the store was too quick to be seen on a busy machine: try again
        time.sleep(0.0005)
    if not seen:
        p.send_signal(signal.SIGKILL)
        p.wait()
        missed += 1
        assert "stored the voice" in open(f"{work}/run.log").read(), f"run {run}: no store: " + open(f"{work}/run.log").read()
        previous = check([previous, voice])
        continue
    # Somewhere inside the store: while writing, at the flush, around the rename.
    delay = random.choice([0, 0, random.uniform(0, 0.01), random.uniform(0, 0.08)])
    if delay:
        time.sleep(delay)
    still_partial = os.path.exists(partial)
    p.send_signal(signal.SIGKILL)
    p.wait()
    done += 1
    in_store += still_partial
    got = check([previous, voice])
    outcomes["new" if got == voice else "previous"] += 1
    previous = got
print(f"memory_wav_kill: {kills} kills during stores ({in_store} with the partial file still there at the kill; "
      f"{missed} runs whose store was too quick to catch): "
      f"{outcomes['previous']} whole previous, {outcomes['new']} whole new, 0 lost")
PY
echo "memory_wav_kill: ok"
