// The layer stream: its bytes (checked against zlib and PIL on the host), round trips, streams of
// older versions built by hand, loading as file type 26, and damaged streams.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "ielayer.h"
#include "ielayerstream.h"
#include "iestreams.h"
#include "iezlib.h"
#include "imageryio.h"
#include "imageryview.h"

using namespace ui;

namespace {

uint32_t U32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

const uint8_t* Bytes(TIEMemoryStream& s) { return static_cast<const uint8_t*>(s.Memory()); }

void Pattern(TIEBitmap* b, int w, int h, int seed) {
  b->Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->SetRGB(x, y, IEMakeRGB(uint8_t(x * 5 + seed), uint8_t(y * 3), uint8_t(seed * 7 + x * y)));
}

bool SamePixels(TIEBitmap* a, TIEBitmap* b) {
  if (a->GetImageWidth() != b->GetImageWidth() || a->GetImageHeight() != b->GetImageHeight()) return false;
  for (int y = 0; y < a->GetImageHeight(); ++y)
    for (int x = 0; x < a->GetImageWidth(); ++x) {
      const TIERGB p = a->GetPixelRGB(x, y), q = b->GetPixelRGB(x, y);
      if (p.r != q.r || p.g != q.g || p.b != q.b) return false;
    }
  return true;
}

class LayerStream : public ::testing::Test {
 protected:
  void SetUp() override {
    view = New<TImageryView>(nullptr);
    Pattern(view->GetIEBitmap(), 30, 20, 1);
    view->UpdateView();
  }
  void TearDown() override {
    if (other) other->Free();
    view->Free();
  }
  // Three layers: named, with user data, a grey mask with its own place, dimming outside.
  void ThreeLayers() {
    view->GetLayer(0)->Name = "base";
    int i = view->AddLayer();
    TIELayer* a = view->GetLayer(i);
    Pattern(a->Bitmap, 12, 9, 40);
    a->Bitmap->GetAlphaChannel()->Fill(100);
    a->Name = "top";
    a->PosX = -4;
    a->PosY = 7;
    a->Width = 24;
    a->Transparency = 90;
    a->BlendOperation = 4;
    a->DimOutside = true;
    a->Selectable = false;
    a->ResampleFilter = rfBicubic;
    a->UseResampleFilter = true;
    const char data[] = {1, 2, 3, 0, 5};
    a->SetUserData(data, sizeof(data));
    i = view->AddLayer();
    TIELayer* m = view->GetLayer(i);
    m->Bitmap->Allocate(10, 10, ie8g);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) m->Bitmap->SetByte(x, y, uint8_t(x * 25));
    m->IsMask = true;
    m->Visible = false;
    m->PosX = 3;
    m->Magnify = true;
    m->MagnifyFactor = 2.5;
    m->MagnifyShape = 1;
    m->MagnifySource = 0;
    view->SetCurrentLayer(0);
  }
  TImageryView* Other() {
    if (!other) other = New<TImageryView>(nullptr);
    return other;
  }
  TImageryView* view = nullptr;
  TImageryView* other = nullptr;
};

