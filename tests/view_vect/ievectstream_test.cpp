// The objects stream: the bytes of an empty view, a round trip of every object kind, a reader written
// in Python from the record table, hand-built streams of older versions, hostile streams, and many
// mutated streams that must never crash, hang or over-allocate.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <typeinfo>

#include "hostenv.h"
#include "iebitmap.h"
#include "iestreams.h"
#include "ievect.h"
#include "ievectglobals.h"
#include "imageryio.h"

using namespace ui;

namespace {

std::string Bytes(TIEMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), size_t(s.GetSize()));
}

// An extended object class of the application: a star with a number of points.
class TestStar : public TIEVExtendedObject {
 public:
  int32_t Points = 5;
  void SaveToStream(TIEStream& s) override { s.WriteBuffer(&Points, 4); }
  void LoadFromStream(TIEStream& s) override { s.ReadBuffer(&Points, 4); }
  TIEVExtendedObject* Clone() const override {
    auto* c = new TestStar;
    c->Points = Points;
    return c;
  }
  void Draw(TBitmap*, int, int, int, int, double, double, bool) override {}
};
const bool g_starRegistered = [] {
  IERegisterExtendedClass("TestStar", typeid(TestStar), [] { return new TestStar; });
  return true;
}();

// Little-endian builder of hand-made streams.
struct Builder {
  std::string s;
  void U8(uint8_t v) { s += char(v); }
  void I32(int32_t v) {
    for (int i = 0; i < 4; ++i) s += char(uint32_t(v) >> (8 * i));
  }
  void F64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) s += char(u >> (8 * i));
  }
  void Str(const std::string& v) {
    I32(int32_t(v.size()));
    s += v;
  }
  // The fields every record has, gated by version; a group's member count follows for kind 0.
  void Common(uint8_t v, uint8_t kind, int x1, int y1, int x2, int y2, const std::string& name) {
    if (v >= '<') I32(77);
    I32(x1);
    I32(y1);
    I32(x2);
    I32(y2);
    U8(kind);
    if (v >= 'M') U8(0);
    if (v >= 'R') U8(0);
    if (v >= '=') {
      U8(1);
      F64(4.5);
      I32(6);
      I32(7);
    }
    if (v >= 'O') {
      I32(55);
      U8(1), U8(2), U8(3);
    }
    Str(name);
    I32(0x04030201);  // tag
    I32(0x0000FF), U8(0), I32(3), I32(0x00FF00), U8(0), U8(15);
    if (v >= '=') I32(128);
    if (v >= '@') U8(0);
    if (v >= 'Q') U8(0);
    if (v >= 'I') I32(0);
  }
  void End(uint8_t v) {
    if (v >= 'J') U8(1);
  }
  void Box(uint8_t v, const std::string& name) {
    Common(v, ievkBOX, 1, 2, 30, 40, name);
    End(v);
  }
};

std::string Deflate(const std::string& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()),
            Z_DEFAULT_COMPRESSION);
  out.resize(size);
  return out;
}

std::string Inflate(const std::string& packed) {
  std::string out(1 << 20, '\0');
  uLongf size = uLongf(out.size());
  if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(packed.data()),
                 uLong(packed.size())) != Z_OK)
    return "";
  out.resize(size);
  return out;
}

// A stream of version v: header, slots (already encoded), then the records deflated.
std::string Stream(uint8_t v, const std::string& slots, const std::string& records, int count) {
  Builder b;
  b.s = "IEV";
  b.U8(v);
  b.I32(0);
  if (v == '1') b.I32(3);
  else b.F64(1.5);
  b.s += slots;
  Builder payload;
  payload.I32(count);
  payload.s += records;
  return b.s + Deflate(payload.s);
}

const std::string kNoSlots(4, '\0');  // a slot count of 0

bool Load(TImageryVect* view, const std::string& bytes) {
  TIEMemStream s(bytes.data(), int64_t(bytes.size()));
  return view->LoadObjectsFromStream(s);
}

