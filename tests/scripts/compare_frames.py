#!/usr/bin/env python3
"""Compares rendered frames with reference frames of the same run.
usage: compare_frames.py REFERENCE_DIR RENDERED_DIR
Every PNG of REFERENCE_DIR must have a counterpart of the same name; a frame
passes when its mean absolute difference over all channels is at most 1 level
and at most 0.1 % of its pixels differ by more than 24 in any channel.
Prints one line per frame (and whether it is byte-identical) and exits 1 on
the first failing frame after printing them all."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from frames import read_png  # noqa: E402

MAX_MEAN = 1.0
MAX_FAR_FRACTION = 0.001
FAR = 24


def compare(reference, rendered):
    rw, rh, rc, rrows = read_png(reference)
    nw, nh, nc, nrows = read_png(rendered)
    if (rw, rh) != (nw, nh):
        return None, None, 'size %dx%d, expected %dx%d' % (nw, nh, rw, rh)
    total = 0
    far = 0
    for y in range(rh):
        a = rrows[y]
        b = nrows[y]
        if rc == nc and a == b:
            continue
        for x in range(rw):
            worst = 0
            for k in range(3):
                d = abs(a[x * rc + k] - b[x * nc + k])
                total += d
                if d > worst:
                    worst = d
            if worst > FAR:
                far += 1
    return total / (rw * rh * 3), far / (rw * rh), None


def main():
    reference_dir, rendered_dir = sys.argv[1], sys.argv[2]
    names = sorted(n for n in os.listdir(reference_dir) if n.endswith('.png'))
    if not names:
        print('FAIL: no reference frames in ' + reference_dir)
        return 1
    failed = False
    identical = 0
    for name in names:
        reference = os.path.join(reference_dir, name)
        rendered = os.path.join(rendered_dir, name)
        if not os.path.exists(rendered):
            print('FAIL: %s was not rendered' % name)
            failed = True
            continue
        mean, far, error = compare(reference, rendered)
        if error:
            print('FAIL: %s: %s' % (name, error))
            failed = True
            continue
        same = mean == 0
        identical += same
        ok = mean <= MAX_MEAN and far <= MAX_FAR_FRACTION
        print('%s %s: mean difference %.4f, %.4f %% of pixels off by more than %d%s' % (
            'ok  ' if ok else 'FAIL', name, mean, far * 100, FAR, ', identical' if same else ''))
        failed = failed or not ok
    print('%d of %d frames identical to the reference' % (identical, len(names)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