TEST_F(LayerStream, OneLayerRawDumpHasTheDocumentedLayout) {
  TIEMemoryStream s;
  view->SaveLayersToStream(s, -2);
  const uint8_t* b = Bytes(s);
  ASSERT_GE(s.GetSize(), 90);
  EXPECT_EQ(0, std::memcmp(b, "DIVEVUZOREDUD", 13));
  EXPECT_EQ(6u, U32(b + 13));
  EXPECT_EQ(0xFFFFFFFEu, U32(b + 17));
  EXPECT_EQ(1u, U32(b + 21));
  // the 57-byte record ends with the 64-bit offset of the image, right behind it
  EXPECT_EQ(82u, U32(b + 25 + 49));
  EXPECT_EQ(0u, U32(b + 25 + 53));
  std::vector<uint8_t> dump;
  view->GetIEBitmap()->WriteRawImageStream(dump);
  ASSERT_EQ(dump.size(), U32(b + 82));
  ASSERT_EQ(int64_t(86 + dump.size()), s.GetSize());
  EXPECT_EQ(0, std::memcmp(b + 86, dump.data(), dump.size()));

  // compressed: the same dump, as zlib on the host inflates it
  TIEMemoryStream z;
  view->SaveLayersToStream(z, -1);
  const uint8_t* zb = Bytes(z);
  EXPECT_EQ(0xFFFFFFFFu, U32(zb + 17));
  const uint32_t n = U32(zb + 82);
  ASSERT_EQ(int64_t(86 + n), z.GetSize());
  const std::string packed = tq::WorkFile("layer.z"), plain = tq::WorkFile("layer.raw");
  ASSERT_TRUE(tq::WriteFileBytes(packed, zb + 86, n));
  std::string out;
  ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 -c 'import sys,zlib; open(sys.argv[2],\"wb\").write(zlib.decompress("
                           "open(sys.argv[1],\"rb\").read()))' " +
                               tq::ShellQuote(tq::UnixPath(packed)) + " " + tq::ShellQuote(tq::UnixPath(plain)),
                           &out))
      << out;
  std::vector<unsigned char> inflated;
  ASSERT_TRUE(tq::ReadFileBytes(plain, inflated));
  EXPECT_TRUE(inflated == std::vector<unsigned char>(dump.begin(), dump.end()));
}

TEST_F(LayerStream, ThreeLayersRoundTrip) {
  ThreeLayers();
  for (int code : {-1, -2}) {
    TIEMemoryStream s;
    s.Write("pre", 3);  // offsets are absolute: the stream need not start at 0
    view->SaveLayersToStream(s, code);
    EXPECT_EQ(0, view->GetCurrentLayerIndex());  // the caller's current layer comes back
    EXPECT_TRUE(view->SelectableLayersOnly);
    s.SetPosition(3);
    TImageryView* v = Other();
    ASSERT_TRUE(v->LoadLayersFromStream(s)) << code;
    ASSERT_EQ(3, v->GetLayerCount());
    EXPECT_EQ(2, v->GetCurrentLayerIndex());  // the last layer read
    for (int i = 0; i < 3; ++i) {
      TIELayer* a = view->GetLayer(i);
      TIELayer* b = v->GetLayer(i);
      EXPECT_EQ(a->Name, b->Name);
      EXPECT_EQ(a->PosX, b->PosX);
      EXPECT_EQ(a->PosY, b->PosY);
      EXPECT_EQ(a->Width, b->Width);
      EXPECT_EQ(a->Transparency, b->Transparency);
      EXPECT_EQ(a->BlendOperation, b->BlendOperation);
      EXPECT_EQ(a->DimOutside, b->DimOutside);
      EXPECT_EQ(a->Selectable, b->Selectable);
      EXPECT_EQ(a->IsMask, b->IsMask);
      EXPECT_EQ(a->Visible, b->Visible);
      EXPECT_EQ(a->Magnify, b->Magnify);
      EXPECT_EQ(a->MagnifyFactor, b->MagnifyFactor);
      EXPECT_EQ(a->MagnifyShape, b->MagnifyShape);
      EXPECT_EQ(a->MagnifySource, b->MagnifySource);
      EXPECT_EQ(a->ResampleFilter, b->ResampleFilter);
      EXPECT_EQ(a->UseResampleFilter, b->UseResampleFilter);
      ASSERT_EQ(a->GetUserDataLength(), b->GetUserDataLength());
      if (a->GetUserDataLength() > 0) {
        EXPECT_EQ(0, std::memcmp(a->GetUserData(), b->GetUserData(), 5));
      }
      EXPECT_EQ(a->Bitmap->GetPixelFormat(), b->Bitmap->GetPixelFormat()) << i;
      EXPECT_TRUE(SamePixels(a->Bitmap, b->Bitmap)) << code << " layer " << i;
      EXPECT_EQ(a->Bitmap->AlphaPresent(), b->Bitmap->AlphaPresent());
    }
    EXPECT_EQ(100, v->GetLayer(1)->Bitmap->GetAlphaAt(3, 3));
    EXPECT_EQ(s.GetSize(), s.GetPosition() + (s.GetSize() - s.GetPosition()));
  }
}

