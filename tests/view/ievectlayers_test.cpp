// The layers-and-objects stream of the vector view: its offset counted from the format's first byte
// (round trips at a non-zero position), the content test, refused streams that change nothing,
// loading as file type 27 through the I/O component, and mutated streams.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "ielayer.h"
#include "ielayerstream.h"
#include "iestreams.h"
#include "ievect.h"
#include "imageryio.h"

using namespace ui;

namespace {

uint32_t U32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

std::vector<uint8_t> BytesOf(TIEMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.GetSize());
}

void Pattern(TIEBitmap* b, int w, int h, int seed) {
  b->Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->SetRGB(x, y, IEMakeRGB(uint8_t(x * 5 + seed), uint8_t(y * 3), uint8_t(seed + x * y)));
}

std::string PixelsOf(TIEBitmap* b) {
  std::string s = std::to_string(b->GetImageWidth()) + "x" + std::to_string(b->GetImageHeight()) + ":";
  for (int y = 0; y < b->GetImageHeight(); ++y)
    for (int x = 0; x < b->GetImageWidth(); ++x) {
      const TIERGB p = b->GetRGB(x, y);
      s += char(p.r ^ p.g ^ p.b);
    }
  return s;
}

// Layers (place, settings, pixels) and objects (kind, box, text), in order.
std::string Describe(TImageryVect* v) {
  std::string s;
  for (int i = 0; i < v->GetLayerCount(); ++i) {
    TIELayer* l = v->GetLayer(i);
    s += "L(" + std::to_string(l->PosX) + "," + std::to_string(l->PosY) + " t" + std::to_string(l->Transparency) + " " +
         l->Name + " " + PixelsOf(l->Bitmap) + ") ";
  }
  for (int i = 0; i < v->ObjectsCount(); ++i) {
    const TIEVObjectRecord* r = v->ObjectRecord(v->GetObjectHandle(i));
    s += "O" + std::to_string(int(r->Kind)) + "(" + std::to_string(r->X1) + "," + std::to_string(r->Y1) + "," +
         std::to_string(r->X2) + "," + std::to_string(r->Y2) + " " + r->Text + ") ";
  }
  return s;
}

int AddObject(TImageryVect* v, TIEVKind kind, int x1, int y1, int x2, int y2, const char* text = "") {
  TIEVObjectRecord* t = v->ObjectRecord(IEV_TEMPLATE);
  t->Kind = kind;
  t->X1 = x1;
  t->Y1 = y1;
  t->X2 = x2;
  t->Y2 = y2;
  const int h = v->AddObject(*t);
  v->ObjectRecord(h)->Text = text;
  return h;
}

class LayersAndObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    view = New<TImageryVect>(nullptr);
    Pattern(view->GetIEBitmap(), 30, 20, 1);
    view->GetLayer(0)->Name = "base";
    view->AddLayer();
    Pattern(view->GetIEBitmap(), 10, 8, 60);
    view->GetIEBitmap()->GetAlphaChannel()->Fill(120);
    TIELayer* top = view->GetLayer(1);
    top->PosX = -3;
    top->PosY = 6;
    top->Transparency = 200;
    top->Name = "top";
    view->UpdateView();
    AddObject(view, ievkLINE, 1, 2, 20, 15);
    AddObject(view, ievkBOX, 5, 5, 9, 12);
    AddObject(view, ievkTEXT, 0, 0, 25, 10, "words");
  }
  void TearDown() override {
    for (TImageryView* v : others) v->Free();
    view->Free();
  }
  TImageryVect* Other() {
    TImageryVect* v = New<TImageryVect>(nullptr);
    others.push_back(v);
    Pattern(v->GetIEBitmap(), 4, 4, 9);
    AddObject(v, ievkELLIPSE, 0, 0, 3, 3);
    return v;
  }
  TImageryVect* view = nullptr;
  std::vector<TImageryView*> others;
};

const char kPrefix[] = "leading";  // 7 bytes before the format

}  // namespace

