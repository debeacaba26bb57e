// Camera raw reading through LibRaw. The decoder works on a copy of the stream in memory; its linear
// 16-bit RGB image is turned into output samples here, with our own brightness value and histogram.
#include "ieraw.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "ieareaops.h"
#include "iecodeccommon.h"
#include "iestreams.h"
#include "ieutils.h"
#include "jpegfilt.h"
#include "tifexif.h"

namespace {

constexpr int kHistogramBins = 8192;
// Raw files are read into memory whole: none of the supported cameras writes more.
constexpr int64_t kMaxRawFileBytes = int64_t(1) << 30;
// No camera packs its sensor data into less than an eighth of a byte per pixel, so a header that claims
// more pixels than this many per file byte is not believed.
constexpr uint64_t kMaxPixelsPerFileByte = 8;
// A TIFF header further in than this is not the file's own.
constexpr int64_t kTIFFHeaderSearch = 128 * 1024;
// CIFF heaps: entries read per directory, and how deep sub-heaps may nest.
constexpr int kMaxHeapEntries = 256;
constexpr int kMaxHeapDepth = 8;

// The stream's bytes from its position to the end; empty when there are none or too many.
std::vector<uint8_t> ReadAll(TIEStream& s) {
  const int64_t pos = s.GetPosition();
  const int64_t n = s.GetSize() - pos;
  std::vector<uint8_t> out;
  if (n <= 0 || n > kMaxRawFileBytes) return out;
  out.resize(size_t(n));
  int64_t got = 0;
  while (got < n) {
    const int32_t k = s.Read(out.data() + got, int32_t(std::min<int64_t>(n - got, 1 << 30)));
    if (k <= 0) break;
    got += k;
  }
  out.resize(size_t(got));
  return out;
}

// Offset of the first TIFF header ("II*\0" or "MM\0*") within the search window, or -1.
int64_t IEFindTIFFHeader(const std::vector<uint8_t>& d) {
  const size_t end = size_t(std::min<int64_t>(int64_t(d.size()), kTIFFHeaderSearch));
  for (size_t i = 0; i + 4 <= end; ++i) {
    if ((d[i] == 'I' && d[i + 1] == 'I' && d[i + 2] == 42 && d[i + 3] == 0) ||
        (d[i] == 'M' && d[i + 1] == 'M' && d[i + 2] == 0 && d[i + 3] == 42))
      return int64_t(i);
  }
  return -1;
}

// Decodes a JPEG held in memory into `out`; false when it does not decode.
bool DecodeJPEG(const uint8_t* data, size_t size, TIEBitmap& out, bool paramsOnly, int* w = nullptr, int* h = nullptr) {
  TIEMemStream js(data, int64_t(size));
  TIOParamsVals p(nullptr);
  std::atomic<bool> abort{false};
  TIECodecProgress pr;
  pr.Aborting = &abort;
  TIEBitmap scratch;
  IEJPEGRead(js, nullptr, paramsOnly ? scratch : out, p, pr, paramsOnly, false, false, false, false, true, -1, false);
  if (w) *w = p.Width;
  if (h) *h = p.Height;
  return !abort;
}

// ---- Canon CIFF heap ----

class TCIFFReader {
 public:
  TCIFFReader(const std::vector<uint8_t>& d, TIOParamsVals& p) : d_(d), params_(p) {}

  void Run() {
    if (d_.size() < 14) return;
    const bool ii = d_[0] == 'I' && d_[1] == 'I', mm = d_[0] == 'M' && d_[1] == 'M';
    if ((!ii && !mm) || std::memcmp(&d_[6], "HEAPCCDR", 8) != 0) return;
    big_ = mm;
    const uint32_t headerLen = U32(2);
    if (headerLen >= d_.size()) return;
    Heap(headerLen, d_.size() - headerLen, 0);
    if (!params_.ExifThumbnail) params_.ExifThumbnail = std::make_shared<TIEBitmap>();
    params_.ExifThumbnail->FreeStorage(true);
    if (bestSize_ > 0) DecodeJPEG(&d_[bestAt_], bestSize_, *params_.ExifThumbnail, false);
    StoreMakerNote();
  }

