#!/usr/bin/env bash
# cjpeg and djpeg on the picture the jpegcodec benchmark wrote, with the same settings (quality 80,
# 4:2:0): best of N wall times (process start and file I/O on tmpfs included) as MB/s of 24-bit pixels.
set -euo pipefail
rounds=${1:-5}
dir=/tmp/tq-jpeg-bench
source "$(dirname "${BASH_SOURCE[0]}")/../benchcommon.sh"
e=$(best "cjpeg -quality 80 -sample 2x2 $dir/pic.ppm > $dir/cjpeg.jpg")
d=$(best "djpeg -pnm $dir/ours.jpg > /dev/null")
python3 -c "mb = 4000 * 3000 * 3 / 1e6; print('4000x3000 tools: encode %7.1f MB/s  decode %7.1f MB/s  %10d bytes (cjpeg, djpeg; best of $rounds)' % (mb / ($e / 1e6), mb / ($d / 1e6), $(stat -c %s $dir/cjpeg.jpg)))"
