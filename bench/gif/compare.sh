#!/usr/bin/env bash
# ImageMagick on the same pixels as the gif benchmark: quantize to 256 colours with Floyd-Steinberg
# dithering and write a GIF; timed best of N, mean colour error measured as for our output.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
rounds=${1:-5}
dir=/tmp/tq-gif-bench
for name in photo slide; do
  best=$(bench_best_us "$rounds" /usr/bin/convert "$dir/$name.ppm" -colors 256 -dither FloydSteinberg "$dir/${name}_im.gif")
  /usr/bin/python3 - "$dir/$name.ppm" "$dir/${name}_im.gif" "$best" "$rounds" "$name" "$dir/${name}_ours.gif" <<'PY'
import sys, math, os
from PIL import Image
src = Image.open(sys.argv[1]).convert('RGB').tobytes()
def error(path):
    out = Image.open(path).convert('RGB').tobytes()
    return sum(math.sqrt((src[i]-out[i])**2 + (src[i+1]-out[i+1])**2 + (src[i+2]-out[i+2])**2)
               for i in range(0, len(src), 3)) / (len(src) // 3)
print("%-6s convert:%7.1f ms (best of %s)  mean colour error %6.2f  %8d bytes" % (sys.argv[5], int(sys.argv[3]) / 1000, sys.argv[4], error(sys.argv[2]), os.path.getsize(sys.argv[2])))
print("%-6s ours, decoded by PIL:                mean colour error %6.2f" % (sys.argv[5], error(sys.argv[6])))
PY
done
