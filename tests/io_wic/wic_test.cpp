// HD Photo through the platform's imaging component: files from the reference encoder (JxrEncApp),
// the save where the component has no HD Photo encoder, and the writer through its TIFF encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"
#include "iewic.h"

namespace {

using iotest::Host;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Sides are whole multiples of 16: Wine's HD Photo decoder overruns its own frame buffer on others.
constexpr int kGW = 32, kGH = 16;
uint16_t Grey16(int x, int y) { return uint16_t((x * 2000 + y * 1500 + 7) % 65536); }

class HDPhoto : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TIEBitmap pic;
    iotest::MakePicture(pic, 48, 32);
    ASSERT_TRUE(iotest::WritePPM(pic, tq::WorkFile("src.ppm")));
    std::string pgm = "P5\n" + std::to_string(kGW) + " " + std::to_string(kGH) + "\n65535\n";
    for (int y = 0; y < kGH; ++y)
      for (int x = 0; x < kGW; ++x) {
        pgm += char(Grey16(x, y) >> 8);
        pgm += char(Grey16(x, y) & 255);
      }
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("g16.pgm"), pgm.data(), pgm.size()));
    Host("/usr/bin/convert src.ppm BMP3:src.bmp && JxrEncApp -i src.bmp -o rgb.wdp -q 1 >/dev/null && "
         "/usr/bin/convert g16.pgm -depth 16 g16.tif && JxrEncApp -i g16.tif -o grey.wdp -q 1 >/dev/null");
  }
};

TEST_F(HDPhoto, ReferenceFilesLoadToTheirSourcePixels) {
  ASSERT_TRUE(IEWICAvailable());
  TImageryIO io;
  io.LoadByExtension(Wide(tq::WorkFile("rgb.wdp")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(iffHDP, io.Params.FileType);
  iotest::ExpectHostDecodes(*io.GetIEBitmap(), "src.ppm", "cp {in} {out}");

  // 16-bit grey: its own format in native mode, 24-bit otherwise
  struct Case {
    bool native;
    TIEPixelFormat format;
  };
  for (const Case& c : {Case{true, ie16g}, Case{false, ie24RGB}}) {
    TImageryIO g;
    g.Params.IsNativePixelFormat = c.native;
    g.LoadByExtension(Wide(tq::WorkFile("grey.wdp")));
    ASSERT_FALSE(g.Aborting);
    TIEBitmap& b = *g.GetIEBitmap();
    ASSERT_EQ(c.format, b.GetPixelFormat());
    ASSERT_EQ(kGW, b.GetImageWidth());
    ASSERT_EQ(kGH, b.GetImageHeight());
    int wrong = 0;
    for (int y = 0; y < kGH; ++y)
      for (int x = 0; x < kGW; ++x) {
        const uint16_t want = Grey16(x, y);
        if (c.native ? b.GetWord(x, y) != want : b.GetPixelRGB(x, y).g != want >> 8) ++wrong;
      }
    EXPECT_EQ(0, wrong) << c.native;
    EXPECT_EQ(c.native ? 16 : 8, g.Params.BitsPerSample);
  }
}

// The camera metadata of the file's directory reaches the parameters (exiftool writes it); a
// thumbnail request on a file without one decodes the frame. The save's tag update writes ours into
// a file in place: exiftool reads it and both decoders still give the source pixels.
TEST_F(HDPhoto, ExifReadAndTagUpdate) {
  Host("cp rgb.wdp exif.wdp && exiftool -q -overwrite_original -Make=Testmake -Model=Testcam -ExposureTime=1/125 "
       "-FNumber=2.8 '-DateTimeOriginal=2024:05:06 07:08:09' exif.wdp");
  TImageryIO io;
  io.Params.ReadThumbnail = true;
  io.LoadByExtension(Wide(tq::WorkFile("exif.wdp")));
  ASSERT_FALSE(io.Aborting);
  iotest::ExpectHostDecodes(*io.GetIEBitmap(), "src.ppm", "cp {in} {out}");
  EXPECT_EQ(48, io.Params.StoredWidth);
  EXPECT_EQ(32, io.Params.StoredHeight);
  EXPECT_TRUE(io.Params.HasExifData);
  EXPECT_EQ("Testmake", io.Params.ExifMake);
  EXPECT_EQ("Testcam", io.Params.ExifModel);
  EXPECT_DOUBLE_EQ(1.0 / 125, io.Params.ExifExposureTime);
  EXPECT_DOUBLE_EQ(2.8, io.Params.ExifFNumber);
  EXPECT_EQ("2024:05:06 07:08:09", io.Params.ExifDateTimeOriginal);

  std::vector<unsigned char> bytes;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("rgb.wdp"), bytes));
  TIEMemoryStream mem;
  mem.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  mem.SetPosition(0);
  TIOParamsVals p(nullptr);
  p.ExifMake = "Ourmake";
  p.ExifModel = "Ourcam";
  p.SetExifExposureTime(0.02);
  p.ExifDateTimeOriginal = "2023:01:02 03:04:05";
  p.HasExifData = true;
  ASSERT_TRUE(IEHDPUpdateTags(mem, p));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("updated.wdp"), mem.Memory(), size_t(mem.GetSize())));
  std::string out;
  ASSERT_EQ(0, tq::RunHost("exiftool -n -s3 -Make -Model -ExposureTime -DateTimeOriginal updated.wdp 2>/dev/null", &out));
  EXPECT_EQ("Ourmake\nOurcam\n0.02\n2023:01:02 03:04:05\n", out);
  Host("JxrDecApp -i updated.wdp -o updated.bmp >/dev/null && /usr/bin/convert updated.bmp updated.ppm");
  TImageryIO back;
  back.LoadByExtension(Wide(tq::WorkFile("updated.wdp")));
  ASSERT_FALSE(back.Aborting);
  EXPECT_EQ("Ourmake", back.Params.ExifMake);
  iotest::ExpectHostDecodes(*back.GetIEBitmap(), "src.ppm", "cp {in} {out}");
  iotest::ExpectHostDecodes(*back.GetIEBitmap(), "updated.ppm", "cp {in} {out}");
}

