#include "imageryio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>
#include <psapi.h>

#include "hostenv.h"
#include "iewic.h"
#include "ieviewservices.h"
#include "iotest_util.h"

using namespace iotest;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool FileExists(const std::string& winPath) {
  return GetFileAttributesA(winPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string BytesOf(const std::string& path) {
  std::vector<unsigned char> v;
  tq::ReadFileBytes(path, v);
  return std::string(v.begin(), v.end());
}

}  // namespace

TEST(IEFileFormatRegistry, ExtensionsAndTypes) {
  // HD Photo is appended only where the platform's imaging component decodes it
  ASSERT_EQ(IEFileFormatRegistry().size(), IEWICAvailable() ? 26u : 25u);
  for (const char* e : {".JPG", "jpg", "JPG"}) EXPECT_EQ(IEFileTypeOfExtension(e), iffJPEG) << e;
  EXPECT_EQ(IEFileTypeOfExtension("xif"), iffTIFF);
  EXPECT_EQ(IEFileTypeOfExtension("pix"), iffTGA);
  EXPECT_EQ(IEFileTypeOfExtension(".rle"), iffBMP);
  EXPECT_EQ(IEFileFormatByExtension(""), nullptr);
  EXPECT_EQ(IEFileTypeOfExtension("hdp"), IEWICAvailable() ? iffHDP : 0);
  EXPECT_EQ(IEFileFormatExtension(iffJ2K, 2), "J2C");
  EXPECT_EQ(IEFileFormatExtensionCount(iffTGA), 6);
}

// The conversion's outputs and the plain bitmap: saved by extension, reloaded identical, and read to
// the same pixels by the host's own decoders.
struct SaveCase {
  const char* name;
  TIEFileFormatCode type;
  const char* hostDecoder;  // {in} our file, {out} the PPM it writes
};
const SaveCase kSaveCases[] = {
    {"slide.tga", iffTGA, "/usr/bin/tgatoppm {in} > {out}"},
    {"slide.pcx", iffPCX, "/usr/bin/pcxtoppm {in} > {out}"},
    {"slide.rle", iffBMP, "/usr/bin/bmptoppm {in} > {out}"},
    {"upper.RLE", iffBMP, "/usr/bin/bmptoppm {in} > {out}"},
    {"slide.bmp", iffBMP, "/usr/bin/bmptoppm {in} > {out}"},
    {"slide.jp2", iffJP2, "/usr/bin/opj_decompress -i {in} -o {out} >/dev/null"},
    {"slide.j2k", iffJ2K, "/usr/bin/opj_decompress -i {in} -o {out} >/dev/null"},
    {"slide.jpc", iffJ2K, "/usr/bin/opj_decompress -i {in} -o {out} >/dev/null"},
};

class SaveByExtensionTest : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveByExtensionTest, ReloadsIdenticalAndHostAgrees) {
  const SaveCase& c = GetParam();
  TIEBitmap picture;
  MakePicture(picture, 67, 41);  // odd width: row padding of every format
  TImageryIO io(&picture);
  io.SaveByExtension(W(tq::WorkFile(c.name)));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, c.type);
  EXPECT_EQ(picture.GetPixelFormat(), ie24RGB);

  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile(c.name)));
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(reader.Params.FileType, c.type);
  ExpectSamePixels(picture, back);
  if (ToolsPresent()) ExpectHostDecodes(picture, c.name, c.hostDecoder);
}

INSTANTIATE_TEST_SUITE_P(Outputs, SaveByExtensionTest, ::testing::ValuesIn(kSaveCases),
                         [](const ::testing::TestParamInfo<SaveCase>& i) {
                           std::string n = i.param.name;
                           for (char& ch : n) if (ch == '.') ch = '_';
                           return n;
                         });

TEST(SaveByExtension, RleIsAnUncompressedBottomUpBitmapWith54ByteHeader) {
  TIEBitmap picture;
  MakePicture(picture, 5, 3);
  TImageryIO io(&picture);
  io.SaveByExtension(W(tq::WorkFile("tiny.rle")));
  std::vector<unsigned char> f;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("tiny.rle"), f));
  ASSERT_EQ(f.size(), 54u + 16 * 3);  // rows of 15 bytes padded to 16
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[10], 54);
  EXPECT_EQ(f[14], 40);
  EXPECT_EQ(f[28], 24);
  EXPECT_EQ(f[30], 0);  // no compression
  // the first stored row is the bottom row
  EXPECT_EQ(f[54], picture.GetRowAddress(2)[0]);
}

TEST(SaveByExtension, WritersConvertACopyNeverTheCallersBitmap) {
  TIEBitmap grey;
  ASSERT_TRUE(grey.Allocate(9, 4, ie8g));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) grey.GetRowAddress(y)[x] = uint8_t(x * 20 + y);
  TImageryIO io(&grey);
  for (const char* name : {"grey.tga", "grey.pcx", "grey.jp2", "grey.bmp"}) {
    io.SaveByExtension(W(tq::WorkFile(name)));
    EXPECT_FALSE(io.Aborting) << name;
    EXPECT_EQ(grey.GetPixelFormat(), ie8g) << name;
    TIEBitmap back;
    TImageryIO reader(&back);
    reader.LoadByExtension(W(tq::WorkFile(name)));
    ASSERT_FALSE(reader.Aborting) << name;
    ExpectSamePixels(grey, back);
  }
}

