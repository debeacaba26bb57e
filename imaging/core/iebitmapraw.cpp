// TIEBitmap: the raw bitmap stream "TIEBITMAPRAW" (size, format, palette, display adjustments, rows
// exactly as stored, alpha channel), all numbers little-endian.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "iestreams.h"
#include "ieutils.h"
#include "vodevovur.h"

namespace {

const char kRawMagic[12] = {'T', 'I', 'E', 'B', 'I', 'T', 'M', 'A', 'P', 'R', 'A', 'W'};
// Limits of what a reader accepts before it allocates anything.
constexpr int kMaxRawPaletteCount = 256;
constexpr int kMaxRawRowAlignment = 1024;   // bits
constexpr double kMaxRawInputRange = 2147483647.0;  // the range is truncated to Integer
// Alpha rows are always stored with the alpha channel's own 32-bit alignment.
constexpr int kAlphaRowAlignment = 32;

void PutBytes(std::vector<uint8_t>& out, const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  out.insert(out.end(), b, b + n);
}
void PutI32(std::vector<uint8_t>& out, int32_t v) {
  uint8_t b[4];
  IEWriteU32LE(b, uint32_t(v));
  PutBytes(out, b, 4);
}
void PutF64(std::vector<uint8_t>& out, double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  PutI32(out, int32_t(uint32_t(u)));
  PutI32(out, int32_t(uint32_t(u >> 32)));
}

}  // namespace

// Where the untrusted bytes come from: a caller's block or a stream, read at absolute positions.
class TIEBitmap::RawSource {
 public:
  virtual ~RawSource() = default;
  virtual uint64_t Size() = 0;
  virtual bool ReadAt(uint64_t pos, void* dst, size_t n) = 0;
};

namespace {

using TRawSource = TIEBitmap::RawSource;

class TRawBlockSource : public TRawSource {
 public:
  TRawBlockSource(const uint8_t* data, size_t size) : Data(data), Bytes(size) {}
  uint64_t Size() override { return Bytes; }
  bool ReadAt(uint64_t pos, void* dst, size_t n) override {
    if (pos > Bytes || n > Bytes - pos) return false;
    std::memcpy(dst, Data + pos, n);
    return true;
  }

 private:
  const uint8_t* Data;
  size_t Bytes;
};

class TRawStreamSource : public TRawSource {
 public:
  explicit TRawStreamSource(TIEStream& s) : Stream(s) {}
  uint64_t Size() override {
    int64_t n = Stream.GetSize();
    return n > 0 ? uint64_t(n) : 0;
  }
  bool ReadAt(uint64_t pos, void* dst, size_t n) override {
    auto* p = static_cast<uint8_t*>(dst);
    if (Stream.Seek(int64_t(pos), soFromBeginning) != int64_t(pos)) return false;
    while (n > 0) {
      int32_t chunk = int32_t(n > 0x40000000 ? 0x40000000 : n);
      if (Stream.Read(p, chunk) != chunk) return false;
      p += chunk;
      n -= size_t(chunk);
    }
    return true;
  }

 private:
  TIEStream& Stream;
};

// Reads fields of untrusted data; every read is checked against what is left.
class TRawReader {
 public:
  TRawReader(TRawSource& src, uint64_t pos) : Src(src), End(src.Size()), Pos(pos) {}
  bool Bytes(void* dst, size_t n) {
    if (n > Left() || !Src.ReadAt(Pos, dst, n)) return false;
    Pos += n;
    return true;
  }
  bool I32(int32_t& v) {
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    v = int32_t(IEReadU32LE(b));
    return true;
  }
  bool U8(uint8_t& v) { return Bytes(&v, 1); }
  bool F64(double& v) {
    uint8_t b[8];
    if (!Bytes(b, 8)) return false;
    uint64_t u = uint64_t(IEReadU32LE(b)) | (uint64_t(IEReadU32LE(b + 4)) << 32);
    std::memcpy(&v, &u, 8);
    return true;
  }
  bool Skip(uint64_t n) {
    if (n > Left()) return false;
    Pos += n;
    return true;
  }
  uint64_t Left() const { return Pos <= End ? End - Pos : 0; }
  uint64_t Position() const { return Pos; }

