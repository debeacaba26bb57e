// Bit runs between 1-bit rows and the 1-to-24-bit expansion table.
#include <gtest/gtest.h>

#include <vector>

#include "iedibroutines.h"

namespace {

TEST(CopyBits, RunsKeepTheDestinationAround) {
  uint8_t dst[2] = {0xFF, 0xFF}, src[2] = {0x00, 0x00};
  IECopyBits(dst, src, 6, 0, 3, 2);
  EXPECT_EQ(dst[0], 0xFC);
  EXPECT_EQ(dst[1], 0x7F);
}

TEST(CopyBits, AgreesWithOneByOneOnEveryOffset) {
  const uint8_t src[4] = {0xA5, 0x3C, 0xF0, 0x0F};
  for (int sb = 0; sb < 9; ++sb)
    for (int db = 0; db < 9; ++db)
      for (int n = 0; n <= 16; ++n) {
        uint8_t a[4] = {0x55, 0xAA, 0x55, 0xAA}, b[4] = {0x55, 0xAA, 0x55, 0xAA};
        IECopyBits(a, src, db, sb, n, 4);
        IECopyBitsOneByOne(b, src, db, sb, n, 0);
        ASSERT_EQ(std::vector<uint8_t>(a, a + 4), std::vector<uint8_t>(b, b + 4)) << sb << " " << db << " " << n;
      }
  uint8_t c[2] = {1, 2};
  IECopyBits(c, src, -1, 0, 4, 4);
  IECopyBits(c, src, 0, 0, 0, 4);
  EXPECT_EQ(c[0], 1);
}

TEST(CopyBits, NeverReadsPastTheSource) {
  const uint8_t src[1] = {0xFF};
  uint8_t dst[4] = {};
  IECopyBits(dst, src, 0, 4, 100, 1);  // only the four bits left in the source
  EXPECT_EQ(dst[0], 0xF0);
  EXPECT_EQ(dst[1], 0);
}

TEST(ExpandTable, BytesToPixels) {
  IEProcBuildExpandTable();
  EXPECT_EQ(IEProcExpandTable[0x80][0], 255);
  EXPECT_EQ(IEProcExpandTable[0x80][3], 0);
  EXPECT_EQ(IEProcExpandTable[0x01][23], 255);
  EXPECT_EQ(IEProcExpandTable[0x01][20], 0);
}

}  // namespace
