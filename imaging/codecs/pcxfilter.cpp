// PCX reading and writing, DCX page tables.
#include "pcxfilter.h"

#include <cstring>
#include <vector>

#include "iecodeccommon.h"
#include "ieutils.h"

namespace {

constexpr int kHeaderSize = 128;
constexpr int kEndPaletteSize = 768;
constexpr uint32_t kDCXMagic = 0x3ADE68B1;
constexpr int kMaxDCXPages = 1024;
// A run code of two bytes expands to at most 63 bytes.
constexpr uint64_t kMaxRLEBytesPerByte = 32;
constexpr int64_t kMaxPCXField = 65535;  // the corners and the bytes per plane line are 16-bit fields

// Plane-line decoder: a run may continue into the next plane line.
struct TLineDecoder {
  const uint8_t* data;
  int64_t size;
  int64_t pos = 0;
  int runCount = 0;  // bytes of the current run still to produce
  uint8_t runValue = 0;
  bool compressed;
  // Fills `n` bytes; false when the data ends first.
  bool Line(uint8_t* out, int n) {
    if (!compressed) {
      if (pos + n > size) return false;
      std::memcpy(out, data + pos, size_t(n));
      pos += n;
      return true;
    }
    int i = 0;
    while (i < n) {
      if (runCount > 0) {
        const int k = IEMin(runCount, n - i);
        std::memset(out + i, runValue, size_t(k));
        i += k;
        runCount -= k;
        continue;
      }
      if (pos >= size) return false;
      const uint8_t b = data[pos++];
      if (b >= 192) {
        if (pos >= size) return false;
        runCount = b & 63;
        runValue = data[pos++];
      } else {
        out[i++] = b;
      }
    }
    return true;
  }
};

void EncodeLine(const uint8_t* s, int n, std::vector<uint8_t>& out) {
  int i = 0;
  while (i < n) {
    int c = 1;
    while (i + c < n && c < 63 && s[i + c] == s[i]) ++c;
    if (c >= 2 || s[i] >= 192) {
      out.push_back(uint8_t(192 + c));
      out.push_back(s[i]);
    } else {
      out.push_back(s[i]);
    }
    i += c;
  }
}

}  // namespace

void IEPCXRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, int64_t DataSize,
               TIECodecProgress& Progress, bool ParamsOnly) {
  const int64_t start = Stream.GetPosition();
  const int64_t avail = Stream.GetSize() - start;
  if (DataSize > avail) DataSize = avail;
  uint8_t h[kHeaderSize];
  if (DataSize < kHeaderSize || !IEReadExact(Stream, Progress, h, kHeaderSize)) {
    Progress.Abort();
    return;
  }
  const int bits = h[3], planes = h[65], encoding = h[2];
  if (h[0] != 10 || bits > 8 || bits == 0 || encoding > 1) {
    Progress.Abort();
    return;
  }
  Params.SetImageCount(1);
  int dx = IEReadU16LE(h + 12), dy = IEReadU16LE(h + 14);
  if (dx == 0 || dy == 0) dx = IEDefaultDPIX, dy = IEDefaultDPIY;
  Params.SetDpiX(dx);
  Params.SetDpiY(dy);
  TIERGB headerPal[16], endPal[256] = {};
  for (int i = 0; i < 16; ++i) headerPal[i] = IEMakeRGB(h[16 + 3 * i], h[17 + 3 * i], h[18 + 3 * i]);
  if (planes == 1 && bits > 4 && DataSize >= kHeaderSize + kEndPaletteSize) {
    uint8_t p[kEndPaletteSize];
    Stream.SetPosition(start + DataSize - kEndPaletteSize);
    if (!IEReadExact(Stream, Progress, p, kEndPaletteSize)) return;
    for (int i = 0; i < 256; ++i) endPal[i] = IEMakeRGB(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    Stream.SetPosition(start + kHeaderSize);
  }
  const int xmin = IEReadU16LE(h + 4), ymin = IEReadU16LE(h + 6), xmax = IEReadU16LE(h + 8), ymax = IEReadU16LE(h + 10);
  const int width = xmax - xmin + 1, height = ymax - ymin + 1;
  const int bpl = IEReadU16LE(h + 66);
  Params.BitsPerSample = bits;
  Params.SamplesPerPixel = planes;
  Params.Width = Params.StoredWidth = width;
  Params.Height = Params.StoredHeight = height;
  Params.PCXVersion = h[1];
  Params.FreeColorMap();
  if (bits == 8) {
    Params.SetColorMap(endPal, 256);
  } else if (bits == 1 && planes == 4) {
    Params.SetColorMap(headerPal, 16);
    Params.BitsPerSample = 4;
    Params.SamplesPerPixel = 1;
  } else if (bits < 8) {
    Params.SetColorMap(headerPal, IEMin(1 << bits, 16));
  }
  if (ParamsOnly) return;

  const bool layoutKnown = (planes == 1 && (bits == 8 || bits == 4 || bits == 1)) || (planes == 3 && bits == 8) ||
                           (planes == 4 && bits == 1);
  const int64_t minLine = (int64_t(width) * bits + 7) / 8;
  const int64_t dataBytes = DataSize - kHeaderSize;
  if (!layoutKnown || width <= 0 || height <= 0 || !IEImageSizeAllowed(width, height) || bpl < minLine ||
      dataBytes <= 0) {
    Progress.Abort();
    return;
  }
  const uint64_t decoded = uint64_t(bpl) * planes * uint64_t(height);
  if (decoded > uint64_t(dataBytes) * (encoding ? kMaxRLEBytesPerByte : 1)) {
    Progress.Abort();  // the data cannot hold the rows the header claims
    return;
  }
  std::vector<uint8_t> data(static_cast<size_t>(dataBytes));
  if (!IEReadExact(Stream, Progress, data.data(), dataBytes)) return;
  if (!Bitmap.Allocate(width, height, (bits == 1 && planes == 1) ? ie1g : ie24RGB)) {
    Progress.Abort();
    return;
  }
  TLineDecoder dec{data.data(), dataBytes, 0, 0, 0, encoding == 1};
  std::vector<uint8_t> line(size_t(bpl) * planes * 2 + 32);
  int last = -1;
  for (int y = 0; y < height; ++y) {
    const int per = int(int64_t(y) * 100 / height);
    if (per != last) {
      last = per;
      Progress.Report(per);
    }
    if (Progress.Aborted()) break;
    bool ok = true;
    for (int p = 0; p < planes && ok; ++p) ok = dec.Line(&line[size_t(p) * bpl], bpl);
    if (!ok) {
      Progress.Abort();  // the data ends before the rows
      break;
    }
    uint8_t* d = Bitmap.GetRowAddress(y);
    if (planes == 1 && bits == 8) {
      for (int x = 0; x < width; ++x) std::memcpy(d + 3 * x, &endPal[line[size_t(x)]], 3);
    } else if (planes == 1 && bits == 4) {
      for (int x = 0; x < width; ++x) {
        const uint8_t b = line[size_t(x >> 1)];
        std::memcpy(d + 3 * x, &headerPal[(x & 1) ? (b & 15) : (b >> 4)], 3);
      }
    } else if (planes == 1 && bits == 1) {
      std::memcpy(d, line.data(), size_t(IEMin(int(minLine), Bitmap.GetRowLength())));
    } else if (planes == 3) {
      for (int x = 0; x < width; ++x) {
        d[3 * x + 2] = line[size_t(x)];
        d[3 * x + 1] = line[size_t(bpl) + x];
        d[3 * x + 0] = line[size_t(bpl) * 2 + x];
      }
    } else {  // four 1-bit planes: bits 0..3 of a 16-colour index
      for (int x = 0; x < width; ++x) {
        int ix = 0;
        for (int p = 0; p < 4; ++p)
          if (line[size_t(p) * bpl + (x >> 3)] & (0x80 >> (x & 7))) ix |= 1 << p;
        std::memcpy(d + 3 * x, &headerPal[ix], 3);
      }
    }
  }
}

void IEPCXWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress) {
  std::atomic<bool>& abort = *Progress.Aborting;
  const int w = Bitmap.GetImageWidth(), h = Bitmap.GetImageHeight();
  if (w <= 0 || h <= 0 || w > kMaxPCXField + 1 || h > kMaxPCXField + 1) {
    Progress.Abort();  // the header holds 16-bit corners
    return;
  }
  const int samples = IEMin(Params.SamplesPerPixel, 3);  // the caller's value stays for other writers
  const int depth = Params.BitsPerSample == 1 ? 1 : Params.BitsPerSample * samples;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 24) {
    Progress.Abort();  // no PCX layout for this depth
    return;
  }
  int64_t lineBytes = depth == 1 ? (int64_t(w) + 7) / 8 : depth == 4 ? (int64_t(w) + 1) / 2 : w;
  lineBytes += lineBytes & 1;  // plane lines are of even length
  if (lineBytes > kMaxPCXField) {
    Progress.Abort();
    return;
  }
  TIEWriterSource src(Bitmap, depth == 1 ? ie1g : depth <= 8 ? ie8p : ie24RGB, depth == 4 ? 16 : 256);
  if (src->GetImageWidth() != w || src->GetImageHeight() != h) {
    Progress.Abort();
    return;
  }
  uint8_t hd[kHeaderSize] = {};
  hd[0] = 10;
  hd[1] = uint8_t(Params.PCXVersion);
  hd[2] = Params.PCXCompression ? 1 : 0;
  IEWriteU16LE(hd + 8, uint16_t(w - 1));
  IEWriteU16LE(hd + 10, uint16_t(h - 1));
  IEWriteU16LE(hd + 12, uint16_t(Params.DpiX));
  IEWriteU16LE(hd + 14, uint16_t(Params.DpiY));
  IEWriteU16LE(hd + 68, 1);
  int bpl, planes = 1;
  switch (depth) {
    case 1:
      hd[3] = 1;
      bpl = (w + 7) / 8;
      hd[19] = hd[20] = hd[21] = 255;  // colour 1 white
      break;
    case 4: hd[3] = 4; bpl = (w + 1) / 2; break;
    case 8: hd[3] = 8; bpl = w; break;
    default: hd[3] = 8; planes = 3; bpl = w; IEWriteU16LE(hd + 68, 0); break;
  }
  if (depth == 4)
    for (int i = 0; i < 16; ++i) {
      const TIERGB c = src->GetPaletteEntry(i);
      hd[16 + 3 * i] = c.r; hd[17 + 3 * i] = c.g; hd[18 + 3 * i] = c.b;
    }
  bpl += bpl & 1;
  hd[65] = uint8_t(planes);
  IEWriteU16LE(hd + 66, uint16_t(bpl));
  IEStreamWriteCheck(Stream, abort, hd, kHeaderSize);
  std::vector<uint8_t> line(size_t(bpl) * planes, 0), out;
  out.reserve(line.size() * 2 + 8);
  for (int y = 0; y < h && !abort; ++y) {
    Progress.Report(int(int64_t(y) * 100 / h));
    const uint8_t* s = src->GetRowAddress(y);
    std::fill(line.begin(), line.end(), 0);
    switch (depth) {
      case 1: std::memcpy(line.data(), s, size_t((w + 7) / 8)); break;
      case 4: for (int x = 0; x < w; ++x) line[size_t(x >> 1)] |= uint8_t((s[x] & 15) << ((x & 1) ? 0 : 4)); break;
      case 8: std::memcpy(line.data(), s, size_t(w)); break;
      default:
        for (int x = 0; x < w; ++x) {
          line[size_t(x)] = s[3 * x + 2];
          line[size_t(bpl) + x] = s[3 * x + 1];
          line[size_t(bpl) * 2 + x] = s[3 * x];
        }
    }
    if (Params.PCXCompression) {
      out.clear();
      for (int p = 0; p < planes; ++p) EncodeLine(&line[size_t(p) * bpl], bpl, out);
      IEStreamWriteCheck(Stream, abort, out.data(), int32_t(out.size()));
    } else {
      IEStreamWriteCheck(Stream, abort, line.data(), int32_t(line.size()));
    }
  }
  if (depth == 8 && !abort) {
    uint8_t p[1 + kEndPaletteSize];
    p[0] = 12;
    for (int i = 0; i < 256; ++i) {
      const TIERGB c = src->GetPaletteEntry(i);
      p[1 + 3 * i] = c.r; p[2 + 3 * i] = c.g; p[3 + 3 * i] = c.b;
    }
    IEStreamWriteCheck(Stream, abort, p, sizeof p);
  }
}

