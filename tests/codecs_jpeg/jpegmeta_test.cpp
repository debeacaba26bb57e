// JPEG metadata against exiftool, PIL and djpeg: XMP packets both ways, the EXIF orientation applied
// on load, the EXIF thumbnail read and written, and images' own ICC profiles converted to sRGB on
// load. Hostile EXIF and XMP blocks never crash.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "coder_fixtures.h"
#include "hostenv.h"
#include "iecmyk.h"
#include "ieexifglue.h"
#include "iepsd.h"
#include "imageryio.h"
#include "iotest_util.h"
#include "jpegtest_read.h"
#include "jpegfilt.h"

using fx::Bytes;
using namespace iotest;

namespace {

using jpegtest::Read;
using jpegtest::TRead;

// The EXIF block of p, as IESaveExifToBuffer builds it.
Bytes ExifBlock(TIOParamsVals& p, bool withHeader) {
  uint8_t* block = nullptr;
  size_t length = 0;
  IESaveExifToBuffer(&p, block, length, withHeader);
  const Bytes b(block, block + length);
  delete[] block;
  return b;
}

std::string HostRun(const std::string& command) {
  int rc = 0;
  const std::string out = fx::Host(command, &rc);
  EXPECT_EQ(rc, 0) << command << "\n" << out;
  return out;
}

// The pixels of a PPM in the work folder, as a bitmap.
bool LoadPPM(const std::string& name, TIEBitmap& b) {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  if (!ReadPPM(tq::WorkFile(name), w, h, rgb)) return false;
  b.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
      row[3 * x] = p[2];
      row[3 * x + 1] = p[1];
      row[3 * x + 2] = p[0];
    }
  }
  return true;
}

int MaxDiff(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return 1000;
  int m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
  return m;
}

const char* kAdobeRGB = "/usr/share/color/icc/colord/AdobeRGB1998.icc";

// R, G, B pixels from the profile file `from` to the system sRGB profile, by the reference engine.
Bytes ToSystemSRGB(const std::string& from, const Bytes& rgb) {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  const std::string srgb = tq::UnixPath(std::string(dir) + "\\spool\\drivers\\color\\sRGB Color Space Profile.icm");
  EXPECT_TRUE(fx::WriteWork("plain.raw", rgb));
  const std::string script = tq::UnixPath(tq::SourceDir() + "\\tests\\imgmeta\\iccref.py");
  HostRun("/usr/bin/python3 " + tq::ShellQuote(script) + " " + from + " " + tq::ShellQuote(srgb) + " RGB RGB " +
          std::to_string(rgb.size() / 3) + " plain.raw ref.raw");
  return fx::ReadWork("ref.raw");
}

// A cjpeg file of a 101 x 77 picture, made once: base.jpg, and its decoded pixels base.ppm.
void MakeBase() {
  static bool made = false;
  if (made) return;
  made = true;
  TIEBitmap picture;
  MakePicture(picture, 101, 77);
  ASSERT_TRUE(WritePPM(picture, tq::WorkFile("src.ppm")));
  HostRun("cjpeg -quality 90 src.ppm > base.jpg && djpeg base.jpg > base.ppm");
}

// Saves through the component (EXIF and XMP markers are prepared there) and returns the file.
Bytes SaveJPEG(TIEBitmap& picture, const std::function<void(TIOParamsVals&)>& set, const std::string& name) {
  TImageryIO io(&picture);
  set(io.Params);
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffJPEG);
  EXPECT_FALSE(io.Aborting);
  const Bytes file = fx::StreamBytes(s);
  EXPECT_TRUE(fx::WriteWork(name, file));
  return file;
}

}  // namespace

// A packet exiftool writes loads into XMPInfo; one we save replaces it and is the only XMP marker
// exiftool and PIL find.
TEST(JPEGMeta, XMPBothWays) {
  MakeBase();
  HostRun("cp base.jpg xmp.jpg && exiftool -q -overwrite_original -XMP-dc:Title=Quillomart xmp.jpg");
  TIEBitmap b;
  TIOParamsVals p(nullptr);
  ASSERT_FALSE(Read(fx::ReadWork("xmp.jpg"), b, p).aborted);
  EXPECT_NE(p.XMPInfo.find("Quillomart"), std::string::npos);

  TImageryIO io(&b);
  io.Params.Assign(p);
  const size_t at = io.Params.XMPInfo.find("Quillomart");
  io.Params.XMPInfo.replace(at, 10, "Tevarnic slides");
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffJPEG);
  ASSERT_FALSE(io.Aborting);
  ASSERT_TRUE(fx::WriteWork("xmp2.jpg", fx::StreamBytes(s)));
  EXPECT_EQ(HostRun("exiftool -s3 -XMP-dc:Title xmp2.jpg"), "Tevarnic slides\n");
  EXPECT_EQ(HostRun("/usr/bin/python3 -c \"from PIL import Image\n"
                "im = Image.open('xmp2.jpg')\n"
                "print(sum(1 for m, d in im.applist if m == 'APP1' and d.startswith(b'http://ns.adobe.com/xap/1.0/')))\""),
            "1\n");

  // an emptied packet takes the marker away
  TImageryIO none(&b);
  none.Params.Assign(p);
  none.Params.XMPInfo.clear();
  TIEMemoryStream s2;
  none.SaveStreamAsFileType(s2, iffJPEG);
  TIEBitmap c;
  TIOParamsVals q(nullptr);
  ASSERT_FALSE(Read(fx::StreamBytes(s2), c, q).aborted);
  EXPECT_TRUE(q.XMPInfo.empty());
}

