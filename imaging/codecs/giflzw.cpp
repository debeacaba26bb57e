// Decoder: sub-blocks are gathered into a 64 KB window as the codes need them (a hostile stream
// cannot make it allocate more), and what is left after the end code is skipped.
// The string table keeps prefix, last byte, first byte and length per code, so a string is written
// straight into place from its last byte back; interlaced images are decoded in data order and their
// rows moved afterwards. Pixels past the last row are dropped.
//
// Encoder: the dictionary is a direct table of 4096 strings x the index values (2 MB at 8 bits)
// instead of the classic 5003-slot hash: the same codes come out (both look strings up exactly), at
// one load per pixel instead of a probe sequence.
#include "giflzw.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kMinCodeSize = 2;
constexpr int kMaxDecodeCodeSize = 9;
constexpr int kMaxEncodeCodeSize = 8;
constexpr int kMaxWidth = 12;
constexpr int kTableSize = 4096;
constexpr int kPacketSize = 254;

// Interlaced passes: first row and step.
constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

// The rows of a width x height image in the order their pixels travel in the data.
std::vector<int> RowOrder(int height, bool interlaced) {
  std::vector<int> rows;
  if (height <= 0) return rows;
  rows.reserve(size_t(height));
  if (!interlaced) {
    for (int y = 0; y < height; ++y) rows.push_back(y);
    return rows;
  }
  for (int pass = 0; pass < 4; ++pass)
    for (int y = kPassStart[pass]; y < height; y += kPassStep[pass]) rows.push_back(y);
  return rows;
}

// The data sub-blocks of one image, gathered a window at a time: memory stays bounded whatever the
// stream holds, and no whole-image copy of the data is made.
class TSubBlockReader {
 public:
  explicit TSubBlockReader(TIEStream& stream) : stream_(stream), buffer_(kWindow + 256) {}
  // Moves the unread bytes (bytes[next .. size)) to the front and appends sub-blocks behind them;
  // false when nothing was added (the terminator or the end of the stream was reached).
  bool Refill(const uint8_t*& bytes, size_t& size, size_t& next) {
    const size_t tail = size - next;
    if (tail > 0 && bytes + next != buffer_.data()) std::memmove(buffer_.data(), bytes + next, tail);
    size_t length = tail;
    while (!ended_ && length < kWindow) {
      uint8_t n = 0;
      if (stream_.Read(&n, 1) != 1 || n == 0) {
        ended_ = true;
        break;
      }
      const int32_t got = stream_.Read(buffer_.data() + length, n);
      if (got > 0) length += size_t(got);
      if (got < n) ended_ = true;
    }
    bytes = buffer_.data();
    size = length;
    next = 0;
    return length > tail;
  }
  // Skips what is left up to and past the terminator.
  void SkipRest() {
    while (!ended_) {
      uint8_t n = 0;
      if (stream_.Read(&n, 1) != 1 || n == 0) break;
      const int64_t before = stream_.GetPosition();
      if (stream_.Seek(n, soFromCurrent) - before < n) break;
    }
    ended_ = true;
  }

 private:
  static constexpr size_t kWindow = 65536;
  TIEStream& stream_;
  std::vector<uint8_t> buffer_;
  bool ended_ = false;
};

struct TDecoder {
  uint16_t prefix[kTableSize];
  uint8_t suffix[kTableSize];
  uint8_t first[kTableSize];
  uint16_t length[kTableSize];
};

// Decoding progress of one image.
enum class TDecodeEnd {
  Done,    // end code, data exhausted or every pixel written
  Corrupt  // a code beyond the next free one
};

