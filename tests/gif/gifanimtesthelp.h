// Helpers of the animation tests: building frames in memory, composing what an animation shows
// (disposal and transparency applied) and reading what the host's decoders composed.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gifextension.h"
#include "giftesthelp.h"

namespace giftest {

// Adds a frame at (left, top) with the given pixels; a non-empty `local` becomes its local map.
inline TGIFSubImage* AddFrame(TGIFImage& image, int left, int top, int w, int h, const std::vector<uint8_t>& pixels,
                              const TGIFPalette& local = {}) {
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->SetFrameBounds(left, top, w, h);
  frame->Pixels() = pixels;
  frame->ColorMap().LoadFromPalette(local);
  TGIFSubImage* raw = frame.get();
  image.AddFrame(std::move(frame));
  return raw;
}

// Gives the frame a graphic control extension; a transparent index >= 0 makes it transparent.
inline TGIFGraphicControlExtension* Control(TGIFSubImage* frame, int disposal, int delay, int transparentIndex = -1) {
  auto* gce = static_cast<TGIFGraphicControlExtension*>(
      frame->AddExtension(std::make_unique<TGIFGraphicControlExtension>(frame)));
  gce->SetDisposal(disposal);
  gce->SetDelay(delay);
  if (transparentIndex >= 0) {
    gce->SetTransparent(true);
    gce->SetTransparentColorIndex(transparentIndex);
  }
  return gce;
}

// What an animation shows: per displayed frame its delay and the screen as RGBA bytes (red, green,
// blue zero where alpha is zero). Restoring to the background clears to transparent.
struct TShown {
  int delay;
  std::vector<uint8_t> rgba;
};

inline std::vector<TShown> Compose(TGIFImage& image) {
  const int W = image.Width(), H = image.Height();
  std::vector<uint8_t> canvas(size_t(W) * size_t(H) * 4, 0);
  std::vector<TShown> shown;
  for (int i = 0; i < image.Images().Count(); ++i) {
    TGIFSubImage& f = image.Images()[i];
    if (f.Empty()) continue;
    const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
    const int disposal = gce ? gce->Disposal() : 0;
    const bool transparent = f.Transparent() && gce;
    const std::vector<uint8_t> saved = canvas;
    const TGIFPalette& colors = f.ActiveColorMap().Entries();
    for (int y = 0; y < f.Height(); ++y)
      for (int x = 0; x < f.Width(); ++x) {
        const uint8_t p = f.PixelAt(x, y);
        const int sx = f.Left() + x, sy = f.Top() + y;
        if ((transparent && p == gce->TransparentColorIndex()) || sx >= W || sy >= H) continue;
        uint8_t* d = &canvas[(size_t(sy) * size_t(W) + size_t(sx)) * 4];
        const TGIFColor c = p < colors.size() ? colors[p] : TGIFColor{0, 0, 0};
        d[0] = c.Red, d[1] = c.Green, d[2] = c.Blue, d[3] = 255;
      }
    shown.push_back({gce ? gce->Delay() : 0, canvas});
    if (disposal == 2 || disposal == 3)
      for (int y = f.Top(); y < std::min(H, f.Top() + f.Height()); ++y)
        for (int x = f.Left(); x < std::min(W, f.Left() + f.Width()); ++x) {
          const size_t at = (size_t(y) * size_t(W) + size_t(x)) * 4;
          for (int k = 0; k < 4; ++k) canvas[at + size_t(k)] = disposal == 2 ? 0 : saved[at + size_t(k)];
        }
  }
  return shown;
}

// The screens shown, one per hundredth of a second: equal timelines mean the same animation even
// when frames were merged into their neighbours.
inline std::vector<const std::vector<uint8_t>*> Timeline(const std::vector<TShown>& shown) {
  std::vector<const std::vector<uint8_t>*> t;
  for (const TShown& s : shown)
    for (int k = 0; k < s.delay; ++k) t.push_back(&s.rgba);
  return t;
}

// Number of hundredths at which the two animations show different screens (or a differing length).
inline size_t TimelineDifferences(const std::vector<TShown>& a, const std::vector<TShown>& b) {
  const auto ta = Timeline(a), tb = Timeline(b);
  size_t wrong = ta.size() > tb.size() ? ta.size() - tb.size() : tb.size() - ta.size();
  for (size_t i = 0; i < std::min(ta.size(), tb.size()); ++i)
    if (*ta[i] != *tb[i]) ++wrong;
  return wrong;
}

// Composes `name` in the work folder with the host's decoders: PIL seeking every frame, and netpbm's
// giftopnm decoding each image (with its transparency), cut out by a small block walker that places
// it on the screen with its disposal. Each returns the frames in the form of Compose.
inline const char* kHostCompose = R"PY(
import struct, subprocess, sys
from PIL import Image
name = sys.argv[1]

def norm(b):
    b = bytearray(b)
    for i in range(0, len(b), 4):
        if b[i + 3] == 0:
            b[i:i + 3] = b'\0\0\0'
    return bytes(b)

im = Image.open(name)
out = bytearray()
n = 0
while True:
    try:
        im.seek(n)
    except EOFError:
        break
    out += struct.pack('<H', im.info.get('duration', 0) // 10) + norm(im.convert('RGBA').tobytes())
    n += 1
open('pil.bin', 'wb').write(out)

data = open(name, 'rb').read()
W, H = struct.unpack('<HH', data[6:10])
p = 13 + ((3 << ((data[10] & 7) + 1)) if data[10] & 0x80 else 0)
head = data[:p]
frames, disposal, delay, control = [], 0, 0, b''
def skip_blocks(p):
    while data[p]:
        p += data[p] + 1
    return p + 1
while p < len(data):
    start = p
    b = data[p]; p += 1
    if b == 0x3B:
        break
    if b == 0x21:
        label = data[p]; p += 1
        if label == 0xF9:
            disposal = (data[p + 1] >> 2) & 7
            delay = struct.unpack('<H', data[p + 2:p + 4])[0]
        p = skip_blocks(p)
        if label == 0xF9:
            control = data[start:p]
    elif b == 0x2C:
        l, t, w, h = struct.unpack('<HHHH', data[p:p + 8]); flags = data[p + 8]; p += 9
        if flags & 0x80:
            p += 3 << ((flags & 7) + 1)
        p = skip_blocks(p + 1)
        # Each image goes to giftopnm as a file of its own: giftopnm keeps a transparent index from
        # one graphic control block to the next image when that block has none.
        frames.append((l, t, w, h, disposal, delay, head + control + data[start:p] + b';'))
        disposal, delay, control = 0, 0, b''
    else:
        raise SystemExit('bad block %d at %d' % (b, p - 1))
canvas = Image.new('RGBA', (W, H), (0, 0, 0, 0))
out = bytearray()
for (l, t, w, h, disposal, delay, single) in frames:
    open('pnm_one.gif', 'wb').write(single)
    subprocess.run('/usr/bin/giftopnm -alphaout=pnm_a.pbm pnm_one.gif > pnm_i.ppm', shell=True, check=True)
    rgb = Image.open('pnm_i.ppm').convert('RGB')
    alpha = Image.open('pnm_a.pbm').convert('L')
    assert rgb.size == (w, h), (rgb.size, w, h)
    saved = canvas.copy()
    layer = rgb.copy()
    layer.putalpha(alpha)
    canvas.paste(layer, (l, t), alpha)
    out += struct.pack('<H', delay) + norm(canvas.tobytes())
    if disposal == 2:
        canvas.paste((0, 0, 0, 0), (l, t, l + w, t + h))
    elif disposal == 3:
        canvas.paste(saved.crop((l, t, l + w, t + h)), (l, t))
open('pnm.bin', 'wb').write(out)
)PY";

inline std::vector<TShown> ReadComposed(const std::string& binName, int w, int h) {
  const std::vector<uint8_t> bytes = ReadWorkFile(binName);
  const size_t frameBytes = size_t(w) * size_t(h) * 4;
  std::vector<TShown> shown;
  for (size_t at = 0; at + 2 + frameBytes <= bytes.size(); at += 2 + frameBytes)
    shown.push_back({bytes[at] | (bytes[at + 1] << 8),
                     std::vector<uint8_t>(bytes.begin() + long(at + 2), bytes.begin() + long(at + 2 + frameBytes))});
  return shown;
}

}  // namespace giftest
