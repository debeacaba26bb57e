// The one PackBits decoder the TIFF, PSD and DICOM readers share: hand-worked records, including the
// damaged ones each reader used to treat on its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "iepackbits.h"

namespace {

struct Case {
  const char* what;
  std::vector<uint8_t> packed;
  size_t outSize;
  std::vector<uint8_t> expected;  // the whole output buffer, pre-filled with 0xEE
  size_t written;
};

const uint8_t E = 0xEE;

const Case kCases[] = {
    {"literal and replicate", {2, 'a', 'b', 'c', 0xFD, 'x'}, 7, {'a', 'b', 'c', 'x', 'x', 'x', 'x'}, 7},
    {"-128 is skipped", {0x80, 0, 'q', 0x80}, 2, {'q', E}, 1},
    {"replicate cut at the output's end", {0x81, 'z', 0, 'n'}, 3, {'z', 'z', 'z'}, 3},
    {"literal cut at the output's end", {4, 1, 2, 3, 4, 5, 0xFF, 9}, 2, {1, 2}, 2},
    {"literal cut by the data's end keeps its bytes", {5, 1, 2}, 4, {1, 2, E, E}, 2},
    {"replicate header without its byte", {1, 7, 8, 0xFE}, 4, {7, 8, E, E}, 2},
    {"no data", {}, 2, {E, E}, 0},
};

TEST(PackBits, DecodesWithinBothBounds) {
  for (const Case& c : kCases) {
    std::vector<uint8_t> out(c.outSize + 4, E);  // the tail shows any write past outSize
    const size_t n = IEUnpackBits(c.packed.data(), c.packed.size(), out.data(), c.outSize);
    EXPECT_EQ(n, c.written) << c.what;
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + c.outSize), c.expected) << c.what;
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + c.outSize, out.end()), std::vector<uint8_t>(4, E)) << c.what;
  }
}

TEST(PackBits, EncodedRowsDecodeToThemselves) {
  // runs of every length around the record limits, between literals that reach it
  std::vector<uint8_t> row;
  for (int run : {1, 2, 3, 4, 5, 127, 128, 129, 300}) row.insert(row.end(), size_t(run), uint8_t(run));
  for (int i = 0; i < 260; ++i) row.push_back(uint8_t(i * 7));
  std::vector<uint8_t> packed = {0x11};  // encoding appends
  IEPackBitsEncodeRow(row.data(), int(row.size()), packed);
  ASSERT_EQ(packed[0], 0x11);
  std::vector<uint8_t> back(row.size());
  EXPECT_EQ(IEUnpackBits(packed.data() + 1, packed.size() - 1, back.data(), back.size()), row.size());
  EXPECT_EQ(back, row);
}

}  // namespace
