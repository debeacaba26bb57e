// EXIF and GPS metadata in TIFF files and JPEG EXIF blocks, checked by PIL and exiftool both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "ieexifglue.h"
#include "jpegfilt.h"
#include "tifdecode.h"
#include "tifencode.h"

using namespace iotest;
using namespace misctest;

namespace {

class Exif : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/exiftool && /usr/bin/python3 -c 'import PIL'") != 0)
      GTEST_SKIP() << "needs wine with exiftool and PIL";
  }
};

using TP = TIOParamsVals;

// One field: where PIL and exiftool find it, what they must show, and how the parameters get it.
struct TField {
  const char* dir;
  int tag;
  char kind;  // as the check script's expectation kinds
  std::string shown;
  std::function<void(TP&)> set;
};

// Every field of the tables with a value of its own.
std::vector<TField> AllFields() {
  return {
      {"IFD0", 270, 's', "A description", [](TP& p) { p.TIFFImageDescription = "A description"; }},
      {"IFD0", 271, 's', "Maker Co", [](TP& p) { p.ExifMake = "Maker Co"; }},
      {"IFD0", 272, 's', "M1", [](TP& p) { p.ExifModel = "M1"; }},
      {"IFD0", 274, 'n', "6", [](TP& p) { p.SetTIFFOrientation(6); }},
      {"IFD0", 282, 'n', "300", [](TP& p) { p.ExifXResolution = 300; }},
      {"IFD0", 283, 'n', "72.5", [](TP& p) { p.ExifYResolution = 72.5; }},
      {"IFD0", 296, 'n', "2", [](TP&) {}},
      {"IFD0", 305, 's', "Quillomart tests", [](TP& p) { p.ExifSoftware = "Quillomart tests"; }},
      {"IFD0", 306, 's', "2024:01:02 03:04:05", [](TP& p) { p.ExifDateTime = "2024:01:02 03:04:05"; }},
      {"IFD0", 315, 's', "Ann Artist", [](TP& p) { p.ExifArtist = "Ann Artist"; }},
      {"IFD0", 318, 'n', "0.3127 0.329", [](TP& p) { p.ExifWhitePoint[0] = 0.3127, p.ExifWhitePoint[1] = 0.329; }},
      {"IFD0", 319, 'n', "0.64 0.33 0.3 0.6 0.15 0.06",
       [](TP& p) {
         const double v[] = {0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
         std::copy(v, v + 6, p.ExifPrimaryChromaticities);
       }},
      {"IFD0", 529, 'n', "0.299 0.587 0.114",
       [](TP& p) { p.ExifYCbCrCoefficients[0] = 0.299, p.ExifYCbCrCoefficients[1] = 0.587, p.ExifYCbCrCoefficients[2] = 0.114; }},
      {"IFD0", 531, 'n', "2", [](TP& p) { p.ExifYCbCrPositioning = 2; }},
      {"IFD0", 532, 'n', "0 255 128 255 128 255",
       [](TP& p) {
         const double v[] = {0, 255, 128, 255, 128, 255};
         std::copy(v, v + 6, p.ExifReferenceBlackWhite);
       }},
      {"IFD0", 33432, 's', "(c) Someone", [](TP& p) { p.ExifCopyright = "(c) Someone"; }},
      {"IFD0", 18246, 'n', "4", [](TP& p) { p.ExifRating = 4; }},
      {"IFD0", 40091, 'w', "Title \u00e9", [](TP& p) { p.ExifXPTitle = L"Title \u00e9"; }},
      {"IFD0", 40092, 'w', "C", [](TP& p) { p.ExifXPComment = L"C"; }},
      {"IFD0", 40093, 'w', "Author", [](TP& p) { p.ExifXPAuthor = L"Author"; }},
      {"IFD0", 40094, 'w', "key;words", [](TP& p) { p.ExifXPKeywords = L"key;words"; }},
      {"IFD0", 40095, 'w', "Subject", [](TP& p) { p.ExifXPSubject = L"Subject"; }},
      {"ExifIFD", 33434, 'n', "0.004", [](TP& p) { p.SetExifExposureTime(0.004); }},
      {"ExifIFD", 33437, 'n', "2.8", [](TP& p) { p.SetExifFNumber(2.8); }},
      {"ExifIFD", 34850, 'n', "2", [](TP& p) { p.SetExifExposureProgram(2); }},
      {"ExifIFD", 34855, 'n', "200 400", [](TP& p) { p.ExifISOSpeedRatings[0] = 200, p.ExifISOSpeedRatings[1] = 400; }},
      {"ExifIFD", 36864, 's', "0230", [](TP& p) { p.ExifExifVersion = "0230"; }},
      {"ExifIFD", 36867, 's', "2023:05:06 07:08:09", [](TP& p) { p.ExifDateTimeOriginal = "2023:05:06 07:08:09"; }},
      {"ExifIFD", 36868, 's', "2023:05:06 07:08:10", [](TP& p) { p.ExifDateTimeDigitized = "2023:05:06 07:08:10"; }},
      {"ExifIFD", 37122, 'n', "4", [](TP& p) { p.SetExifCompressedBitsPerPixel(4); }},
      {"ExifIFD", 37377, 'n', "8 | 0.00390625", [](TP& p) { p.SetExifShutterSpeedValue(8); }},
      {"ExifIFD", 37378, 'n', "3 | 2.82842712474619", [](TP& p) { p.SetExifApertureValue(3); }},
      {"ExifIFD", 37379, 'n', "-1.5", [](TP& p) { p.SetExifBrightnessValue(-1.5); }},
      {"ExifIFD", 37380, 'n', "-0.7", [](TP& p) { p.SetExifExposureBiasValue(-0.7); }},
      {"ExifIFD", 37381, 'n', "2.5 | 2.37841423000544", [](TP& p) { p.SetExifMaxApertureValue(2.5); }},
      {"ExifIFD", 37382, 'n', "3.5", [](TP& p) { p.SetExifSubjectDistance(3.5); }},
      {"ExifIFD", 37383, 'n', "5", [](TP& p) { p.SetExifMeteringMode(5); }},
      {"ExifIFD", 37384, 'n', "1", [](TP& p) { p.SetExifLightSource(1); }},
      {"ExifIFD", 37385, 'n', "16", [](TP& p) { p.SetExifFlash(16); }},
      {"ExifIFD", 37386, 'n', "35", [](TP& p) { p.SetExifFocalLength(35); }},
      {"ExifIFD", 37510, 'u', "Hello \u00e9t\u00e9", [](TP& p) { p.ExifUserComment = L"Hello \u00e9t\u00e9"; }},
      {"ExifIFD", 37520, 's', "12", [](TP& p) { p.ExifSubsecTime = "12"; }},
      {"ExifIFD", 37521, 's', "345", [](TP& p) { p.ExifSubsecTimeOriginal = "345"; }},
      {"ExifIFD", 37522, 's', "67890", [](TP& p) { p.ExifSubsecTimeDigitized = "67890"; }},
      {"ExifIFD", 40960, 's', "0100", [](TP& p) { p.ExifFlashPixVersion = "0100"; }},
      {"ExifIFD", 40961, 'n', "1", [](TP& p) { p.SetExifColorSpace(1); }},
      {"ExifIFD", 40962, 'n', "640", [](TP& p) { p.SetExifPixelXDimension(640); }},
      {"ExifIFD", 40963, 'n', "480", [](TP& p) { p.SetExifPixelYDimension(480); }},
      {"ExifIFD", 40964, 's', "SND00001.WAV", [](TP& p) { p.ExifRelatedSoundFile = "SND00001.WAV"; }},
      {"ExifIFD", 41486, 'n', "4000.5", [](TP& p) { p.SetExifFocalPlaneXResolution(4000.5); }},
      {"ExifIFD", 41487, 'n', "3999.25", [](TP& p) { p.SetExifFocalPlaneYResolution(3999.25); }},
      {"ExifIFD", 41488, 'n', "2", [](TP& p) { p.SetExifFocalPlaneResolutionUnit(2); }},
      {"ExifIFD", 41493, 'n', "100", [](TP& p) { p.SetExifExposureIndex(100); }},
      {"ExifIFD", 41495, 'n', "2", [](TP& p) { p.SetExifSensingMethod(2); }},
      {"ExifIFD", 41728, 'n', "3", [](TP& p) { p.SetExifFileSource(3); }},
      {"ExifIFD", 41729, 'n', "1", [](TP& p) { p.SetExifSceneType(1); }},
      {"ExifIFD", 41986, 'n', "1", [](TP& p) { p.ExifExposureMode = 1; }},
      {"ExifIFD", 41987, 'n', "1", [](TP& p) { p.ExifWhiteBalance = 1; }},
      {"ExifIFD", 41988, 'n', "1.5", [](TP& p) { p.ExifDigitalZoomRatio = 1.5; }},
      {"ExifIFD", 41989, 'n', "50", [](TP& p) { p.ExifFocalLengthIn35mmFilm = 50; }},
      {"ExifIFD", 41990, 'n', "2", [](TP& p) { p.ExifSceneCaptureType = 2; }},
      {"ExifIFD", 41991, 'n', "1", [](TP& p) { p.ExifGainControl = 1; }},
      {"ExifIFD", 41992, 'n', "1", [](TP& p) { p.ExifContrast = 1; }},
      {"ExifIFD", 41993, 'n', "2", [](TP& p) { p.ExifSaturation = 2; }},
      {"ExifIFD", 41994, 'n', "1", [](TP& p) { p.ExifSharpness = 1; }},
      {"ExifIFD", 41996, 'n', "3", [](TP& p) { p.ExifSubjectDistanceRange = 3; }},
      {"ExifIFD", 42016, 's', "0123456789abcdef0123456789abcdef", [](TP& p) { p.ExifImageUniqueID = "0123456789abcdef0123456789abcdef"; }},
      {"GPS", 0, 'n', "2 2 0 0", [](TP& p) { p.GPSVersionID = "2.2.0.0"; }},
      {"GPS", 1, 's', "N", [](TP& p) { p.GPSLatitudeRef = "N"; }},
      {"GPS", 2, 'n', "48 51 29.5 | 48.8581944444444", [](TP& p) { p.GPSLatitude[0] = 48, p.GPSLatitude[1] = 51, p.GPSLatitude[2] = 29.5; }},
      {"GPS", 3, 's', "E", [](TP& p) { p.GPSLongitudeRef = "E"; }},
      {"GPS", 4, 'n', "2 17 40.2 | 2.2945", [](TP& p) { p.GPSLongitude[0] = 2, p.GPSLongitude[1] = 17, p.GPSLongitude[2] = 40.2; }},
      {"GPS", 5, 'n', "1", [](TP& p) { p.GPSAltitudeRef = "1"; }},
      {"GPS", 6, 'n', "35.5", [](TP& p) { p.GPSAltitude = 35.5; }},
      {"GPS", 7, 'n', "12 30 15.25", [](TP& p) { p.GPSTimeStamp[0] = 12, p.GPSTimeStamp[1] = 30, p.GPSTimeStamp[2] = 15.25; }},
      {"GPS", 8, 's', "05", [](TP& p) { p.GPSSatellites = "05"; }},
      {"GPS", 9, 's', "A", [](TP& p) { p.GPSStatus = "A"; }},
      {"GPS", 10, 's', "3", [](TP& p) { p.GPSMeasureMode = "3"; }},
      {"GPS", 11, 'n', "1.2", [](TP& p) { p.GPSDOP = 1.2; }},
      {"GPS", 12, 's', "K", [](TP& p) { p.GPSSpeedRef = "K"; }},
      {"GPS", 13, 'n', "10.5", [](TP& p) { p.GPSSpeed = 10.5; }},
      {"GPS", 14, 's', "T", [](TP& p) { p.GPSTrackRef = "T"; }},
      {"GPS", 15, 'n', "90.25", [](TP& p) { p.GPSTrack = 90.25; }},
      {"GPS", 16, 's', "M", [](TP& p) { p.GPSImgDirectionRef = "M"; }},
      {"GPS", 17, 'n', "180.5", [](TP& p) { p.GPSImgDirection = 180.5; }},
      {"GPS", 18, 's', "WGS-84", [](TP& p) { p.GPSMapDatum = "WGS-84"; }},
      {"GPS", 19, 's', "S", [](TP& p) { p.GPSDestLatitudeRef = "S"; }},
      {"GPS", 20, 'n', "33 52 4 | 33.8677777777778", [](TP& p) { p.GPSDestLatitude[0] = 33, p.GPSDestLatitude[1] = 52, p.GPSDestLatitude[2] = 4; }},
      {"GPS", 21, 's', "W", [](TP& p) { p.GPSDestLongitudeRef = "W"; }},
      {"GPS", 22, 'n', "70 40 0.5 | 70.6668055555556", [](TP& p) { p.GPSDestLongitude[0] = 70, p.GPSDestLongitude[1] = 40, p.GPSDestLongitude[2] = 0.5; }},
      {"GPS", 23, 's', "T", [](TP& p) { p.GPSDestBearingRef = "T"; }},
      {"GPS", 24, 'n', "45.5", [](TP& p) { p.GPSDestBearing = 45.5; }},
      {"GPS", 25, 's', "K", [](TP& p) { p.GPSDestDistanceRef = "K"; }},
      {"GPS", 26, 'n', "3.25", [](TP& p) { p.GPSDestDistance = 3.25; }},
      {"GPS", 29, 's', "2024:01:02", [](TP& p) { p.GPSDateStamp = "2024:01:02"; }},
  };
}

// Writes the expectations and runs the check script on the file.
void ExpectToolsShow(const std::string& file, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  tq::WriteFileBytes(tq::WorkFile(file + ".expect"), text.data(), text.size());
  std::string out;
  EXPECT_EQ(tq::RunHost("/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/codecs_tiffw/tools/check_exif.py\" " + file + " " +
                            file + ".expect",
                        &out),
            0)
      << file << "\n" << out;
}

std::vector<std::string> Expectations(const std::vector<TField>& fields) {
  std::vector<std::string> lines;
  for (const TField& f : fields)
    lines.push_back(std::string(f.dir) + " " + std::to_string(f.tag) + " " + f.kind + " " + f.shown);
  return lines;
}

std::vector<uint8_t> SaveTIFF(TIEBitmap* b, TP& p) {
  TIEMemoryStream s;
  TIECodecProgress progress;
  std::atomic<bool> aborting{false};
  progress.Aborting = &aborting;
  EXPECT_EQ(IETIFFWrite(s, false, b, p, progress), 1);
  EXPECT_FALSE(aborting);
  return StreamBytes(s);
}

// A JPEG file as the input/output component saves it: the EXIF block among the markers.
std::vector<uint8_t> SaveJPEG(TIEBitmap& b, TP& p) {
  TIEMemoryStream s;
  TIECodecProgress progress;
  IEStoreExifMarker(&p);
  IEJPEGWrite(s, b, p, progress);
  return StreamBytes(s);
}

void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
  tq::WriteFileBytes(tq::WorkFile(name), bytes.data(), bytes.size());
}

