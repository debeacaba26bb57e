#!/usr/bin/env python3
"""Draws the view's 35 cursor images as 32 x 32 monochrome .cur files and writes the resource script
that names them.  Usage: makecursors.py OUTDIR

Each cursor is black strokes with a one-pixel white halo, so it stays visible on any background.
"""
import os
import struct
import sys

N = 32
T, B, W = 0, 1, 2  # transparent, black, white


class Canvas:
    def __init__(self):
        self.p = [[T] * N for _ in range(N)]

    def dot(self, x, y, c=B):
        if 0 <= x < N and 0 <= y < N:
            self.p[y][x] = c

    def line(self, x1, y1, x2, y2, c=B):
        dx, dy = abs(x2 - x1), -abs(y2 - y1)
        sx, sy = (1 if x1 < x2 else -1), (1 if y1 < y2 else -1)
        err = dx + dy
        while True:
            self.dot(x1, y1, c)
            if x1 == x2 and y1 == y2:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x1 += sx
            if e2 <= dx:
                err += dx
                y1 += sy

    def rect(self, x1, y1, x2, y2, c=B, fill=None):
        if fill is not None:
            for y in range(y1 + 1, y2):
                for x in range(x1 + 1, x2):
                    self.dot(x, y, fill)
        self.line(x1, y1, x2, y1, c)
        self.line(x2, y1, x2, y2, c)
        self.line(x2, y2, x1, y2, c)
        self.line(x1, y2, x1, y1, c)

    def ellipse(self, cx, cy, rx, ry, c=B, fill=None):
        for y in range(N):
            for x in range(N):
                d = ((x - cx) / max(rx, 0.5)) ** 2 + ((y - cy) / max(ry, 0.5)) ** 2
                inner = ((x - cx) / max(rx - 1, 0.5)) ** 2 + ((y - cy) / max(ry - 1, 0.5)) ** 2
                if d <= 1.0 and inner > 1.0:
                    self.dot(x, y, c)
                elif d <= 1.0 and fill is not None:
                    self.dot(x, y, fill)

    def halo(self):
        out = [row[:] for row in self.p]
        for y in range(N):
            for x in range(N):
                if self.p[y][x] != T:
                    continue
                for dx in (-1, 0, 1):
                    for dy in (-1, 0, 1):
                        xx, yy = x + dx, y + dy
                        if 0 <= xx < N and 0 <= yy < N and self.p[yy][xx] == B:
                            out[y][x] = W
        self.p = out


def arrow_head(c, x, y, dx, dy, size=4):
    # a filled triangle pointing along (dx, dy) with its tip at (x, y)
    for i in range(size + 1):
        bx, by = x - dx * i, y - dy * i
        if dx == 0 or dy == 0:
            px, py = dy, dx  # perpendicular
            c.line(bx - px * i, by - py * i, bx + px * i, by + py * i)
        else:
            # diagonal: the two sides run back along the axes from the tip
            c.line(x, y, x - dx * size, y)
            c.line(x, y, x, y - dy * size)
            c.line(x - dx * i, y, x, y - dy * i)


def double_arrow(c, x1, y1, x2, y2):
    c.line(x1, y1, x2, y2)
    sx = (x2 > x1) - (x2 < x1)
    sy = (y2 > y1) - (y2 < y1)
    arrow_head(c, x2, y2, sx, sy)
    arrow_head(c, x1, y1, -sx, -sy)


def cross(c, gap=0, box=False, thick=False):
    m = 15
    for o in ([0, 1] if thick else [0]):
        c.line(m + o, 2, m + o, m - gap - 1 if gap else 28)
        c.line(2, m + o, m - gap - 1 if gap else 28, m + o)
        if gap:
            c.line(m + o, m + gap + 1, m + o, 28)
            c.line(m + gap + 1, m + o, 28, m + o)
    if box:
        c.rect(m - 2, m - 2, m + 2, m + 2)


def badge(c, kind):
    # a small sign at the bottom right: '+', '-' or a drawing tool
    if kind == "+":
        c.line(22, 26, 30, 26)
        c.line(26, 22, 26, 30)
    elif kind == "-":
        c.line(22, 26, 30, 26)
    elif kind == "line":
        c.line(20, 30, 30, 20)
    elif kind == "rect":
        c.rect(20, 22, 30, 30)
    elif kind == "ellipse":
        c.ellipse(25, 26, 5, 4)
    elif kind == "text":
        c.line(20, 21, 30, 21)
        c.line(25, 21, 25, 30)
    elif kind == "ruler":
        c.line(19, 30, 30, 19)
        for i in range(0, 10, 3):
            c.line(20 + i, 29 - i, 22 + i, 31 - i)
    elif kind == "polyline":
        c.line(19, 30, 23, 22)
        c.line(23, 22, 27, 28)
        c.line(27, 28, 30, 20)
    elif kind == "memo":
        c.rect(19, 20, 30, 30)
        for y in (23, 26):
            c.line(21, y, 28, y)
    elif kind == "angle":
        c.line(19, 30, 30, 30)
        c.line(19, 30, 28, 20)
    elif kind == "filledrect":
        c.rect(20, 22, 30, 30, fill=B)
    elif kind == "filledellipse":
        c.ellipse(25, 26, 5, 4, fill=B)
    elif kind == "arrow":
        c.line(19, 30, 30, 19)
        arrow_head(c, 30, 19, 1, -1, 3)
    elif kind == "polygon":
        c.line(19, 30, 24, 20)
        c.line(24, 20, 30, 27)
        c.line(30, 27, 19, 30)
    elif kind == "bitmap":
        c.rect(19, 20, 30, 30)
        c.line(20, 29, 24, 24)
        c.line(24, 24, 29, 29)


