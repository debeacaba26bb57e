#!/usr/bin/python3
# Writes PNG files of every colour type and depth with PIL, pnmtopng and ImageMagick into the current
# folder, and beside each NAME.png what PIL reads from it (png_dump.py). Prints one manifest line per
# file: "NAME WIDTH HEIGHT".
import subprocess
from PIL import Image, PngImagePlugin

import png_dump

W, H = 37, 23
made = []


def rgb_picture():
    im = Image.new("RGB", (W, H))
    px = im.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = ((x * 7 + y) & 255, (y * 11) & 255, (x * y * 3 + 40) & 255)
    return im


def alpha_plane():
    a = Image.new("L", (W, H))
    px = a.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = 0 if x < 3 else (255 if y < 4 else (x * 9 + y * 5) & 255)
    return a


def grey_picture(maxval):
    im = Image.new("L", (W, H))
    px = im.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = (x + y * 3) % (maxval + 1)
    return im


def palette_picture(colours):
    im = Image.new("P", (W, H))
    pal = []
    for i in range(colours):
        pal += [(i * 53) & 255, (i * 97 + 30) & 255, (255 - i * 29) & 255]
    im.putpalette(pal)
    px = im.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = (x * 3 + y) % colours
    return im


def run(cmd):
    subprocess.run(cmd, shell=True, check=True)


# ---- PIL
info = PngImagePlugin.PngInfo()
info.add_text("Title", "Seven slides")
info.add_text("Comment", "second text")
rgb_picture().save("pil_rgb8.png", pnginfo=info, dpi=(72, 72))
rgba = rgb_picture()
rgba.putalpha(alpha_plane())
rgba.save("pil_rgba8.png")
rgb_picture().save("pil_rgb8_trns.png", transparency=(7, 0, 40))
grey_picture(255).save("pil_grey8.png")
grey_picture(255).save("pil_grey8_trns.png", transparency=9)
grey_picture(255).convert("1").save("pil_grey1.png")
g16 = Image.new("I;16", (W, H))
g16.putdata([(x * 1733 + y * 911) & 0xFFFF for y in range(H) for x in range(W)])
g16.save("pil_grey16.png")
la = grey_picture(255).convert("LA")
la.putalpha(alpha_plane())
la.save("pil_greyalpha8.png")
for colours in (2, 4, 16, 200):
    trns = bytes((i * 41) & 255 for i in range(colours))
    palette_picture(colours).save("pil_palette%d_trns.png" % colours, transparency=trns)
for n in ("pil_rgb8", "pil_rgba8", "pil_rgb8_trns", "pil_grey8", "pil_grey8_trns", "pil_grey1", "pil_grey16",
          "pil_greyalpha8", "pil_palette2_trns", "pil_palette4_trns", "pil_palette16_trns", "pil_palette200_trns"):
    made.append(png_dump.dump(n))

# ---- pnmtopng: 2- and 4-bit grey, interlaced, background, text
def write_pnm(name, magic, maxval, samples):
    with open(name, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (magic, W, H, maxval))
        f.write(bytes(samples))


write_pnm("g3.pgm", b"P5", 3, [(x + y * 3) % 4 for y in range(H) for x in range(W)])
write_pnm("g15.pgm", b"P5", 15, [(x * 5 + y) % 16 for y in range(H) for x in range(W)])
run("pnmtopng g3.pgm > pnm_grey2.png && pnmtopng g15.pgm > pnm_grey4.png")
wide = []
for i in range(W * H * 3):
    v = (i * 40503 + 12345) & 0xFFFF
    wide += [v >> 8, v & 255]
write_pnm("rgb16.ppm", b"P6", 65535, wide)
rgb_picture().save("rgb.ppm")
with open("text.txt", "w") as f:
    f.write("Author Tevarnic\nSoftware slides\n")
run("pnmtopng -interlace -background=rgb:12/34/56 -text=text.txt rgb.ppm > pnm_rgb_interlaced_bkgd.png")
run("pnmtopng rgb16.ppm > pnm_rgb16.png")
for n in ("pnm_grey2", "pnm_grey4", "pnm_rgb_interlaced_bkgd", "pnm_rgb16"):
    made.append(png_dump.dump(n))

# ---- ImageMagick: 16-bit with alpha, interlaced palette
rgba.save("rgba.png")
run("convert rgba.png -depth 16 PNG64:im_rgba16.png")
run("convert pil_greyalpha8.png -depth 16 -define png:color-type=4 -define png:bit-depth=16 im_greyalpha16.png")
run("convert rgb.ppm -interlace PNG -colors 50 PNG8:im_palette_interlaced.png")
run("convert pil_grey16.png -interlace PNG im_grey16_interlaced.png")
for n in ("im_rgba16", "im_greyalpha16", "im_palette_interlaced", "im_grey16_interlaced"):
    made.append(png_dump.dump(n))

print("\n".join(made))