// A stream of an older version, written field by field as that version had them.
struct OldStream {
  TIEMemoryStream s;
  void U8(uint8_t v) { s.Write(&v, 1); }
  void I32(int32_t v) {
    uint8_t p[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    s.Write(p, 4);
  }
  void F64(double v) { s.Write(&v, 8); }
  // One layer record; returns the position of its offset field.
  int64_t Record(int version, int posX, const char* name, bool selectable, bool dim) {
    U8(1);       // Visible
    U8(0);       // BoxVisible
    I32(200);    // Transparency
    I32(posX);
    I32(2);      // PosY
    U8(0);       // ClipToImage
    U8(1);       // Locked
    U8(0);       // Magnify
    F64(3.0);    // MagnifyFactor
    U8(1);       // MagnifyShape
    if (version > 2) U8(0);  // MagnifySource
    U8(0);       // BlendOperation
    I32(0);
    I32(0);
    if (version > 2) {
      U8(rfBilinear);
      U8(1);
      I32(int32_t(std::strlen(name)));
      s.Write(name, int32_t(std::strlen(name)));
      I32(2);
      s.Write("ud", 2);
      U8(0);  // IsMask
    }
    if (version > 3) U8(selectable ? 1 : 0);
    if (version > 5) U8(dim ? 1 : 0);
    const int64_t slot = s.GetPosition();
    I32(0);
    I32(0);
    return slot;
  }
  void Image(int64_t slot, TIEBitmap* b) {
    const int64_t p = s.GetSize();
    s.SetPosition(slot);
    I32(int32_t(p));
    s.SetPosition(p);
    std::vector<uint8_t> dump;
    b->WriteRawImageStream(dump);
    I32(int32_t(dump.size()));
    s.Write(dump.data(), int32_t(dump.size()));
  }
  void Build(int version, TIEBitmap* image0, TIEBitmap* image1) {
    s.Write("DIVEVUZOREDUD", 13);
    I32(version);
    I32(-2);
    I32(2);
    const int64_t a = Record(version, 5, "first", false, true);
    const int64_t b = Record(version, 6, "second", false, true);
    Image(a, image0);
    Image(b, image1);
    s.SetPosition(0);
  }
};

TEST_F(LayerStream, OlderVersionsKeepTheFieldsTheyLack) {
  TIEBitmap image0, image1;
  Pattern(&image0, 8, 6, 3);
  Pattern(&image1, 5, 4, 9);
  for (int version : {2, 3, 4, 5, 6}) {
    TImageryView* v = Other();
    v->ClearLayers();
    TIELayer* l0 = v->GetLayer(0);
    // layer 0 keeps what the stream does not carry; added layers have their defaults
    l0->Name = "kept";
    l0->MagnifySource = 0;
    l0->Selectable = true;
    l0->DimOutside = false;
    l0->UseResampleFilter = false;
    OldStream o;
    o.Build(version, &image0, &image1);
    ASSERT_TRUE(v->LoadLayersFromStream(o.s)) << version;
    ASSERT_EQ(2, v->GetLayerCount());
    TIELayer* a = v->GetLayer(0);
    TIELayer* b = v->GetLayer(1);
    EXPECT_EQ(5, a->PosX);
    EXPECT_EQ(6, b->PosX);
    EXPECT_EQ(200, b->Transparency);
    EXPECT_EQ(3.0, b->MagnifyFactor);
    EXPECT_TRUE(SamePixels(&image0, a->Bitmap));
    EXPECT_TRUE(SamePixels(&image1, b->Bitmap));
    const bool v3 = version > 2, v4 = version > 3, v6 = version > 5;
    EXPECT_EQ(v3 ? "first" : "kept", a->Name) << version;
    EXPECT_EQ(v3 ? "second" : "", b->Name) << version;
    EXPECT_EQ(v3 ? 0 : 0, a->MagnifySource);
    EXPECT_EQ(v3 ? 0 : 1, b->MagnifySource) << version;
    EXPECT_EQ(v3, b->UseResampleFilter) << version;
    EXPECT_EQ(v3 ? 2 : 0, b->GetUserDataLength()) << version;
    EXPECT_EQ(!v4, a->Selectable) << version;
    EXPECT_EQ(!v4, b->Selectable) << version;
    EXPECT_EQ(v6, a->DimOutside) << version;
    EXPECT_EQ(v6, b->DimOutside) << version;
  }
}

TEST_F(LayerStream, HeaderTestAndRefusedStreamsLeaveEverythingAsItWas) {
  TIEMemoryStream s;
  view->SaveLayersToStream(s, -2);
  s.SetPosition(0);
  EXPECT_TRUE(IELayersStreamTest(s));
  EXPECT_EQ(0, s.GetPosition());
  struct Case {
    const char* what;
    int32_t version;
    size_t size;
  };
  const Case cases[] = {{"version 0", 0, 0}, {"version -1", -1, 0}, {"under 25 bytes", 6, 24}};
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(Bytes(s), Bytes(s) + s.GetSize());
    std::memcpy(bytes.data() + 13, &c.version, 4);
    if (c.size) bytes.resize(c.size);
    TIEMemoryStream t;
    t.Write("xx", 2);
    t.Write(bytes.data(), int32_t(bytes.size()));
    t.SetPosition(2);
    EXPECT_FALSE(IELayersStreamTest(t)) << c.what;
    EXPECT_EQ(2, t.GetPosition()) << c.what;
    view->AddLayer();
    EXPECT_FALSE(view->LoadLayersFromStream(t)) << c.what;
    EXPECT_EQ(2, view->GetLayerCount()) << c.what;  // untouched
    view->ClearLayers();
  }
  // a count the stream cannot hold is refused before anything changes
  std::vector<uint8_t> bytes(Bytes(s), Bytes(s) + s.GetSize());
  const int32_t many = 1000000;
  std::memcpy(bytes.data() + 21, &many, 4);
  TIEMemoryStream t;
  t.Write(bytes.data(), int32_t(bytes.size()));
  t.SetPosition(0);
  view->AddLayer();
  EXPECT_FALSE(view->LoadLayersFromStream(t));
  EXPECT_EQ(2, view->GetLayerCount());
}

