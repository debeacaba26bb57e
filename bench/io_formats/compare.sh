#!/usr/bin/env bash
# netpbm's, OpenJPEG's and libvips' tools on the pictures the io_formats benchmark wrote: best of N
# encode and decode times as MB/s of 24-bit pixels, beside our figures.
set -euo pipefail
rounds=${1:-3}
dir=/tmp/tq-io-bench
source "$(dirname "${BASH_SOURCE[0]}")/../compare-common.sh"
for size in 1920x1080 4000x3000; do
  in=$dir/$size.ppm
  mb=$(python3 -c "w,h='$size'.split('x'); print(int(w)*int(h)*3/1e6)")
  row() {  # name encode-command decode-command output
    local e d
    e=$(bench_best_sh_us "$rounds" "$2"); d=$(bench_best_sh_us "$rounds" "$3")
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
# PNG encode inside one libvips process, the picture in memory and the file written to memory, as
# ours is timed (ours.txt): no process start or file input/output on either side. Ratio = their
# time / ours (above 1: ours is faster).
/usr/bin/python3 - "$rounds" "$dir" <<'EOF'
import ctypes as c, sys, time
rounds, d = int(sys.argv[1]), sys.argv[2]
vips, glib = c.CDLL('libvips.so.42'), c.CDLL('libglib-2.0.so.0')
for f in ('vips_image_new_from_file', 'vips_image_copy_memory'):
    getattr(vips, f).restype = c.c_void_p
assert vips.vips_init(b'tq-bench') == 0
vips.vips_cache_set_max(0)
ours = {}
try:
    for line in open(d + '/ours.txt'):
        size, name, ms = line.rstrip('\n').split('|')
        ours[(size, name)] = float(ms)
except (OSError, ValueError):
    pass
for size in ('1920x1080', '4000x3000'):
    im = c.c_void_p(vips.vips_image_copy_memory(c.c_void_p(vips.vips_image_new_from_file((d + '/' + size + '.ppm').encode(), None))))
    best = 1e9
    for _ in range(rounds):
        buf, n = c.c_void_p(), c.c_size_t()
        t0 = time.perf_counter()
        # filter 128: Paeth
        assert vips.vips_pngsave_buffer(im, c.byref(buf), c.byref(n), b'compression', c.c_int(5), b'filter', c.c_int(128),
                                        b'strip', c.c_int(1), None) == 0
        best = min(best, time.perf_counter() - t0)
        glib.g_free(buf)
    line = '%-9s PNG Paeth 5   vips in-process: encode %7.1f ms  %10d bytes' % (size, best * 1e3, n.value)
    o = ours.get((size, 'PNG Paeth 5'))
    if o:
        line += '  ours %7.1f ms  ratio vips/ours %.2f' % (o, best * 1e3 / o)
    print(line + '  (best of %d)' % rounds)
EOF