// With JPEGEnableAdjustOrientation every EXIF orientation gives PIL's exif_transpose of the same
// file, and the orientation then reads 1; without it the image stays as stored.
TEST(JPEGMeta, OrientationAppliedOnLoad) {
  MakeBase();
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string name = "orient" + std::to_string(o);
    HostRun("cp base.jpg " + name + ".jpg && exiftool -q -overwrite_original -n -Orientation=" + std::to_string(o) + " " +
        name + ".jpg && /usr/bin/python3 -c \"from PIL import Image, ImageOps\n"
        "ImageOps.exif_transpose(Image.open('" + name + ".jpg')).save('" + name + ".ppm')\"");
    const Bytes file = fx::ReadWork(name + ".jpg");
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    p.JPEGEnableAdjustOrientation = true;
    ASSERT_FALSE(Read(file, b, p).aborted);
    EXPECT_EQ(p.ExifOrientation, 1);
    EXPECT_EQ(p.Width, b.GetImageWidth());
    TIEBitmap expected;
    ASSERT_TRUE(LoadPPM(name + ".ppm", expected));
    ASSERT_EQ(b.GetImageWidth(), expected.GetImageWidth());
    ASSERT_EQ(b.GetImageHeight(), expected.GetImageHeight());
    EXPECT_TRUE(RGBOf(b) == RGBOf(expected));

    TIEBitmap stored;
    TIOParamsVals plain(nullptr);
    ASSERT_FALSE(Read(file, stored, plain).aborted);
    EXPECT_EQ(plain.ExifOrientation, o);
    EXPECT_EQ(stored.GetImageWidth(), 101);
  }
}

// A thumbnail exiftool puts into IFD 1 loads as djpeg decodes it, and JPEGReadExifThumbnail delivers
// it in place of the image; a file without one gives the image.
TEST(JPEGMeta, ThumbnailFromExiftool) {
  MakeBase();
  TIEBitmap small;
  MakePicture(small, 40, 30);
  ASSERT_TRUE(WritePPM(small, tq::WorkFile("small.ppm")));
  HostRun("cjpeg -quality 75 small.ppm > small.jpg && djpeg small.jpg > small_dec.ppm && cp base.jpg thumb.jpg && "
      "exiftool -q -overwrite_original -Make=Tevarnic '-ThumbnailImage<=small.jpg' thumb.jpg");
  TIEBitmap expected;
  ASSERT_TRUE(LoadPPM("small_dec.ppm", expected));
  const Bytes file = fx::ReadWork("thumb.jpg");

  TIEBitmap b;
  TIOParamsVals p(nullptr);
  ASSERT_FALSE(Read(file, b, p).aborted);
  EXPECT_EQ(p.ExifMake, "Tevarnic");
  ASSERT_TRUE(p.ExifThumbnail);
  ASSERT_EQ(p.ExifThumbnail->GetImageWidth(), 40);
  EXPECT_TRUE(RGBOf(*p.ExifThumbnail) == RGBOf(expected));
  EXPECT_EQ(b.GetImageWidth(), 101);

  TIEBitmap t;
  TIOParamsVals q(nullptr);
  q.SetReadThumbnail(true);
  EXPECT_EQ(Read(file, t, q).rows, 0);
  EXPECT_TRUE(RGBOf(t) == RGBOf(expected));
  EXPECT_EQ(q.Width, 101);  // the image's own size
  EXPECT_TRUE(q.JPEGReadExifThumbnail);

  TIEBitmap whole;
  TIOParamsVals r(nullptr);
  r.SetReadThumbnail(true);
  EXPECT_EQ(Read(fx::ReadWork("base.jpg"), whole, r).rows, 77);
  EXPECT_EQ(whole.GetImageWidth(), 101);
}

