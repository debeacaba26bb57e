#include "ietagshandler.h"

#include <algorithm>
#include <cstring>

#include "ietiffhandler.h"

namespace {
struct KnownFormat {
  const char* signature;
  int length;
  uint8_t offsetBase, headerForm, byteOrder;
};
// Tried in this order; the first whose signature begins the note wins.
const KnownFormat kFormats[] = {
    {"SONY CAM \0\0\0", 12, 0, 0, 0},
    {"SONY DSC \0\0\0", 12, 0, 0, 0},
    {"Nikon\0\x02\x10\0\0", 10, 1, 1, 1},
    {"QVC\0\0\0", 6, 0, 0, 3},
    {"EPSON\0\x01\0", 8, 0, 0, 0},
    {"Nikon\0\x01\0", 8, 0, 0, 0},
    {"Panasonic\0\0\0", 12, 0, 0, 0},
    {"FUJIFILM", 8, 1, 2, 2},
};
constexpr int kEmbeddedHeaderSize = 8;

uint16_t Get16(const uint8_t* p, bool be) { return be ? IEReadU16BE(p) : IEReadU16LE(p); }
uint32_t Get32(const uint8_t* p, bool be) { return be ? IEReadU32BE(p) : IEReadU32LE(p); }
void Put16(uint8_t* p, uint16_t v, bool be) {
  if (be) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); } else IEWriteU16LE(p, v);
}
void Put32(uint8_t* p, uint32_t v, bool be) {
  if (be) { p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v); }
  else IEWriteU32LE(p, v);
}
// Type 0 and unknown types count one byte, as the note's own readers do.
uint64_t ValueSize(uint16_t type, uint32_t count) {
  uint32_t s = (type >= 1 && type <= 12) ? IETIFFTypeSize(type) : 1;
  return uint64_t(count) * s;
}
// Grows a memory stream to `size` with zero bytes (SetSize leaves new bytes undefined).
void ZeroFill(TIEMemoryStream& s, int64_t size) {
  static const uint8_t kZeros[64] = {};
  s.SetPosition(s.GetSize());
  while (s.GetSize() < size) s.WriteBuffer(kZeros, int32_t(std::min<int64_t>(64, size - s.GetSize())));
}
}  // namespace

void TIETagsHandler::Clear() {
  raw_.clear();
  entries_.clear();
  format_ = TIEEXIFMakerNoteDeviceInfo();
  internal_.Clear();
}

void TIETagsHandler::Assign(const TIETagsHandler* source) {
  if (!source || source == this) return;
  Clear();
  TIETagsHandler& src = const_cast<TIETagsHandler&>(*source);
  if (src.internal_.GetSize() > 0) {
    const int64_t keep = src.internal_.GetPosition();
    IECopyStream(internal_, src.internal_, 0);
    src.internal_.SetPosition(keep);
  }
  LoadEntries();
  raw_ = source->raw_;
  format_ = source->format_;
}

void TIETagsHandler::DetectFormat() {
  format_ = TIEEXIFMakerNoteDeviceInfo();
  for (const KnownFormat& f : kFormats) {
    const size_t n = std::min<size_t>(raw_.size(), size_t(f.length));
    if (std::memcmp(raw_.data(), f.signature, n) == 0) {
      format_.Signature.assign(f.signature, size_t(f.length));
      format_.OffsetBase = f.offsetBase;
      format_.HeaderForm = f.headerForm;
      format_.ByteOrder = f.byteOrder;
      return;
    }
  }
}

bool TIETagsHandler::ReadFromStream(TIEStream& stream, int32_t size, bool littleEndianDefault) {
  Clear();
  const int64_t noteStart = stream.GetPosition();
  // The note must lie in the stream: its claimed size is never allocated beyond that.
  if (size < 2 || noteStart < 0 || int64_t(size) > stream.GetSize() - noteStart) return false;
  raw_.resize(size_t(size));
  if (stream.Read(raw_.data(), size) != size) {
    Clear();
    return false;
  }
  DetectFormat();
  const uint8_t* raw = raw_.data();
  const int64_t n64 = size;
  int64_t d = int64_t(format_.Signature.size());
  int64_t headerPos = 0;
  bool be = !littleEndianDefault;
  if (format_.HeaderForm == 1) {
    if (d + kEmbeddedHeaderSize > n64) { Clear(); return false; }
    std::memcpy(format_.EmbeddedHeader, raw + d, kEmbeddedHeaderSize);
    headerPos = d;
    d += kEmbeddedHeaderSize;
  } else if (format_.HeaderForm == 2) {
    if (d + 4 > n64) { Clear(); return false; }
    d = int64_t(format_.Signature.size()) + int64_t(IEReadU32LE(raw + d)) - 8;
  }
  switch (format_.ByteOrder) {
    case 1: be = !(format_.EmbeddedHeader[0] == 'I' && format_.EmbeddedHeader[1] == 'I'); break;
    case 2: be = false; break;
    case 3: be = true; break;
    default: break;
  }
  // The entries are counted from the directory's start, not from the note's.
  if (d < 0 || d + 2 > n64) { Clear(); return false; }
  const uint32_t n = Get16(raw + d, be);
  if (n > uint32_t(kMaxEntries) || d + 2 + 12 * int64_t(n) > n64) {
    Clear();
    return false;
  }
  uint8_t head[2];
  IEWriteU16LE(head, uint16_t(n));
  internal_.WriteBuffer(head, 2);
  const int64_t entriesAt = 2;
  ZeroFill(internal_, 2 + 12 * int64_t(n));
  for (uint32_t k = 0; k < n; ++k) {
    const uint8_t* p = raw + d + 2 + 12 * k;
    TIEMakerNoteEntry e;
    e.Tag = Get16(p, be);
    e.Type = Get16(p + 2, be);
    e.Count = Get32(p + 4, be);
    e.Value = Get32(p + 8, be);
    const uint64_t vsize = ValueSize(e.Type, e.Count);
    if (vsize > 4) {
      const int64_t at = format_.OffsetBase == 0 ? int64_t(e.Value) - noteStart : int64_t(e.Value) + headerPos;
      if (at >= 0 && uint64_t(at) <= uint64_t(n64) && vsize <= uint64_t(n64 - at)) {
        const int64_t dataEnd = internal_.GetSize();
        internal_.SetPosition(dataEnd);
        internal_.WriteBuffer(raw + at, int32_t(vsize));
        e.Value = uint32_t(dataEnd);
      } else {
        e.Count = 0;
        e.Value = 0;
      }
    }
    uint8_t out[12];
    IEWriteU16LE(out, e.Tag);
    IEWriteU16LE(out + 2, e.Type);
    IEWriteU32LE(out + 4, e.Count);
    IEWriteU32LE(out + 8, e.Value);
    internal_.SetPosition(entriesAt + 12 * int64_t(k));
    internal_.WriteBuffer(out, 12);
  }
  LoadEntries();
  return true;
}