 private:
  uint16_t U16(size_t at) const { return big_ ? IEReadU16BE(&d_[at]) : IEReadU16LE(&d_[at]); }
  uint32_t U32(size_t at) const { return big_ ? IEReadU32BE(&d_[at]) : IEReadU32LE(&d_[at]); }
  bool Inside(uint64_t at, uint64_t n) const { return at <= d_.size() && n <= d_.size() - at; }
  std::string Text(size_t at, size_t n) const {
    std::string s;
    for (size_t i = 0; i < n && d_[at + i]; ++i) s += char(d_[at + i]);
    return s;
  }

  void Heap(uint64_t start, uint64_t length, int depth) {
    // a heap that contains itself (or nests without end) is read once
    if (depth > kMaxHeapDepth || length < 4 || !Inside(start, length) || !visited_.insert(start).second) return;
    const uint64_t dir = start + U32(size_t(start + length - 4));
    if (!Inside(dir, 2)) return;
    const int count = IEMin(int(U16(size_t(dir))), kMaxHeapEntries);
    for (int i = 0; i < count; ++i) {
      const uint64_t e = dir + 2 + uint64_t(i) * 10;
      if (!Inside(e, 10)) return;
      const int type = U16(size_t(e));
      uint64_t size = U32(size_t(e + 2)), at = start + U32(size_t(e + 6));
      if (type >= 0x4000) {  // the value lives in the entry itself
        at = e + 2;
        size = 8;
      }
      if (at >= d_.size()) return;
      if (!Inside(at, size)) continue;
      Entry(type & 0x3FFF, size_t(at), size_t(size), depth);
    }
  }

  // The camera settings and shot information as a little directory of SHORT arrays (tags 1 and 4),
  // little-endian as the maker-note handler keeps its entries; values of 4 bytes or less stand in
  // their entry, longer ones after all entries.
  void StoreMakerNote() {
    TIETagsHandler& note = params_.ExifMakerNote;
    note.Clear();
    if (noteTags_.empty()) return;
    TIEMemoryStream& s = note.InternalStream();
    std::vector<uint8_t> head(2 + 12 * noteTags_.size(), 0), blocks;
    IEWriteU16LE(head.data(), uint16_t(noteTags_.size()));
    uint32_t dataAt = uint32_t(head.size());
    for (size_t i = 0; i < noteTags_.size(); ++i) {
      const std::vector<uint16_t>& v = noteTags_[i].second;
      uint8_t* e = &head[2 + 12 * i];
      IEWriteU16LE(e, noteTags_[i].first);
      IEWriteU16LE(e + 2, 3);  // SHORT
      IEWriteU32LE(e + 4, uint32_t(v.size()));
      std::vector<uint8_t> bytes(v.size() * 2);
      for (size_t k = 0; k < v.size(); ++k) IEWriteU16LE(&bytes[2 * k], v[k]);
      if (bytes.size() <= 4) {
        std::memcpy(e + 8, bytes.data(), bytes.size());
      } else {
        IEWriteU32LE(e + 8, dataAt);
        blocks.insert(blocks.end(), bytes.begin(), bytes.end());
        dataAt += uint32_t(bytes.size());
      }
    }
    s.WriteBuffer(head.data(), int32_t(head.size()));
    if (!blocks.empty()) s.WriteBuffer(blocks.data(), int32_t(blocks.size()));
    note.LoadEntries();
  }

  void KeepNoteTag(uint16_t tag, size_t at, size_t size) {
    std::vector<uint16_t> v(size / 2);
    for (size_t k = 0; k < v.size(); ++k) v[k] = U16(at + 2 * k);
    for (auto& t : noteTags_)
      if (t.first == tag) {
        t.second = std::move(v);
        return;
      }
    noteTags_.push_back({tag, std::move(v)});
  }

