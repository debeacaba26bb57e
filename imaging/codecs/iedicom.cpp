#include "iedicom.h"

#include <algorithm>
#include <climits>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "iecodeccommon.h"
#include "iepackbits.h"
#include "iej2000.h"
#include "ieljpeg.h"
#include "ietextutils.h"
#include "ieutils.h"
#include "jpegfilt.h"
#include "vodevovur.h"

namespace {

constexpr int kPreambleSize = 128;
constexpr int kReadBufferSize = 65536;
constexpr size_t kMaxNesting = 64;  // sequences inside items inside sequences ...; deeper is refused
constexpr int kMaxRLESegments = 15;
constexpr int kRLEHeaderSize = 64;
// Output per input byte a compressed frame can reach at best: a frame that claims more pixels than
// its bytes could code is refused before anything is allocated.
constexpr uint64_t kRLEMaxExpansion = 64;        // two bytes repeat a byte at most 128 times
constexpr uint64_t kLosslessMaxSamplesPerByte = 8;  // at least one bit per sample

constexpr uint32_t kUndefinedLength = 0xFFFFFFFF;
constexpr uint16_t kItemGroup = 0xFFFE;
constexpr uint16_t kItem = 0xE000, kItemEnd = 0xE00D, kSequenceEnd = 0xE0DD;

struct TDictRow {
  uint16_t group, element;
  char vr[3];
};

// The standard's data dictionary: "xs" for elements whose VR depends on the context, "!!" for the
// item and delimitation tags.
const TDictRow kDictionary[] = {
#include "iedicomdict.inc"
};

const char* LookupVR(uint16_t group, uint16_t element) {
  const TDictRow* end = kDictionary + sizeof(kDictionary) / sizeof(kDictionary[0]);
  const TDictRow* r = std::lower_bound(kDictionary, end, std::make_pair(group, element),
                                       [](const TDictRow& row, const std::pair<uint16_t, uint16_t>& key) {
                                         return row.group != key.first ? row.group < key.first
                                                                       : row.element < key.second;
                                       });
  return r != end && r->group == group && r->element == element ? r->vr : "xs";
}

// Explicit VRs whose length takes 32 bits after two reserved bytes.
bool HasLongLength(const char* vr) {
  static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
  for (const char* l : kLong)
    if (vr[0] == l[0] && vr[1] == l[1]) return true;
  return false;
}

// Two bytes that name a VR of the standard.
bool IsVRName(const uint8_t* p) {
  static const char kNames[] = "AEASATCSDADSDTFDFLISLOLTOBODOFOLOVOWPNSHSLSQSSSTSVTMUCUIULUNURUSUTUV";
  for (const char* n = kNames; *n; n += 2)
    if (p[0] == uint8_t(n[0]) && p[1] == uint8_t(n[1])) return true;
  return false;
}

// How the data set after the file meta information encodes its VRs. The transfer syntax only
// says what to expect: files are met whose elements are coded the other way (implicit elements
// under a compressed syntax), so each element is judged by its own bytes.
enum class TVRMode {
  Guess,     // no known transfer syntax: explicit when the bytes after the tag name a VR
  Implicit,  // implicit VR little endian: explicit only when they name the tag's own VR
  Explicit   // every other transfer syntax: explicit when they name a VR
};

// The pixel path of a transfer syntax.
enum class TPixelPath {
  Native,     // uncompressed samples
  RLE,        // PackBits segments per byte plane
  JPEG,       // baseline DCT
  JPEG2000,   // through the JPEG 2000 codec
  Lossless,   // sequential lossless JPEG
  Unsupported // known but not decoded
};

TPixelPath PathOf(const std::string& ts) {
  if (ts == "1.2.840.10008.1.2.4.50") return TPixelPath::JPEG;
  if (ts == "1.2.840.10008.1.2.4.91" || ts == "1.2.840.10008.1.2.4.90") return TPixelPath::JPEG2000;
  if (ts == "1.2.840.10008.1.2.4.57" || ts == "1.2.840.10008.1.2.4.70") return TPixelPath::Lossless;
  if (ts == "1.2.840.10008.1.2.4.100") return TPixelPath::Unsupported;
  if (ts == "1.2.840.10008.1.2.5") return TPixelPath::RLE;
  return TPixelPath::Native;
}

// DICOM pads values with spaces or a NUL; an escape sequence that opens a value stays.
std::string Trimmed(const char* p, size_t n) { return IETrim(std::string(p, n), std::string(" \t\r\n\0", 5)); }

// The reader's state for one call.
struct TDICOMContext {
  TIOParamsVals* Params = nullptr;
  TIEBitmap* Bitmap = nullptr;
  TIECodecProgress Progress;
  TIEStream* In = nullptr;  // buffered, positions relative to the start of the file
  TIEStream* Source = nullptr;  // the caller's stream, for reads the buffer would only copy
  int64_t Base = 0;             // the start of the file in Source
  int64_t Size = 0;
  bool LittleEndian = true;
  std::string TransferSyntax;
  TVRMode VRMode = TVRMode::Guess;
  int SamplesPerPixel = 1;
  std::string Photometric;
  int PlanarConfiguration = 0;
  int Frames = 1;
  int PixelRepresentation = 0;
  int Columns = 0, Rows = 0;
  int BitsAllocated = 0, BitsStored = 0;
  int BytesPerSample = 1;
  // palette tables: raw 16-bit entries in the data set's byte order and their descriptor
  std::vector<uint8_t> Lut[3];
  int LutEntries[3] = {-1, -1, -1};  // -1: no descriptor
  int LutFirst[3] = {0, 0, 0};
  int LutBits[3] = {16, 16, 16};
  double WindowCenter = -1, WindowWidth = -1;
  double RescaleIntercept = 0, RescaleSlope = 1;
  // 8-bit samples of a big-endian data set in an OW element are swapped in pairs like any words
  bool PixelDataIsOB = false;

