#include "misc_util.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "hostenv.h"
#include "imageryio.h"

namespace misctest {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::vector<uint8_t> FileBytes(const std::string& winPath) {
  std::vector<unsigned char> b;
  tq::ReadFileBytes(winPath, b);
  return std::vector<uint8_t>(b.begin(), b.end());
}

std::vector<uint8_t> StreamBytes(TIEMemoryStream& s) {
  const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.GetSize());
}

bool HostToolsHere() {
  return tq::UnderWine() && tq::RunHost("test -x /usr/bin/pnmtoplainpnm && test -x /usr/bin/icotool") == 0;
}

int32_t LimitedStream::Write(const void* b, int32_t count) {
  const int64_t room = std::max<int64_t>(0, limit_ - GetPosition());
  const int32_t n = int32_t(std::min<int64_t>(count, room));
  return n > 0 ? TIEMemoryStream::Write(b, n) : 0;
}

void Mutate(const std::vector<uint8_t>& valid, int rounds, TIEFileFormatCode type) {
  ASSERT_GT(valid.size(), 2u);
  uint32_t seed = 0x9E3779B9u ^ uint32_t(valid.size() * 7919 + type);
  auto rnd = [&seed] { seed = seed * 1664525u + 1013904223u; return seed >> 8; };
  for (int i = 0; i < rounds; ++i) {
    std::vector<uint8_t> f = valid;
    const bool truncate = i % 2 == 0;
    if (truncate) {
      f.resize(rnd() % (valid.size() - 1));
    } else {
      for (int k = 1 + int(rnd() % 8); k > 0; --k) f[rnd() % f.size()] = uint8_t(rnd());
    }
    TIEMemStream m(f.data(), int64_t(f.size()));
    TIEBitmap back;
    TImageryIO io(&back);
    io.LoadStreamAsFileType(m, type);
    if (truncate) {
      EXPECT_TRUE(io.Aborting) << "type " << type << " cut at " << f.size();
    }
    EXPECT_LE(uint64_t(back.GetImageWidth()) * back.GetImageHeight(), uint64_t(1) << 22);
  }
}

}  // namespace misctest
