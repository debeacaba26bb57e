#!/usr/bin/env bash
# ImageMagick's -rotate 30 and PIL's rotate(30, expand=True, resample=BICUBIC) on the picture the
# benchmark left in /tmp/tq-rotate-bench; best of N.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
rounds=${1:-3}
img=/tmp/tq-rotate-bench/photo.ppm
[[ -f $img ]] || { echo "no picture in /tmp/tq-rotate-bench: run the benchmark first"; exit 0; }
best=$(( $(bench_best_us "$rounds" /usr/bin/convert "$img" -background white -rotate 30 /tmp/tq-rotate-bench/im.ppm) / 1000 ))
printf '%-28s ImageMagick: %8d ms  (read and write included, best of %d)\n' "-rotate 30" "$best" "$rounds"
/usr/bin/python3 - "$img" "$rounds" <<'PY'
import sys, time
from PIL import Image
im = Image.open(sys.argv[1]); im.load(); rounds = int(sys.argv[2])
best = 1e9
for _ in range(rounds):
    t0 = time.perf_counter()
    out = im.rotate(30, expand=True, resample=Image.BICUBIC, fillcolor=(255, 255, 255))
    best = min(best, time.perf_counter() - t0)
print('%-28s PIL:  %8.1f ms  (%d x %d, best of %d)' % ('rotate(30, BICUBIC)', best * 1000, out.size[0], out.size[1], rounds))
PY
