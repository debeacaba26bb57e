#!/bin/sh
# Makes, in the current folder, the DICOM files the reader's tests load (dcmtk and PIL only) and,
# in ref/, the images dcmj2pnm makes of every frame: <file>-<frame>.pnm. Sizes are odd on purpose
# (8-bit frames then end on a pad byte).
set -e
py=/usr/bin/python3
$py - <<'PY'
import random, struct
from PIL import Image
random.seed(7)
W, H = 37, 29
def save(name, values, fmt):
    open(name, 'wb').write(b''.join(struct.pack(fmt, v) for v in values))
g8 = [(x * 7 + y * 3 + random.randint(0, 20)) % 256 for y in range(H) for x in range(W)]
im = Image.new('L', (W, H)); im.putdata(g8); im.save('g8.bmp')
rgb = [((x * 7) % 256, (y * 9) % 256, (x * y + random.randint(0, 9)) % 256) for y in range(H) for x in range(W)]
im = Image.new('RGB', (W, H)); im.putdata(rgb); im.save('rgb.bmp')
# planar configuration 1: all red samples, then green, then blue (and the pad byte)
save('rgbplanar.raw', [p[c] for c in range(3) for p in rgb] + [0], '<B')
# signed 12-bit samples, sign-extended to 16 bits; three different frames
frames = [[((x * 97 + y * 41 + f * 500 + random.randint(0, 50)) % 4096) - 2048 for y in range(H) for x in range(W)]
          for f in range(3)]
save('s12.raw', frames[0], '<h')
save('s12x3.raw', frames[0] + frames[1] + frames[2], '<h')
save('u16.raw', [(x * 1771 + y * 613 + random.randint(0, 300)) % 65536 for y in range(H) for x in range(W)], '<H')
# palette tables of 200 entries: indexes from 200 on take the last entry
save('red.lut', [(i * 327) % 65536 for i in range(200)], '<H')
save('green.lut', [65535 - i * 300 for i in range(200)], '<H')
save('blue.lut', [(i * i * 7) % 65536 for i in range(200)], '<H')
PY

img2dcm -q -i BMP g8.bmp g8.dcm
img2dcm -q -i BMP rgb.bmp rgb.dcm
mod() { f=$1; shift; dcmodify -q -nb "$@" "$f"; }
grey16() { mod "$1" -m "(0028,0100)=16" -m "(0028,0101)=$2" -m "(0028,0102)=$(($2 - 1))" -m "(0028,0103)=$3"; }

cp g8.dcm s12.dcm; grey16 s12.dcm 12 1; mod s12.dcm -i "(0028,1052)=-100" -i "(0028,1053)=2" -mf "(7fe0,0010)=s12.raw"
cp s12.dcm s12x3.dcm; mod s12x3.dcm -i "(0028,0008)=3" -mf "(7fe0,0010)=s12x3.raw"
cp g8.dcm u16.dcm; grey16 u16.dcm 16 0; mod u16.dcm -mf "(7fe0,0010)=u16.raw"
cp g8.dcm mono1.dcm; mod mono1.dcm -m "(0028,0004)=MONOCHROME1"
cp s12.dcm window.dcm; mod window.dcm -i "(0028,1050)=40\\400" -i "(0028,1051)=400\\900"
cp g8.dcm palette.dcm
mod palette.dcm -m "(0028,0004)=PALETTE COLOR" \
  -i "(0028,1101)=200\\0\\16" -i "(0028,1102)=200\\0\\16" -i "(0028,1103)=200\\0\\16" \
  -if "(0028,1201)=red.lut" -if "(0028,1202)=green.lut" -if "(0028,1203)=blue.lut"
cp rgb.dcm rgbplanar.dcm; mod rgbplanar.dcm -m "(0028,0006)=1" -mf "(7fe0,0010)=rgbplanar.raw"
# sequences (one of them an icon with a geometry of its own) and a long text element
cp g8.dcm tags.dcm
mod tags.dcm -i "(0008,1140)[0].(0008,1150)=1.2.840.10008.5.1.4.1.1.7" -i "(0008,1140)[0].(0008,1155)=1.2.3.4" \
  -i "(0008,1140)[1].(0008,1155)=1.2.3.5" -i "(0088,0200)[0].(0028,0010)=5" -i "(0088,0200)[0].(0028,0011)=7" \
  -i "(0040,a160)=a text of unlimited length" -i "(0010,0010)=Doe^Jane"
dcmconv -q -e tags.dcm tags-undefined.dcm

dcmconv -q +ti g8.dcm g8-implicit.dcm
dcmconv -q +tb g8.dcm g8-big.dcm
dcmconv -q +tb s12.dcm s12-big.dcm
dcmconv -q +tb rgbplanar.dcm rgbplanar-big.dcm
dcmconv -q -F +ti g8.dcm g8-nopreamble.dcm
dcmconv -q -F +te s12.dcm s12-nopreamble.dcm
dcmconv -q +tb tags.dcm tags-big.dcm
dcmconv -q +ti tags-undefined.dcm tags-implicit.dcm