TEST_F(HDPhoto, FoundByContentAndDamagedFilesAbort) {
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("rgb.wdp"), bytes));
  TImageryIO io;
  io.LoadFromMemoryBlock(bytes.data(), int64_t(bytes.size()), 0);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(iffHDP, io.Params.FileType);
  // cut short anywhere, or with its header bytes changed: the load aborts and keeps the bitmap
  for (size_t cut : {size_t(8), size_t(40), bytes.size() / 3, bytes.size() / 2}) {
    SCOPED_TRACE(cut);
    TImageryIO t;
    iotest::MakePicture(*t.GetIEBitmap(), 3, 2);
    t.LoadFromMemoryBlock(bytes.data(), int64_t(cut), iffHDP);
    EXPECT_TRUE(t.Aborting);
    EXPECT_EQ(3, t.GetIEBitmap()->GetImageWidth());
  }
}

TEST_F(HDPhoto, SaveWithoutAnEncoderAbortsAndWritesNothing) {
  ASSERT_FALSE(IEWICHDPEncoderAvailable());  // Wine's imaging component has none
  TImageryIO io;
  iotest::MakePicture(*io.GetIEBitmap(), 20, 10);
  const std::string out = tq::WorkFile("out.wdp");
  DeleteFileA(out.c_str());
  int finished = 0;
  io.OnFinishWork = [&](void*) { ++finished; };
  io.SaveByExtension(Wide(out));
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(1, finished);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(out.c_str()));
  TIEMemoryStream mem;
  io.SaveStreamAsFileType(mem, iffHDP);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(0, mem.GetSize());
}

TEST_F(HDPhoto, WriterThroughTheTIFFEncoderWritesWhatTiffToolsRead) {
  TIEBitmap pic;
  iotest::MakePicture(pic, 41, 19);
  TIOParamsVals params(nullptr);
  params.DpiX = 150;
  params.DpiY = 75;
  {
    TIEWideFileStream file(Wide(tq::WorkFile("wic.tif")), fmCreate);
    TIEWICWriter w;
    ASSERT_TRUE(w.Open(file, iffTIFF));
    ASSERT_TRUE(w.WriteFrame(pic, &params));
    ASSERT_TRUE(w.Close());
  }
  iotest::ExpectHostDecodes(pic, "wic.tif", "tifftopnm {in} > {out}");
  std::string info;
  ASSERT_EQ(0, tq::RunHost("tiffinfo wic.tif", &info));
  EXPECT_NE(std::string::npos, info.find("Compression Scheme: None")) << info;
  EXPECT_NE(std::string::npos, info.find("Resolution: 150, 75")) << info;
  // the writer takes no container without an encoder of its own
  TIEMemoryStream mem;
  TIEWICWriter w;
  EXPECT_FALSE(w.Open(mem, iffICO));
  EXPECT_FALSE(w.WriteFrame(pic, nullptr));
}

}  // namespace
