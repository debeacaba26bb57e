#!/usr/bin/env python3
"""Fails when a file of the image library includes a header of a folder above its own.

The folders stand from the bottom up in FLOORS; a quoted include names a header by its base name,
which is looked up in the library's folders. Includes of headers outside the library (the platform,
the dependencies) are not the library's layering and are not looked at.
"""
import os
import re
import sys

FLOORS = ["core", "proc", "codecs", "io", "view"]

INCLUDE = re.compile(r'\s*#\s*include\s*"([^"]+)"')
SOURCES = (".h", ".cpp", ".inc")


def main(root):
    floor_of = {}
    for floor in FLOORS:
        for name in os.listdir(os.path.join(root, floor)):
            if name.endswith(SOURCES):
                if name in floor_of:
                    print(f"{name}: in both {floor_of[name]} and {floor}")
                    return 1
                floor_of[name] = floor
    climbs = []
    for level, floor in enumerate(FLOORS):
        for name in sorted(os.listdir(os.path.join(root, floor))):
            if not name.endswith(SOURCES):
                continue
            path = os.path.join(root, floor, name)
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    header = os.path.basename(m.group(1))
                    target = floor_of.get(header)
                    if target is None or FLOORS.index(target) <= level:
                        continue
                    climbs.append(f"{floor}/{name}:{number}: includes {header} of {target}/")
    for c in climbs:
        print(c)
    if climbs:
        print(f"{len(climbs)} include(s) climb; the floors from the bottom: {' < '.join(FLOORS)}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "imaging")))
