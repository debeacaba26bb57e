// PSD writing: header, colour mode data, image resources, layer records with their channels and user
// masks, and the merged image; every channel PackBits-compressed. Lengths that precede data of unknown
// size are written as 0 and patched once the data is out.
#include <cstdlib>
#include <cstring>

#include "iecodeccommon.h"
#include "iepackbits.h"
#include "iepsd.h"
#include "iestreams.h"
#include "ieutils.h"
#include "jpegfilt.h"

namespace {

constexpr int kMaxNameBytes = 255;
constexpr int kMaxPSDSide = 30000;  // the largest width and height a version 1 file may state

struct TMode {
  int mode = -1;  // -1: not writable
  int depth = 8;
};

TMode ModeOf(TIEPixelFormat f) {
  switch (f) {
    case ie1g: return {0, 1};
    case ie8p: return {2, 8};
    case ie8g: return {1, 8};
    case ie16g: return {1, 16};
    case ie24RGB: case ie32RGB: return {3, 8};
    case ieRGB48: return {3, 16};
    case ieCMYK: return {4, 8};
    case ieCIELab: return {9, 8};
    default: return {};
  }
}

// The pixel format a colour mode is written from.
TIEPixelFormat FormatOfMode(const TMode& m) {
  switch (m.mode) {
    case 0: return ie1g;
    case 1: return m.depth == 16 ? ie16g : ie8g;
    case 2: return ie8p;
    case 3: return m.depth == 16 ? ieRGB48 : ie24RGB;
    case 4: return ieCMYK;
    case 9: return ieCIELab;
    default: return ieNoFormat;
  }
}

int ColourChannels(TIEPixelFormat f) {
  switch (f) {
    case ie24RGB: case ieRGB48: case ieCIELab: return 3;
    case ieCMYK: return 4;
    default: return 1;
  }
}

}  // namespace

void IEPSDPackBits(const uint8_t* row, int n, std::vector<uint8_t>& out) {
  out.clear();
  IEPackBitsEncodeRow(row, n, out);
}

namespace {

class TPSDWriter {
 public:
  TPSDWriter(TIEStream& s, const TIOParamsVals& p, TIECodecProgress& pr) : stream_(s), params_(p), progress_(pr) {}
  void Run(TIEBitmap* merged, TIEPSDLayerList& layers);

 private:
  void Put(const void* b, size_t n) {
    if (n) IEStreamWriteCheck(stream_, *abort_, b, int32_t(n));
  }
  void PutU8(int v) { const uint8_t b = uint8_t(v); Put(&b, 1); }
  void PutU16(int v) {
    uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    Put(b, 2);
  }
  void PutU32(uint32_t v) {
    uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    Put(b, 4);
  }
  int64_t Pos() { return stream_.GetPosition(); }
  // Writes `value` at `at` as a big-endian field of `bytes` bytes and returns to the end.
  void Patch(int64_t at, uint32_t value, int bytes) {
    const int64_t here = Pos();
    stream_.SetPosition(at);
    if (bytes == 2) PutU16(int(value));
    else PutU32(value);
    stream_.SetPosition(here);
  }
  void PadEven() {
    if ((Pos() - start_) & 1) PutU8(0);
  }
  void Resource(int id, const void* data, size_t size) {
    PadEven();
    Put("8BIM", 4);
    PutU16(id);
    PutU16(0);  // empty name
    PutU32(uint32_t(size));
    Put(data, size);
  }
  void WriteResources(TIEBitmap& merged);
  void WriteLayers(TIEPSDLayerList& layers);
  // One channel's rows: kind 0 colour channel c, 1 alpha, 2 mask (8-bit grey bitmap). With
  // `countsAt` >= 0 the row byte counts are patched there (the merged image); else this channel
  // writes its own compression word and counts.
  void WriteChannel(TIEBitmap& b, int kind, int c, int64_t countsAt);
  void ChannelRow(TIEBitmap& b, int kind, int c, int y, std::vector<uint8_t>& out);

