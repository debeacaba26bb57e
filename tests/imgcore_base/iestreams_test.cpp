#include "iestreams.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "hostenv.h"

namespace {

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + (i >> 8));
  return v;
}

// A destination that takes at most `limit` bytes in all, like a full disk.
class LimitedStream : public TIEMemoryStream {
 public:
  explicit LimitedStream(int64_t limit) : limit_(limit) {}
  int32_t Write(const void* b, int32_t count) override {
    int32_t n = int32_t(std::min<int64_t>(count, std::max<int64_t>(0, limit_ - GetSize())));
    return n > 0 ? TIEMemoryStream::Write(b, n) : 0;
  }

 private:
  int64_t limit_;
};

}  // namespace

TEST(IEStreams, NulStreamCountsAndSeeksBackFromEnd) {
  TNulStream s;
  EXPECT_EQ(s.Write(nullptr, 10), 10);
  EXPECT_EQ(s.Seek(4, soFromBeginning), 4);
  s.Write(nullptr, 10);
  EXPECT_EQ(s.GetPosition(), 14);
  EXPECT_EQ(s.GetSize(), 14);
  EXPECT_EQ(s.Seek(4, soFromEnd), 10);  // counted backwards from the end
  EXPECT_EQ(s.Seek(30, soFromBeginning), 30);
  EXPECT_EQ(s.GetSize(), 30);  // seeking past the end grows the count
  EXPECT_EQ(IESeekTargetBackFromEnd(100, 4), 96);
}

TEST(IEStreams, MemoryStreamsAndWriteCheck) {
  TIEMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  EXPECT_EQ(m.Seek(-2, soFromEnd), 4);  // platform streams add the offset to the end
  char c[3] = {0};
  EXPECT_EQ(m.Read(c, 3), 2);
  EXPECT_STREQ(c, "ef");
  m.Seek(10, soFromBeginning);
  m.WriteBuffer("x", 1);
  EXPECT_EQ(m.GetSize(), 11);
  EXPECT_EQ(static_cast<uint8_t*>(m.Memory())[8], 0);  // the gap is zero-filled

  uint8_t block[4] = {1, 2, 3, 4};
  TIEMemStream view(block, 4);
  EXPECT_EQ(view.Write("zz", 2), 0);
  view.SetSize(100);
  EXPECT_EQ(view.GetSize(), 4);
  EXPECT_EQ(block[0], 1);
  std::atomic<bool> abort{false};
  IEStreamWriteCheck(view, abort, "zz", 2);
  EXPECT_TRUE(abort);
  uint8_t r[4];
  view.SetPosition(0);
  EXPECT_EQ(view.Read(r, 4), 4);
  EXPECT_EQ(r[3], 4);

  LimitedStream full(5);
  abort = false;
  IEStreamWriteCheck(full, abort, "abc", 3);
  EXPECT_FALSE(abort);
  IEStreamWriteCheck(full, abort, "abc", 3);  // only 2 fit
  EXPECT_TRUE(abort);
  IEStreamWriteCheck(full, abort, "", 0);
  EXPECT_TRUE(abort);  // never cleared again
  EXPECT_THROW(full.WriteBuffer("a", 1), EWriteError);
}

TEST(IEStreams, BufferedReadAcrossBufferBoundaries) {
  const std::vector<uint8_t> data = Pattern(1000);
  TIEMemStream src(data.data(), int64_t(data.size()));
  const int32_t kSteps[] = {1, 7, 16, 33, 200};
  for (int32_t step : kSteps) {
    src.SetPosition(0);
    TIEBufferedReadStream br(src, 16, false);
    std::vector<uint8_t> got;
    std::vector<uint8_t> buf(size_t(step) + 1);
    for (;;) {
      int32_t n = br.Read(buf.data(), step);
      got.insert(got.end(), buf.begin(), buf.begin() + n);
      if (n < step) break;
    }
    EXPECT_TRUE(br.EndOfData());
    EXPECT_EQ(got, data) << "step " << step;
  }
}

