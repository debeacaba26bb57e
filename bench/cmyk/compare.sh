#!/usr/bin/env bash
# PIL's ImageCms on the pixels and profile the benchmark left in /tmp/tq-cmyk-bench: the same CMYK
# profile to sRGB, perceptual intent; best of N (the transform is built once, outside the timing).
set -euo pipefail
rounds=${1:-3}
d=/tmp/tq-cmyk-bench
[[ -f $d/pixels.cmyk ]] || { echo "no pixels in $d: run the benchmark first"; exit 0; }
/usr/bin/python3 - "$d" "$rounds" <<'PY'
import sys, time
from PIL import Image, ImageCms, ImageChops
d, rounds = sys.argv[1], int(sys.argv[2])
raw = open(d + '/pixels.cmyk', 'rb').read()
im = ImageChops.invert(Image.frombytes('CMYK', (4000, 3000), raw))  # ours: 255 = no ink
t = ImageCms.buildTransform(ImageCms.getOpenProfile(d + '/cmyk.icc'), ImageCms.createProfile('sRGB'), 'CMYK', 'RGB')
best = 1e9
for _ in range(rounds):
    t0 = time.perf_counter()
    ImageCms.applyTransform(im, t)
    best = min(best, time.perf_counter() - t0)
print('CMYK to 24-bit, 4000 x 3000, one call        PIL:  %8.1f ms  (best of %d)' % (best * 1000, rounds))
PY
