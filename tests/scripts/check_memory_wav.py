#!/usr/bin/env python3
"""Checks a stored voice against the voice file that was played as the microphone.

usage: check_memory_wav.py MEMORY.wav VOICE.wav [PLAYED.raw PLAYED_RATE]

MEMORY.wav must be a 160000 Hz mono 16-bit wave whose samples are whole
microphone blocks (8000 samples each) taken, in order and without a gap, from
VOICE.wav (itself 160000 Hz mono 16-bit; after its end the microphone is
silent). With PLAYED.raw (mono 16-bit at PLAYED_RATE, as SDL's disk driver
writes it) the echo of the stored voice must be in it.
"""
import array
import sys
import wave

BLOCK = 8000


def samples_of(path):
    with wave.open(path) as w:
        assert w.getnchannels() == 1, f"{path}: {w.getnchannels()} channels"
        assert w.getsampwidth() == 2, f"{path}: {w.getsampwidth() * 8} bits"
        assert w.getframerate() == 160000, f"{path}: {w.getframerate()} Hz"
        data = array.array("h")
        data.frombytes(w.readframes(w.getnframes()))
        return data


def main():
    memory = samples_of(sys.argv[1])
    voice = samples_of(sys.argv[2])
    with open(sys.argv[1], "rb") as f:
        header = f.read(46)
    assert header[16:20] == (18).to_bytes(4, "little"), "format chunk is not 18 bytes"
    assert len(memory) > 0, "the stored voice is empty"
    assert len(memory) % BLOCK == 0, f"{len(memory)} samples is not whole blocks"
    blocks = len(memory) // BLOCK
    # Searched as bytes so that the search runs at C speed; only a match on a
    # block boundary counts.
    padded = (voice + array.array("h", bytes(2 * (len(memory) + BLOCK)))).tobytes()
    wanted = memory.tobytes()
    start = None
    at = padded.find(wanted)
    while at >= 0:
        if at % (2 * BLOCK) == 0:
            start = at // (2 * BLOCK)
            break
        at = padded.find(wanted, at + 1)
    assert start is not None, "the stored samples are not a run of the voice's blocks"
    assert max(max(memory), -min(memory)) > 4000, "the stored voice is not loud"
    print(f"memory.wav: {blocks} blocks = voice blocks {start}..{start + blocks - 1}")

    if len(sys.argv) > 3:
        rate = int(sys.argv[4])
        played = array.array("h")
        with open(sys.argv[3], "rb") as f:
            played.frombytes(f.read())
        loud = [i for i, s in enumerate(played) if abs(s) > 1000]
        assert loud, "nothing was heard"
        span = loud[-1] - loud[0] + 1
        expected = len(memory) * rate / 160000
        print(f"echo: {span} samples at {rate} Hz heard, one stored voice is {expected:.0f}")
        assert span >= 0.5 * expected, "the echo is shorter than the stored voice"
        peak_heard = max(abs(s) for s in played)
        peak_stored = max(abs(s) for s in memory)
        assert abs(peak_heard - peak_stored) < 0.2 * peak_stored, f"echo peak {peak_heard}, stored {peak_stored}"


if __name__ == "__main__":
    main()