def magnifier(c, sign):
    c.ellipse(11, 11, 9, 9)
    for o in (0, 1, 2):
        c.line(17 + o, 18, 27 + o, 28)
    c.line(7, 11, 15, 11)
    if sign == "+":
        c.line(11, 7, 11, 15)


def hand(c):
    for i, (x, top) in enumerate(((9, 6), (13, 3), (17, 3), (21, 6))):
        c.rect(x, top, x + 3, 16)
    c.rect(9, 15, 24, 27, fill=W)
    c.line(9, 15, 5, 11)
    c.line(5, 11, 3, 13)
    c.line(3, 13, 9, 22)


def pen(c):
    for o in (-2, -1, 0, 1, 2):
        c.line(6 + o, 24 - o, 26 + o, 4 - o)
    c.line(1, 30, 6, 25)
    c.line(3, 26, 5, 28)


def eraser(c):
    c.line(2, 22, 14, 10)
    c.line(14, 10, 24, 20)
    c.line(24, 20, 12, 32 - 1)
    c.line(12, 31, 2, 22)
    c.line(14, 10, 26, 2)
    c.line(26, 2, 30, 6)
    c.line(30, 6, 24, 20)


def rotation(c, quadrant):
    # a quarter arc with an arrow at each end, turned into the quadrant of its layer corner
    pts = []
    for y in range(N):
        for x in range(N):
            d = ((x - 4) ** 2 + (y - 4) ** 2) ** 0.5
            if 17.5 <= d <= 18.5 and x >= 4 and y >= 4:
                pts.append((x, y))
    for x, y in pts:
        c.dot(x, y)
    arrow_head(c, 22, 6, 0, -1, 3)
    arrow_head(c, 6, 22, -1, 0, 3)
    if quadrant & 1:
        c.p = [row[::-1] for row in c.p]
    if quadrant & 2:
        c.p = c.p[::-1]


def four_way(c):
    double_arrow(c, 15, 2, 15, 28)
    double_arrow(c, 2, 15, 28, 15)


# name -> (drawing, hot spot)
def cursors():
    out = {}

    def add(name, draw, hot=(15, 15)):
        c = Canvas()
        draw(c)
        c.halo()
        out[name] = (c, hot)

    add("ZOOMMENO", lambda c: magnifier(c, "-"), (11, 11))
    add("ZOOMPIU", lambda c: magnifier(c, "+"), (11, 11))
    add("CROCE", lambda c: cross(c))
    add("GOMMA", eraser, (3, 22))
    add("MANO", hand, (15, 15))
    add("PENNA", pen, (1, 30))
    add("CROCE1", lambda c: cross(c, gap=3))
    add("CROCE3", lambda c: cross(c, box=True))
    add("MOVE2", lambda c: double_arrow(c, 4, 4, 26, 26))
    add("MOVEY", lambda c: double_arrow(c, 15, 2, 15, 28))
    add("MOVE1", lambda c: double_arrow(c, 26, 4, 4, 26))
    add("MOVEX", lambda c: double_arrow(c, 2, 15, 28, 15))
    add("MOVE", four_way)
    add("CROCE3+", lambda c: (cross(c, box=True), badge(c, "+")))
    add("CROCE3-", lambda c: (cross(c, box=True), badge(c, "-")))
    add("CROCE2", lambda c: cross(c, gap=3, thick=True))
    add("CROCE2+", lambda c: (cross(c, gap=3, thick=True), badge(c, "+")))
    add("CROCE2-", lambda c: (cross(c, gap=3, thick=True), badge(c, "-")))
    tools = ["line", "rect", "ellipse", "text", "ruler", "polyline", "memo", "angle", "filledrect",
             "filledellipse", "arrow", "polygon", "bitmap"]
    numbered = [1795, 1796, 1797, 1798, 1799, 1800, 1801, 1802, 1803, 1805, 1806, 1807, 1808]
    for n, tool in zip(numbered, tools):
        add(str(n), lambda c, tool=tool: (cross(c, gap=2), badge(c, tool)))
    for i in range(4):
        add("ROT%d" % (i + 1), lambda c, i=i: rotation(c, i))
    return out


def cur_bytes(c, hot):
    # XOR (colour) and AND (transparency) masks, bottom-up rows of 4 bytes
    xor_rows, and_rows = [], []
    for y in range(N - 1, -1, -1):
        xb, ab = 0, 0
        for x in range(N):
            v = c.p[y][x]
            bit = 1 << (31 - x)
            if v == W:
                xb |= bit
            if v == T:
                ab |= bit
        xor_rows.append(struct.pack(">I", xb))
        and_rows.append(struct.pack(">I", ab))
    header = struct.pack("<IiiHHIIiiII", 40, N, 2 * N, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", N, N, 2, 0, hot[0], hot[1], len(image), 6 + 16)
    return directory + entry + image


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    lines = []
    for name, (c, hot) in cursors().items():
        file_name = "cur_" + name.replace("+", "plus").replace("-", "minus") + ".cur"
        with open(os.path.join(outdir, file_name), "wb") as f:
            f.write(cur_bytes(c, hot))
        path = os.path.join(outdir, file_name).replace("\\", "/")
        # numbered resources get integer identifiers, the others string names
        rid = name if name.isdigit() else '"%s"' % name
        # the LANGUAGE statement keeps the resource compiler from joining the file name with the next
        # quoted name as one string
        lines.append('LANGUAGE 0, 0\n%s CURSOR "%s"' % (rid, path))
    with open(os.path.join(outdir, "viewcursors.rc"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
