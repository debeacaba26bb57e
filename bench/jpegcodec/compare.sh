#!/usr/bin/env bash
# cjpeg and djpeg on the picture the jpegcodec benchmark wrote, with the same settings (quality 80,
# 4:2:0), as MB/s of 24-bit pixels, then set beside the benchmark's own figures (ours.txt).
# Each tool is timed as a whole process: cjpeg reading the PPM file, djpeg reading our file and
# writing its PPM to /dev/null (the benchmark decodes into memory, so no file is written on either
# side). The same command on an 8 x 8 picture, run in turn with it, measures what starting and ending
# a process costs; that is taken off, so the tools' figures count their coding and their I/O only.
# The whole-process figures follow for reference. Best of N for each.
set -euo pipefail
rounds=${1:-5}
dir=/tmp/tq-jpeg-bench
{ printf 'P6\n8 8\n255\n'; head -c 192 /dev/zero | tr '\0' '\200'; } >"$dir/tiny.ppm"
cjpeg -quality 80 -sample 2x2 "$dir/tiny.ppm" >"$dir/tiny.jpg"
cjpeg -quality 80 -sample 2x2 "$dir/pic.ppm" >"$dir/cjpeg.jpg"
PYTHONPATH="$(dirname "${BASH_SOURCE[0]}")/.." python3 - "$rounds" "$dir" <<'EOF'
import os, sys
from comparecommon import best_in_turn
rounds, d = int(sys.argv[1]), sys.argv[2]
mb = 4000 * 3000 * 3 / 1e6

def best(big, small):  # best wall seconds of each command, run in turn
    return best_in_turn(rounds, [big, small])

enc, encStart = best(['cjpeg', '-quality', '80', '-sample', '2x2', d + '/pic.ppm'],
                     ['cjpeg', '-quality', '80', '-sample', '2x2', d + '/tiny.ppm'])
dec, decStart = best(['djpeg', '-pnm', d + '/ours.jpg'], ['djpeg', '-pnm', d + '/tiny.jpg'])
encNet, decNet = mb / (enc - encStart), mb / (dec - decStart)
print('4000x3000 tools: encode %7.1f MB/s  decode %7.1f MB/s  %10d bytes (cjpeg, djpeg; best of %d, less process '
      'start %.1f and %.1f ms; whole processes %.1f and %.1f MB/s)'
      % (encNet, decNet, os.path.getsize(d + '/cjpeg.jpg'), rounds, encStart * 1e3, decStart * 1e3, mb / enc, mb / dec))
try:
    ours = [float(x) for x in open(d + '/ours.txt').read().split()]
    print('4000x3000 ours / tools: encode %.2f  decode %.2f  file loads %.2f  (0.90 or more: within 10 %%)'
          % (ours[0] / encNet, ours[1] / decNet, ours[2] / decNet))
except (OSError, ValueError, IndexError):
    pass
EOF