TEST_F(LayersAndObjects, RoundTripsAtANonZeroPositionWithTheOffsetFromTheFirstByte) {
  for (int code : {-1, -2}) {
    SCOPED_TRACE(code);
    TIEMemoryStream layersOnly;
    view->SaveLayersToStream(layersOnly, code);
    TIEMemoryStream s;
    s.WriteBuffer(kPrefix, 7);
    view->SaveLayersAndObjectsToStream(s, code);
    const std::vector<uint8_t> b = BytesOf(s);
    const uint32_t o = U32(b.data() + 7);
    EXPECT_EQ(int64_t(o), 4 + layersOnly.GetSize());
    EXPECT_EQ(0, std::memcmp(b.data() + 11, kIELayersMagic, kIELayersMagicSize));
    ASSERT_LT(7 + o + 4, b.size());
    EXPECT_EQ(0, std::memcmp(b.data() + 7 + o, "IEV", 3));

    s.SetPosition(7);
    EXPECT_TRUE(IELayersAndObjectsStreamTest(s));
    EXPECT_EQ(s.GetPosition(), 7);
    s.SetPosition(0);
    EXPECT_FALSE(IELayersAndObjectsStreamTest(s));  // "lead" is no offset within the stream
    EXPECT_EQ(s.GetPosition(), 0);

    TImageryVect* v = Other();
    s.SetPosition(7);
    ASSERT_TRUE(v->LoadLayersAndObjectsFromStream(s));
    EXPECT_EQ(Describe(v), Describe(view));
    ASSERT_EQ(v->GetLayerCount(), 2);
    EXPECT_TRUE(v->GetLayer(1)->Bitmap->AlphaPresent());

    // saved again at the same position: the same bytes
    TIEMemoryStream again;
    again.WriteBuffer(kPrefix, 7);
    v->SaveLayersAndObjectsToStream(again, code);
    EXPECT_EQ(BytesOf(again), b);

    // at position 0 the offset is the same number
    TIEMemoryStream atZero;
    view->SaveLayersAndObjectsToStream(atZero, code);
    EXPECT_EQ(U32(BytesOf(atZero).data()), o);
  }
}

TEST_F(LayersAndObjects, OneLayerWithoutObjectsLeavesNoObjects) {
  TImageryVect* plain = Other();
  plain->RemoveAllObjects();
  TIEMemoryStream s;
  plain->SaveLayersAndObjectsToStream(s, -1);
  s.SetPosition(0);
  ASSERT_TRUE(view->LoadLayersAndObjectsFromStream(s));
  EXPECT_EQ(view->ObjectsCount(), 0);
  EXPECT_EQ(Describe(view), Describe(plain));
}

TEST_F(LayersAndObjects, RefusedStreamsChangeNothingAndKeepThePosition) {
  TIEMemoryStream s;
  s.WriteBuffer(kPrefix, 7);
  view->SaveLayersAndObjectsToStream(s, -2);
  const std::vector<uint8_t> good = BytesOf(s);
  const uint32_t o = U32(good.data() + 7);
  auto withOffset = [&](uint32_t v) {
    std::vector<uint8_t> b = good;
    std::memcpy(b.data() + 7, &v, 4);
    return b;
  };
  std::vector<uint8_t> badLayers = good;
  badLayers[11] = 'X';  // the layer stream's magic
  std::vector<uint8_t> badObjects = good;
  badObjects[7 + o + 3] = '0';  // an objects version never written
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool passesTest;
  };
  const Case kCases[] = {
      {"an offset past the stream", withOffset(uint32_t(good.size())), false},
      {"a negative offset", withOffset(0xFFFFFFF0u), false},
      {"an offset inside the offset field", withOffset(2), false},
      {"an offset into the layer stream", withOffset(40), false},
      {"a layer stream that is none", badLayers, false},
      {"an objects stream of an unknown version", badObjects, false},
      {"only part of the offset", std::vector<uint8_t>(good.begin(), good.begin() + 9), false},
  };
  TImageryVect* v = Other();
  const std::string before = Describe(v);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TIEMemStream in(c.bytes.data(), int64_t(c.bytes.size()));
    in.SetPosition(7);
    EXPECT_EQ(IELayersAndObjectsStreamTest(in), c.passesTest);
    EXPECT_EQ(in.GetPosition(), 7);
    EXPECT_FALSE(v->LoadLayersAndObjectsFromStream(in));
    EXPECT_EQ(in.GetPosition(), 7);
    EXPECT_EQ(Describe(v), before);
  }
  EXPECT_FALSE(v->LoadLayersAndObjectsFromFile(L""));
}