TEST_F(LayerStream, FileTypeCodesStoreImagesInThatFormat) {
  ThreeLayers();
  TIEMemoryStream s;
  view->SaveLayersToStream(s, 1);
  const uint8_t* b = Bytes(s);
  EXPECT_EQ(8u, U32(b + 17));  // 1 is stored as PNG
  // the first image is a PNG that PIL reads as layer 0's pixels
  const uint32_t first = U32(b + 25 + 4 + 49);
  ASSERT_LT(first, uint32_t(s.GetSize()));
  EXPECT_EQ(0, std::memcmp(b + first, "\x89PNG\r\n\x1a\n", 8));
  const std::string file = tq::WorkFile("layers.lyr");
  ASSERT_TRUE(tq::WriteFileBytes(file, b, size_t(s.GetSize())));
  std::string out;
  ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 -c 'import io,sys; from PIL import Image; d=open(sys.argv[1],\"rb\").read();"
                           " i=Image.open(io.BytesIO(d[int(sys.argv[2]):])).convert(\"RGB\"); print(i.size[0], i.size[1],"
                           " *i.getpixel((7, 5)))' " +
                               tq::ShellQuote(tq::UnixPath(file)) + " " + std::to_string(first),
                           &out))
      << out;
  const TIERGB p = view->GetLayer(0)->Bitmap->GetRGB(7, 5);
  EXPECT_EQ("30 20 " + std::to_string(p.r) + " " + std::to_string(p.g) + " " + std::to_string(p.b) + "\n", out);

  // loaded back through the I/O component as file type 26, and found by its content
  for (int route = 0; route < 2; ++route) {
    TImageryView* v = Other();
    v->ClearLayers();
    TImageryIO* io = v->GetIO();
    if (route == 0) {
      s.SetPosition(0);
      io->LoadStreamAsFileType(s, iffLYR);
    } else {
      EXPECT_EQ(iffLYR, io->DetectFileType(std::wstring(file.begin(), file.end()), false));
      io->LoadByContent(std::wstring(file.begin(), file.end()));
    }
    EXPECT_FALSE(io->Aborting) << route;
    ASSERT_EQ(3, v->GetLayerCount()) << route;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(SamePixels(view->GetLayer(i)->Bitmap, v->GetLayer(i)->Bitmap)) << i;
    EXPECT_EQ(ie8g, v->GetLayer(2)->Bitmap->GetPixelFormat());  // the mask keeps its grey levels
    EXPECT_EQ(30, io->Params.Width);
  }

  // BMP images
  TIEMemoryStream bmp;
  view->SaveLayersToStream(bmp, iffBMP);
  EXPECT_EQ(5u, U32(Bytes(bmp) + 17));
  EXPECT_EQ('B', Bytes(bmp)[U32(Bytes(bmp) + 25 + 4 + 49)]);
  bmp.SetPosition(0);
  ASSERT_TRUE(Other()->LoadLayersFromStream(bmp));
  EXPECT_TRUE(SamePixels(view->GetLayer(1)->Bitmap, other->GetLayer(1)->Bitmap));
}

