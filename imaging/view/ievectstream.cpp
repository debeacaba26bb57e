// The objects stream ("IEV"): every object of a vector editor with the shared bitmaps they use. The
// header and the slot images stand in the open, the object records in one zlib block. Records of
// older versions lack the fields added later; the reader takes fixed values for those.
//
// Everything read is checked before use: a stream that ends early, a count or length that the data
// does not hold, an index that names nothing, groups nested too deep, or an extended class that is not
// registered stop the load with EIEVectError (or the zlib stream's error for corrupt data). Blocks are
// allocated as their bytes arrive, never from a claimed size.
#include <algorithm>
#include <cstring>
#include <tuple>
#include <typeinfo>
#include <utility>

#include "iebitmap.h"
#include "ievect.h"
#include "ievectglobals.h"
#include "iestreams.h"
#include "iezlib.h"
#include "imageryio.h"

namespace {

constexpr char kMagic[3] = {'I', 'E', 'V'};
constexpr uint8_t kFirstVersion = '1';
constexpr uint8_t kVersion = 'R';
constexpr int kMaxGroupDepth = 32;        // groups inside groups
constexpr int32_t kMaxStringLength = 1 << 26;  // 64 MB for a name, text or user data block
constexpr int kReadChunk = 65536;
constexpr int kFontRecordSize = int(sizeof(LOGFONTA));  // 60 bytes
static_assert(sizeof(LOGFONTA) == 60, "the stored font record is the 8-bit platform font description");

// ---- writing ----

class Writer {
 public:
  explicit Writer(TIEStream& s) : s_(s) {}
  void U8(uint8_t v) { s_.WriteBuffer(&v, 1); }
  void I32(int32_t v) {
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = uint8_t(uint32_t(v) >> (8 * i));
    s_.WriteBuffer(b, 4);
  }
  void F64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = uint8_t(u >> (8 * i));
    s_.WriteBuffer(b, 8);
  }
  void Bytes(const void* p, size_t n) {
    if (n) s_.WriteBuffer(p, int32_t(n));
  }
  void Str(const std::string& v) {
    I32(int32_t(v.size()));
    Bytes(v.data(), v.size());
  }
  void Font(const std::unique_ptr<LOGFONTA>& f) {
    U8(f ? 1 : 0);
    if (f) FontRecord(*f);
  }
  void FontRecord(const LOGFONTA& f) {
    I32(f.lfHeight);
    I32(f.lfWidth);
    I32(f.lfEscapement);
    I32(f.lfOrientation);
    I32(f.lfWeight);
    U8(f.lfItalic);
    U8(f.lfUnderline);
    U8(f.lfStrikeOut);
    U8(f.lfCharSet);
    U8(f.lfOutPrecision);
    U8(f.lfClipPrecision);
    U8(f.lfQuality);
    U8(f.lfPitchAndFamily);
    Bytes(f.lfFaceName, LF_FACESIZE);
  }

 private:
  TIEStream& s_;
};

// ---- reading ----

class Reader {
 public:
  explicit Reader(TIEStream& s) : s_(s) {}
  void Bytes(void* p, size_t n) {
    auto* out = static_cast<uint8_t*>(p);
    while (n > 0) {
      const int32_t want = int32_t(std::min<size_t>(n, kReadChunk));
      const int32_t got = s_.Read(out, want);
      if (got != want) throw EIEVectError("The objects stream ends early");
      out += want;
      n -= size_t(want);
    }
  }
  uint8_t U8() {
    uint8_t v;
    Bytes(&v, 1);
    return v;
  }
  bool Bool() { return U8() != 0; }
  int32_t I32() {
    uint8_t b[4];
    Bytes(b, 4);
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
  }
  double F64() {
    uint8_t b[8];
    Bytes(b, 8);
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = u << 8 | b[i];
    double v;
    std::memcpy(&v, &u, 8);
    return v;
  }
  // A count or length from the stream: never negative nor beyond `limit`.
  int32_t Count(int32_t limit, const char* what) {
    const int32_t n = I32();
    if (n < 0 || n > limit) throw EIEVectError(std::string("Bad ") + what + " in the objects stream");
    return n;
  }
  // A block of n bytes, grown as the bytes arrive.
  std::string Block(int32_t n) {
    std::string v;
    while (int32_t(v.size()) < n) {
      const size_t step = size_t(std::min<int32_t>(n - int32_t(v.size()), kReadChunk));
      const size_t at = v.size();
      v.resize(at + step);
      Bytes(&v[at], step);
    }
    return v;
  }
  // A length, checked against kMaxStringLength, and the block it announces.
  std::string CountedBlock(const char* what) { return Block(Count(kMaxStringLength, what)); }
  std::string Str() { return CountedBlock("string length"); }
  // A pair of numbers read by `read`, such as a point's x and y.
  template <class T>
  std::pair<T, T> Pair(T (Reader::*read)()) {
    const T first = (this->*read)();
    return {first, (this->*read)()};
  }
  std::unique_ptr<LOGFONTA> Font() {
    if (!Bool()) return nullptr;
    auto f = std::make_unique<LOGFONTA>();
    f->lfHeight = I32();
    f->lfWidth = I32();
    f->lfEscapement = I32();
    f->lfOrientation = I32();
    f->lfWeight = I32();
    f->lfItalic = U8();
    f->lfUnderline = U8();
    f->lfStrikeOut = U8();
    f->lfCharSet = U8();
    f->lfOutPrecision = U8();
    f->lfClipPrecision = U8();
    f->lfQuality = U8();
    f->lfPitchAndFamily = U8();
    Bytes(f->lfFaceName, LF_FACESIZE);
    f->lfFaceName[LF_FACESIZE - 1] = 0;
    return f;
  }
  TIEStream& Stream() { return s_; }