// A thumbnail we write into the EXIF block is what exiftool extracts (PIL decodes it as we do), and
// it loads back; in a TIFF-structure block without a header as well.
TEST(JPEGMeta, ThumbnailWritten) {
  TIEBitmap picture, thumb(48, 36, ie24RGB);
  MakePicture(picture, 120, 90);
  for (int y = 0; y < 36; ++y)  // smooth, so that the lossy copy stays close
    for (int x = 0; x < 48; ++x) {
      uint8_t* px = thumb.GetRowAddress(y) + 3 * x;
      px[0] = uint8_t(x * 5);
      px[1] = uint8_t(y * 7);
      px[2] = uint8_t(200 - x * 2 - y);
    }
  SaveJPEG(picture,
           [&](TIOParamsVals& p) {
             p.HasExifData = true;
             p.ExifMake = "Tevarnic";
             p.ExifThumbnail = std::make_shared<TIEBitmap>();
             p.ExifThumbnail->Assign(&thumb);
           },
           "withthumb.jpg");
  EXPECT_EQ(HostRun("exiftool -b -ThumbnailImage withthumb.jpg > extracted.jpg && exiftool -s3 -Make withthumb.jpg"),
            "Tevarnic\n");
  HostRun("/usr/bin/python3 -c \"from PIL import Image\nImage.open('extracted.jpg').convert('RGB').save('extracted.ppm')\"");
  TIEBitmap extracted;
  ASSERT_TRUE(LoadPPM("extracted.ppm", extracted));
  ASSERT_EQ(extracted.GetImageWidth(), 48);
  ASSERT_EQ(extracted.GetImageHeight(), 36);
  int total = 0;
  const Bytes a = RGBOf(extracted), o = RGBOf(thumb);
  for (size_t i = 0; i < a.size(); ++i) total += std::abs(int(a[i]) - int(o[i]));
  EXPECT_LT(double(total) / double(a.size()), 3.0);  // lossy, but the same picture

  TIEBitmap b;
  TIOParamsVals p(nullptr);
  ASSERT_FALSE(Read(fx::ReadWork("withthumb.jpg"), b, p).aborted);
  ASSERT_TRUE(p.ExifThumbnail);
  EXPECT_TRUE(RGBOf(*p.ExifThumbnail) == a);  // the same decoder underneath PIL

  // with an orientation the thumbnail is stored as the image lies and read back upright, so that
  // loading and saving again changes nothing
  p.SetExifOrientation(6);
  const Bytes turned = ExifBlock(p, true);
  TIOParamsVals t(nullptr);
  ASSERT_TRUE(IELoadExifFromMarker(turned.data(), turned.size(), &t));
  ASSERT_TRUE(t.ExifThumbnail);
  EXPECT_EQ(t.ExifOrientation, 6);
  EXPECT_EQ(t.ExifThumbnail->GetImageWidth(), 48);
  EXPECT_LE(MaxDiff(RGBOf(*t.ExifThumbnail), a), 12);  // a second lossy pass
  p.SetExifOrientation(1);

  // the block alone: a TIFF structure whose second directory holds the thumbnail
  ASSERT_TRUE(fx::WriteWork("block.tif", ExifBlock(p, false)));
  EXPECT_EQ(HostRun("exiftool -s3 -IFD1:Compression -n block.tif"), "6\n");
}

// An image's own profile converts its pixels to sRGB on load when IEApplyICCProfiles asks for it, as
// the reference engine converts the plain decode; the profile is then spent and its markers gone.
TEST(JPEGMeta, EmbeddedProfileToSRGB) {
  MakeBase();
  const std::string adobe = kAdobeRGB;
  HostRun("/usr/bin/python3 -c \"from PIL import Image\nImage.open('base.ppm').save('adobe.jpg', quality=95, "
      "icc_profile=open('" + adobe + "', 'rb').read())\"");
  const Bytes file = fx::ReadWork("adobe.jpg");

  TIEBitmap plain;
  TIOParamsVals p(nullptr);
  ASSERT_FALSE(Read(file, plain, p).aborted);
  EXPECT_TRUE(p.InputICCProfile.IsValid());
  EXPECT_FALSE(p.InputICCProfile.Applied);
  EXPECT_NE(p.JPEGMarkerList.FindMarkerIndex(0xE2), -1);

  const bool saved = IEApplyICCProfiles;
  IEApplyICCProfiles = true;
  TIEBitmap managed;
  TIOParamsVals q(nullptr);
  const TRead r = Read(file, managed, q);
  TIEBitmap notAsked;
  TIOParamsVals n(nullptr);
  Read(file, notAsked, n, false, false, 0, -1, false);  // ApplyICC off: as stored
  IEApplyICCProfiles = saved;
  ASSERT_FALSE(r.aborted);
  EXPECT_TRUE(q.InputICCProfile.Applied);
  EXPECT_EQ(q.JPEGMarkerList.FindMarkerIndex(0xE2), -1);
  EXPECT_TRUE(RGBOf(notAsked) == RGBOf(plain));

  const Bytes rgb = RGBOf(plain);
  EXPECT_LE(MaxDiff(RGBOf(managed), ToSystemSRGB(kAdobeRGB, rgb)), 2);
  EXPECT_GT(MaxDiff(RGBOf(managed), rgb), 8);  // the conversion did something
}

