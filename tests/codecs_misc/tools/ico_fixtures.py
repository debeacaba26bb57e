#!/usr/bin/python3
# Icons and cursors made by icotool, PIL and ImageMagick in the current folder, each image extracted
# again by icotool -x, and the extracted pixels as NAME_INDEX.rgba (R, G, B, A bytes, by PIL).
# Prints one manifest line per image: "FILE INDEX WIDTH HEIGHT".
import os
import re
import subprocess
from PIL import Image

made = []


def run(cmd):
    subprocess.run(cmd, shell=True, check=True)


def picture(w, h, colours, alpha_levels):
    """RGBA picture with at most `colours` colours; alpha from alpha_levels by position."""
    pal = [((i * 53) & 255, (i * 97 + 30) & 255, (255 - i * 29) & 255) for i in range(colours)]
    if colours == 2:
        pal = [(0, 0, 0), (255, 255, 255)]
    im = Image.new("RGBA", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            r, g, b = pal[(x * 3 + y * 5) % colours]
            px[x, y] = (r, g, b, alpha_levels[(x + 2 * y) % len(alpha_levels)])
    return im


def extract(ico, count):
    # into a folder of its own: with -i, icotool picks the wrong one of several PNG entries
    folder = ico + ".x"
    run("rm -rf %s && mkdir %s && icotool -x -o %s %s" % (folder, folder, folder, ico))
    names = {}
    for f in os.listdir(folder):
        m = re.match(r".*_(\d+)_\d+x\d+x\d+\.png$", f)
        if m:
            names[int(m.group(1))] = f
    assert sorted(names) == list(range(1, count + 1)), (ico, names)
    for i in range(1, count + 1):
        im = Image.open(os.path.join(folder, names[i])).convert("RGBA")
        with open("%s_%d.rgba" % (ico, i), "wb") as f:
            f.write(im.tobytes())
        made.append("%s %d %d %d" % (ico, i - 1, im.size[0], im.size[1]))


binary = [0, 255, 255, 255]
smooth = [0, 40, 128, 200, 255, 255]
picture(32, 32, 2, binary).save("s1.png")
picture(32, 32, 12, binary).save("s4.png")
picture(5, 3, 12, binary).save("s4odd.png")
picture(24, 24, 200, binary).save("s8.png")
picture(48, 48, 200, [255]).save("s24.png")
picture(48, 48, 200, binary).save("s24t.png")
picture(40, 40, 200, smooth).save("s32.png")
picture(256, 256, 50, smooth).save("s256.png")

run("icotool -c -o depths.ico -b 1 s1.png -b 4 s4.png -b 4 s4odd.png -b 8 s8.png -b 24 s24t.png -b 32 s32.png -r s256.png")
extract("depths.ico", 7)
picture(32, 32, 12, [255]).save("s4o.png")
run("icotool -c -o opaque4.ico -b 4 s4o.png")
run("icotool -c --cursor -X 7 -Y 9 -o big.cur -b 32 s256.png")
extract("big.cur", 1)
run("icotool -c --cursor -X 2 -Y 3 -o small.cur -b 1 s1.png -b 8 s8.png")
extract("small.cur", 2)

im = picture(64, 64, 200, smooth)
im.save("pil_png.ico", sizes=[(16, 16), (32, 32), (64, 64)])
extract("pil_png.ico", 3)
im.save("im_src.png")
run("convert im_src.png -define icon:auto-resize=48,32,16 im.ico")
extract("im.ico", 3)

print("\n".join(made))