TEST_F(LayerStream, DamagedStreamsNeverCrashHangOrOverAllocate) {
  ThreeLayers();
  std::vector<std::vector<uint8_t>> samples;
  for (int code : {-2, -1, int(iffBMP)}) {
    TIEMemoryStream s;
    view->SaveLayersToStream(s, code);
    samples.emplace_back(Bytes(s), Bytes(s) + s.GetSize());
  }
  std::mt19937 rng(1234);
  TImageryView* v = Other();
  int loaded = 0, refused = 0, raised = 0;
  auto attempt = [&](const std::vector<uint8_t>& bytes) {
    TIEMemStream in(bytes.data(), int64_t(bytes.size()));
    try {
      if (v->LoadLayersFromStream(in))
        ++loaded;
      else
        ++refused;
    } catch (const std::exception&) {
      ++raised;
    }
    ASSERT_GE(v->GetLayerCount(), 1);
    ASSERT_EQ(v->GetCurrentLayer()->Bitmap, v->GetIEBitmap());
  };
  for (const auto& sample : samples) {
    // cut short at many points
    for (size_t n = 0; n < sample.size(); n += 1 + sample.size() / 97) attempt(std::vector<uint8_t>(sample.begin(), sample.begin() + long(n)));
    // bytes changed: a few at random places, and the header's and first record's fields in particular
    for (int k = 0; k < 150; ++k) {
      std::vector<uint8_t> bytes = sample;
      const int flips = 1 + int(rng() % 4);
      for (int f = 0; f < flips; ++f) {
        const size_t at = k % 2 ? rng() % bytes.size() : 13 + rng() % 90;
        bytes[at] = uint8_t(rng() % 3 == 0 ? 0xFF : rng());
      }
      attempt(bytes);
    }
  }
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused + raised, 0);
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)));
  EXPECT_LT(pmc.PeakWorkingSetSize, size_t(512) << 20);
}

size_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
  return pmc.PeakWorkingSetSize;
}

