#include "tiflzw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "coder_fixtures.h"

using fx::Bytes;

namespace {

// Photo-like samples: smooth gradients, a few edges and a little noise.
Bytes PhotoLike(int width, int height, int samples, uint32_t seed) {
  fx::Rng rng(seed);
  Bytes b(size_t(width) * height * samples);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int s = 0; s < samples; ++s) {
        int v = (x * 255 / (width > 1 ? width - 1 : 1) + y * (s + 1) * 3) & 0xFF;
        if ((x / 16 + y / 16) % 5 == 0) v = 255 - v;
        v += int(rng.Below(5)) - 2;
        b[(size_t(y) * width + x) * samples + s] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
      }
  return b;
}

Bytes Noise(size_t n, uint32_t seed) {
  fx::Rng rng(seed);
  Bytes b(n);
  for (uint8_t& v : b) v = uint8_t(rng.Next() >> 11);
  return b;
}

// Horizontal differencing of 8-bit samples (TIFF predictor 2), and its inverse.
void Difference(Bytes& b, int width, int height, int samples) {
  for (int y = 0; y < height; ++y) {
    uint8_t* r = &b[size_t(y) * width * samples];
    for (int i = width * samples - 1; i >= samples; --i) r[i] = uint8_t(r[i] - r[i - samples]);
  }
}
void Accumulate(Bytes& b, int width, int height, int samples) {
  for (int y = 0; y < height; ++y) {
    uint8_t* r = &b[size_t(y) * width * samples];
    for (int i = samples; i < width * samples; ++i) r[i] = uint8_t(r[i] + r[i - samples]);
  }
}

// Codes `data` one row per call, as the TIFF writer feeds the coder.
Bytes EncodeRows(const Bytes& data, int rowBytes) {
  TIEMemoryStream out;
  TIETIFFLZWEncoderState* state = nullptr;
  for (size_t off = 0; off < data.size(); off += size_t(rowBytes))
    EXPECT_TRUE(IETIFFLZWCompress(&data[off], rowBytes, out, state));
  EXPECT_TRUE(IETIFFLZWCompress(nullptr, 0, out, state));
  EXPECT_EQ(state, nullptr);
  return fx::StreamBytes(out);
}

// Decodes `rows` rows of `rowBytes` from one strip; a null return ends the strip.
Bytes DecodeRows(const uint8_t* strip, int64_t length, int rowBytes, int rows, int fillOrder = 1,
                 bool* failed = nullptr) {
  Bytes out;
  TIETIFFLZWDecoderState* state = nullptr;
  if (failed) *failed = false;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* row = IETIFFLZWDecompress(strip, length, rowBytes, state, fillOrder);
    if (!row) {
      if (failed) *failed = true;
      break;
    }
    out.insert(out.end(), row, row + rowBytes);
  }
  IETIFFLZWDecompress(nullptr, 0, 0, state, fillOrder);
  EXPECT_EQ(state, nullptr);
  return out;
}

// MSB-first code writer for hand-made code streams.
class CodeWriter {
 public:
  void Put(int code, int width) {
    for (int i = width - 1; i >= 0; --i) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((code >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (bits_ % 8));
      ++bits_;
    }
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  int bits_ = 0;
};

// Reads a TIFF LZW code stream as a decoder would and reports the largest code assigned before each
// Clear and whether the stream ends with EOI.
struct CodeWalk {
  int maxAssigned = 0;
  int clears = 0;
  bool endsWithEOI = false;
};
CodeWalk WalkCodes(const Bytes& s) {
  CodeWalk w;
  int64_t bit = 0, total = int64_t(s.size()) * 8;
  int width = 9, nextFree = 258;
  bool first = true;
  while (bit + width <= total) {
    int code = 0;
    for (int i = 0; i < width; ++i, ++bit) code = (code << 1) | ((s[bit >> 3] >> (7 - (bit & 7))) & 1);
    if (code == 256) {
      ++w.clears;
      width = 9;
      nextFree = 258;
      first = true;
      continue;
    }
    if (code == 257) {
      w.endsWithEOI = true;
      break;
    }
    if (!first) {
      if (nextFree > w.maxAssigned) w.maxAssigned = nextFree;
      ++nextFree;
      if (nextFree == 511) width = 10;
      if (nextFree == 1023) width = 11;
      if (nextFree == 2047) width = 12;
    }
    first = false;
  }
  return w;
}

}  // namespace

TEST(TIFFLZW, OneByteIsClearByteEOIInFourBytes) {
  const uint8_t one = 0x41;
  TIEMemoryStream out;
  TIETIFFLZWEncoderState* state = nullptr;
  IETIFFLZWCompress(&one, 1, out, state);
  IETIFFLZWCompress(nullptr, 0, out, state);
  // 100000000 001000001 100000001 and five zero bits.
  EXPECT_EQ(fx::StreamBytes(out), (Bytes{0x80, 0x10, 0x60, 0x20}));
}

