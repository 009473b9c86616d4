#!/usr/bin/env python3
"""Small reader of the installation's frame PNGs (8-bit RGB/RGBA, no interlace)
for the end-to-end checks, using only the standard library."""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError(path + ': not a PNG')
    pos = 8
    idat = b''
    width = height = channels = 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b'IHDR':
            width, height, depth, colour = struct.unpack('>IIBB', body[:10])
            if depth != 8 or colour not in (2, 6):
                raise ValueError(path + ': unsupported PNG layout')
            channels = 3 if colour == 2 else 4
        elif kind == b'IDAT':
            idat += body
        elif kind == b'IEND':
            break
    raw = zlib.decompress(idat)
    stride = width * channels
    rows = []
    previous = bytearray(stride)
    p = 0
    for _ in range(height):
        kind = raw[p]
        line = bytearray(raw[p + 1:p + 1 + stride])
        p += 1 + stride
        # Unfiltered rows, and the black rows that fill most frames, need no
        # work (every predictor of zeros is zero).
        if kind == 0 or (line.count(0) == stride and previous.count(0) == stride):
            rows.append(bytes(line))
            previous = line
            continue
        if kind == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 255
        elif kind == 2:
            line = bytearray((x + y) & 255 for x, y in zip(line, previous))
        else:
            for i in range(stride):
                a = line[i - channels] if i >= channels else 0
                b = previous[i]
                if kind == 3:
                    line[i] = (line[i] + (a + b) // 2) & 255
                elif kind == 4:
                    c = previous[i - channels] if i >= channels else 0
                    pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                    pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                    line[i] = (line[i] + pred) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


class Frame:
    def __init__(self, path):
        self.width, self.height, self.channels, self.rows = read_png(path)

    def pixel(self, x, y):
        row = self.rows[y]
        i = x * self.channels
        return tuple(row[i:i + 3])

    def mean(self, x0, y0, x1, y1):
        total = [0, 0, 0]
        n = 0
        for y in range(y0, y1):
            for x in range(x0, x1):
                p = self.pixel(x, y)
                for k in range(3):
                    total[k] += p[k]
                n += 1
        return tuple(t / n for t in total)

    def fraction(self, predicate, step=4):
        hits = n = 0
        for y in range(0, self.height, step):
            for x in range(0, self.width, step):
                n += 1
                if predicate(self.pixel(x, y)):
                    hits += 1
        return hits / n

    def lightness(self, step=4):
        """The mean of each sampled pixel's darkest channel: white laid over
        anything raises it, a coloured picture alone does not."""
        total = n = 0
        for y in range(0, self.height, step):
            for x in range(0, self.width, step):
                total += min(self.pixel(x, y))
                n += 1
        return total / n


def fail(message):
    print('FAIL: ' + message)
    sys.exit(1)
