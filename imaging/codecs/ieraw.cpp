// Camera raw reading through LibRaw. The decoder reads the library's stream through a data stream of
// our own (nothing is copied); its linear 16-bit RGB image is turned into output samples here, with
// our own brightness value and histogram.
#include "ieraw.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "ieareaops.h"
#include "iecodeccommon.h"
#include "ieexifglue.h"
#include "iestreams.h"
#include "ieutils.h"
#include "jpegfilt.h"
#include "tifdecode.h"
#include "tifexif.h"

namespace {

constexpr int kHistogramBins = 8192;
// Canon CRW heaps are read into memory whole: no camera writes one larger than this.
constexpr int64_t kMaxCIFFFileBytes = int64_t(1) << 28;
// No camera packs its sensor data into less than an eighth of a byte per pixel, so a header that claims
// more pixels than this many per file byte is not believed.
constexpr uint64_t kMaxPixelsPerFileByte = 8;
// The decoder's small reads (it takes many one byte at a time) come from a window of this size.
constexpr int32_t kDataStreamWindow = 65536;
// CIFF heaps: entries read per directory, and how deep sub-heaps may nest.
constexpr int kMaxHeapEntries = 256;
constexpr int kMaxHeapDepth = 8;

// The stream's bytes from its position to the end; empty when there are none or too many.
std::vector<uint8_t> ReadAll(TIEStream& s, int64_t limit) {
  const int64_t pos = s.GetPosition();
  const int64_t n = s.GetSize() - pos;
  std::vector<uint8_t> out;
  if (n <= 0 || n > limit) return out;
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

// The decoder's view of the library's stream from the position it had at creation: reads, seeks and
// the text scans dcraw does, as LibRaw's memory data stream does them.
class TIERAWDataStream : public LibRaw_abstract_datastream {
 public:
  explicit TIERAWDataStream(TIEStream& s) : s_(s), base_(s.GetPosition()) {
    size_ = std::max<int64_t>(0, s.GetSize() - base_);
  }
  int valid() override { return 1; }
  int read(void* ptr, size_t sz, size_t nmemb) override {
    if (sz == 0 || nmemb > SIZE_MAX / sz) return 0;
    int64_t want = std::min<int64_t>(int64_t(sz * nmemb), size_ - pos_);
    if (want < 1) return 0;
    auto* d = static_cast<uint8_t*>(ptr);
    int64_t done = 0;
    if (want <= kDataStreamWindow) {
      done = FromWindow(d, want);
    } else {
      s_.SetPosition(base_ + pos_);
      while (done < want) {
        const int32_t k = s_.Read(d + done, int32_t(std::min<int64_t>(want - done, 1 << 30)));
        if (k <= 0) break;
        done += k;
      }
    }
    pos_ += done;
    return int((size_t(done) + sz - 1) / sz);
  }
  int seek(INT64 o, int whence) override {
    int64_t target = pos_;
    switch (whence) {
      case SEEK_SET: target = o; break;
      case SEEK_CUR: target = pos_ + o; break;
      case SEEK_END: target = size_ + o; break;
      default: return 0;
    }
    pos_ = std::min(std::max<int64_t>(target, 0), size_);
    return 0;
  }
  INT64 tell() override { return pos_; }
  INT64 size() override { return size_; }
  int get_char() override {
    uint8_t c;
    if (pos_ >= size_ || FromWindow(&c, 1) != 1) return -1;
    ++pos_;
    return c;
  }
  char* gets(char* s, int sz) override {
    if (sz < 1 || pos_ >= size_) return nullptr;
    int n = 0;
    while (n < sz - 1) {
      const int c = get_char();
      if (c < 0) break;
      s[n++] = char(c);
      if (c == '\n') break;
    }
    s[n] = 0;
    return s;
  }
  int scanf_one(const char* fmt, void* val) override {
    // dcraw scans single numbers and words out of short text headers
    char text[64] = {0};
    const int64_t at = pos_;
    const int64_t n = std::min<int64_t>(int64_t(sizeof(text)) - 1, size_ - pos_);
    if (n <= 0) return 0;
    if (FromWindow(reinterpret_cast<uint8_t*>(text), n) != n) return 0;
    const int r = std::sscanf(text, fmt, val);
    if (r > 0) {
      int64_t k = 0;
      while (k < n) {
        ++k;
        const char c = k < n ? text[k] : 0;
        if (c == 0 || c == ' ' || c == '\t' || c == '\n' || k > 24) break;
      }
      pos_ = at + k;
    }
    return r;
  }
  int eof() override { return pos_ >= size_; }
  void* make_jas_stream() override { return nullptr; }

 private:
  // Up to n bytes at pos_ through the window; the count delivered.
  int64_t FromWindow(uint8_t* d, int64_t n) {
    if (pos_ < windowAt_ || pos_ + n > windowAt_ + int64_t(window_.size())) {
      const int64_t len = std::min<int64_t>(kDataStreamWindow, size_ - pos_);
      window_.resize(size_t(std::max<int64_t>(len, 0)));
      windowAt_ = pos_;
      s_.SetPosition(base_ + pos_);
      int32_t got = 0;
      while (got < int32_t(window_.size())) {
        const int32_t k = s_.Read(window_.data() + got, int32_t(window_.size()) - got);
        if (k <= 0) break;
        got += k;
      }
      window_.resize(size_t(got));
    }
    const int64_t have = std::min<int64_t>(n, windowAt_ + int64_t(window_.size()) - pos_);
    if (have <= 0) return 0;
    std::memcpy(d, window_.data() + (pos_ - windowAt_), size_t(have));
    return have;
  }

  TIEStream& s_;
  int64_t base_ = 0, size_ = 0, pos_ = 0;
  std::vector<uint8_t> window_;
  int64_t windowAt_ = 0;
};

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

}  // namespace

void IELoadExifFromRawStream(TIEStream& stream, TIOParamsVals& Params) {
  const int64_t pos = stream.GetPosition();
  if (!Params.ExifThumbnail) Params.ExifThumbnail = std::make_shared<TIEBitmap>();
  Params.ExifThumbnail->FreeStorage(true);
  std::unique_ptr<TIOParamsVals> tp(new TIOParamsVals(nullptr));
  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  TIEBitmap none;
  int pages = 0;
  TIEBitmap* alpha = nullptr;
  try {
    IETIFFRead(none, stream, pages, tp.get(), progress, true, alpha, true, true, false);
    IECopyExifParams(*tp, Params);
    Params.HasExifData = true;
    TIEBitmap image[2];
    for (int i = 0; i < 2; ++i) {
      aborting = false;
      tp->SetImageIndexValue(i);
      stream.SetPosition(pos);
      IETIFFRead(image[i], stream, pages, tp.get(), progress, false, alpha, true, true, true);
      if (aborting || image[i].IsAllZero()) image[i].FreeStorage(true);
    }
    const int w0 = image[0].GetImageWidth(), w1 = image[1].GetImageWidth();
    if (w0 > 0 && w0 > w1) Params.ExifThumbnail->Assign(&image[0]);
    else if (w1 > 0 && w1 > w0) Params.ExifThumbnail->Assign(&image[1]);
  } catch (...) {
    delete alpha;
    stream.SetPosition(pos);
    throw;
  }
  delete alpha;
  stream.SetPosition(pos);
}

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
  if (Stream.GetSize() - pos <= 0) return false;
  bool identified = false;
  try {
    TIERAWDataStream data(Stream);
    bool failed = false;
    auto raw = NewProcessor(&failed);
    identified = raw->open_datastream(&data) == LIBRAW_SUCCESS;
  } catch (...) {
    Stream.SetPosition(pos);
    throw;
  }
  Stream.SetPosition(pos);
  return identified;
}

