#!/usr/bin/env bash
# vips and ImageMagick scale the picture the benchmark left in /tmp/tq-resample-bench (4928 x 3279
# -> 852 x 567) inside one host process each, through their own libraries: the picture is read into
# memory first and each timed call ends with the result in memory, as the benchmark's own figures
# (ours.txt) do, so neither process start nor file input/output is counted. vips is timed twice:
# its resize (a box shrink, then its kernel on the rest) and its reduce (the kernel over the whole
# shrink, as ours computes it). Same kernels: Lanczos3
# (vips lanczos3, ImageMagick Lanczos), Triangle and Bilinear (vips linear, ImageMagick Triangle),
# Bicubic (vips cubic, ImageMagick Catrom); 1 thread and 8. Best of N; ratio = their time / ours,
# above 1 means ours is faster. The machine is shared: take a figure from several runs.
set -euo pipefail
rounds=${1:-5}
d=/tmp/tq-resample-bench
[[ -f $d/photo.ppm ]] || { echo "no picture in $d: run the benchmark first"; exit 0; }
/usr/bin/vips copy "$d/photo.ppm" "$d/photo.v"
for threads in 1 8; do
  VIPS_CONCURRENCY=$threads MAGICK_THREAD_LIMIT=$threads /usr/bin/python3 - "$rounds" "$d" "$threads" <<'EOF'
import ctypes, sys, time
rounds, d, threads = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
sw, sh, dw, dh = 4928, 3279, 852, 567
c = ctypes

def best(run):
    b = 1e9
    for _ in range(rounds):
        t0 = time.perf_counter()
        run()
        b = min(b, time.perf_counter() - t0)
    return b * 1000

vips = c.CDLL('libvips.so.42')
glib = c.CDLL('libglib-2.0.so.0')
gobj = c.CDLL('libgobject-2.0.so.0')
for f in ('vips_image_new_from_file', 'vips_image_copy_memory', 'vips_image_write_to_memory'):
    getattr(vips, f).restype = c.c_void_p
assert vips.vips_init(b'tq-bench') == 0
vips.vips_cache_set_max(0)  # every call computes
photo = c.c_void_p(vips.vips_image_copy_memory(c.c_void_p(vips.vips_image_new_from_file((d + '/photo.v').encode(), None))))

def vips_resize(kernel):
    def run():
        out = c.c_void_p()
        assert vips.vips_resize(photo, c.byref(out), c.c_double(dw / sw), b'vscale', c.c_double(dh / sh),
                                b'kernel', c.c_int(kernel), None) == 0
        size = c.c_size_t()
        glib.g_free(c.c_void_p(vips.vips_image_write_to_memory(out, c.byref(size))))
        gobj.g_object_unref(out)
    return run

def vips_reduce(kernel):  # the kernel alone over the whole shrink, as ours computes it
    def run():
        out = c.c_void_p()
        assert vips.vips_reduce(photo, c.byref(out), c.c_double(sw / dw), c.c_double(sh / dh), b'kernel', c.c_int(kernel),
                                None) == 0
        size = c.c_size_t()
        glib.g_free(c.c_void_p(vips.vips_image_write_to_memory(out, c.byref(size))))
        gobj.g_object_unref(out)
    return run

mw = c.CDLL('libMagickWand-6.Q16.so.6')
for f in ('NewMagickWand', 'CloneMagickWand', 'DestroyMagickWand'):
    getattr(mw, f).restype = c.c_void_p
mw.MagickWandGenesis()
wand = c.c_void_p(mw.NewMagickWand())
assert mw.MagickReadImage(wand, (d + '/photo.ppm').encode())

def im_resize(filt):
    b = 1e9
    for _ in range(rounds):
        copy = c.c_void_p(mw.CloneMagickWand(wand))
        mw.MagickGetImageWidth(copy)  # the clone's pixels are copied before the clock starts
        t0 = time.perf_counter()
        assert mw.MagickResizeImage(copy, c.c_size_t(dw), c.c_size_t(dh), c.c_int(filt), c.c_double(1.0))
        b = min(b, time.perf_counter() - t0)
        mw.DestroyMagickWand(copy)
    return b * 1000

ours = {}
try:
    for line in open(d + '/ours.txt'):
        name, workers, ms = line.split()
        ours[(name, int(workers) > 1)] = float(ms)
except (OSError, ValueError):
    pass
# vips kernels: 1 linear, 2 cubic, 5 lanczos3; ImageMagick filters: 3 Triangle, 11 Catrom, 22 Lanczos
timed = {}
for name, vk, imf in (('Lanczos3', 5, 22), ('Triangle', 1, 3), ('Bilinear', 1, 3), ('Bicubic', 2, 11)):
    if (vk, imf) not in timed:
        timed[(vk, imf)] = best(vips_resize(vk)), best(vips_reduce(vk)), im_resize(imf)
    v, k, m = timed[(vk, imf)]
    line = '%-10s %d thread(s)  vips resize %6.1f ms  reduce %6.1f ms  ImageMagick %6.1f ms' % (name, threads, v, k, m)
    o = ours.get((name, threads > 1))
    if o:
        line += '  ours %6.1f ms  ratio vips resize/ours %.2f  reduce/ours %.2f  ImageMagick/ours %.2f' % (
            o, v / o, k / o, m / o)
    print(line + '  (best of %d)' % rounds)
EOF
done
