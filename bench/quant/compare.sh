#!/usr/bin/env bash
# The same reductions (256 and 16 colours, no dithering) on the pictures the benchmark left in
# /tmp/tq-quant-bench, through ImageMagick, PIL (MEDIANCUT, FASTOCTREE) and pngquant; time of the
# reduction alone where the tool allows, and mean error |dr| + |dg| + |db| per pixel.
set -euo pipefail
d=/tmp/tq-quant-bench
py=/usr/bin/python3
err() {  # mean error between two pictures
  "$py" - "$1" "$2" <<'PY'
import sys
from PIL import Image, ImageChops, ImageStat
a = Image.open(sys.argv[1]).convert('RGB'); b = Image.open(sys.argv[2]).convert('RGB')
print('%.2f' % (sum(ImageStat.Stat(ImageChops.difference(a, b)).sum) / (a.size[0] * a.size[1])))
PY
}
now() { date +%s%N; }
for img in "$d"/photo*.ppm; do
  [[ -f $img ]] || { echo "no pictures in $d: run the benchmark first"; exit 0; }
  base=${img%.ppm}
  echo "other tools, $(basename "$base")"
  "$py" -c "from PIL import Image; Image.open('$img').save('$base.png')"
  for n in 256 16; do
    t0=$(now); /usr/bin/convert "$img" +dither -colors $n "$base-im.png"; t=$(( ($(now) - t0) / 1000000 ))
    printf '  %-20s %3d colours  %8d ms  mean error %6s\n' "ImageMagick" $n $t "$(err "$img" "$base-im.png")"
    "$py" - "$img" $n <<'PY'
import sys, time
from PIL import Image, ImageChops, ImageStat
im = Image.open(sys.argv[1]).convert('RGB'); n = int(sys.argv[2])
for name, m in (('PIL MEDIANCUT', Image.Quantize.MEDIANCUT), ('PIL FASTOCTREE', Image.Quantize.FASTOCTREE)):
    t0 = time.perf_counter(); q = im.quantize(n, method=m, dither=Image.Dither.NONE); t = time.perf_counter() - t0
    e = sum(ImageStat.Stat(ImageChops.difference(im, q.convert('RGB'))).sum) / (im.size[0] * im.size[1])
    print('  %-20s %3d colours  %8d ms  mean error %6.2f' % (name, n, t * 1000, e))
PY
    if [[ -x /usr/bin/pngquant ]]; then
      t0=$(now); /usr/bin/pngquant --nofs -f -o "$base-pq.png" $n "$base.png"; t=$(( ($(now) - t0) / 1000000 ))
      printf '  %-20s %3d colours  %8d ms  mean error %6s\n' "pngquant" $n $t "$(err "$img" "$base-pq.png")"
    else
      echo "  pngquant not installed"
    fi
  done
done
