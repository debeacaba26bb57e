#include "ieicc.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "iecmyk.h"
#include "iebands.h"
#include "iestreams.h"
#include "vodevovur.h"
#include "../support/hostenv.h"

namespace {
using Bytes = std::vector<uint8_t>;

const char* kFreeSRGB = "/usr/share/color/icc/sRGB.icc";

Bytes HostFile(const std::string& unixPath) {
  std::vector<unsigned char> b;
  tq::ReadFileBytes(tq::WinPath(unixPath), b);
  return b;
}

Bytes Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = uint8_t(rng());
  return b;
}

// PIL's conversion of `in` (n pixels of in_mode) between two profile files given as Unix paths.
Bytes Reference(const std::string& src, const std::string& dst, const char* inMode, const char* outMode,
                const Bytes& in, int n) {
  const std::string inFile = tq::WorkFile("ref_in.raw"), outFile = tq::WorkFile("ref_out.raw");
  tq::WriteFileBytes(inFile, in.data(), in.size());
  const std::string script = tq::UnixPath(tq::SourceDir() + "\\tests\\imgmeta\\iccref.py");
  std::string out;
  int rc = tq::RunHost("/usr/bin/python3 " + tq::ShellQuote(script) + " " + tq::ShellQuote(src) + " " +
                           tq::ShellQuote(dst) + " " + inMode + " " + outMode + " " + std::to_string(n) + " " +
                           tq::ShellQuote(tq::UnixPath(inFile)) + " " + tq::ShellQuote(tq::UnixPath(outFile)),
                       &out);
  EXPECT_EQ(rc, 0) << out;
  std::vector<unsigned char> r;
  tq::ReadFileBytes(outFile, r);
  return r;
}

int MaxDiff(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return 1000;
  int m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
  return m;
}

Bytes SwapTriples(const Bytes& b) {
  Bytes r(b);
  for (size_t i = 0; i + 2 < r.size(); i += 3) std::swap(r[i], r[i + 2]);
  return r;
}

// The system sRGB profile that TIEICC::LoadSRGB opens, as a Unix path for PIL.
std::string SystemSRGBPath() {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  return tq::UnixPath(std::string(dir) + "\\spool\\drivers\\color\\sRGB Color Space Profile.icm");
}

// The built-in CMYK profile written out for PIL.
std::string BuiltInCMYKPath() {
  const std::string f = tq::WorkFile("builtin_cmyk.icc");
  const Bytes& raw = IECMYKProfile->Raw();
  tq::WriteFileBytes(f, raw.data(), raw.size());
  return tq::UnixPath(f);
}
}  // namespace

TEST(IEICC, RGBTransformsMatchReferenceEngine) {
  ASSERT_TRUE(IELoadMSCMS());
  TIEICC src;
  ASSERT_TRUE(src.LoadFromBuffer(HostFile(kFreeSRGB).data(), int64_t(HostFile(kFreeSRGB).size())));
  const int n = 4096;
  const Bytes rgb = Random(size_t(n) * 3, 1);
  for (const char* target : {"/usr/share/color/icc/colord/AdobeRGB1998.icc", "/usr/share/color/icc/colord/ProPhotoRGB.icc",
                             "/usr/share/color/icc/colord/Rec709.icc"}) {
    SCOPED_TRACE(target);
    const Bytes prof = HostFile(target);
    TIEICC dst;
    ASSERT_TRUE(dst.LoadFromBuffer(prof.data(), int64_t(prof.size())));
    const Bytes ref = Reference(kFreeSRGB, target, "RGB", "RGB", rgb, n);
    Bytes out(rgb.size());
    ASSERT_TRUE(src.Transform(&dst, iccRGB, iccRGB, 0, 0, rgb.data(), out.data(), n));
    EXPECT_LE(MaxDiff(out, ref), 2);
    // B, G, R on both sides; the caller's row is left as it was
    const Bytes bgr = SwapTriples(rgb);
    Bytes bgrCopy = bgr;
    ASSERT_TRUE(src.Transform(&dst, iccBGR, iccBGR, 0, 0, bgrCopy.data(), out.data(), n));
    EXPECT_EQ(bgrCopy, bgr);
    EXPECT_LE(MaxDiff(out, SwapTriples(ref)), 2);
    // 16-bit samples, native and big-endian, into 16-bit output
    Bytes w16(size_t(n) * 6), w16be(size_t(n) * 6), o16(size_t(n) * 6), o16be(size_t(n) * 6);
    for (size_t i = 0; i < rgb.size(); ++i) {
      const uint16_t v = uint16_t(rgb[i] * 257);
      std::memcpy(&w16[2 * i], &v, 2);
      w16be[2 * i] = uint8_t(v >> 8);
      w16be[2 * i + 1] = uint8_t(v);
    }
    ASSERT_TRUE(src.Transform(&dst, iccRGB48, iccRGB48, 0, 0, w16.data(), o16.data(), n));
    ASSERT_TRUE(src.Transform(&dst, iccRGB48BE, iccRGB48BE, 0, 0, w16be.data(), o16be.data(), n));
    Bytes hi(rgb.size()), hiBE(rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i) {
      uint16_t v;
      std::memcpy(&v, &o16[2 * i], 2);
      hi[i] = uint8_t((v + 128) / 257);
      hiBE[i] = uint8_t((((o16be[2 * i] << 8) | o16be[2 * i + 1]) + 128) / 257);
    }
    EXPECT_LE(MaxDiff(hi, ref), 2);
    EXPECT_EQ(hiBE, hi);
  }
}