  uint16_t U16(const uint8_t* p) const { return LittleEndian ? IEReadU16LE(p) : IEReadU16BE(p); }
  uint32_t U32(const uint8_t* p) const { return LittleEndian ? IEReadU32LE(p) : IEReadU32BE(p); }
  bool IsPalette() const { return Photometric == "PALETTE COLOR"; }
  bool IsMonochrome1() const { return Photometric == "MONOCHROME1"; }
  // The colour space of a JPEG frame by the photometric interpretation (JPEG colour space codes of
  // the parameters; -1: the stream's own markers decide).
  int DeclaredJPEGColorSpace() const {
    if (SamplesPerPixel != 3) return -1;
    if (Photometric == "RGB") return 0;
    return Photometric.compare(0, 4, "YBR_") == 0 ? 2 : -1;
  }

  // Reads scattered far apart (item headers) and large ones go to the source directly: through the
  // buffer each would refill it first.
  bool ReadAt(int64_t pos, void* buffer, int64_t count, bool scattered = false) {
    if (pos < 0 || count < 0 || pos > Size || count > Size - pos) return false;
    if (scattered || count >= kReadBufferSize) {
      Source->SetPosition(Base + pos);
      return IEReadExact(*Source, Progress, buffer, count);
    }
    In->SetPosition(pos);
    return IEReadExact(*In, Progress, buffer, count);
  }
};

// ---- data elements ----

// The value of a group 0028 element, read in the data set's byte order.
void TakeImageElement(TDICOMContext& c, uint16_t element, const uint8_t* v, uint32_t len) {
  auto u16 = [&]() -> int { return len >= 2 ? c.U16(v) : (len == 1 ? v[0] : 0); };
  auto text = [&]() { return Trimmed(reinterpret_cast<const char*>(v), len); };
  // window and rescale texts may hold several values; the first counts
  auto firstNumber = [&](double def) {
    std::string t = text();
    const size_t bs = t.find('\\');
    if (bs != std::string::npos) t = Trimmed(t.data(), bs);
    return IEStrToFloatDef(t, def);
  };
  switch (element) {
    case 0x0002: c.SamplesPerPixel = u16(); break;
    case 0x0004: {
      std::string t = text();
      for (char& ch : t) ch = char(std::toupper(static_cast<unsigned char>(ch)));
      c.Photometric = t;
      break;
    }
    case 0x0006: c.PlanarConfiguration = u16(); break;
    case 0x0008: {
      const long long n = std::strtoll(text().c_str(), nullptr, 10);
      c.Frames = int(std::min<long long>(std::max<long long>(n, 1), INT32_MAX));
      break;
    }
    case 0x0010: c.Rows = u16(); break;
    case 0x0011: c.Columns = u16(); break;
    case 0x0100: c.BitsAllocated = u16(); break;
    case 0x0101: c.BitsStored = u16(); break;
    case 0x0103: c.PixelRepresentation = u16(); break;
    case 0x1050:
      c.WindowCenter = firstNumber(-1);
      if (c.WindowCenter == 0) c.WindowCenter = -1;
      break;
    case 0x1051: c.WindowWidth = firstNumber(-1); break;
    case 0x1052: c.RescaleIntercept = firstNumber(0); break;
    case 0x1053: c.RescaleSlope = firstNumber(1); break;
    case 0x1101: case 0x1102: case 0x1103:
      if (len >= 6) {
        const int i = element - 0x1101;
        c.LutEntries[i] = c.U16(v) ? c.U16(v) : 65536;
        c.LutFirst[i] = c.U16(v + 2);
        c.LutBits[i] = c.U16(v + 4);
      }
      break;
    case 0x1201: case 0x1202: case 0x1203: c.Lut[element - 0x1201].assign(v, v + len); break;
    default: break;
  }
}

// Bits allocated and bits stored stand in for each other when only one is given.
void FillParams(TDICOMContext& c) {
  if (c.BitsStored <= 0 || c.BitsStored > 16) c.BitsStored = c.BitsAllocated;
  if (c.BitsAllocated <= 0) c.BitsAllocated = c.BitsStored;
  c.BytesPerSample = std::max(1, std::max((c.BitsAllocated + 7) / 8, (c.BitsStored + 7) / 8));
  TIOParamsVals& p = *c.Params;
  p.BitsPerSample = c.BitsAllocated;
  p.SamplesPerPixel = c.SamplesPerPixel;
  p.Width = p.StoredWidth = c.Columns;
  p.Height = p.StoredHeight = c.Rows;
  p.SetImageCount(c.Frames);
}

// ---- value mapping ----

// Grey samples of T (uint8_t or uint16_t) through the rescale, the window and a stretch from the
// smallest to the largest value to the full range; MONOCHROME1 inverted afterwards. Samples are
// taken as the frame stores them: bits above the stored ones are ignored, signed ones extended.
template <typename T>
void MapGrey(TDICOMContext& c, TIEBitmap& b) {
  constexpr int kBits = int(sizeof(T) * 8);
  constexpr int kValues = 1 << kBits;
  const double M = kValues - 1;
  const int stored = c.BitsStored > 0 && c.BitsStored < kBits ? c.BitsStored : kBits;
  const uint32_t mask = stored >= 32 ? 0xFFFFFFFFu : (1u << stored) - 1;
  const bool isSigned = c.PixelRepresentation == 1;
  const bool windowing = c.WindowCenter != -1 && c.WindowWidth != -1;
  const double wc = c.WindowCenter, ww = c.WindowWidth;
  const double low = std::trunc(wc - 0.5 - (ww - 1) / 2), high = std::trunc(wc - 0.5 + (ww - 1) / 2);
  const int w = b.GetImageWidth(), h = b.GetImageHeight();
  // only the values the frame holds are mapped: a 16-bit frame uses a few thousand of 65536
  std::vector<uint8_t> present(kValues, 0);
  for (int y = 0; y < h; ++y) {
    const T* row = reinterpret_cast<const T*>(b.GetRowAddress(y));
    for (int x = 0; x < w; ++x) present[row[x]] = 1;
  }
  // the value of a stored sample after rescale and window
  auto valueOf = [&](int raw) {
    int64_t s = int64_t(uint32_t(raw) & mask);
    if (isSigned && (s >> (stored - 1)) & 1) s -= int64_t(1) << stored;
    double v = double(s) * c.RescaleSlope + c.RescaleIntercept;
    if (windowing) {
      if (ww <= 1)  // a width of 1 is a threshold
        v = v < wc - 0.5 ? 0 : M;
      else if (v <= low)
        v = 0;
      else if (v < high)
        v = ((v - (wc - 0.5)) / (ww - 1) + 0.5) * M;
      else
        v = M;
    }
    return v;
  };
  double lo = 0, hi = 0;
  bool any = false;
  for (int raw = 0; raw < kValues; ++raw) {
    if (!present[size_t(raw)]) continue;
    const double v = valueOf(raw);
    if (!any || v < lo) lo = v;
    if (!any || v > hi) hi = v;
    any = true;
  }
  std::vector<T> out(kValues, 0);
  for (int raw = 0; raw < kValues; ++raw) {
    if (!present[size_t(raw)]) continue;
    double v = valueOf(raw);
    // a frame of one value has nothing to stretch: it keeps that value, limited to the range
    v = hi > lo ? std::trunc((v - lo) / (hi - lo) * M) : std::trunc(v);
    T o = T(std::min(M, std::max(0.0, v)));
    if (c.IsMonochrome1()) o = T(~o);
    out[size_t(raw)] = o;
  }
  for (int y = 0; y < h; ++y) {
    T* row = reinterpret_cast<T*>(b.GetRowAddress(y));
    for (int x = 0; x < w; ++x) row[x] = out[row[x]];
  }
}

// ---- samples to pixels ----

// The 16-bit entry of palette table `ch` for `index`; indexes outside the table take its first or
// last entry. An 8-bit table is widened.
uint16_t LutEntry(const TDICOMContext& c, int ch, int index) {
  const std::vector<uint8_t>& t = c.Lut[ch];
  int entries = int(t.size() / 2);
  if (c.LutEntries[ch] >= 0) entries = std::min(entries, c.LutEntries[ch]);
  if (entries <= 0) return 0;
  index = std::min(std::max(index - c.LutFirst[ch], 0), entries - 1);
  const uint16_t e = c.U16(&t[size_t(index) * 2]);
  return c.LutBits[ch] == 8 ? uint16_t(std::min<int>(e, 255) * 257) : e;
}

// Builds the bitmap from a frame's samples, interleaved, in host order (8 or 16 bits each).
template <typename T>
void EmitSamples(TDICOMContext& c, TIEBitmap& b, const std::vector<T>& s) {
  const int w = c.Columns, h = c.Rows;
  const bool sixteen = sizeof(T) == 2;
  TIEPixelFormat format;
  if (c.SamplesPerPixel == 1)
    format = c.IsPalette() ? (sixteen ? ieRGB48 : ie24RGB) : (sixteen ? ie16g : ie8g);
  else
    format = sixteen ? ieRGB48 : ie24RGB;
  if (!b.Allocate(w, h, format)) {
    c.Progress.Abort();
    return;
  }
  TIERowProgress progress(c.Progress, h);
  const int spp = c.SamplesPerPixel;
  for (int y = 0; y < h && !c.Progress.Aborted(); ++y) {
    const T* in = s.data() + size_t(y) * w * spp;
    uint8_t* row = b.GetRowAddress(y);
    if (spp == 1 && c.IsPalette()) {
      for (int x = 0; x < w; ++x) {
        const uint16_t r = LutEntry(c, 0, in[x]), g = LutEntry(c, 1, in[x]), bl = LutEntry(c, 2, in[x]);
        if (sixteen) {
          reinterpret_cast<TIERGB48*>(row)[x] = TIERGB48{r, g, bl};
        } else {
          reinterpret_cast<TIERGB*>(row)[x] = TIERGB{uint8_t(bl / 257), uint8_t(g / 257), uint8_t(r / 257)};
        }
      }
    } else if (spp == 1) {
      std::memcpy(row, in, size_t(w) * sizeof(T));
    } else if (sixteen) {
      for (int x = 0; x < w; ++x)
        reinterpret_cast<TIERGB48*>(row)[x] = TIERGB48{uint16_t(in[3 * x]), uint16_t(in[3 * x + 1]), uint16_t(in[3 * x + 2])};
    } else {
      for (int x = 0; x < w; ++x)
        reinterpret_cast<TIERGB*>(row)[x] = TIERGB{uint8_t(in[3 * x + 2]), uint8_t(in[3 * x + 1]), uint8_t(in[3 * x])};
    }
    progress.Step();
  }
  if (spp == 1 && !c.IsPalette()) {
    if (sixteen)
      MapGrey<uint16_t>(c, b);
    else
      MapGrey<uint8_t>(c, b);
  }
}

// ---- frame data ----

// One fragment of encapsulated pixel data: where its bytes start and how many.
struct TFragment {
  int64_t itemOffset;  // of its item tag, from the first item after the offset table
  int64_t pos;
  int64_t length;
};

// The bytes of frame `index` of encapsulated pixel data starting at `pos` (the offset table's item).
// `complete`: the items end with their delimiter before the end of the stream.
bool CollectFrame(TDICOMContext& c, int64_t pos, int index, std::vector<uint8_t>& frame, bool& complete) {
  complete = false;
  uint8_t b[8];
  auto item = [&](int64_t at, uint16_t& group, uint16_t& element, uint32_t& len) {
    if (!c.ReadAt(at, b, 8, true)) return false;
    group = IEReadU16LE(b);
    element = IEReadU16LE(b + 2);
    len = IEReadU32LE(b + 4);
    return true;
  };
  uint16_t g, e;
  uint32_t len;
  if (!item(pos, g, e, len) || g != kItemGroup || e != kItem || len == kUndefinedLength || len > c.Size - pos - 8)
    return false;
  std::vector<uint32_t> offsets(len / 4);
  if (len && !c.ReadAt(pos + 8, offsets.data(), int64_t(offsets.size()) * 4)) return false;
  for (uint32_t& o : offsets) o = IEReadU32LE(reinterpret_cast<uint8_t*>(&o));
  const int64_t first = pos + 8 + len;
  std::vector<TFragment> fragments;
  for (int64_t at = first; at + 8 <= c.Size;) {
    if (!item(at, g, e, len)) return false;
    if (g == kItemGroup && e == kSequenceEnd) {
      complete = true;
      break;
    }
    if (g != kItemGroup || e != kItem || len == kUndefinedLength || len > c.Size - at - 8) {
      c.Progress.Abort();  // something else where an item belongs
      return false;
    }
    fragments.push_back({at - first, at + 8, int64_t(len)});
    at += 8 + int64_t(len);
  }
  size_t from = 0, to = 0;  // fragments [from, to) make the frame
  if (!offsets.empty() && size_t(index) < offsets.size()) {
    while (from < fragments.size() && fragments[from].itemOffset < offsets[size_t(index)]) ++from;
    if (from == fragments.size() || fragments[from].itemOffset != offsets[size_t(index)]) return false;
    to = from + 1;
    const int64_t next = size_t(index) + 1 < offsets.size() ? int64_t(offsets[size_t(index) + 1]) : INT64_MAX;
    while (to < fragments.size() && fragments[to].itemOffset < next) ++to;
  } else if (c.Frames == 1) {
    to = fragments.size();
  } else {
    // Without offsets a frame is one fragment, unless the frames were split: then each JPEG frame
    // starts where a fragment starts with a start-of-image marker.
    std::vector<size_t> starts;
    if (fragments.size() > size_t(c.Frames))
      for (size_t i = 0; i < fragments.size(); ++i) {
        uint8_t soi[2] = {};
        if (fragments[i].length >= 2 && c.ReadAt(fragments[i].pos, soi, 2, true) && soi[0] == 0xFF && soi[1] == 0xD8)
          starts.push_back(i);
      }
    if (starts.size() == size_t(c.Frames)) {
      from = starts[size_t(index)];
      to = size_t(index) + 1 < starts.size() ? starts[size_t(index) + 1] : fragments.size();
    } else {
      from = size_t(index);
      to = from + 1;
      if (to > fragments.size()) return false;
    }
  }
  if (from >= to) return false;
  int64_t total = 0;
  for (size_t i = from; i < to; ++i) total += fragments[i].length;
  frame.resize(size_t(total));
  int64_t at = 0;
  for (size_t i = from; i < to; ++i) {
    if (!c.ReadAt(fragments[i].pos, frame.data() + at, fragments[i].length)) return false;
    at += fragments[i].length;
  }
  return true;
}

// PackBits into `out` (n bytes). False when the data ends first.
bool UnpackRLESegment(const uint8_t* p, const uint8_t* end, uint8_t* out, size_t n) {
  return IEUnpackBits(p, end > p ? size_t(end - p) : 0, out, n) == n;
}

template <typename T>
bool DecodeRLE(TDICOMContext& c, const std::vector<uint8_t>& data, std::vector<T>& samples) {
  const size_t pixels = size_t(c.Columns) * c.Rows;
  const int bytes = int(sizeof(T));
  const int needed = c.SamplesPerPixel * bytes;
  if (data.size() < size_t(kRLEHeaderSize)) return false;
  const uint32_t count = IEReadU32LE(data.data());
  if (count < uint32_t(needed) || count > uint32_t(kMaxRLESegments)) return false;
  uint32_t offset[kMaxRLESegments + 1];
  for (uint32_t i = 0; i < count; ++i) offset[i] = IEReadU32LE(data.data() + 4 + 4 * i);
  offset[count] = uint32_t(data.size());
  for (uint32_t i = 0; i < count; ++i)
    if (offset[i] < uint32_t(kRLEHeaderSize) || offset[i] > offset[i + 1]) return false;
  for (int i = 0; i < needed; ++i)
    if (uint64_t(offset[i + 1] - offset[i]) * kRLEMaxExpansion < pixels) return false;
  samples.assign(pixels * size_t(c.SamplesPerPixel), 0);
  std::vector<uint8_t> plane(pixels);
  for (int seg = 0; seg < needed; ++seg) {
    if (!UnpackRLESegment(data.data() + offset[seg], data.data() + offset[seg + 1], plane.data(), pixels))
      return false;
    // segments run sample by sample, most significant byte first
    const int sample = seg / bytes;
    const int shift = 8 * (bytes - 1 - seg % bytes);
    T* s = samples.data() + sample;
    for (size_t i = 0; i < pixels; ++i, s += c.SamplesPerPixel) *s = T(*s | (T(plane[i]) << shift));
  }
  return true;
}

// Samples of a frame stored as they are, from `pos`.
template <typename T>
bool ReadNative(TDICOMContext& c, int64_t pos, std::vector<T>& samples) {
  const int spp = c.SamplesPerPixel;
  const uint64_t count = uint64_t(c.Columns) * c.Rows * spp;
  // bytes per sample above the container's size (bits stored beyond bits allocated) are skipped
  const int stride = c.BytesPerSample;
  const uint64_t bytes = count * uint64_t(stride);
  if (pos < 0 || bytes > uint64_t(c.Size - std::min(pos, c.Size))) return false;
  const bool pairs = stride == 1 && !c.LittleEndian && !c.PixelDataIsOB;
  // the last byte of an odd frame of byte pairs sits in the pad byte's place
  const uint64_t extra = pairs && (bytes & 1) && bytes < uint64_t(c.Size - pos) ? 1 : 0;
  std::vector<uint8_t> raw(static_cast<size_t>(bytes + extra));
  if (!c.ReadAt(pos, raw.data(), int64_t(raw.size()))) return false;
  samples.resize(size_t(count));
  const size_t pixels = size_t(c.Columns) * c.Rows;
  for (size_t i = 0; i < size_t(count); ++i) {
    // planar configuration 1 keeps every sample's plane whole
    const size_t src = spp > 1 && c.PlanarConfiguration == 1 ? (i % spp) * pixels + i / spp : i;
    const uint8_t* p = raw.data() + src * stride;
    if (sizeof(T) == 1)
      samples[i] = T(pairs && (src ^ 1) < raw.size() ? raw[src ^ 1] : p[0]);
    else
      samples[i] = T(c.LittleEndian ? IEReadU16LE(p) : IEReadU16BE(p));
  }
  return true;
}

// Baseline JPEG or JPEG 2000 data through the library's codecs, the frame's size checked first.
void DecodeWithCodec(TDICOMContext& c, TIEBitmap& b, std::vector<uint8_t>& data, TPixelPath path) {
  TIEMemStream m(data.data(), int64_t(data.size()));
  TIOParamsVals own(nullptr);
  TIEBitmap none;
  std::atomic<bool> headerAbort{false};
  TIECodecProgress quiet;
  quiet.Aborting = &headerAbort;
  if (path == TPixelPath::JPEG)
    IEJPEGRead(m, nullptr, none, own, quiet, true, false, false, false, false, false, -1, true);
  else
    IEJ2000Read(m, none, own, quiet, true);
  if (headerAbort || own.Width != c.Columns || own.Height != c.Rows) {
    c.Progress.Abort();
    return;
  }
  m.SetPosition(0);
  if (path == TPixelPath::JPEG)
    IEJPEGRead(m, nullptr, b, own, c.Progress, false, false, false, false, false, false, -1, true,
               c.DeclaredJPEGColorSpace());
  else
    IEJ2000Read(m, b, own, c.Progress, false, true);
  if (c.Progress.Aborted() || b.GetImageWidth() != c.Columns || b.GetImageHeight() != c.Rows) {
    c.Progress.Abort();
    return;
  }
  if (c.SamplesPerPixel == 1) {
    // the rescale and window apply to the samples as coded: 16-bit ones as they are, anything
    // the codec had to give as 8 bits as such
    const int stored = c.BitsStored;
    if (b.GetPixelFormat() == ie16g) {
      c.BitsStored = own.BitsPerSample;
      MapGrey<uint16_t>(c, b);
    } else {
      if (b.GetPixelFormat() != ie8g) b.SetPixelFormat(ie8g);
      c.BitsStored = 8;
      MapGrey<uint8_t>(c, b);
    }
    c.BitsStored = stored;
  }
}

// Palette indexes: into a buffer of samples for the tables.
template <typename T>
bool DecodeLossless(TDICOMContext& c, std::vector<uint8_t>& data, std::vector<T>& samples) {
  const uint64_t count = uint64_t(c.Columns) * c.Rows * c.SamplesPerPixel;
  if (count > uint64_t(data.size()) * kLosslessMaxSamplesPerByte) return false;
  samples.assign(size_t(count), 0);
  const size_t rowSamples = size_t(c.Columns) * c.SamplesPerPixel;
  return IEDecodeLosslessJPEGBlock(data.data(), int64_t(data.size()), sizeof(T) == 2, c.Columns, c.Rows,
                                   c.SamplesPerPixel, [&](int y) -> void* { return samples.data() + y * rowSamples; },
                                   c.Progress);
}

// Grey and colour: straight into the bitmap's rows.
template <typename T>
void DecodeLosslessInto(TDICOMContext& c, TIEBitmap& b, std::vector<uint8_t>& data) {
  const bool sixteen = sizeof(T) == 2;
  const int spp = c.SamplesPerPixel;
  const uint64_t count = uint64_t(c.Columns) * c.Rows * spp;
  if (count > uint64_t(data.size()) * kLosslessMaxSamplesPerByte ||
      !b.Allocate(c.Columns, c.Rows, spp == 1 ? (sixteen ? ie16g : ie8g) : (sixteen ? ieRGB48 : ie24RGB))) {
    c.Progress.Abort();
    return;
  }
  if (!IEDecodeLosslessJPEGBlock(data.data(), int64_t(data.size()), sixteen, c.Columns, c.Rows, spp,
                                 [&b](int y) -> void* { return b.GetRowAddress(y); }, c.Progress)) {
    c.Progress.Abort();
    return;
  }
  if (spp == 3) {  // the frame's R, G, B into the bitmap's B, G, R
    for (int y = 0; y < c.Rows; ++y) {
      uint8_t* row = b.GetRowAddress(y);
      for (int x = 0; x < c.Columns; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
  } else {
    MapGrey<T>(c, b);
  }
}

// Frame Params.ImageIndex of the pixel data whose value starts at `pos` (`length` bytes, or
// kUndefinedLength for encapsulated data).
template <typename T>
void DecodeFrameAs(TDICOMContext& c, TIEBitmap& b, int64_t pos, uint32_t length, TPixelPath path, bool rawJPEG) {
  const int index = std::min(std::max(c.Params->ImageIndex, 0), c.Frames - 1);
  uint8_t tag[4] = {};
  const bool encapsulated = c.ReadAt(pos, tag, 4) && IEReadU16LE(tag) == kItemGroup && IEReadU16LE(tag + 2) == kItem;
  c.In->SetPosition(pos);
  std::vector<uint8_t> data;
  // A truncated file still gives the frames it holds whole, but the read reports the loss.
  bool complete = length == kUndefinedLength || int64_t(length) <= c.Size - pos;
  if (rawJPEG) {
    path = TPixelPath::JPEG;
    data.resize(size_t(std::min<int64_t>(length, c.Size - pos)));
    if (!c.ReadAt(pos, data.data(), int64_t(data.size()))) return;
  } else if (encapsulated) {
    if (path == TPixelPath::Native || !CollectFrame(c, pos, index, data, complete)) {
      c.Progress.Abort();
      return;
    }
  } else if (path != TPixelPath::Native) {
    c.Progress.Abort();  // compressed pixel data must be encapsulated
    return;
  }
  std::vector<T> samples;
  bool ok = true;
  switch (path) {
    case TPixelPath::Native: {
      const uint64_t frameBytes = uint64_t(c.Columns) * c.Rows * c.SamplesPerPixel * c.BytesPerSample;
      ok = ReadNative(c, pos + int64_t(frameBytes * uint64_t(index)), samples);
      break;
    }
    case TPixelPath::RLE: ok = DecodeRLE(c, data, samples); break;
    case TPixelPath::Lossless:
      if (c.SamplesPerPixel == 1 && c.IsPalette()) {
        ok = DecodeLossless(c, data, samples);
      } else {
        DecodeLosslessInto<T>(c, b, data);
      }
      break;
    case TPixelPath::JPEG:
    case TPixelPath::JPEG2000: DecodeWithCodec(c, b, data, path); break;
    case TPixelPath::Unsupported: ok = false; break;
  }
  if (!ok) {
    c.Progress.Abort();
    return;
  }
  if (!samples.empty()) EmitSamples(c, b, samples);
  if (!complete) c.Progress.Abort();
}

void DecodeFrame(TDICOMContext& c, int64_t pos, uint32_t length, bool rawJPEG) {
  const TPixelPath path = PathOf(c.TransferSyntax);
  if (path == TPixelPath::Unsupported || !IEImageSizeAllowed(c.Columns, c.Rows) || c.BitsAllocated < 1 ||
      c.BitsAllocated > 16 || (c.SamplesPerPixel != 1 && c.SamplesPerPixel != 3)) {
    c.Progress.Abort();
    return;
  }
  TIEBitmap* target = c.Bitmap;
  std::unique_ptr<TIEBitmap> temp;
  if (c.Bitmap->GetLocation() == ieTBitmap) {  // such storage cannot hold 16-bit or 48-bit pixels
    temp.reset(new TIEBitmap());
    target = temp.get();
  }
  if (c.BytesPerSample == 1)
    DecodeFrameAs<uint8_t>(c, *target, pos, length, path, rawJPEG);
  else
    DecodeFrameAs<uint16_t>(c, *target, pos, length, path, rawJPEG);
  if (temp && !temp->IsEmpty()) {
    if (temp->GetPixelFormat() != ie24RGB && temp->GetPixelFormat() != ie1g) temp->SetPixelFormat(ie24RGB);
    c.Bitmap->Assign(temp.get());
  }
}

}  // namespace

bool IEDICOMTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  bool result = false;
  char magic[4];
  Stream.SetPosition(pos + kPreambleSize);
  if (Stream.GetPosition() == pos + kPreambleSize && Stream.Read(magic, 4) == 4)
    result = std::memcmp(magic, "DICM", 4) == 0;
  Stream.SetPosition(pos);
  return result;
}

void IEDICOMRead(TIEStream& Stream, TIOParamsVals& Params, TIEBitmap* Bitmap, TIECodecProgress Progress,
                 bool ParamsOnly) {
  const int64_t base = Stream.GetPosition();
  TIEBufferedReadStream in(Stream, kReadBufferSize, true);
  TDICOMContext c;
  c.Source = &Stream;
  c.Base = base;
  c.Params = &Params;
  c.Bitmap = Bitmap;
  c.Progress = Progress;
  c.In = &in;
  c.Size = in.GetSize();
  if (!Bitmap) ParamsOnly = true;

  int64_t pos = 0;
  char magic[4];
  if (c.Size >= kPreambleSize + 4) {
    in.SetPosition(kPreambleSize);
    if (in.Read(magic, 4) == 4 && std::memcmp(magic, "DICM", 4) == 0) pos = kPreambleSize + 4;
  }

  // Ends of the sequences and items the parser is inside (-1: ended by a delimitation item).
  // Elements inside them describe other things (icons, referenced images): they go to the tag list
  // but never make this image's geometry or pixels.
  std::vector<int64_t> nesting;
  bool pixelsTaken = false;
  int64_t jfifPos = -1;
  uint32_t jfifLength = 0;
  uint8_t h[12];
  while (pos + 8 <= c.Size && !c.Progress.Aborted()) {
    while (!nesting.empty() && nesting.back() >= 0 && pos >= nesting.back()) nesting.pop_back();
    if (!c.ReadAt(pos, h, 8)) break;
    uint16_t group = IEReadU16LE(h), element = IEReadU16LE(h + 2);
    const bool swapped = !c.LittleEndian && group != 0x0002;
    if (swapped) {
      group = uint16_t(IESwapWord(group));
      element = uint16_t(IESwapWord(element));
    }
    auto u32 = [&](const uint8_t* p) { return swapped ? IEReadU32BE(p) : IEReadU32LE(p); };
    const char* dictVR = LookupVR(group, element);
    char vr[3] = {dictVR[0], dictVR[1], 0};
    uint32_t length;
    int64_t valuePos;
    // an implicit length whose low bytes spell a VR is at least 16705 bytes long; under the implicit
    // syntax such a coincidence must also spell the dictionary's VR of the tag to count
    const bool explicitVR = group == 0x0002 ||
                            (IsVRName(h + 4) && (c.VRMode != TVRMode::Implicit ||
                                                 (dictVR[0] == char(h[4]) && dictVR[1] == char(h[5]))));
    if (std::strcmp(dictVR, "!!") == 0 || !explicitVR) {
      length = u32(h + 4);
      valuePos = pos + 8;
    } else {
      vr[0] = char(h[4]);
      vr[1] = char(h[5]);
      if (HasLongLength(vr)) {
        if (!c.ReadAt(pos + 8, h + 8, 4)) break;
        length = u32(h + 8);
        valuePos = pos + 12;
      } else {
        length = swapped ? IEReadU16BE(h + 6) : IEReadU16LE(h + 6);
        valuePos = pos + 8;
      }
    }
    const bool undefined = length == kUndefinedLength;
    const int64_t remaining = c.Size - valuePos;
    const bool topLevel = nesting.empty();

    if (group == kItemGroup && (element == kItemEnd || element == kSequenceEnd)) {
      if (!nesting.empty() && nesting.back() < 0) nesting.pop_back();
      Params.DICOMTags.AddTag(group, element, vr, nullptr, 0);
      pos = valuePos;
      continue;
    }
    if (group == 0x7FE0 && element == 0x0010 && topLevel) {
      Params.DICOMTags.AddTag(group, element, vr, nullptr, 0);
      uint8_t peek[4] = {};
      const bool jfif = !undefined && c.ReadAt(valuePos, peek, 4) && peek[0] == 0xFF && peek[1] == 0xD8 &&
                        peek[2] == 0xFF && peek[3] == 0xE0;
      if (jfif) {  // a bare JPEG stream: kept in case no other pixel data follows
        jfifPos = valuePos;
        jfifLength = length;
        pos = valuePos + int64_t(length);
        continue;
      }
      pixelsTaken = true;
      c.PixelDataIsOB = vr[0] == 'O' && vr[1] == 'B';
      FillParams(c);
      if (!ParamsOnly) DecodeFrame(c, valuePos, length, false);
      break;
    }
    if ((group == kItemGroup && element == kItem) || std::strcmp(vr, "SQ") == 0 || undefined) {
      // a sequence or item: its elements follow as elements of their own
      Params.DICOMTags.AddTag(group, element, vr, nullptr, 0);
      if (nesting.size() >= kMaxNesting) {
        c.Progress.Abort();
        break;
      }
      nesting.push_back(undefined ? -1 : valuePos + int64_t(length));
      pos = valuePos;
      continue;
    }
    if (length == 0 || int64_t(length) > remaining) {  // no value, or one beyond the end: skipped
      Params.DICOMTags.AddTag(group, element, vr, nullptr, 0);
      pos = valuePos + int64_t(length);
      continue;
    }
    uint8_t* value = static_cast<uint8_t*>(std::malloc(size_t(length) + 1));
    if (!value) {
      c.Progress.Abort();
      break;
    }
    if (!c.ReadAt(valuePos, value, length)) {
      std::free(value);
      break;
    }
    value[length] = 0;
    if (group == 0x0002 && element == 0x0010) {
      c.TransferSyntax = Trimmed(reinterpret_cast<const char*>(value), length);
      if (c.TransferSyntax == "1.2.840.10008.1.2.2") c.LittleEndian = false;
      c.VRMode = c.TransferSyntax == "1.2.840.10008.1.2" ? TVRMode::Implicit : TVRMode::Explicit;
    } else if (group == 0x0028 && topLevel) {
      TakeImageElement(c, element, value, length);
    }
    Params.DICOMTags.AddTag(group, element, vr, value, int(length));
    pos = valuePos + int64_t(length);
  }

  if (pixelsTaken) return;
  FillParams(c);
  if (jfifPos >= 0) {
    if (!ParamsOnly) DecodeFrame(c, jfifPos, jfifLength, true);
    return;
  }
  c.Progress.Abort();  // no image in this data set
}
