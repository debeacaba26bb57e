// Decoder: the string table keeps, per code, its prefix code, last byte, first byte and length, so a
// string is written back to front straight into the output buffer and adding an entry allocates
// nothing. Every code read is checked against the strip's length: a strip cut short ends the row
// where its bytes end instead of reading past them.
//
// Encoder: the strings live in an open-addressing table of 16384 slots, so that it is never more than a
// quarter full and most look-ups end at the first slot. A slot holds the whole string in one word
// (last byte, prefix code, code), so a look-up is one load; the slot is the prefix code XOR a spread of
// the byte, which keeps the strings of a run of one byte value (flat areas) in neighbouring slots.
// Codes are packed in a 32-bit accumulator into an output buffer that goes to the stream in large
// blocks. The table is cleared one code before the 12-bit limit, so that no code above 4093 is ever
// assigned.
#include "tiflzw.h"

#include <cstring>
#include <vector>

namespace {

constexpr int kClearCode = 256;
constexpr int kEOICode = 257;
constexpr int kFirstFreeCode = 258;
constexpr int kMinWidth = 9;
constexpr int kTableEntries = 4097;  // codes 0..4096; an addition beyond 4096 is bad data
constexpr int kOutputGrowth = 1024;  // bytes added to the output buffer when a string does not fit
constexpr int kEncoderClearAt = 4094;  // the encoder clears instead of assigning this code
constexpr int kSlotBits = 14;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;  // no string has it: its prefix would be code 4095
constexpr uint32_t kSlotCodeMask = 0xFFF;
constexpr int kOutputBytes = 16384;  // even: codes leave the accumulator two bytes at a time

}  // namespace

struct TIETIFFLZWDecoderState {
  const uint8_t* source = nullptr;
  int64_t sourceBits = 0;  // strip length in bits
  int64_t bitPos = 0;
  bool reversed = false;  // fill order 2
  int count = 0;          // bytes handed out per call
  std::vector<uint8_t> out;
  int64_t outLen = 0;  // bytes decoded into `out` (may exceed count: the surplus of a call)
  int width = kMinWidth;
  int nextFree = kFirstFreeCode;
  int previous = -1;
  bool error = false;
  uint16_t prefix[kTableEntries];
  uint8_t suffix[kTableEntries];
  uint8_t first[kTableEntries];
  uint16_t length[kTableEntries];
};