// 16-bit samples saved to a PPM file stay 16-bit: netpbm reads them back exactly, and so do we.
TEST(SaveByExtension, PixmapFilesKeepSixteenBitSamples) {
  if (!ToolsPresent()) GTEST_SKIP();
  const uint16_t kSamples[] = {1, 30001, 65535, 0, 256, 255, 32768, 12345, 65534, 7, 40000, 2};
  TIEBitmap deep;
  ASSERT_TRUE(deep.Allocate(2, 2, ieRGB48));
  for (int y = 0; y < 2; ++y)
    std::memcpy(deep.GetRowAddress(y), kSamples + 6 * y, 6 * sizeof(uint16_t));  // R, G, B per pixel
  TImageryIO io(&deep);
  io.SaveByExtension(W(tq::WorkFile("rgb48.ppm")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(deep.GetPixelFormat(), ieRGB48);

  std::string plain;
  ASSERT_EQ(tq::RunHost("/usr/bin/pnmtoplainpnm rgb48.ppm", &plain), 0) << plain;
  std::vector<std::string> found;
  std::istringstream words(plain);
  for (std::string w; words >> w;) found.push_back(w);
  ASSERT_EQ(found.size(), 4u + 12u) << plain;
  EXPECT_EQ(found[0], "P3");
  EXPECT_EQ(found[3], "65535");
  for (int i = 0; i < 12; ++i) EXPECT_EQ(found[4 + i], std::to_string(kSamples[i])) << i;

  TImageryIO reader;
  reader.Params.IsNativePixelFormat = true;
  reader.LoadByExtension(W(tq::WorkFile("rgb48.ppm")));
  ASSERT_FALSE(reader.Aborting);
  TIEBitmap* back = reader.GetIEBitmap();
  ASSERT_EQ(back->GetPixelFormat(), ieRGB48);
  for (int y = 0; y < 2; ++y)
    EXPECT_EQ(std::memcmp(back->GetRowAddress(y), kSamples + 6 * y, 6 * sizeof(uint16_t)), 0) << y;
}

TEST(SaveByExtension, FormatsWithoutWriterFailWithoutCreatingAFile) {
  TIEBitmap picture;
  MakePicture(picture, 8, 8);
  TImageryIO io(&picture);
  for (const char* name : {"none.hdp", "none.cur", "none.xyz", "none.dcm"}) {
    io.Aborting = false;
    io.SaveByExtension(W(tq::WorkFile(name)));
    EXPECT_TRUE(io.Aborting) << name;
    EXPECT_FALSE(FileExists(tq::WorkFile(name))) << name;
  }
}

// A save the writer refuses (no PCX layout has 16-bit samples), or one that cannot replace the target,
// leaves neither a stub nor a half-written file: an existing file keeps its bytes and no temporary file
// stays beside it. A save that succeeds replaces the file whole.
TEST(SaveByExtension, RefusedOrFailedSavesLeaveTheTargetAsItWas) {
  TIEBitmap picture;
  MakePicture(picture, 16, 16);
  TImageryIO io(&picture);
  const std::string fresh = tq::WorkFile("refused.pcx"), existing = tq::WorkFile("kept.pcx");
  const std::string old = "bytes of another program";
  DeleteFileA(fresh.c_str());
  ASSERT_TRUE(tq::WriteFileBytes(existing, old.data(), old.size()));

  io.Params.BitsPerSample = 16;
  io.Params.SamplesPerPixel = 1;
  for (const std::string& path : {fresh, existing}) {
    io.Aborting = false;
    io.SaveByExtension(W(path));
    EXPECT_TRUE(io.Aborting) << path;
  }
  EXPECT_FALSE(FileExists(fresh));
  EXPECT_EQ(BytesOf(existing), old);

  io.Params.BitsPerSample = 8;
  io.Params.SamplesPerPixel = 3;
  // Held open without sharing by another program: the save fails before anything is written.
  HANDLE held = CreateFileA(existing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_THROW(io.SaveByExtension(W(existing)), EFCreateError);
  CloseHandle(held);
  EXPECT_EQ(BytesOf(existing), old);
  EXPECT_EQ(TemporaryFiles(), 0);

  io.Aborting = false;
  io.SaveByExtension(W(existing));
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(TemporaryFiles(), 0);
  ExpectHostDecodes(picture, "kept.pcx", "/usr/bin/pcxtoppm {in} > {out}");
}

// Output folders whose names are 258 and 260 characters long: the temporary name beside the target
// is longer than the classic limit, yet every save through the library's own writers lands, the host
// reads it, and no temporary file stays.
TEST(SaveByExtension, DeepOutputFoldersTakeEveryWriter) {
  if (!ToolsPresent()) GTEST_SKIP();
  TIEBitmap picture;
  MakePicture(picture, 23, 17);
  for (size_t length : {size_t(258), size_t(260)}) {
    SCOPED_TRACE(length);
    // Folder levels of up to 60 characters below the work folder; the Unix twin for the host.
    std::string win = tq::WorkDir(), unix = "deep" + std::to_string(length);
    win += "\\" + unix;
    Host("rm -rf " + unix);
    ASSERT_TRUE(CreateDirectoryA(win.c_str(), nullptr));
    for (char letter = 'a'; win.size() < length; ++letter) {
      const size_t part = std::min<size_t>(60, length - win.size() - 1);
      const std::string level(std::max<size_t>(part, 1), letter);
      win += "\\" + level;
      unix += "/" + level;
      ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + W(win)).c_str(), nullptr) ||
                  GetLastError() == ERROR_ALREADY_EXISTS);
    }
    ASSERT_EQ(win.size(), length);
    struct Case {
      const char* name;
      const char* decoder;  // {in} our file; writes deep.ppm
    };
    const Case kCases[] = {
        {"slide1.pcx", "/usr/bin/pcxtoppm {in} > deep.ppm"},
        {"slide1.tga", "/usr/bin/tgatoppm {in} > deep.ppm"},
        {"slide1.jp2", "/usr/bin/opj_decompress -i {in} -o deep.ppm >/dev/null"},
        {"slide1.rle", "/usr/bin/bmptoppm {in} > deep.ppm"},
    };
    for (const Case& c : kCases) {
      SCOPED_TRACE(c.name);
      TImageryIO io(&picture);
      io.SaveByExtension(W(win + "\\" + c.name));
      ASSERT_FALSE(io.Aborting);
      std::string command = c.decoder;
      command.replace(command.find("{in}"), 4, tq::ShellQuote(unix + "/" + c.name));
      Host("rm -f deep.ppm && " + command);
      int w = 0, h = 0;
      std::vector<uint8_t> rgb;
      ASSERT_TRUE(ReadPPM(tq::WorkFile("deep.ppm"), w, h, rgb));
      EXPECT_EQ(w, 23);
      EXPECT_EQ(h, 17);
      EXPECT_TRUE(rgb == RGBOf(picture));
    }
    std::string listing;
    ASSERT_EQ(tq::RunHost("ls -A " + tq::ShellQuote(unix), &listing), 0);
    EXPECT_EQ(listing.find("~ie"), std::string::npos) << listing;
  }
}

TEST(LoadByExtension, UnknownExtensionOrReaderlessFormatSetsAbort) {
  TIEBitmap b;
  TImageryIO io(&b);
  int finished = 0;
  io.OnFinishWork = [&](void*) { ++finished; };
  io.LoadByExtension(W(tq::WorkFile("missing.qqq")));
  EXPECT_TRUE(io.Aborting);
  io.Aborting = false;
  io.LoadByExtension(L"");
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(finished, 2);
}

// This program links the component without the image view: the view's own files and streams fail to
// load with the abort flag set, their content is not taken for the view's stream types, and the
// parameters preview dialog stays shut.
TEST(WithoutTheView, ViewFilesFailAndThePreviewDialogStaysShut) {
  ASSERT_EQ(IEViewServices(), nullptr) << "the test program links the view";
  // a layer stream's header: magic, version, image format (raw dumps), layer count
  const int32_t fields[3] = {6, -2, 1};
  TIEMemoryStream layers;
  layers.WriteBuffer("DIVEVUZOREDUD", 13);
  layers.WriteBuffer(fields, sizeof fields);
  {
    TIEWideFileStream f(W(tq::WorkFile("noview.lyr")), fmCreate);
    f.WriteBuffer(layers.Memory(), int(layers.GetSize()));
  }
  TIEBitmap picture;
  MakePicture(picture, 8, 6);
  TImageryIO io(&picture);
  layers.SetPosition(0);
  EXPECT_NE(io.DetectStreamType(layers), iffLYR);
  for (TIEFileFormatCode t : {iffLYR, iffIEV, iffALL}) {
    io.Aborting = false;
    layers.SetPosition(0);
    io.LoadStreamAsFileType(layers, t);
    EXPECT_TRUE(io.Aborting) << t;
  }
  io.Aborting = false;
  io.LoadByExtension(W(tq::WorkFile("noview.lyr")));
  EXPECT_TRUE(io.Aborting);
  bool opened = false;
  io.OnIOPreview = [&](void*, ui::TForm*) { opened = true; };
  EXPECT_FALSE(io.DoPreviews(ieppAll));
  EXPECT_FALSE(opened);
}

