#!/usr/bin/python3
# Double-precision reference of the kernel resampler: corner-aligned scale, kernel stretched by the
# scale when shrinking, weights normalised per list, reflected edges, the horizontal pass clamped to
# 0..255 (not rounded), the vertical pass rounded and clamped.
# usage: kernel_reference.py in.raw out.raw filter dstW dstH
#   in.raw: width, height (32-bit little-endian) and width x height x 3 bytes; out.raw: the same.
import math
import struct
import sys


def sinc(x):
    if x == 0:
        return 1.0
    x *= math.pi
    return math.sin(x) / x


def tri(x):
    a = abs(x)
    return 1 - a if a < 1 else 0.0


def hermite(x):
    a = abs(x)
    return (2 * a - 3) * a * a + 1 if a < 1 else 0.0


def bell(x):
    a = abs(x)
    if a < 0.5:
        return 0.75 - a * a
    if a < 1.5:
        return 0.5 * (a - 1.5) ** 2
    return 0.0


def bspline(x):
    a = abs(x)
    if a < 1:
        return 0.5 * a ** 3 - a * a + 2.0 / 3.0
    if a < 2:
        return (2 - a) ** 3 / 6
    return 0.0


def lanczos3(x):
    return sinc(x) * sinc(x / 3) if abs(x) < 3 else 0.0


def mitchell(x):
    a = abs(x)
    if a < 1:
        return (7 * a ** 3 - 12 * a * a + 16.0 / 3.0) / 6
    if a < 2:
        return (-7.0 / 3.0 * a ** 3 + 12 * a * a - 20 * a + 32.0 / 3.0) / 6
    return 0.0


def box(x):
    return 1.0 if -0.5 < x <= 0.5 else 0.0


def linear(x):
    if -1 <= x < 0:
        return x + 1
    if 0 <= x < 1:
        return 1 - x
    return 0.0


KERNELS = {1: (tri, 1.0), 2: (hermite, 1.0), 3: (bell, 1.5), 4: (bspline, 2.0), 5: (lanczos3, 3.0),
           6: (mitchell, 2.0), 7: (box, 1.0), 8: (linear, 1.0)}


def reflect(j, n):
    if j < 0:
        j = -j
    if j >= n:
        j = 2 * n - 1 - j
    return min(max(j, 0), n - 1)


def weights(src, dst, kernel, radius):
    scale = dst / src if (src == 1 or dst == 1) else (dst - 1) / (src - 1)
    width = radius if scale >= 1 else radius / scale
    ks = 1.0 if scale >= 1 else scale
    lists = []
    for i in range(dst):
        c = i / scale
        items = [(reflect(j, src), kernel((c - j) * ks))
                 for j in range(math.floor(c - width), math.ceil(c + width) + 1)]
        total = sum(w for _, w in items)
        lists.append([(p, w / total) for p, w in items])
    return lists


def main():
    src, out, filt, dw, dh = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
    data = open(src, 'rb').read()
    sw, sh = struct.unpack('<ii', data[:8])
    px = data[8:]
    kernel, radius = KERNELS[filt]
    hl = weights(sw, dw, kernel, radius)
    vl = weights(sh, dh, kernel, radius)
    work = []
    for y in range(sh):
        row = px[y * sw * 3:(y + 1) * sw * 3]
        wr = []
        for i in range(dw):
            for c in range(3):
                s = sum(w * row[p * 3 + c] for p, w in hl[i])
                wr.append(min(max(s, 0.0), 255.0))
        work.append(wr)
    res = bytearray()
    for k in range(dh):
        for x in range(dw * 3):
            s = sum(w * work[p][x] for p, w in vl[k])
            res.append(int(min(max(round(s), 0), 255)))
    open(out, 'wb').write(struct.pack('<ii', dw, dh) + bytes(res))


main()