namespace {

void ResetTable(TIETIFFLZWDecoderState& s) {
  s.nextFree = kFirstFreeCode;
  s.width = kMinWidth;
}

void InitTable(TIETIFFLZWDecoderState& s) {
  for (int i = 0; i < 256; ++i) {
    s.prefix[i] = 0;
    s.suffix[i] = uint8_t(i);
    s.first[i] = uint8_t(i);
    s.length[i] = 1;
  }
  // Clear and EOI are no strings.
  s.length[kClearCode] = s.length[kEOICode] = 0;
  ResetTable(s);
}

// The next code, or -1 when the strip has no whole code left.
int ReadCode(TIETIFFLZWDecoderState& s) {
  if (s.bitPos + s.width > s.sourceBits) return -1;
  const int64_t byteIndex = s.bitPos >> 3;
  const int shift = int(s.bitPos & 7);
  // At most 7 + 12 bits: three bytes, of which only those inside the strip are loaded.
  const int64_t lastByte = (s.sourceBits >> 3) - 1;
  uint32_t v = 0;
  if (byteIndex + 2 <= lastByte) {
    const uint8_t* d = s.source + byteIndex;
    const uint8_t* r = IEReverseBitsTable;
    if (s.reversed)
      v = (uint32_t(r[d[0]]) << 16) | (uint32_t(r[d[1]]) << 8) | r[d[2]];
    else
      v = (uint32_t(d[0]) << 16) | (uint32_t(d[1]) << 8) | d[2];
    s.bitPos += s.width;
    return int(((v << (8 + shift)) & 0xFFFFFFFFu) >> (32 - s.width));
  }
  for (int i = 0; i < 3; ++i) {
    uint8_t b = 0;
    if (byteIndex + i <= lastByte) {
      b = s.source[byteIndex + i];
      if (s.reversed) b = IEReverseBitsTable[b];
    }
    v = (v << 8) | b;
  }
  s.bitPos += s.width;
  return int(((v << (8 + shift)) & 0xFFFFFFFFu) >> (32 - s.width));
}

void EnsureRoom(TIETIFFLZWDecoderState& s, int extra) {
  const size_t need = size_t(s.outLen) + size_t(extra);
  if (need > s.out.size()) s.out.resize(need + kOutputGrowth, 0);
}

void OutputString(TIETIFFLZWDecoderState& s, int code) {
  const int len = s.length[code];
  EnsureRoom(s, len);
  uint8_t* end = s.out.data() + s.outLen + len;
  int c = code;
  for (int i = 0; i < len; ++i) {
    *--end = s.suffix[c];
    c = s.prefix[c];
  }
  s.outLen += len;
}

// Adds previous + byte; false (and the error flag) once the table would pass 4096 entries.
bool AddEntry(TIETIFFLZWDecoderState& s, int previous, uint8_t byte) {
  if (s.error || s.nextFree >= kTableEntries) {
    s.error = true;
    return false;
  }
  const int n = s.nextFree++;
  s.prefix[n] = uint16_t(previous);
  s.suffix[n] = byte;
  s.first[n] = s.first[previous];
  s.length[n] = uint16_t(s.length[previous] + 1);
  // The early change: the width grows one code before the power of two.
  if (s.nextFree == 511)
    s.width = 10;
  else if (s.nextFree == 1023)
    s.width = 11;
  else if (s.nextFree == 2047)
    s.width = 12;
  return true;
}

enum class TCallEnd {
  Filled,   // count bytes are in the buffer
  Stopped,  // EOI, an unusable code or the end of the strip: the row as decoded
  Failed    // bad data: the caller gets null
};

TCallEnd DecodeCall(TIETIFFLZWDecoderState& s) {
  while (s.outLen < s.count) {
    int c = ReadCode(s);
    if (c < 0) return TCallEnd::Stopped;
    if (c == kClearCode) {
      ResetTable(s);
      do {
        c = ReadCode(s);
      } while (c == kClearCode);
      if (c < 0 || c == kEOICode) return TCallEnd::Stopped;
      if (c >= s.nextFree) {
        s.error = true;
        return TCallEnd::Failed;
      }
      OutputString(s, c);
      s.previous = c;
      continue;
    }
    if (c == kEOICode) return TCallEnd::Stopped;
    if (s.previous < 0) {
      // A strip that does not begin with Clear: a literal starts it, anything else cannot.
      if (c >= 256) return TCallEnd::Stopped;
      OutputString(s, c);
      s.previous = c;
      continue;
    }
    if (c < s.nextFree) {
      OutputString(s, c);
      if (!AddEntry(s, s.previous, s.first[c])) return TCallEnd::Failed;
    } else if (c == s.nextFree) {
      // KwKwK: the string being defined is the previous one followed by its own first byte.
      if (!AddEntry(s, s.previous, s.first[s.previous])) return TCallEnd::Failed;
      OutputString(s, c);
    } else {
      return TCallEnd::Stopped;
    }
    s.previous = c;
  }
  return TCallEnd::Filled;
}

}  // namespace

uint8_t* IETIFFLZWDecompress(const uint8_t* source, int64_t sourceLength, int count,
                             TIETIFFLZWDecoderState*& state, int fillOrder) {
  if (state && !source) {
    delete state;
    state = nullptr;
    return nullptr;
  }
  if (!state) {
    if (!source || count <= 0 || sourceLength < 0) return nullptr;
    state = new TIETIFFLZWDecoderState;
    TIETIFFLZWDecoderState& s = *state;
    s.source = source;
    s.sourceBits = sourceLength * 8;
    s.reversed = fillOrder == 2;
    s.count = count;
    s.out.assign(size_t(count) + 1, 0);
    InitTable(s);
  } else {
    TIETIFFLZWDecoderState& s = *state;
    if (s.outLen > s.count) {
      std::memmove(s.out.data(), s.out.data() + s.count, size_t(s.outLen - s.count));
      s.outLen -= s.count;
    } else {
      s.outLen = 0;
    }
  }
  TIETIFFLZWDecoderState& s = *state;
  if (s.error) return nullptr;
  if (DecodeCall(s) == TCallEnd::Failed) return nullptr;
  return s.out.data();
}

// ---------------------------------------------------------------------------------------------------

struct TIETIFFLZWEncoderState {
  TIEStream* output = nullptr;
  bool writeOK = true;
  uint32_t acc = 0;  // the low `bits` bits are still to be written
  int bits = 0;      // below 16 between codes
  int width = kMinWidth;
  int nextFree = kFirstFreeCode;
  int prefix = -1;  // -1 until the first byte of the strip
  int outLen = 0;
  uint32_t slots[1u << kSlotBits];  // (byte << 24) | (prefix << 12) | code, or kEmptySlot
  uint8_t out[kOutputBytes];
};

