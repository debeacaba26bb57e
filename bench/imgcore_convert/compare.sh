#!/usr/bin/env bash
# The same conversions in libvips, single-threaded, on images in /dev/shm (vips' own format), so the
# figures are conversion plus vips' start-up, which is printed separately.
set -euo pipefail
command -v vips >/dev/null || { echo "libvips-tools not installed: no comparison"; exit 0; }
export VIPS_CONCURRENCY=1
d=$(mktemp -d /dev/shm/imgbench.XXXXXX)
trap 'rm -rf "$d"' EXIT
W=4000 H=3000
vips xyz "$d/xy.v" $W $H
vips extract_band "$d/xy.v" "$d/x.v" 0
vips cast "$d/x.v" "$d/xc.v" uchar
vips bandjoin "$d/xc.v $d/xc.v $d/xc.v" "$d/in3.v"
vips bandjoin_const "$d/in3.v" "$d/in4.v" 255
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
best() { bench_best_us 5 "$@"; }  # best of five runs, in microseconds
mbps() { awk -v bytes="$1" -v us="$2" 'BEGIN { printf "%8.1f MB/s  (%.1f ms)", bytes / us, us / 1000 }'; }
startup=$(best vips --version)
echo "libvips $(vips --version), VIPS_CONCURRENCY=1; vips start-up $(awk -v u="$startup" 'BEGIN{printf "%.1f", u/1000}') ms is included below"
src3=$((W * H * 3)) src4=$((W * H * 4))
echo "24-bit -> 32-bit       vips   $(mbps $src3 "$(best vips bandjoin_const "$d/in3.v" "$d/o.v" 255)")"
echo "32-bit -> 24-bit       vips   $(mbps $src4 "$(best vips extract_band "$d/in4.v" "$d/o.v" 0 --n 3)")"
echo "24-bit -> 8-bit grey   vips   $(mbps $src3 "$(best vips colourspace "$d/in3.v" "$d/o.v" b-w)")"
t1=$(best vips colourspace "$d/in3.v" "$d/g.v" b-w)
t2=$(best vips relational_const "$d/g.v" "$d/o.v" moreeq 128)
echo "24-bit -> 1-bit        vips   $(mbps $src3 $((t1 + t2))) (grey, then a threshold)"
