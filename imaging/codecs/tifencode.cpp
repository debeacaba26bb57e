// TIFF writing.
#include "tifencode.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "iebands.h"
#include "iecmyk.h"
#include "iecolorconv.h"
#include "iecolorreduction.h"
#include "iedeflate.h"
#include "ieicc.h"
#include "iequantizer.h"
#include "iethreadpool.h"
#include "jpegfilt.h"
#include "tifccitt.h"
#include "tifencoders.h"
#include "tifexif.h"
#include "tiftagwriter.h"
#include "vodevovur.h"

namespace {

// Bitmap rows of about this many bytes go into one strip.
constexpr int64_t kStripBytes = 524288;
constexpr int kMaxPages = 65536;
// Offsets are 32-bit: the file, this much room for the tags and the coder's worst growth (twice the
// page, which the coders do not exceed on real pages) included, must stay below 4 GiB.
constexpr uint64_t kMaxTIFFFileSize = 0xFFFFFFFF;
constexpr uint64_t kTagRoom = 1 << 20;

enum TKind { kWhiteIsZero, kGrey, kRGB, kPalette, kCMYK, kYCbCr, kLab };

enum : uint16_t {
  kCompNone = 1, kCompMH = 2, kCompT4 = 3, kCompT6 = 4, kCompLZW = 5, kCompOJPEG = 6, kCompJPEG = 7,
  kCompPackBits = 32773, kCompDeflate = 32946,
};

bool IsFax(uint16_t c) { return c == kCompMH || c == kCompT4 || c == kCompT6; }

// What the page is stored as.
struct TPlan {
  TKind kind = kRGB;
  uint16_t compression = kCompNone;
  int predictor = 1;
  bool invert = false;
  bool alpha = false;
  bool t4TwoD = false;
  int jpegQuality = 80;
  int jpegColorSpace = 2;
  TIETIFFLZWCompressor lzw = nullptr;
  int bits = 8;  // per sample of the grey and palette kinds
  bool exactIndex = false;  // ie8p pixels are already indexes of the palette written
};

// The working bitmap: the caller's, or a converted copy this holder frees.
class TWork {
 public:
  explicit TWork(TIEBitmap* b) : bitmap(b) {}
  void Replace(std::unique_ptr<TIEBitmap> b) {
    owned_ = std::move(b);
    bitmap = owned_.get();
  }
  void ConvertTo(TIEPixelFormat f) {
    if (bitmap->GetPixelFormat() == f) return;
    std::unique_ptr<TIEBitmap> c(new TIEBitmap());
    c->Assign(bitmap);
    c->SetPixelFormat(f);
    Replace(std::move(c));
  }
  void MakeOwn() {
    if (owned_) return;
    std::unique_ptr<TIEBitmap> c(new TIEBitmap());
    c->Assign(bitmap);
    Replace(std::move(c));
  }
  TIEPixelFormat Format() const { return bitmap->GetPixelFormat(); }
  TIEBitmap* bitmap;