 private:
  TRawSource& Src;
  uint64_t End;
  uint64_t Pos;
};

struct RawHeader {
  std::vector<TIERGB> Palette;
  int32_t Width = 0, Height = 0, ColorTarget = 256, Offsets[4] = {}, Contrast = 0, Alignment = 32;
  uint8_t Format = 0, All255 = 0, Adjust = 0;
  double RangeLow = 0, RangeHigh = 0;
  int64_t RowLength = 0;
  uint64_t RowsAt = 0;
  bool HasAlpha = false;
  int64_t AlphaRowLength = 0;
  uint64_t AlphaAt = 0;
  uint8_t AlphaAll255 = 0;
};

bool Flag(uint8_t v) { return v == 0 || v == 1; }

// Parses and checks everything (the rows only for their presence) before the bitmap is touched.
bool ParseRaw(TRawReader& r, RawHeader& h) {
  char magic[12];
  int32_t version, n;
  if (!r.Bytes(magic, 12) || std::memcmp(magic, kRawMagic, 12) != 0) return false;
  if (!r.I32(version) || version < 0) return false;
  if (!r.I32(n) || n < 0 || n > kMaxRawPaletteCount || uint64_t(n) * 3 > r.Left()) return false;
  h.Palette.resize(size_t(n));
  if (n > 0 && !r.Bytes(h.Palette.data(), size_t(n) * 3)) return false;
  if (!r.I32(h.Width) || !r.I32(h.Height) || !r.U8(h.Format) || !r.U8(h.All255) || !r.I32(h.ColorTarget) ||
      !r.F64(h.RangeLow) || !r.F64(h.RangeHigh))
    return false;
  for (int32_t& o : h.Offsets)
    if (!r.I32(o)) return false;
  if (!r.U8(h.Adjust) || !r.I32(h.Contrast) || !r.I32(h.Alignment)) return false;
  if (h.Width < 0 || h.Height < 0 || !IEIsValidPixelFormat(h.Format) || !Flag(h.All255) || !Flag(h.Adjust)) return false;
  if (!std::isfinite(h.RangeLow) || !std::isfinite(h.RangeHigh) || std::fabs(h.RangeLow) > kMaxRawInputRange ||
      std::fabs(h.RangeHigh) > kMaxRawInputRange)
    return false;
  // alignment 0 would divide by zero in the row-length rule
  if (h.Alignment <= 0 || h.Alignment % 8 != 0 || h.Alignment > kMaxRawRowAlignment) return false;
  bool empty = h.Width == 0 || h.Height == 0 || h.Format == ieNoFormat;
  if (!empty) {
    h.RowLength = IERowLength(h.Width, IEPixelFormatBitCount[h.Format], h.Alignment);
    if (h.RowLength <= 0 || h.RowLength > INT32_MAX) return false;
    // the rows must be there before anything of their size is allocated
    if (uint64_t(h.Height) > r.Left() / uint64_t(h.RowLength)) return false;
  }
  h.RowsAt = r.Position();
  if (!empty && !r.Skip(uint64_t(h.RowLength) * uint64_t(h.Height))) return false;
  uint8_t hasAlpha;
  if (!r.U8(hasAlpha) || !Flag(hasAlpha)) return false;
  h.HasAlpha = hasAlpha == 1;
  if (h.HasAlpha) {
    if (empty) return false;  // an alpha channel without an image has no size
    h.AlphaRowLength = IERowLength(h.Width, 8, kAlphaRowAlignment);
    if (uint64_t(h.Height) > r.Left() / uint64_t(h.AlphaRowLength)) return false;
    h.AlphaAt = r.Position();
    if (!r.Skip(uint64_t(h.AlphaRowLength) * uint64_t(h.Height)) || !r.U8(h.AlphaAll255) || !Flag(h.AlphaAll255))
      return false;
  }
  return true;
}

}  // namespace