// Detection from content at a stream position past other bytes; the position comes back.
TEST(DetectStreamType, FindsEachFormatAndRestoresThePosition) {
  TIEBitmap picture;
  MakePicture(picture, 31, 17);
  TImageryIO io(&picture);
  struct Case { TIEFileFormatCode type; };
  for (TIEFileFormatCode t : {iffBMP, iffPCX, iffTGA, iffJP2, iffJ2K, iffDCX}) {
    TIEMemoryStream s;
    const char prefix[7] = "prefix";
    s.WriteBuffer(prefix, 6);
    io.SaveStreamAsFileType(s, t);
    ASSERT_FALSE(io.Aborting) << t;
    s.SetPosition(6);
    EXPECT_EQ(io.DetectStreamType(s), t);
    EXPECT_EQ(s.GetPosition(), 6);
    // and it loads from there
    TIEBitmap back;
    TImageryIO reader(&back);
    s.SetPosition(6);
    reader.LoadStreamByContent(s);
    EXPECT_FALSE(reader.Aborting) << t;
    ExpectSamePixels(picture, back);
  }
  TIEMemoryStream gif13;
  gif13.WriteBuffer("GIF89a1234567", 13);  // one byte too short for the GIF test
  gif13.SetPosition(0);
  EXPECT_NE(io.DetectStreamType(gif13), iffGIF);
  TIEMemoryStream soi;
  std::vector<uint8_t> junk(200, 0x11);
  junk[140] = 0xFF; junk[141] = 0xD8; junk[142] = 0xFF;
  soi.WriteBuffer(junk.data(), 200);
  soi.SetPosition(0);
  EXPECT_EQ(io.DetectStreamType(soi), iffJPEG);
}

TEST(DetectFileType, StrictModeWantsTheExtensionToAgree) {
  TIEBitmap picture;
  MakePicture(picture, 8, 8);
  TImageryIO io(&picture);
  io.SaveByExtension(W(tq::WorkFile("real.tga")));
  CopyFileA(tq::WorkFile("real.tga").c_str(), tq::WorkFile("fake.pcx").c_str(), FALSE);
  EXPECT_EQ(io.DetectFileType(W(tq::WorkFile("real.tga")), true), iffTGA);
  EXPECT_EQ(io.DetectFileType(W(tq::WorkFile("fake.pcx")), true), 0);
  EXPECT_EQ(io.DetectFileType(W(tq::WorkFile("fake.pcx")), false), iffTGA);
  EXPECT_EQ(io.DetectFileType(W(tq::WorkFile("absent.tga")), false), 0);
}

// Files written by other tools load to the pixels of the picture they were made from.
struct ForeignCase {
  const char* file;
  const char* command;  // makes {file} from in.ppm (or in16.ppm / in2.ppm: 16 and 2 colours)
  TIEFileFormatCode type;
};
const ForeignCase kForeign[] = {
    {"pam.tga", "/usr/bin/pamtotga -norle in.ppm > pam.tga", iffTGA},
    {"pamrle.tga", "/usr/bin/pamtotga in.ppm > pamrle.tga", iffTGA},
    {"cmap.tga", "/usr/bin/pamtotga -cmap -norle in16.ppm > cmap.tga", iffTGA},
    {"cmaprle.tga", "/usr/bin/pamtotga -cmap in16.ppm > cmaprle.tga", iffTGA},
    {"p8.pcx", "/usr/bin/ppmtopcx -8bit in16.ppm > p8.pcx 2>/dev/null", iffPCX},
    {"p24.pcx", "/usr/bin/ppmtopcx -24bit in.ppm > p24.pcx 2>/dev/null", iffPCX},
    {"p16.pcx", "/usr/bin/ppmtopcx in16.ppm > p16.pcx 2>/dev/null", iffPCX},
    {"b1.bmp", "/usr/bin/ppmtobmp -bpp 1 in2.ppm > b1.bmp 2>/dev/null", iffBMP},
    {"b4.bmp", "/usr/bin/ppmtobmp -bpp 4 in16.ppm > b4.bmp 2>/dev/null", iffBMP},
    {"b8.bmp", "/usr/bin/ppmtobmp -bpp 8 in16.ppm > b8.bmp 2>/dev/null", iffBMP},
    {"b24.bmp", "/usr/bin/ppmtobmp -bpp 24 in.ppm > b24.bmp 2>/dev/null", iffBMP},
    {"os2.bmp", "/usr/bin/ppmtobmp -os2 -bpp 24 in.ppm > os2.bmp 2>/dev/null", iffBMP},
    {"os2p.bmp", "/usr/bin/ppmtobmp -os2 -bpp 8 in16.ppm > os2p.bmp 2>/dev/null", iffBMP},
    {"rle8.bmp", "/usr/local/bin/convert in16.ppm -type Palette -compress RLE BMP3:rle8.bmp", iffBMP},
    {"rle4.bmp", "/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/io/tools/ppm_to_rle4_bmp.py\" in16.ppm rle4.bmp", iffBMP},
    {"j2k.jp2", "/usr/bin/opj_compress -n 4 -i in.ppm -o j2k.jp2 >/dev/null", iffJP2},
    {"j2k.j2k", "/usr/bin/opj_compress -n 4 -i in.ppm -o j2k.j2k >/dev/null", iffJ2K},
};

class ForeignFileTest : public ::testing::TestWithParam<ForeignCase> {
 protected:
  static void SetUpTestSuite() {
    if (!ToolsPresent()) return;
    MakePicture(full_, 45, 29);
    MakePicture(sixteen_, 45, 29, 16);
    MakePicture(two_, 45, 29, 2);
    WritePPM(full_, tq::WorkFile("in.ppm"));
    WritePPM(sixteen_, tq::WorkFile("in16.ppm"));
    WritePPM(two_, tq::WorkFile("in2.ppm"));
  }
  static TIEBitmap full_, sixteen_, two_;
};
TIEBitmap ForeignFileTest::full_, ForeignFileTest::sixteen_, ForeignFileTest::two_;

TEST_P(ForeignFileTest, LoadsThePixelsTheToolWrote) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools unreachable";
  const ForeignCase& c = GetParam();
  Host(c.command);
  TIEBitmap back;
  TImageryIO io(&back);
  io.LoadByContent(W(tq::WorkFile(c.file)));
  ASSERT_FALSE(io.Aborting) << c.file;
  EXPECT_EQ(io.Params.FileType, c.type);
  const std::string cmd = c.command;
  TIEBitmap& expected = cmd.find("in16") != std::string::npos ? sixteen_ : cmd.find("in2") != std::string::npos ? two_ : full_;
  ExpectSamePixels(expected, back);
}

INSTANTIATE_TEST_SUITE_P(Tools, ForeignFileTest, ::testing::ValuesIn(kForeign),
                         [](const ::testing::TestParamInfo<ForeignCase>& i) {
                           std::string n = i.param.file;
                           for (char& ch : n) if (ch == '.') ch = '_';
                           return n;
                         });

TEST(DCX, MultiPageFileFromImageMagickLoadsEachPage) {
  if (!ToolsPresent()) GTEST_SKIP();
  TIEBitmap a, b;
  MakePicture(a, 20, 10);
  MakePicture(b, 13, 7, 16);
  WritePPM(a, tq::WorkFile("pa.ppm"));
  WritePPM(b, tq::WorkFile("pb.ppm"));
  Host("/usr/local/bin/convert pa.ppm pb.ppm DCX:two.dcx");
  TIEBitmap back;
  TImageryIO io(&back);
  for (int page : {0, 1, 7}) {
    io.Params.DCXImageIndex = page;
    io.LoadByExtension(W(tq::WorkFile("two.dcx")));
    ASSERT_FALSE(io.Aborting) << page;
    ExpectSamePixels(page == 0 ? a : b, back);
  }
  EXPECT_EQ(io.Params.DCXImageIndex, 1);  // page 7 of two reads the last one
  EXPECT_EQ(io.Params.ImageIndex, 1);
}

