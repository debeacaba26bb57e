#include "iezlib.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "hostenv.h"

namespace {

std::vector<uint8_t> Sample(size_t n) {
  // Compressible but not trivial: text-like runs with noise, so several 64 KB buffers are moved.
  std::mt19937 rng(11);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (rng() % 8 == 0) ? uint8_t(rng()) : uint8_t('a' + (i / 13) % 26);
  return v;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, TZCompressionLevel level, TIEMemoryStream& dest) {
  TZCompressionStream z(dest, level);
  size_t done = 0;
  while (done < data.size()) {  // uneven pieces, as a row-by-row writer gives them
    int32_t n = int32_t(std::min<size_t>(data.size() - done, 777 + done % 5000));
    EXPECT_EQ(z.Write(data.data() + done, n), n);
    done += size_t(n);
  }
  EXPECT_EQ(z.GetPosition(), int64_t(data.size()));
  z.Finish();
  const uint8_t* p = static_cast<const uint8_t*>(dest.Memory());
  return std::vector<uint8_t>(p, p + dest.GetSize());
}

}  // namespace

TEST(IEZLib, RoundTripAtEveryLevelAgainstPlainZlib) {
  const std::vector<uint8_t> data = Sample(300000);
  for (TZCompressionLevel level : {zcNone, zcFastest, zcDefault, zcMax}) {
    TIEMemoryStream dest;
    std::vector<uint8_t> packed = Compress(data, level, dest);
    // zlib's own one-shot inflate reads what the stream wrote.
    std::vector<uint8_t> check(data.size());
    uLongf checkLen = uLongf(check.size());
    ASSERT_EQ(uncompress(check.data(), &checkLen, packed.data(), uLong(packed.size())), Z_OK);
    EXPECT_EQ(check, data);
    if (level == zcNone) {
      EXPECT_GT(packed.size(), data.size());
    }
    if (level == zcMax) {
      EXPECT_LT(packed.size(), data.size() / 2);
    }
    // And our decompression stream, in odd-sized reads.
    dest.SetPosition(0);
    TZDecompressionStream dz(dest);
    std::vector<uint8_t> back(data.size() + 10);
    size_t got = 0;
    for (;;) {
      int32_t n = dz.Read(back.data() + got, int32_t(std::min<size_t>(4099, back.size() - got)));
      got += size_t(n);
      if (n == 0) break;
    }
    back.resize(got);
    EXPECT_EQ(back, data);
    EXPECT_EQ(dz.GetPosition(), int64_t(data.size()));
  }
}

TEST(IEZLib, SourceLeftJustBehindTheCompressedData) {
  const std::vector<uint8_t> data = Sample(150000);
  TIEMemoryStream packed;
  Compress(data, zcDefault, packed);
  // A container: 100 bytes before, the compressed data, a trailer after.
  TIEMemoryStream box;
  std::vector<uint8_t> head(100, 0xEE);
  box.WriteBuffer(head.data(), 100);
  box.WriteBuffer(packed.Memory(), int32_t(packed.GetSize()));
  box.WriteBuffer("TAIL", 4);
  box.SetPosition(100);
  TZDecompressionStream dz(box);
  std::vector<uint8_t> back(data.size());
  dz.ReadBuffer(back.data(), int32_t(back.size()));
  uint8_t extra;
  EXPECT_EQ(dz.Read(&extra, 1), 0);
  EXPECT_EQ(back, data);
  EXPECT_EQ(box.GetPosition(), 100 + packed.GetSize());
  char tail[4];
  box.ReadBuffer(tail, 4);
  EXPECT_EQ(std::string(tail, 4), "TAIL");
  // Seeks: to the end gives the size; a rewind goes back to the data's start, not the container's.
  EXPECT_EQ(dz.Seek(0, soFromEnd), int64_t(data.size()));
  EXPECT_THROW(dz.Seek(10, soFromBeginning), EZDecompressionError);
  EXPECT_EQ(dz.Seek(0, soFromBeginning), 0);
  EXPECT_EQ(dz.Seek(0, soFromCurrent), 0);
  EXPECT_EQ(dz.Seek(20000, soFromBeginning), 20000);  // forward skip
  EXPECT_THROW(dz.Seek(20000, soFromBeginning), EZDecompressionError);  // not beyond total out
  EXPECT_EQ(dz.Seek(5, soFromCurrent), 20005);
  uint8_t b;
  dz.ReadBuffer(&b, 1);
  EXPECT_EQ(b, data[20005]);
  EXPECT_THROW(dz.Seek(-1, soFromCurrent), EZDecompressionError);
  EXPECT_THROW(dz.Seek(3, soFromEnd), EZDecompressionError);
  // A copy of a zlib stream takes the count as asked.
  dz.Seek(0, soFromBeginning);
  TIEMemoryStream copy;
  EXPECT_EQ(IECopyStream(copy, dz, 1000), 1000);
  EXPECT_EQ(0, memcmp(copy.Memory(), data.data(), 1000));
}

