// PSD writing: PackBits packets, the file layout, and what ImageMagick and PIL read from our files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "iepsd.h"
#include "imageryio.h"
#include "psd_util.h"

using namespace iotest;
using namespace psdtest;

namespace {

TEST(PSDWrite, PackBitsPackets) {
  struct Case {
    const char* what;
    std::vector<uint8_t> row;
    std::vector<uint8_t> packed;
  };
  std::vector<uint8_t> long200(200, 9);
  std::vector<uint8_t> lit130(130);
  for (size_t i = 0; i < lit130.size(); ++i) lit130[i] = uint8_t(i);
  std::vector<uint8_t> lit130Packed = {127};
  for (int i = 0; i < 128; ++i) lit130Packed.push_back(uint8_t(i));
  lit130Packed.push_back(1);
  lit130Packed.push_back(128);
  lit130Packed.push_back(129);
  const Case kCases[] = {
      {"200 equal bytes: runs of 128 and 72", long200, {uint8_t(1 - 128), 9, uint8_t(1 - 72), 9}},
      {"three equal bytes stay literal", {5, 5, 5, 1, 2}, {4, 5, 5, 5, 1, 2}},
      {"a run of four after literals", {1, 2, 7, 7, 7, 7}, {1, 1, 2, uint8_t(-3), 7}},
      {"literals split at 128", lit130, lit130Packed},
      {"one byte", {42}, {0, 42}},
  };
  for (const Case& c : kCases) {
    std::vector<uint8_t> out;
    IEPSDPackBits(c.row.data(), int(c.row.size()), out);
    EXPECT_EQ(out, c.packed) << c.what;
  }
}

TEST(PSDWrite, BitmapLayoutAndHostDecoders) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  TIEBitmap src;
  MakePicture(src, 37, 21);
  // layout of a 24-bit bitmap without layers
  TIEMemoryStream m;
  CodecCall call;
  call.params.DpiX = 150;
  call.params.DpiY = 75;
  TIEPSDLayerList none;
  IEPSDWrite(m, call.params, call.progress, &src, none);
  ASSERT_FALSE(call.abort);
  const std::vector<uint8_t> f = misctest::StreamBytes(m);
  Bytes head;
  head.str("8BPS").u16(1).u32(0).u16(0).u16(3).u32(21).u32(37).u16(8).u16(3).u32(0);
  ASSERT_GT(f.size(), 60u);
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 30), head.b);
  const uint32_t resLen = IEReadU32BE(&f[30]);
  EXPECT_EQ(std::string(f.begin() + 34, f.begin() + 38), "8BIM");
  EXPECT_EQ(IEReadU16BE(&f[38]), 1005);
  const size_t layerAt = 34 + resLen;
  EXPECT_EQ(IEReadU32BE(&f[layerAt]), 0u) << "an empty layer section";
  EXPECT_EQ(IEReadU16BE(&f[layerAt + 4]), 1) << "PackBits";
  // ImageMagick and PIL read the pixels and the resolution back
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("plain.psd"), f.data(), f.size()));
  ExpectHostDecodes(src, "plain.psd", "convert '{in}[0]' {out}");
  ExpectHostDecodes(src, "plain.psd", "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').save('{out}')\"");
  std::string out;
  ASSERT_EQ(tq::RunHost("identify -format '%x %y' plain.psd", &out), 0);
  EXPECT_EQ(out.substr(0, 6), "150 75") << out;
}