class VectStream : public ::testing::Test {
 protected:
  void SetUp() override {
    view = New<TImageryVect>(nullptr);
    other = New<TImageryVect>(nullptr);
  }
  void TearDown() override {
    other->Free();
    view->Free();
  }
  std::string Save(TImageryVect* v) {
    TIEMemoryStream s;
    v->SaveObjectsToStream(s);
    return Bytes(s);
  }
  // A box object from (x1, y1) to (x2, y2).
  void AddBox(int x1, int y1, int x2, int y2) {
    TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
    t->Kind = ievkBOX;
    t->X1 = x1;
    t->Y1 = y1;
    t->X2 = x2;
    t->Y2 = y2;
    view->AddObject(*t);
  }
  // One object of every kind, each with fields away from their defaults.
  void AddEveryKind() {
    TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
    auto add = [&](TIEVKind k, const char* name) {
      t->Kind = k;
      t->Name = name;
      t->X1 = int(k) * 10;
      t->Y1 = 5;
      t->X2 = int(k) * 10 + 8;
      t->Y2 = 50;
      t->PenColor = 0x102030 + k;
      t->Transparency = 200;
      t->Shadow.Enabled = true;
      t->Shadow.OffsetX = 4;
      return view->AddObject(*t);
    };
    add(ievkLINE, "line");
    view->ObjectRecord(IEV_LAST)->EndShape = 2;
    add(ievkBOX, "box");
    add(ievkELLIPSE, "ellipse");
    add(ievkARC, "arc");
    view->ObjectRecord(IEV_LAST)->ArcEnd = 1.25;
    add(ievkBITMAP, "bitmap");
    TIEBitmap img;
    img.Allocate(6, 4, ie24RGB);
    img.Fill(77);
    view->SetObjBitmap(IEV_LAST, &img);
    const int text = add(ievkTEXT, "text");
    view->ObjectRecord(text)->Text = "Hello";
    view->ObjectRecord(text)->CurvePoints = {{0.0, 0.5}, {1.0, 0.25}};
    add(ievkRULER, "ruler");
    view->ObjectRecord(IEV_LAST)->RulerUnit = ieuCENTIMETERS;
    add(ievkPOLYLINE, "polyline");
    view->AddPolylinePoint(IEV_LAST, 3, 4);
    view->AddPolylinePoint(IEV_LAST, 30, 9);
    view->AddPolylinePoint(IEV_LAST, 8, 40);
    add(ievkANGLE, "angle");
    const int memo = add(ievkMEMO, "memo");
    TIEVObjectRecord* m = view->ObjectRecord(memo);
    m->Text = "ab\nc";
    m->MemoFormats.resize(2);
    m->MemoFormats[1].FontStyle = 1;
    m->MemoFormats[0].RefCount = 3;
    m->MemoFormats[1].RefCount = 1;
    m->MemoCharFormats = {0, 1, 0, 0, 0};
    m->MemoMargins[2] = 12.5;
    m->UserData = std::malloc(2);
    m->UserDataLength = 2;
    std::memcpy(m->UserData, "ud", 2);
    add(ievkLINELABEL, "label");
    view->ObjectRecord(IEV_LAST)->Text = "label text";
    t->Extended.reset(new TestStar);
    static_cast<TestStar*>(t->Extended.get())->Points = 9;
    add(ievkEXTENDED, "star");
    t->Extended.reset();
  }
  TImageryVect* view = nullptr;
  TImageryVect* other = nullptr;
};

TEST_F(VectStream, AnEmptyViewWritesHeaderTemplateSlotAndAnEmptyBlock) {
  const std::string bytes = Save(view);
  ASSERT_GE(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(0, 4), "IEVR");
  int32_t length, n, stored;
  double scale;
  std::memcpy(&length, &bytes[4], 4);
  std::memcpy(&scale, &bytes[8], 8);
  std::memcpy(&n, &bytes[16], 4);
  std::memcpy(&stored, &bytes[20], 4);
  EXPECT_EQ(size_t(length), bytes.size());
  EXPECT_EQ(scale, 1.0);
  EXPECT_EQ(n, 1);       // the template's slot
  EXPECT_EQ(stored, 0);  // used only by the template: no image
  // an independent inflater reads the block
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("empty.iev"), bytes.data(), bytes.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("python3 -c 'import sys,zlib; d=open(sys.argv[1],\"rb\").read(); "
                        "print(zlib.decompress(d[24:]).hex())' " +
                            tq::ShellQuote(tq::UnixPath(tq::WorkFile("empty.iev"))),
                        &out),
            0)
      << out;
  EXPECT_EQ(out, "00000000\n");

  ASSERT_TRUE(Load(other, bytes));
  EXPECT_EQ(other->ObjectsCount(), 0);
  TIEBitmap* t = other->SharedBitmap(other->ObjectRecord(IEV_TEMPLATE)->BitmapIndex);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->GetImageWidth(), 64);
}