namespace {

// The home slot of prefix + byte: the byte's bits spread over the whole index by a multiplicative hash.
inline uint32_t SlotOf(uint32_t byte, uint32_t prefix) {
  return (prefix ^ ((byte * 2654435761u) >> (32 - kSlotBits))) & kSlotMask;
}

void FlushOutput(TIETIFFLZWEncoderState& s) {
  if (s.outLen == 0) return;
  if (s.output->Write(s.out, s.outLen) != s.outLen) s.writeOK = false;
  s.outLen = 0;
}

void ClearSlots(TIETIFFLZWEncoderState& s) { std::memset(s.slots, 0xFF, sizeof s.slots); }

// Packs codes most significant bit first; holds the state's bit fields in locals while it lives.
class TCodeWriter {
 public:
  explicit TCodeWriter(TIETIFFLZWEncoderState& s) : width(s.width), s_(s), acc_(s.acc), bits_(s.bits) {}
  ~TCodeWriter() { s_.acc = acc_, s_.bits = bits_, s_.width = width; }
  TCodeWriter(const TCodeWriter&) = delete;
  TCodeWriter& operator=(const TCodeWriter&) = delete;
  void Put(uint32_t code) {
    acc_ = (acc_ << width) | code;
    bits_ += width;
    if (bits_ >= 16) {
      bits_ -= 16;
      uint8_t* o = s_.out + s_.outLen;
      o[0] = uint8_t(acc_ >> (bits_ + 8));
      o[1] = uint8_t(acc_ >> bits_);
      if ((s_.outLen += 2) == kOutputBytes) FlushOutput(s_);
    }
  }
  // After a code went out with nextFree still unassigned: 511, 1023 and 2047 are already written one
  // bit wider, as the decoder's early change expects.
  void Widen(int nextFree) {
    if (nextFree >= (1 << width) - 1 && width < 12) ++width;
  }
  // The bits still held, padded with zeros to a byte.
  void Finish() {
    for (; bits_ >= 8; bits_ -= 8) PutByte(uint8_t(acc_ >> (bits_ - 8)));
    if (bits_ > 0) PutByte(uint8_t(acc_ << (8 - bits_)));
    bits_ = 0;
  }
  int width;  // of the next code

 private:
  void PutByte(uint8_t b) {
    s_.out[s_.outLen] = b;
    if (++s_.outLen == kOutputBytes) FlushOutput(s_);
  }
  TIETIFFLZWEncoderState& s_;
  uint32_t acc_;
  int bits_;
};

void Encode(TIETIFFLZWEncoderState& s, const uint8_t* data, int count) {
  int n = 0;
  if (s.prefix < 0) {
    if (count <= 0) return;
    s.prefix = data[0];
    n = 1;
  }
  TCodeWriter w(s);
  uint32_t prefix = uint32_t(s.prefix);
  int nextFree = s.nextFree;
  uint32_t* const slots = s.slots;
  for (; n < count; ++n) {
    const uint32_t k = data[n];
    const uint32_t key = (k << 24) | (prefix << 12);
    uint32_t i = SlotOf(k, prefix);
    uint32_t e = slots[i];
    while ((e & ~kSlotCodeMask) != key && e != kEmptySlot) {
      i = (i + 1) & kSlotMask;
      e = slots[i];
    }
    if (e != kEmptySlot) {
      prefix = e & kSlotCodeMask;
      continue;
    }
    w.Put(prefix);
    prefix = k;
    if (nextFree < kEncoderClearAt) {
      w.Widen(nextFree);
      slots[i] = key | uint32_t(nextFree++);
    } else {
      ClearSlots(s);
      nextFree = kFirstFreeCode;
      w.Put(kClearCode);
      w.width = kMinWidth;
    }
  }
  s.prefix = int(prefix);
  s.nextFree = nextFree;
}

}  // namespace

bool IETIFFLZWCompress(const uint8_t* data, int count, TIEStream& output, TIETIFFLZWEncoderState*& state) {
  if (!state) {
    state = new TIETIFFLZWEncoderState;
    state->output = &output;
    ClearSlots(*state);
    TCodeWriter(*state).Put(kClearCode);
  }
  TIETIFFLZWEncoderState& s = *state;
  if (data) {
    Encode(s, data, count);
  } else {
    {
      TCodeWriter w(s);
      if (s.prefix >= 0) {
        w.Put(uint32_t(s.prefix));
        w.Widen(s.nextFree);
      }
      w.Put(kEOICode);
      w.Finish();
    }
    FlushOutput(s);
  }
  const bool ok = s.writeOK;
  s.writeOK = true;
  if (!data) {
    delete state;
    state = nullptr;
  }
  return ok;
}
