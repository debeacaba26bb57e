#!/usr/bin/python3
"""Checks that every strip of each TIFF file given is one complete zlib stream that inflates to
exactly the strip's rows, with no byte before or after it. Prints one line per failure; exits 1
when there was any."""
import sys
import zlib

from PIL import Image

failed = False
for path in sys.argv[1:]:
    im = Image.open(path)
    tags = im.tag_v2
    offsets, counts, rows_per_strip = tags[273], tags[279], tags[278]
    width, height = im.size
    row_bytes = width * len(im.getbands()) * tags[258][0] // 8
    data = open(path, "rb").read()
    for i, (offset, count) in enumerate(zip(offsets, counts)):
        rows = min(rows_per_strip, height - i * rows_per_strip)
        z = zlib.decompressobj()
        out = z.decompress(data[offset:offset + count])
        if not z.eof or z.unused_data or len(out) != rows * row_bytes:
            print("%s strip %d: eof %s, %d bytes after the stream, %d bytes out, want %d"
                  % (path, i, z.eof, len(z.unused_data), len(out), rows * row_bytes))
            failed = True
sys.exit(1 if failed else 0)