TEST_F(VectStream, EveryKindSavesLoadsAndSavesTheSameBytes) {
  AddEveryKind();
  const std::string first = Save(view);
  ASSERT_TRUE(Load(other, first));
  ASSERT_EQ(other->ObjectsCount(), 12);
  EXPECT_EQ(Save(other), first);

  const TIEVObjectRecord* m = other->ObjectRecord(9);
  EXPECT_EQ(m->Kind, ievkMEMO);
  EXPECT_EQ(m->Text, "ab\nc");
  ASSERT_EQ(m->MemoFormats.size(), 2u);
  EXPECT_EQ(m->MemoFormats[1].FontStyle, 1);
  EXPECT_EQ(m->MemoCharFormats[1], 1);
  EXPECT_EQ(m->MemoMargins[2], 12.5);
  ASSERT_EQ(m->UserDataLength, 2);
  EXPECT_EQ(std::memcmp(m->UserData, "ud", 2), 0);
  EXPECT_EQ(other->ObjectRecord(5)->CurvePoints.size(), 2u);
  EXPECT_EQ(other->ObjectRecord(7)->PolyCount(), 3);
  EXPECT_EQ(other->ObjectRecord(3)->ArcEnd, 1.25);
  EXPECT_EQ(other->ObjectRecord(0)->EndShape, 2);
  EXPECT_TRUE(other->ObjectRecord(1)->Shadow.Enabled);
  EXPECT_EQ(other->ObjectRecord(1)->Shadow.OffsetX, 4);
  TIEBitmap* b = other->SharedBitmap(other->ObjectRecord(4)->BitmapIndex);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetImageWidth(), 6);
  EXPECT_EQ(b->GetRGB(2, 2).r, 77);  // Fill takes a colour: 77 is red
  auto* star = dynamic_cast<TestStar*>(other->ObjectRecord(11)->Extended.get());
  ASSERT_NE(star, nullptr);
  EXPECT_EQ(star->Points, 9);
  EXPECT_EQ(star->Handle, 11);
}

TEST_F(VectStream, TwoObjectsSharingASlotStoreItOnceAndShareItAgain) {
  TIEBitmap img;
  img.Allocate(5, 5, ie24RGB);
  img.Fill(12);
  TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
  t->Kind = ievkBITMAP;
  view->SetObjBitmap(view->AddObject(*t), &img);
  view->SetObjBitmap(view->AddObject(*t), &img);
  const std::string bytes = Save(view);
  int32_t n;
  std::memcpy(&n, &bytes[16], 4);
  EXPECT_EQ(n, 2);
  ASSERT_TRUE(Load(other, bytes));
  const int slot = other->ObjectRecord(0)->BitmapIndex;
  EXPECT_EQ(other->ObjectRecord(1)->BitmapIndex, slot);
  EXPECT_EQ(other->SharedBitmapRefCount(slot), 2);
}

// A reader written from the record table alone decodes what we write.
TEST_F(VectStream, AnIndependentReaderOfTheTableDecodesOurRecords) {
  AddEveryKind();
  const std::string bytes = Save(view);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("all.iev"), bytes.data(), bytes.size()));
  static const char kReader[] = R"PY(
import struct, sys, zlib
d = open(sys.argv[1], 'rb').read()
assert d[:4] == b'IEVR'
assert struct.unpack_from('<i', d, 4)[0] == len(d)
n = struct.unpack_from('<i', d, 16)[0]
p = 20
for _ in range(n):
    c = struct.unpack_from('<i', d, p)[0]; p += 4
    if c > 0:
        assert d[p:p+8] == b'\x89PNG\r\n\x1a\n'; p += 8
        while True:
            ln, ty = struct.unpack_from('>I4s', d, p); p += 12 + ln
            if ty == b'IEND': break
z = zlib.decompress(d[p:])
q = 0
def take(fmt):
    global q
    v = struct.unpack_from('<' + fmt, z, q); q += struct.calcsize('<' + fmt)
    return v if len(v) > 1 else v[0]
