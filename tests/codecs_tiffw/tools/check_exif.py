#!/usr/bin/python3
"""Checks the EXIF metadata of an image file with PIL and exiftool against expectations.

Usage: check_exif.py <image> <expectations>. Expectation lines: "<directory> <tag> <kind> <value>",
directory IFD0, ExifIFD or GPS (exiftool's group names), tag the decimal tag number, kind
  s  ASCII text                  n  numbers, space-separated (rationals within 1e-8 relative)
  w  Windows XP UTF-16 text      u  user comment text (PIL: after the 8-byte code)
  -  the tag must be absent (value ignored).
A value "<PIL's> | <exiftool's>" gives exiftool a value of its own where it converts the stored one
(APEX values, degrees).
Prints one line per disagreement; exits 1 when there was any.
"""
import json
import subprocess
import sys

from PIL import Image

IFD_POINTERS = {"IFD0": None, "ExifIFD": 0x8769, "GPS": 0x8825}


def numbers(v):
    if isinstance(v, (bytes, bytearray)):
        return [float(b) for b in v]
    if isinstance(v, (tuple, list)):
        return [float(x) for x in v]
    if isinstance(v, str):
        return [float(x) for x in v.replace(":", " ").split()]  # exiftool shows times as h:m:s
    return [float(v)]


def same_numbers(got, want):
    return len(got) == len(want) and all(abs(a - b) <= 1e-8 * max(1.0, abs(b)) for a, b in zip(got, want))


def pil_value(v, kind):
    if kind == "s":
        return v.rstrip("\0") if isinstance(v, str) else v.decode("latin-1").rstrip("\0")
    if kind == "w":
        return bytes(v).decode("utf-16-le").rstrip("\0")
    if kind == "u":
        return bytes(v)[8:].decode("utf-16-le" if bytes(v)[:8] == b"UNICODE\0" else "latin-1").rstrip("\0")
    return numbers(v)


def main():
    path, expectations = sys.argv[1], sys.argv[2]
    exif = Image.open(path).getexif()
    pil = {}
    for group, pointer in IFD_POINTERS.items():
        pil[group] = dict(exif) if pointer is None else dict(exif.get_ifd(pointer))
    tool = json.loads(subprocess.run(["exiftool", "-j", "-n", "-a", "-D", "-G1", path],
                                     capture_output=True, text=True).stdout)[0]
    by_id = {}
    for key, item in tool.items():
        if ":" in key and isinstance(item, dict) and isinstance(item.get("id"), int):
            by_id[(key.split(":")[0], int(item["id"]))] = item["val"]
    failures = []
    for line in open(expectations, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line:
            continue
        group, tag, kind, value = (line.split(" ", 3) + [""])[:4]
        tag = int(tag)
        p, t = pil[group].get(tag), by_id.get((group, tag))
        if kind == "-":
            if p is not None or t is not None:
                failures.append("%s %d: should be absent (PIL %r, exiftool %r)" % (group, tag, p, t))
            continue
        if p is None or t is None:
            failures.append("%s %d: missing (PIL %r, exiftool %r)" % (group, tag, p, t))
            continue
        pv = pil_value(p, kind)
        value, _, tool_value = value.partition(" | ")
        tool_value = tool_value or value
        if kind == "n":
            ok_p, ok_t = same_numbers(pv, numbers(value)), same_numbers(numbers(t), numbers(tool_value))
        else:
            ok_p, ok_t = pv == value, str(t) == tool_value
        if not ok_p:
            failures.append("%s %d: PIL %r, want %r" % (group, tag, pv, value))
        if not ok_t:
            failures.append("%s %d: exiftool %r, want %r" % (group, tag, t, value))
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


main()