  TIEStream& stream_;
  const TIOParamsVals& params_;
  TIECodecProgress& progress_;
  std::atomic<bool> localAbort_{false};
  std::atomic<bool>* abort_ = &localAbort_;
  int64_t start_ = 0;
  TMode mode_;
  TIEPixelFormat format_ = ieNoFormat;
};

void TPSDWriter::ChannelRow(TIEBitmap& b, int kind, int c, int y, std::vector<uint8_t>& out) {
  const int w = b.GetImageWidth();
  const bool wide = mode_.depth == 16;
  const uint8_t* row = kind == 1 ? b.GetAlphaChannel()->GetRowAddress(y) : b.GetRowAddress(y);
  if (kind != 0) {  // alpha and mask: 8-bit values, as words of value x 257 in 16-bit files
    out.resize(size_t(w) * (wide ? 2 : 1));
    for (int x = 0; x < w; ++x) {
      if (wide) out[size_t(2 * x)] = out[size_t(2 * x + 1)] = row[x];
      else out[size_t(x)] = row[x];
    }
    return;
  }
  switch (b.GetPixelFormat()) {
    case ie1g:
      out.resize(size_t((w + 7) / 8));
      for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(~row[i]);
      break;
    case ie24RGB:
      out.resize(size_t(w));
      for (int x = 0; x < w; ++x) out[size_t(x)] = row[3 * x + 2 - c];
      break;
    case ie16g:
    case ieRGB48: {
      const int stride = b.GetPixelFormat() == ie16g ? 1 : 3;
      out.resize(size_t(w) * 2);
      for (int x = 0; x < w; ++x) {
        const uint16_t v = IEReadU16LE(row + 2 * (x * stride + c));
        out[size_t(2 * x)] = uint8_t(v >> 8);
        out[size_t(2 * x + 1)] = uint8_t(v);
      }
      break;
    }
    case ieCIELab:  // a and b are stored offset by 128
      out.resize(size_t(w));
      for (int x = 0; x < w; ++x) out[size_t(x)] = uint8_t(row[3 * x + c] + (c == 0 ? 0 : 128));
      break;
    default: {  // ie8g, ie8p, ieCMYK: byte c of each pixel
      const int stride = b.GetChannelCount();
      out.resize(size_t(w));
      for (int x = 0; x < w; ++x) out[size_t(x)] = row[x * stride + c];
      break;
    }
  }
}

void TPSDWriter::WriteChannel(TIEBitmap& b, int kind, int c, int64_t countsAt) {
  const int h = b.GetImageHeight();
  if (countsAt < 0) {
    PutU16(1);
    countsAt = Pos();
    for (int y = 0; y < h; ++y) PutU16(0);
  }
  std::vector<uint8_t> row, packed, counts(size_t(h) * 2);
  for (int y = 0; y < h && !*abort_; ++y) {
    ChannelRow(b, kind, c, y, row);
    IEPSDPackBits(row.data(), int(row.size()), packed);
    Put(packed.data(), packed.size());
    counts[size_t(y) * 2] = uint8_t(packed.size() >> 8);
    counts[size_t(y) * 2 + 1] = uint8_t(packed.size());
  }
  const int64_t here = Pos();
  stream_.SetPosition(countsAt);
  Put(counts.data(), counts.size());
  stream_.SetPosition(here);
}

void TPSDWriter::WriteResources(TIEBitmap& merged) {
  const int64_t lengthAt = Pos();
  PutU32(0);
  uint8_t res[16] = {};
  auto be32 = [](uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v); };
  be32(res, uint32_t(params_.DpiX) << 16);
  res[5] = 1;  // pixels per inch
  res[7] = 1;  // width unit: inches
  be32(res + 8, uint32_t(params_.DpiY) << 16);
  res[13] = 1;
  res[15] = 1;
  Resource(1005, res, 16);
  if (merged.GetPixelFormat() == ie8p) {
    const uint8_t t[2] = {0, 255};
    Resource(1047, t, 2);
  }
  void* iptc = nullptr;
  int32_t iptcLen = 0;
  if (params_.IPTCInfo.SaveToBuffer(iptc, iptcLen, false) && iptc && iptcLen > 0) Resource(1028, iptc, size_t(iptcLen));
  std::free(iptc);
  const std::vector<uint8_t>& icc = params_.InputICCProfile.Raw();
  if (!icc.empty()) Resource(1039, icc.data(), icc.size());
  if (params_.ExifThumbnail && !params_.ExifThumbnail->IsEmpty()) {
    TIEMemoryStream jpeg;
    TIOParamsVals jp(nullptr);
    std::atomic<bool> abort{false};
    TIECodecProgress p;
    p.Aborting = &abort;
    IEJPEGWrite(jpeg, *params_.ExifThumbnail, jp, p);
    if (!abort) {
      const uint32_t w = uint32_t(params_.ExifThumbnail->GetImageWidth());
      const uint32_t h = uint32_t(params_.ExifThumbnail->GetImageHeight());
      std::vector<uint8_t> d(28);
      be32(&d[0], 1);
      be32(&d[4], w);
      be32(&d[8], h);
      be32(&d[12], w * 3);
      be32(&d[16], w * h * 3);
      be32(&d[20], uint32_t(jpeg.GetSize()));
      d[25] = 24;
      d[27] = 1;
      const uint8_t* j = static_cast<const uint8_t*>(jpeg.Memory());
      d.insert(d.end(), j, j + jpeg.GetSize());
      Resource(1036, d.data(), d.size());
    }
  }
  if (!params_.XMPInfo.empty()) Resource(1060, params_.XMPInfo.data(), params_.XMPInfo.size());
  PadEven();
  Patch(lengthAt, uint32_t(Pos() - lengthAt - 4), 4);
}