def string():
    global q
    ln = take('i'); s = z[q:q+ln]; q += ln
    return s.decode('latin-1')
def font():
    global q
    if take('B'):
        h = take('i'); q += 56
        return h
    return None
m = take('i')
for _ in range(m):
    h, x1, y1, x2, y2, kind = take('5iB')
    take('BB'); take('Bdii'); take('i3B')
    name = string(); q += 4
    pen = take('iBiiBB'); transparency = take('i'); take('BB')
    u = take('i'); q += u
    extra = []
    if kind == 11: take('iBBB')
    if kind in (1, 11): extra.append('shapes=%d,%d' % take('BBii')[:2])
    if kind == 4: extra.append('arc=%g,%g' % take('dd'))
    if kind == 5: extra.append('bitmap=%d' % take('iB')[0]); string()
    if kind in (6, 11, 12):
        take('BB'); extra.append('text=' + string()); font()
        cc = take('i')
        if cc > 0:
            q += 16 * cc; take('i')
        extra.append('curve=%d' % cc)
    if kind == 10:
        text = string(); font()
        if take('B'): q += 4 * len(text)
        f = take('i'); q += 280 * f
        take('BBiiBBiB')
        extra.append('memo=%r,%d' % (text, f))
        take('4d'); take('B')
    take('B')
    if kind == 7: extra.append('unit=%d' % take('BB')[0]); font()
    if kind == 8:
        pc = take('i'); q += 8 * pc; take('4i'); take('B')
        extra.append('vertices=%d' % pc)
    if kind == 9: take('6i'); font()
    if kind == 12:
        if take('B'):
            extra.append('class=' + string()); extra.append('points=%d' % take('i'))
    print(h, kind, name, x1, y1, x2, y2, hex(pen[0]), transparency, u, ' '.join(extra))
assert q == len(z)
)PY";
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("reader.py"), kReader, sizeof kReader - 1));
  std::string out;
  ASSERT_EQ(tq::RunHost("python3 " + tq::ShellQuote(tq::UnixPath(tq::WorkFile("reader.py"))) + " " +
                            tq::ShellQuote(tq::UnixPath(tq::WorkFile("all.iev"))),
                        &out),
            0)
      << out;
  const std::string expected =
      "0 1 line 10 5 18 50 0x102031 200 0 shapes=0,2\n"
      "1 2 box 20 5 28 50 0x102032 200 0 \n"
      "2 3 ellipse 30 5 38 50 0x102033 200 0 \n"
      "3 4 arc 40 5 48 50 0x102034 200 0 arc=0,1.25\n"
      "4 5 bitmap 50 5 58 50 0x102035 200 0 bitmap=1\n"
      "5 6 text 60 5 68 50 0x102036 200 0 text=Hello curve=2\n"
      "6 7 ruler 70 5 78 50 0x102037 200 0 unit=4\n"
      "7 8 polyline 3 4 30 40 0x102038 200 0 vertices=3\n"
      "8 9 angle 90 5 98 50 0x102039 200 0 \n"
      "9 10 memo 100 5 108 50 0x10203a 200 2 memo='ab\\nc',2\n"
      "10 11 label 110 5 118 50 0x10203b 200 0 shapes=0,0 text=label text curve=0\n"
      "11 12 star 120 5 128 50 0x10203c 200 0 text= curve=0 class=TestStar points=9\n";
  EXPECT_EQ(out, expected);
}

