#!/usr/bin/python3
"""Usage: check-screenshot.py SHOT.png

Exits 0 when the screenshot shows a window of the program: the screen is not blank and it holds a
title bar in wine's active-caption colours (wine draws the frames itself, the virtual display having
no window manager). Exits 1 otherwise, saying what is missing."""
import sys
from PIL import Image

# active caption colours wine paints by default: its own scheme (wine 8), and the classic gradient's
# two ends for a prefix set to the classic scheme
CAPTION_COLOURS = [(50, 150, 250), (10, 36, 106), (166, 202, 240)]
MIN_CAPTION_RUN = 200       # a title bar is a few hundred pixels wide


def near(a, b, tol=12):
    return all(abs(x - y) <= tol for x, y in zip(a, b))


def main(path):
    img = Image.open(path).convert("RGB")
    colours = img.getcolors(maxcolors=img.width * img.height)
    if len(colours) < 16:
        print(f"{path}: blank screen ({len(colours)} colours)")
        return 1
    px = img.load()
    longest = 0
    for y in range(img.height):
        run = 0
        for x in range(img.width):
            if any(near(px[x, y], c) for c in CAPTION_COLOURS):
                run += 1
                longest = max(longest, run)
            else:
                run = 0
        if longest >= MIN_CAPTION_RUN:
            return 0
    print(f"{path}: no title bar in the active caption colours (longest run {longest} pixels)")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