void TPSDWriter::WriteLayers(TIEPSDLayerList& layers) {
  const int64_t sectionAt = Pos();
  PutU32(0);
  if (layers.empty()) return;
  const int64_t infoAt = Pos();
  PutU32(0);
  int count = 0;
  for (const TIEPSDLayer& l : layers) count += l.IsMask ? 0 : 1;
  PutU16(count);
  // positions of each written layer's channel length fields, in channel order
  std::vector<std::vector<int64_t>> lengthSlots;
  std::vector<size_t> written;
  for (size_t i = 0; i < layers.size(); ++i) {
    TIEPSDLayer& l = layers[i];
    if (l.IsMask) continue;
    TIEBitmap& b = *l.Bitmap;
    const TIEPSDLayer* mask = (i + 1 < layers.size() && layers[i + 1].IsMask) ? &layers[i + 1] : nullptr;
    PutU32(uint32_t(l.PosY));
    PutU32(uint32_t(l.PosX));
    PutU32(uint32_t(l.PosY + b.GetImageHeight()));
    PutU32(uint32_t(l.PosX + b.GetImageWidth()));
    const int colour = ColourChannels(b.GetPixelFormat());
    const bool alpha = b.AlphaPresent();
    PutU16(colour + (alpha ? 1 : 0) + (mask ? 1 : 0));
    std::vector<int64_t> slots;
    auto channel = [&](int id) {
      PutU16(id & 0xFFFF);
      slots.push_back(Pos());
      PutU32(0);
    };
    if (alpha) channel(-1);
    for (int c = 0; c < colour; ++c) channel(c);
    if (mask) channel(-2);
    Put("8BIMnorm", 8);
    PutU8(IEMax(0, IEMin(255, l.Transparency)));
    PutU8(0);                    // clipping: base
    PutU8(l.Visible ? 0 : 2);
    PutU8(0);
    const int64_t extraAt = Pos();
    PutU32(0);
    if (mask) {
      PutU32(20);
      PutU32(uint32_t(mask->PosY));
      PutU32(uint32_t(mask->PosX));
      PutU32(uint32_t(mask->PosY + mask->Bitmap->GetImageHeight()));
      PutU32(uint32_t(mask->PosX + mask->Bitmap->GetImageWidth()));
      PutU8(0);  // default colour
      PutU8(0);  // flags
      PutU16(0);
    } else {
      PutU32(0);
    }
    PutU32(0);  // blending ranges
    const std::string name = l.Name.substr(0, kMaxNameBytes);
    PutU8(int(name.size()));
    Put(name.data(), name.size());
    while ((Pos() - extraAt - 4) % 4 != 0) PutU8(1);
    Patch(extraAt, uint32_t(Pos() - extraAt - 4), 4);
    lengthSlots.push_back(slots);
    written.push_back(i);
  }
  for (size_t k = 0; k < written.size() && !*abort_; ++k) {
    TIEPSDLayer& l = layers[written[k]];
    TIEBitmap& b = *l.Bitmap;
    const std::vector<int64_t>& slots = lengthSlots[k];
    size_t slot = 0;
    auto channel = [&](TIEBitmap& src, int kind, int c) {
      const int64_t at = Pos();
      WriteChannel(src, kind, c, -1);
      Patch(slots[slot++], uint32_t(Pos() - at), 4);
    };
    if (b.AlphaPresent()) channel(b, 1, 0);
    for (int c = 0; c < ColourChannels(b.GetPixelFormat()); ++c) channel(b, 0, c);
    const size_t i = written[k];
    if (i + 1 < layers.size() && layers[i + 1].IsMask) channel(*layers[i + 1].Bitmap, 2, 0);
    progress_.Report(int(double(k + 1) / double(written.size()) * 100));
  }
  PadEven();
  Patch(infoAt, uint32_t(Pos() - infoAt - 4), 4);
  PutU32(0);  // global layer mask information
  Patch(sectionAt, uint32_t(Pos() - sectionAt - 4), 4);
}