TEST(DCX, StreamSaveKeepsWhatPrecedesThePosition) {
  TIEBitmap picture;
  MakePicture(picture, 12, 9);
  TImageryIO io(&picture);
  TIEMemoryStream s;
  s.WriteBuffer("keep-me", 7);
  io.SaveStreamAsFileType(s, iffDCX);
  ASSERT_FALSE(io.Aborting);
  ASSERT_GT(s.GetSize(), 7);
  EXPECT_EQ(std::string(static_cast<const char*>(s.Memory()), 7), "keep-me");
  s.SetPosition(7);
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadStreamAsFileType(s, iffDCX);
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);
}

// The writers' other depths, read back by the host's decoders: a picture of at most 16 colours keeps
// its exact colours through the palette conversion.
struct DepthCase {
  const char* name;
  int bits, samples;
  uint8_t bmpCompression;
  bool tgaGrey;
  const char* hostDecoder;
};
const DepthCase kDepths[] = {
    {"d8.bmp", 8, 1, 0, false, "/usr/bin/bmptoppm {in} > {out}"},
    {"d8rle.bmp", 8, 1, 1, false, "/usr/bin/bmptoppm {in} > {out}"},
    {"d4.bmp", 4, 1, 0, false, "/usr/bin/bmptoppm {in} > {out}"},
    {"d4rle.bmp", 4, 1, 1, false, "/usr/bin/bmptoppm {in} > {out}"},
    {"d8.tga", 8, 1, 0, false, "/usr/bin/tgatoppm {in} > {out}"},
    {"d8.pcx", 8, 1, 0, false, "/usr/bin/pcxtoppm {in} > {out}"},
    {"d4.pcx", 4, 1, 0, false, "/usr/bin/pcxtoppm {in} > {out}"},
    // TGA has no 4-bit pixels: 16 colours go out as 8-bit indexes that other programs read
    {"d4.tga", 4, 1, 0, false, "/usr/bin/tgatoppm {in} > {out}"},
    {"d4pil.tga", 4, 1, 0, false,
     "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('RGB').save('{out}', 'PPM')\""},
};

class WriterDepthTest : public ::testing::TestWithParam<DepthCase> {};

TEST_P(WriterDepthTest, PaletteDepthsReadBackByHostAndByUs) {
  const DepthCase& c = GetParam();
  TIEBitmap picture;
  MakePicture(picture, 51, 19, 16);
  TImageryIO io(&picture);
  io.Params.BitsPerSample = c.bits;
  io.Params.SamplesPerPixel = c.samples;
  io.Params.BMPCompression = c.bmpCompression;
  io.SaveByExtension(W(tq::WorkFile(c.name)));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(picture.GetPixelFormat(), ie24RGB);
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile(c.name)));
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);
  if (ToolsPresent()) ExpectHostDecodes(picture, c.name, c.hostDecoder);
}

INSTANTIATE_TEST_SUITE_P(Depths, WriterDepthTest, ::testing::ValuesIn(kDepths),
                         [](const ::testing::TestParamInfo<DepthCase>& i) {
                           std::string n = i.param.name;
                           for (char& ch : n) if (ch == '.') ch = '_';
                           return n;
                         });

TEST(SaveByExtension, TargaKeepsAnAlphaChannel) {
  TIEBitmap picture;
  MakePicture(picture, 23, 11);
  TIEBitmap* alpha = picture.GetAlphaChannel();
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 23; ++x) alpha->GetRowAddress(y)[x] = uint8_t(x * 11 + y);
  alpha->IsAll255 = false;
  TImageryIO io(&picture);
  io.SaveByExtension(W(tq::WorkFile("alpha.tga")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_TRUE(io.Params.TGACompressed);  // the caller's setting stays
  std::vector<unsigned char> file;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("alpha.tga"), file));
  ASSERT_GT(file.size(), 17u);
  EXPECT_EQ(file[2], 2);  // 32-bit files are written uncompressed
  EXPECT_EQ(file[16], 32);
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile("alpha.tga")));
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);
  ASSERT_TRUE(back.AlphaPresent());
  EXPECT_EQ(back.GetAlphaAt(5, 3), 5 * 11 + 3);
  EXPECT_FALSE(back.GetAlphaChannel()->IsAll255);  // else it would be drawn opaque
}

// Files with a partly transparent alpha channel from another writer: the loaded alpha is the file's
// and is known not to be all opaque, so it is drawn; a fully opaque one is flagged so.
TEST(LoadByContent, AlphaChannelsOfOtherWritersKeepAnExactOpaqueFlag) {
  if (!ToolsPresent()) GTEST_SKIP();
  Host("/usr/bin/python3 -c \"from PIL import Image\n"
       "for ext in ('tga', 'bmp'):\n"
       "  im = Image.new('RGBA', (17, 9), (10, 200, 30, 255))\n"
       "  im.putpixel((4, 2), (1, 2, 3, 0)); im.putpixel((5, 2), (1, 2, 3, 77))\n"
       "  im.save('part.' + ext)\n"
       "  Image.new('RGBA', (17, 9), (10, 200, 30, 255)).save('opaque.' + ext)\"");
  for (const char* ext : {"tga", "bmp"}) {
    TIEBitmap back;
    TImageryIO io(&back);
    io.Params.BMPHandleAlpha = true;  // the fourth byte of 32-bit bitmap pixels is alpha only when asked
    io.LoadByContent(W(tq::WorkFile(std::string("part.") + ext)));
    ASSERT_FALSE(io.Aborting) << ext;
    ASSERT_TRUE(back.AlphaPresent()) << ext;
    EXPECT_FALSE(back.GetAlphaChannel()->IsAll255) << ext;
    EXPECT_EQ(back.GetAlphaAt(4, 2), 0) << ext;
    EXPECT_EQ(back.GetAlphaAt(5, 2), 77) << ext;
    EXPECT_EQ(back.GetAlphaAt(6, 2), 255) << ext;
    TIEBitmap opaque;
    TImageryIO io2(&opaque);
    io2.Params.BMPHandleAlpha = true;
    io2.LoadByContent(W(tq::WorkFile(std::string("opaque.") + ext)));
    ASSERT_FALSE(io2.Aborting) << ext;
    EXPECT_TRUE(!opaque.AlphaPresent() || opaque.GetAlphaChannel()->IsAll255) << ext;
  }
}

TEST(StreamHeaders, PCXStreamsCarryTheirLength) {
  TIEBitmap picture;
  MakePicture(picture, 14, 6);
  TImageryIO io(&picture);
  io.StreamHeaders = true;
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffPCX);
  const int64_t firstEnd = s.GetSize();
  io.SaveStreamAsFileType(s, iffPCX);  // a second image right after the first
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(std::string(static_cast<const char*>(s.Memory()), 4), "PCX2");
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.StreamHeaders = true;
  s.SetPosition(0);
  reader.LoadStreamAsFileType(s, iffPCX);
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(s.GetPosition(), firstEnd);  // just after the first image
  ExpectSamePixels(picture, back);
  reader.LoadStreamAsFileType(s, iffPCX);
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);

  TIEMemoryStream wrong;
  wrong.WriteBuffer("TIFF\0\0\0\0\0\0\0\0", 12);
  wrong.SetPosition(0);
  reader.LoadStreamAsFileType(wrong, iffPCX);
  EXPECT_TRUE(reader.Aborting);
}

