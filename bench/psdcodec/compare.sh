#!/usr/bin/env bash
# ImageMagick reading the file the psdcodec benchmark wrote: best of N wall times (process start and
# file I/O on tmpfs included) as MB/s of 24-bit pixels.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
rounds=${1:-5}
dir=/tmp/tq-psd-bench
b=$(bench_best_us "$rounds" /usr/bin/convert "$dir/ours.psd[0]" ppm:- 2>/dev/null)
python3 -c "mb = 4000 * 3000 * 3 / 1e6; print('4000x3000 ImageMagick: read %7.1f MB/s (best of $rounds)' % (mb / ($b / 1e6)))"
