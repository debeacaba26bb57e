#!/usr/bin/env bash
# cjpeg and djpeg on the picture the jpegcodec benchmark wrote, with the same settings (quality 80,
# 4:2:0): best of N wall times (process start and file I/O on tmpfs included) as MB/s of 24-bit pixels.
set -euo pipefail
rounds=${1:-5}
dir=/tmp/tq-jpeg-bench
best() {  # best wall time in microseconds of a shell command, over $rounds runs
  local b= t t0
  for ((i = 0; i < rounds; i++)); do
    t0=$(date +%s%N); sh -c "$1" >/dev/null 2>&1; t=$(( ($(date +%s%N) - t0) / 1000 ))
    if [[ -z $b || $t -lt $b ]]; then b=$t; fi
  done
  echo "$b"
}
e=$(best "cjpeg -quality 80 -sample 2x2 $dir/pic.ppm > $dir/cjpeg.jpg")
d=$(best "djpeg -pnm $dir/ours.jpg > /dev/null")
python3 -c "mb = 4000 * 3000 * 3 / 1e6; print('4000x3000 tools: encode %7.1f MB/s  decode %7.1f MB/s  %10d bytes (cjpeg, djpeg; best of $rounds)' % (mb / ($e / 1e6), mb / ($d / 1e6), $(stat -c %s $dir/cjpeg.jpg)))"
