// Decoder: the string table keeps, per code, its prefix code, last byte, first byte and length, so a
// string is written back to front straight into the output buffer and adding an entry allocates
// nothing. Every code read is checked against the strip's length: a strip cut short ends the row
// where its bytes end instead of reading past them.
//
// Encoder: the classic open-addressing LZW hash (5003 slots, shift 4), with the table cleared one code
// before the 12-bit limit so that no code above 4093 is ever assigned.
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
constexpr int kHashSize = 5003;      // prime, the classic size for 12-bit codes
constexpr int kHashShift = 4;
constexpr int kEncoderClearAt = 4094;  // the encoder clears instead of assigning this code
constexpr int kPacketSize = 254;

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
  uint8_t packet[kPacketSize];
  int packetLen = 0;
  bool writeOK = true;
  uint32_t acc = 0;  // bits fill from the most significant end
  int bits = 0;
  int width = kMinWidth;
  int maxCode = (1 << kMinWidth) - 1;
  int nextFree = kFirstFreeCode;
  bool clearPending = false;
  int prefix = -1;  // -1 until the first byte of the strip
  int32_t keys[kHashSize];
  uint16_t codes[kHashSize];
};

namespace {

void FlushPacket(TIETIFFLZWEncoderState& s) {
  if (s.packetLen == 0) return;
  if (s.output->Write(s.packet, s.packetLen) != s.packetLen) s.writeOK = false;
  s.packetLen = 0;
}

void PutByte(TIETIFFLZWEncoderState& s, uint8_t b) {
  s.packet[s.packetLen++] = b;
  if (s.packetLen == kPacketSize) FlushPacket(s);
}

void WriteCode(TIETIFFLZWEncoderState& s, int code) {
  s.acc |= uint32_t(code) << (32 - s.bits - s.width);
  s.bits += s.width;
  while (s.bits >= 8) {
    PutByte(s, uint8_t(s.acc >> 24));
    s.acc <<= 8;
    s.bits -= 8;
  }
  // Checked before the next free code is assigned, so 511, 1023 and 2047 already go out one bit wider
  // as the decoder's early change expects.
  if (s.clearPending) {
    s.width = kMinWidth;
    s.maxCode = (1 << kMinWidth) - 1;
    s.clearPending = false;
  } else if (s.nextFree >= s.maxCode && s.width < 12) {
    ++s.width;
    s.maxCode = (1 << s.width) - 1;
  }
}

void ClearHash(TIETIFFLZWEncoderState& s) {
  for (int i = 0; i < kHashSize; ++i) s.keys[i] = -1;
}

void Encode(TIETIFFLZWEncoderState& s, const uint8_t* data, int count) {
  int i0 = 0;
  if (s.prefix < 0) {
    if (count <= 0) return;
    s.prefix = data[0];
    i0 = 1;
  }
  int prefix = s.prefix;
  for (int n = i0; n < count; ++n) {
    const int k = data[n];
    const int32_t key = (int32_t(k) << 12) + prefix;
    int i = (k << kHashShift) ^ prefix;
    if (s.keys[i] == key) {
      prefix = s.codes[i];
      continue;
    }
    if (s.keys[i] >= 0) {
      const int step = i == 0 ? 1 : kHashSize - i;
      bool found = false;
      do {
        i -= step;
        if (i < 0) i += kHashSize;
        if (s.keys[i] == key) {
          found = true;
          break;
        }
      } while (s.keys[i] >= 0);
      if (found) {
        prefix = s.codes[i];
        continue;
      }
    }
    WriteCode(s, prefix);
    prefix = k;
    if (s.nextFree < kEncoderClearAt) {
      s.codes[i] = uint16_t(s.nextFree++);
      s.keys[i] = key;
    } else {
      ClearHash(s);
      s.nextFree = kFirstFreeCode;
      s.clearPending = true;
      WriteCode(s, kClearCode);
    }
  }
  s.prefix = prefix;
}

}  // namespace

bool IETIFFLZWCompress(const uint8_t* data, int count, TIEStream& output, TIETIFFLZWEncoderState*& state) {
  if (!state) {
    state = new TIETIFFLZWEncoderState;
    state->output = &output;
    ClearHash(*state);
    WriteCode(*state, kClearCode);
    if (data) Encode(*state, data, count);
    const bool ok = state->writeOK;
    state->writeOK = true;
    return ok;
  }
  TIETIFFLZWEncoderState& s = *state;
  if (data) {
    Encode(s, data, count);
  } else {
    if (s.prefix >= 0) WriteCode(s, s.prefix);
    WriteCode(s, kEOICode);
    if (s.bits > 0) PutByte(s, uint8_t(s.acc >> 24));
    FlushPacket(s);
  }
  const bool ok = s.writeOK;
  s.writeOK = true;
  if (!data) {
    delete state;
    state = nullptr;
  }
  return ok;
}