 private:
  std::unique_ptr<TIEBitmap> owned_;
};

bool HasTransparency(TIEBitmap* b) {
  if (!b->AlphaPresent()) return false;
  TIEBitmap* a = b->GetAlphaChannel();
  const int w = a->GetImageWidth();
  for (int y = 0; y < a->GetImageHeight(); ++y) {
    const uint8_t* r = a->GetRowAddress(y);
    for (int x = 0; x < w; ++x)
      if (r[x] != 255) return true;
  }
  return false;
}

// Decides, from the settings asked for and what the bitmap can be stored as, how the page is written,
// and makes the working bitmap. The caller's settings stay as they are.
void Prepare(TWork& work, const TIOParamsVals& Params, TPlan& plan, std::unique_ptr<TIEQuantizer>& quantizer,
             std::vector<TIERGB>& palette) {
  int bits = Params.BitsPerSample;
  int spp = Params.SamplesPerPixel;
  int photo = Params.TIFFPhotometric;
  int comp = Params.TIFFCompression;
  switch (work.Format()) {
    case ie1g: case ie8p: case ie8g: case ie16g: case ie24RGB: case ieCMYK: case ieRGB48: break;
    default: work.ConvertTo(ie24RGB);  // float grey, 32-bit and CIELab pixels are stored as colour
  }
  const bool oneBit = bits == 1 && spp == 1;
  if (!oneBit && work.Format() == ie1g) {
    work.ConvertTo(ie24RGB);
  } else if (oneBit && work.Format() != ie1g) {
    TIERGB c0, c1;
    std::unique_ptr<TIEBitmap> two = IEConvertTwoColorTo1Bit(work.bitmap, c0, c1);
    if (!two) {
      two.reset(new TIEBitmap(work.bitmap->GetImageWidth(), work.bitmap->GetImageHeight(), ie1g));
      two->ConvertFrom(work.bitmap);
    }
    work.Replace(std::move(two));
  }
  auto quantize = [&] {
    const int n = bits >= 8 ? 256 : 1 << bits;
    palette.assign(256, TIERGB{0, 0, 0});
    quantizer.reset(new TIEQuantizer(work.bitmap, palette.data(), n));
  };
  if (spp == 1 && ((bits >= 2 && bits <= 8) || bits == 16)) {
    quantize();
    if (comp != 5 && comp != 8 && comp != 9 && comp != 10) comp = 0;
    if (quantizer->Method() == TIEQuantizer::qmGreyRamp) {
      photo = 1;
    } else {
      photo = 3;
      if (bits == 16) bits = 8;
    }
  }
  const TIEPixelFormat fmt = work.Format();
  if (photo == 3 && spp > 1) photo = 2;
  if (fmt == ieRGB48) spp = 3, bits = 16, photo = 2;
  if (bits > 8 && spp > 1) spp = 3, bits = 8, photo = 2;
  if ((photo == 0 || photo == 1) && bits == 8 && spp == 3) photo = 2;
  if (photo == 2 && spp == 1 && bits == 1) photo = 1;
  if (photo == 6 && comp != 7) photo = 2;
  if (photo == 2 && spp > 3) spp = 3;
  if (fmt == ieRGB48) spp = 3, bits = 16, photo = 2;
  if (fmt == ieCMYK) spp = 4, bits = 8, photo = 5;

  switch (photo) {
    case 0: case 1: plan.kind = kGrey; break;
    case 3: plan.kind = kPalette; break;
    case 5: plan.kind = kCMYK; break;
    case 7: plan.kind = kLab; break;
    default: plan.kind = kRGB;
  }

  switch (comp) {
    case 0: plan.compression = kCompNone; break;
    case 1: plan.compression = kCompMH; break;
    case 2: plan.compression = kCompT4; break;
    case 3: plan.compression = kCompT4, plan.t4TwoD = true; break;
    case 4: plan.compression = kCompT6; break;
    case 5:
      plan.compression = kCompLZW;
      plan.predictor = 2;
      plan.lzw = Params.TIFFLZWCompress ? Params.TIFFLZWCompress : IEGlobalTIFFLZWCompressor;
      if (!plan.lzw) plan.compression = kCompNone, plan.predictor = 1;
      break;
    case 6: case 7: {
      plan.compression = comp == 6 ? kCompOJPEG : kCompJPEG;
      plan.jpegQuality = Params.TIFFJPEGQuality;
      plan.jpegColorSpace = Params.TIFFJPEGColorSpace;
      static const TKind kByColorSpace[] = {kRGB, kGrey, kYCbCr, kCMYK, kRGB};
      if (plan.jpegColorSpace < 0 || plan.jpegColorSpace > 4) plan.jpegColorSpace = 2;
      plan.kind = kByColorSpace[plan.jpegColorSpace];
      if (plan.jpegColorSpace == 4) plan.jpegColorSpace = 0;
      break;
    }
    case 8: plan.compression = kCompPackBits; break;
    case 9: case 10: plan.compression = kCompDeflate; break;
    default: plan.compression = kCompNone;
  }
  // the fax codings store bilevel pages only, with 1 = black
  if (IsFax(plan.compression)) {
    if (work.Format() == ie1g) plan.kind = kWhiteIsZero, plan.invert = true;
    else plan.compression = kCompNone, plan.t4TwoD = false;
  }

  // Every kind gets pixels it can be written from: colour kinds 24-bit colour (or their own 48-bit
  // and CMYK pixels), JPEG strips 24-bit colour, grey and palette kinds samples through the quantizer.
  const bool jpeg = plan.compression == kCompOJPEG || plan.compression == kCompJPEG;
  if (jpeg) {
    work.ConvertTo(ie24RGB);
    bits = 8;
  } else if (work.Format() == ie1g) {
    if (plan.kind != kWhiteIsZero) plan.kind = kGrey;
    bits = 1, spp = 1;
  } else if (plan.kind == kGrey || plan.kind == kPalette) {
    if (!((bits >= 2 && bits <= 8) || bits == 16)) bits = 8;
    if (plan.kind == kPalette && bits == 16) bits = 8;
    spp = 1;
    if (!quantizer) quantize();
  } else if (!(work.Format() == ieRGB48 && plan.kind == kRGB) && !(work.Format() == ieCMYK && plan.kind == kCMYK)) {
    work.ConvertTo(ie24RGB);
    bits = 8;
  }
  plan.bits = bits;

  const int fmtBits = work.Format() == ieRGB48 ? 16 : 8;
  if (!(fmtBits == 8 && bits == 8 && (spp == 1 || spp == 3) && plan.kind != kPalette && plan.kind != kGrey &&
        !work.bitmap->AlphaPresent() && work.Format() != ie1g))
    plan.predictor = 1;
  if (plan.compression != kCompLZW) plan.predictor = 1;
  plan.alpha = plan.kind == kRGB && work.Format() == ie24RGB && !jpeg &&
               (plan.compression == kCompNone || plan.compression == kCompLZW ||
                plan.compression == kCompPackBits || plan.compression == kCompDeflate) &&
               HasTransparency(work.bitmap);
  if (plan.invert) {
    work.MakeOwn();
    IEInvertBitmapBits(work.bitmap);
  }
}

// Samples per pixel of the page.
int SamplesOf(const TPlan& plan, TIEPixelFormat fmt) {
  if (fmt == ie1g) return 1;
  switch (plan.kind) {
    case kGrey: case kWhiteIsZero: case kPalette: return 1;
    case kCMYK: return 4;
    default: return plan.alpha ? 4 : 3;
  }
}

// Bytes of one stored row.
int64_t RowBytes(const TPlan& plan, TIEPixelFormat fmt, int width) {
  if (fmt == ie1g) return (int64_t(width) + 7) / 8;
  if (plan.kind == kGrey || plan.kind == kPalette) return (int64_t(width) * plan.bits + 7) / 8;
  if (fmt == ieRGB48) return int64_t(width) * 6;
  return int64_t(width) * SamplesOf(plan, fmt);
}

// Fills `out` with stored row y.
class TRowSource {
 public:
  TRowSource(TIEBitmap* b, const TPlan& plan, const TIEQuantizer* q) : b_(b), plan_(plan), q_(q) {}
  void Fill(int y, uint8_t* out, int64_t bytes) {
    const int w = b_->GetImageWidth();
    const uint8_t* s = b_->GetRowAddress(y);
    const TIEPixelFormat fmt = b_->GetPixelFormat();
    if (fmt == ie1g || fmt == ieRGB48) {
      std::memcpy(out, s, size_t(bytes));
      return;
    }
    if (plan_.kind == kGrey || plan_.kind == kPalette) {
      FillSamples(s, fmt, w, out, bytes);
      return;
    }
    if (fmt == ieCMYK) {
      for (int64_t i = 0; i < bytes; ++i) out[i] = uint8_t(255 - s[i]);
      return;
    }
    // ie24RGB: B, G, R
    switch (plan_.kind) {
      case kCMYK:
        IEColorConversionHook(s, iccBGR, out, nullptr, w, iccCMYKInv);
        for (int64_t i = 0; i < bytes; ++i) out[i] = uint8_t(255 - out[i]);
        return;
      case kLab:
        IEColorConversionHook(s, iccBGR, out, nullptr, w, iccLab);
        return;
      default: break;
    }
    if (plan_.alpha) {
      // ExtraSamples 1, associated alpha: the colours are stored premultiplied
      const uint8_t* a = b_->GetAlphaChannel()->GetRowAddress(y);
      for (int x = 0; x < w; ++x, s += 3, out += 4) {
        const int av = a[x];
        out[0] = uint8_t((s[2] * av + 127) / 255), out[1] = uint8_t((s[1] * av + 127) / 255);
        out[2] = uint8_t((s[0] * av + 127) / 255), out[3] = uint8_t(av);
      }
      return;
    }
    if (plan_.predictor == 2) {
      // R, G, B less the same sample of the pixel before, straight from B, G, R
      out[0] = s[2], out[1] = s[1], out[2] = s[0];
      for (int x = 1; x < w; ++x) {
        const uint8_t* p = s + 3 * x;
        uint8_t* o = out + 3 * x;
        o[0] = uint8_t(p[2] - p[-1]), o[1] = uint8_t(p[1] - p[-2]), o[2] = uint8_t(p[0] - p[-3]);
      }
      return;
    }
    for (int x = 0; x < w; ++x, s += 3, out += 3) out[0] = s[2], out[1] = s[1], out[2] = s[0];
  }

