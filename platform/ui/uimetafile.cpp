#include "uimetafile.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace ui {

UI_IMPLEMENT_CLASS(TMetafile, TGraphic, DefaultFactory<TMetafile>, nullptr, nullptr, nullptr)

// A metafile is a list of drawing records: beyond this it is not a picture this library shows, and
// the buffer stays well inside a 32-bit address space.
constexpr uint64_t kMaxMetafileBytes = 256ull * 1024 * 1024;
constexpr uint32_t kEmfSignature = 0x464D4520;   // " EMF"
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;   // placeable Windows metafile
constexpr int kEmfHeaderSize = 88;               // ENHMETAHEADER up to nBytes and beyond
constexpr int kPlaceableHeaderSize = 22;
constexpr int kWmfHeaderSize = 18;               // METAHEADER
constexpr int kHundredthMMPerInch = 2540;
constexpr int kDefaultInch = 96;                 // bounds units of the placeable files we write

namespace {
uint16_t ReadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t ReadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutU16LE(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
[[noreturn]] void Invalid() { throw EInvalidGraphic("Metafile is not valid"); }

// A Windows metafile's own header: type 1 (memory) or 2 (disk), header size 9 words; its size in
// words. True when `p` looks like one.
bool WmfHeader(const uint8_t* p, uint64_t& bytes) {
  uint16_t type = ReadU16LE(p), headerWords = ReadU16LE(p + 2);
  if ((type != 1 && type != 2) || headerWords != 9) return false;
  bytes = uint64_t(ReadU32LE(p + 6)) * 2;
  return true;
}
}  // namespace

TMetafile::~TMetafile() { Clear(); }

void TMetafile::Clear() {
  if (handle_) DeleteEnhMetaFile(handle_);
  handle_ = nullptr;
}

void TMetafile::Adopt(HENHMETAFILE h, bool enhanced, int inch, int mmWidth, int mmHeight) {
  Clear();
  handle_ = h;
  enhanced_ = enhanced;
  inch_ = inch;
  mmWidth_ = mmWidth;
  mmHeight_ = mmHeight;
  Changed();
}

void TMetafile::SetHandle(HENHMETAFILE h) {
  if (h == handle_) return;
  int w = 0, hgt = 0;
  ENHMETAHEADER hdr{};
  if (h && GetEnhMetaFileHeader(h, sizeof hdr, &hdr)) {
    w = hdr.rclFrame.right - hdr.rclFrame.left;
    hgt = hdr.rclFrame.bottom - hdr.rclFrame.top;
  }
  Adopt(h, true, 0, w, hgt);
}

int TMetafile::GetWidth() const { return MulDiv(mmWidth_, ScreenPixelsPerInch(), kHundredthMMPerInch); }
int TMetafile::GetHeight() const { return MulDiv(mmHeight_, ScreenPixelsPerInch(), kHundredthMMPerInch); }
void TMetafile::SetWidth(int w) { SetMMWidth(MulDiv(w, kHundredthMMPerInch, ScreenPixelsPerInch())); }
void TMetafile::SetHeight(int h) { SetMMHeight(MulDiv(h, kHundredthMMPerInch, ScreenPixelsPerInch())); }

void TMetafile::SetMMWidth(int v) {
  if (v == mmWidth_) return;
  mmWidth_ = v;
  Changed();
}

void TMetafile::SetMMHeight(int v) {
  if (v == mmHeight_) return;
  mmHeight_ = v;
  Changed();
}

void TMetafile::SetEnhanced(bool v) {
  if (v == enhanced_) return;
  enhanced_ = v;
  Changed();
}

void TMetafile::SetInch(int v) {
  if (v == inch_) return;
  inch_ = v;
  Changed();
}

void TMetafile::LoadFromStream(TStream* s) {
  const int64_t start = s->GetPosition();
  const int64_t avail64 = s->GetSize() - start;
  if (avail64 < kWmfHeaderSize) Invalid();
  const uint64_t avail = static_cast<uint64_t>(avail64);
  uint8_t head[kEmfHeaderSize] = {};
  const int headLen = static_cast<int>(std::min<uint64_t>(avail, kEmfHeaderSize));
  s->ReadBuffer(head, headLen);

  auto readAll = [&](uint64_t offset, uint64_t bytes) {
    if (bytes > kMaxMetafileBytes || offset + bytes > avail) Invalid();
    std::vector<uint8_t> data(static_cast<size_t>(bytes));
    s->SetPosition(start + static_cast<int64_t>(offset));
    s->ReadBuffer(data.data(), static_cast<int32_t>(bytes));
    return data;
  };

  if (headLen == kEmfHeaderSize && ReadU32LE(head) == EMR_HEADER && ReadU32LE(head + 40) == kEmfSignature) {
    uint64_t bytes = ReadU32LE(head + 48);
    if (bytes < kEmfHeaderSize) Invalid();
    std::vector<uint8_t> data = readAll(0, bytes);
    HENHMETAFILE h = SetEnhMetaFileBits(static_cast<UINT>(bytes), data.data());
    if (!h) Invalid();
    SetHandle(h);
    return;
  }

  int inch = 0, mmWidth = 0, mmHeight = 0;
  uint64_t offset = 0;
  if (ReadU32LE(head) == kPlaceableKey) {
    if (headLen < kPlaceableHeaderSize + kWmfHeaderSize) Invalid();
    uint16_t check = 0;
    for (int i = 0; i < 10; ++i) check ^= ReadU16LE(head + 2 * i);
    if (check != ReadU16LE(head + 20)) Invalid();
    auto left = static_cast<int16_t>(ReadU16LE(head + 6)), top = static_cast<int16_t>(ReadU16LE(head + 8));
    auto right = static_cast<int16_t>(ReadU16LE(head + 10)), bottom = static_cast<int16_t>(ReadU16LE(head + 12));
    inch = ReadU16LE(head + 14);
    if (inch == 0) Invalid();
    mmWidth = MulDiv(right - left, kHundredthMMPerInch, inch);
    mmHeight = MulDiv(bottom - top, kHundredthMMPerInch, inch);
    offset = kPlaceableHeaderSize;
  }
  uint64_t bytes = 0;
  if (!WmfHeader(head + offset, bytes) || bytes < kWmfHeaderSize) Invalid();
  std::vector<uint8_t> data = readAll(offset, bytes);
  HENHMETAFILE h;
  if (inch) {
    METAFILEPICT mfp{MM_ANISOTROPIC, std::abs(mmWidth), std::abs(mmHeight), nullptr};
    h = SetWinMetaFileBits(static_cast<UINT>(bytes), data.data(), nullptr, &mfp);
  } else {
    h = SetWinMetaFileBits(static_cast<UINT>(bytes), data.data(), nullptr, nullptr);
  }
  if (!h) Invalid();
  if (!inch) {
    ENHMETAHEADER hdr{};
    GetEnhMetaFileHeader(h, sizeof hdr, &hdr);
    mmWidth = hdr.rclFrame.right - hdr.rclFrame.left;
    mmHeight = hdr.rclFrame.bottom - hdr.rclFrame.top;
  }
  Adopt(h, false, inch, std::abs(mmWidth), std::abs(mmHeight));
}

void TMetafile::SaveToStream(TStream* s) {
  if (!handle_) return;
  if (enhanced_) {
    UINT n = GetEnhMetaFileBits(handle_, 0, nullptr);
    std::vector<uint8_t> data(n);
    if (!n || GetEnhMetaFileBits(handle_, n, data.data()) != n) throw EInvalidGraphicOperation("Cannot save the metafile");
    s->WriteBuffer(data.data(), static_cast<int32_t>(n));
    return;
  }
  HDC ref = GetDC(nullptr);
  UINT n = GetWinMetaFileBits(handle_, 0, nullptr, MM_ANISOTROPIC, ref);
  std::vector<uint8_t> data(n);
  bool ok = n && GetWinMetaFileBits(handle_, n, data.data(), MM_ANISOTROPIC, ref) == n;
  ReleaseDC(nullptr, ref);
  if (!ok) throw EInvalidGraphicOperation("Cannot save the metafile");
  const int inch = inch_ ? inch_ : kDefaultInch;
  uint8_t head[kPlaceableHeaderSize] = {};
  PutU16LE(head, static_cast<uint16_t>(kPlaceableKey & 0xFFFF));
  PutU16LE(head + 2, static_cast<uint16_t>(kPlaceableKey >> 16));
  PutU16LE(head + 10, static_cast<uint16_t>(MulDiv(mmWidth_, inch, kHundredthMMPerInch)));
  PutU16LE(head + 12, static_cast<uint16_t>(MulDiv(mmHeight_, inch, kHundredthMMPerInch)));
  PutU16LE(head + 14, static_cast<uint16_t>(inch));
  uint16_t check = 0;
  for (int i = 0; i < 10; ++i) check ^= ReadU16LE(head + 2 * i);
  PutU16LE(head + 20, check);
  s->WriteBuffer(head, kPlaceableHeaderSize);
  s->WriteBuffer(data.data(), static_cast<int32_t>(n));
}

void TMetafile::SaveToFile(const std::string& fileName) {
  size_t dot = fileName.find_last_of('.');
  std::string ext = dot == std::string::npos ? std::string() : fileName.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  SetEnhanced(ext != ".wmf");
  TGraphic::SaveToFile(fileName);
}

void TMetafile::Assign(TPersistent* source) {
  if (auto* m = As<TMetafile>(source)) {
    if (m == this) return;
    HENHMETAFILE copy = nullptr;
    if (m->handle_ && !(copy = CopyEnhMetaFileA(m->handle_, nullptr))) throw EOutOfResources("Out of system resources");
    Adopt(copy, m->enhanced_, m->inch_, m->mmWidth_, m->mmHeight_);
    return;
  }
  TGraphic::Assign(source);
}

void TMetafile::Draw(TCanvas* canvas, const RECT& r) {
  if (handle_) PlayEnhMetaFile(canvas->GetHandle(), handle_, &r);
}

void TMetafile::SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) {
  format = CF_ENHMETAFILE;
  palette = nullptr;
  data = handle_ ? CopyEnhMetaFileA(handle_, nullptr) : nullptr;
}

void TMetafile::LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) {
  if (format != CF_ENHMETAFILE) {
    TGraphic::LoadFromClipboardFormat(format, data, palette);
    return;
  }
  HENHMETAFILE copy = data ? CopyEnhMetaFileA(static_cast<HENHMETAFILE>(data), nullptr) : nullptr;
  if (!copy) Invalid();
  SetHandle(copy);
}

}  // namespace ui