TEST(IEICC, CMYKThroughBuiltInProfileMatchesReferenceEngine) {
  ASSERT_TRUE(IELoadCMYKProfile());
  EXPECT_EQ(IECMYKProfile->Description, "FOGRA39L CMYK Coated Press");
  const std::string cmykPath = BuiltInCMYKPath(), srgbPath = SystemSRGBPath();
  const int n = 4096;
  const Bytes cmyk = Random(size_t(n) * 4, 2);  // plain: 255 = full ink
  const Bytes ref = Reference(cmykPath, srgbPath, "CMYK", "RGB", cmyk, n);
  // code 3 (plain) and code 2 (inverted), through the row converter and the single-colour routine
  Bytes plain = cmyk, inverted(cmyk.size()), bgr(size_t(n) * 3), bgr2(size_t(n) * 3);
  for (size_t i = 0; i < cmyk.size(); ++i) inverted[i] = uint8_t(255 - cmyk[i]);
  IEConvertPixelRow(plain.data(), iccCMYK, bgr.data(), n, iccBGR);
  EXPECT_EQ(plain, cmyk) << "the source row is left alone";
  EXPECT_LE(MaxDiff(SwapTriples(bgr), ref), 2);
  IEConvertPixelRow(inverted.data(), iccCMYKInv, bgr2.data(), n, iccBGR);
  EXPECT_EQ(bgr2, bgr);
  for (int x = 0; x < 64; ++x) {
    uint32_t packed;
    std::memcpy(&packed, &inverted[4 * size_t(x)], 4);
    TIERGB c;
    IECMYKToRGB(packed, c);
    EXPECT_LE(std::abs(c.r - ref[3 * x]) + std::abs(c.g - ref[3 * x + 1]) + std::abs(c.b - ref[3 * x + 2]), 4);
  }
  // and back: sRGB to CMYK, both ways of asking
  const Bytes rgb = Random(size_t(n) * 3, 3);
  const Bytes refCMYK = Reference(srgbPath, cmykPath, "RGB", "CMYK", rgb, n);
  Bytes row = SwapTriples(rgb), out(size_t(n) * 4);
  IEConvertPixelRow(row.data(), iccBGR, out.data(), n, iccCMYKInv);
  for (auto& v : out) v = uint8_t(255 - v);
  EXPECT_LE(MaxDiff(out, refCMYK), 2);
  for (int x = 0; x < 64; ++x) {
    const uint32_t v = IERGBToCMYK((uint32_t(rgb[3 * x]) << 16) | (uint32_t(rgb[3 * x + 1]) << 8) | rgb[3 * x + 2]);
    for (int k = 0; k < 4; ++k) EXPECT_LE(std::abs(int(255 - ((v >> (8 * k)) & 255)) - int(refCMYK[4 * x + k])), 2);
  }
  // 16-bit RGB out of CMYK
  TIEICC cmykCopy;
  cmykCopy.Assign(IECMYKProfile);
  Bytes o16(size_t(n) * 6), hi(size_t(n) * 3);
  ASSERT_TRUE(cmykCopy.Transform(IESRGBProfile, iccCMYK, iccRGB48, 0, 0, cmyk.data(), o16.data(), n));
  for (size_t i = 0; i < hi.size(); ++i) {
    uint16_t v;
    std::memcpy(&v, &o16[2 * i], 2);
    hi[i] = uint8_t((v + 128) / 257);
  }
  EXPECT_LE(MaxDiff(hi, ref), 2);
}

