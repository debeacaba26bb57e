#!/usr/bin/env bash
# dcmdjpeg decompressing the file the dicom benchmark made: best of N wall times (process start and
# file I/O on tmpfs included) as MB/s of 16-bit samples.
set -euo pipefail
rounds=${1:-3}
dir=/tmp/tq-dicom-bench
source "$(dirname "${BASH_SOURCE[0]}")/../benchcommon.sh"
d=$(best "dcmdjpeg $dir/ll.dcm $dir/dcmdjpeg.dcm")
/usr/bin/python3 -c "mb = 512 * 512 * 2 * 100 / 1e6; print('512x512x16 x 100 frames dcmdjpeg: decode %7.1f MB/s  (best of $rounds)' % (mb / ($d / 1e6)))"