TEST(PSDWrite, PixelFormatsReadBackInImageMagick) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  TIEBitmap picture;
  MakePicture(picture, 30, 17, 50);
  struct Case {
    const char* name;
    TIEPixelFormat format;
  };
  const Case kCases[] = {{"grey", ie8g}, {"indexed", ie8p}, {"bw", ie1g}, {"rgb48", ieRGB48}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TIEBitmap b;
    b.Assign(&picture);
    b.SetPixelFormat(c.format);
    TImageryIO io(&b);
    const std::string file = std::string(c.name) + ".psd";
    io.SaveByExtension(misctest::W(tq::WorkFile(file)));
    ASSERT_FALSE(io.Aborting);
    // ImageMagick does not read back indexed PSD files; PIL does
    ExpectHostDecodes(b, file, c.format == ie8p
                                   ? "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('RGB').save('{out}')\""
                                   : "convert '{in}[0]' -depth 8 {out}");
    TIEBitmap back;
    TImageryIO in(&back);
    in.Params.IsNativePixelFormat = true;
    in.LoadAsFileType(misctest::W(tq::WorkFile(file)), iffPSD);
    EXPECT_EQ(back.GetPixelFormat(), c.format);
    ExpectSamePixels(back, b);
  }
  // the merged image's alpha is written as the channel after the colour channels
  TIEBitmap rgba;
  rgba.Assign(&picture);
  for (int y = 0; y < rgba.GetImageHeight(); ++y)
    for (int x = 0; x < rgba.GetImageWidth(); ++x) rgba.GetAlphaChannel()->GetRowAddress(y)[x] = uint8_t(x * 8);
  TImageryIO io(&rgba);
  io.SaveByExtension(misctest::W(tq::WorkFile("alpha.psd")));
  Host("/usr/bin/python3 -c \"from PIL import Image; open('alpha.rgba', 'wb').write(Image.open('alpha.psd').tobytes())\"");
  EXPECT_EQ(misctest::FileBytes(tq::WorkFile("alpha.rgba")), RGBAOf(rgba));
}