// Our reader's view of a TIFF or JPEG file.
void ReadBack(const std::vector<uint8_t>& bytes, bool jpeg, TP& p) {
  TIEMemStream s(bytes.data(), int64_t(bytes.size()));
  TIEBitmap b;
  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  if (jpeg) IEJPEGRead(s, nullptr, b, p, progress, true, false, true, false, false, false, -1, false);
  else IETIFFRead(s, b, p, progress, true);
  EXPECT_FALSE(aborting);
}

// Every field written into a TIFF file and a JPEG EXIF block reads back in PIL and exiftool, and in
// our own reader.
TEST_F(Exif, EveryFieldReadsBackElsewhere) {
  TIEBitmap pic;
  MakePicture(pic, 32, 24);
  const std::vector<TField> fields = AllFields();
  for (bool jpeg : {false, true}) {
    TP p(nullptr);
    p.HasExifData = true;
    for (const TField& f : fields) f.set(p);
    const std::string file = jpeg ? "all.jpg" : "all.tif";
    const std::vector<uint8_t> bytes = jpeg ? SaveJPEG(pic, p) : SaveTIFF(&pic, p);
    Put(file, bytes);
    ExpectToolsShow(file, Expectations(fields));

    TP r(nullptr);
    ReadBack(bytes, jpeg, r);
    EXPECT_TRUE(r.HasExifData);
    EXPECT_EQ(r.ExifMake, "Maker Co");
    EXPECT_EQ(r.TIFFOrientation, 6);
    EXPECT_EQ(r.ExifXPTitle, L"Title \u00e9");
    EXPECT_EQ(r.ExifXPComment, L"C");
    EXPECT_EQ(r.ExifUserComment, L"Hello \u00e9t\u00e9");
    EXPECT_EQ(r.ExifUserCommentCode, std::string("UNICODE\0", 8));
    EXPECT_NEAR(r.ExifExposureBiasValue, -0.7, 1e-8);
    EXPECT_EQ(r.ExifISOSpeedRatings[1], 400);
    std::vector<int> got = r.ExifTags, want = p.ExifTags;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(r.GPSVersionID, "2.2.0.0");
    EXPECT_EQ(r.GPSAltitudeRef, "1");
    EXPECT_NEAR(r.GPSLongitude[2], 40.2, 1e-8);
    EXPECT_EQ(r.GPSMapDatum, "WGS-84");
    EXPECT_EQ(r.ExifExifVersion, "0230");
  }
}