TEST(MemoryBlocks, LoadInPlaceAndRefuseEmptyBlocks) {
  TIEBitmap picture;
  MakePicture(picture, 10, 7);
  TImageryIO io(&picture);
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffTGA);
  TIEBitmap back;
  TImageryIO reader(&back);
  int finished = 0;
  reader.OnFinishWork = [&](void*) { ++finished; };
  reader.LoadFromMemoryBlock(s.Memory(), s.GetSize(), 0);
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);
  finished = 0;
  reader.LoadFromMemoryBlock(s.Memory(), 0, iffTGA);
  EXPECT_TRUE(reader.Aborting);
  EXPECT_EQ(finished, 0);
}

TEST(ParamsOnly, FillsParametersAndLeavesTheBitmap) {
  TIEBitmap picture;
  MakePicture(picture, 33, 12);
  TImageryIO io(&picture);
  io.SaveByExtension(W(tq::WorkFile("params.pcx")));
  TIEBitmap untouched;
  MakePicture(untouched, 3, 2);
  TImageryIO reader(&untouched);
  reader.ReadParamsByExtension(W(tq::WorkFile("params.pcx")));
  EXPECT_EQ(reader.Params.FileType, iffPCX);
  EXPECT_EQ(reader.Params.Width, 33);
  EXPECT_EQ(reader.Params.Height, 12);
  EXPECT_EQ(reader.Params.SamplesPerPixel, 3);
  EXPECT_EQ(untouched.GetImageWidth(), 3);
  reader.ReadParamsAsFileType(W(tq::WorkFile("params.pcx")), iffJP2);  // wrong type: no parameters
  EXPECT_EQ(reader.Params.FileType, 0);
}

// A format added by an application: found by its test in detection, written and read through its
// procedures.
namespace {
constexpr TIEFileFormatCode kAppFormat = 100;
// Registers an application's format with the given procedures (any of them may be null).
void AddAppFormat(TIEFileFormatCode type, const char* name, const char* extensions, TIEReadProc read,
                  TIEWriteProc write, TIETestProc test = nullptr) {
  auto* e = new TIEFileFormatInfo();
  e->FileType = type;
  e->DisplayName = name;
  e->Extensions = extensions;
  e->ReadProc = read;
  e->WriteProc = write;
  e->TestProc = test;
  IEAddFileFormat(e);
}

bool AppTest(TIEStream& s, TIEFileFormatCode) {
  char b[3];
  return s.Read(b, 3) == 3 && std::string(b, 3) == "APP";
}
void AppWrite(TIEStream& s, TIEBitmap& b, TIOParamsVals&, TIECodecProgress&) {
  const uint8_t v[3] = {'A', 'P', uint8_t(b.GetImageWidth())};
  s.WriteBuffer(v, 3);
}
void AppRead(TIEStream& s, TIEBitmap& b, TIOParamsVals& p, bool, TIECodecProgress& progress) {
  uint8_t v[3];
  if (s.Read(v, 3) != 3) { progress.Abort(); return; }
  b.Allocate(v[2], 1, ie24RGB);
  p.Width = v[2];
}
}  // namespace

TEST(ApplicationFormats, RegisteredProceduresServeTheirExtension) {
  AddAppFormat(kAppFormat, "App", "APF", AppRead, AppWrite, AppTest);
  TIEBitmap picture;
  MakePicture(picture, 80, 2);
  TImageryIO io(&picture);
  io.SaveByExtension(W(tq::WorkFile("x.apf")));
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, kAppFormat);
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile("x.apf")));
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(back.GetImageWidth(), 80);
  EXPECT_EQ(reader.DetectFileType(W(tq::WorkFile("x.apf")), true), kAppFormat);

  // the encoded image as source text: three bytes "A", "P", 80
  io.SaveAsSourceCode(W(tq::WorkFile("src.pas")), kAppFormat, 0);
  std::vector<unsigned char> text;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("src.pas"), text));
  const std::string t(text.begin(), text.end());
  EXPECT_NE(t.find("const\r\n"), std::string::npos);
  EXPECT_NE(t.find("_Size = 3;\r\n"), std::string::npos);
  EXPECT_NE(t.find("of byte = (\r\n    $41,$50,$50);\r\n"), std::string::npos) << t;
  IERemoveFileFormat(kAppFormat);
  EXPECT_EQ(IEFileFormatByType(kAppFormat), nullptr);
}

// An encoding the writer refuses (a GIF wider than its 16-bit fields) writes no source text: the file
// there stays as it was and the abort flag tells the failure.
TEST(SourceCode, ARefusedEncodingLeavesTheTextFileAsItWas) {
  TIEBitmap wide;
  ASSERT_TRUE(wide.Allocate(70000, 1, ie1g));
  TImageryIO io(&wide);
  const std::string path = tq::WorkFile("refused.pas"), old = "unit kept;";
  ASSERT_TRUE(tq::WriteFileBytes(path, old.data(), old.size()));
  for (uint8_t mode : {0, 1, 2}) {
    io.SaveAsSourceCode(W(path), iffGIF, mode);
    EXPECT_TRUE(io.Aborting) << int(mode);
    EXPECT_EQ(BytesOf(path), old) << int(mode);
  }
  EXPECT_EQ(TemporaryFiles(), 0);
}

TEST(ApplicationFormats, ReleasingPluginsRemovesTheirFormatsAndLibraries) {
  const char* kLibrary = "sensapi.dll";
  const bool loadedBefore = GetModuleHandleA(kLibrary) != nullptr;
  auto* e = new TIEFileFormatInfo();
  e->FileType = kAppFormat;
  e->Extensions = "APF";
  IEAddFileFormat(e);
  auto p = std::make_unique<TIEIOPlugin>();
  p->Library = LoadLibraryA(kLibrary);
  ASSERT_NE(p->Library, nullptr);
  p->FileType = kAppFormat;
  InitializeCriticalSection(&p->Lock);
  IEPluginList.push_back(std::move(p));
  auto q = std::make_unique<TIEIOPlugin>();  // no library, no critical section
  q->FileType = kAppFormat + 1;
  q->Flags = 1;
  IEPluginList.push_back(std::move(q));

  IEReleasePlugins();
  EXPECT_TRUE(IEPluginList.empty());
  EXPECT_EQ(IEFileFormatByType(kAppFormat), nullptr);
  if (!loadedBefore) {
    EXPECT_EQ(GetModuleHandleA(kLibrary), nullptr);
  }
  EXPECT_NE(IEFileFormatByType(iffTIFF), nullptr);  // built-in entries stay
}

// Readers and writers that throw: an application's, registered, and the library's own, made to throw
// by a bitmap that throws once the codec works on it.
namespace {
constexpr TIEFileFormatCode kThrowingFormat = 101;
void (*gThrow)() = nullptr;
void ThrowingRead(TIEStream&, TIEBitmap& b, TIOParamsVals&, bool, TIECodecProgress&) {
  b.Allocate(3, 3, ie8g);  // the bitmap changes before the failure
  gThrow();
}
void ThrowingWrite(TIEStream& s, TIEBitmap&, TIOParamsVals&, TIECodecProgress&) {
  s.WriteBuffer("partial", 7);
  gThrow();
}
// Readers size their bitmap with Allocate, writers read its rows: either throws while armed.
class ThrowingBitmap : public TIEBitmap {
 public:
  bool throwOnAllocate = false, throwOnRows = false;
  bool Allocate(int w, int h, TIEPixelFormat f) override {
    if (throwOnAllocate) gThrow();
    return TIEBitmap::Allocate(w, h, f);
  }
  uint8_t* GetRowAddress(int row) override {
    if (throwOnRows) gThrow();
    return TIEBitmap::GetRowAddress(row);
  }
};
}  // namespace