  void Entry(int type, size_t at, size_t size, int depth) {
    switch (type) {
      case 0x102D: KeepNoteTag(1, at, size); break;  // camera settings
      case 0x102A: KeepNoteTag(4, at, size); break;  // shot information
      case 0x0805: params_.ExifImageDescription = Text(at, size); break;
      case 0x080A: {
        params_.ExifMake = Text(at, size);
        const size_t next = params_.ExifMake.size() + 1;
        params_.ExifModel = next < size ? Text(at + next, size - next) : std::string();
        break;
      }
      case 0x080B: params_.ExifSoftware = Text(at, size); break;
      case 0x1810:
        if (size >= 8) {
          params_.SetExifPixelXDimension(int(U32(at)));
          params_.SetExifPixelYDimension(int(U32(at + 4)));
        }
        break;
      case 0x2007:
      case 0x2008: {  // an embedded JPEG: the smallest one is the preview
        TIEBitmap none;
        int w = 0, h = 0;
        if (DecodeJPEG(&d_[at], size, none, true, &w, &h) && w > 0 && h > 0 && (bestSize_ == 0 || (w < bestW_ && h < bestH_))) {
          bestAt_ = at;
          bestSize_ = size;
          bestW_ = w;
          bestH_ = h;
        }
        break;
      }
      case 0x2800: case 0x2807: case 0x3000: case 0x3002: case 0x3003: case 0x3004: case 0x300A: case 0x300B:
        Heap(at, size, depth + 1);
        break;
      default:
        break;
    }
  }

  const std::vector<uint8_t>& d_;
  TIOParamsVals& params_;
  bool big_ = false;
  std::set<uint64_t> visited_;
  size_t bestAt_ = 0, bestSize_ = 0;
  int bestW_ = 0, bestH_ = 0;
  std::vector<std::pair<uint16_t, std::vector<uint16_t>>> noteTags_;  // maker-note tag, its values
};

struct TLibRawDeleter {
  void operator()(LibRaw* p) const { delete p; }
};

// A processor whose data errors (a short or corrupt file) are recorded in *failed instead of printed.
std::unique_ptr<LibRaw, TLibRawDeleter> NewProcessor(bool* failed) {
  std::unique_ptr<LibRaw, TLibRawDeleter> raw(new LibRaw(LIBRAW_OPTIONS_NONE));
  raw->set_dataerror_handler([](void* flag, const char*, const int) { *static_cast<bool*>(flag) = true; }, failed);
  return raw;
}

// The embedded preview of a TIFF-structured raw file into Params.ExifThumbnail (emptied when there is
// none). A processor of its own: unpacking the preview changes the decoder's colour balance.
void ReadDecoderPreview(const std::vector<uint8_t>& data, TIOParamsVals& params) {
  if (!params.ExifThumbnail) params.ExifThumbnail = std::make_shared<TIEBitmap>();
  TIEBitmap& t = *params.ExifThumbnail;
  t.FreeStorage(true);
  bool failed = false;
  auto raw = NewProcessor(&failed);
  if (raw->open_buffer(const_cast<uint8_t*>(data.data()), data.size()) != LIBRAW_SUCCESS ||
      raw->unpack_thumb() != LIBRAW_SUCCESS || failed)
    return;
  const libraw_thumbnail_t& th = raw->imgdata.thumbnail;
  if (!th.thumb || th.tlength == 0) return;
  if (th.tformat == LIBRAW_THUMBNAIL_JPEG) {
    DecodeJPEG(reinterpret_cast<const uint8_t*>(th.thumb), th.tlength, t, false);
  } else if (th.tformat == LIBRAW_THUMBNAIL_BITMAP && th.tcolors == 3 &&
             uint64_t(th.twidth) * th.theight * 3 <= th.tlength && th.twidth > 0 && th.theight > 0) {
    if (!t.Allocate(th.twidth, th.theight, ie24RGB)) return;
    for (int y = 0; y < th.theight; ++y)
      IECopySwapRB(t.GetRowAddress(y), th.thumb + size_t(y) * th.twidth * 3, th.twidth);
  }
}

// The EXIF fields of a TIFF-structured raw file whose TIFF header is at `tiff`, and its embedded
// preview as Params.ExifThumbnail.
void IELoadExifFromRawStream(const std::vector<uint8_t>& data, int64_t tiff, TIOParamsVals& Params) {
  IELoadExifFromTIFFData(data.data() + tiff, data.size() - size_t(tiff), Params);
  ReadDecoderPreview(data, Params);
}

}  // namespace