void TPSDWriter::Run(TIEBitmap* merged, TIEPSDLayerList& layers) {
  if (progress_.Aborting) abort_ = progress_.Aborting;
  start_ = Pos();
  TIEBitmap* reference = merged && !merged->IsEmpty() ? merged : (!layers.empty() ? layers[0].Bitmap.get() : nullptr);
  mode_ = reference ? ModeOf(reference->GetPixelFormat()) : TMode{};
  if (mode_.mode < 0 || !merged || merged->IsEmpty() || merged->GetImageWidth() > kMaxPSDSide ||
      merged->GetImageHeight() > kMaxPSDSide) {
    *abort_ = true;
    return;
  }
  for (const TIEPSDLayer& l : layers)
    if (l.Bitmap && !l.Bitmap->IsEmpty() && (l.DisplayWidth() > kMaxPSDSide || l.DisplayHeight() > kMaxPSDSide)) {
      *abort_ = true;
      return;
    }
  format_ = FormatOfMode(mode_);
  // layers in the file's colour mode and at their display size
  for (TIEPSDLayer& l : layers) {
    if (!l.Bitmap || l.Bitmap->IsEmpty()) continue;
    if (l.IsMask) {  // masks are 8-bit grey
      if (l.Bitmap->GetPixelFormat() != ie8g) l.Bitmap->SetPixelFormat(ie8g);
      continue;
    }
    if (l.Bitmap->GetPixelFormat() != format_) l.Bitmap->SetPixelFormat(format_);
    const int dw = l.DisplayWidth(), dh = l.DisplayHeight();
    if (dw != l.Bitmap->GetImageWidth() || dh != l.Bitmap->GetImageHeight()) {
      std::unique_ptr<TIEBitmap> sized(new TIEBitmap(dw, dh, format_));
      IEResample(l.Bitmap.get(), sized.get(), l.UseResampleFilter ? l.ResampleFilter : rfNone, nullptr, nullptr);
      if (sized->GetPixelFormat() != format_) sized->SetPixelFormat(format_);
      l.Bitmap = std::move(sized);
    }
  }
  for (size_t i = 0; i < layers.size();) {  // layers without pixels cannot be written, nor their masks
    if (layers[i].Bitmap && !layers[i].Bitmap->IsEmpty()) {
      ++i;
      continue;
    }
    const bool maskFollows = !layers[i].IsMask && i + 1 < layers.size() && layers[i + 1].IsMask;
    layers.erase(layers.begin() + long(i), layers.begin() + long(i + (maskFollows ? 2 : 1)));
  }
  TIEWriterSource source(*merged, format_);
  TIEBitmap& image = *source.get();
  const int colour = ColourChannels(format_);
  // the merged image's transparency goes along as the channel after the colour channels
  const bool alpha = merged->AlphaPresent() && format_ != ie1g && format_ != ie8p;
  if (alpha && !image.AlphaPresent()) image.GetAlphaChannel()->Assign(merged->GetAlphaChannel());
  const int channels = colour + (alpha ? 1 : 0);
  Put("8BPS", 4);
  PutU16(1);
  Put("\0\0\0\0\0\0", 6);
  PutU16(channels);
  PutU32(uint32_t(image.GetImageHeight()));
  PutU32(uint32_t(image.GetImageWidth()));
  PutU16(mode_.depth);
  PutU16(mode_.mode);
  if (format_ == ie8p) {
    PutU32(768);
    uint8_t p[768];
    for (int i = 0; i < 256; ++i) {
      const TIERGB c = image.GetPaletteEntry(i);
      p[i] = c.r;
      p[256 + i] = c.g;
      p[512 + i] = c.b;
    }
    Put(p, 768);
  } else {
    PutU32(0);
  }
  WriteResources(image);
  WriteLayers(layers);
  PutU16(1);
  const int64_t countsAt = Pos();
  const int h = image.GetImageHeight();
  std::vector<uint8_t> zeros(size_t(channels) * size_t(h) * 2, 0);
  Put(zeros.data(), zeros.size());
  for (int c = 0; c < channels && !*abort_; ++c) {
    WriteChannel(image, c < colour ? 0 : 1, c, countsAt + int64_t(c) * h * 2);
    if (!layers.empty()) progress_.Report(int(double(c + 1) / channels * 100));
  }
}

}  // namespace

void IEPSDWrite(TIEStream& Stream, const TIOParamsVals& Params, TIECodecProgress Progress, TIEBitmap* Bitmap,
                TIEPSDLayerList& Layers) {
  TPSDWriter writer(Stream, Params, Progress);
  writer.Run(Bitmap, Layers);
}
