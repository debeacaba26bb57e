#include "ietagshandler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

struct Builder {
  Bytes b;
  bool be;
  explicit Builder(bool bigEndian) : be(bigEndian) {}
  void Raw(const char* s, size_t n) { b.insert(b.end(), s, s + n); }
  void U16(uint16_t v) {
    if (be) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); }
    else { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
  }
  void U32(uint32_t v) {
    if (be) { U16(uint16_t(v >> 16)); U16(uint16_t(v)); } else { U16(uint16_t(v)); U16(uint16_t(v >> 16)); }
  }
  void Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) { U16(tag); U16(type); U32(count); U32(value); }
};

// Nikon type 2: signature, embedded big-endian TIFF header, offsets from that header.
Bytes NikonNote() {
  Builder n(true);
  n.Raw("Nikon\0\x02\x10\0\0", 10);
  n.Raw("MM\0\x2A\0\0\0\x08", 8);
  n.U16(2);
  n.Entry(0x0002, 3, 2, 0x000000C8);  // two SHORTs inline
  n.Entry(0x0010, 7, 8, 8 + 2 + 24 + 4);
  n.U32(0);
  n.Raw("ABCDEFGH", 8);
  return n.b;
}

// FUJIFILM: signature, little-endian directory offset 12, offsets from the note's start.
Bytes FujiNote() {
  Builder n(false);
  n.Raw("FUJIFILM", 8);
  n.U32(12);
  n.U16(1);
  n.Entry(0x1000, 2, 8, 12 + 2 + 12 + 4);
  n.U32(0);
  n.Raw("NORMAL \0", 8);
  return n.b;
}

Bytes Write(TIETagsHandler& h, int32_t* written = nullptr, int64_t at = 0) {
  TIEMemoryStream s;
  Bytes pad(size_t(at), 0xEE);
  if (at) s.WriteBuffer(pad.data(), int32_t(at));
  int32_t n = h.WriteToStream(s);
  if (written) *written = n;
  const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
  return Bytes(p + at, p + s.GetSize());
}

bool ReadNote(TIETagsHandler& h, const Bytes& note, bool le = true) {
  TIEMemStream s(note.data(), int64_t(note.size()));
  return h.ReadFromStream(s, int32_t(note.size()), le);
}

const uint8_t* Block(TIETagsHandler& h, int i) {
  return static_cast<const uint8_t*>(h.InternalStream().Memory()) + h.Entry(i).Value;
}
}  // namespace

TEST(IETagsHandler, KnownLayoutsRoundTripByteForByte) {
  struct Case { const char* name; Bytes note; int entries; uint16_t tag; const char* value; } const kCases[] = {
      {"Nikon type 2", NikonNote(), 2, 0x0010, "ABCDEFGH"},
      {"FUJIFILM", FujiNote(), 1, 0x1000, "NORMAL "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TIETagsHandler h;
    ASSERT_TRUE(ReadNote(h, c.note));
    ASSERT_EQ(h.EntriesCount(), c.entries);
    const int last = c.entries - 1;
    EXPECT_EQ(h.Entry(last).Tag, c.tag);  // big-endian entries of the Nikon note read as such
    EXPECT_EQ(std::memcmp(Block(h, last), c.value, std::strlen(c.value)), 0);
    int32_t n = 0;
    Bytes out = Write(h, &n, 0);
    EXPECT_EQ(n, int32_t(c.note.size()));
    EXPECT_EQ(out, c.note);

    TIETagsHandler copy;
    copy.Assign(&h);
    EXPECT_EQ(copy.EntriesCount(), c.entries);
    EXPECT_EQ(Write(copy), c.note);
  }
}

TEST(IETagsHandler, OffsetsFromTheTIFFDataAndBrokenBlocks) {
  // A note without signature at stream position 100 of its TIFF data; offsets count from 0.
  Builder tiff(false);
  tiff.b.assign(100, 0);
  tiff.U16(3);
  const uint32_t data = 100 + 2 + 36 + 4;
  tiff.Entry(1, 12, 2, data);        // two DOUBLEs: 16 bytes
  tiff.Entry(2, 7, 8, data + 12);    // starts inside the note, ends past it
  tiff.Entry(3, 4, 1, 77);
  tiff.U32(0);
  for (int i = 0; i < 16; ++i) tiff.b.push_back(uint8_t(i + 1));
  TIEMemStream s(tiff.b.data(), int64_t(tiff.b.size()));
  s.SetPosition(100);
  TIETagsHandler h;
  ASSERT_TRUE(h.ReadFromStream(s, int32_t(tiff.b.size() - 100), true));
  ASSERT_EQ(h.EntriesCount(), 3);
  EXPECT_EQ(h.Entry(0).Count, 2u);
  EXPECT_EQ(h.InternalStream().GetSize(), 2 + 36 + 16);
  EXPECT_EQ(Block(h, 0)[15], 16);
  EXPECT_EQ(h.Entry(1).Count, 0u);
  EXPECT_EQ(h.Entry(1).Value, 0u);
  EXPECT_EQ(h.Entry(2).Value, 77u);

  // Written at position 40 of a new TIFF, its value offsets count from that stream's start.
  Bytes out = Write(h, nullptr, 40);
  ASSERT_EQ(out.size(), 2u + 36 + 4 + 16);
  EXPECT_EQ(IEReadU32LE(&out[2 + 8]), 40u + 42);
  EXPECT_EQ(out[42 + 15], 16);
}

TEST(IETagsHandler, RefusedNotesLeaveNothing) {
  Builder many(false);
  many.U16(257);
  many.b.resize(2 + 12 * 257 + 4, 0);
  Builder shortDir(false);
  shortDir.Raw("FUJIFILM", 8);
  shortDir.U32(40);  // the directory at 40: its entries would end past the note
  shortDir.b.resize(50, 0);
  shortDir.b[40] = 2;
  struct Case { const char* name; Bytes note; } const kCases[] = {
      {"more than 256 entries", many.b}, {"entries counted from the directory", shortDir.b}, {"one byte", {1}}};
  for (const Case& c : kCases) {
    TIETagsHandler h;
    EXPECT_FALSE(ReadNote(h, c.note)) << c.name;
    EXPECT_EQ(h.EntriesCount(), 0) << c.name;
    EXPECT_EQ(Write(h).size(), 0u) << c.name;
  }

  // A note that would be longer than a maker note may be is not written, and leaves no bytes.
  Builder big(false);
  big.U16(1);
  big.Entry(9, 7, 70000, 2 + 12 + 4);
  big.U32(0);
  big.b.resize(big.b.size() + 70000, 'x');
  TIETagsHandler h;
  ASSERT_TRUE(ReadNote(h, big.b));
  int32_t n = -1;
  EXPECT_EQ(Write(h, &n).size(), 0u);
  EXPECT_EQ(n, 0);
}

TEST(IETagsHandler, MutatedNotesStayBounded) {
  std::mt19937 rng(37500);
  for (int round = 0; round < 600; ++round) {
    Bytes b = round % 2 ? NikonNote() : FujiNote();
    if (round % 3 == 0) b.resize(1 + rng() % b.size());
    for (int k = 0; k < 4; ++k) b[rng() % b.size()] = uint8_t(rng() % 2 ? rng() : 0xFF);
    TIETagsHandler h;
    if (ReadNote(h, b, round % 5 != 0)) {
      EXPECT_LE(h.InternalStream().GetSize(), int64_t(2 + 12 * 256 + b.size()));
      Bytes out = Write(h);
      EXPECT_LE(out.size(), size_t(TIETagsHandler::kMaxWrittenNote));
    }
  }
}
