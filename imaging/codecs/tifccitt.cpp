// Tables: the run codes of T.4 Tables 1 to 3, written out as bit strings (the form the
// Recommendation prints them in) and turned into one 128-entry table per colour on first use. The
// decoders walk a binary tree per colour built from those tables at start-up.
//
// Bit reading: every peek loads at most the bytes inside the data, zero past its end, so a code that
// straddles the end of a strip reads zero bits and the decoders never read beyond the buffer they
// were given.
#include "tifccitt.h"

#include <cstring>

#include "vodevovur.h"

namespace {

constexpr int kWhite = 0;
constexpr int kBlack = 1;
constexpr int kRunEOL = -1;     // run value of the end-of-line entries
constexpr int kRunIgnore = -2;  // run value of the zero-run codes that are skipped
constexpr int kEntries = 128;
constexpr int kNoLeaf = 128;    // lookup result when no code matches within 32 bits
constexpr int kEOLEntry = 127;  // what a lookup at or past the end of the data gives
constexpr int kMaxMakeUp = 2560;

const char* const kWhiteTerminating[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100"};

const char* const kBlackTerminating[64] = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111"};

// Make-up codes for 64, 128, ..., 1728.
const char* const kWhiteMakeUp[27] = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011"};

const char* const kBlackMakeUp[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",  "000000110100",
    "000000110101",  "0000001101100", "0000001101101", "0000001001010", "0000001001011", "0000001001100",
    "0000001001101", "0000001110010", "0000001110011", "0000001110100", "0000001110101", "0000001110110",
    "0000001110111", "0000001010010", "0000001010011", "0000001010100", "0000001010101", "0000001011010",
    "0000001011011", "0000001100100", "0000001100101"};

// Extended make-up codes for 1792, 1856, ..., 2560, the same for both colours.
const char* const kExtendedMakeUp[13] = {"00000001000",  "00000001100",  "00000001101",  "000000010010",
                                         "000000010011", "000000010100", "000000010101", "000000010110",
                                         "000000010111", "000000011100", "000000011101", "000000011110",
                                         "000000011111"};

struct TRunCode {
  uint8_t length;  // bits
  uint32_t code;
  int run;  // run length, kRunEOL or kRunIgnore
};

struct TRunTable {
  TRunCode entry[2][kEntries];
};

TRunCode FromBits(const char* bits, int run) {
  TRunCode c{0, 0, run};
  for (; *bits; ++bits) {
    c.code = (c.code << 1) | uint32_t(*bits == '1');
    ++c.length;
  }
  return c;
}

// A code of n bits made of zeros followed by a one.
TRunCode ZerosThenOne(int n, int run) { return TRunCode{uint8_t(n), 1u, run}; }

TRunTable BuildRunTable() {
  TRunTable t{};
  for (int colour = 0; colour < 2; ++colour) {
    TRunCode* e = t.entry[colour];
    for (int i = 0; i < 64; ++i)
      e[i] = FromBits(colour == kWhite ? kWhiteTerminating[i] : kBlackTerminating[i], i);
    for (int i = 0; i < 27; ++i)
      e[64 + i] = FromBits(colour == kWhite ? kWhiteMakeUp[i] : kBlackMakeUp[i], (i + 1) * 64);
    for (int i = 0; i < 13; ++i) e[91 + i] = FromBits(kExtendedMakeUp[i], 1792 + i * 64);
    e[104] = ZerosThenOne(12, kRunEOL);
    for (int n = 9; n <= 11; ++n) e[105 + n - 9] = ZerosThenOne(n, kRunIgnore);
    for (int n = 13; n <= 32; ++n) e[108 + n - 13] = ZerosThenOne(n, kRunEOL);
  }
  return t;
}

const TRunTable& RunTable() {
  static const TRunTable table = BuildRunTable();
  return table;
}

// ---- Decode trees ----

struct TTreeNode {
  uint8_t value;     // table index at a leaf, kNoLeaf at an inner node
  int16_t child[2];  // node indices, -1 when missing
};

// Node 0 of each tree is its root.
std::vector<TTreeNode> g_tree[2];

// Where the tree's walk stands after the first kFastBits bits: a leaf reached earlier (with the bits
// it used) or the node to go on from. Built with the trees, so a lookup takes one step for most codes.
constexpr int kFastBits = 9;
struct TFastStep {
  int16_t node;  // node reached after `bits` bits; -1: no code
  uint8_t bits;
};
TFastStep g_fast[2][1 << kFastBits];

void BuildFastSteps(int colour) {
  const std::vector<TTreeNode>& tree = g_tree[colour];
  for (int prefix = 0; prefix < (1 << kFastBits); ++prefix) {
    int node = 0;
    int used = 0;
    while (used < kFastBits) {
      node = tree[node].child[(prefix >> (kFastBits - 1 - used)) & 1];
      ++used;
      if (node < 0 || tree[node].value != kNoLeaf) break;
    }
    g_fast[colour][prefix] = TFastStep{int16_t(node), uint8_t(used)};
  }
}

void BuildTree(int colour) {
  std::vector<TTreeNode>& tree = g_tree[colour];
  tree.assign(1, TTreeNode{kNoLeaf, {-1, -1}});
  const TRunCode* e = RunTable().entry[colour];
  for (int i = 0; i < kEntries; ++i) {
    int node = 0;
    for (int b = e[i].length - 1; b >= 0; --b) {
      const int bit = (e[i].code >> b) & 1;
      if (tree[node].child[bit] < 0) {
        tree[node].child[bit] = int16_t(tree.size());
        tree.push_back(TTreeNode{kNoLeaf, {-1, -1}});
      }
      node = tree[node].child[bit];
    }
    tree[node].value = uint8_t(i);
  }
}

const TIEStaticStepRegistrar g_staticStep(iessCCITT, IECCITTStaticInit, IECCITTStaticFini);

// ---- Bit reading ----

class TBitSource {
 public:
  TBitSource(const uint8_t* data, int64_t length, int fillOrder)
      : data_(data), length_(length < 0 ? 0 : length), msbFirst_(fillOrder == 1) {}
  int64_t Bits() const { return length_ * 8; }
  bool AtEnd(int64_t p) const { return (p >> 3) >= length_; }
  // 32 bits from bit p, the first in bit 31; zero bits past the data.
  uint32_t Peek(int64_t p) const {
    const int64_t i = p >> 3;
    uint64_t v = 0;
    if (i + 5 <= length_) {
      const uint8_t* d = data_ + i;
      if (msbFirst_) {
        v = (uint64_t(d[0]) << 32) | (uint64_t(d[1]) << 24) | (uint64_t(d[2]) << 16) | (uint64_t(d[3]) << 8) |
            d[4];
      } else {
        const uint8_t* r = IEReverseBitsTable;
        v = (uint64_t(r[d[0]]) << 32) | (uint64_t(r[d[1]]) << 24) | (uint64_t(r[d[2]]) << 16) |
            (uint64_t(r[d[3]]) << 8) | r[d[4]];
      }
      return uint32_t((v << (p & 7)) >> 8);
    }
    for (int k = 0; k < 5; ++k) {
      uint8_t b = 0;
      if (i + k < length_) {
        b = data_[i + k];
        if (!msbFirst_) b = IEReverseBitsTable[b];
      }
      v = (v << 8) | b;
    }
    return uint32_t((v << (p & 7)) >> 8);
  }
  int Bit(int64_t p) const { return AtEnd(p) ? 0 : int(Peek(p) >> 31); }

 private:
  const uint8_t* data_;
  int64_t length_;
  bool msbFirst_;
};

// Table index of the run code of `colour` at p (kNoLeaf when none matches).
int LookupRun(const TBitSource& src, int colour, int64_t p) {
  if (src.AtEnd(p)) return kEOLEntry;
  const std::vector<TTreeNode>& tree = g_tree[colour];
  if (tree.empty()) return kNoLeaf;  // the library was not started
  const uint32_t bits = src.Peek(p);
  const TFastStep& step = g_fast[colour][bits >> (32 - kFastBits)];
  int node = step.node;
  if (node < 0) return kNoLeaf;
  if (tree[node].value != kNoLeaf) return tree[node].value;
  for (int b = 31 - step.bits; b >= 0; --b) {
    node = tree[node].child[(bits >> b) & 1];
    if (node < 0) return kNoLeaf;
    if (tree[node].value != kNoLeaf) return tree[node].value;
  }
  return kNoLeaf;
}

// ---- Rows ----

inline int RowBit(const uint8_t* row, int64_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// The first position at or after x whose bit is `bit`; width when there is none. Bytes that cannot
// hold the bit are passed over eight at a time, and the bit is found in its byte by counting leading
// zeros. Reads only the (width + 7) / 8 bytes of the row.
inline int FindBit(const uint8_t* row, int64_t x, int width, int bit) {
  if (x < 0) x = 0;
  if (x >= width) return width;
  const uint8_t flip = bit ? 0x00 : 0xFF;  // a row byte XOR flip has its set bits where the row has `bit`
  const uint64_t skip8 = bit ? 0 : ~uint64_t(0);
  const int64_t end = (int64_t(width) + 7) >> 3;
  int64_t i = x >> 3;
  unsigned v = unsigned(uint8_t(row[i] ^ flip)) & (0xFFu >> (x & 7));
  while (v == 0) {
    ++i;
    for (uint64_t eight; i + 8 <= end; i += 8) {
      std::memcpy(&eight, row + i, 8);
      if (eight != skip8) break;
    }
    if (i >= end) return width;
    v = uint8_t(row[i] ^ flip);
  }
  const int64_t found = i * 8 + (__builtin_clz(v) - 24);
  return found < width ? int(found) : width;
}

// Sets [from, to) of the row to `bit`, clipped to the row.
void FillBits(uint8_t* row, int64_t from, int64_t to, int width, int bit) {
  if (from < 0) from = 0;
  if (to > width) to = width;
  for (int64_t x = from; x < to;) {
    if ((x & 7) == 0 && x + 8 <= to) {
      row[x >> 3] = bit ? 0xFF : 0x00;
      x += 8;
      continue;
    }
    const uint8_t mask = uint8_t(0x80 >> (x & 7));
    row[x >> 3] = bit ? uint8_t(row[x >> 3] | mask) : uint8_t(row[x >> 3] & ~mask);
    ++x;
  }
}

// Decoder rows: white is bit 1, so painting black clears bits.
inline void PaintBlack(uint8_t* row, int64_t from, int64_t to, int width) {
  FillBits(row, from, to, width, 0);
}

int64_t RowBytes(int width) { return (int64_t(width) + 7) / 8; }

int64_t Decode1D(uint8_t* row, const TBitSource& src, int64_t p, int width) {
  std::memset(row, 0xFF, size_t(RowBytes(width)));
  const TRunTable& table = RunTable();
  int colour = kWhite;
  int64_t a0 = 0;
  int64_t start = p;
  bool makeUpPending = false;
  while (a0 < width || makeUpPending) {
    const int index = LookupRun(src, colour, p);
    if (index == kNoLeaf) {
      // No code here: step over one bit, as bits before the row's first code.
      ++p;
      ++start;
      continue;
    }
    const TRunCode& e = table.entry[colour][index];
    if (e.run == kRunEOL) {
      if (p != start) {
        if (colour == kBlack) PaintBlack(row, a0, width, width);
        p += e.length;
        break;
      }
    } else if (e.run >= 0) {
      if (colour == kBlack) PaintBlack(row, a0, a0 + e.run, width);
      a0 += e.run;
    }
    p += e.length;
    makeUpPending = index > 63;
    if (index < 64) colour ^= 1;
  }
  return p;
}

// Mode codes of the two-dimensional coding, in lookup order.
struct TModeCode {
  uint8_t length;
  uint16_t code;
};
const TModeCode kModes[13] = {
    {12, 0x000},  // 0  twelve zero bits (fill)
    {4, 0x1},     // 1  pass 0001
    {3, 0x1},     // 2  horizontal 001
    {7, 0x02},    // 3  vertical left 3 0000010
    {6, 0x02},    // 4  vertical left 2 000010
    {3, 0x2},     // 5  vertical left 1 010
    {1, 0x1},     // 6  vertical 0 1
    {3, 0x3},     // 7  vertical right 1 011
    {6, 0x03},    // 8  vertical right 2 000011
    {7, 0x03},    // 9  vertical right 3 0000011
    {10, 0x0F},   // 10 two-dimensional extension to uncompressed mode 0000001111
    {12, 0x00F},  // 11 one-dimensional extension to uncompressed mode 000000001111
    {12, 0x001}   // 12 end of line 000000000001
};
enum : int {
  kModeFill = 0,
  kModePass = 1,
  kModeHorizontal = 2,
  kModeV0 = 6,
  kModeUncompressed2D = 10,
  kModeUncompressed1D = 11,
  kModeEOL = 12
};

int LookupMode(const TBitSource& src, int64_t p) {
  const uint32_t bits = src.Peek(p);
  for (int i = 0; i < 13; ++i)
    if ((bits >> (32 - kModes[i].length)) == kModes[i].code) return i;
  return kModeFill;
}

// A run of make-up codes and a terminating code; -1 (nothing consumed of the failing code) when an
// end of line, a skipped code or no code at all comes first.
int64_t ReadRun(const TBitSource& src, int colour, int64_t& p) {
  const TRunTable& table = RunTable();
  int64_t sum = 0;
  for (;;) {
    const int index = LookupRun(src, colour, p);
    if (index == kNoLeaf) return -1;
    const TRunCode& e = table.entry[colour][index];
    if (e.run < 0) return -1;
    sum += e.run;
    p += e.length;
    if (index < 64) return sum;
  }
}

// Decoder-polarity colour search on the reference row; position -1 is white.
int64_t FindColour(const uint8_t* ref, int64_t x, int colour, int width) {
  if (x < 0) {
    if (colour == kWhite) return -1;
    x = 0;
  }
  return FindBit(ref, x, width, colour == kWhite ? 1 : 0);
}

int64_t Decode2D(uint8_t* work, const TBitSource& src, bool skipFill, int64_t p, uint8_t* ref, int width) {
  std::memset(work, 0xFF, size_t(RowBytes(width)));
  const int64_t start = p;
  const int64_t total = src.Bits();
  int64_t a0 = -1;
  int colour = kWhite;
  while (a0 < width && p < total) {
    // b1: the first changing element of the reference row right of a0 whose colour is opposite to
    // a0's; b2: the next changing element after it.
    const int64_t from = a0 < -1 ? -1 : a0;
    const int64_t x = FindColour(ref, from, colour, width);
    const int64_t b1 = x >= width ? width : FindColour(ref, x + 1, colour ^ 1, width);
    const int64_t b2 = b1 >= width ? width : FindColour(ref, b1 + 1, colour, width);

    const int64_t codeStart = p;
    int mode = LookupMode(src, p);
    p += kModes[mode].length;
    if (mode == kModeFill) {
      if (!skipFill) continue;
      while (p < total && src.Bit(p) == 0) ++p;
      if (p < total) ++p;  // the one bit that ends the end of line
      mode = kModeEOL;
    }
    switch (mode) {
      case kModePass:
        if (colour == kBlack) PaintBlack(work, a0, b2, width);
        a0 = b2;
        break;
      case kModeHorizontal: {
        if (a0 < 0) a0 = 0;
        const int64_t run1 = ReadRun(src, colour, p);
        if (run1 < 0) break;
        const int64_t run2 = ReadRun(src, colour ^ 1, p);
        if (run2 < 0) break;
        const int64_t r1 = run1 < width - a0 ? run1 : width - a0;
        if (colour == kBlack) PaintBlack(work, a0, a0 + r1, width);
        a0 += r1;
        const int64_t r2 = run2 < width - a0 ? run2 : width - a0;
        if (colour == kWhite) PaintBlack(work, a0, a0 + r2, width);
        a0 += r2;
        break;
      }
      case kModeEOL:
        if (codeStart == start) {
          const int tag = src.Bit(p);
          ++p;
          if (tag == 1) {
            p = Decode1D(work, src, p, width);
            a0 = width;  // the row is complete
          }
          break;
        }
        if (colour == kBlack) PaintBlack(work, a0, width, width);
        p = codeStart;  // the next row meets this end of line at its start
        a0 = width;
        break;
      case kModeUncompressed2D:
      case kModeUncompressed1D: {
        if (a0 < 0) a0 = 0;
        while (a0 < width && p < total) {
          int n = 0;
          for (int k = 1; k <= 11; ++k) {
            if (src.Bit(p + k - 1) == 1) {
              n = k;
              break;
            }
          }
          if (n == 0) {  // no one bit within 11 bits: the mode ends
            p += 11;
            break;
          }
          p += n;
          if (n <= 5) {
            a0 += n - 1;
            PaintBlack(work, a0, a0 + 1, width);
            a0 += 1;
          } else if (n == 6) {
            a0 += 5;
          } else {
            a0 += n - 7;
            colour = src.Bit(p) ? kBlack : kWhite;
            ++p;
            break;
          }
        }
        break;
      }
      default: {  // vertical modes
        const int64_t a1 = b1 + (mode - kModeV0);
        if (colour == kBlack) PaintBlack(work, a0, a1, width);
        a0 = a1;
        colour ^= 1;
        break;
      }
    }
  }
  std::memcpy(ref, work, size_t(RowBytes(width)));
  return p;
}

int64_t ClampBits(int64_t p, int64_t length) {
  const int64_t total = (length < 0 ? 0 : length) * 8;
  return p > total ? total : p;
}

// ---- Encoding ----

// Collects the bits of one row in stream order, starting from the carry's partial byte. Codes gather
// in an accumulator most significant bit first; a byte leaving it is reversed for fill order 2.
class TBitSink {
 public:
  TBitSink(int fillOrder, int pendingBits, uint8_t pendingByte) : lsbFirst_(fillOrder == 2) {
    bytes_.reserve(256);
    if (pendingBits > 0) {
      bits_ = pendingBits & 7;
      acc_ = uint32_t(lsbFirst_ ? IEReverseBitsTable[pendingByte] : pendingByte) >> (8 - bits_);
    }
  }
  // The low n bits of code (n at most 24).
  void Put(uint32_t code, int n) {
    acc_ = (acc_ << n) | (code & ((1u << n) - 1));
    bits_ += n;
    while (bits_ >= 8) {
      bits_ -= 8;
      Emit(uint8_t(acc_ >> bits_));
    }
  }
  void PadToByte() {
    if (bits_ > 0) Emit(PartialByte());
    bits_ = 0;
  }
  // Writes the whole bytes; the partial one goes to the carry (or out, when writeAll).
  void Flush(TIEStream& stream, std::atomic<bool>& aborting, int& pendingBits, uint8_t& pendingByte, bool writeAll) {
    if (writeAll) PadToByte();
    if (!bytes_.empty()) IEStreamWriteCheck(stream, aborting, bytes_.data(), int32_t(bytes_.size()));
    pendingBits = bits_;
    pendingByte = bits_ > 0 ? StreamOrder(PartialByte()) : 0;
  }

 private:
  uint8_t StreamOrder(uint8_t b) const { return lsbFirst_ ? IEReverseBitsTable[b] : b; }
  uint8_t PartialByte() const { return uint8_t(acc_ << (8 - bits_)); }
  void Emit(uint8_t b) { bytes_.push_back(StreamOrder(b)); }

  std::vector<uint8_t> bytes_;
  uint32_t acc_ = 0;  // the low bits_ bits are the partial byte, most significant first
  int bits_ = 0;      // 0..7 between codes
  bool lsbFirst_;
};

constexpr uint32_t kEOLCode = 1;
constexpr int kEOLLength = 12;

void PutRun(TBitSink& sink, int colour, int64_t n) {
  const TRunCode* e = RunTable().entry[colour];
  while (n >= 64) {
    const int64_t makeUp = n <= kMaxMakeUp ? (n / 64) * 64 : kMaxMakeUp;
    const TRunCode& c = e[63 + makeUp / 64];
    sink.Put(c.code, c.length);
    n -= makeUp;
  }
  sink.Put(e[n].code, e[n].length);
}

// Encoder rows: black is bit 1; outside the row is white.
inline int Pixel(const uint8_t* row, int64_t x, int width) {
  return x < 0 || x >= width ? 0 : RowBit(row, x);
}

void Encode1D(TBitSink& sink, const uint8_t* row, int width) {
  int64_t a0 = 0;
  int colour = kWhite;
  while (a0 < width) {
    const int64_t next = FindBit(row, a0, width, colour == kWhite ? 1 : 0);
    PutRun(sink, colour, next - a0);
    a0 = next;
    colour ^= 1;
  }
}

void Encode2D(TBitSink& sink, const uint8_t* row, const uint8_t* ref, int width) {
  int64_t a0 = 0;
  int64_t a1 = Pixel(row, 0, width) ? 0 : FindBit(row, 0, width, 1);
  int64_t b1 = Pixel(ref, 0, width) ? 0 : FindBit(ref, 0, width, 1);
  for (;;) {
    const int b1Colour = Pixel(ref, b1, width);
    const int64_t b2 = b1 >= width ? width : FindBit(ref, b1 + 1, width, b1Colour ^ 1);
    if (b2 < a1) {
      sink.Put(0x1, 4);  // pass
      a0 = b2;
    } else {
      const int64_t d = b1 - a1;
      if (d >= -3 && d <= 3) {
        // Vertical: a1 right of b1 (d < 0) is VR, left of it VL.
        static const TModeCode kVertical[7] = {{7, 0x03}, {6, 0x03}, {3, 0x3}, {1, 0x1},
                                               {3, 0x2},  {6, 0x02}, {7, 0x02}};
        const TModeCode& m = kVertical[d + 3];
        sink.Put(m.code, m.length);
        a0 = a1;
      } else {
        const int a1Colour = Pixel(row, a1, width);
        const int64_t a2 = a1 >= width ? width : FindBit(row, a1 + 1, width, a1Colour ^ 1);
        sink.Put(0x1, 3);  // horizontal
        if (a0 + a1 == 0 || Pixel(row, a0, width) == kWhite) {
          PutRun(sink, kWhite, a1 - a0);
          PutRun(sink, kBlack, a2 - a1);
        } else {
          PutRun(sink, kBlack, a1 - a0);
          PutRun(sink, kWhite, a2 - a1);
        }
        a0 = a2;
      }
    }
    if (a0 >= width) break;
    const int k = Pixel(row, a0, width);
    a1 = FindBit(row, a0 + 1, width, k ^ 1);
    const int64_t x = FindBit(ref, a0, width, k);
    b1 = x >= width ? width : FindBit(ref, x + 1, width, k ^ 1);
  }
}

void KeepReference(TIECCITTEncoderCarry& carry, const uint8_t* row, int width) {
  carry.reference.assign(size_t((int64_t(width) + 31) / 32 * 4), 0);
  std::memcpy(carry.reference.data(), row, size_t(RowBytes(width)));
}

}  // namespace

void IECCITTStaticInit() {
  for (int colour : {kWhite, kBlack}) {
    BuildTree(colour);
    BuildFastSteps(colour);
  }
}

void IECCITTStaticFini() {
  for (std::vector<TTreeNode>& tree : g_tree) std::vector<TTreeNode>().swap(tree);
}

int64_t IECCITTDecode1DRow(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int64_t bitPos,
                           int width) {
  if (width <= 0) return ClampBits(bitPos, length);
  const TBitSource src(data, length, fillOrder);
  return ClampBits(Decode1D(row, src, bitPos, width), length);
}

int64_t IECCITTDecodeMHRow(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int width) {
  return (IECCITTDecode1DRow(row, data, length, fillOrder, 0, width) + 7) / 8;
}

int64_t IECCITTDecode2DRow(uint8_t* work, const uint8_t* data, int64_t length, bool skipFill, int fillOrder,
                           int64_t bitPos, uint8_t* reference, int width) {
  if (width <= 0) return ClampBits(bitPos, length);
  const TBitSource src(data, length, fillOrder);
  return ClampBits(Decode2D(work, src, skipFill, bitPos, reference, width), length);
}

void IECCITTEncodeMHRow(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting) {
  if (!row || width <= 0) return;
  TBitSink sink(fillOrder, 0, 0);
  Encode1D(sink, row, width);
  int bits = 0;
  uint8_t byte = 0;
  sink.Flush(stream, aborting, bits, byte, true);
}

void IECCITTEncode1DRow(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting,
                        TIECCITTEncoderCarry& carry) {
  if (!row || width <= 0) return;
  TBitSink sink(fillOrder, carry.pendingBits, carry.pendingByte);
  sink.Put(kEOLCode, kEOLLength);
  Encode1D(sink, row, width);
  sink.Flush(stream, aborting, carry.pendingBits, carry.pendingByte, false);
}

void IECCITTEncodeT4Row(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting,
                        TIECCITTEncoderCarry& carry) {
  TBitSink sink(fillOrder, carry.pendingBits, carry.pendingByte);
  if (!row || width <= 0) {
    if (carry.reference.empty()) return;
    sink.Put(kEOLCode, kEOLLength);
    std::vector<uint8_t>().swap(carry.reference);
  } else if (carry.reference.empty()) {
    sink.Put((kEOLCode << 1) | 1, kEOLLength + 1);
    Encode1D(sink, row, width);
    KeepReference(carry, row, width);
  } else {
    sink.Put(kEOLCode << 1, kEOLLength + 1);
    Encode2D(sink, row, carry.reference.data(), width);
    KeepReference(carry, row, width);
  }
  sink.Flush(stream, aborting, carry.pendingBits, carry.pendingByte, false);
}

void IECCITTEncodeT6Row(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting,
                        TIECCITTEncoderCarry& carry) {
  TBitSink sink(fillOrder, carry.pendingBits, carry.pendingByte);
  if (!row || width <= 0) {
    sink.Put(kEOLCode, kEOLLength);
    sink.Put(kEOLCode, kEOLLength);
    sink.PadToByte();
    std::vector<uint8_t>().swap(carry.reference);
    sink.Flush(stream, aborting, carry.pendingBits, carry.pendingByte, true);
    return;
  }
  if (carry.reference.empty()) carry.reference.assign(size_t((int64_t(width) + 31) / 32 * 4), 0);
  Encode2D(sink, row, carry.reference.data(), width);
  KeepReference(carry, row, width);
  sink.Flush(stream, aborting, carry.pendingBits, carry.pendingByte, false);
}