// The forms outside the plain table: comment codes, texts past the 4 bytes of an entry, absent values
// and the GPS directory's condition.
TEST_F(Exif, CodesLongReferencesAndAbsentValues) {
  TIEBitmap pic;
  MakePicture(pic, 16, 8);
  const struct {
    const char* file;
    std::string code;  // of the user comment
    std::function<void(TP&)> set;
    std::vector<std::string> shown;
  } cases[] = {
      {"ascii.tif", std::string("ASCII\0\0\0", 8), [](TP&) {}, {"ExifIFD 37510 u plain words"}},
      {"other.tif", std::string(8, '\0'), [](TP&) {}, {"ExifIFD 37510 u plain words"}},
      // references and versions longer than an entry's 4 bytes go to an offset
      {"long.tif", "",
       [](TP& p) {
         p.GPSVersionID = "2.2.0.0.7";
         p.GPSLatitudeRef = "North";
       },
       {"GPS 0 n 2 2 0 0 7", "GPS 1 s North"}},
      // a reference kept with its NUL (count 2) stays inline as it was
      {"refnul.tif", "",
       [](TP& p) {
         p.GPSVersionID = "2.3.0.0";
         p.GPSLatitudeRef = std::string("S\0", 2);
       },
       {"GPS 1 s S"}},
      // no GPS version: no GPS directory whatever the other GPS fields hold; a field set back to its
      // absent value is not written
      {"nogps.tif", "",
       [](TP& p) {
         p.GPSLatitude[0] = 10;
         p.GPSLatitudeRef = "N";
         p.SetExifExposureTime(0.5);
         p.SetExifExposureTime(-1);
       },
       {"IFD0 34853 - x", "GPS 2 - x", "ExifIFD 33434 - x", "ExifIFD 531 - x"}},
  };
  for (auto& c : cases) {
    TP p(nullptr);
    p.HasExifData = true;
    p.ExifUserComment = L"plain words";
    p.ExifUserCommentCode = c.code;
    c.set(p);
    const std::vector<uint8_t> bytes = SaveTIFF(&pic, p);
    Put(c.file, bytes);
    ExpectToolsShow(c.file, c.shown);
    TP r(nullptr);
    ReadBack(bytes, false, r);
    EXPECT_EQ(r.ExifUserComment, L"plain words") << c.file;
    EXPECT_EQ(r.ExifUserCommentCode, c.code.empty() ? std::string("UNICODE\0", 8) : c.code) << c.file;
    EXPECT_EQ(r.GPSVersionID, p.GPSVersionID) << c.file;
    EXPECT_EQ(r.GPSLatitudeRef, p.GPSVersionID.empty() ? "" : p.GPSLatitudeRef) << c.file;
    EXPECT_EQ(r.ExifYCbCrPositioning, -1) << c.file;
  }
}