// Decodes into `out`, `total` pixels in the order of the data; `written` receives how many it reached.
TDecodeEnd DecodeCodes(TDecoder& t, TSubBlockReader& reader, const uint8_t* bytes, size_t size, int codeSize,
                       uint8_t* out, int64_t total, int64_t& written) {
  const int clear = 1 << codeSize;
  const int end = clear + 1;
  for (int i = 0; i < clear; ++i) {
    t.prefix[i] = 0;
    t.suffix[i] = uint8_t(i);
    t.first[i] = uint8_t(i);
    t.length[i] = 1;
  }
  int nextFree = clear + 2;
  int width = codeSize + 1;
  int limit = 1 << width;
  bool full = false;
  int previous = -1;  // -1: the next code is the first after a clear

  // Codes are packed least significant bit first; the reader keeps up to 64 bits ahead.
  size_t next = 0;
  uint64_t bitBuffer = 0;
  int bitCount = 0;
  int64_t p = 0;  // pixels written

  written = 0;
  while (p < total) {
    if (bitCount < width) {
      for (;;) {
        while (bitCount <= 56 && next < size) {
          bitBuffer |= uint64_t(bytes[next++]) << bitCount;
          bitCount += 8;
        }
        if (bitCount >= width || !reader.Refill(bytes, size, next)) break;
      }
      if (bitCount < width) break;  // the data is used up
    }
    const int code = int(bitBuffer & ((1u << width) - 1));
    bitBuffer >>= width;
    bitCount -= width;

    if (code == clear) {
      nextFree = clear + 2;
      width = codeSize + 1;
      limit = 1 << width;
      full = false;
      previous = -1;
      continue;
    }
    if (code == end) break;
    if (previous < 0) {
      const int pixel = code < clear ? code : 0;
      out[p++] = uint8_t(pixel);
      previous = pixel;
      continue;
    }

    // The string is written from its last byte back along the prefix chain; what lies past the last
    // pixel is dropped.
    int c;
    int64_t len;
    int64_t pos;
    if (code < nextFree) {
      c = code;
      len = t.length[c];
      pos = p + len - 1;
    } else if (code == nextFree && !full) {
      // KwKwK: the previous string followed by its own first byte.
      c = previous;
      len = int64_t(t.length[c]) + 1;
      pos = p + len - 1;
      if (pos < total) out[pos] = t.first[previous];
      --pos;
    } else {
      written = p;
      return TDecodeEnd::Corrupt;
    }
    const uint8_t firstByte = t.first[c];
    if (p + len <= total) {
      while (c >= clear) {
        out[pos--] = t.suffix[c];
        c = t.prefix[c];
      }
      out[pos] = uint8_t(c);
      p += len;
    } else {
      while (c >= clear) {
        if (pos < total) out[pos] = t.suffix[c];
        --pos;
        c = t.prefix[c];
      }
      out[pos] = uint8_t(c);  // pos is p here, below total
      p = total;
    }

    // A full table without a clear: the stream goes on with the table as it is (deferred clear).
    if (!full) {
      const int n = nextFree++;
      t.prefix[n] = uint16_t(previous);
      t.suffix[n] = firstByte;
      t.first[n] = t.first[previous];
      t.length[n] = uint16_t(t.length[previous] + 1);
      if (nextFree == limit) {
        if (width == kMaxWidth) {
          full = true;
        } else {
          ++width;
          limit <<= 1;
        }
      }
    }
    previous = code;
  }
  written = p;
  return TDecodeEnd::Done;
}

}  // namespace

