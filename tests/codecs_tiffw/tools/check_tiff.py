#!/usr/bin/python3
"""Checks TIFF files with libtiff's tools and PIL against the pixels they should hold.

Manifest lines: "<file.tif> <mode> <max|mean> <tolerance>", the expected samples in <file.tif>.want.
mode RGB: PIL's RGB conversion and tifftopnm (brought to 8 bits) must match the want file (R, G, B);
mode PNM16: tifftopnm's 16-bit samples (big-endian); any other mode: PIL must open the file in that
mode and its raw samples must match. Every file must pass `tiffinfo -D` without a message.
Prints one line per failure; exits 1 when there was any.
"""
import subprocess
import sys

from PIL import Image


def compare(got, want, how, tol):
    if len(got) != len(want):
        return "size %d, want %d" % (len(got), len(want))
    diffs = [abs(a - b) for a, b in zip(got, want)]
    worst = max(diffs) if diffs else 0
    mean = sum(diffs) / len(diffs) if diffs else 0
    if (how == "max" and worst > tol) or (how == "mean" and mean > tol):
        return "differs: max %d mean %.2f" % (worst, mean)
    return None


def pnm_samples(path, depth):
    cmd = "tifftopnm '%s' 2>/dev/null" % path
    if depth == 8:
        cmd += " | pamdepth 255 | pamtopnm"
    data = subprocess.run(["sh", "-c", cmd], capture_output=True).stdout
    # header: magic, width, height, maxval
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    body = data[pos + 1:]
    if fields[0] == b"P5":  # grey: as RGB
        n = 2 if depth == 16 else 1
        body = b"".join(body[i:i + n] * 3 for i in range(0, len(body), n))
    return body


def check(path, mode, how, tol):
    want = open(path + ".want", "rb").read()
    r = subprocess.run(["tiffinfo", "-D", path], capture_output=True, text=True)
    if r.returncode != 0 or r.stderr.strip():
        return "tiffinfo -D: %s" % r.stderr.strip()[:200]
    if mode == "PNM16":
        return compare(pnm_samples(path, 16), want, how, tol)
    im = Image.open(path)
    if mode == "RGB":
        err = compare(im.convert("RGB").tobytes(), want, how, tol)
        if err:
            return "PIL " + err
        err = compare(pnm_samples(path, 8), want, how, tol)
        return "tifftopnm " + err if err else None
    if im.mode != mode:
        return "PIL mode %s, want %s" % (im.mode, mode)
    err = compare(im.tobytes(), want, how, tol)
    return "PIL " + err if err else None


def main():
    failed = False
    for line in open(sys.argv[1]):
        if not line.strip():
            continue
        path, mode, how, tol = line.split()
        try:
            err = check(path, mode, how, float(tol))
        except Exception as e:  # a file PIL cannot open is a failure too
            err = "%s: %s" % (type(e).__name__, e)
        if err:
            failed = True
            print("%s: %s" % (path, err))
    sys.exit(1 if failed else 0)


main()