TEST(CodecFailures, AnExceptionInsideAReaderOrWriterEndsTheCallAbortedAndHarmsNothing) {
  AddAppFormat(kThrowingFormat, "Throwing", "THR", ThrowingRead, ThrowingWrite);
  const std::string goodBmp = tq::WorkFile("good.bmp"), anyThr = tq::WorkFile("any.thr");
  const std::string keptBmp = tq::WorkFile("kept.bmp"), keptThr = tq::WorkFile("kept.thr");
  {
    TIEBitmap other;
    MakePicture(other, 5, 4);
    TImageryIO w(&other);
    w.SaveByExtension(W(goodBmp));
    ASSERT_FALSE(w.Aborting);
  }
  std::vector<unsigned char> bmpBytes;
  ASSERT_TRUE(tq::ReadFileBytes(goodBmp, bmpBytes));
  const std::string old = "bytes of another program";
  ASSERT_TRUE(tq::WriteFileBytes(anyThr, old.data(), old.size()));

  struct Road {
    const char* what;
    bool throwOnAllocate, throwOnRows;  // how the library's own codec is made to throw
    std::function<void(TImageryIO&)> run;
  };
  const Road kRoads[] = {
      {"registered reader, file", false, false, [&](TImageryIO& io) { io.LoadByExtension(W(anyThr)); }},
      {"registered reader, stream", false, false,
       [&](TImageryIO& io) {
         TIEMemStream s(old.data(), int64_t(old.size()));
         io.LoadStreamAsFileType(s, kThrowingFormat);
       }},
      {"built-in reader, file", true, false, [&](TImageryIO& io) { io.LoadByExtension(W(goodBmp)); }},
      {"built-in reader, stream", true, false,
       [&](TImageryIO& io) {
         TIEMemStream s(bmpBytes.data(), int64_t(bmpBytes.size()));
         io.LoadStreamAsFileType(s, iffBMP);
       }},
      {"registered writer, file", false, false, [&](TImageryIO& io) { io.SaveByExtension(W(keptThr)); }},
      {"registered writer, stream", false, false,
       [&](TImageryIO& io) {
         TIEMemoryStream s;
         io.SaveStreamAsFileType(s, kThrowingFormat);
       }},
      {"built-in writer, file", false, true, [&](TImageryIO& io) { io.SaveByExtension(W(keptBmp)); }},
      {"built-in writer, stream", false, true,
       [&](TImageryIO& io) {
         TIEMemoryStream s;
         io.SaveStreamAsFileType(s, iffPNG);
       }},
  };
  struct Thrower {
    const char* what;
    void (*raise)();
  };
  const Thrower kThrowers[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); }},
      {"length_error", [] { throw std::length_error("vector"); }},
      {"not an exception class", [] { throw 7; }},
  };
  for (const Thrower& t : kThrowers)
    for (const Road& r : kRoads) {
      SCOPED_TRACE(std::string(r.what) + ", " + t.what);
      gThrow = t.raise;
      ASSERT_TRUE(tq::WriteFileBytes(keptBmp, old.data(), old.size()));
      ASSERT_TRUE(tq::WriteFileBytes(keptThr, old.data(), old.size()));
      ThrowingBitmap picture;
      MakePicture(picture, 16, 16);
      TIEBitmap before;
      before.Assign(&picture);
      TImageryIO io(&picture);
      picture.throwOnAllocate = r.throwOnAllocate;
      picture.throwOnRows = r.throwOnRows;
      EXPECT_NO_THROW(r.run(io));
      picture.throwOnAllocate = picture.throwOnRows = false;
      EXPECT_TRUE(io.Aborting);
      ExpectSamePixels(before, picture);
      EXPECT_EQ(BytesOf(keptBmp), old);
      EXPECT_EQ(BytesOf(keptThr), old);
      EXPECT_EQ(TemporaryFiles(), 0);
    }
  IERemoveFileFormat(kThrowingFormat);
}

// Saves that fail after the writer started: the final move (the target became a folder, or another
// program holds it open), a writer that raises, a size the format cannot hold. Each ends with
// Aborting set, seen as such by OnFinishWork, with the old file as it was and no temporary file.
namespace {
std::string gTargetToBlock;  // the write procedure below turns it into a folder
void BlockingWrite(TIEStream& s, TIEBitmap& b, TIOParamsVals& p, TIECodecProgress& progress) {
  CreateDirectoryA(gTargetToBlock.c_str(), nullptr);
  AppWrite(s, b, p, progress);
}
}  // namespace

TEST(FailedSaves, EndWithTheAbortFlagSetAndNothingLeftBehind) {
  AddAppFormat(kAppFormat, "", "APB", nullptr, BlockingWrite);
  TIEBitmap picture;
  MakePicture(picture, 40, 30);
  TIEBitmap wide;  // wider than a PNG writer takes
  ASSERT_TRUE(wide.Allocate(1 << 27, 1, ie1g));
  const std::string old = "the file before the save";
  enum Block { kFolder, kHeldOpen, kNothing };
  struct Case {
    const char* name;
    TIEBitmap* image;
    Block block;  // what happens to the target while the writer works
  };
  const Case kCases[] = {
      {"moved.pcx", &picture, kFolder},   // a built-in writer
      {"moved.apb", &picture, kFolder},   // an application's write procedure
      {"held.pcx", &picture, kHeldOpen},  // the old file stays whole
      {"wide.png", &wide, kNothing},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string target = tq::WorkFile(c.name);
    RemoveDirectoryA(target.c_str());
    DeleteFileA(target.c_str());
    if (c.block != kFolder) {
      ASSERT_TRUE(tq::WriteFileBytes(target, old.data(), old.size()));
    }
    gTargetToBlock = target;
    TImageryIO io(c.image);
    HANDLE held = INVALID_HANDLE_VALUE;
    io.OnProgress = [&](void*, int) {
      if (c.block == kFolder) CreateDirectoryA(target.c_str(), nullptr);
      if (c.block == kHeldOpen && held == INVALID_HANDLE_VALUE)
        held = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    bool finished = false, abortingSeen = false;
    io.OnFinishWork = [&](void*) {
      finished = true;
      abortingSeen = io.Aborting;
    };
    try {
      io.SaveByExtension(W(target));
    } catch (const std::exception&) {  // a synchronous save may raise as well
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_TRUE(io.Aborting);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(abortingSeen);
    if (c.block == kFolder) EXPECT_TRUE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    else EXPECT_EQ(BytesOf(target), old);
    EXPECT_EQ(TemporaryFiles(), 0);
    RemoveDirectoryA(target.c_str());
  }
  IERemoveFileFormat(kAppFormat);
}

TEST(Targa, ExtensionAreaRoundTripAndFilesWithoutFooter) {
  TIEBitmap picture;
  MakePicture(picture, 6, 4);
  TImageryIO io(&picture);
  io.Params.TGAAuthor = "Ann Author";
  io.Params.TGAImageName = "Job 7";
  io.Params.TGADate = 45000.5;  // 2023-03-15 12:00:00
  io.Params.TGAGamma = 1.8;
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffTGA);
  ASSERT_FALSE(io.Aborting);
  TIEBitmap back;
  TImageryIO reader(&back);
  s.SetPosition(0);
  reader.LoadStreamAsFileType(s, iffTGA);
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(reader.Params.TGAAuthor, "Ann Author");
  EXPECT_EQ(reader.Params.TGAImageName, "Job 7");
  EXPECT_DOUBLE_EQ(reader.Params.TGADate, 45000.5);
  EXPECT_DOUBLE_EQ(reader.Params.TGAGamma, 1.8);
  // without the footer: no extension data, the image still loads
  TIEMemStream cut(s.Memory(), s.GetSize() - 26);
  reader.LoadStreamAsFileType(cut, iffTGA);
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(reader.Params.TGAAuthor, "");
  ExpectSamePixels(picture, back);
}

TEST(JPEG2000, TwelveBitGreyReadsItsTopEightBits) {
  if (!ToolsPresent()) GTEST_SKIP();
  // a 12-bit grey ramp as a PGM, coded by OpenJPEG's own tool
  std::string pgm = "P5\n64 8\n4095\n";
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) {
      const int v = x * 64 + y * 7;
      pgm += char(v >> 8);
      pgm += char(v & 255);
    }
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("g12.pgm"), pgm.data(), pgm.size()));
  Host("/usr/bin/opj_compress -n 3 -i g12.pgm -o g12.j2k >/dev/null");
  TIEBitmap back;
  TImageryIO io(&back);
  io.LoadByExtension(W(tq::WorkFile("g12.j2k")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.BitsPerSample, 12);
  EXPECT_EQ(io.Params.SamplesPerPixel, 1);
  for (int x : {0, 17, 63}) EXPECT_EQ(back.GetPixelRGB(x, 5).g, (x * 64 + 5 * 7) >> 4) << x;
}

