// Metadata through loads and saves: what one file carried never reaches the next file saved, IPTC
// records and resolutions are written into JPEG files as other tools read them.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "hostenv.h"
#include "imageryio.h"
#include "iotest_util.h"

using namespace iotest;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Fixtures written by the host's tools from one small picture.
class MetadataFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent()) GTEST_SKIP() << "host tools not reachable";
    MakePicture(picture, 24, 16);
    ASSERT_TRUE(WritePPM(picture, tq::WorkFile("src.ppm")));
    Host("/usr/bin/convert src.ppm -comment 'stale comment' exif.jpg");
    Host("exiftool -q -overwrite_original -Make=LeakyCam -Orientation=6 -n exif.jpg");
    Host("/usr/bin/convert src.ppm plain.jpg");
    Host("/usr/bin/python3 -c \"from PIL import Image, PngImagePlugin as P; i=P.PngInfo(); "
         "i.add_text('Author', 'stale author'); Image.open('src.ppm').save('text.png', pnginfo=i)\"");
    Host("pnmtopng src.ppm > plain.png");
  }
  TIEBitmap picture;
};

}  // namespace

TEST_F(MetadataFiles, NothingOfAnEarlierFileReachesTheNextSave) {
  TIEBitmap bitmap;
  TImageryIO io(&bitmap);
  io.LoadByExtension(W(tq::WorkFile("exif.jpg")));
  ASSERT_FALSE(io.Aborting);
  ASSERT_TRUE(io.Params.HasExifData);  // the fixture really carries what must not leak
  ASSERT_EQ(io.Params.ExifMake, "LeakyCam");
  io.LoadByExtension(W(tq::WorkFile("text.png")));
  ASSERT_FALSE(io.Params.PNGTextKeys.empty());
  io.LoadByExtension(W(tq::WorkFile("plain.jpg")));
  ASSERT_FALSE(io.Aborting);
  io.SaveByExtension(W(tq::WorkFile("out.jpg")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(HostOutput("exiftool -s3 -EXIF:All out.jpg"), "");
  EXPECT_EQ(HostOutput("exiftool -s3 -Comment out.jpg"), "");
  EXPECT_EQ(HostOutput("exiftool -s3 -Orientation out.jpg"), "");

  io.LoadByExtension(W(tq::WorkFile("text.png")));
  io.LoadByExtension(W(tq::WorkFile("plain.png")));
  io.SaveByExtension(W(tq::WorkFile("out.png")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(HostOutput("/usr/bin/python3 -c \"from PIL import Image; print(Image.open('out.png').text)\""), "{}");
}

TEST_F(MetadataFiles, IPTCCaptionAndResolutionAreWrittenIntoJPEG) {
  TImageryIO io(&picture);
  const std::string caption = "Harbour at dawn";
  io.Params.IPTCInfo.AddRecord(2, 120, caption.data(), int32_t(caption.size()));
  io.Params.SetDpiX(150);
  io.Params.SetDpiY(200);
  io.SaveByExtension(W(tq::WorkFile("iptc.jpg")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(HostOutput("exiftool -s3 -IPTC:Caption-Abstract iptc.jpg"), caption);
  EXPECT_EQ(HostOutput("/usr/bin/python3 -c \"from PIL import Image; print(Image.open('iptc.jpg').info['dpi'])\""),
            "(150, 200)");

  // A kept APP13 marker: its resolution resource follows the resolution saved, its caption stays.
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile("iptc.jpg")));
  ASSERT_FALSE(reader.Aborting);
  TIEMarkerList& markers = reader.Params.JPEGMarkerList;
  const int app13 = markers.FindMarkerIndex(0xED);
  ASSERT_GE(app13, 0);
  std::vector<uint8_t> payload(markers.GetMarkerData(app13), markers.GetMarkerData(app13) + markers.GetMarkerLength(app13));
  const uint8_t resolution72[] = {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 16,  // resource, no name, 16 bytes
                                  0, 72, 0, 0, 0, 1, 0, 1, 0, 72, 0, 0, 0, 1, 0, 1};
  payload.insert(payload.end(), std::begin(resolution72), std::end(resolution72));
  ASSERT_TRUE(markers.SetMarker(app13, 0xED, payload.data(), int32_t(payload.size())));
  reader.Params.SetDpiX(300);
  reader.Params.SetDpiY(96);
  reader.SaveByExtension(W(tq::WorkFile("iptc2.jpg")));
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(HostOutput("exiftool -s3 -Photoshop:XResolution -Photoshop:YResolution iptc2.jpg"), "300\n96");
  EXPECT_EQ(HostOutput("exiftool -s3 -IPTC:Caption-Abstract iptc2.jpg"), caption);
}

TEST(IOParamsResolution, ExifFieldsFollowAndTheExifSetterTruncates) {
  TImageryIO io;
  io.Params.SetDpiX(150);
  EXPECT_EQ(io.Params.ExifXResolution, 150.0);
  io.Params.SetExifXResolution(299.6);
  EXPECT_EQ(io.Params.DpiX, 299);
  EXPECT_EQ(io.Params.ExifXResolution, 299.6);
  io.Params.SetExifYResolution(72.9);
  EXPECT_EQ(io.Params.DpiY, 72);
  EXPECT_EQ(io.Params.ExifYResolution, 72.9);
  io.Params.SetDpiY(72);  // the same resolution: the EXIF value keeps its fraction
  EXPECT_EQ(io.Params.ExifYResolution, 72.9);
  io.Params.ExifResolutionUnit = 3;  // centimetres
  io.Params.SetDpiX(254);
  EXPECT_DOUBLE_EQ(io.Params.ExifXResolution, 100.0);
}