TEST(IEStreams, BufferedReadPositionsAndEnd) {
  const std::vector<uint8_t> data = Pattern(300);
  TIEMemStream src(data.data(), 300);
  src.SetPosition(100);
  TIEBufferedReadStream rel(src, 64, true);
  EXPECT_EQ(rel.GetPosition(), 0);
  uint8_t b = 0;
  EXPECT_EQ(rel.Seek(0, soFromBeginning), 0);
  EXPECT_EQ(rel.Read(&b, 1), 1);
  EXPECT_EQ(b, data[100]);
  EXPECT_EQ(rel.Seek(150, soFromBeginning), 150);  // outside the buffer: refilled
  EXPECT_EQ(rel.Read(&b, 1), 1);
  EXPECT_EQ(b, data[250]);
  EXPECT_EQ(rel.Seek(-10, soFromCurrent), 141);  // back inside the buffer
  EXPECT_EQ(rel.Read(&b, 1), 1);
  EXPECT_EQ(b, data[241]);

  src.SetPosition(0);
  TIEBufferedReadStream br(src, 32, false);
  uint8_t buf[10];
  br.Seek(296, soFromBeginning);
  EXPECT_EQ(br.Read(buf, 10), 4);
  EXPECT_TRUE(br.EndOfData());
  EXPECT_EQ(buf[3], data[299]);
  EXPECT_EQ(br.Read(buf, 1), 0);
  EXPECT_EQ(br.Seek(-5, soFromBeginning), 0);
  EXPECT_FALSE(br.EndOfData());
  EXPECT_EQ(br.Seek(5000, soFromBeginning), 300);
  EXPECT_TRUE(br.EndOfData());
  // From the end the offset counts backwards (size - offset), unlike the platform streams.
  EXPECT_EQ(br.Seek(4, soFromEnd), 296);
  EXPECT_EQ(br.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], data[296]);
  EXPECT_THROW(br.Write(buf, 1), EIEError);
}

TEST(IEStreams, WideFileStreamWithNameOutsideCodePage) {
  // Japanese and Cyrillic letters: not in the Western code page wine's tests run with.
  const std::wstring name = IEAnsiToWide(tq::WorkDir()) + L"\\\x65E5\x672C-\x0436\x0444.bin";
  const std::vector<uint8_t> data = Pattern(5000);
  {
    TIEWideFileStream f(name, fmCreate);
    f.WriteBuffer(data.data(), int32_t(data.size()));
    EXPECT_EQ(f.GetSize(), 5000);
  }
  {
    TIEWideFileStream f(name, fmOpenRead | fmShareDenyWrite);
    std::vector<uint8_t> back(5000);
    f.ReadBuffer(back.data(), 5000);
    EXPECT_EQ(back, data);
    EXPECT_EQ(f.Seek(-1, soFromEnd), 4999);
    EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);  // opened for reading only
  }
  EXPECT_NE(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);
  // A file of that name exists; a mode with share bits above 0x40 is refused before any file access.
  try {
    TIEWideFileStream bad(name, 0x50);
    FAIL() << "mode 0x50 opened";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \""), std::string::npos);
  }
  EXPECT_THROW(TIEWideFileStream(name, 3), EFOpenError);
  const std::wstring missing = IEAnsiToWide(tq::WorkDir()) + L"\\no-such-dir\\x.bin";
  EXPECT_THROW(TIEWideFileStream(missing, fmCreate), EFCreateError);
  EXPECT_THROW(TIEWideFileStream(missing, fmOpenRead), EFOpenError);
  DeleteFileW(name.c_str());
}