TEST_F(LayersAndObjects, LoadsAsFileType27ThroughTheIOComponent) {
  TIEMemoryStream s;
  view->SaveLayersAndObjectsToStream(s, -1);
  const std::vector<uint8_t> bytes = BytesOf(s);
  const std::string file = tq::WorkFile("scene.all");
  ASSERT_TRUE(tq::WriteFileBytes(file, bytes.data(), bytes.size()));
  const std::wstring name(file.begin(), file.end());
  const std::string expected = Describe(view);

  // read on the host: the offset, the layer stream behind it, layer 0's zlib image, the objects stream
  const char* kReader =
      "import sys, zlib, struct\n"
      "d = open(sys.argv[1], 'rb').read()\n"
      "o = struct.unpack_from('<i', d, 0)[0]\n"
      "magic, version, code, count = struct.unpack_from('<13siii', d, 4)\n"
      "p = 4 + 25 + 38\n"
      "n = struct.unpack_from('<i', d, p)[0]; name = d[p + 4:p + 4 + n].decode(); p += 4 + n\n"
      "p += 4 + struct.unpack_from('<i', d, p)[0] + 3\n"
      "at = struct.unpack_from('<q', d, p)[0]\n"
      "size = struct.unpack_from('<i', d, at)[0]\n"
      "raw = zlib.decompress(d[at + 4:at + 4 + size])\n"
      "print(magic.decode(), version, code, count, name, raw[:12].decode(), d[o:o + 4].decode())\n";
  const std::string script = tq::WorkFile("readall.py");
  ASSERT_TRUE(tq::WriteFileBytes(script, kReader, std::strlen(kReader)));
  std::string out;
  ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 " + tq::ShellQuote(tq::UnixPath(script)) + " " +
                           tq::ShellQuote(tq::UnixPath(file)), &out))
      << out;
  EXPECT_EQ(out, "DIVEVUZOREDUD 6 -1 2 base TIEBITMAPRAW IEVR\n");

  for (int route = 0; route < 4; ++route) {
    SCOPED_TRACE(route);
    TImageryVect* v = Other();
    TImageryIO* io = v->GetIO();
    TIEMemStream in(bytes.data(), int64_t(bytes.size()));
    switch (route) {
      case 0: io->LoadAsFileType(name, iffALL); break;
      case 1: io->LoadStreamAsFileType(in, iffALL); break;
      case 2: io->LoadByContent(name); break;
      case 3: io->LoadStreamAsFileType(in, 0); break;
    }
    EXPECT_FALSE(io->Aborting);
    EXPECT_EQ(Describe(v), expected);
    EXPECT_EQ(io->Params.FileType, iffALL);
  }
  EXPECT_EQ(view->GetIO()->DetectFileType(name, false), iffALL);
  EXPECT_TRUE(IECanReadFileType(iffALL));

  // a plain view has nowhere to keep layers and objects: it gets them merged and drawn into one image
  // that spans the layers' boxes (the top layer starts 3 pixels left of the base)
  TImageryView* plain = New<TImageryView>(nullptr);
  others.push_back(plain);
  Pattern(plain->GetIEBitmap(), 5, 5, 3);
  plain->GetIO()->LoadAsFileType(name, iffALL);
  EXPECT_FALSE(plain->GetIO()->Aborting);
  EXPECT_EQ(plain->GetLayerCount(), 1);
  EXPECT_EQ(plain->GetIEBitmap()->GetImageWidth(), 33);
  EXPECT_EQ(plain->GetIEBitmap()->GetImageHeight(), 20);
}

TEST_F(LayersAndObjects, MutatedStreamsNeverCrashHangOrOverAllocate) {
  std::vector<std::vector<uint8_t>> samples;
  for (int code : {-1, -2}) {
    TIEMemoryStream s;
    s.WriteBuffer(kPrefix, 7);
    view->SaveLayersAndObjectsToStream(s, code);
    samples.push_back(BytesOf(s));
  }
  std::mt19937 rng(2718);
  TImageryVect* v = Other();
  int loaded = 0, refused = 0, raised = 0;
  auto attempt = [&](const std::vector<uint8_t>& bytes) {
    TIEMemStream in(bytes.data(), int64_t(bytes.size()));
    in.SetPosition(7);
    IELayersAndObjectsStreamTest(in);
    ASSERT_EQ(in.GetPosition(), 7);
    try {
      if (v->LoadLayersAndObjectsFromStream(in))
        ++loaded;
      else
        ++refused;
    } catch (const std::exception&) {
      ++raised;
    }
    ASSERT_GE(v->GetLayerCount(), 1);
    ASSERT_EQ(v->GetCurrentLayer()->Bitmap, v->GetIEBitmap());
    Describe(v);  // every object left is whole
  };
  for (const auto& sample : samples) {
    for (size_t n = 7; n < sample.size(); n += 1 + sample.size() / 60)
      attempt(std::vector<uint8_t>(sample.begin(), sample.begin() + long(n)));
    const uint32_t o = U32(sample.data() + 7);
    for (int k = 0; k < 200; ++k) {
      std::vector<uint8_t> bytes = sample;
      const int flips = 1 + int(rng() % 4);
      for (int f = 0; f < flips; ++f) {
        size_t at;
        switch (k % 4) {
          case 0: at = 7 + rng() % 4; break;               // the offset
          case 1: at = 11 + rng() % 120; break;            // the layer header and records
          case 2: at = 7 + o + rng() % 40; break;          // the objects stream's head
          default: at = 7 + rng() % (bytes.size() - 7); break;
        }
        if (at >= bytes.size()) at = bytes.size() - 1;
        bytes[at] = uint8_t(rng() % 3 == 0 ? 0xFF : rng());
      }
      attempt(bytes);
    }
  }
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
  EXPECT_GT(raised, 0);
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)));
  EXPECT_LT(pmc.PeakWorkingSetSize, size_t(512) << 20);
}
