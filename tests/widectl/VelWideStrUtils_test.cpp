// Zero-terminated wide buffers.
#include <cstdint>
#include <new>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "VelWideStrUtils.h"

TEST(VelWideStrUtils, AllocatedBuffersRecordTheirSize) {
  wchar_t* b = WideStrAllocBuffer(10);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(WideStrBufferSize(b), 24u);  // 2 x 10 + the 4-byte header
  WideStrFreeBuffer(b);
  WideStrFreeBuffer(nullptr);
  EXPECT_THROW(WideStrAllocBuffer(size_t(0x80000000u)), std::bad_alloc);  // would not fit the header
}

TEST(VelWideStrUtils, DuplicateLengthEndAndCopy) {
  EXPECT_EQ(WideStrDuplicate(nullptr), nullptr);
  wchar_t* d = WideStrDuplicate(L"ab\u263A");
  EXPECT_STREQ(d, L"ab\u263A");
  EXPECT_EQ(WideStrBufferSize(d), 2u * 4 + 4);
  EXPECT_EQ(WideStrLength(d), 3u);
  EXPECT_EQ(WideStrEndPointer(d), d + 3);
  WideStrFreeBuffer(d);

  wchar_t out[8];
  std::wmemset(out, L'x', 8);
  EXPECT_EQ(WideStrLCopy(out, L"abcdef", 3), out);
  EXPECT_STREQ(out, L"abc");
  std::wmemset(out, L'x', 8);
  EXPECT_STREQ(WideStrLCopy(out, L"ab", 5), L"ab");
  EXPECT_EQ(out[3], L'x');
  EXPECT_STREQ(WideStrCopyFromString(out, L"hello"), L"hello");
}

TEST(VelWideStrUtils, MoveOverlapsBothWays) {
  wchar_t s[] = L"abcdef";
  WideStrMoveChars(s + 2, s, 3);
  EXPECT_STREQ(s, L"ababcf");
  WideStrMoveChars(s, s + 1, 4);
  EXPECT_STREQ(s, L"babccf");
}

TEST(VelWideStrUtils, ScanAndLastChar) {
  const wchar_t* s = L"a\\b\\";
  EXPECT_EQ(WideStrScan(s, L'\\'), s + 1);
  EXPECT_EQ(WideStrScan(s, L'z'), nullptr);
  EXPECT_EQ(WideStrScan(s, 0), s + 4);  // the terminator takes part
  std::wstring t = L"xyz";
  ASSERT_NE(WideLastChar(t), nullptr);
  EXPECT_EQ(*WideLastChar(t), L'z');
  std::wstring empty;
  EXPECT_EQ(WideLastChar(empty), nullptr);
}