 private:
  TIEStream& s_;
};

// The magic and a version this reader knows; false for anything else (or a stream too short).
bool ReadHead(TIEStream& stream, uint8_t& version) {
  uint8_t head[4] = {};
  if (stream.Read(head, 4) != 4 || std::memcmp(head, kMagic, 3) != 0 || head[3] < kFirstVersion || head[3] > kVersion)
    return false;
  version = head[3];
  return true;
}

bool KindWithTextFields(TIEVKind k) { return k == ievkTEXT || k == ievkLINELABEL || k == ievkEXTENDED; }

void ReadSlotImage(TIEStream& source, TIEBitmap& bitmap, uint8_t version) {
  TImageryIO io(&bitmap);
  io.LoadStreamAsFileType(source, version <= '2' ? iffBMP : iffPNG);
  if (io.Aborting || bitmap.IsEmpty()) throw EIEVectError("A shared bitmap of the objects stream cannot be read");
}

}  // namespace

// ---- test ----

bool IEObjectsStreamTest(TIEStream& stream) {
  const int64_t pos = stream.GetPosition();
  uint8_t version;
  const bool ok = ReadHead(stream, version);
  stream.SetPosition(pos);
  return ok;
}

// ---- saving ----

void TImageryVect::SaveObjectToStream(TIEStream& stream, int hobj) {
  if (hobj == IEV_ALL) {
    for (int h : ObjectList) SaveObjectToStream(stream, h);
    return;
  }
  const int h = Resolve(hobj, false);
  const TIEVObjectRecord& r = *Records[size_t(h)];
  Writer w(stream);
  w.I32(h);
  w.I32(r.X1);
  w.I32(r.Y1);
  w.I32(r.X2);
  w.I32(r.Y2);
  w.U8(r.Kind);
  w.U8(r.KeepAspectRatio);
  w.U8(r.BlendOperation);
  w.U8(r.Shadow.Enabled);
  w.F64(r.Shadow.Radius);
  w.I32(r.Shadow.OffsetX);
  w.I32(r.Shadow.OffsetY);
  w.I32(r.Shadow.Intensity);
  w.U8(r.Shadow.Color.b);
  w.U8(r.Shadow.Color.g);
  w.U8(r.Shadow.Color.r);
  w.Str(r.Name);
  w.Bytes(r.Tag, 4);
  w.I32(r.PenColor);
  w.U8(r.PenStyle);
  w.I32(r.PenWidth);
  w.I32(r.BrushColor);
  w.U8(r.BrushStyle);
  w.U8(r.Flags);
  w.I32(r.Transparency);
  w.U8(r.Highlight);
  w.U8(r.TextQuality);
  if (r.UserDataLength > 0 && r.UserData) {
    w.I32(r.UserDataLength);
    w.Bytes(r.UserData, size_t(r.UserDataLength));
  } else {
    w.I32(0);
  }
  if (r.Kind == ievkLINELABEL) {
    w.I32(r.LabelBrushColor);
    w.U8(r.LabelBrushStyle);
    w.U8(r.LabelAtEnd);
    w.U8(r.LabelBorder);
  }
  if (r.Kind == ievkLINE || r.Kind == ievkLINELABEL) {
    w.U8(r.StartShape);
    w.U8(r.EndShape);
    w.I32(r.ShapeWidth);
    w.I32(r.ShapeHeight);
  }
  if (r.Kind == ievkARC) {
    w.F64(r.ArcStart);
    w.F64(r.ArcEnd);
  }
  if (r.Kind == ievkBITMAP) {
    w.I32(r.BitmapIndex);
    w.U8(r.BitmapBorder);
    w.Str(r.Text);
  }
  if (KindWithTextFields(r.Kind)) {
    w.U8(r.TextAlign);
    w.U8(r.AutoSize);
    w.Str(r.Text);
    w.Font(r.Font);
    w.I32(r.CurveCount());
    if (r.CurveCount() > 0) {
      for (const auto& p : r.CurvePoints) {
        w.F64(p.first);
        w.F64(p.second);
      }
      w.I32(r.CurveEscapement);
    }
  }
  if (r.Kind == ievkMEMO) {
    w.Str(r.Text);
    w.Font(r.Font);
    const bool formats = !r.MemoCharFormats.empty();
    w.U8(formats);
    if (formats)
      for (size_t i = 0; i < r.Text.size(); ++i) w.I32(i < r.MemoCharFormats.size() ? r.MemoCharFormats[i] : 0);
    w.I32(int32_t(r.MemoFormats.size()));
    uint8_t rec[TIETextFormat::kRecordSize];
    for (const TIETextFormat& f : r.MemoFormats) {
      f.WriteRecord(rec);
      w.Bytes(rec, sizeof rec);
    }
    w.U8(r.MemoUniformFormat);
    w.U8(r.AutoSize);
    w.I32(r.MemoLineSpacing);
    w.I32(r.MemoBorderColor);
    w.U8(r.MemoBorderStyle);
    w.U8(r.TextAlign);
    w.I32(r.MemoLineHeight);
    w.U8(r.MemoHasBitmap);
    if (r.MemoHasBitmap) {
      w.I32(r.BitmapIndex);
      w.U8(r.BitmapBorder);
    }
    for (double m : r.MemoMargins) w.F64(m);
    w.U8(r.MemoBackgroundStyle);
  }
  w.U8(r.TextEditable);
  if (r.Kind == ievkRULER) {
    w.U8(r.RulerUnit);
    w.U8(r.RulerType);
    w.Font(r.Font);
  }
  if (r.Kind == ievkPOLYLINE) {
    w.I32(r.PolyCount());
    for (const POINT& p : r.PolyPoints) {
      w.I32(p.x);
      w.I32(p.y);
    }
    w.I32(r.PolyBounds.left);
    w.I32(r.PolyBounds.top);
    w.I32(r.PolyBounds.right);
    w.I32(r.PolyBounds.bottom);
    w.U8(r.PolyClosed);
  }
  if (r.Kind == ievkANGLE) {
    for (const POINT& p : r.AnglePoints) {
      w.I32(p.x);
      w.I32(p.y);
    }
    w.Font(r.Font);
  }
  if (r.Kind == ievkEXTENDED) {
    const std::string cls = r.Extended ? ExtendedClassName(typeid(*r.Extended)) : "";
    // An instance of an unregistered class could not be read back: it is stored as absent.
    w.U8(!cls.empty());
    if (!cls.empty()) {
      w.Str(cls);
      r.Extended->SaveToStream(stream);
    }
  }
}

