#include "ieimagingannot.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

#include "ieutils.h"

namespace {
constexpr int32_t kBlockDefault = 2, kBlockMark = 5, kBlockMarkNamed = 6;
constexpr int32_t kNamedHeaderSize = 12;  // the size the writer records for every named block header
constexpr int kNameSize = 8;
constexpr int kRotationSize = 56;
constexpr int kTextHeaderSize = 16;  // orientation, reserved, creation scale, text length
constexpr int32_t kDIBDpi = 200;
constexpr int32_t kMarkImage = 1, kMarkLine = 3, kMarkFreehand = 4, kMarkTextFirst = 7, kMarkTextLast = 10;

using Blocks = std::map<std::string, std::vector<uint8_t>>;

int32_t I32(const uint8_t* p) { return static_cast<int32_t>(IEReadU32LE(p)); }

struct Parser {
  const uint8_t* b;
  uint64_t n;
  uint64_t pos = 8;
  bool intel = true;

  // Reads one named block into `into`; false when it does not fit (the parse ends there).
  bool ReadNamedBlock(Blocks& into, int32_t markType) {
    const uint64_t head = kNameSize + 4 + (intel ? 0 : 4);
    if (pos + head > n) return false;
    const char* nm = reinterpret_cast<const char*>(b + pos);
    const std::string name(nm, strnlen(nm, kNameSize));
    const int32_t size = I32(b + pos + kNameSize);
    pos += head;
    // A negative size would move backwards and loop; one beyond the buffer reads past it.
    if (size < 0 || uint64_t(size) > n - pos) return false;
    const uint8_t* d = b + pos;
    pos += uint64_t(size);
    if (name == "OiAnoDat") {
      if (markType == kMarkLine || markType == kMarkFreehand) {
        if (size < 8) return true;
        const int32_t count = I32(d + 4);
        if (count < 0 || uint64_t(count) > uint64_t(size - 8) / 8) return true;
        into[name].assign(d, d + 8 + 8 * uint64_t(count));
      } else if (size >= kRotationSize) {
        into[name].assign(d, d + kRotationSize);
      }
    } else if (name == "OiFilNam" || name == "OiGroup" || name == "OiIndex") {
      into[name].assign(d, d + strnlen(reinterpret_cast<const char*>(d), size_t(size)));
    } else if (name == "OiDIB" || name == "OiAnText") {
      into[name].assign(d, d + size);
    }
    return true;
  }
};

void AddMarkObject(std::vector<std::unique_ptr<TIEImagingObject>>& list, const uint8_t* attrs, Blocks& mark) {
  const int32_t type = I32(attrs);
  if (type < 1) return;
  auto obj = std::make_unique<TIEImagingObject>();
  std::memcpy(obj->Attributes, attrs, TIEImagingObject::kAttributesSize);
  if (type == kMarkImage && mark.count("OiDIB")) {
    obj->DIB = mark["OiDIB"];
  } else if ((type == kMarkLine || type == kMarkFreehand) && mark.count("OiAnoDat")) {
    const std::vector<uint8_t>& d = mark["OiAnoDat"];
    const int32_t count = I32(d.data() + 4);  // checked against the block when it was read
    for (int32_t i = 0; i < 2 * count; ++i) obj->Points.push_back(I32(d.data() + 8 + 4 * i));
  } else if (type >= kMarkTextFirst && type <= kMarkTextLast && mark.count("OiAnText")) {
    const std::vector<uint8_t>& d = mark["OiAnText"];
    if (d.size() >= kTextHeaderSize) {
      const char* t = reinterpret_cast<const char*>(d.data() + kTextHeaderSize);
      obj->Text.assign(t, strnlen(t, d.size() - kTextHeaderSize));
      int32_t scale = I32(d.data() + 8);
      if (scale <= 0) scale = IEAnnotTextScale;
      // The font height was recorded at the creation scale; bring it to ours in one step, so a mark
      // written at our own scale loads with the height it was given.
      uint8_t* h = obj->Attributes + TIEImagingObject::kFontHeightOffset;
      int64_t height = int64_t(I32(h)) * IEAnnotTextScale / scale;
      if (height > INT32_MAX) height = INT32_MAX;
      if (height < INT32_MIN) height = INT32_MIN;
      IEWriteU32LE(h, uint32_t(int32_t(height)));
    }
  }
  list.push_back(std::move(obj));
}

struct Out {
  std::vector<uint8_t> b;
  void U32(int32_t v) {
    uint8_t t[4];
    IEWriteU32LE(t, uint32_t(v));
    b.insert(b.end(), t, t + 4);
  }
  void Bytes(const void* p, size_t n) {
    const uint8_t* q = static_cast<const uint8_t*>(p);
    b.insert(b.end(), q, q + n);
  }
  // Block type, header size, the 8-byte name and the data size, then the data.
  void Named(int32_t blockType, const char* name, const std::vector<uint8_t>& data) {
    U32(blockType);
    U32(kNamedHeaderSize);
    char nm[kNameSize] = {};
    std::memcpy(nm, name, std::strlen(name));
    Bytes(nm, kNameSize);
    U32(int32_t(data.size()));
    Bytes(data.data(), data.size());
  }
  static std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
  }
};