// Files exiftool tagged fill the fields when read.
TEST_F(Exif, ExiftoolTaggedFilesFillTheFields) {
  TIEBitmap pic;
  MakePicture(pic, 20, 10);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("plain.ppm")));
  const std::string tags =
      " -Make='Tool Make' -Model=T2 -Artist=Someone -ExposureTime=1/125 -FNumber=5.6 -ISO=800"
      " -ExposureCompensation=-1.3 -UserComment='from the tool' -XPTitle='Tool title' -Orientation#=8"
      " -GPSVersionID=2.3.0.0 -GPSLatitude=12.5 -GPSLatitudeRef=S -GPSAltitude=100.25 -GPSMapDatum=WGS-84";
  Host("pnmtotiff plain.ppm > tagged.tif 2>/dev/null && cjpeg plain.ppm > tagged.jpg && exiftool -q -overwrite_original" +
       tags + " tagged.tif tagged.jpg");
  for (bool jpeg : {false, true}) {
    TP r(nullptr);
    ReadBack(FileBytes(tq::WorkFile(jpeg ? "tagged.jpg" : "tagged.tif")), jpeg, r);
    const char* which = jpeg ? "jpeg" : "tiff";
    EXPECT_TRUE(r.HasExifData) << which;
    EXPECT_EQ(r.ExifMake, "Tool Make") << which;
    EXPECT_EQ(r.ExifModel, std::string("T2\0", 3)) << which;  // texts of up to 4 bytes as they stand
    EXPECT_EQ(r.ExifArtist, "Someone") << which;
    EXPECT_EQ(r.TIFFOrientation, 8) << which;
    EXPECT_NEAR(r.ExifExposureTime, 1.0 / 125, 1e-9) << which;
    EXPECT_NEAR(r.ExifFNumber, 5.6, 1e-9) << which;
    EXPECT_NEAR(r.ExifExposureBiasValue, -1.3, 1e-6) << which;
    EXPECT_EQ(r.ExifISOSpeedRatings[0], 800) << which;
    EXPECT_TRUE(r.ExifTagListed(33434) && r.ExifTagListed(33437)) << which;
    EXPECT_EQ(r.ExifUserComment, L"from the tool") << which;
    EXPECT_EQ(r.ExifXPTitle, L"Tool title") << which;
    EXPECT_EQ(r.GPSVersionID, "2.3.0.0") << which;
    EXPECT_EQ(r.GPSLatitudeRef, std::string("S\0", 2)) << which;
    EXPECT_NEAR(r.GPSLatitude[0], 12, 1e-9) << which;
    EXPECT_NEAR(r.GPSLatitude[1], 30, 1e-9) << which;
    EXPECT_NEAR(r.GPSAltitude, 100.25, 1e-9) << which;
    EXPECT_EQ(r.GPSMapDatum, "WGS-84") << which;
  }
}

}  // namespace
