#!/usr/bin/python3
"""Animated GIFs for the frame tests, written by PIL: pil_anim.gif (disposal 1 and 2, transparency,
frames smaller than the screen) and huge_screen.gif (two 1 x 1 frames on a 65535 x 65535 screen)."""
from PIL import Image, ImageDraw

frames = []
for k in range(5):
    im = Image.new("RGBA", (48, 36), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.rectangle([2 + 6 * k, 3 + 2 * k, 14 + 6 * k, 12 + 3 * k], fill=(200, 40 * k, 30, 255))
    d.ellipse([20, 5 + k, 34, 19 + k], fill=(10, 120, 250 - 40 * k, 255))
    if k % 2:
        d.rectangle([0, 30, 47, 35], fill=(90, 200, 90, 255))
    frames.append(im)
frames[0].save("pil_anim.gif", save_all=True, append_images=frames[1:], duration=50, loop=0,
               disposal=[1, 2, 1, 2, 1])

a = Image.new("P", (1, 1), 0)
b = Image.new("P", (1, 1), 1)
a.putpalette([0, 0, 0, 255, 255, 255] + [0] * 762)
b.putpalette([0, 0, 0, 255, 255, 255] + [0] * 762)
a.save("huge_screen.gif", save_all=True, append_images=[b])
data = bytearray(open("huge_screen.gif", "rb").read())
data[6:10] = b"\xff\xff\xff\xff"
open("huge_screen.gif", "wb").write(bytes(data))