TEST_F(VectStream, OlderVersionsTakeTheValuesTheirRecordsLack) {
  // version '1': an int32 scale, a Windows bitmap slot, no shadow, transparency or editable flag
  TIEBitmap img;
  img.Allocate(3, 2, ie24RGB);
  img.Fill(200);
  TIEMemoryStream bmp;
  {
    TImageryIO io(&img);
    io.SaveStreamAsFileType(bmp, iffBMP);
  }
  Builder slots1;
  slots1.I32(1);
  slots1.I32(1);
  slots1.s += Bytes(bmp);
  Builder rec1;
  rec1.Box('1', "old box");
  rec1.Common('1', ievkBITMAP, 0, 0, 3, 2, "old bitmap");
  rec1.I32(0);  // BitmapIndex
  ASSERT_TRUE(Load(other, Stream('1', slots1.s, rec1.s, 2)));
  ASSERT_EQ(other->ObjectsCount(), 2);
  EXPECT_EQ(other->GetMeasureScale(), 3.0);
  const TIEVObjectRecord* box = other->ObjectRecord(0);
  EXPECT_EQ(box->Name, "old box");
  EXPECT_EQ(box->Transparency, 255);
  EXPECT_FALSE(box->Shadow.Enabled);
  EXPECT_EQ(box->Shadow.OffsetX, 2);
  EXPECT_EQ(box->Shadow.OffsetY, 2);
  EXPECT_EQ(box->Shadow.Intensity, 100);
  EXPECT_TRUE(box->TextEditable);
  EXPECT_EQ(box->PenWidth, 3);
  TIEBitmap* loaded = other->SharedBitmap(other->ObjectRecord(1)->BitmapIndex);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->GetImageWidth(), 3);
  EXPECT_EQ(loaded->GetRGB(1, 1).r, 200);

  // '7' to '<': a PNG slot followed by the alpha rows, last row first
  TIEMemoryStream png;
  {
    TImageryIO io(&img);
    io.SaveStreamAsFileType(png, iffPNG);
  }
  ASSERT_GT(png.GetSize(), 0);
  const int rowLen = img.GetAlphaChannel()->GetRowLength();
  std::string rows(size_t(2 * rowLen), '\0');
  rows.replace(0, 3, "\x10\x11\x12");
  rows.replace(size_t(rowLen), 3, "\x20\x21\x22");
  const std::string packed = Deflate(rows);
  Builder slots7;
  slots7.I32(1);
  slots7.I32(1);
  slots7.s += Bytes(png);
  slots7.I32(int32_t(packed.size()));
  slots7.s += packed;
  for (uint8_t v : {uint8_t('7'), uint8_t('<')}) {
    Builder rec;
    rec.Common(v, ievkBITMAP, 0, 0, 3, 2, "alpha");
    rec.I32(0);  // BitmapIndex; the border flag and the text come with later versions
    ASSERT_TRUE(Load(other, Stream(v, slots7.s, rec.s, 1))) << v;
    TIEBitmap* a = other->SharedBitmap(other->ObjectRecord(0)->BitmapIndex);
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(a->AlphaPresent());
    EXPECT_EQ(a->GetAlphaChannel()->GetByte(2, 0), 0x22) << v;
    EXPECT_EQ(a->GetAlphaChannel()->GetByte(0, 1), 0x10) << v;
    EXPECT_FALSE(other->ObjectRecord(0)->BitmapBorder);
    EXPECT_EQ(other->ObjectRecord(0)->Shadow.OffsetX, 2) << v;
  }

  // '=': the shadow and transparency arrive, the shadow's intensity and colour not yet
  Builder recEq;
  recEq.Box('=', "shadow");
  ASSERT_TRUE(Load(other, Stream('=', kNoSlots, recEq.s, 1)));
  const TIEVObjectRecord* s = other->ObjectRecord(0);
  EXPECT_TRUE(s->Shadow.Enabled);
  EXPECT_EQ(s->Shadow.Radius, 4.5);
  EXPECT_EQ(s->Shadow.OffsetX, 6);
  EXPECT_EQ(s->Shadow.Intensity, 100);
  EXPECT_EQ(s->Transparency, 128);
}

TEST_F(VectStream, GroupMembersBecomeObjectsInStreamOrder) {
  Builder rec;
  rec.Common('R', ievkGROUP, 0, 0, 0, 0, "outer");
  rec.I32(2);
  rec.End('R');
  rec.Box('R', "first");
  rec.Common('R', ievkGROUP, 0, 0, 0, 0, "inner");
  rec.I32(1);
  rec.End('R');
  rec.Box('R', "second");
  rec.Box('R', "third");
  ASSERT_TRUE(Load(other, Stream('R', kNoSlots, rec.s, 2)));
  ASSERT_EQ(other->ObjectsCount(), 3);
  EXPECT_EQ(other->ObjectRecord(0)->Name, "first");
  EXPECT_EQ(other->ObjectRecord(1)->Name, "second");
  EXPECT_EQ(other->ObjectRecord(2)->Name, "third");
}