void TImageryVect::SaveObjectsToStream(TIEStream& stream) {
  CompactSharedBitmaps();
  const int64_t start = stream.GetPosition();
  Writer w(stream);
  w.Bytes(kMagic, 3);
  w.U8(kVersion);
  w.I32(0);
  w.F64(MeasureScale);
  w.I32(int32_t(SharedBitmaps.size()));
  for (size_t i = 0; i < SharedBitmaps.size(); ++i) {
    const TIEVSharedBitmap& s = SharedBitmaps[i];
    const int stored = s.RefCount - (Template.BitmapIndex == int(i) ? 1 : 0);
    w.I32(stored);
    if (stored <= 0 || !s.Bitmap) continue;
    TImageryIO io(s.Bitmap.get());
    io.SaveStreamAsFileType(stream, iffPNG);
    if (io.Aborting) throw EIEVectError("A shared bitmap cannot be written to the objects stream");
  }
  {
    TZCompressionStream z(stream, zcDefault);
    Writer zw(z);
    zw.I32(int32_t(ObjectList.size()));
    SaveObjectToStream(z, IEV_ALL);
    z.Finish();
  }
  const int64_t end = stream.GetPosition();
  stream.SetPosition(start + 4);
  w.I32(int32_t(end - start));
  stream.SetPosition(end);
}

