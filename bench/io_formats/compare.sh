#!/usr/bin/env bash
# netpbm's, OpenJPEG's and libvips' tools on the pictures the io_formats benchmark wrote: best of N
# encode and decode times as MB/s of 24-bit pixels, beside our figures.
set -euo pipefail
rounds=${1:-3}
dir=/tmp/tq-io-bench
source "$(dirname "${BASH_SOURCE[0]}")/../benchcommon.sh"
for size in 1920x1080 4000x3000; do
  in=$dir/$size.ppm
  mb=$(python3 -c "w,h='$size'.split('x'); print(int(w)*int(h)*3/1e6)")
  row() {  # name encode-command decode-command output
    local e d
    e=$(best "$2"); d=$(best "$3")
    python3 -c "print('%-9s %-13s tool: encode %7.1f MB/s  decode %7.1f MB/s  %10d bytes' % ('$size', '$1', $mb/($e/1e6), $mb/($d/1e6), $(stat -c %s "$4")))"
  }
  row TGA "pamtotga $in > $dir/t.tga" "tgatoppm $dir/t.tga > $dir/t.ppm" $dir/t.tga
  row PCX "ppmtopcx -24bit $in > $dir/t.pcx" "pcxtoppm $dir/t.pcx > $dir/t.ppm" $dir/t.pcx
  row BMP "ppmtobmp -bpp 24 $in > $dir/t.bmp" "bmptoppm $dir/t.bmp > $dir/t.ppm" $dir/t.bmp
  row "J2K lossless" "opj_compress -i $in -o $dir/t.j2k" "opj_decompress -i $dir/t.j2k -o $dir/t.ppm" $dir/t.j2k
  row "J2K rate 0.1" "opj_compress -r 10 -i $in -o $dir/l.j2k" "opj_decompress -i $dir/l.j2k -o $dir/t.ppm" $dir/l.j2k
  # libvips encodes from its own uncompressed format, so that no PPM parsing is timed (ours encodes from memory)
  vips copy "$in" $dir/t.v
  row "PNG Paeth 5" "vips pngsave $dir/t.v $dir/t.png --compression 5 --filter paeth --strip" \
    "vips copy $dir/t.png $dir/t2.v" $dir/t.png
done
