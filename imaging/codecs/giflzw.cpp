// Decoder: all sub-blocks of the image are gathered first (the buffer grows as they arrive, so a
// hostile stream cannot make it allocate more than it holds), then codes are read from that block.
// The string table keeps prefix, last byte, first byte and length per code; a string is unwound into
// a stack and handed to the pixel writer, which follows the interlaced order and drops pixels past
// the last row.
//
// Encoder: the classic open-addressing LZW hash (5003 slots, secondary probe 5003 - i).
#include "giflzw.h"

#include <memory>
#include <vector>

namespace {

constexpr int kMinCodeSize = 2;
constexpr int kMaxDecodeCodeSize = 9;
constexpr int kMaxEncodeCodeSize = 8;
constexpr int kMaxWidth = 12;
constexpr int kTableSize = 4096;
constexpr int kHashSize = 5003;
constexpr int kPacketSize = 254;

// Interlaced passes: first row and step.
constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

// Row-order walker over a width × height index buffer, interlaced or not.
class TPixelCursor {
 public:
  TPixelCursor(int width, int height, bool interlaced)
      : width_(width), height_(height), interlaced_(interlaced) {
    if (width_ <= 0 || height_ <= 0) row_ = height_;  // nothing to walk
  }
  bool Done() const { return row_ >= height_; }
  int64_t Offset() const { return int64_t(row_) * width_ + col_; }
  void Next() {
    if (++col_ < width_) return;
    col_ = 0;
    if (!interlaced_) {
      ++row_;
      return;
    }
    row_ += kPassStep[pass_];
    while (row_ >= height_ && pass_ < 3) {
      ++pass_;
      row_ = kPassStart[pass_];
    }
  }