bool IEGIFLZWDecompress(TIEStream& stream, int height, int width, bool interlaced, uint8_t* dest) {
  const int64_t start = stream.GetPosition();
  uint8_t codeSize = 0;
  if (stream.Read(&codeSize, 1) != 1 || codeSize < kMinCodeSize || codeSize > kMaxDecodeCodeSize) {
    stream.SetPosition(start);
    return false;
  }
  TSubBlockReader reader(stream);
  const uint8_t* bytes = nullptr;
  size_t size = 0, next = 0;
  if (!reader.Refill(bytes, size, next) || !dest || width <= 0 || height <= 0) {
    reader.SkipRest();
    return true;
  }
  const int64_t total = int64_t(width) * height;
  // Interlaced pixels are decoded in data order first, then moved to their rows.
  std::vector<uint8_t> ordered;
  if (interlaced) ordered.resize(size_t(total));
  uint8_t* out = interlaced ? ordered.data() : dest;
  auto table = std::make_unique<TDecoder>();
  int64_t written = 0;
  const TDecodeEnd result = DecodeCodes(*table, reader, bytes, size, codeSize, out, total, written);
  if (result == TDecodeEnd::Corrupt) {
    stream.SetPosition(start);
    return false;
  }
  reader.SkipRest();
  if (interlaced) {
    const std::vector<int> rows = RowOrder(height, true);
    for (size_t i = 0; i < rows.size() && int64_t(i) * width < written; ++i) {
      const int64_t n = std::min<int64_t>(width, written - int64_t(i) * width);
      std::memcpy(dest + size_t(rows[i]) * width, out + i * size_t(width), size_t(n));
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------

namespace {

class TGIFEncoder {
 public:
  TGIFEncoder(TIEStream& stream, int codeSize)
      : stream_(stream), codeSize_(codeSize), child_(size_t(kTableSize) << codeSize, 0) {
    clear_ = 1 << codeSize;
    end_ = clear_ + 1;
    nextFree_ = clear_ + 2;
    width_ = codeSize + 1;
    maxCode_ = (1 << width_) - 1;
    added_.reserve(kTableSize);
  }

  void Run(const uint8_t* data, int width, int height, bool interlaced) {
    const uint8_t mask = uint8_t(clear_ - 1);
    Output(clear_);
    const std::vector<int> rows = RowOrder(data && width > 0 ? height : 0, interlaced);
    if (!rows.empty()) {
      int current = -1;
      for (int y : rows) {
        const uint8_t* row = data + size_t(y) * width;
        int x = 0;
        if (current < 0) current = row[x++] & mask;
        for (; x < width; ++x) {
          const int k = row[x] & mask;
          const size_t slot = (size_t(current) << codeSize_) | size_t(k);
          const int found = child_[slot];
          if (found) {
            current = found;
            continue;
          }
          Output(current);
          if (nextFree_ < kTableSize) {
            child_[slot] = uint16_t(nextFree_++);
            added_.push_back(uint32_t(slot));
          } else {
            ClearTable();
            nextFree_ = clear_ + 2;
            clearFlag_ = true;
            Output(clear_);
          }
          current = k;
        }
      }
      Output(current);
    }
    Output(end_);
    if (bits_ > 0) PutByte(uint8_t(acc_));
    FlushPacket();
    const uint8_t terminator = 0;
    Write(&terminator, 1);
  }

  bool Written() const { return ok_; }

 private:
  void ClearTable() {
    for (uint32_t slot : added_) child_[slot] = 0;
    added_.clear();
  }
  void Write(const void* p, int32_t n) {
    if (stream_.Write(p, n) != n) ok_ = false;
  }
  void FlushPacket() {
    if (packetLen_ == 0) return;
    packet_[0] = uint8_t(packetLen_);
    Write(packet_, packetLen_ + 1);
    packetLen_ = 0;
  }
  void PutByte(uint8_t b) {
    packet_[1 + packetLen_++] = b;
    if (packetLen_ == kPacketSize) FlushPacket();
  }
  void Output(int code) {
    acc_ |= uint32_t(code) << bits_;
    bits_ += width_;
    while (bits_ >= 8) {
      PutByte(uint8_t(acc_));
      acc_ >>= 8;
      bits_ -= 8;
    }
    if (clearFlag_) {
      width_ = codeSize_ + 1;
      maxCode_ = (1 << width_) - 1;
      clearFlag_ = false;
    } else if (nextFree_ > maxCode_) {
      ++width_;
      // At 12 bits the limit is the table size itself: the table is cleared before it would grow.
      maxCode_ = width_ == kMaxWidth ? kTableSize : (1 << width_) - 1;
    }
  }

  TIEStream& stream_;
  int codeSize_;
  int clear_, end_, nextFree_, width_, maxCode_;
  bool clearFlag_ = false;
  uint32_t acc_ = 0;
  int bits_ = 0;
  uint8_t packet_[1 + kPacketSize];  // the length byte, then the data
  int packetLen_ = 0;
  bool ok_ = true;
  // The code of string `code` followed by index k at (code << codeSize) | k; 0 = none (no string
  // ever gets a code below clear + 2 > 0). The slots filled since the last clear are listed, so a
  // clear resets only those.
  std::vector<uint16_t> child_;
  std::vector<uint32_t> added_;
};

}  // namespace

bool IEGIFLZWCompress(TIEStream& stream, int height, int width, bool interlaced, const uint8_t* data,
                      int bitsPerPixel) {
  int codeSize = bitsPerPixel;
  if (codeSize < kMinCodeSize) codeSize = kMinCodeSize;
  if (codeSize > kMaxEncodeCodeSize) codeSize = kMaxEncodeCodeSize;
  const uint8_t sizeByte = uint8_t(codeSize);
  bool ok = stream.Write(&sizeByte, 1) == 1;
  auto encoder = std::make_unique<TGIFEncoder>(stream, codeSize);
  encoder->Run(data, width, height, interlaced);
  return ok && encoder->Written();
}