TEST(JPEG2000, OneBitImagesAreWrittenAsOneBitGrey) {
  TIEBitmap mono;
  ASSERT_TRUE(mono.Allocate(19, 5, ie1g));
  for (int y = 0; y < 5; ++y)
    for (int i = 0; i < mono.GetRowLength(); ++i) mono.GetRowAddress(y)[i] = uint8_t(0xA5 ^ (y * 17));
  TImageryIO io(&mono);
  io.SaveByExtension(W(tq::WorkFile("mono.jp2")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.J2000ColorSpace, 1);  // the caller's setting stays; the file says grey
  if (tq::UnderWine()) {
    std::string dump;
    ASSERT_EQ(tq::RunHost("/usr/bin/opj_dump -i mono.jp2", &dump), 0);
    EXPECT_NE(dump.find("numcomps=1"), std::string::npos) << dump;
    EXPECT_NE(dump.find("prec=1"), std::string::npos) << dump;
  }
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile("mono.jp2")));
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(back.GetPixelFormat(), ie1g);
  ExpectSamePixels(mono, back);
}

TEST(JPEG2000, AlphaChannelTravelsAsAnOpacityComponent) {
  TIEBitmap picture;
  MakePicture(picture, 21, 13);
  TIEBitmap* alpha = picture.GetAlphaChannel();
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 21; ++x) alpha->GetRowAddress(y)[x] = uint8_t(x * 12);
  alpha->IsAll255 = false;
  TImageryIO io(&picture);
  io.SaveByExtension(W(tq::WorkFile("alpha.jp2")));
  ASSERT_FALSE(io.Aborting);
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile("alpha.jp2")));
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);
  ASSERT_TRUE(back.AlphaPresent());
  EXPECT_EQ(back.GetAlphaAt(7, 2), 7 * 12);
}

namespace {

std::string WorkBytes(const std::string& name) {
  std::vector<unsigned char> b;
  EXPECT_TRUE(tq::ReadFileBytes(tq::WorkFile(name), b)) << name;
  return std::string(b.begin(), b.end());
}

// The offset of the first image descriptor of a GIF.
size_t FirstDescriptor(const std::string& g) {
  size_t at = 13 + ((uint8_t(g[10]) & 0x80) ? 3u << ((uint8_t(g[10]) & 7) + 1) : 0u);
  while (at < g.size() && g[at] == 0x21) {  // extensions: label, sub-blocks
    at += 2;
    while (at < g.size() && g[at] != 0) at += 1 + uint8_t(g[at]);
    ++at;
  }
  return at;
}

}  // namespace

TEST(JPEG2000, HeaderClaimingMoreThanItsCodeStreamHoldsIsRefusedWithoutAllocating) {
  if (!ToolsPresent()) GTEST_SKIP();
  std::string pgm = "P5\n480 64\n255\n";
  for (int i = 0; i < 480 * 64; ++i) pgm += char((i * 7) % 251);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("tall.pgm"), pgm.data(), pgm.size()));
  Host("/usr/bin/opj_compress -i tall.pgm -o tall.j2k -r 40 >/dev/null");
  std::string f = WorkBytes("tall.j2k");
  ASSERT_GT(f.size(), 40u);
  // 480 x 262144 (Ysiz at 12) in tiles of 64 rows, of which the code stream holds the first
  f[12] = 0, f[13] = 4, f[14] = 0, f[15] = 0;
  PROCESS_MEMORY_COUNTERS before, after;
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  TIEBitmap back;
  TImageryIO io(&back);
  io.LoadFromMemoryBlock(f.data(), int64_t(f.size()), iffJ2K);
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  EXPECT_TRUE(io.Aborting);
  EXPECT_TRUE(back.IsEmpty());
  // no new peak beyond what the program already had plus 64 MB (the decoder's 1.8 GB never comes)
  EXPECT_LE(after.PeakPagefileUsage, std::max(before.PeakPagefileUsage, before.PagefileUsage + (size_t(64) << 20)));
  EXPECT_LT(after.PeakPagefileUsage - before.PagefileUsage, size_t(512) << 20);
}


