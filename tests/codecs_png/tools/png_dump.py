#!/usr/bin/python3
# PIL's reading of PNG files, for comparison with ours: for each NAME given, NAME.png is decoded into
# NAME.rgba (R, G, B, A bytes; 16-bit samples by their high byte), NAME.g16 (16-bit grey only: the
# samples, little-endian) and NAME.txt (size, mode, dpi and text chunks, one per line).
import sys
from PIL import Image


def dump(name):
    im = Image.open(name + ".png")
    im.load()
    if im.mode in ("I", "I;16", "I;16B"):
        values = list(im.getdata())
        data = b"".join(bytes(((v >> 8) & 255,) * 3 + (255,)) for v in values)
        with open(name + ".g16", "wb") as f:
            f.write(b"".join(bytes((v & 255, (v >> 8) & 255)) for v in values))
    else:
        data = im.convert("RGBA").tobytes()
    with open(name + ".rgba", "wb") as f:
        f.write(data)
    lines = ["size=%dx%d" % im.size, "mode=%s" % im.mode]
    if "dpi" in im.info:
        lines.append("dpi=%d" % round(im.info["dpi"][0]))
    for k, v in getattr(im, "text", {}).items():
        lines.append("text:%s=%s" % (k, v))
    with open(name + ".txt", "w") as f:
        f.write("\n".join(lines) + "\n")
    return "%s %d %d" % (name, im.size[0], im.size[1])


if __name__ == "__main__":
    for n in sys.argv[1:]:
        dump(n)
