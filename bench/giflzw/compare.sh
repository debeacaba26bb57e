#!/usr/bin/env bash
# PIL's GIF coder on the indices the giflzw benchmark wrote: saving a palette image as GIF and
# loading it back, in memory, best of N, as MB/s of index bytes.
set -euo pipefail
rounds=${1:-5}
/usr/bin/python3 - "$rounds" <<'PY'
import io, sys, time
from PIL import Image
rounds = int(sys.argv[1])
raw = open('/tmp/tq-giflzw-bench/idx.raw', 'rb').read()
im = Image.frombytes('P', (4000, 3000), raw)
im.putpalette([v for i in range(256) for v in (i, 255 - i, (i * 37) % 256)])
enc = dec = 1e9
for _ in range(rounds):
    b = io.BytesIO()
    t = time.perf_counter(); im.save(b, 'GIF', optimize=False); enc = min(enc, time.perf_counter() - t)
data = b.getvalue()
for _ in range(rounds):
    t = time.perf_counter(); back = Image.open(io.BytesIO(data)); back.load(); dec = min(dec, time.perf_counter() - t)
assert back.tobytes() == raw
mb = len(raw) / 1e6
print('4000x3000 PIL:  encode %7.1f MB/s  decode %7.1f MB/s  %10d bytes (best of %d)' % (mb / enc, mb / dec, len(data), rounds))
PY
