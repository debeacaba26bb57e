#!/usr/bin/env bash
# vips composites the same four 1920 x 1080 layers as the layers benchmark (mode over, one thread);
# best of N runs of the whole command, which includes its start-up.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
rounds=${1:-5}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
/usr/bin/python3 - "$dir" <<'PY'
import sys
from PIL import Image
d = sys.argv[1]
w, h = 1920, 1080
Image.new('RGBA', (w, h), (128, 128, 128, 255)).save(d + '/l0.png')
ramp = Image.linear_gradient('L').rotate(90).resize((w, h))
for k in (1, 2, 3):
    im = Image.new('RGBA', (w, h), (60 * k, 200 - 50 * k, 90, 255))
    im.putalpha(ramp.point(lambda v, k=k: (255 - v + 40 * k) % 256))
    im.save(d + '/l%d.png' % k)
PY
for k in 0 1 2 3; do vips copy "$dir/l$k.png" "$dir/l$k.v"; done
best=$(VIPS_CONCURRENCY=1 bench_best_us "$rounds" vips composite "$dir/l0.v $dir/l1.v $dir/l2.v $dir/l3.v" "$dir/out.v" "2 2 2")
printf '%-34s vips: %7.2f ms per merge (best of %d)\n' "four alpha layers 1920 x 1080" "$(echo "$best / 1000" | bc -l)" "$rounds"