int IERAWBrightness(int r, int g, int b) {
  const double v = std::sqrt((double(r) * r + double(g) * g + double(b) * b) / 3.0);
  return v >= 65535 ? 65535 : int(v);
}

int IERAWWhitePoint(const std::vector<uint32_t>& histogram, double fraction, int64_t pixels) {
  const int64_t perc = int64_t(fraction * double(pixels));
  int64_t sum = 0;
  int b = 0;
  for (int i = kHistogramBins - 1; i >= 1; --i) {
    sum += histogram[size_t(i)];
    b = i;
    if (sum > perc) break;
  }
  if (sum == 0) b = 0;
  const int white = b * 16;
  return white == 0 ? 1 : white;
}

void IERAWFujiUnrotate(TIEBitmap& bitmap) {
  const TIEPixelFormat f = bitmap.GetPixelFormat();
  if (f != ie24RGB && f != ieRGB48) return;
  const int bpp = f == ie24RGB ? 3 : 6;
  const int W = bitmap.GetImageWidth(), H = bitmap.GetImageHeight();
  if (W <= 0 || H <= 0) return;
  const uint8_t* row0 = bitmap.GetRowAddress(0);
  auto black = [&](int x) {
    for (int k = 0; k < bpp; ++k)
      if (row0[x * bpp + k]) return false;
    return true;
  };
  int c = 0;
  while (c < W && black(c)) ++c;
  int L = 0;
  for (int x = W - 1; x >= 0; --x)
    if (!black(x)) {
      L = x;
      break;
    }
  const int F = 2 * W - 2 * c - 4;
  // an all-black or lead-in-less first row gives no diamond to measure (F or L would be 0 or less)
  if (F < 2 || L < 1 || !IEImageSizeAllowed(2 * int64_t(L), F)) return;
  std::vector<uint8_t> grid(size_t(L) * size_t(F) * size_t(bpp), 0);
  for (int y = 0; y < H; ++y) {
    const uint8_t* src = bitmap.GetRowAddress(y);
    for (int x = 0; x < W; ++x) {
      const int r = x + y - L + 5;
      const int kk = x + L - y - 1;
      if (r < 0 || r >= F || kk < 0) continue;
      const int k = kk / 2;
      if (k >= L) continue;
      std::memcpy(&grid[(size_t(r) * L + k) * bpp], src + size_t(x) * bpp, size_t(bpp));
    }
  }
  auto cell = [&](int k, int r) -> const uint8_t* { return &grid[(size_t(r) * L + k) * bpp]; };
  TIEBitmap result(2 * L, F, f);
  result.Fill(0);
  for (int j = 1; j < F; ++j) {
    uint8_t* out = result.GetRowAddress(j - 1);
    for (int l = 1; l < 2 * L; ++l) {
      uint8_t* px = out + size_t(l) * bpp;
      if ((j + l) % 2 == 0) {
        std::memcpy(px, cell(l / 2, j), size_t(bpp));
      } else if (j <= F - 2 && l <= 2 * L - 2) {
        const int k2 = l / 2 - (j % 2 == 1 ? 1 : 0);
        if (k2 < 0 || k2 + 1 >= L) continue;
        const uint8_t* a = cell(l / 2, j - 1);
        const uint8_t* b = cell(k2, j);
        const uint8_t* d = cell(l / 2, j + 1);
        const uint8_t* e = cell(k2 + 1, j);
        for (int s = 0; s < 3; ++s) {
          if (bpp == 3) {
            px[s] = uint8_t((a[s] + b[s] + d[s] + e[s]) >> 2);
          } else {
            const uint32_t v = IEReadU16LE(a + 2 * s) + IEReadU16LE(b + 2 * s) + IEReadU16LE(d + 2 * s) + IEReadU16LE(e + 2 * s);
            IEWriteU16LE(px + 2 * s, uint16_t(v >> 2));
          }
        }
      }
    }
  }
  bitmap.Assign(&result);
}