namespace {
// The page table of a DCX at `start`; false when the stream holds none.
bool ReadDCXTable(TIEStream& s, int64_t start, std::vector<uint32_t>& pages) {
  const int64_t size = s.GetSize();
  s.SetPosition(start);
  uint8_t b[4];
  if (s.Read(b, 4) != 4 || IEReadU32LE(b) != kDCXMagic) return false;
  pages.clear();
  for (int i = 0; i < kMaxDCXPages; ++i) {
    if (s.Read(b, 4) != 4) return false;
    const uint32_t off = IEReadU32LE(b);
    if (off == 0) break;
    if (int64_t(off) >= size) return false;
    pages.push_back(off);
  }
  return true;
}
}  // namespace

bool IEDCXTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  std::vector<uint32_t> pages;
  const bool ok = ReadDCXTable(Stream, pos, pages);
  Stream.SetPosition(pos);
  return ok;
}

void IEDCXRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly) {
  const int64_t pos = Stream.GetPosition();
  std::vector<uint32_t> pages;
  if (!ReadDCXTable(Stream, pos, pages) || pages.empty()) {
    Stream.SetPosition(pos);
    Progress.Abort();
    return;
  }
  int index = IEClamp(Params.DCXImageIndex, 0, int(pages.size()) - 1);
  if (Params.DCXImageIndex < 0) index = 0;
  Params.SetImageIndexValue(index);
  const int64_t size = Stream.GetSize();
  const uint32_t off = pages[size_t(index)];
  int64_t next = size;
  for (uint32_t o : pages)
    if (o > off && o < next) next = o;
  Stream.SetPosition(off);
  IEPCXRead(Stream, Bitmap, Params, next - off, Progress, ParamsOnly);
}