void ScreenResolution(int32_t& x, int32_t& y) {
  x = y = 96;
  if (HDC dc = GetDC(nullptr)) {
    x = GetDeviceCaps(dc, LOGPIXELSX);
    y = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
  }
}
}  // namespace

int32_t TIEImagingObject::MarkType() const { return I32(Attributes); }

TIEImagingObject& TIEImagingAnnot::AddObject() {
  objects_.push_back(std::make_unique<TIEImagingObject>());
  changed_ = true;
  return *objects_.back();
}

void TIEImagingAnnot::Clear() {
  objects_.clear();
  changed_ = true;
}

void TIEImagingAnnot::Assign(const TIEImagingAnnot* source) {
  if (!source || source == this) return;
  Clear();
  for (const auto& o : source->objects_) objects_.push_back(std::make_unique<TIEImagingObject>(*o));
}

void TIEImagingAnnot::LoadFromBuffer(const void* buffer, int32_t length) {
  if (length <= 0 || !buffer) return;
  Parser p{static_cast<const uint8_t*>(buffer), uint64_t(length)};
  if (p.n >= 8) p.intel = I32(p.b + 4) != 0;
  Blocks defaults, mark;
  uint8_t attrs[TIEImagingObject::kAttributesSize] = {};
  while (p.pos < p.n) {
    if (p.pos + 8 > p.n) break;
    const int32_t type = I32(p.b + p.pos);
    p.pos += 8;
    if (type == kBlockDefault) {
      if (!p.ReadNamedBlock(defaults, I32(attrs))) break;
    } else if (type == kBlockMark) {
      AddMarkObject(objects_, attrs, mark);
      mark.clear();
      if (p.pos + sizeof attrs > p.n) {
        std::memset(attrs, 0, sizeof attrs);
        break;
      }
      std::memcpy(attrs, p.b + p.pos, sizeof attrs);
      p.pos += sizeof attrs;
    } else if (type == kBlockMarkNamed) {
      if (!p.ReadNamedBlock(mark, I32(attrs))) break;
    }
  }
  AddMarkObject(objects_, attrs, mark);
  changed_ = false;
}

void TIEImagingAnnot::SaveToBuffer(void*& buffer, int32_t& length) const {
  buffer = nullptr;
  length = 0;
  if (objects_.empty()) return;
  Out o;
  o.U32(0);
  o.U32(1);  // Intel byte order
  o.Named(kBlockDefault, "OiGroup", Out::Text("0"));
  o.Named(kBlockDefault, "OiIndex", Out::Text("1"));
  int32_t dpiX, dpiY;
  ScreenResolution(dpiX, dpiY);
  for (size_t k = 0; k < objects_.size(); ++k) {
    const TIEImagingObject& obj = *objects_[k];
    o.U32(kBlockMark);
    o.U32(TIEImagingObject::kAttributesSize);
    o.Bytes(obj.Attributes, sizeof obj.Attributes);
    const int32_t type = obj.MarkType();
    if (type == kMarkImage) {
      Out rot;
      for (int32_t v : {1, 1000, dpiX, dpiY, dpiX, dpiY, 0, 0, 0, 0, 0, 0, 0, 0}) rot.U32(v);
      o.Named(kBlockMarkNamed, "OiAnoDat", rot.b);
      std::vector<uint8_t> dib = obj.DIB;
      if (dib.size() >= 40) {  // mark the packed bitmap 200 dpi on both axes, in pixels per metre
        const int32_t ppm = int32_t(kDIBDpi * 10000 / 254);
        IEWriteU32LE(&dib[24], uint32_t(ppm));
        IEWriteU32LE(&dib[28], uint32_t(ppm));
      }
      o.Named(kBlockMarkNamed, "OiDIB", dib);
    } else if (type == kMarkLine || type == kMarkFreehand) {
      Out pts;
      pts.U32(obj.PointCount());
      pts.U32(obj.PointCount());
      for (int i = 0; i < 2 * obj.PointCount(); ++i) pts.U32(obj.Points[i]);
      o.Named(kBlockMarkNamed, "OiAnoDat", pts.b);
    } else if (type >= kMarkTextFirst && type <= kMarkTextLast) {
      Out t;
      for (int32_t v : {0, 1000, IEAnnotTextScale, int32_t(obj.Text.size())}) t.U32(v);
      t.Bytes(obj.Text.c_str(), obj.Text.size() + 1);
      o.Named(kBlockMarkNamed, "OiAnText", t.b);
    }
    o.Named(kBlockMarkNamed, "OiGroup", Out::Text("0"));
    o.Named(kBlockMarkNamed, "OiIndex", Out::Text(std::to_string(k)));
  }
  if (o.b.size() > 0x7FFFFFFF) return;
  void* p = std::malloc(o.b.size());
  if (!p) throw std::bad_alloc();
  std::memcpy(p, o.b.data(), o.b.size());
  buffer = p;
  length = int32_t(o.b.size());
}