// The 255th code after a Clear is the first read 10 bits wide: a hand-made stream of literals decodes
// both with the host's TIFF decoder and with ours.
TEST(TIFFLZW, TheCodeAfterEntry510IsTenBitsWide) {
  const int n = 300;
  Bytes expected;
  CodeWriter w;
  w.Put(256, 9);
  for (int k = 1; k <= n; ++k) {
    const int literal = (k * 7) & 0xFF;
    expected.push_back(uint8_t(literal));
    w.Put(literal, k <= 254 ? 9 : 10);
  }
  w.Put(257, 10);

  bool failed = false;
  EXPECT_EQ(DecodeRows(w.bytes().data(), int64_t(w.bytes().size()), n, 1, 1, &failed), expected);
  EXPECT_FALSE(failed);

  fx::TiffSpec spec;
  spec.width = n;
  spec.height = 1;
  spec.compression = 5;
  ASSERT_TRUE(fx::WriteWork("tenbit.tif", fx::MakeTiff(spec, w.bytes())));
  int rc = 0;
  fx::Host("/usr/bin/tifftopnm tenbit.tif > tenbit.pgm 2>/dev/null", &rc);
  ASSERT_EQ(rc, 0);
  fx::Pnm pnm;
  ASSERT_TRUE(fx::ParsePnm(fx::ReadWork("tenbit.pgm"), pnm));
  EXPECT_EQ(pnm.data, expected);
}

TEST(TIFFLZW, KwKwKCodeRepeatsThePreviousStringAndItsFirstByte) {
  // Clear, 'a', 258 (not yet defined: "a" + "a"), EOI -> "aaa".
  CodeWriter w;
  w.Put(256, 9);
  w.Put('a', 9);
  w.Put(258, 9);
  w.Put(257, 9);
  EXPECT_EQ(DecodeRows(w.bytes().data(), int64_t(w.bytes().size()), 3, 1), (Bytes{'a', 'a', 'a'}));
}

TEST(TIFFLZW, ClearFollowedByAnUndefinedCodeFails) {
  CodeWriter w;
  w.Put(256, 9);
  w.Put(300, 9);
  bool failed = false;
  DecodeRows(w.bytes().data(), int64_t(w.bytes().size()), 4, 1, 1, &failed);
  EXPECT_TRUE(failed);
}

// Our encoder's strips, wrapped in a TIFF, decode with the host's libtiff to the input, and with our
// decoder too.
TEST(TIFFLZW, EncodedStripsDecodeWithTifftopnm) {
  struct Case {
    const char* name;
    int width, height, samples;
    bool predictor;
    int kind;  // 0 photo-like, 1 noise, 2 flat
  };
  const Case kCases[] = {{"grey", 97, 61, 1, false, 0},    {"greypred", 97, 61, 1, true, 0},
                         {"rgb", 64, 48, 3, false, 0},     {"rgbpred", 64, 48, 3, true, 0},
                         {"noise", 200, 150, 1, false, 1}, {"flat", 300, 300, 1, false, 2},
                         {"single", 1, 1, 1, false, 0}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const int rowBytes = c.width * c.samples;
    Bytes pixels = c.kind == 0   ? PhotoLike(c.width, c.height, c.samples, 7)
                   : c.kind == 1 ? Noise(size_t(rowBytes) * c.height, 11)
                                 : Bytes(size_t(rowBytes) * c.height, 0x5A);
    Bytes coded = pixels;
    if (c.predictor) Difference(coded, c.width, c.height, c.samples);
    const Bytes strip = EncodeRows(coded, rowBytes);

    fx::TiffSpec spec;
    spec.width = c.width;
    spec.height = c.height;
    spec.samples = c.samples;
    spec.compression = 5;
    spec.photometric = c.samples == 3 ? 2 : 1;
    spec.predictor = c.predictor ? 2 : 0;
    const std::string base = std::string("enc_") + c.name;
    ASSERT_TRUE(fx::WriteWork(base + ".tif", fx::MakeTiff(spec, strip)));
    int rc = 0;
    fx::Host("/usr/bin/tifftopnm " + base + ".tif > " + base + ".pnm 2>/dev/null", &rc);
    ASSERT_EQ(rc, 0);
    fx::Pnm pnm;
    ASSERT_TRUE(fx::ParsePnm(fx::ReadWork(base + ".pnm"), pnm));
    EXPECT_EQ(pnm.data, pixels);

    EXPECT_EQ(DecodeRows(strip.data(), int64_t(strip.size()), rowBytes, c.height), coded);
  }
}

