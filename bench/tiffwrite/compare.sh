#!/usr/bin/env bash
# vips tiffsave (one thread) on the pictures the tiffwrite benchmark wrote, with the same codings:
# best of N wall times (process start, reading the PPM/PBM from /tmp and writing to /tmp included) as
# MB/s of pixel bytes. Skipped when vips is not installed.
set -euo pipefail
rounds=${1:-5}
dir=/tmp/tq-tiff-bench
command -v vips >/dev/null || { echo "vips not installed: no comparison"; exit 0; }
export VIPS_CONCURRENCY=1
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
photo=$((4000 * 3000 * 3)); page=$((2480 / 8 * 3508))
for run in "LZW + predictor|$dir/pic.ppm|--compression lzw --predictor horizontal|$photo" \
           "Deflate|$dir/pic.ppm|--compression deflate --predictor none|$photo" \
           "G4 page|$dir/page.pbm|--compression ccittfax4 --bitdepth 1|$page"; do
  IFS='|' read -r name in opts bytes <<<"$run"
  t=$(bench_best_sh_us "$rounds" "vips tiffsave $in $dir/vips.tif $opts")
  python3 -c "print('vips  %-16s encode %8.1f MB/s  %10d bytes (best of $rounds)' % ('$name', $bytes / 1e6 / ($t / 1e6), $(stat -c %s $dir/vips.tif)))"
done