TEST(PSDWrite, LayersReadBackInImageMagickAndPIL) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  TIEBitmap merged;
  MakePicture(merged, 40, 30);
  TIEPSDLayerList layers(4);
  layers[0].Bitmap.reset(new TIEBitmap());
  layers[0].Bitmap->Assign(&merged);
  layers[0].Name = "background";
  layers[1].Bitmap.reset(new TIEBitmap());
  MakePicture(*layers[1].Bitmap, 12, 9, 7);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) layers[1].Bitmap->GetAlphaChannel()->GetRowAddress(y)[x] = uint8_t(20 * x);
  layers[1].PosX = 5;
  layers[1].PosY = 7;
  layers[1].Transparency = 128;
  layers[1].Name = "half";
  layers[2].Bitmap.reset(new TIEBitmap(4, 3, ie8g));  // user mask of layer 1
  layers[2].Bitmap->Fill(200);
  layers[2].PosX = 6;
  layers[2].PosY = 8;
  layers[2].IsMask = true;
  layers[3].Bitmap.reset(new TIEBitmap());
  MakePicture(*layers[3].Bitmap, 8, 6, 3);
  layers[3].PosX = 30;
  layers[3].PosY = 2;
  layers[3].Visible = false;
  layers[3].Name = "hidden";
  layers[3].Width = 16;  // displayed at twice its size
  layers[3].Height = 12;
  TIEMemoryStream m;
  CodecCall call;
  IEPSDWrite(m, call.params, call.progress, &merged, layers);
  ASSERT_FALSE(call.abort);
  const std::vector<uint8_t> f = misctest::StreamBytes(m);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("layers_out.psd"), f.data(), f.size()));
  ExpectHostDecodes(merged, "layers_out.psd", "convert '{in}[0]' {out}");
  // ImageMagick reads every layer; PIL stops at the masked layer's five channels, so it reads a copy
  // without the mask
  const std::vector<PilLayer> host = PilLayers("layers_out.psd", false);
  ASSERT_EQ(host.size(), 3u);
  TIEPSDLayerList unmasked(3);
  const size_t written[] = {0, 1, 3};
  for (size_t i = 0; i < 3; ++i) {
    unmasked[i].Bitmap.reset(new TIEBitmap());
    unmasked[i].Bitmap->Assign(layers[written[i]].Bitmap.get());
    unmasked[i].PosX = layers[written[i]].PosX;
    unmasked[i].PosY = layers[written[i]].PosY;
    unmasked[i].Name = layers[written[i]].Name;
  }
  TIEMemoryStream m2;
  IEPSDWrite(m2, call.params, call.progress, &merged, unmasked);
  const std::vector<uint8_t> f2 = misctest::StreamBytes(m2);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("layers_pil.psd"), f2.data(), f2.size()));
  const std::vector<PilLayer> pil = PilLayers("layers_pil.psd", true);
  ASSERT_EQ(pil.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    TIEPSDLayer& l = layers[written[i]];
    SCOPED_TRACE(l.Name);
    EXPECT_EQ(pil[i].name, l.Name);
    EXPECT_EQ(pil[i].x0, l.PosX);
    EXPECT_EQ(pil[i].y1 - pil[i].y0, l.DisplayHeight());
    EXPECT_EQ(host[i].name, l.Name);
    EXPECT_EQ(host[i].x0, l.PosX);
    EXPECT_EQ(host[i].y0, l.PosY);
    EXPECT_EQ(host[i].x1 - host[i].x0, l.DisplayWidth());
    EXPECT_EQ(host[i].y1 - host[i].y0, l.DisplayHeight());
    // ImageMagick multiplies the alpha by the user mask (0 outside its rectangle) and the opacity
    std::vector<uint8_t> expected = RGBAOf(*l.Bitmap);
    const TIEPSDLayer* mask = written[i] == 1 ? &layers[2] : nullptr;
    int worst = 0;
    ASSERT_EQ(host[i].rgba.size(), expected.size());
    for (int y = 0; y < l.Bitmap->GetImageHeight(); ++y)
      for (int x = 0; x < l.Bitmap->GetImageWidth(); ++x) {
        const size_t k = (size_t(y) * l.Bitmap->GetImageWidth() + x) * 4;
        double a = expected[k + 3] * l.Transparency / 255.0;
        if (mask) {
          const int mx = x + l.PosX - mask->PosX, my = y + l.PosY - mask->PosY;
          const bool inside = mx >= 0 && my >= 0 && mx < mask->Bitmap->GetImageWidth() && my < mask->Bitmap->GetImageHeight();
          a = a * (inside ? mask->Bitmap->GetRowAddress(my)[mx] : 0) / 255.0;
        }
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int(host[i].rgba[k + c]) - int(expected[k + c])));
        worst = std::max(worst, std::abs(int(host[i].rgba[k + 3]) - int(a + 0.5)));
      }
    EXPECT_LE(worst, 1);
  }
  // our own reader agrees on the fields the host tools do not show
  TIEMemStream s(f.data(), int64_t(f.size()));
  TIEPSDLayerList back;
  TIEBitmap bitmap;
  IEPSDRead(s, &bitmap, call.params, call.progress, true, &back);
  ASSERT_FALSE(call.abort);
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[1].Transparency, 128);
  EXPECT_TRUE(back[2].IsMask);
  EXPECT_EQ(back[2].PosX, 6);
  EXPECT_EQ(back[2].Bitmap->GetImageWidth(), 4);
  EXPECT_FALSE(back[3].Visible);
  EXPECT_EQ(back[3].Bitmap->GetImageWidth(), 16);
}

TEST(PSDWrite, RefusedStreamAndFormats) {
  TIEBitmap b(10, 10, ie24RGB);
  b.Fill(0);
  CodecCall call;
  TIEPSDLayerList none;
  misctest::LimitedStream full(100);
  IEPSDWrite(full, call.params, call.progress, &b, none);
  EXPECT_TRUE(call.abort) << "a stream that takes 100 bytes";
  call.abort = false;
  TIEBitmap f(4, 4, ie32f);
  TIEMemoryStream m;
  IEPSDWrite(m, call.params, call.progress, &f, none);
  EXPECT_TRUE(call.abort);
  EXPECT_EQ(m.GetSize(), 0) << "nothing is written for a format without a colour mode";
}

}  // namespace