TEST(TIFFLZW, EncoderClearsBeforeAssigningCode4094) {
  const Bytes noise = Noise(60000, 3);
  const Bytes strip = EncodeRows(noise, 600);
  const CodeWalk w = WalkCodes(strip);
  EXPECT_GE(w.clears, 3);  // the initial Clear and at least two table clears
  EXPECT_EQ(w.maxAssigned, 4093);
  EXPECT_TRUE(w.endsWithEOI);
}

// Strips written by the host's tiffcp (several strips, with and without predictor, either fill
// order) decode row by row with our decoder.
TEST(TIFFLZW, DecodesTiffcpStrips) {
  const int width = 123, height = 77, samples = 3;
  const Bytes pixels = PhotoLike(width, height, samples, 5);
  fx::TiffSpec spec;
  spec.width = width;
  spec.height = height;
  spec.samples = samples;
  spec.photometric = 2;
  ASSERT_TRUE(fx::WriteWork("plain.tif", fx::MakeTiff(spec, pixels)));

  struct Case {
    const char* options;
    int predictor, fillOrder;
  };
  const Case kCases[] = {{"-c lzw -r 16", 0, 0}, {"-c lzw:2 -r 10", 2, 0}, {"-c lzw -f lsb2msb -r 77", 0, 2}};
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.options);
    const std::string name = "tiffcp" + std::to_string(n++) + ".tif";
    int rc = 0;
    fx::Host(std::string("/usr/bin/tiffcp ") + c.options + " plain.tif " + name, &rc);
    ASSERT_EQ(rc, 0);
    fx::TiffImage img;
    ASSERT_TRUE(fx::ReadTiff(fx::ReadWork(name), img));
    ASSERT_EQ(img.spec.compression, 5);
    EXPECT_EQ(img.spec.predictor == 2 ? 2 : 0, c.predictor);
    EXPECT_EQ(img.spec.fillOrder == 2 ? 2 : 0, c.fillOrder);
    Bytes decoded;
    const int rowBytes = width * samples;
    for (size_t s = 0; s < img.strips.size(); ++s) {
      const int rows = std::min(img.rowsPerStrip, height - int(s) * img.rowsPerStrip);
      const Bytes part = DecodeRows(img.strips[s].data(), int64_t(img.strips[s].size()), rowBytes, rows,
                                    img.spec.fillOrder == 2 ? 2 : 1);
      decoded.insert(decoded.end(), part.begin(), part.end());
    }
    if (c.predictor == 2) Accumulate(decoded, width, height, samples);
    EXPECT_EQ(decoded, pixels);
  }
}

// Calls of a size that does not divide the strip hand their surplus to the next call.
TEST(TIFFLZW, SurplusOfOneCallStartsTheNext) {
  const Bytes pixels = PhotoLike(100, 30, 1, 9);
  const Bytes strip = EncodeRows(pixels, 100);
  const int count = 37;
  Bytes decoded = DecodeRows(strip.data(), int64_t(strip.size()), count, int(pixels.size()) / count);
  EXPECT_EQ(decoded, Bytes(pixels.begin(), pixels.begin() + decoded.size()));
}

// A strip cut short stops where its bytes end, with the rows before intact; the decoder never reads
// past the strip (which ends at an inaccessible page).
TEST(TIFFLZW, TruncatedStripKeepsTheRowsDecoded) {
  const Bytes pixels = PhotoLike(80, 40, 1, 4);
  Bytes strip = EncodeRows(pixels, 80);
  strip.resize(strip.size() / 2);
  fx::GuardedBlock guarded(strip);
  const Bytes decoded = DecodeRows(guarded.data(), int64_t(strip.size()), 80, 40);
  ASSERT_EQ(decoded.size(), pixels.size());
  EXPECT_EQ(Bytes(decoded.begin(), decoded.begin() + 80 * 5), Bytes(pixels.begin(), pixels.begin() + 80 * 5));
}

TEST(TIFFLZW, MutatedStripsNeverCrashOrReadPastTheStrip) {
  const Bytes pixels = PhotoLike(64, 64, 1, 8);
  const Bytes strip = EncodeRows(pixels, 64);
  int decodedRows = 0;
  for (const Bytes& m : fx::Mutations(strip, 400, 77)) {
    fx::GuardedBlock guarded(m);
    TIETIFFLZWDecoderState* state = nullptr;
    for (int r = 0; r < 64; ++r) {
      const uint8_t* row = IETIFFLZWDecompress(guarded.data(), int64_t(m.size()), 64, state, 1);
      if (!row) break;
      ++decodedRows;
    }
    IETIFFLZWDecompress(nullptr, 0, 0, state, 1);
  }
  EXPECT_GT(decodedRows, 0);
}