void IEDCXInsertPage(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress) {
  std::atomic<bool>& abort = *Progress.Aborting;
  const int64_t start = Stream.GetPosition();
  const int64_t size = Stream.GetSize();
  std::vector<uint32_t> pages;
  if (size > start && !ReadDCXTable(Stream, start, pages)) {
    Stream.SetPosition(start);
    Progress.Abort();
    return;
  }
  // old pages and their sizes, in stream order of the table
  std::vector<std::pair<int64_t, int64_t>> old;
  for (uint32_t off : pages) {
    int64_t next = size;
    for (uint32_t o : pages)
      if (o > off && o < next) next = o;
    old.emplace_back(int64_t(off), next - off);
  }
  TIEMemoryStream mem;
  const int total = int(old.size()) + 1;
  std::vector<uint8_t> table(size_t(4 + 4 * (total + 1)), 0);
  IEWriteU32LE(table.data(), kDCXMagic);
  mem.WriteBuffer(table.data(), int32_t(table.size()));
  std::vector<uint32_t> offsets;
  size_t nextOld = 0;
  const int insertAt = Params.DCXImageIndex;
  for (int p = 0; !abort; ++p) {
    if (p == insertAt) {
      offsets.push_back(uint32_t(start + mem.GetPosition()));
      IEPCXWrite(mem, Bitmap, Params, Progress);
    }
    if (nextOld >= old.size()) {
      if (p >= insertAt) break;
      if (insertAt > int(old.size())) break;
      continue;
    }
    offsets.push_back(uint32_t(start + mem.GetPosition()));
    Stream.SetPosition(old[nextOld].first);
    std::vector<uint8_t> page(static_cast<size_t>(old[nextOld].second));
    if (Stream.Read(page.data(), int32_t(page.size())) != int32_t(page.size())) {
      Progress.Abort();
      break;
    }
    mem.WriteBuffer(page.data(), int32_t(page.size()));
    ++nextOld;
  }
  if (abort) {
    Stream.SetPosition(start);
    return;
  }
  for (size_t i = 0; i < offsets.size(); ++i) IEWriteU32LE(&table[4 + 4 * i], offsets[i]);
  mem.SetPosition(0);
  mem.WriteBuffer(table.data(), int32_t(table.size()));
  // only what lies from the start position on is replaced
  Stream.SetSize(start);
  Stream.SetPosition(start);
  IEStreamWriteCheck(Stream, abort, mem.Memory(), int32_t(mem.GetSize()));
}