// A PSD whose ICC resource ImageMagick wrote is converted the same way, and left alone unless asked.
TEST(JPEGMeta, PSDProfileToSRGB) {
  MakeBase();
  HostRun("convert base.ppm -profile " + std::string(kAdobeRGB) + " adobe.psd");
  const Bytes file = fx::ReadWork("adobe.psd");
  auto read = [&](TIEBitmap& b, TIOParamsVals& p) {
    TIEMemStream s(file.data(), int64_t(file.size()));
    std::atomic<bool> abort{false};
    TIECodecProgress progress;
    progress.Aborting = &abort;
    TIEPSDLayerList none;
    IEPSDRead(s, &b, p, progress, false, &none);
    EXPECT_FALSE(abort);
  };
  TIEBitmap plain, managed;
  TIOParamsVals p(nullptr), q(nullptr);
  read(plain, p);
  EXPECT_TRUE(p.InputICCProfile.IsValid());
  EXPECT_FALSE(p.InputICCProfile.Applied);
  const bool saved = IEApplyICCProfiles;
  IEApplyICCProfiles = true;
  read(managed, q);
  IEApplyICCProfiles = saved;
  EXPECT_TRUE(q.InputICCProfile.Applied);
  const Bytes rgb = RGBOf(plain);
  ASSERT_EQ(rgb.size(), size_t(101 * 77 * 3));
  EXPECT_LE(MaxDiff(RGBOf(managed), ToSystemSRGB(kAdobeRGB, rgb)), 2);
  EXPECT_GT(MaxDiff(RGBOf(managed), rgb), 8);
}

// Mutated EXIF blocks (with a thumbnail) and XMP payloads load or are refused, never crash, and a
// thumbnail claiming a huge size is not decoded.
TEST(JPEGMeta, MutatedBlocksNeverCrash) {
  TIEBitmap thumb;
  MakePicture(thumb, 32, 24);
  TIOParamsVals p(nullptr);
  p.HasExifData = true;
  p.ExifMake = "Tevarnic";
  p.GPSVersionID = "2.2.0.0";
  p.ExifThumbnail = std::make_shared<TIEBitmap>();
  p.ExifThumbnail->Assign(&thumb);
  const Bytes valid = ExifBlock(p, true);
  {
    TIOParamsVals q(nullptr);
    ASSERT_TRUE(IELoadExifFromMarker(valid.data(), valid.size(), &q));
    ASSERT_TRUE(q.ExifThumbnail);
    EXPECT_EQ(q.ExifThumbnail->GetImageWidth(), 32);
  }
  for (const Bytes& m : fx::Mutations(valid, 400, 77)) {
    fx::GuardedBlock g(m);
    TIOParamsVals q(nullptr);
    IELoadExifFromMarker(g.data(), m.size(), &q);
  }
  // the thumbnail's frame header claiming 65000 x 65000
  Bytes huge = valid;
  for (size_t i = 6; i + 8 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 7] = 0xFD;
      huge[i + 6] = huge[i + 8] = 0xE8;
      break;
    }
  TIOParamsVals q(nullptr);
  EXPECT_TRUE(IELoadExifFromMarker(huge.data(), huge.size(), &q));
  ASSERT_TRUE(q.ExifThumbnail);
  EXPECT_TRUE(q.ExifThumbnail->IsEmpty());

  p.XMPInfo = "<x:xmpmeta>tevarnic</x:xmpmeta>";
  uint8_t* block = nullptr;
  size_t length = 0;
  IESaveXMPToBuffer(&p, block, length);
  const Bytes xmp(block, block + length);
  delete[] block;
  for (const Bytes& m : fx::Mutations(xmp, 200, 5)) {
    fx::GuardedBlock g(m);
    TIOParamsVals r(nullptr);
    if (IELoadXMPFromMarker(g.data(), m.size(), &r)) {
      EXPECT_LE(r.XMPInfo.size(), m.size());
    }
  }
}
