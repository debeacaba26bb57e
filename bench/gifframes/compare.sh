#!/usr/bin/env bash
# PIL seeking to the last frame of the file the benchmark made and converting it as shown (RGBA):
# best of N, the file opened anew each round as ours is.
set -euo pipefail
rounds=${1:-3}
f=/tmp/tq-gifframes-bench/anim.gif
[[ -f $f ]] || { echo "no $f: run the benchmark first"; exit 0; }
/usr/bin/python3 - "$f" "$rounds" <<'PY'
import sys, time
from PIL import Image
f, rounds = sys.argv[1], int(sys.argv[2])
best = 1e9
for _ in range(rounds):
    t0 = time.perf_counter()
    im = Image.open(f)
    im.seek(im.n_frames - 1)
    im.convert('RGBA').load()
    best = min(best, time.perf_counter() - t0)
print('GIF last frame of %d, as shown (RGBA)          PIL:  %8.1f ms  (best of %d)' % (im.n_frames, best * 1000, rounds))
PY