// ---- loading ----

bool TImageryVect::LoadObjectsFromFile(const std::wstring& fileName) {
  if (fileName.empty()) return false;
  TIEWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  return LoadObjectsFromStream(file);
}

bool TImageryVect::LoadObjectsFromStream(TIEStream& stream) {
  uint8_t version;
  if (!ReadHead(stream, version)) return false;
  const bool share = ShareBitmaps;
  ShareBitmaps = true;
  std::unique_ptr<TIEBitmap> templateBitmap;
  if (TIEBitmap* b = SharedBitmap(Template.BitmapIndex)) {
    templateBitmap = std::make_unique<TIEBitmap>();
    templateBitmap->Assign(b);
    SetObjBitmap(IEV_TEMPLATE, nullptr);
  }
  {
    // the objects replaced by a load are no undo step of their own
    const bool autoUndo = ObjAutoUndo;
    ObjAutoUndo = false;
    try {
      RemoveAllObjects();
    } catch (...) {
      ObjAutoUndo = autoUndo;
      throw;
    }
    ObjAutoUndo = autoUndo;
  }
  SharedBitmaps.clear();
  auto restore = [&] {
    ShareBitmaps = share;
    if (templateBitmap) SetObjBitmap(IEV_TEMPLATE, templateBitmap.get());
  };
  try {
    Reader r(stream);
    r.I32();  // the stored length
    MeasureScale = version == '1' ? double(r.I32()) : r.F64();
    if (!(MeasureScale > 0 && MeasureScale < 1e300)) MeasureScale = 1.0;
    RecomputeUnitFactors();
    const int32_t slots = r.Count(INT32_MAX, "shared bitmap count");
    // Slots are added one by one as their entries arrive: the count alone allocates nothing.
    for (int32_t i = 0; i < slots; ++i) {
      const int32_t stored = r.I32();
      SharedBitmaps.emplace_back();
      if (stored <= 0) continue;
      auto bitmap = std::make_unique<TIEBitmap>();
      ReadSlotImage(stream, *bitmap, version);
      if (version >= '7' && version <= '<') {
        const std::string packed = r.CountedBlock("alpha block size");
        TIEMemStream mem(packed.data(), int64_t(packed.size()));
        TZDecompressionStream z(mem);
        TIEBitmap* alpha = bitmap->GetAlphaChannel();
        Reader zr(z);
        for (int y = bitmap->GetImageHeight() - 1; y >= 0; --y)
          zr.Bytes(alpha->GetRowAddress(y), size_t(alpha->GetRowLength()));
        alpha->IsAll255 = false;
      }
      SharedBitmaps.back().Bitmap = std::move(bitmap);
    }
    TZDecompressionStream z(stream);
    Reader zr(z);
    const int32_t count = zr.Count(INT32_MAX, "object count");
    for (int32_t i = 0; i < count; ++i) LoadObjectFromStream(z, version);
  } catch (...) {
    restore();
    PaintView();
    throw;
  }
  restore();
  PaintView();
  return true;
}

namespace {

// The font a ruler or an angle gets when its record stores none.
std::unique_ptr<LOGFONTA> DefaultMeasureFont(const TIEVObjectRecord& templ, int height) {
  auto f = templ.Font ? std::make_unique<LOGFONTA>(*templ.Font) : std::make_unique<LOGFONTA>();
  f->lfHeight = height;
  std::memset(f->lfFaceName, 0, LF_FACESIZE);
  std::strcpy(f->lfFaceName, "Arial");
  return f;
}

}  // namespace