TEST(IEICC, BandedConversionEqualsRowByRow) {
  ASSERT_TRUE(IELoadCMYKProfile());
  // Noise, so that every band boundary shows; padded rows, so that a wrong stride or a band writing
  // past its rows shows in the padding. Four cores are claimed whatever this machine has.
  const int w = 1024, h = 300, srcStride = w * 4 + 8, dstStride = w * 3 + 5;
  const Bytes cmyk = Random(size_t(srcStride) * h, 5);
  const int savedCores = IEProcessorCountCache;
  IEProcessorCountCache = 4;
  EXPECT_EQ(IEBandCount(h, 4), 4);
  Bytes rowByRow(size_t(dstStride) * h, 0xA5), banded(rowByRow), bottomUp(rowByRow);
  for (int y = 0; y < h; ++y)
    IECMYKRowToRGB(&cmyk[size_t(y) * srcStride], reinterpret_cast<TIERGB*>(&rowByRow[size_t(y) * dstStride]), w);
  IECMYKRowsToRGB(cmyk.data(), srcStride, reinterpret_cast<TIERGB*>(banded.data()), dstStride, w, h);
  EXPECT_TRUE(banded == rowByRow);
  // rows stored bottom-up, as bitmaps keep them: negative strides
  IECMYKRowsToRGB(&cmyk[size_t(h - 1) * srcStride], -srcStride,
                  reinterpret_cast<TIERGB*>(&bottomUp[size_t(h - 1) * dstStride]), -dstStride, w, h);
  EXPECT_TRUE(bottomUp == rowByRow);
  // a whole bitmap converted through a profile of its own, against the same rows one by one
  TIEICC cmykCopy;
  cmykCopy.Assign(IECMYKProfile);
  TIEBitmap bmp(w, h, ieCMYK);
  for (int y = 0; y < h; ++y) std::memcpy(bmp.GetRowAddress(y), &cmyk[size_t(y) * srcStride], size_t(w) * 4);
  EXPECT_TRUE(cmykCopy.ConvertBitmap(&bmp, ie24RGB, IESRGBProfile));
  IEProcessorCountCache = savedCores;
  ASSERT_EQ(bmp.GetPixelFormat(), ie24RGB);
  int differing = 0;
  for (int y = 0; y < h; ++y)
    differing += std::memcmp(bmp.GetRowAddress(y), &rowByRow[size_t(y) * dstStride], size_t(w) * 3) != 0;
  EXPECT_EQ(differing, 0);
}

TEST(IEICC, FormulasWithoutColourManagement) {
  IECMSEnabled = false;
  EXPECT_EQ(IERGBToCMYK(0), 0x01000000u);
  EXPECT_EQ(IERGBToCMYK(0xFF8000), 0xFF0080FFu);
  TIERGB c;
  IECMYKToRGB(0xFFFFFFFF, c);
  EXPECT_TRUE(c.r == 255 && c.g == 255 && c.b == 255);
  IECMYKToRGB(0xFF000000, c);
  EXPECT_TRUE(c.r == 0 && c.g == 0 && c.b == 0);
  IECMYKToRGB(0x80FF4020, c);  // C 0x20, M 0x40, Y 0xFF, K 0x80
  EXPECT_TRUE(c.r == 0x20 * 0x80 / 255 && c.g == 0x40 * 0x80 / 255 && c.b == 0x80);
  // plain CMYK rows: inverted on a copy, never in the caller's row
  uint8_t plain[8] = {0, 0, 0, 0, 0, 0, 0, 255}, rgb[6];
  IEConvertPixelRow(plain, iccCMYK, rgb, 2, iccBGR);
  EXPECT_EQ(plain[7], 255);
  EXPECT_TRUE(rgb[0] == 255 && rgb[1] == 255 && rgb[2] == 255 && rgb[3] == 0 && rgb[4] == 0 && rgb[5] == 0);
  // several rows by the formulas: each row from its own place, the padding between left alone
  const uint8_t rows[2][8] = {{255, 255, 255, 255, 9, 9, 9, 9}, {0x20, 0x40, 0xFF, 0x80, 9, 9, 9, 9}};
  uint8_t out[2][4] = {{7, 7, 7, 7}, {7, 7, 7, 7}};
  IECMYKRowsToRGB(rows[0], 8, reinterpret_cast<TIERGB*>(out[0]), 4, 1, 2);
  EXPECT_TRUE(out[0][0] == 255 && out[0][1] == 255 && out[0][2] == 255 && out[0][3] == 7);
  EXPECT_TRUE(out[1][0] == 0x80 && out[1][1] == 0x40 * 0x80 / 255 && out[1][2] == 0x20 * 0x80 / 255 && out[1][3] == 7);
  // grey by the weights, Lab, 16-bit and big-endian 16-bit, BGR to inverted CMYK in the same row
  uint8_t red[3] = {0, 0, 255}, grey = 0;
  IEConvertPixelRow(red, iccBGR, &grey, 1, iccGray);
  EXPECT_EQ(grey, 53);
  const uint8_t w16[6] = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
  IEConvertPixelRow(w16, iccRGB48, rgb, 1, iccBGR);
  EXPECT_TRUE(rgb[2] == 0x12 && rgb[1] == 0x56 && rgb[0] == 0x9A);
  IEConvertPixelRow(w16, iccRGB48BE, rgb, 1, iccBGR);
  EXPECT_TRUE(rgb[2] == 0x34 && rgb[1] == 0x78 && rgb[0] == 0xBC);
  uint8_t same[8] = {0, 128, 255, 10, 20, 30, 0, 0};
  IEConvertPixelRow(same, iccBGR, same, 2, iccCMYKInv);
  uint32_t v0, v1;
  std::memcpy(&v0, same, 4);
  std::memcpy(&v1, same + 4, 4);
  EXPECT_EQ(v0, IERGBToCMYK(0xFF8000));
  EXPECT_EQ(v1, IERGBToCMYK(0x1E140A));
  IECMSEnabled = true;
}