TEST(IEZLib, WrongDirectionAndCorruptData) {
  TIEMemoryStream m;
  {
    TZCompressionStream z(m, zcDefault);
    uint8_t b;
    try {
      z.Read(&b, 1);
      FAIL();
    } catch (const EZCompressionError& e) {
      EXPECT_STREQ(e.what(), "Invalid ZStream operation!");
    }
    z.Write("abc", 3);
  }  // the destructor finishes the data
  m.SetPosition(0);
  TZDecompressionStream dz(m);
  EXPECT_THROW(dz.Write("x", 1), EZDecompressionError);
  char abc[4] = {0};
  EXPECT_EQ(dz.Read(abc, 3), 3);
  EXPECT_STREQ(abc, "abc");

  // Corrupt deflate data ends in zlib's "data error", not a crash or a hang.
  const std::vector<uint8_t> data = Sample(50000);
  TIEMemoryStream packed;
  std::vector<uint8_t> good = Compress(data, zcDefault, packed);
  std::mt19937 rng(5);
  int errors = 0, shortReads = 0;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> bad = good;
    if (trial % 2) {
      bad.resize(rng() % bad.size());  // truncated: a short read, no exception
    } else {
      for (int k = 0; k < 4; ++k) bad[2 + rng() % (bad.size() - 2)] ^= uint8_t(1 + rng() % 255);
    }
    TIEMemStream src(bad.data(), int64_t(bad.size()));
    std::vector<uint8_t> out(data.size());
    try {
      TZDecompressionStream z(src);
      if (z.Read(out.data(), int32_t(out.size())) < int32_t(out.size())) ++shortReads;
    } catch (const EZDecompressionError& e) {
      ++errors;
      std::string msg = e.what();
      EXPECT_TRUE(msg == "data error" || msg == "buffer error") << msg;
    }
  }
  EXPECT_GT(errors, 0);
  EXPECT_GT(shortReads, 0);
  const uint8_t header[] = {0x78, 0x9C, 0xFF, 0xFF, 0xFF};
  TIEMemStream src(header, 5);
  TZDecompressionStream z(src);
  uint8_t out[10];
  try {
    z.Read(out, 10);
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "data error");
  }
}

TEST(IEZLib, LengthPrefixedStringsThroughZlib) {
  TIEMemoryStream packed;
  {
    TZCompressionStream z(packed, zcDefault);
    IEWriteAnsiString(z, "first");
    IEWriteAnsiString(z, std::string(200000, 'q'));
    const uint8_t hostile[] = {0xFF, 0xFF, 0xFF, 0x7F, 'x'};
    z.WriteBuffer(hostile, 5);
  }
  packed.SetPosition(0);
  TZDecompressionStream dz(packed);
  std::string s;
  EXPECT_TRUE(IEReadAnsiString(dz, s));
  EXPECT_EQ(s, "first");
  EXPECT_TRUE(IEReadAnsiString(dz, s));
  EXPECT_EQ(s, std::string(200000, 'q'));
  EXPECT_FALSE(IEReadAnsiString(dz, s));  // a 2 GB length with one byte behind it
  EXPECT_EQ(s, "");
}

TEST(IEZLib, DecompressBuffer) {
  const std::vector<uint8_t> data = Sample(100000);
  TIEMemoryStream packed;
  std::vector<uint8_t> good = Compress(data, zcMax, packed);
  for (int estimate : {0, 10, 100000, 500000}) {
    void* out = nullptr;
    int outSize = 0;
    IEZDecompressBuffer(good.data(), int(good.size()), out, outSize, estimate);
    ASSERT_EQ(outSize, int(data.size()));
    EXPECT_EQ(0, memcmp(out, data.data(), data.size()));
    std::free(out);
  }
  std::vector<uint8_t> corrupt = good;
  corrupt[0] = 0x12;  // not a zlib header
  void* out = reinterpret_cast<void*>(1);
  int outSize = -1;
  try {
    IEZDecompressBuffer(corrupt.data(), int(corrupt.size()), out, outSize, 0);
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "data error");
  }
  EXPECT_EQ(out, nullptr);
  try {
    IEZDecompressBuffer(good.data(), int(good.size() / 2), out, outSize, 0);  // truncated
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "buffer error");
  }
  EXPECT_EQ(out, nullptr);
}

TEST(IEZLib, HostDecoderReadsOurDeflate) {
  // python3's zlib (the host's own build) inflates what the compression stream wrote.
  const std::vector<uint8_t> data = Sample(70000);
  TIEMemoryStream packed;
  std::vector<uint8_t> good = Compress(data, zcDefault, packed);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("z.bin"), good.data(), good.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"import zlib,sys,hashlib; d=zlib.decompress(open('z.bin','rb').read()); "
                        "print(len(d), hashlib.md5(d).hexdigest())\"", &out), 0) << out;
  // Compare with the md5 of the original computed on the host as well.
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("orig.bin"), data.data(), data.size()));
  std::string want;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"import hashlib; d=open('orig.bin','rb').read(); "
                        "print(len(d), hashlib.md5(d).hexdigest())\"", &want), 0);
  EXPECT_EQ(out, want);
}