bool IECameraRAWTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  std::vector<uint8_t> d = ReadAll(Stream);
  Stream.SetPosition(pos);
  if (d.empty()) return false;
  bool failed = false;
  auto raw = NewProcessor(&failed);
  return raw->open_buffer(d.data(), d.size()) == LIBRAW_SUCCESS;
}

void IECameraRAWRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                     bool ParamsOnly) {
  const int64_t start = Stream.GetPosition();
  if (Params.RAWReadExifThumbnail) {
    if (Params.ExifThumbnail) Params.ExifThumbnail->FreeStorage(true);
    Params.RAWReadExifThumbnail = false;
    std::atomic<bool> innerAbort{false};
    TIECodecProgress inner;
    inner.Aborting = &innerAbort;
    IECameraRAWRead(Stream, Bitmap, Params, inner, true);
    Params.RAWReadExifThumbnail = true;
    if (Params.ExifThumbnail && !Params.ExifThumbnail->IsEmpty()) {
      if (!ParamsOnly) Bitmap.Assign(Params.ExifThumbnail.get());
      return;
    }
    Stream.SetPosition(start);
  }
  const std::vector<uint8_t> data = ReadAll(Stream);
  if (data.empty()) {
    Progress.Abort();
    return;
  }
  const int64_t tiff = IEFindTIFFHeader(data);
  if (tiff >= 0) {
    // the resolution it gives is replaced by the default below, as for every raw file
    IELoadExifFromRawStream(data, tiff, Params);
  } else {
    TCIFFReader(data, Params).Run();
  }
  bool failed = false;  // the decoder met a short or corrupt file
  auto raw = NewProcessor(&failed);
  libraw_output_params_t& o = raw->imgdata.params;
  o.gamm[0] = Params.RAWGamma;
  o.bright = float(Params.RAWBrightness);
  o.four_color_rgb = Params.RAWFourColorRGB;
  o.use_auto_wb = Params.RAWUseAutoWB;
  o.use_camera_wb = Params.RAWUseCameraWB;
  o.half_size = Params.RAWHalfSize;
  o.use_fuji_rotate = 0;  // the 45-degree layout is turned upright below
  o.output_color = 1;     // sRGB primaries, linear
  o.max_raw_memory_mb = unsigned((kIEMaxImagePixels * 8) >> 20);
  if (raw->open_buffer(const_cast<uint8_t*>(data.data()), data.size()) != LIBRAW_SUCCESS) {
    Progress.Abort();
    return;
  }
  const bool haveThumb = Params.ExifThumbnail && !Params.ExifThumbnail->IsEmpty();
  double brightness = Params.RAWBrightness;
  if (Params.RAWAutoAdjustColors && haveThumb) brightness = 0.5;
  const libraw_iparams_t& id = raw->imgdata.idata;
  Params.RAWCamera = std::string(id.make) + " " + id.model + " " + raw->imgdata.color.model2;
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.FreeColorMap();
  const libraw_image_sizes_t& sz = raw->imgdata.sizes;
  const bool half = Params.RAWHalfSize && id.filters != 0;
  const int trim = id.filters != 0 && !half ? 1 : 0;
  const int outW = (half ? (sz.width + 1) >> 1 : sz.width) - 2 * trim;
  const int outH = (half ? (sz.height + 1) >> 1 : sz.height) - 2 * trim;
  Params.Width = Params.StoredWidth = outW;
  Params.Height = Params.StoredHeight = outH;
  Params.BitsPerSample = Params.IsNativePixelFormat ? 16 : 8;
  Params.SamplesPerPixel = 3;
  if (ParamsOnly) return;
  if (!IEImageSizeAllowed(sz.raw_width, sz.raw_height) || outW <= 0 || outH <= 0 ||
      uint64_t(sz.raw_width) * sz.raw_height > kMaxPixelsPerFileByte * data.size()) {
    Progress.Abort();
    return;
  }
  if (Params.RAWRedScale != 1.0 || Params.RAWBlueScale != 1.0) {
    // red and blue multipliers on top of the decoder's daylight balance
    for (int c = 0; c < 4; ++c) o.user_mul[c] = raw->imgdata.color.pre_mul[c];
    o.user_mul[0] *= float(Params.RAWRedScale);
    o.user_mul[2] *= float(Params.RAWBlueScale);
  }
  if (raw->unpack() != LIBRAW_SUCCESS) {
    Progress.Abort();
    return;
  }
  Progress.Report(70);
  if (raw->dcraw_process() != LIBRAW_SUCCESS || !raw->imgdata.image || failed) {
    Progress.Abort();
    return;
  }
  Progress.Report(85);
  Params.SetImageCount(1);
  const int iw = sz.iwidth, ih = sz.iheight;
  const int w = iw - 2 * trim, h = ih - 2 * trim;
  if (w <= 0 || h <= 0) {
    Progress.Abort();
    return;
  }
  const ushort(*img)[4] = raw->imgdata.image;
  std::vector<uint32_t> histogram(kHistogramBins, 0);
  for (size_t i = 0; i < size_t(iw) * size_t(ih); ++i) ++histogram[size_t(IERAWBrightness(img[i][0], img[i][1], img[i][2]) >> 3)];
  const bool fujifilm = std::string(id.make).find("FUJIFILM") != std::string::npos;
  const int white = IERAWWhitePoint(histogram, fujifilm ? 0.005 : 0.01, int64_t(iw) * ih);
  const bool wide = Params.IsNativePixelFormat;
  std::vector<double> lut(65536);
  const double scale = brightness * 442.0 / white * (wide ? 65535.0 / 255.0 : 1.0);
  lut[0] = 0;
  for (int i = 1; i < 65536; ++i) lut[size_t(i)] = std::pow(2.0 * i / white, Params.RAWGamma - 1) * scale;
  const int mx = IEMax(1, int(std::lround(sz.pixel_aspect < 1 && sz.pixel_aspect > 0 ? 1 / sz.pixel_aspect : 1)));
  const int my = IEMax(1, int(std::lround(sz.pixel_aspect > 1 ? sz.pixel_aspect : 1)));
  if (!IEImageSizeAllowed(int64_t(w) * mx, int64_t(h) * my) ||
      !Bitmap.Allocate(w * (wide ? 1 : mx), h * my, wide ? ieRGB48 : ie24RGB)) {
    Progress.Abort();
    return;
  }
  std::vector<uint8_t> line(size_t(w) * mx * 3);
  for (int y = trim; y < ih - trim; ++y) {
    for (int r = 0; r < my; ++r) {
      uint8_t* out = Bitmap.GetRowAddress((y - trim) * my + r);
      for (int x = trim; x < iw - trim; ++x) {
        const ushort* p = img[size_t(y) * iw + x];
        const double k = lut[size_t(IERAWBrightness(p[0], p[1], p[2]))];
        if (wide) {
          for (int c = 0; c < 3; ++c) {
            const double v = std::trunc(p[c] * k);
            IEWriteU16LE(out + size_t(x - trim) * 6 + 2 * c, uint16_t(v >= 65536 ? 65535 : v));
          }
        } else {
          for (int c = 0; c < 3; ++c) {
            const double v = std::trunc(p[c] * k);
            const uint8_t b = uint8_t(v >= 256 ? 255 : v);
            for (int m = 0; m < mx; ++m) line[(size_t(x - trim) * mx + m) * 3 + c] = b;
          }
        }
      }
      if (!wide) IECopySwapRB(out, line.data(), w * mx);
    }
  }
  Progress.Report(90);
  if (raw->is_fuji_rotated()) IERAWFujiUnrotate(Bitmap);
  if (Params.RAWAutoAdjustColors && haveThumb) IEMatchHistograms(Params.ExifThumbnail.get(), &Bitmap);
  Progress.Report(100);
}
