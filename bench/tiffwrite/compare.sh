#!/usr/bin/env bash
# tiffcp and vips tiffsave (one thread) on the pictures the tiffwrite benchmark wrote, with the same
# codings. Each coded run is timed in turn with the same tool writing the same pixels uncompressed,
# and that time is taken off: it holds the process start, reading the input and writing a file (a
# larger one than the coded run writes, which favours the tools a little), so what is left is their
# coding, as the benchmark's in-memory figures (ours.txt) are. MB/s of pixel bytes, best of N; the
# ratio is ours / theirs (above 1: ours is faster). The machine is shared: take figures from several
# runs.
set -euo pipefail
rounds=${1:-5}
dir=/tmp/tq-tiff-bench
[[ -f $dir/pic.ppm ]] || { echo "no pictures in $dir: run the benchmark first"; exit 0; }
command -v tiffcp >/dev/null || { echo "tiffcp not installed: no comparison"; exit 0; }
export VIPS_CONCURRENCY=1
/usr/bin/vips copy "$dir/pic.ppm" "$dir/pic.v"
/usr/bin/vips copy "$dir/page.pbm" "$dir/page.v"
/usr/bin/vips tiffsave "$dir/pic.v" "$dir/pic.tif" --compression none
/usr/bin/vips tiffsave "$dir/page.v" "$dir/page.tif" --compression none --bitdepth 1
PYTHONPATH="$(dirname "${BASH_SOURCE[0]}")/.." /usr/bin/python3 - "$rounds" "$dir" <<'EOF'
import os, sys
from comparecommon import best_in_turn
rounds, d = int(sys.argv[1]), sys.argv[2]
photo, page = 4000 * 3000 * 3 / 1e6, 2480 / 8 * 3508 / 1e6
ours = {}
try:
    for line in open(d + '/ours.txt'):
        name, mbs = line.rstrip('\n').split('|')
        ours[name] = float(mbs)
except (OSError, ValueError):
    pass

runs = [  # coding, tool, coded command, the same uncompressed, MB, output
    ('LZW + predictor', 'tiffcp', ['tiffcp', '-c', 'lzw:2', d + '/pic.tif', d + '/o.tif'],
     ['tiffcp', '-c', 'none', d + '/pic.tif', d + '/n.tif'], photo),
    ('Deflate', 'tiffcp', ['tiffcp', '-c', 'zip', d + '/pic.tif', d + '/o.tif'],
     ['tiffcp', '-c', 'none', d + '/pic.tif', d + '/n.tif'], photo),
    ('G4 page', 'tiffcp', ['tiffcp', '-c', 'g4', d + '/page.tif', d + '/o.tif'],
     ['tiffcp', '-c', 'none', d + '/page.tif', d + '/n.tif'], page),
    ('LZW + predictor', 'vips', ['/usr/bin/vips', 'tiffsave', d + '/pic.v', d + '/o.tif', '--compression', 'lzw',
     '--predictor', 'horizontal'], ['/usr/bin/vips', 'tiffsave', d + '/pic.v', d + '/n.tif'], photo),
    ('Deflate', 'vips', ['/usr/bin/vips', 'tiffsave', d + '/pic.v', d + '/o.tif', '--compression', 'deflate',
     '--predictor', 'none'], ['/usr/bin/vips', 'tiffsave', d + '/pic.v', d + '/n.tif'], photo),
    ('G4 page', 'vips', ['/usr/bin/vips', 'tiffsave', d + '/page.v', d + '/o.tif', '--compression', 'ccittfax4',
     '--bitdepth', '1'], ['/usr/bin/vips', 'tiffsave', d + '/page.v', d + '/n.tif', '--bitdepth', '1'], page),
]
for name, tool, coded, plain, mb in runs:
    b, p = best_in_turn(rounds, [coded, plain])
    if b <= p:  # the coded run wrote so much less that it took no longer: nothing to compare
        print('%-6s %-16s encode: no faster than the uncompressed run (%.0f and %.0f ms)' % (tool, name, b * 1e3, p * 1e3))
        continue
    theirs = mb / (b - p)
    line = '%-6s %-16s encode %8.1f MB/s  %10d bytes (best of %d, less %.0f ms of the uncompressed run; whole process %.1f MB/s)' % (
        tool, name, theirs, os.path.getsize(d + '/o.tif'), rounds, p * 1e3, mb / b)
    print(line)
    for key in (name, name + ' 1 worker'):
        if key in ours:
            print('       %-16s ours / %s %.2f%s' % (name, tool, ours[key] / theirs, ' (ours on 1 worker)' if key != name else ''))
EOF