TEST_F(VectStream, VersionsOutsideTheRangeAreRefused) {
  for (char v : {'0', 'S'}) {
    const std::string bytes = std::string("IEV") + v + std::string(20, '\0');
    TIEMemStream s(bytes.data(), int64_t(bytes.size()));
    EXPECT_FALSE(IEObjectsStreamTest(s)) << v;
    EXPECT_EQ(s.GetPosition(), 0);
    view->AddObject(*view->ObjectRecord(IEV_TEMPLATE));
    EXPECT_FALSE(view->LoadObjectsFromStream(s)) << v;
    EXPECT_EQ(view->ObjectsCount(), 1);  // untouched
    view->RemoveAllObjects();
  }
  const std::string good = Save(view);
  TIEMemStream s(good.data(), int64_t(good.size()));
  EXPECT_TRUE(IEObjectsStreamTest(s));
  EXPECT_FALSE(view->LoadObjectsFromFile(L""));
}

TEST_F(VectStream, HostileStreamsStopWithAnError) {
  struct Case {
    const char* name;
    std::string records;
    int count;
  };
  Builder deep;
  for (int i = 0; i < 200; ++i) {
    deep.Common('R', ievkGROUP, 0, 0, 0, 0, "g");
    deep.I32(1);
    deep.End('R');
  }
  deep.Box('R', "bottom");
  Builder unregistered;
  unregistered.Common('R', ievkEXTENDED, 0, 0, 5, 5, "x");
  unregistered.U8(0), unregistered.U8(0), unregistered.Str(""), unregistered.U8(0), unregistered.I32(0);
  unregistered.End('R');
  unregistered.U8(1);
  unregistered.Str("NoSuchClass");
  Builder badBitmap;
  badBitmap.Common('R', ievkBITMAP, 0, 0, 5, 5, "b");
  badBitmap.I32(3), badBitmap.U8(0), badBitmap.Str("");
  badBitmap.End('R');
  Builder badFormat;
  badFormat.Common('R', ievkMEMO, 0, 0, 5, 5, "m");
  badFormat.Str("ab"), badFormat.U8(0), badFormat.U8(1), badFormat.I32(0), badFormat.I32(5);
  badFormat.I32(1);
  badFormat.s += std::string(280, '\0');
  Builder longName;
  longName.Common('R', ievkBOX, 0, 0, 5, 5, "");
  // the name's length field (after handle, box, kind, two flags and the shadow) claims 2 GB
  const int32_t claimed = 0x7FFFFFF0;
  std::memcpy(&longName.s[47], &claimed, 4);
  const Case kCases[] = {
      {"groups nested too deep", deep.s, 1},
      {"unregistered extended class", unregistered.s, 1},
      {"bitmap index beyond the slots", badBitmap.s, 1},
      {"memo character format beyond the list", badFormat.s, 1},
      {"string longer than the stream", longName.s, 1},
      {"more objects than records", Builder{}.s, 3},
  };
  for (const Case& c : kCases) {
    EXPECT_THROW(Load(other, Stream('R', kNoSlots, c.records, c.count)), EIEError) << c.name;
    // the template keeps its bitmap whatever happened
    EXPECT_NE(other->SharedBitmap(other->ObjectRecord(IEV_TEMPLATE)->BitmapIndex), nullptr) << c.name;
  }
}

TEST_F(VectStream, MutatedStreamsNeverCrashOrHang) {
  AddEveryKind();
  const std::string bytes = Save(view);
  // The record block is mutated in the clear and packed again, so the record reader sees the damage.
  // It starts after the slot images: right behind the last PNG's end chunk (its type and CRC).
  size_t blockAt = bytes.rfind("IEND");
  ASSERT_NE(blockAt, std::string::npos);
  blockAt += 8;
  const std::string head = bytes.substr(0, blockAt);
  const std::string clear = Inflate(bytes.substr(blockAt));
  ASSERT_FALSE(clear.empty());
  std::mt19937 rng(12345);
  int loaded = 0, refused = 0;
  for (int round = 0; round < 400; ++round) {
    std::string body = clear;
    if (round % 4 == 0) {
      body.resize(rng() % body.size());
    } else {
      const int flips = 1 + int(rng() % 4);
      for (int i = 0; i < flips; ++i) body[rng() % body.size()] = char(rng());
    }
    std::string damaged = round % 8 == 7 ? bytes.substr(0, rng() % bytes.size()) : head + Deflate(body);
    try {
      if (Load(other, damaged)) ++loaded;
      else ++refused;  // cut inside the magic
    } catch (const EIEError&) {
      ++refused;
    }
  }
  EXPECT_EQ(loaded + refused, 400);
  EXPECT_GT(refused, 0);
}

