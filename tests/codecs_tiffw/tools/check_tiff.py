#!/usr/bin/python3
"""Checks TIFF files with libtiff's tools and PIL against the pixels they should hold.

Manifest lines: "<file.tif> <mode> <max|mean> <tolerance>", the expected samples in <file.tif>.want.
mode RGB: PIL's RGB conversion and tifftopnm (brought to 8 bits) must match the want file (R, G, B);
mode JPEG: the same against the pixels of the want file, a JPEG file; mode RGB16: ImageMagick's
16-bit samples (big-endian); mode RGBa: PIL must open the file as RGBA (from associated alpha) and
its premultiplied samples must match; any other mode: PIL must open the file in that mode and its
raw samples must match. Every file must pass `tiffinfo -D` without a message but the
notes libtiff gives every old-style JPEG file and the fax option tags it only knows for one coding.
Prints one line per failure; exits 1 when there was any.
"""
import concurrent.futures
import re
import subprocess
import sys

from PIL import Image


# libtiff's notes on valid files: old-style JPEG is deprecated; T4Options and T6Options are known
# only for the compression they belong to.
TOLERATED = [
    re.compile(r"^OJPEGSetupDecode: Warning, Deprecated and troublesome old-style JPEG"),
    # libtiff's raw old-style JPEG path reads only whole 2 x 2 blocks; PIL and tiff2rgba read them all
    re.compile(r"^OJPEGDecodeRaw: Fractional scanline not read\.$"),
    re.compile(r"^TIFFReadDirectory: Warning, Unknown field with tag 29[23] \(0x12[45]\) encountered\.$"),
]


def compare(got, want, how, tol):
    if len(got) != len(want):
        return "size %d, want %d" % (len(got), len(want))
    diffs = [abs(a - b) for a, b in zip(got, want)]
    worst = max(diffs) if diffs else 0
    mean = sum(diffs) / len(diffs) if diffs else 0
    if (how == "max" and worst > tol) or (how == "mean" and mean > tol):
        return "differs: max %d mean %.2f" % (worst, mean)
    return None


def pnm_samples(path):
    # tifftopnm knows no YCbCr: such files go through libtiff's RGBA reader first
    cmd = ("(tifftopnm '%s' 2>/dev/null || (tiff2rgba -c none '%s' '%s.rgba.tif' && tifftopnm '%s.rgba.tif' 2>/dev/null))"
           % (path, path, path, path))
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
        body = b"".join(body[i:i + 1] * 3 for i in range(len(body)))
    return body


def check(path, mode, how, tol):
    want = open(path + ".want", "rb").read()
    r = subprocess.run(["tiffinfo", "-D", path], capture_output=True, text=True)
    messages = [m for m in r.stderr.splitlines() if m.strip() and not any(t.match(m) for t in TOLERATED)]
    fractional = "Fractional scanline not read" in r.stderr  # tiffinfo ends with 1 after it
    if (r.returncode != 0 and not fractional) or messages:
        return "tiffinfo -D: %s" % " / ".join(messages)[:300]
    if mode == "RGB16":
        got = subprocess.run(["convert", path, "-depth", "16", "-endian", "MSB", "rgb:-"], capture_output=True).stdout
        return compare(got, want, how, tol)
    im = Image.open(path)
    if mode == "JPEG":
        want = Image.open(path + ".want").convert("RGB").tobytes()
        mode = "RGB"
    if mode == "RGBa":
        if im.mode != "RGBA":
            return "PIL mode %s, want RGBA" % im.mode
        err = compare(im.convert("RGBa").tobytes(), want, how, tol)
        return "PIL " + err if err else None
    if mode == "RGB":
        err = compare(im.convert("RGB").tobytes(), want, how, tol)
        if err:
            return "PIL " + err
        err = compare(pnm_samples(path), want, how, tol)
        return "tifftopnm " + err if err else None
    if im.mode != mode:
        return "PIL mode %s, want %s" % (im.mode, mode)
    err = compare(im.tobytes(), want, how, tol)
    return "PIL " + err if err else None


def run(line):
    path, mode, how, tol = line.split()
    try:
        err = check(path, mode, how, float(tol))
    except Exception as e:  # a file PIL cannot open is a failure too
        err = "%s: %s" % (type(e).__name__, e)
    return "%s: %s" % (path, err) if err else None


def main():
    lines = [l for l in open(sys.argv[1]) if l.strip()]
    with concurrent.futures.ProcessPoolExecutor(max_workers=3) as pool:
        failures = [f for f in pool.map(run, lines) if f]
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


main()