void TIETagsHandler::LoadEntries() {
  entries_.clear();
  const int64_t size = internal_.GetSize();
  if (size < 2) return;
  const uint8_t* m = static_cast<const uint8_t*>(internal_.Memory());
  const uint32_t n = IEReadU16LE(m);
  for (uint32_t k = 0; k < n && 2 + 12 * int64_t(k + 1) <= size; ++k) {
    const uint8_t* p = m + 2 + 12 * k;
    entries_.push_back({IEReadU16LE(p), IEReadU16LE(p + 2), IEReadU32LE(p + 4), IEReadU32LE(p + 8)});
  }
}

int32_t TIETagsHandler::WriteToStream(TIEStream& stream) const {
  if (internal_.Size() < 2) return 0;
  const int64_t start = stream.GetPosition();
  // The note is built aside and copied only when it is accepted, so a refused note leaves nothing.
  TIEMemoryStream note;
  note.WriteBuffer(format_.Signature.data(), int32_t(format_.Signature.size()));
  bool be = format_.ByteOrder == 3;
  int64_t headerPos = 0;
  if (format_.HeaderForm == 1) {
    uint8_t h[kEmbeddedHeaderSize];
    std::memcpy(h, format_.EmbeddedHeader, sizeof h);
    be = !(h[0] == 'I' && h[1] == 'I');
    Put32(h + 4, 8, be);
    note.WriteBuffer(h, sizeof h);
    headerPos = int64_t(format_.Signature.size());
  } else if (format_.HeaderForm == 2) {
    uint8_t off[4];
    IEWriteU32LE(off, uint32_t(format_.Signature.size() + 4));
    note.WriteBuffer(off, 4);
  }
  const uint8_t* m = static_cast<const uint8_t*>(internal_.Memory());
  const int64_t isize = internal_.Size();
  const uint32_t n = std::min<uint32_t>(IEReadU16LE(m), uint32_t((isize - 2) / 12));
  uint8_t cnt[2];
  Put16(cnt, uint16_t(n), be);
  note.WriteBuffer(cnt, 2);
  const int64_t entriesAt = note.GetPosition();
  int64_t dataPos = entriesAt + 12 * int64_t(n) + 4;
  ZeroFill(note, dataPos);  // entries and the zero next-directory offset
  for (uint32_t k = 0; k < n; ++k) {
    const uint8_t* p = m + 2 + 12 * k;
    const uint16_t tag = IEReadU16LE(p), type = IEReadU16LE(p + 2);
    const uint32_t count = IEReadU32LE(p + 4);
    uint32_t value = IEReadU32LE(p + 8);
    const uint64_t vsize = ValueSize(type, count);
    if (vsize > 4) {
      const uint32_t from = value;
      value = format_.OffsetBase == 0 ? uint32_t(start + dataPos) : uint32_t(dataPos - headerPos);
      if (vsize > uint64_t(kMaxWrittenNote)) return 0;
      if (from <= uint64_t(isize) && vsize <= uint64_t(isize - from)) {
        note.SetPosition(dataPos);
        note.WriteBuffer(m + from, int32_t(vsize));
      }
      dataPos += int64_t(vsize + (vsize & 1));
      if (dataPos > kMaxWrittenNote) return 0;
    }
    uint8_t out[12];
    Put16(out, tag, be);
    Put16(out + 2, type, be);
    Put32(out + 4, count, be);
    Put32(out + 8, value, be);
    note.SetPosition(entriesAt + 12 * int64_t(k));
    note.WriteBuffer(out, 12);
  }
  if (dataPos > kMaxWrittenNote) return 0;
  ZeroFill(note, dataPos);  // the padding byte of an odd last block
  std::atomic<bool> abort{false};
  IEStreamWriteCheck(stream, abort, note.Memory(), int32_t(dataPos));
  if (abort) {
    stream.SetPosition(start);
    return 0;
  }
  return int32_t(dataPos);
}
