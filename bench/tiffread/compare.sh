#!/usr/bin/env bash
# vips copy (one thread) of the files the tiffread benchmark wrote into vips' own format: best of N
# wall times (process start and reading the file from /tmp included) as MB/s of pixel bytes.
# Skipped when vips is not installed.
set -euo pipefail
rounds=${1:-5}
dir=/tmp/tq-tiff-read-bench
command -v vips >/dev/null || { echo "vips not installed: no comparison"; exit 0; }
export VIPS_CONCURRENCY=1
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
photo=$((4000 * 3000 * 3)); page=$((2480 / 8 * 3508))
for run in "LZW + predictor|lzw.tif|$photo" "Deflate|zip.tif|$photo" "PackBits|packbits.tif|$photo" \
           "G4 page|g4.tif|$page"; do
  IFS='|' read -r name file bytes <<<"$run"
  t=$(bench_best_sh_us "$rounds" "vips copy $dir/$file $dir/out.v")
  python3 -c "print('vips  %-16s decode %8.1f MB/s (best of $rounds)' % ('$name', $bytes / 1e6 / ($t / 1e6)))"
done
rm -f "$dir/out.v"