// The writer appends to a byte vector or writes to a stream through one sink.
class TIEBitmap::RawSink {
 public:
  virtual ~RawSink() = default;
  virtual void Put(const void* p, size_t n) = 0;
  virtual void Reserve(uint64_t n) = 0;
};

namespace {

class TVectorSink : public TIEBitmap::RawSink {
 public:
  explicit TVectorSink(std::vector<uint8_t>& out) : Out(out) {}
  void Put(const void* p, size_t n) override { PutBytes(Out, p, n); }
  void Reserve(uint64_t n) override {
    if (Out.size() + n <= Out.max_size()) Out.reserve(size_t(Out.size() + n));
  }

 private:
  std::vector<uint8_t>& Out;
};

class TStreamSink : public TIEBitmap::RawSink {
 public:
  explicit TStreamSink(TIEStream& s) : Stream(s) {}
  void Put(const void* p, size_t n) override {
    auto* b = static_cast<const uint8_t*>(p);
    while (n > 0) {
      int32_t chunk = int32_t(n > 0x40000000 ? 0x40000000 : n);
      Stream.WriteBuffer(b, chunk);
      b += chunk;
      n -= size_t(chunk);
    }
  }
  // the stream grows once before the rows, when the memory is there; a stream that cannot grow
  // ahead simply grows as it is written
  void Reserve(uint64_t n) override {
    try {
      int64_t pos = Stream.GetPosition(), size = Stream.GetSize();
      if (pos + int64_t(n) > size && uint64_t(size) + n < uint64_t(IEPhysicalMemory(true))) {
        Stream.SetSize(size + int64_t(n));
        Stream.SetPosition(pos);
      }
    } catch (const std::exception&) {
    }
  }

 private:
  TIEStream& Stream;
};

}  // namespace

void TIEBitmap::WriteRawImageStream(std::vector<uint8_t>& out) {
  TVectorSink sink(out);
  WriteRaw(sink);
}

void TIEBitmap::WriteRawImageStream(TIEStream& stream) {
  TStreamSink sink(stream);
  WriteRaw(sink);
}

void TIEBitmap::WriteRaw(RawSink& sink) {
  SyncWithTBitmap();
  std::vector<uint8_t> out;
  PutBytes(out, kRawMagic, 12);
  PutI32(out, 0);
  PutI32(out, int32_t(Palette.size()));
  if (!Palette.empty()) PutBytes(out, Palette.data(), Palette.size() * 3);
  PutI32(out, Width);
  PutI32(out, Height);
  out.push_back(uint8_t(PixelFormat));
  out.push_back(IsAll255 ? 1 : 0);
  PutI32(out, PaletteColorTarget);
  PutF64(out, InputRangeLow);
  PutF64(out, InputRangeHigh);
  for (int o : BrightnessOffsets) PutI32(out, o);
  out.push_back(AdjustEnabled ? 1 : 0);
  PutI32(out, Contrast);
  PutI32(out, RowAlignment);
  sink.Put(out.data(), out.size());
  sink.Reserve(uint64_t(RowLength) * uint64_t(Height) + 1);
  TIEScopedRowAccess read(this, iraRead);
  for (int y = 0; y < Height; ++y) sink.Put(GetRowAddress(y), size_t(RowLength));
  uint8_t flag = AlphaChannel ? 1 : 0;
  sink.Put(&flag, 1);
  if (!AlphaChannel) return;
  TIEBitmap* a = AlphaChannel;
  size_t arl = size_t(IERowLength(Width, 8, kAlphaRowAlignment));
  sink.Reserve(uint64_t(arl) * uint64_t(Height) + 1);
  std::vector<uint8_t> row(arl, 0);
  TIEScopedRowAccess alphaRead(a, iraRead);
  for (int y = 0; y < Height; ++y) {
    // an attached alpha channel of another size is written cut or padded with zeros to the image's size
    std::fill(row.begin(), row.end(), uint8_t(0));
    if (y < a->Height) std::memcpy(row.data(), a->GetRowAddress(y), std::min(arl, size_t(a->RowLength)));
    sink.Put(row.data(), arl);
  }
  flag = a->IsAll255 ? 1 : 0;
  sink.Put(&flag, 1);
}