TEST(IEICC, TagTextsBitmapsAndStreams) {
  // a tag table is read within the profile only; 1,001 entries are not read at all
  Bytes p(400, 0);
  auto be32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) p[at + size_t(i)] = uint8_t(v >> (24 - 8 * i)); };
  be32(128, 2);
  std::memcpy(&p[132], "cprt", 4); be32(136, 200); be32(140, 20);
  std::memcpy(&p[208], "(c) Us", 6);
  std::memcpy(&p[144], "desc", 4); be32(148, 300); be32(152, 100);
  std::memset(&p[312], 'x', 88);  // no NUL before the end of the tag and of the data
  TIEICC icc;
  icc.LoadFromBuffer(p.data(), int64_t(p.size()));
  EXPECT_EQ(icc.Copyright, "(c) Us");
  EXPECT_EQ(icc.Description, std::string(88, 'x'));
  be32(152, 0xFFFFFFF0u);  // offset + size wraps in 32 bits
  icc.LoadFromBuffer(p.data(), int64_t(p.size()));
  EXPECT_EQ(icc.Copyright, "(c) Us");
  EXPECT_EQ(icc.Description, "");
  be32(128, 1001);
  icc.LoadFromBuffer(p.data(), int64_t(p.size()));
  EXPECT_EQ(icc.Copyright, "");
  icc.LoadFromBuffer(p.data(), 128);
  EXPECT_EQ(icc.Copyright, "");

  TIEMemoryStream ms;
  icc.SaveToStream(&ms, false);
  EXPECT_EQ(ms.GetSize(), 4 + 128);

  // bitmaps: unsupported formats are refused and left alone; others convert in place
  TIEICC srgb;
  const Bytes prof = HostFile(kFreeSRGB);
  ASSERT_TRUE(srgb.LoadFromBuffer(prof.data(), int64_t(prof.size())));
  TIEBitmap mono(8, 2, ie1g);
  EXPECT_FALSE(srgb.ConvertBitmap(&mono, ie24RGB, IESRGBProfile));
  EXPECT_EQ(mono.GetPixelFormat(), ie1g);
  TIEBitmap bmp(5, 3, ie24RGB);
  bmp.Fill(0xFFFFFF);
  ASSERT_TRUE(IELoadCMYKProfile());
  EXPECT_TRUE(srgb.ConvertBitmap(&bmp, ieCMYK, IECMYKProfile));
  EXPECT_TRUE(srgb.Applied);
  EXPECT_EQ(bmp.GetPixelFormat(), ieCMYK);
  EXPECT_EQ(bmp.GetImageWidth(), 5);
  const uint8_t* px = bmp.GetRowAddress(2);
  for (int k = 0; k < 4; ++k) EXPECT_GE(px[k], 250) << "white needs (almost) no ink";
  TIEBitmap grey(4, 1, ie24RGB);
  grey.Fill(0);
  EXPECT_TRUE(srgb.ConvertBitmap(&grey, ie8g, &srgb));
  EXPECT_EQ(grey.GetPixelFormat(), ie8g);
  // a bitmap whose storage was freed has nothing to convert into
  grey.FreeStorage(true);
  EXPECT_FALSE(srgb.ConvertBitmap(&grey, ie24RGB, &srgb));
  EXPECT_TRUE(grey.IsEmpty());
}

TEST(IEICC, MutatedProfilesNeverCrash) {
  ASSERT_TRUE(IELoadCMYKProfile());
  const Bytes base = HostFile(kFreeSRGB);
  std::mt19937 rng(7);
  const Bytes rgb = Random(64 * 3, 4);
  Bytes out(64 * 4);
  for (int round = 0; round < 300; ++round) {
    Bytes m = base;
    const int edits = 1 + int(rng() % 8);
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % (round % 3 == 0 ? 200 : m.size());
      m[at] = uint8_t(rng());
    }
    if (round % 5 == 0) m.resize(rng() % m.size());
    TIEICC icc;
    icc.LoadFromBuffer(m.data(), int64_t(m.size()));
    icc.Transform(IECMYKProfile, iccBGR, iccCMYKInv, 0, 0, rgb.data(), out.data(), 64);
  }
}