TEST(IEStreams, AnsiStringsAndLines) {
  TIEMemoryStream m;
  IEWriteAnsiString(m, "");
  ASSERT_EQ(m.GetSize(), 4);
  EXPECT_EQ(0, memcmp(m.Memory(), "\0\0\0\0", 4));
  IEWriteAnsiString(m, "hello");
  IEWriteLineCRLF(m, "a");
  IEWriteLineLF(m, "b");
  IEWriteText(m, "c");
  m.SetPosition(0);
  std::string s = "x";
  EXPECT_TRUE(IEReadAnsiString(m, s));
  EXPECT_EQ(s, "");
  EXPECT_TRUE(IEReadAnsiString(m, s));
  EXPECT_EQ(s, "hello");
  char tail[6];
  m.ReadBuffer(tail, 6);
  EXPECT_EQ(std::string(tail, 6), "a\r\nb\nc");

  // Hostile lengths are refused, not trusted.
  const uint8_t huge[] = {0xFF, 0xFF, 0xFF, 0x7F, 'a'};
  const uint8_t negative[] = {0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t shortLen[] = {3, 0};
  for (auto& blk : {std::vector<uint8_t>(huge, huge + 5), std::vector<uint8_t>(negative, negative + 4),
                    std::vector<uint8_t>(shortLen, shortLen + 2)}) {
    TIEMemStream in(blk.data(), int64_t(blk.size()));
    EXPECT_FALSE(IEReadAnsiString(in, s));
    EXPECT_EQ(s, "");
  }
}

TEST(IEStreams, CopyStream) {
  const std::vector<uint8_t> data = Pattern(10);
  struct Case { int64_t startPos, count, copied; } const kCases[] = {{5, 0, 10}, {5, 20, 5}, {2, 3, 3}, {10, 4, 0}};
  for (const Case& c : kCases) {
    TIEMemStream src(data.data(), 10);
    src.SetPosition(c.startPos);
    TIEMemoryStream dst;
    EXPECT_EQ(IECopyStream(dst, src, c.count), c.copied);
    ASSERT_EQ(dst.GetSize(), c.copied);
    int64_t from = c.count == 0 ? 0 : c.startPos;
    EXPECT_EQ(0, memcmp(dst.Memory(), data.data() + from, size_t(c.copied)));
  }
  // A short transfer raises.
  const std::vector<uint8_t> big = Pattern(100);
  TIEMemStream src(big.data(), 100);
  LimitedStream dst(50);
  EXPECT_THROW(IECopyStream(dst, src, 0), EWriteError);
}

// A TIFF header inside the first 128 KB after the position: either byte order, the three magics,
// and a first-directory offset inside the stream; the position is left where it was.
TEST(IEStreams, FindTIFFHeader) {
  struct Case {
    const char* what;
    std::vector<uint8_t> head;  // put at `at`, in a stream of `size` zero bytes
    size_t at, size, start;
    int64_t expected;
  };
  const std::vector<uint8_t> ii = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const Case cases[] = {
      {"at 12", ii, 12, 100, 0, 12},
      {"counted from the position", ii, 12, 100, 5, 7},
      {"ORF magic", {'I', 'I', 'R', 'O', 8, 0, 0, 0}, 3, 100, 0, 3},
      {"an unknown magic", {'I', 'I', 'U', 0, 8, 0, 0, 0}, 3, 100, 0, -1},
      {"0x5352", {'I', 'I', 'R', 'S', 8, 0, 0, 0}, 3, 100, 0, 3},
      {"big-endian", {'M', 'M', 0, 42, 0, 0, 0, 8}, 40, 100, 0, 40},
      {"big-endian 0x4F52", {'M', 'M', 'O', 'R', 0, 0, 0, 8}, 40, 100, 0, 40},
      {"directory past the end", {'I', 'I', 42, 0, 100, 0, 0, 0}, 12, 100, 0, -1},
      {"a 10-byte stream looks at offsets 0 to 2 only", ii, 3, 10, 0, -1},
      {"past 128 KB", ii, 0x20000, 0x20100, 0, -1},
      {"just inside 128 KB", ii, 0x20000 - 8, 0x20100, 0, 0x20000 - 8},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> d(c.size, 0);
    for (size_t i = 0; i < c.head.size() && c.at + i < d.size(); ++i) d[c.at + i] = c.head[i];
    TIEMemStream s(d.data(), int64_t(d.size()));
    s.SetPosition(int64_t(c.start));
    EXPECT_EQ(IEFindTIFFHeader(s), c.expected) << c.what;
    EXPECT_EQ(s.GetPosition(), int64_t(c.start)) << c.what;
  }
}
