// The per-format members by name: every load and save pair on a small picture, the files checked by
// the host's decoders; and the stream headers of the JPEG, PCX and TIFF stream members.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hostenv.h"
#include "imageryio.h"
#include "iotest_util.h"

using namespace iotest;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

using StreamOp = std::function<void(TImageryIO&, TIEStream&)>;
using FileOp = std::function<void(TImageryIO&, const std::wstring&)>;

struct MemberCase {
  const char* ext;
  TIEFileFormatCode type;
  StreamOp saveStream, loadStream;
  FileOp saveFile, loadFile;
  const char* hostDecoder;  // {in} -> {out} as PPM
  bool lossless;            // else the load is compared with the host's decoding
  int colours;              // 0: a full-colour picture
};

#define MEMBERS(F)                                                                  \
  [](TImageryIO& io, TIEStream& s) { io.Save##F##Stream(s); },                     \
  [](TImageryIO& io, TIEStream& s) { io.Load##F##Stream(s); },                      \
  [](TImageryIO& io, const std::wstring& n) { io.Save##F##File(n); },               \
  [](TImageryIO& io, const std::wstring& n) { io.Load##F##File(n); }

const MemberCase kCases[] = {
    {"bmp", iffBMP, MEMBERS(BMP), "bmptopnm {in} > {out}", true, 0},
    {"png", iffPNG, MEMBERS(PNG), "pngtopnm {in} > {out}", true, 0},
    {"tga", iffTGA, MEMBERS(TGA), "tgatoppm {in} > {out}", true, 0},
    {"pcx", iffPCX, MEMBERS(PCX), "pcxtoppm {in} > {out}", true, 0},
    {"ppm", iffPXM, MEMBERS(PXM), "cat {in} > {out}", true, 0},
    {"tif", iffTIFF, MEMBERS(TIFF), "tifftopnm {in} > {out}", true, 0},
    {"gif", iffGIF, MEMBERS(GIF), "giftopnm {in} > {out}", true, 64},
    {"jp2", iffJP2, MEMBERS(JP2), "opj_decompress -quiet -i {in} -o {out}", true, 0},
    {"j2k", iffJ2K, MEMBERS(J2K), "opj_decompress -quiet -i {in} -o {out}", true, 0},
    {"dcx", iffDCX, MEMBERS(DCX), "/usr/bin/convert dcx:{in}[0] {out}", true, 0},
    {"jpg", iffJPEG, MEMBERS(JPEG), "djpeg -dct int {in} > {out}", false, 0},
};

}  // namespace

TEST(FormatMembers, EachLoadAndSavePairAgreesWithTheHostDecoders) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools not reachable";
  for (const MemberCase& c : kCases) {
    SCOPED_TRACE(c.ext);
    TIEBitmap picture;
    MakePicture(picture, 19, 11, c.colours);
    TImageryIO io(&picture);
    const std::string name = std::string("member.") + c.ext;
    c.saveFile(io, W(tq::WorkFile(name)));
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params.FileType, c.type);
    TIEBitmap expected;
    if (c.lossless) {
      expected.Assign(&picture);
      ExpectHostDecodes(picture, name, c.hostDecoder);
    } else {  // lossy: the host's decoding is what a load must give
      std::string cmd = c.hostDecoder;
      cmd.replace(cmd.find("{in}"), 4, name);
      cmd.replace(cmd.find("{out}"), 5, name + ".host.ppm");
      Host(cmd);
      int w = 0, h = 0;
      std::vector<uint8_t> rgb;
      ASSERT_TRUE(ReadPPM(tq::WorkFile(name + ".host.ppm"), w, h, rgb));
      expected.Allocate(w, h, ie24RGB);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t* p = &rgb[3 * (size_t(y) * w + x)];
          expected.SetRGB(x, y, IEMakeRGB(p[0], p[1], p[2]));
        }
    }

    // the stream saver writes what the file saver wrote
    TIEMemoryStream saved;
    c.saveStream(io, saved);
    ASSERT_FALSE(io.Aborting);
    std::vector<unsigned char> fileBytes;
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(name), fileBytes));
    ASSERT_EQ(size_t(saved.GetSize()), fileBytes.size());
    EXPECT_EQ(std::memcmp(saved.Memory(), fileBytes.data(), fileBytes.size()), 0);

    TIEBitmap byFile, byStream;
    TImageryIO fileReader(&byFile), streamReader(&byStream);
    c.loadFile(fileReader, W(tq::WorkFile(name)));
    ASSERT_FALSE(fileReader.Aborting);
    EXPECT_EQ(fileReader.Params.FileType, c.type);
    ExpectSamePixels(expected, byFile);
    saved.SetPosition(0);
    c.loadStream(streamReader, saved);
    ASSERT_FALSE(streamReader.Aborting);
    EXPECT_EQ(streamReader.Params.FileType, c.type);
    ExpectSamePixels(expected, byStream);
  }
}

