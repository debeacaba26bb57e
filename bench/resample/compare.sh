#!/usr/bin/env bash
# vips resize (same kernels: lanczos3, linear, cubic; 1 and 8 threads) and ImageMagick -filter -resize
# on the picture the benchmark left in /tmp/tq-resample-bench: 4000 x 3000 -> 1000 x 750 and back up.
# Times include reading and writing an uncompressed file (vips and ImageMagick cannot be timed
# without); best of N.
set -euo pipefail
rounds=${1:-3}
d=/tmp/tq-resample-bench
[[ -f $d/photo.ppm ]] || { echo "no picture in $d: run the benchmark first"; exit 0; }
/usr/bin/vips copy "$d/photo.ppm" "$d/photo.v"
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
best() { echo $(( $(bench_best_us "$rounds" "$@" 2>/dev/null) / 1000 )); }  # in ms
for k in lanczos3 linear cubic; do
  for threads in 1 8; do
    export VIPS_CONCURRENCY=$threads
    down=$(best /usr/bin/vips resize "$d/photo.v" "$d/small.v" 0.25 --kernel "$k")
    up=$(best /usr/bin/vips resize "$d/small.v" "$d/big.v" 4 --kernel "$k")
    printf '%-10s %d thread(s)  vips: down %7d ms  up %7d ms\n' "$k" "$threads" "$down" "$up"
  done
done
for f in Lanczos Triangle Catrom; do
  down=$(best /usr/bin/convert "$d/photo.ppm" -filter "$f" -resize 1000x750! "$d/small-im.ppm")
  up=$(best /usr/bin/convert "$d/small-im.ppm" -filter "$f" -resize 4000x3000! "$d/big-im.ppm")
  printf '%-10s ImageMagick: down %7d ms  up %7d ms\n' "$f" "$down" "$up"
done