bool TIEBitmap::ReadRawImageStream(const uint8_t* data, size_t size, size_t* offset) {
  size_t start = offset ? *offset : 0;
  if (!data || start > size) return false;
  TRawBlockSource src(data, size);
  uint64_t end = 0;
  if (!ReadRaw(src, start, end)) return false;
  if (offset) *offset = size_t(end);
  return true;
}

bool TIEBitmap::ReadRawImageStream(TIEStream& stream) {
  TRawStreamSource src(stream);
  int64_t start = stream.GetPosition();
  uint64_t end = 0;
  bool ok = start >= 0 && ReadRaw(src, uint64_t(start), end);
  // after a refusal the stream stands after the bytes that were examined; after success, after the data
  if (ok) stream.SetPosition(int64_t(end));
  return ok;
}

bool TIEBitmap::ReadRaw(RawSource& src, uint64_t start, uint64_t& end) {
  RawHeader h;
  TRawReader r(src, start);
  if (!ParseRaw(r, h)) return false;

  SetRowAlignment(h.Alignment);
  RowAlignment = h.Alignment;  // also at the locations where SetRowAlignment only marks a rebuild
  ReallocPending = true;
  bool empty = h.Width == 0 || h.Height == 0 || h.Format == ieNoFormat;
  if (empty) {
    FreeStorage(true);
    PixelFormat = TIEPixelFormat(h.Format);
  } else if (!Allocate(h.Width, h.Height, TIEPixelFormat(h.Format))) {
    FreeStorage(true);
    return false;
  }
  Palette = h.Palette;
  UpdateTBitmapPalette();
  IsAll255 = h.All255 == 1;
  PaletteColorTarget = h.ColorTarget;
  InputRangeLow = h.RangeLow;
  InputRangeHigh = h.RangeHigh;
  std::memcpy(BrightnessOffsets, h.Offsets, sizeof(BrightnessOffsets));
  AdjustEnabled = h.Adjust == 1;
  Contrast = h.Contrast;
  bool ok = true;
  {
    TIEScopedRowAccess write(this, iraWrite);
    if (RowLength == h.RowLength) {
      for (int y = 0; y < Height && ok; ++y)
        ok = src.ReadAt(h.RowsAt + uint64_t(y) * uint64_t(h.RowLength), GetRowAddress(y), size_t(h.RowLength));
    } else {
      // a platform bitmap keeps 32-bit rows whatever the data's alignment: rows are copied to fit
      std::vector<uint8_t> row(size_t(h.RowLength));
      size_t n = std::min(row.size(), size_t(RowLength));
      for (int y = 0; y < Height && ok; ++y) {
        ok = src.ReadAt(h.RowsAt + uint64_t(y) * uint64_t(h.RowLength), row.data(), row.size());
        uint8_t* d = GetRowAddress(y);
        std::memcpy(d, row.data(), n);
        if (size_t(RowLength) > n) std::memset(d + n, 0, size_t(RowLength) - n);
      }
    }
  }
  if (ok && h.HasAlpha) {
    TIEBitmap* a = GetAlphaChannel();
    ok = a && a->Width == Width && a->Height == Height && a->RowLength == h.AlphaRowLength;
    if (ok) {
      TIEScopedRowAccess write(a, iraWrite);
      for (int y = 0; y < Height && ok; ++y)
        ok = src.ReadAt(h.AlphaAt + uint64_t(y) * uint64_t(h.AlphaRowLength), a->GetRowAddress(y),
                        size_t(h.AlphaRowLength));
      a->IsAll255 = h.AlphaAll255 == 1;
    }
  } else if (ok) {
    DiscardAlphaChannel(false);
  }
  if (!ok) {  // the source changed under the reader (a stream that shrank)
    FreeStorage(true);
    return false;
  }
  end = r.Position();
  return true;
}