 private:
  int width_, height_;
  bool interlaced_;
  int row_ = 0, col_ = 0, pass_ = 0;
};

// Reads the sub-blocks up to the terminator (or the end of the stream) into one array.
void ReadSubBlocks(TIEStream& stream, std::vector<uint8_t>& data) {
  for (;;) {
    uint8_t n = 0;
    if (stream.Read(&n, 1) != 1 || n == 0) return;
    const size_t old = data.size();
    data.resize(old + n);
    const int32_t got = stream.Read(data.data() + old, n);
    if (got < n) {
      data.resize(old + (got > 0 ? size_t(got) : 0));
      return;
    }
  }
}

struct TDecoder {
  uint16_t prefix[kTableSize];
  uint8_t suffix[kTableSize];
  uint8_t first[kTableSize];
  uint16_t length[kTableSize];
  uint8_t stack[kTableSize];
};

// Decoding progress of one image.
enum class TDecodeEnd {
  Done,    // end code, data exhausted or every pixel written
  Corrupt  // a code beyond the next free one
};

TDecodeEnd DecodeCodes(TDecoder& t, const std::vector<uint8_t>& data, int codeSize, TPixelCursor& px,
                       uint8_t* dest) {
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

  const int64_t totalBits = int64_t(data.size()) * 8;
  int64_t bitPos = 0;
  const uint8_t* bytes = data.data();

  while (!px.Done()) {
    if (bitPos + width > totalBits) return TDecodeEnd::Done;
    // Codes are packed least significant bit first; gather up to three bytes within the data.
    const int64_t b = bitPos >> 3;
    uint32_t v = bytes[b];
    if (b + 1 < int64_t(data.size())) v |= uint32_t(bytes[b + 1]) << 8;
    if (b + 2 < int64_t(data.size())) v |= uint32_t(bytes[b + 2]) << 16;
    const int code = int((v >> (bitPos & 7)) & ((1u << width) - 1));
    bitPos += width;

    if (code == clear) {
      nextFree = clear + 2;
      width = codeSize + 1;
      limit = 1 << width;
      full = false;
      previous = -1;
      continue;
    }
    if (code == end) return TDecodeEnd::Done;
    if (previous < 0) {
      const int pixel = code < clear ? code : 0;
      dest[px.Offset()] = uint8_t(pixel);
      px.Next();
      previous = pixel;
      continue;
    }

    int sp = 0;
    int c;
    if (code < nextFree) {
      c = code;
    } else if (code == nextFree && !full) {
      // KwKwK: the previous string followed by its own first byte.
      t.stack[sp++] = t.first[previous];
      c = previous;
    } else {
      return TDecodeEnd::Corrupt;
    }
    const uint8_t firstByte = t.first[c];
    while (c >= clear) {
      t.stack[sp++] = t.suffix[c];
      c = t.prefix[c];
    }
    t.stack[sp++] = uint8_t(c);
    while (sp > 0 && !px.Done()) {
      dest[px.Offset()] = t.stack[--sp];
      px.Next();
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
  std::vector<uint8_t> data;
  ReadSubBlocks(stream, data);
  if (data.empty()) return true;
  TPixelCursor px(width, height, interlaced);
  if (!dest) return true;
  auto table = std::make_unique<TDecoder>();
  if (DecodeCodes(*table, data, codeSize, px, dest) == TDecodeEnd::Corrupt) {
    stream.SetPosition(start);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------

namespace {

class TGIFEncoder {
 public:
  TGIFEncoder(TIEStream& stream, int codeSize) : stream_(stream), codeSize_(codeSize) {
    clear_ = 1 << codeSize;
    end_ = clear_ + 1;
    nextFree_ = clear_ + 2;
    width_ = codeSize + 1;
    maxCode_ = (1 << width_) - 1;
  }

  void Run(const uint8_t* data, TPixelCursor& px) {
    const uint8_t mask = uint8_t(clear_ - 1);
    ClearHash();
    Output(clear_);
    if (!px.Done()) {
      int current = data[px.Offset()] & mask;
      px.Next();
      while (!px.Done()) {
        const int k = data[px.Offset()] & mask;
        px.Next();
        const int32_t key = (int32_t(k) << 12) + current;
        int i = (k << 4) ^ current;
        if (keys_[i] == key) {
          current = codes_[i];
          continue;
        }
        if (keys_[i] >= 0) {
          const int step = i == 0 ? 1 : kHashSize - i;
          bool found = false;
          do {
            i -= step;
            if (i < 0) i += kHashSize;
            if (keys_[i] == key) {
              found = true;
              break;
            }
          } while (keys_[i] >= 0);
          if (found) {
            current = codes_[i];
            continue;
          }
        }
        Output(current);
        if (nextFree_ < kTableSize) {
          codes_[i] = uint16_t(nextFree_++);
          keys_[i] = key;
        } else {
          ClearHash();
          nextFree_ = clear_ + 2;
          clearFlag_ = true;
          Output(clear_);
        }
        current = k;
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
  void ClearHash() {
    for (int i = 0; i < kHashSize; ++i) keys_[i] = -1;
  }
  void Write(const void* p, int32_t n) {
    if (stream_.Write(p, n) != n) ok_ = false;
  }
  void FlushPacket() {
    if (packetLen_ == 0) return;
    const uint8_t n = uint8_t(packetLen_);
    Write(&n, 1);
    Write(packet_, packetLen_);
    packetLen_ = 0;
  }
  void PutByte(uint8_t b) {
    packet_[packetLen_++] = b;
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
  uint8_t packet_[kPacketSize];
  int packetLen_ = 0;
  bool ok_ = true;
  int32_t keys_[kHashSize];
  uint16_t codes_[kHashSize];
};

}  // namespace

bool IEGIFLZWCompress(TIEStream& stream, int height, int width, bool interlaced, const uint8_t* data,
                      int bitsPerPixel) {
  int codeSize = bitsPerPixel;
  if (codeSize < kMinCodeSize) codeSize = kMinCodeSize;
  if (codeSize > kMaxEncodeCodeSize) codeSize = kMaxEncodeCodeSize;
  const uint8_t sizeByte = uint8_t(codeSize);
  bool ok = stream.Write(&sizeByte, 1) == 1;
  TPixelCursor px(data ? width : 0, data ? height : 0, interlaced);
  auto encoder = std::make_unique<TGIFEncoder>(stream, codeSize);
  encoder->Run(data, px);
  return ok && encoder->Written();
}