TEST(FormatMembers, MultiImageLoadersReturnTheImageCount) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools not reachable";
  TIEBitmap picture;
  MakePicture(picture, 8, 6, 16);
  ASSERT_TRUE(WritePPM(picture, tq::WorkFile("count.ppm")));
  Host("/usr/bin/convert count.ppm count.ppm count.ppm count3.tif");
  Host("/usr/bin/convert count.ppm count.ppm -loop 0 count2.gif");
  TIEBitmap back;
  TImageryIO io(&back);
  EXPECT_EQ(io.LoadTIFFFile(W(tq::WorkFile("count3.tif"))), 3);
  EXPECT_EQ(io.LoadGIFFile(W(tq::WorkFile("count2.gif"))), 2);
  TIEMemoryStream s;
  io.SaveTIFFStream(s);
  s.SetPosition(0);
  EXPECT_EQ(io.ReadTIFF(s), 1);
  EXPECT_EQ(io.Params.TIFFImageCount, 1);
}

struct HeaderCase {
  TIEFileFormatCode type;
  const char* magic;
  const char* hostCheck;  // the image behind the header, as {in}, read by a host tool
};

TEST(StreamHeaders, SavedImagesCarryTheirHeaderAndLoadBackOneAfterTheOther) {
  const HeaderCase cases[] = {
      {iffJPEG, "JFIF", "djpeg {in} > /dev/null"},
      {iffPCX, "PCX2", "pcxtoppm {in} > /dev/null"},
      {iffTIFF, "TIFF", "tiffinfo {in}"},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.magic);
    TIEBitmap picture;
    MakePicture(picture, 13, 9);
    TImageryIO io(&picture);
    io.StreamHeaders = true;
    TIEMemoryStream s;
    io.SaveStreamAsFileType(s, c.type);
    ASSERT_FALSE(io.Aborting);
    const int64_t first = s.GetSize();
    io.SaveStreamAsFileType(s, c.type);
    const auto* bytes = static_cast<const uint8_t*>(s.Memory());
    ASSERT_EQ(std::memcmp(bytes, c.magic, 5), 0);
    EXPECT_EQ(int64_t(IEReadU32LE(bytes + 8)), first - 12);
    if (ToolsPresent()) {
      const std::string name = std::string("headed.") + c.magic;
      ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(name), bytes + 12, size_t(first - 12)));
      std::string cmd = c.hostCheck;
      cmd.replace(cmd.find("{in}"), 4, name);
      Host(cmd);
    }

    TIEBitmap back;
    TImageryIO reader(&back);
    reader.StreamHeaders = true;
    s.SetPosition(0);
    for (int i = 0; i < 2; ++i) {
      reader.LoadStreamAsFileType(s, c.type);
      ASSERT_FALSE(reader.Aborting);
      EXPECT_EQ(s.GetPosition(), first * (i + 1)) << "the stream stops just after image " << i;
      EXPECT_EQ(back.GetImageWidth(), 13);
      if (c.type != iffJPEG) ExpectSamePixels(picture, back);
    }
  }
}

TEST(StreamHeaders, JPEGLoadsWithOrWithoutAndTIFFWantsItsMagic) {
  TIEBitmap picture;
  MakePicture(picture, 10, 10);
  TImageryIO io(&picture);
  io.StreamHeaders = true;
  TIEMemoryStream headed;
  io.SaveJPEGStream(headed);
  TIEBitmap back;
  TImageryIO reader(&back);  // StreamHeaders off
  headed.SetPosition(0);
  reader.LoadJPEGStream(headed);
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(back.GetImageWidth(), 10);
  EXPECT_EQ(headed.GetPosition(), headed.GetSize());

  reader.StreamHeaders = true;
  TIEMemoryStream plain;
  io.StreamHeaders = false;
  io.SaveTIFFStream(plain);
  plain.SetPosition(0);
  EXPECT_EQ(reader.LoadTIFFStream(plain), 0);
  EXPECT_TRUE(reader.Aborting);
}
