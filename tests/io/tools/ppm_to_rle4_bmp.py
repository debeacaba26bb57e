#!/usr/bin/python3
"""Writes a 4-bit run-length coded Windows bitmap (RLE4) of a PPM with at most 16 colours.

An encoder independent of the library's, for the reader tests: runs of equal pixels become encoded
runs, other stretches absolute runs (padded to 16-bit boundaries), each row ends with an end-of-line
code and the image with an end-of-bitmap code.
"""
import struct
import sys


def read_ppm(path):
    data = open(path, 'rb').read()
    fields, pos = [], 2
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(int(data[start:pos]))
    pos += 1
    w, h = fields[0], fields[1]
    px = [tuple(data[pos + 3 * i:pos + 3 * i + 3]) for i in range(w * h)]
    return w, h, px


def encode_row(ix):
    out, i, n = bytearray(), 0, len(ix)
    while i < n:
        run = 1
        while i + run < n and run < 255 and ix[i + run] == ix[i]:
            run += 1
        if run >= 2 or n - i < 3:
            out += bytes([run, (ix[i] << 4) | ix[i]])
            i += run
            continue
        j = i
        while j < n and j - i < 255 and (j + 1 >= n or ix[j + 1] != ix[j]):
            j += 1
        m = j - i
        if m < 3:
            out += bytes([1, ix[i] << 4])
            i += 1
            continue
        packed = bytearray()
        for k in range(0, m, 2):
            hi = ix[i + k] << 4
            lo = ix[i + k + 1] if k + 1 < m else 0
            packed.append(hi | lo)
        if len(packed) % 2:
            packed.append(0)
        out += bytes([0, m]) + packed
        i = j
    return out + bytes([0, 0])


def main(src, dst):
    w, h, px = read_ppm(src)
    palette = sorted(set(px))
    assert len(palette) <= 16
    index = {c: i for i, c in enumerate(palette)}
    body = bytearray()
    for y in range(h - 1, -1, -1):
        body += encode_row([index[px[y * w + x]] for x in range(w)])
    body += bytes([0, 1])
    pal = b''.join(bytes([b, g, r, 0]) for (r, g, b) in palette) + b'\0' * 4 * (16 - len(palette))
    offset = 14 + 40 + len(pal)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 4, 2, len(body), 2835, 2835, 16, 0)
    head = struct.pack('<2sIHHI', b'BM', offset + len(body), 0, 0, offset)
    open(dst, 'wb').write(head + info + pal + body)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