// A load that leaves no picture fails, whichever reader ended early; a GIF cut in its image data
// keeps the rows that came.
TEST(LoadYieldingNoImage, SetsTheAbortFlag) {
  if (!ToolsPresent()) GTEST_SKIP();
  Host("/usr/bin/python3 -c \"from PIL import Image; im = Image.new('RGB', (40, 30)); "
       "im.putdata([((x * 37) % 256, (y * 23) % 256, ((x ^ y) * 16) % 256) for y in range(30) for x in range(40)]); "
       "im.quantize(16).convert('RGB').save('cut.ppm')\"");
  Host("/usr/bin/ppmtogif cut.ppm > cut.gif 2>/dev/null");  // not interlaced: rows come in order
  const std::string gif = WorkBytes("cut.gif");
  const size_t desc = FirstDescriptor(gif);
  ASSERT_LT(desc + 12, gif.size());
  ASSERT_EQ(gif[desc], 0x2C);
  ASSERT_EQ(uint8_t(gif[desc + 9]) & 0x80, 0);  // no local table: data at desc + 10
  std::string emptyData = gif;
  emptyData[desc + 11] = 0;
  std::string zeroWidth = gif;
  zeroWidth[desc + 5] = zeroWidth[desc + 6] = 0;

  TIEBitmap picture;
  MakePicture(picture, 9, 7);
  std::string bmp, bmpW0, bmpH0;
  {
    TIEMemoryStream m;
    TImageryIO io(&picture);
    io.SaveStreamAsFileType(m, iffBMP);
    bmp.assign(static_cast<const char*>(m.Memory()), size_t(m.GetSize()));
  }
  bmpW0 = bmpH0 = bmp;
  std::fill(bmpW0.begin() + 18, bmpW0.begin() + 22, 0);
  std::fill(bmpH0.begin() + 22, bmpH0.begin() + 26, 0);
  const std::string icoNone("\0\0\1\0\0\0", 6);

  struct Case {
    const char* name;
    std::string file;
    TIEFileFormatCode type;
  };
  const Case kCases[] = {
      {"GIF header only", gif.substr(0, 13), iffGIF},
      {"GIF cut in its colour table", gif.substr(0, 40), iffGIF},
      {"GIF cut in the image descriptor", gif.substr(0, desc + 5), iffGIF},
      {"GIF cut after the descriptor", gif.substr(0, desc + 10), iffGIF},
      {"GIF cut after its code size", gif.substr(0, desc + 11), iffGIF},
      {"GIF whose data starts with the terminator", emptyData, iffGIF},
      {"GIF frame of width 0", zeroWidth, iffGIF},
      {"BMP of width 0", bmpW0, iffBMP},
      {"BMP of height 0", bmpH0, iffBMP},
      {"ICO without images", icoNone, iffICO},
  };
  for (const Case& k : kCases)
    for (bool holding : {false, true}) {  // into an empty bitmap, and into one holding a picture
      SCOPED_TRACE(std::string(k.name) + (holding ? " over a picture" : ""));
      TIEBitmap b;
      if (holding) MakePicture(b, 5, 4);
      TImageryIO io(&b);
      io.LoadFromMemoryBlock(k.file.data(), int64_t(k.file.size()), k.type);
      EXPECT_TRUE(io.Aborting);
    }

  // cut halfway through the image data: the rows decoded before the cut are PIL's, with a warning
  // that the whole file does not give
  TIEBitmap b;
  TImageryIO io(&b);
  io.LoadFromMemoryBlock(gif.data(), int64_t(gif.size()), iffGIF);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.GIFWarning, "");
  const std::string half = gif.substr(0, desc + 10 + (gif.size() - desc - 10) / 2);
  io.LoadFromMemoryBlock(half.data(), int64_t(half.size()), iffGIF);
  ASSERT_EQ(gif[desc + 9] & 0x40, 0);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.GIFWarning, "Premature end of data");
  ASSERT_EQ(b.GetImageWidth(), 40);
  ASSERT_EQ(b.GetImageHeight(), 30);
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadPPM(tq::WorkFile("cut.ppm"), w, h, rgb));
  const std::vector<uint8_t> ours = RGBOf(b);
  const size_t firstRows = size_t(40) * 3 * 5;
  EXPECT_TRUE(std::equal(rgb.begin(), rgb.begin() + firstRows, ours.begin()));
}

// Writers after a load: the parameters of the file read (a 16-colour GIF leaves 4 bits per sample
// and 1 sample) neither change between writers nor make a writer drop colours; every file is read
// by another program to the loaded pixels.
TEST(SaveAfterLoad, EveryWriterKeepsTheColoursOfTheLoadedPicture) {
  if (!ToolsPresent()) GTEST_SKIP();
  const char* kPil = "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('RGB').save('{out}', 'PPM')\"";
  const char* kOpj = "/usr/bin/opj_decompress -i {in} -o {out} >/dev/null";
  Host("/usr/bin/python3 -c \"from PIL import Image; im = Image.new('RGB', (41, 23)); "
       "im.putdata([((x * 29) % 256, (y * 11) % 256, ((x + y) * 5) % 256) for y in range(23) for x in range(41)]); "
       "im.quantize(16).convert('RGB').save('c16.ppm')\"");
  Host("/usr/bin/ppmtogif c16.ppm > c16.gif 2>/dev/null");
  ASSERT_EQ(WorkBytes("c16.gif")[10] & 7, 3);  // a table of 16 colours: 4 bits per sample
  struct Save {
    const char* file;
    const char* decoder;
  };
  struct Case {
    const char* gif;
    std::vector<Save> saves;  // in this order, by one component
  };
  const Case kCases[] = {
      {"c16.gif", {{"c16.png", kPil}, {"c16out.ppm", kPil}, {"c16.jp2", kOpj}, {"c16.tga", kPil}}},
      {"c16.gif", {{"c16.j2k", kOpj}, {"c16.pcx", "/usr/bin/pcxtoppm {in} > {out}"}, {"c16b.png", kPil}, {"c16b.ppm", kPil}}},
  };
  for (const Case& k : kCases) {
    TIEBitmap picture;
    TImageryIO io(&picture);
    io.LoadByExtension(W(tq::WorkFile(k.gif)));
    ASSERT_FALSE(io.Aborting) << k.gif;
    for (const Save& s : k.saves) {
      SCOPED_TRACE(s.file);
      io.SaveByExtension(W(tq::WorkFile(s.file)));
      ASSERT_FALSE(io.Aborting);
      ExpectHostDecodes(picture, s.file, s.decoder);
      EXPECT_EQ(io.Params.BitsPerSample, 4);
      EXPECT_EQ(io.Params.SamplesPerPixel, 1);
    }
  }
}

// AutoAdjustDPI: a PNG that PIL writes at unequal resolutions comes in resampled so that both are
// equal, the lower resolution rising to the other's.
TEST(ImageryIOAdjustDPI, UnequalResolutionsAreEvenedOutAfterTheLoad) {
  Host("/usr/bin/python3 -c \"from PIL import Image; "
       "im = Image.new('RGB', (300, 200), (10, 120, 230)); im.save('dpi_a.png', dpi=(100, 200)); "
       "im.save('dpi_b.png', dpi=(100, 300)); Image.new('RGB', (100, 300), (5, 6, 7)).save('dpi_c.png', dpi=(300, 100))\"");
  struct Case {
    const char* file;
    bool filtered;
    int w, h, dpiX, dpiY;
  } cases[] = {
      {"dpi_a.png", false, 300, 100, 100, 100},  // wider than high: the height follows
      {"dpi_b.png", false, 300, 66, 100, 100},   // 66.67 truncated
      {"dpi_b.png", true, 300, 66, 100, 100},
      {"dpi_c.png", false, 33, 300, 100, 100},   // higher than wide: the width follows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageryIO io;
    io.AutoAdjustDPI = true;
    io.FilteredAdjustDPI = c.filtered;
    io.LoadByExtension(W(tq::WorkFile(c.file)));
    ASSERT_FALSE(io.Aborting);
    TIEBitmap* b = io.GetIEBitmap();
    EXPECT_EQ(b->GetImageWidth(), c.w);
    EXPECT_EQ(b->GetImageHeight(), c.h);
    EXPECT_EQ(io.Params.Width, c.w);
    EXPECT_EQ(io.Params.Height, c.h);
    EXPECT_EQ(io.Params.DpiX, c.dpiX);
    EXPECT_EQ(io.Params.DpiY, c.dpiY);
    const TIERGB p = b->GetPixelRGB(c.w / 2, c.h / 2);
    EXPECT_EQ(std::string(c.file) == "dpi_c.png" ? 5 : 10, p.r);
  }
  TImageryIO plain;  // off by default: nothing changes
  plain.LoadByExtension(W(tq::WorkFile("dpi_a.png")));
  EXPECT_EQ(plain.GetIEBitmap()->GetImageHeight(), 200);
  EXPECT_EQ(plain.Params.DpiY, 200);
}