 private:
  // One sample of plan_.bits bits per pixel, most significant first; 16 bits little-endian.
  void FillSamples(const uint8_t* s, TIEPixelFormat fmt, int w, uint8_t* out, int64_t bytes) {
    std::memset(out, 0, size_t(bytes));
    const int bits = plan_.bits;
    for (int x = 0; x < w; ++x) {
      uint32_t v;
      if (plan_.kind == kGrey) {
        const uint16_t wide = fmt == ie16g ? reinterpret_cast<const uint16_t*>(s)[x]
                              : fmt == ie8g ? uint16_t(s[x] * 257)
                              : fmt == ie24RGB ? uint16_t(s[3 * x + 2] * 257)
                                               : uint16_t(b_->GetPaletteEntry(s[x]).r * 257);
        const uint8_t g = uint8_t(wide >> 8);
        v = bits == 16 ? wide : bits == 8 ? g : uint32_t(q_->RGBToIndex(TIERGB{g, g, g}));
      } else if (fmt == ie8p && bits == 8 && plan_.exactIndex) {
        v = s[x];
      } else {
        v = uint32_t(q_->RGBToIndex(ColourAt(s, fmt, x)));
      }
      if (bits == 16) {
        out[2 * x] = uint8_t(v), out[2 * x + 1] = uint8_t(v >> 8);
      } else if (bits == 8) {
        out[x] = uint8_t(v);
      } else {
        const int64_t bit = int64_t(x) * bits;
        const int shift = 8 - bits - int(bit & 7);
        out[bit >> 3] |= uint8_t(v << shift);
      }
    }
  }
  TIERGB ColourAt(const uint8_t* s, TIEPixelFormat fmt, int x) {
    switch (fmt) {
      case ie24RGB: return IEMakeRGB(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
      case ie8p: return b_->GetPaletteEntry(s[x]);
      case ie8g: return IEMakeRGB(s[x], s[x], s[x]);
      case ie16g: {
        const uint8_t g = uint8_t(reinterpret_cast<const uint16_t*>(s)[x] >> 8);
        return IEMakeRGB(g, g, g);
      }
      default: return IEMakeRGB(0, 0, 0);
    }
  }

  TIEBitmap* b_;
  const TPlan& plan_;
  const TIEQuantizer* q_;
};

// Finds where a new page goes in the TIFF at the stream position, in its byte order: the position of
// the offset field to point at it and the offset that field held. Returns the page count, or -1 when
// the stream is no TIFF or its chain cannot be read.
int FindInsertionPoint(TIEStream& s, int index, uint32_t& field, uint32_t& next) {
  uint8_t h[4];
  if (s.Read(h, 4) != 4 || h[0] != h[1] || (h[0] != 'I' && h[0] != 'M')) return -1;
  const bool big = h[0] == 'M';
  if (index < 0) index = 0;
  const int64_t start = s.GetPosition() - 4;
  uint32_t fieldPos = uint32_t(start + 4);
  std::set<uint32_t> visited;
  bool found = false;
  for (int i = 0;; ++i) {
    uint8_t b[4];
    s.SetPosition(fieldPos);
    if (s.Read(b, 4) != 4) return -1;
    const uint32_t off = big ? IEReadU32BE(b) : IEReadU32LE(b);
    if (!found && (i == index || (off == 0 && i < index))) {
      field = fieldPos;
      next = off;
      found = true;
    }
    if (off == 0) return i;
    // a chain that comes back to a directory it has been through is damaged
    if (!visited.insert(off).second || i >= kMaxPages) return -1;
    s.SetPosition(off);
    if (s.Read(b, 2) != 2) return -1;
    fieldPos = off + 2 + uint32_t(big ? IEReadU16BE(b) : IEReadU16LE(b)) * 12;
  }
}

// libdeflate level of TIFFZIPCompression: 0 fastest, 2 best, anything else the usual default (6).
int DeflateLevel(int z) { return z == 0 ? 1 : z == 2 ? 9 : 6; }

// The most Deflate strips compressed at once.
constexpr int kDeflateWorkers = 4;

// Owns one auto-reset event.
class TAutoEvent {
 public:
  TAutoEvent() : h_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~TAutoEvent() {
    if (h_) CloseHandle(h_);
  }
  TAutoEvent(const TAutoEvent&) = delete;
  TAutoEvent& operator=(const TAutoEvent&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// A thread that compresses one strip of each batch for the whole page: starting a thread per batch
// would cost more than the compression (thread creation is slow, the more so under wine).
class TDeflateWorker : public TIEPoolThread {
 public:
  explicit TDeflateWorker(std::function<void()> job) : job_(std::move(job)) {}
  void Go() { SetEvent(go_.get()); }
  void Quit() {
    quit_ = true;
    SetEvent(go_.get());
  }
  HANDLE Done() const { return done_.get(); }
  bool Ready() const { return go_.get() && done_.get(); }

 protected:
  void Execute() override {
    for (;;) {
      WaitForSingleObject(go_.get(), INFINITE);
      if (quit_) return;
      job_();
      SetEvent(done_.get());
    }
  }

 private:
  std::function<void()> job_;
  TAutoEvent go_, done_;
  volatile bool quit_ = false;
};

// Deflate strips, each one whole zlib stream: a strip's rows are gathered, and a batch of one strip
// per worker is compressed side by side (the first by the calling thread), then written in order.
// Records each strip's offset and byte count. The threads, buffers and compressors serve every batch
// of the page, so that only the first batch touches fresh memory.
class TDeflateStrips {
 public:
  TDeflateStrips(TIETIFFTagWriter& w, int level)
      : w_(w), workers_(std::max(1, std::min(kDeflateWorkers, IEProcessorCount()))), in_(size_t(workers_)),
        out_(size_t(workers_)), ok_(size_t(workers_), 1) {
    for (int i = 0; i < workers_; ++i) compressors_.emplace_back(new TIEZlibCompressor(level));
    for (int i = 1; i < workers_; ++i) {
      std::unique_ptr<TDeflateWorker> t(new TDeflateWorker([this, i] { CompressSlot(i); }));
      if (!t->Ready()) break;  // no events: fewer threads, the calling thread does the rest
      t->Resume();
      threads_.push_back(std::move(t));
    }
  }
  ~TDeflateStrips() {
    for (auto& t : threads_) t->Quit();
    for (auto& t : threads_) t->WaitFor();
  }
  TDeflateStrips(const TDeflateStrips&) = delete;
  TDeflateStrips& operator=(const TDeflateStrips&) = delete;

  void Put(const uint8_t* data, size_t n) {
    std::vector<uint8_t>& in = in_[size_t(filled_)];
    in.insert(in.end(), data, data + n);
  }
  void EndStrip() {
    if (++filled_ == workers_) Flush();
  }
  // Compresses and writes the strips still waiting.
  void Flush() {
    const int count = filled_;
    filled_ = 0;
    if (count == 0 || w_.Aborting()) return;
    // slots 1 .. count - 1 on the threads that exist, the rest here
    const int threaded = std::min(count - 1, int(threads_.size()));
    std::vector<HANDLE> done;
    for (int i = 0; i < threaded; ++i) {
      threads_[size_t(i)]->Go();
      done.push_back(threads_[size_t(i)]->Done());
    }
    CompressSlot(0);
    for (int i = threaded + 1; i < count; ++i) CompressSlot(i);
    if (!done.empty()) WaitForMultipleObjects(DWORD(done.size()), done.data(), TRUE, INFINITE);
    bool ok = true;
    for (int i = 0; i < count; ++i) ok = ok && ok_[size_t(i)];
    for (int i = 0; i < count && ok && !w_.Aborting(); ++i) {
      Offsets.push_back(w_.Offset());
      w_.Write(out_[size_t(i)].data(), out_[size_t(i)].size());
      Counts.push_back(uint32_t(out_[size_t(i)].size()));
      in_[size_t(i)].clear();
    }
    if (!ok) w_.Aborting() = true;
  }
  std::vector<uint32_t> Offsets, Counts;

 private:
  // Thread i's worker calls this for slot i only; nothing else touches that slot meanwhile.
  void CompressSlot(int i) {
    const size_t k = size_t(i);
    try {
      ok_[k] = compressors_[k]->Compress(in_[k].data(), in_[k].size(), out_[k]);
    } catch (const std::exception&) {
      ok_[k] = 0;
    }
  }

  TIETIFFTagWriter& w_;
  const int workers_;
  std::vector<std::unique_ptr<TIEZlibCompressor>> compressors_;  // one per strip of a batch
  std::vector<std::vector<uint8_t>> in_, out_;                    // the batch's rows and streams
  std::vector<char> ok_;                                          // each slot's compression succeeded
  std::vector<std::unique_ptr<TDeflateWorker>> threads_;          // slots 1 and up
  int filled_ = 0;                                                // strips of the batch ended
};

// The page's strips: every row coded as the plan says. Adds RowsPerStrip, StripOffsets and
// StripByteCounts.
void WriteStrips(TIETIFFTagWriter& w, TIEBitmap* b, const TPlan& plan, const TIEQuantizer* q,
                 const TIOParamsVals& Params, TIECodecProgress& Progress) {
  TIEStream& s = w.Stream();
  std::atomic<bool>& aborting = w.Aborting();
  const int width = b->GetImageWidth(), height = b->GetImageHeight();
  std::vector<uint32_t> offsets, counts;
  if (plan.compression == kCompJPEG) {
    offsets.push_back(w.Offset());
    std::unique_ptr<TIOParamsVals> jp(new TIOParamsVals(nullptr));
    jp->JPEGQuality = plan.jpegQuality;
    jp->JPEGColorSpace = uint8_t(plan.jpegColorSpace);
    try {
      IEJPEGWrite(s, *b, *jp, Progress);
    } catch (const EIEError&) {
      aborting = true;
    }
    counts.push_back(w.Offset() - offsets[0]);
    w.AddLong(278, uint32_t(height));
    w.AddLong(273, offsets[0]);
    w.AddLong(279, counts[0]);
    return;
  }

  const TIEPixelFormat fmt0 = b->GetPixelFormat();
  const int64_t rowBytes = RowBytes(plan, fmt0, width);
  const int strips =
      int(std::min<int64_t>(std::max<int64_t>(int64_t(height) * b->GetRowLength() / kStripBytes, 1), height));
  const int rowsPerStrip = height / strips;

  std::vector<uint8_t> row(size_t(rowBytes) + 8), packed;
  TRowSource source(b, plan, q);
  TIECCITTEncoderCarry carry;
  TIETIFFLZWEncoderState* lzw = nullptr;
  std::unique_ptr<TDeflateStrips> deflater;
  if (plan.compression == kCompDeflate)
    deflater.reset(new TDeflateStrips(w, DeflateLevel(Params.TIFFZIPCompression)));
  const int fill = Params.TIFFFillOrder;
  uint32_t stripStart = w.Offset();
  int inStrip = 0;
  // rows are made with little-endian 16-bit samples; a big-endian file holds them the other way
  const bool wideSwap = w.BigEndian() && fmt0 != ie1g &&
                        (fmt0 == ieRGB48 || ((plan.kind == kGrey || plan.kind == kPalette) && plan.bits == 16));
  for (int y = 0; y < height && !aborting; ++y) {
    if (Progress.OnProgress) Progress.Report(int(int64_t(y) * 100 / height));
    source.Fill(y, row.data(), rowBytes);
    const int n = int(rowBytes);
    if (wideSwap)
      for (int i = 0; i + 1 < n; i += 2) std::swap(row[size_t(i)], row[size_t(i) + 1]);
    switch (plan.compression) {
      case kCompMH: IECCITTEncodeMHRow(row.data(), width, s, fill, aborting); break;
      case kCompT4:
        if (plan.t4TwoD) IECCITTEncodeT4Row(row.data(), width, s, fill, aborting, carry);
        else IECCITTEncode1DRow(row.data(), width, s, fill, aborting, carry);
        break;
      case kCompT6: IECCITTEncodeT6Row(row.data(), width, s, fill, aborting, carry); break;
      case kCompLZW:
        if (!plan.lzw(row.data(), n, s, lzw)) aborting = true;
        break;
      case kCompPackBits:
        packed.clear();
        IEPackBitsEncodeRow(row.data(), n, packed);
        w.Write(packed.data(), packed.size());
        break;
      case kCompDeflate: deflater->Put(row.data(), size_t(n)); break;
      default: w.Write(row.data(), size_t(n));
    }
    if (++inStrip == rowsPerStrip || y == height - 1) {
      if (plan.compression == kCompT4 && plan.t4TwoD) IECCITTEncodeT4Row(nullptr, width, s, fill, aborting, carry);
      if (plan.compression == kCompT6) IECCITTEncodeT6Row(nullptr, width, s, fill, aborting, carry);
      if (lzw && !plan.lzw(nullptr, 0, s, lzw)) aborting = true;
      if (carry.pendingBits > 0) w.Write(&carry.pendingByte, 1);
      carry = TIECCITTEncoderCarry();
      if (deflater) {
        deflater->EndStrip();  // placed when its batch is written
      } else {
        const uint32_t end = w.Offset();
        offsets.push_back(stripStart);
        counts.push_back(end - stripStart);
        stripStart = end;
      }
      inStrip = 0;
    }
  }
  if (lzw) plan.lzw(nullptr, 0, s, lzw);  // frees the state of an interrupted strip
  if (deflater) {
    deflater->Flush();
    offsets = std::move(deflater->Offsets);
    counts = std::move(deflater->Counts);
  }
  if (aborting) return;
  w.AddLong(278, uint32_t(rowsPerStrip));
  if (offsets.size() == 1) {
    w.AddLong(273, offsets[0]);
    w.AddLong(279, counts[0]);
  } else {
    w.AddLongs(273, offsets);
    w.AddLongs(279, counts);
  }
}

// Old-style JPEG: the whole interchange stream, with the strip starting at its scan.
void WriteOldJPEG(TIETIFFTagWriter& w, TIEBitmap* b, const TPlan& plan, TIECodecProgress& Progress) {
  TIEMemoryStream m;
  std::unique_ptr<TIOParamsVals> jp(new TIOParamsVals(nullptr));
  jp->JPEGQuality = plan.jpegQuality;
  jp->JPEGColorSpace = uint8_t(plan.jpegColorSpace);
  try {
    IEJPEGWrite(m, *b, *jp, Progress);
  } catch (const EIEError&) {
    w.Aborting() = true;
    return;
  }
  const uint8_t* d = static_cast<const uint8_t*>(m.Memory());
  const uint32_t size = uint32_t(m.GetSize());
  uint32_t k = 0;
  while (k + 1 < size && !(d[k] == 0xFF && d[k + 1] == 0xDA)) ++k;
  if (k + 1 >= size) k = 0;
  const uint32_t at = w.Offset();
  w.Write(d, size);
  w.AddLong(513, at);
  w.AddLong(514, size);
  w.AddLong(278, uint32_t(b->GetImageHeight()));
  w.AddLong(273, at + k);
  w.AddLong(279, size - k);
  w.AddShort(512, 1);
  w.AddShorts(530, {2, 2});
}

uint16_t PhotometricOf(const TPlan& plan, TIEPixelFormat fmt) {
  if (fmt == ie1g) return plan.kind == kWhiteIsZero ? 0 : 1;
  switch (plan.kind) {
    case kGrey: return 1;
    case kPalette: return 3;
    case kCMYK: return 5;
    case kYCbCr: return 6;
    case kLab: return 8;
    default: return 2;
  }
}

std::vector<uint16_t> BitsOf(const TPlan& plan, TIEPixelFormat fmt) {
  switch (fmt) {
    case ie1g: return {1};
    case ieCMYK: return {8, 8, 8, 8};
    case ieRGB48: return {16, 16, 16};
    default: break;
  }
  if (plan.kind == kGrey || plan.kind == kPalette) return {uint16_t(plan.bits)};
  return std::vector<uint16_t>(size_t(SamplesOf(plan, fmt)), 8);
}

// Tags of the page after its image data.
void AddPageTags(TIETIFFTagWriter& w, TIEBitmap* b, const TPlan& plan, const TIOParamsVals& Params,
                 const std::vector<TIERGB>& palette) {
  const TIEPixelFormat fmt = b->GetPixelFormat();
  w.AddShort(277, uint32_t(SamplesOf(plan, fmt)));
  if (plan.alpha) w.AddShort(338, 1);
  if (plan.predictor == 2) w.AddShort(317, 2);
  w.AddAscii(285, Params.TIFFPageName);
  if (Params.TIFFXPos != 0) w.AddRational(286, Params.TIFFXPos);
  if (Params.TIFFYPos != 0) w.AddRational(287, Params.TIFFYPos);
  if (plan.compression == kCompT4) w.AddLong(292, plan.t4TwoD ? 1 : 0);
  if (plan.compression == kCompT6) w.AddLong(292, 0);
  if (plan.compression == kCompT4 || plan.compression == kCompT6) w.AddLong(293, 0);
  w.AddLong(254, 0);
  if (Params.TIFFPageNumber >= 0 || Params.TIFFPageCount >= 0)
    w.AddShorts(297, {uint16_t(std::max(Params.TIFFPageNumber, 0)), uint16_t(std::max(Params.TIFFPageCount, 0))});
  if (Params.IPTCInfo.Count() > 0) {
    void* buf = nullptr;
    int32_t len = 0;
    if (Params.IPTCInfo.SaveToBuffer(buf, len, false) && buf && len > 0) {
      std::vector<uint8_t> padded((size_t(len) + 3) / 4 * 4, 0);
      std::memcpy(padded.data(), buf, size_t(len));
      const uint32_t at = w.AlignEven();
      w.Write(padded.data(), padded.size());
      // in a big-endian file a LONG array would be byte-swapped by readers: the records go as bytes
      if (w.BigEndian()) w.AddEntry(33723, kTIFFUndefined, uint32_t(padded.size()), at);
      else w.AddEntry(33723, kTIFFLong, uint32_t(padded.size() / 4), at);
    }
    std::free(buf);
  }
  if (!Params.XMPInfo.empty())
    w.AddBlock(700, kTIFFByte, uint32_t(Params.XMPInfo.size()), Params.XMPInfo.data(), Params.XMPInfo.size());
  if (Params.ImagingAnnot && Params.ImagingAnnot->Count() > 0) {
    void* buf = nullptr;
    int32_t len = 0;
    Params.ImagingAnnot->SaveToBuffer(buf, len);
    if (buf && len > 0) w.AddBlock(32932, kTIFFByte, uint32_t(len), buf, size_t(len));
    std::free(buf);
  }
  const std::vector<uint8_t>& icc = Params.InputICCProfile.Raw();
  if (!icc.empty()) w.AddBlock(34675, kTIFFUndefined, uint32_t(icc.size()), icc.data(), icc.size());
  if (plan.kind == kPalette && fmt != ie1g) {
    const int n = plan.bits >= 8 ? 256 : 1 << plan.bits;
    std::vector<uint16_t> map(size_t(3 * n));
    for (int i = 0; i < n; ++i) {
      map[size_t(i)] = uint16_t(palette[size_t(i)].r * 257);
      map[size_t(n + i)] = uint16_t(palette[size_t(i)].g * 257);
      map[size_t(2 * n + i)] = uint16_t(palette[size_t(i)].b * 257);
    }
    w.AddShorts(320, map);
  }
}

}  // namespace

int IETIFFWrite(TIEStream& Stream, bool InsertPage, TIEBitmap* Bitmap, const TIOParamsVals& Params,
                TIECodecProgress& Progress) {
  std::atomic<bool> localFlag{false};
  std::atomic<bool>& aborting = Progress.Aborting ? *Progress.Aborting : localFlag;
  if (Bitmap && Bitmap->IsEmpty()) {
    aborting = true;
    return 0;
  }
  TWork work(Bitmap);
  TPlan plan;
  std::unique_ptr<TIEQuantizer> quantizer;
  std::vector<TIERGB> palette;
  if (Bitmap) {
    Prepare(work, Params, plan, quantizer, palette);
    plan.exactIndex = quantizer && quantizer->Method() == TIEQuantizer::qmBitmapPalette;
    const TIEPixelFormat fmt = work.bitmap->GetPixelFormat();
    const uint64_t page = uint64_t(RowBytes(plan, fmt, work.bitmap->GetImageWidth())) *
                          uint64_t(work.bitmap->GetImageHeight());
    const uint64_t before = InsertPage ? uint64_t(std::max<int64_t>(Stream.GetSize(), 0)) : 0;
    if (page > (kMaxTIFFFileSize - kTagRoom) / 2 || before + 2 * page + kTagRoom > kMaxTIFFFileSize) {
      aborting = true;
      return 0;
    }
  }

  // A new file takes the byte order asked for; a page joins a file in that file's own.
  bool bigEndian = Params.TIFFByteOrder == 0;
  if (InsertPage) {
    const int64_t at = Stream.GetPosition();
    uint8_t order[2] = {0, 0};
    if (Stream.Read(order, 2) == 2) bigEndian = order[0] == 'M' && order[1] == 'M';
    Stream.SetPosition(at);
  }
  TIETIFFTagWriter w(Stream, aborting, bigEndian);
  int result = 1;
  uint32_t start = 0, field = 0, next = 0;
  if (!InsertPage) {
    start = w.Offset();
    const uint8_t zero[8] = {};
    w.Write(zero, 8);
  } else {
    const int pages = FindInsertionPoint(Stream, Params.TIFFImageIndex, field, next);
    if (pages < 0) {
      aborting = true;
      return 0;
    }
    result = pages + 1;
    Stream.Seek(0, soFromEnd);
  }
  if (aborting) return 0;

  if (Params.HasExifData) {
    IETIFFAddExifTags(w, Params);
  } else {
    w.AddAscii(270, Params.TIFFImageDescription);
    w.AddRational(282, Params.DpiX);
    w.AddRational(283, Params.DpiY);
    w.AddShort(296, 2);
  }

  if (work.bitmap) {
    TIEBitmap* b = work.bitmap;
    const TIEPixelFormat fmt = b->GetPixelFormat();
    w.AddLong(256, uint32_t(b->GetImageWidth()));
    w.AddLong(257, uint32_t(b->GetImageHeight()));
    w.AddShorts(258, BitsOf(plan, fmt));
    w.AddShort(259, plan.compression);
    w.AddShort(262, PhotometricOf(plan, fmt));
    w.AddAscii(269, Params.TIFFDocumentName);
    if (IsFax(plan.compression)) {
      w.AddShort(266, uint32_t(Params.TIFFFillOrder));
      w.AddShort(284, 1);
      w.AddShort(327, 0);
    }
    {
      TIEScopedRowAccess access(b, iraRead);
      if (plan.compression == kCompOJPEG) WriteOldJPEG(w, b, plan, Progress);
      else WriteStrips(w, b, plan, quantizer.get(), Params, Progress);
    }
    if (!aborting) AddPageTags(w, b, plan, Params, palette);
  }
  if (aborting) return 0;

  const uint32_t ifd = w.AlignEven();
  if (!InsertPage) {
    uint8_t h[8] = {'I', 'I', 42, 0};
    if (bigEndian) h[0] = h[1] = 'M';
    w.PutU16(h + 2, 42);
    w.PutU32(h + 4, ifd);
    Stream.SetPosition(start);
    w.Write(h, 8);
  } else {
    uint8_t o[4];
    w.PutU32(o, ifd);
    Stream.SetPosition(field);
    w.Write(o, 4);
  }
  Stream.SetPosition(ifd);
  w.WriteDirectory(InsertPage ? next : 0);
  return aborting ? 0 : result;
}