TEST_F(VectStream, ObjectsFilesLoadByName) {
  AddEveryKind();
  const std::string bytes = Save(view);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("objects.iev"), bytes.data(), bytes.size()));
  const std::string win = tq::WorkFile("objects.iev");
  ASSERT_TRUE(other->LoadObjectsFromFile(std::wstring(win.begin(), win.end())));
  EXPECT_EQ(other->ObjectsCount(), 12);
}

}  // namespace

namespace {

TEST_F(VectStream, TheInputOutputComponentLoadsObjectsIntoAnAttachedVectorView) {
  AddBox(10, 20, 59, 39);
  const std::string bytes = Save(view);
  const std::string win = tq::WorkFile("io.iev");
  ASSERT_TRUE(tq::WriteFileBytes(win, bytes.data(), bytes.size()));
  const std::wstring name(win.begin(), win.end());

  EXPECT_EQ(other->GetIO()->DetectFileType(name, false), iffIEV);
  other->GetIO()->LoadAsFileType(name, iffIEV);
  EXPECT_FALSE(other->GetIO()->Aborting);
  EXPECT_EQ(other->ObjectsCount(), 1);
  EXPECT_EQ(other->GetImageWidth(), 60);
  EXPECT_EQ(other->GetImageHeight(), 40);
  EXPECT_EQ(other->GetIEBitmap()->GetAlphaChannel()->GetByte(5, 5), 0);

  other->RemoveAllObjects();
  TIEMemStream s(bytes.data(), int64_t(bytes.size()));
  other->GetIO()->LoadStreamAsFileType(s, iffIEV);
  EXPECT_FALSE(other->GetIO()->Aborting);
  EXPECT_EQ(other->ObjectsCount(), 1);

  // a plain view has nowhere to keep objects: it gets them drawn into its image
  TImageryView* plain = New<TImageryView>(nullptr);
  plain->GetIO()->LoadAsFileType(name, iffIEV);
  EXPECT_FALSE(plain->GetIO()->Aborting);
  EXPECT_EQ(plain->GetImageWidth(), 60);
  EXPECT_EQ(plain->GetImageHeight(), 40);
  plain->Free();
}

// An objects file sizes its canvas from the objects' far corner, within bounds: a corner at INT_MAX
// does not wrap, and one far object does not ask for a huge canvas.
TEST_F(VectStream, TheObjectsCanvasIsBounded) {
  struct Case {
    const char* what;
    int x2, y2;
  };
  const Case cases[] = {{"corner at INT_MAX", INT_MAX, INT_MAX},
                        {"far to the right", 1000000000, 39},
                        {"far down", 59, 2000000000},
                        {"near", 59, 39}};
  for (const Case& c : cases) {
    view->RemoveAllObjects();
    AddBox(10, 20, 59, 39);
    AddBox(c.x2 - 5, c.y2 - 5, c.x2, c.y2);
    const std::string bytes = Save(view);
    const std::string win = tq::WorkFile("far.iev");
    ASSERT_TRUE(tq::WriteFileBytes(win, bytes.data(), bytes.size()));
    other->GetIO()->LoadAsFileType(std::wstring(win.begin(), win.end()), iffIEV);
    ASSERT_FALSE(other->GetIO()->Aborting) << c.what;
    const int64_t w = other->GetImageWidth(), h = other->GetImageHeight();
    // the near object always fits; the canvas never passes 16384 on a side or 64 Mpixels
    EXPECT_GE(w, 60) << c.what;
    EXPECT_GE(h, std::min<int64_t>(40, (int64_t(1) << 26) / w)) << c.what;
    EXPECT_LE(w, 16384) << c.what;
    EXPECT_LE(h, 16384) << c.what;
    EXPECT_LE(w * h, int64_t(1) << 26) << c.what;
    // a far corner is not lost by wrapping: the canvas reaches its bound towards it
    if (c.x2 > 59) { EXPECT_EQ(16384, w) << c.what; }
    if (c.x2 == 59) { EXPECT_EQ(60, w) << c.what; }
    if (c.y2 == 39) { EXPECT_EQ(40, h) << c.what; }
  }
}

}  // namespace