int TImageryVect::LoadObjectFromStream(TIEStream& stream, uint8_t version) {
  // Group members are read as top-level records; the depth counts the groups around this record.
  struct DepthGuard {
    int& depth;
    explicit DepthGuard(int& d) : depth(d) {
      if (++depth > kMaxGroupDepth) {
        --depth;
        throw EIEVectError("Groups of the objects stream are nested too deep");
      }
    }
    ~DepthGuard() { --depth; }
  };
  static thread_local int depth = 0;
  DepthGuard guard(depth);

  Reader r(stream);
  const uint8_t v = version;
  TIEVObjectRecord o;
  // Fields a record does not hold take the template's values.
  static_cast<TIEVObjectFields&>(o) = Template;
  o.MemoUniformFormat = true;
  o.BitmapBorder = false;
  o.Highlight = false;
  o.MemoHasBitmap = false;
  o.KeepAspectRatio = false;
  o.TextQuality = 0;
  o.BlendOperation = 0;
  o.CurveEscapement = -10;
  o.BitmapIndex = -1;
  o.TextEditable = true;
  o.Transparency = 255;
  o.PolyBounds = RECT{0, 0, 0, 0};
  o.PolyClosed = false;
  std::memset(o.MemoMargins, 0, sizeof o.MemoMargins);
  o.MemoBackgroundStyle = 0;

  if (v >= '<') r.I32();
  o.X1 = r.I32();
  o.Y1 = r.I32();
  o.X2 = r.I32();
  o.Y2 = r.I32();
  const uint8_t kind = r.U8();
  if (kind > ievkEXTENDED) throw EIEVectError("Unknown object kind " + std::to_string(kind) + " in the objects stream");
  o.Kind = TIEVKind(kind);
  if (v >= 'M') o.KeepAspectRatio = r.Bool();
  if (v >= 'R') o.BlendOperation = r.U8();
  if (v >= '=') {
    o.Shadow.Enabled = r.Bool();
    o.Shadow.Radius = r.F64();
    o.Shadow.OffsetX = r.I32();
    o.Shadow.OffsetY = r.I32();
  } else {
    o.Shadow = TIEVSoftShadow{};
    o.Shadow.OffsetX = o.Shadow.OffsetY = 2;
  }
  if (v >= 'O') {
    o.Shadow.Intensity = r.I32();
    o.Shadow.Color.b = r.U8();
    o.Shadow.Color.g = r.U8();
    o.Shadow.Color.r = r.U8();
  } else {
    o.Shadow.Intensity = 100;
    o.Shadow.Color = TIERGB{0, 0, 0};
  }
  o.Name = r.Str();
  r.Bytes(o.Tag, 4);
  o.PenColor = r.I32();
  o.PenStyle = r.U8();
  o.PenWidth = r.I32();
  o.BrushColor = r.I32();
  o.BrushStyle = r.U8();
  o.Flags = r.U8();
  if (v >= '=') o.Transparency = r.I32();
  if (v >= '@') o.Highlight = r.Bool();
  if (v >= 'Q') o.TextQuality = r.U8();
  std::string userData;
  if (v >= 'I') userData = r.CountedBlock("user data length");
  int32_t members = 0;
  if (o.Kind == ievkGROUP) members = r.Count(INT32_MAX, "group member count");
  if (o.Kind == ievkLINELABEL) {
    o.LabelBrushColor = r.I32();
    o.LabelBrushStyle = r.U8();
    o.LabelAtEnd = r.U8();
    if (v >= 'P') o.LabelBorder = r.U8();
  }
  if (o.Kind == ievkLINE || o.Kind == ievkLINELABEL) {
    o.StartShape = r.U8();
    o.EndShape = r.U8();
    o.ShapeWidth = r.I32();
    o.ShapeHeight = r.I32();
  }
  if (o.Kind == ievkARC) {
    o.ArcStart = r.F64();
    o.ArcEnd = r.F64();
  }
  if (o.Kind == ievkBITMAP) {
    o.BitmapIndex = r.I32();
    if (v >= 'B') o.BitmapBorder = r.Bool();
    if (v >= 'F') o.Text = r.Str();
  }
  if (KindWithTextFields(o.Kind)) {
    if (v >= '4') o.TextAlign = r.U8();
    if (v >= '9') o.AutoSize = r.Bool();
    o.Text = r.Str();
    o.Font = r.Font();
    if (v >= '?') {
      const int32_t n = r.Count(INT32_MAX, "curve point count");
      for (int32_t i = 0; i < n; ++i) o.CurvePoints.push_back(r.Pair(&Reader::F64));
      if (n > 0) o.CurveEscapement = r.I32();
    }
  }
  if (o.Kind == ievkMEMO) {
    o.Text = r.Str();
    o.Font = r.Font();
    const bool hasFormats = v >= 'C' ? r.Bool() : true;
    if (hasFormats) {
      o.MemoCharFormats.reserve(o.Text.size() + 1);
      for (size_t i = 0; i < o.Text.size(); ++i) o.MemoCharFormats.push_back(r.I32());
      o.MemoCharFormats.push_back(0);
    }
    const int32_t formats = r.Count(INT32_MAX, "memo format count");
    uint8_t rec[TIETextFormat::kRecordSize];
    for (int32_t i = 0; i < formats; ++i) {
      r.Bytes(rec, sizeof rec);
      o.MemoFormats.emplace_back();
      o.MemoFormats.back().ReadRecord(rec);
    }
    for (size_t i = 0; i + 1 < o.MemoCharFormats.size(); ++i)
      if (o.MemoCharFormats[i] < 0 || o.MemoCharFormats[i] >= formats)
        throw EIEVectError("A memo character names no format of the objects stream");
    o.MemoUniformFormat = r.Bool();
    o.AutoSize = r.Bool();
    o.MemoLineSpacing = r.I32();
    o.MemoBorderColor = r.I32();
    o.MemoBorderStyle = r.U8();
    o.TextAlign = r.U8();
    o.MemoLineHeight = r.I32();
    if (v >= 'I') o.MemoHasBitmap = r.Bool();
    if (o.MemoHasBitmap) {
      o.BitmapIndex = r.I32();
      if (v >= 'B') o.BitmapBorder = r.Bool();
    }
    if (v >= 'H')
      for (double& m : o.MemoMargins) m = r.F64();
    if (v >= 'L') o.MemoBackgroundStyle = r.U8();
  }
  if (v >= 'J') o.TextEditable = r.Bool();
  if (o.Kind == ievkRULER) {
    if (v >= '5') {
      const uint8_t unit = r.U8();
      if (unit > ieuMILES) throw EIEVectError("Unknown ruler unit in the objects stream");
      o.RulerUnit = TIEUnits(unit);
      o.RulerType = r.U8();
    }
    if (v >= 'A') o.Font = r.Font();
    if (!o.Font) o.Font = DefaultMeasureFont(Template, 12);
  }
  if (o.Kind == ievkPOLYLINE) {
    if (v >= '8') {
      const int32_t n = r.Count(INT32_MAX, "polyline vertex count");
      for (int32_t i = 0; i < n; ++i) {
        const auto [x, y] = r.Pair(&Reader::I32);
        o.PolyPoints.push_back(POINT{x, y});
      }
      o.PolyBounds.left = r.I32();
      o.PolyBounds.top = r.I32();
      o.PolyBounds.right = r.I32();
      o.PolyBounds.bottom = r.I32();
    }
    if (v >= ';') o.PolyClosed = r.Bool();
  }
  if (o.Kind == ievkANGLE) {
    if (v >= ':')
      for (POINT& p : o.AnglePoints) std::tie(p.x, p.y) = r.Pair(&Reader::I32);
    if (v >= 'K') o.Font = r.Font();
    if (!o.Font) o.Font = DefaultMeasureFont(Template, 10);
  }
  if (o.Kind == ievkEXTENDED && v >= 'N' && r.Bool()) {
    const std::string cls = r.Str();
    std::unique_ptr<TIEVExtendedObject> ext(CreateExtendedObject(cls));
    // The instance's own data carries no length: without its class the rest cannot be read.
    if (!ext) throw EIEVectError("The objects stream holds an object of the unregistered class \"" + cls + "\"");
    ext->Owner = this;
    ext->Initialise();
    ext->LoadFromStream(stream);
    o.Extended = std::move(ext);
  }
  if (o.Kind == ievkGROUP) {
    for (int32_t i = 0; i < members; ++i) LoadObjectFromStream(stream, version);
    return IEV_NONE;
  }
  if ((o.Kind == ievkBITMAP || (o.Kind == ievkMEMO && o.MemoHasBitmap)) && o.BitmapIndex >= 0 &&
      (o.BitmapIndex >= int(SharedBitmaps.size()) || !SharedBitmaps[size_t(o.BitmapIndex)].Bitmap))
    throw EIEVectError("An object names a shared bitmap the objects stream does not hold");
  if (o.BitmapIndex < -1) o.BitmapIndex = -1;
  const int h = AddObject(o);
  TIEVObjectRecord& added = *Records[size_t(h)];
  if (!userData.empty()) {
    added.UserData = std::malloc(userData.size());
    std::memcpy(added.UserData, userData.data(), userData.size());
    added.UserDataLength = int32_t(userData.size());
  }
  return h;
}
