#!/usr/bin/env bash
# PIL on the same sizes as the render benchmark: resize NEAREST to the fitted size and paste
# (opaque), the same with alpha_composite at alpha 128, and a 1:1 crop pasted; best of N.
set -euo pipefail
rounds=${1:-5}
/usr/bin/python3 - "$rounds" <<'PY'
import sys, time
from PIL import Image
rounds = int(sys.argv[1])
src = Image.new('RGB', (4000, 3000))
src.frombytes(bytes((x * 7 + y) & 255 for y in range(1) for x in range(4000 * 3)) * 3000)
dst = Image.new('RGB', (1920, 1080))
dsta = Image.new('RGBA', (1920, 1080))
def fit():
    dst.paste(src.resize((1440, 1080), Image.NEAREST), (0, 0))
def fit_alpha():
    layer = src.resize((1440, 1080), Image.NEAREST).convert('RGBA')
    layer.putalpha(128)
    dsta.alpha_composite(layer, (0, 0))
def one_to_one():
    dst.paste(src.crop((0, 0, 1920, 1080)), (0, 0))
for name, fn in (("fit, opaque", fit), ("fit, transparency 128", fit_alpha), ("1:1, opaque", one_to_one)):
    best = 1e9
    for _ in range(rounds):
        t0 = time.perf_counter()
        for _ in range(10):
            fn()
        best = min(best, (time.perf_counter() - t0) / 10)
    print("%-24s PIL:  %7.2f ms per frame, %6.1f frames/s (best of %d)" % (name, best * 1000, 1 / best, rounds))
PY
