// The lossless JPEG decoder on frames built here bit by bit: prediction of the first samples, the
// point transform, restart intervals, and the refusal of short frames, bad tables, unknown codes and
// frames that do not match the caller's buffer. (Whole images from dcmcjpeg are in dicom_test.)
#include "ieljpeg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Difference categories 0, 1 and 2 with the codes 00, 01 and 10.
const Bytes kTable = {0xFF, 0xC4, 0x00, 0x16, 0x00, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};

struct FrameSpec {
  int lines = 2, samples = 2, precision = 8;
  int predictor = 1, pointTransform = 0, restart = 0;
  Bytes table = kTable;
  Bytes entropy;
};

Bytes MakeFrame(const FrameSpec& s) {
  Bytes f = {0xFF, 0xD8};
  const Bytes sof = {0xFF, 0xC3, 0x00, 0x0B, uint8_t(s.precision), uint8_t(s.lines >> 8), uint8_t(s.lines),
                     uint8_t(s.samples >> 8), uint8_t(s.samples), 1, 1, 0x11, 0};
  f.insert(f.end(), sof.begin(), sof.end());
  f.insert(f.end(), s.table.begin(), s.table.end());
  if (s.restart) {
    const Bytes dri = {0xFF, 0xDD, 0x00, 0x04, uint8_t(s.restart >> 8), uint8_t(s.restart)};
    f.insert(f.end(), dri.begin(), dri.end());
  }
  const Bytes sos = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0x00, uint8_t(s.predictor), 0, uint8_t(s.pointTransform)};
  f.insert(f.end(), sos.begin(), sos.end());
  f.insert(f.end(), s.entropy.begin(), s.entropy.end());
  f.push_back(0xFF);
  f.push_back(0xD9);
  return f;
}

bool Decode(const Bytes& frame, std::vector<uint8_t>& out, int w = 2, int h = 2) {
  TIEMemStream m(frame.data(), int64_t(frame.size()));
  TIECodecProgress progress;
  out.assign(size_t(w) * h, 0);
  return IEDecodeLosslessJPEG(m, nullptr, out.data(), int64_t(frame.size()), w, h, 1, progress);
}

// Differences +3, -1, +1, 0: codes 10 11 | 01 0 | 01 1 | 00, then one-bits to the byte's end.
const Bytes kFourDifferences = {0xB4, 0xCF};

}  // namespace

TEST(LosslessJPEG, PredictionPointTransformAndRestarts) {
  struct Case {
    const char* name;
    int pointTransform, restart;
    Bytes entropy;
    std::vector<uint8_t> expected;
  };
  const Case kCases[] = {
      // the first sample is 2^(P-1) + its difference, the rest of line 1 predicts from the left,
      // line 2 starts from above, then predictor 1
      {"predictor 1", 0, 0, kFourDifferences, {131, 130, 132, 132}},
      // with Pt = 1 prediction starts at 2^(P-Pt-1) and the samples are scaled back by 2
      {"point transform", 1, 0, kFourDifferences, {134, 132, 136, 136}},
      // a restart after each line: line 2 starts again from 2^(P-1), bits from a byte boundary
      {"restart interval", 0, 2, {0xB5, 0xFF, 0xD0, 0x67}, {131, 130, 129, 129}},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    FrameSpec s;
    s.pointTransform = k.pointTransform;
    s.restart = k.restart;
    s.entropy = k.entropy;
    std::vector<uint8_t> out;
    ASSERT_TRUE(Decode(MakeFrame(s), out));
    EXPECT_EQ(out, k.expected);
  }
}

TEST(LosslessJPEG, SixteenBitSamples) {
  // P = 16 starts from 32768; category 16 is a difference of 32768 without further bits
  FrameSpec s;
  s.precision = 16;
  s.lines = 1;
  s.table = {0xFF, 0xC4, 0x00, 0x15, 0x00, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 16};
  s.entropy = {0x2F};  // 00 1 (+1), 01 (+32768), one-bits
  const Bytes f = MakeFrame(s);
  TIEMemStream m(f.data(), int64_t(f.size()));
  TIECodecProgress progress;
  std::vector<uint16_t> out(2);
  ASSERT_TRUE(IEDecodeLosslessJPEG(m, out.data(), nullptr, int64_t(f.size()), 2, 1, 1, progress));
  EXPECT_EQ(out[0], 32769);
  EXPECT_EQ(out[1], 1);  // kept in 16 bits
}

TEST(LosslessJPEG, RefusesWhatItCannotDecodeSafely) {
  FrameSpec valid;
  valid.entropy = kFourDifferences;
  struct Case {
    const char* name;
    Bytes frame;
    int w, h;
  };
  std::vector<Case> cases;
  const Bytes whole = MakeFrame(valid);
  cases.push_back({"31 bytes", Bytes(whole.begin(), whole.begin() + 31), 2, 2});
  {
    FrameSpec s = valid;  // counts adding up to 18
    s.table = {0xFF, 0xC4, 0x00, 0x25, 0x00, 0, 18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 18; ++i) s.table.push_back(uint8_t(i % 17));
    cases.push_back({"18 codes", MakeFrame(s), 2, 2});
  }
  {
    FrameSpec s = valid;  // three codes of length 1 cannot exist
    s.table = {0xFF, 0xC4, 0x00, 0x16, 0x00, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    cases.push_back({"overfull code lengths", MakeFrame(s), 2, 2});
  }
  {
    FrameSpec s = valid;  // a category above 16
    s.table.back() = 17;
    cases.push_back({"category 17", MakeFrame(s), 2, 2});
  }
  {
    FrameSpec s = valid;  // code 11 is not in the table
    s.entropy = {0xC0, 0x00};
    cases.push_back({"unknown code", MakeFrame(s), 2, 2});
  }
  {
    FrameSpec s = valid;  // four samples need more bits than there are
    s.entropy = {0xB4};
    cases.push_back({"data ends early", MakeFrame(s), 2, 2});
  }
  cases.push_back({"frame wider than the buffer", whole, 1, 2});
  cases.push_back({"frame shorter than the buffer", whole, 2, 3});
  {
    Bytes f = whole;  // baseline frame header
    f[3] = 0xC0;
    cases.push_back({"not lossless", f, 2, 2});
  }
  {
    FrameSpec s = valid;
    s.predictor = 0;
    cases.push_back({"predictor 0", MakeFrame(s), 2, 2});
  }
  {
    FrameSpec s = valid;
    s.table.clear();
    Bytes f = MakeFrame(s);
    f.insert(f.end() - 2, 20, 0);  // long enough
    cases.push_back({"no table", f, 2, 2});
  }
  {
    Bytes f = whole;  // a marker segment running past the end
    f[17] = 0x7F;
    cases.push_back({"segment past the end", f, 2, 2});
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<uint8_t> out;
    EXPECT_FALSE(Decode(k.frame, out, k.w, k.h));
  }
}