for f in g8 s12 u16 rgb rgbplanar palette mono1 s12x3; do dcmcrle -q $f.dcm $f-rle.dcm; done
dcmcrle -q -ot s12x3.dcm s12x3-rle-nobot.dcm
dcmcjpeg -q +eb g8.dcm g8-base.dcm
dcmcjpeg -q +eb rgb.dcm rgb-base.dcm
dcmcjpeg -q +eb mono1.dcm mono1-base.dcm
dcmcjpeg -q +eb +cr rgb.dcm rgb-base-rgb.dcm
dcmconv -q -e g8-base.dcm g8-base-undefined.dcm
$py - <<'PY'
import struct
# RGB samples in a stream without the Adobe marker and with numbered components: only the data
# set's photometric interpretation tells they are not YCbCr
f = bytearray(open('rgb-base-rgb.dcm', 'rb').read())
soi = f.find(b'\xff\xd8\xff\xee')
app14 = 2 + struct.unpack_from('>H', f, soi + 4)[0]
del f[soi + 2:soi + 2 + app14]
item = soi - 8
struct.pack_into('<I', f, item + 4, struct.unpack_from('<I', f, item + 4)[0] - app14)
for marker in (b'\xff\xc0', b'\xff\xda'):
    at = f.find(marker, soi)
    for i, c in enumerate(b'RGB'):
        at = f.find(bytes([c]), at)
        f[at] = i + 1
open('rgb-base-bare.dcm', 'wb').write(f)

# the data set of a JPEG file (undefined lengths throughout) coded with implicit VR, its file meta
# information and transfer syntax unchanged
LONG = {b'OB', b'OD', b'OF', b'OL', b'OV', b'OW', b'SQ', b'SV', b'UC', b'UN', b'UR', b'UT', b'UV'}
f = open('g8-base-undefined.dcm', 'rb').read()
u16 = lambda p: struct.unpack_from('<H', f, p)[0]
u32 = lambda p: struct.unpack_from('<I', f, p)[0]
head = lambda p: (12, u32(p + 8)) if f[p + 4:p + 6] in LONG else (8, u16(p + 6))
pos = 132
while u16(pos) == 2:
    h, n = head(pos)
    pos += h + n
out = bytearray(f[:pos])
while pos < len(f):
    g, e = struct.unpack_from('<HH', f, pos)
    if g == 0xFFFE:  # items and delimiters carry no VR in either form
        out += f[pos:pos + 8]
        pos += 8
        continue
    h, n = head(pos)
    out += f[pos:pos + 4] + struct.pack('<I', n)
    pos += h
    if (g, e) == (0x7FE0, 0x0010):
        out += f[pos:]
        break
    if n != 0xFFFFFFFF:
        out += f[pos:pos + n]
        pos += n
open('g8-base-mixedvr.dcm', 'wb').write(out)
PY
rm g8-base-undefined.dcm
for sv in 1 2 3 4 5 6 7; do dcmcjpeg -q +el +sv $sv s12.dcm s12-sv$sv.dcm; done
for sv in 1 5 7; do dcmcjpeg -q +el +sv $sv u16.dcm u16-sv$sv.dcm; done
for f in g8 rgb palette window; do dcmcjpeg -q +e1 $f.dcm $f-sv1.dcm; done
dcmcjpeg -q +el +sv 6 rgb.dcm rgb-sv6.dcm
dcmcjpeg -q +el +sv 4 +pt 3 u16.dcm u16-pt3.dcm
dcmcjpeg -q +el +sv 2 +pt 2 g8.dcm g8-pt2.dcm
dcmcjpeg -q +el +sv 1 +pt 2 window.dcm window-pt2.dcm
dcmcjpeg -q +e1 s12x3.dcm s12x3-ll.dcm
dcmcjpeg -q +e1 -ot s12x3.dcm s12x3-ll-nobot.dcm
dcmcjpeg -q +e1 +fs 1 u16.dcm u16-fragments.dcm
dcmcjpeg -q +e1 -ot +fs 1 s12x3.dcm s12x3-split.dcm

mkdir -p ref
# JPEG 2000 code streams (no dcmtk tool writes them; the test wraps them into files of its own)
opj_compress -i g8.bmp -o g8.j2k -n 3 >/dev/null
opj_compress -i rgb.bmp -o rgb.j2k -n 3 -r 20 >/dev/null
opj_decompress -i g8.j2k -o ref/g8-j2k-0.pnm >/dev/null
# lossless 16-bit and signed 12-bit grey: the samples of u16.dcm and s12.dcm
cp u16.raw u16.rawl
cp s12.raw s12.rawl
opj_compress -i u16.rawl -o u16.j2k -F 37,29,1,16,u -n 3 >/dev/null
opj_compress -i s12.rawl -o s12.j2k -F 37,29,1,12,s -n 3 >/dev/null
opj_decompress -i rgb.j2k -o ref/rgb-j2k-0.pnm >/dev/null
for f in *.dcm; do
  b=${f%.dcm}
  # dcmtk reads neither frames split without offsets nor data sets of mixed VR encoding; the bare
  # stream's reference is that of the file it was made from
  n=1; case $b in s12x3-split|*-mixedvr|*-bare) continue ;; s12x3*) n=3 ;; esac
  win=+Wm; case $b in window*) win="+Wi 1" ;; esac
  read=; case $b in *nopreamble*) read=-f ;; esac
  i=1
  while [ $i -le $n ]; do
    dcmj2pnm -q $read $win +F $i "$f" "ref/$b-$((i - 1)).pnm"
    i=$((i + 1))
  done
done