// A failing layer image leaves every layer of the view as it was; a zlib block that inflates beyond
// the dump it declares is refused without being inflated.
TEST_F(LayerStream, BadImagesAndZlibBombsLeaveTheLayersAsTheyWere) {
  ThreeLayers();
  TIEMemoryStream good;
  view->SaveLayersToStream(good, -1);
  const std::vector<uint8_t> sample(Bytes(good), Bytes(good) + good.GetSize());
  // each version 6 record: 38 fixed bytes, the name, the user data, three flags, the image offset
  std::vector<uint32_t> offsets;
  for (uint32_t p = 25; offsets.size() < 3;) {
    const uint32_t nameLength = U32(sample.data() + p + 38);
    const uint32_t end = p + 49 + nameLength + U32(sample.data() + p + 42 + nameLength);
    offsets.push_back(U32(sample.data() + end));
    p = end + 8;
  }

  auto pack = [](const std::vector<uint8_t>& plain, size_t zeros) {
    auto packed = std::make_unique<TIEMemoryStream>();
    TZCompressionStream z(*packed, zcMax);
    z.WriteBuffer(plain.data(), int32_t(plain.size()));
    const std::vector<uint8_t> block(1 << 20, 0);
    for (size_t k = 0; k < zeros; ++k) z.WriteBuffer(block.data(), int32_t(block.size()));
    z.Finish();
    return packed;
  };
  std::vector<uint8_t> tiny;
  TIEBitmap one;
  one.Allocate(1, 1, ie24RGB);
  one.WriteRawImageStream(tiny);
  std::vector<uint8_t> huge = tiny;  // the header asks for 40000 x 40000 pixels
  const int32_t side = 40000;
  std::memcpy(huge.data() + 20, &side, 4);
  std::memcpy(huge.data() + 24, &side, 4);
  std::vector<uint8_t> withAlpha;
  view->GetLayer(1)->Bitmap->WriteRawImageStream(withAlpha);
  withAlpha.resize(withAlpha.size() - 50);  // cut inside the alpha rows
  struct Case {
    const char* what;
    std::unique_ptr<TIEMemoryStream> block;
  };
  Case cases[] = {{"a 1 x 1 dump and 256 MiB of zeros", pack(tiny, 256)},
                  {"a header beyond any dump", pack(huge, 0)},
                  {"alpha rows cut short", pack(withAlpha, 0)}};
  for (const Case& c : cases) {
    // layer 1's image replaced by the block, layer 2's image moved behind it
    const uint32_t n = uint32_t(c.block->GetSize());
    std::vector<uint8_t> bytes(sample.begin(), sample.begin() + long(offsets[1]));
    const uint8_t length[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    bytes.insert(bytes.end(), length, length + 4);
    bytes.insert(bytes.end(), Bytes(*c.block), Bytes(*c.block) + n);
    const uint32_t third = uint32_t(bytes.size());
    bytes.insert(bytes.end(), sample.begin() + long(offsets[2]), sample.end());
    std::memcpy(bytes.data() + offsets[0] - 8, &third, 4);  // layer 2's record ends where the images begin

    TIEBitmap before;
    before.Assign(view->GetLayer(0)->Bitmap);
    view->SetCurrentLayer(2);
    const size_t peak = PeakWorkingSet();
    TIEMemStream in(bytes.data(), int64_t(bytes.size()));
    EXPECT_ANY_THROW(view->LoadLayersFromStream(in)) << c.what;
    EXPECT_LT(PeakWorkingSet() - peak, size_t(64) << 20) << c.what;
    ASSERT_EQ(3, view->GetLayerCount()) << c.what;
    EXPECT_EQ(2, view->GetCurrentLayerIndex()) << c.what;
    EXPECT_EQ(view->GetLayer(2)->Bitmap, view->GetIEBitmap()) << c.what;
    EXPECT_EQ("base", view->GetLayer(0)->Name) << c.what;
    EXPECT_EQ("top", view->GetLayer(1)->Name) << c.what;
    EXPECT_EQ(-4, view->GetLayer(1)->PosX) << c.what;
    EXPECT_TRUE(view->GetLayer(2)->IsMask) << c.what;
    EXPECT_TRUE(SamePixels(&before, view->GetLayer(0)->Bitmap)) << c.what;
    EXPECT_EQ(12, view->GetLayer(1)->Bitmap->GetImageWidth()) << c.what;
    EXPECT_EQ(100, view->GetLayer(1)->Bitmap->GetAlphaAt(3, 3)) << c.what;
    view->SetCurrentLayer(0);
  }
  // the same bytes with the real image in place load whole
  TIEMemStream in(sample.data(), int64_t(sample.size()));
  ASSERT_TRUE(Other()->LoadLayersFromStream(in));
  EXPECT_EQ(3, other->GetLayerCount());
}

// A stream of many one-pixel layers: every layer is made at its own size, so loading takes as long
// into a view showing a large picture as into one showing a single pixel.
TEST_F(LayerStream, ManySmallLayersLoadInTimeOfTheirOwnSize) {
  constexpr int kLayers = 2000;
  TIEBitmap pixel;
  Pattern(&pixel, 1, 1, 5);
  OldStream o;
  o.s.Write("DIVEVUZOREDUD", 13);
  o.I32(6);
  o.I32(-2);
  o.I32(kLayers);
  std::vector<int64_t> slots;
  for (int i = 0; i < kLayers; ++i) slots.push_back(o.Record(6, i, "dot", true, false));
  for (int64_t slot : slots) o.Image(slot, &pixel);
  auto load = [&](int side) {
    view->ClearLayers();
    view->GetIEBitmap()->Allocate(side, side, ie24RGB);
    view->UpdateView();
    o.s.SetPosition(0);
    const DWORD start = GetTickCount();
    EXPECT_TRUE(view->LoadLayersFromStream(o.s));
    const DWORD spent = GetTickCount() - start;
    EXPECT_EQ(kLayers, view->GetLayerCount());
    EXPECT_EQ(1, view->GetCurrentLayer()->Bitmap->GetImageWidth());
    return spent;
  };
  const DWORD small = load(1), large = load(2000);
  // generous: the same work either way, whatever the machine's speed
  EXPECT_LT(large, 3 * small + 3000) << "1 x 1 picture: " << small << " ms, 2000 x 2000: " << large << " ms";
}

// The layer set is swapped in only once the whole stream has been read: a stream that fails at its
// last layer leaves the view's layers exactly as they were (the same stream bytes when saved again,
// the same current layer and platform bitmap), and a good one keeps layer 0's own object and rotation.
TEST_F(LayerStream, AFailureAtTheLastLayerLeavesTheOldLayersExact) {
  ThreeLayers();
  view->GetLayer(0)->SetRotation(30);
  view->SetCurrentLayer(2);
  TIEMemoryStream good;
  view->SaveLayersToStream(good, -2);
  const std::vector<uint8_t> sample(Bytes(good), Bytes(good) + good.GetSize());
  TIELayer* const first = view->GetLayer(0);
  ui::TBitmap* const platform = view->GetBitmap();
  auto saved = [&] {
    TIEMemoryStream now;
    view->SaveLayersToStream(now, -2);
    return std::vector<uint8_t>(Bytes(now), Bytes(now) + now.GetSize());
  };
  // the last image is the mask's dump: cut inside its rows, then its size made larger than the rest
  std::vector<uint8_t> cut(sample.begin(), sample.end() - 7);
  std::vector<uint8_t> claim = sample;
  std::vector<uint8_t> dump;
  view->GetLayer(2)->Bitmap->WriteRawImageStream(dump);
  const size_t last = sample.size() - dump.size() - 4;
  ASSERT_EQ(dump.size(), U32(sample.data() + last));
  const uint32_t bigger = uint32_t(dump.size()) + 1;
  std::memcpy(claim.data() + last, &bigger, 4);
  std::vector<uint8_t> wrong = sample;
  wrong[last + 4] ^= 0xFF;  // the dump's magic
  for (const std::vector<uint8_t>* bytes : {&cut, &claim, &wrong}) {
    TIEMemStream in(bytes->data(), int64_t(bytes->size()));
    EXPECT_ANY_THROW(view->LoadLayersFromStream(in));
    EXPECT_EQ(2, view->GetCurrentLayerIndex());
    EXPECT_EQ(view->GetLayer(2)->Bitmap, view->GetIEBitmap());
    EXPECT_EQ(first, view->GetLayer(0));
    EXPECT_EQ(platform, view->GetBitmap());
    EXPECT_TRUE(saved() == sample);
  }
  TIEMemStream in(sample.data(), int64_t(sample.size()));
  ASSERT_TRUE(view->LoadLayersFromStream(in));
  EXPECT_EQ(first, view->GetLayer(0));
  EXPECT_EQ(30, view->GetLayer(0)->GetRotation());
  EXPECT_EQ(2, view->GetCurrentLayerIndex());
  EXPECT_TRUE(saved() == sample);
}

}  // namespace