namespace {

using TRAWProcessor = std::unique_ptr<LibRaw, TLibRawDeleter>;

// With Params.RAWReadExifThumbnail: reads the parameters (and with them the preview) and, when the
// file has a preview, delivers it in Bitmap (unless ParamsOnly) and returns true. Otherwise the
// stream is back at start.
template <class ReadParams>
bool DeliverRAWThumbnail(TIEStream& Stream, int64_t start, TIEBitmap& Bitmap, TIOParamsVals& Params,
                         bool ParamsOnly, ReadParams&& readParams) {
  if (Params.ExifThumbnail) Params.ExifThumbnail->FreeStorage(true);
  Params.RAWReadExifThumbnail = false;
  readParams();
  Params.RAWReadExifThumbnail = true;
  if (Params.ExifThumbnail && !Params.ExifThumbnail->IsEmpty()) {
    if (!ParamsOnly) Bitmap.Assign(Params.ExifThumbnail.get());
    return true;
  }
  Stream.SetPosition(start);
  return false;
}

// The camera metadata and preview of a TIFF-structured file, or of a Canon CIFF heap.
void ReadRAWMetadata(TIEStream& Stream, int64_t start, TIOParamsVals& Params) {
  const int64_t tiff = IEFindTIFFHeader(Stream);
  if (tiff >= 0) {
    // the resolution it gives is replaced by the default below, as for every raw file
    Stream.SetPosition(start + tiff);
    IELoadExifFromRawStream(Stream, Params);
  } else {
    uint8_t head[14] = {0};
    const bool ciff = Stream.Read(head, 14) == 14 && std::memcmp(head + 6, "HEAPCCDR", 8) == 0;
    Stream.SetPosition(start);
    if (ciff) {
      const std::vector<uint8_t> heap = ReadAll(Stream, kMaxCIFFFileBytes);
      TCIFFReader(heap, Params).Run();
    }
  }
  Stream.SetPosition(start);
}

// The caller's development settings into the decoder's output parameters.
void ConfigureRAWProcessor(LibRaw& raw, const TIOParamsVals& Params) {
  libraw_output_params_t& o = raw.imgdata.params;
  o.gamm[0] = Params.RAWGamma;
  o.bright = float(Params.RAWBrightness);
  o.four_color_rgb = Params.RAWFourColorRGB;
  o.use_auto_wb = Params.RAWUseAutoWB;
  o.use_camera_wb = Params.RAWUseCameraWB;
  o.half_size = Params.RAWHalfSize;
  o.use_fuji_rotate = 0;  // the 45-degree layout is turned upright after decoding
  o.output_color = 1;     // sRGB primaries, linear
  o.max_raw_memory_mb = unsigned((kIEMaxImagePixels * 8) >> 20);
}

// The output size of an identified file: a colour filter array loses a border pixel on every side
// to interpolation, unless the half-size decode takes whole filter cells.
struct TRAWSize {
  int trim = 0;
  int outW = 0, outH = 0;
};

// The camera, the image's size and samples into Params.
TRAWSize StoreRAWParams(LibRaw& raw, TIOParamsVals& Params) {
  const libraw_iparams_t& id = raw.imgdata.idata;
  Params.RAWCamera = std::string(id.make) + " " + id.model + " " + raw.imgdata.color.model2;
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.FreeColorMap();
  const libraw_image_sizes_t& sz = raw.imgdata.sizes;
  const bool half = Params.RAWHalfSize && id.filters != 0;
  TRAWSize s;
  s.trim = id.filters != 0 && !half ? 1 : 0;
  s.outW = (half ? (sz.width + 1) >> 1 : sz.width) - 2 * s.trim;
  s.outH = (half ? (sz.height + 1) >> 1 : sz.height) - 2 * s.trim;
  Params.Width = Params.StoredWidth = s.outW;
  Params.Height = Params.StoredHeight = s.outH;
  Params.BitsPerSample = Params.IsNativePixelFormat ? 16 : 8;
  Params.SamplesPerPixel = 3;
  return s;
}

// Refuses, before the sensor data is unpacked, an image over the library's limit or one that claims
// more pixels than the file's bytes can hold.
bool RAWSizeBelievable(const LibRaw& raw, const TRAWSize& s, int64_t fileSize) {
  const libraw_image_sizes_t& sz = raw.imgdata.sizes;
  return IEImageSizeAllowed(sz.raw_width, sz.raw_height) && s.outW > 0 && s.outH > 0 &&
         uint64_t(sz.raw_width) * sz.raw_height <= kMaxPixelsPerFileByte * uint64_t(fileSize);
}

// Unpacks and develops the sensor data into the decoder's linear 16-bit image; false for a file the
// decoder cannot read or found short or corrupt.
bool DevelopRAW(LibRaw& raw, const TIOParamsVals& Params, const bool& failed, TIECodecProgress& Progress) {
  libraw_output_params_t& o = raw.imgdata.params;
  if (Params.RAWRedScale != 1.0 || Params.RAWBlueScale != 1.0) {
    // red and blue multipliers on top of the decoder's daylight balance
    for (int c = 0; c < 4; ++c) o.user_mul[c] = raw.imgdata.color.pre_mul[c];
    o.user_mul[0] *= float(Params.RAWRedScale);
    o.user_mul[2] *= float(Params.RAWBlueScale);
  }
  if (raw.unpack() != LIBRAW_SUCCESS) return false;
  Progress.Report(70);
  if (raw.dcraw_process() != LIBRAW_SUCCESS || !raw.imgdata.image || failed) return false;
  Progress.Report(85);
  return true;
}

// The gain of every brightness value (see IERAWBrightness): the gamma curve to the white point of
// the image's histogram, scaled by brightness, to 8 or (wide) 16 bits.
std::vector<double> RAWCurve(const LibRaw& raw, const TIOParamsVals& Params, double brightness, bool wide) {
  const libraw_image_sizes_t& sz = raw.imgdata.sizes;
  const int iw = sz.iwidth, ih = sz.iheight;
  const ushort(*img)[4] = raw.imgdata.image;
  std::vector<uint32_t> histogram(kHistogramBins, 0);
  for (size_t i = 0; i < size_t(iw) * size_t(ih); ++i) ++histogram[size_t(IERAWBrightness(img[i][0], img[i][1], img[i][2]) >> 3)];
  const bool fujifilm = std::string(raw.imgdata.idata.make).find("FUJIFILM") != std::string::npos;
  const int white = IERAWWhitePoint(histogram, fujifilm ? 0.005 : 0.01, int64_t(iw) * ih);
  std::vector<double> lut(65536);
  const double scale = brightness * 442.0 / white * (wide ? 65535.0 / 255.0 : 1.0);
  lut[0] = 0;
  for (int i = 1; i < 65536; ++i) lut[size_t(i)] = std::pow(2.0 * i / white, Params.RAWGamma - 1) * scale;
  return lut;
}

// The output bitmap's layout: the developed image less its trimmed border, each pixel repeated mx
// times across (8-bit output only) and my times down where the sensor's pixels are not square.
struct TRAWOutput {
  int w = 0, h = 0;
  int mx = 1, my = 1;
};

// Allocates Bitmap, ieRGB48 when wide, else ie24RGB; false, with the abort flag set, for an empty
// image, one over the library's limit or one that cannot be allocated.
bool AllocateRAWBitmap(const LibRaw& raw, int trim, bool wide, TIEBitmap& Bitmap, TIECodecProgress& Progress,
                       TRAWOutput& out) {
  const libraw_image_sizes_t& sz = raw.imgdata.sizes;
  out.w = sz.iwidth - 2 * trim;
  out.h = sz.iheight - 2 * trim;
  if (out.w <= 0 || out.h <= 0) {
    Progress.Abort();
    return false;
  }
  out.mx = IEMax(1, int(std::lround(sz.pixel_aspect < 1 && sz.pixel_aspect > 0 ? 1 / sz.pixel_aspect : 1)));
  out.my = IEMax(1, int(std::lround(sz.pixel_aspect > 1 ? sz.pixel_aspect : 1)));
  if (!IEImageSizeAllowed(int64_t(out.w) * out.mx, int64_t(out.h) * out.my) ||
      !Bitmap.Allocate(out.w * (wide ? 1 : out.mx), out.h * out.my, wide ? ieRGB48 : ie24RGB)) {
    Progress.Abort();
    return false;
  }
  return true;
}

// The developed image through the curve into the allocated bitmap.
void StoreRAWRows(const LibRaw& raw, int trim, const TRAWOutput& out, const std::vector<double>& lut, bool wide,
                  TIEBitmap& Bitmap) {
  const int iw = raw.imgdata.sizes.iwidth, ih = raw.imgdata.sizes.iheight;
  const int mx = out.mx, my = out.my;
  const ushort(*img)[4] = raw.imgdata.image;
  std::vector<uint8_t> line(size_t(out.w) * mx * 3);
  for (int y = trim; y < ih - trim; ++y) {
    for (int r = 0; r < my; ++r) {
      uint8_t* row = Bitmap.GetRowAddress((y - trim) * my + r);
      for (int x = trim; x < iw - trim; ++x) {
        const ushort* p = img[size_t(y) * iw + x];
        const double k = lut[size_t(IERAWBrightness(p[0], p[1], p[2]))];
        if (wide) {
          for (int c = 0; c < 3; ++c) {
            const double v = std::trunc(p[c] * k);
            IEWriteU16LE(row + size_t(x - trim) * 6 + 2 * c, uint16_t(v >= 65536 ? 65535 : v));
          }
        } else {
          for (int c = 0; c < 3; ++c) {
            const double v = std::trunc(p[c] * k);
            const uint8_t b = uint8_t(v >= 256 ? 255 : v);
            for (int m = 0; m < mx; ++m) line[(size_t(x - trim) * mx + m) * 3 + c] = b;
          }
        }
      }
      if (!wide) IECopySwapRB(row, line.data(), out.w * mx);
    }
  }
}

}  // namespace

void IECameraRAWRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                     bool ParamsOnly) {
  const int64_t start = Stream.GetPosition();
  if (Params.RAWReadExifThumbnail && DeliverRAWThumbnail(Stream, start, Bitmap, Params, ParamsOnly, [&] {
        std::atomic<bool> innerAbort{false};
        TIECodecProgress inner;
        inner.Aborting = &innerAbort;
        IECameraRAWRead(Stream, Bitmap, Params, inner, true);
      }))
    return;
  const int64_t fileSize = Stream.GetSize() - start;
  if (fileSize <= 0) {
    Progress.Abort();
    return;
  }
  ReadRAWMetadata(Stream, start, Params);
  TIERAWDataStream data(Stream);
  bool failed = false;  // the decoder met a short or corrupt file
  TRAWProcessor raw = NewProcessor(&failed);
  ConfigureRAWProcessor(*raw, Params);
  if (raw->open_datastream(&data) != LIBRAW_SUCCESS) {
    Progress.Abort();
    return;
  }
  // colours matched to the preview afterwards start from a fixed brightness
  const bool haveThumb = Params.ExifThumbnail && !Params.ExifThumbnail->IsEmpty();
  const double brightness = Params.RAWAutoAdjustColors && haveThumb ? 0.5 : Params.RAWBrightness;
  const TRAWSize size = StoreRAWParams(*raw, Params);
  if (ParamsOnly) return;
  if (!RAWSizeBelievable(*raw, size, fileSize) || !DevelopRAW(*raw, Params, failed, Progress)) {
    Progress.Abort();
    return;
  }
  Params.SetImageCount(1);
  const bool wide = Params.IsNativePixelFormat;
  TRAWOutput out;
  if (!AllocateRAWBitmap(*raw, size.trim, wide, Bitmap, Progress, out)) return;
  StoreRAWRows(*raw, size.trim, out, RAWCurve(*raw, Params, brightness, wide), wide, Bitmap);
  Progress.Report(90);
  if (raw->is_fuji_rotated()) IERAWFujiUnrotate(Bitmap);
  if (Params.RAWAutoAdjustColors && haveThumb) IEMatchHistograms(Params.ExifThumbnail.get(), &Bitmap);
  Progress.Report(100);
}
