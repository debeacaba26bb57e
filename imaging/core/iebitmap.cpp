// TIEBitmap: data model, storage rules, row addressing, palette and alpha channel.
#include "iebitmap.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "ieutils.h"
#include "vodevovur.h"

namespace {

// Rows of the single memory block start on this boundary; the block is over-allocated by twice it.
constexpr uintptr_t kRowBlockAlign = 64;
constexpr uint64_t kRowBlockSlack = 128;
// Row segments smaller than this are not tried beyond the first attempt with four segments.
constexpr uint64_t kMinSegmentBytes = 10485760;

const char* PlatformFormatMessage(TIEPixelFormat f) {
  switch (f) {
    case ie32f: return "ie32f pixel format not allowed when Location=ieTBitmap Please set TImageryView.LegacyBitmap=false.";
    case ieCMYK: return "ieCMYK pixel format not allowed when Location=ieTBitmap. Please set TImageryView.LegacyBitmap=false.";
    case ieRGB48: return "ieRGB48 pixel format not allowed when Location=ieTBitmap Please set TImageryView.LegacyBitmap=false.";
    case ieCIELab: return "ieCIELab pixel format not allowed when Location=ieTBitmap Please set TImageryView.LegacyBitmap=false.";
    default: return nullptr;
  }
}

void SetGrayColorTable(TIEPlatformBitmap* pb) {
  RGBQUAD t[256];
  for (int i = 0; i < 256; ++i) t[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  pb->SetColorTable(t, 256);
}

}  // namespace

TIEBitmap::TIEBitmap() : FileBuffer(new TIEFileBuffer()), MemoryThreshold(IEEffectiveMemoryThreshold()) {}

TIEBitmap::TIEBitmap(int width, int height, TIEPixelFormat format) : TIEBitmap() {
  Allocate(width, height, format);
}

TIEBitmap::~TIEBitmap() {
  try {
    FreeStorage(true);
  } catch (...) {
    // a temporary-file write-back that fails while the image goes away loses nothing anyone reads
  }
}

void TIEBitmap::TakeFormatFields(TIEPixelFormat f) {
  PixelFormat = f;
  BitCount = IEPixelFormatBitCount[f];
  ChannelCount = IEPixelFormatChannelCount[f];
  int64_t rl = IERowLength(Width, BitCount, RowAlignment);
  RowLength = rl > 0 && rl <= INT32_MAX ? int(rl) : 0;
}

int TIEBitmap::GetBitCount() { SyncWithTBitmap(); return BitCount; }
int TIEBitmap::GetImageHeight() { SyncWithTBitmap(); return Height; }
int TIEBitmap::GetImageWidth() { SyncWithTBitmap(); return Width; }
TIEPixelFormat TIEBitmap::GetPixelFormat() { SyncWithTBitmap(); return PixelFormat; }
int TIEBitmap::GetRowLength() { SyncWithTBitmap(); return RowLength; }
int TIEBitmap::GetChannelCount() { SyncWithTBitmap(); return ChannelCount; }

bool TIEBitmap::Allocate(int width, int height, TIEPixelFormat format) {
  if (!ReallocPending && width == Width && height == Height && format == PixelFormat) return true;
  if (!PlatformBitmapNotOwned) {
    FreeStorage(true);
  } else {
    delete AlphaChannel;
    AlphaChannel = nullptr;
  }
  Width = width;
  Height = height;
  PixelFormat = format;
  bool ok = AllocateStorage();
  if (!ok) Width = Height = 0;
  ReallocPending = false;
  return ok;
}

bool TIEBitmap::AllocateStorage() {
  if (Width < 1 || Height < 1 || PixelFormat == ieNoFormat || !IEIsValidPixelFormat(PixelFormat)) return false;
  if (PixelFormat == ie8p) {
    // cleared, so that entries nobody set never reach a file as stale memory
    try {
      Palette.assign(256, TIERGB{0, 0, 0});
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  TakeFormatFields(PixelFormat);
  if (RowLength == 0) return false;
  uint64_t size = uint64_t(RowLength) * uint64_t(Height);
  if (Location == ieTempFile && int64_t(size) < MemoryThreshold) Location = ieMemory;
  if (Location == ieMemory && int64_t(size) > MemoryThreshold) Location = ieTempFile;
  if (Location == ieTempFile && !AllocateTempFile(size)) Location = ieMemory;
  if (Location == ieMemory) {
    if (!AllocateAlignedBlock(size) && !AllocateRowSegments()) {
      if (!IETempFileFallback) return false;
      Location = ieTempFile;
      if (!AllocateTempFile(size)) return false;
    }
  }
  if (Location == ieTBitmap && !AllocatePlatformBitmap(size)) return false;
  IsAll255 = false;
  return true;
}

bool TIEBitmap::AllocateAlignedBlock(uint64_t size) {
  if (size > UINT64_MAX - kRowBlockSlack || size + kRowBlockSlack > SIZE_MAX) return false;
  RawBlock = IEAutoAlloc(size + kRowBlockSlack);
  if (!RawBlock) return false;
  // large blocks come zero-filled from global memory; small heap blocks are cleared here, so no stale
  // memory reaches a file through rows a reader or writer leaves untouched
  if (IEAutoAllocOrigin(RawBlock) == 0) std::memset(RawBlock, 0, size_t(size + kRowBlockSlack));
  uintptr_t p = reinterpret_cast<uintptr_t>(RawBlock);
  AlignedBlock = reinterpret_cast<uint8_t*>((p + kRowBlockAlign - 1) & ~(kRowBlockAlign - 1));
  return true;
}

bool TIEBitmap::AllocateRowSegments() {
  if (!IERowSegmentFallback) return false;
  for (int n = 4;;) {
    int rowsPer = (Height + n - 1) / n;
    uint64_t bytes = uint64_t(rowsPer) * uint64_t(RowLength);
    if (bytes < kMinSegmentBytes && n > 4) return false;
    std::vector<void*> segs;
    bool all = bytes <= SIZE_MAX;
    for (int i = 0; all && i < n; ++i) {
      void* s = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, SIZE_T(bytes));
      if (!s) all = false; else segs.push_back(s);
    }
    if (all) {
      Segments = std::move(segs);
      SegmentCount = n;
      RowsPerSegment = rowsPer;
      return true;
    }
    for (void* s : segs) GlobalFree(s);
    n *= 2;
    if (n >= Height) return false;
  }
}

bool TIEBitmap::AllocateTempFile(uint64_t size) {
  return FileBuffer->AllocateFile("IMG", true, int64_t(size));
}

bool TIEBitmap::AllocatePlatformBitmap(uint64_t size) {
  if (uint64_t(IEPhysicalMemory(false)) < size) return false;
  // the platform bitmap's rows are padded to 32 bits whatever alignment was asked for
  RowAlignment = 32;
  TakeFormatFields(PixelFormat);
  try {
    if (!PlatformBitmap) {
      PlatformBitmap = new TIETBitmapAdapter();
      PlatformBitmapNotOwned = false;
    }
    PlatformBitmap->SetSize(1, 1);
    PlatformBitmap->SetPixelFormat(iepfDevice);
    TIEPlatformPixelFormat pf;
    switch (PixelFormat) {
      case ie1g: pf = iepf1bit; break;
      case ie8p: pf = iepf8bit; break;
      case ie8g: pf = iepf8bit; break;
      case ie16g: pf = iepf8bit; TakeFormatFields(ie8g); break;
      case ie24RGB: pf = iepf24bit; break;
      case ie32RGB: pf = iepf32bit; break;
      default: throw std::runtime_error(PlatformFormatMessage(PixelFormat));
    }
    if (!PlatformBitmap->SetPixelFormat(pf) || !PlatformBitmap->SetSize(Width, Height))
      throw std::runtime_error("platform bitmap allocation failed");
    if (PixelFormat == ie8g) SetGrayColorTable(PlatformBitmap);
    BuildRowTable();
    // the user-interface bitmap starts white; new storage starts cleared at every location
    for (int y = 0; y < Height; ++y)
      if (RowTable[y]) std::memset(RowTable[y], 0, size_t(RowLength));
    return true;
  } catch (const std::exception&) {
    // the messages are raised and caught here: they never reach the caller; a bitmap of our own is
    // dropped so that the queries do not re-derive a size from it
    if (!PlatformBitmapNotOwned) {
      delete PlatformBitmap;
      PlatformBitmap = nullptr;
    }
    RowTable.clear();
    return false;
  }
}

void TIEBitmap::BuildRowTable() {
  RowTable.assign(size_t(std::max(Height, 0)), nullptr);
  if (!PlatformBitmap) return;
  for (int y = 0; y < Height; ++y) RowTable[y] = PlatformBitmap->ScanLine(y);
}

void TIEBitmap::SyncWithTBitmap() {
  if (Location != ieTBitmap || !PlatformBitmap) return;
  TIEPixelFormat f;
  RGBQUAD table[256];
  int tn = 0;
  switch (PlatformBitmap->GetPixelFormat()) {
    case iepf1bit: f = ie1g; break;
    case iepf8bit: {
      tn = PlatformBitmap->GetColorTable(table, 256);
      bool grey = true;
      for (int i = 0; i < tn && grey; ++i)
        grey = table[i].rgbRed == i && table[i].rgbGreen == i && table[i].rgbBlue == i;
      f = (IsAlpha || grey) ? ie8g : ie8p;
      break;
    }
    case iepf32bit: f = ie32RGB; break;
    default: f = ie24RGB; break;
  }
  int w = PlatformBitmap->GetWidth(), h = PlatformBitmap->GetHeight();
  if (w != Width || h != Height || f != PixelFormat) {
    Width = w;
    Height = h;
    TakeFormatFields(f);
    if (AlphaChannel && (AlphaChannel->Width != Width || AlphaChannel->Height != Height))
      AlphaChannel->Allocate(Width, Height, ie8g);
    BuildRowTable();
  } else if (Height > 0 && !RowTable.empty() && PlatformBitmap->ScanLine(0) != RowTable[0]) {
    BuildRowTable();
  }
  if (f == ie8p) {
    if (Palette.size() != 256) Palette.assign(256, TIERGB{0, 0, 0});
    for (int i = 0; i < tn; ++i) Palette[i] = TIERGB{table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed};
  }
}

uint8_t* TIEBitmap::GetRowAddress(int y) {
  switch (Location) {
    case ieMemory:
      if (SegmentCount == 0) return AlignedBlock + size_t(RowLength) * size_t(Height - 1 - y);
      return static_cast<uint8_t*>(Segments[y / RowsPerSegment]) + size_t(y % RowsPerSegment) * RowLength;
    case ieTempFile:
      if (CurrentRowView) FileBuffer->ReleaseView(CurrentRowView);
      CurrentRowView = nullptr;
      CurrentRowView = FileBuffer->MapView(RowAccess, RowLength, int64_t(y) * RowLength);
      return CurrentRowView;
    case ieTBitmap:
      return RowTable[y];
  }
  return nullptr;
}

uint8_t* TIEBitmap::AcquireRow(int y) {
  if (Location != ieTempFile) return GetRowAddress(y);
  if (CurrentRowView) FileBuffer->ReleaseView(CurrentRowView);
  CurrentRowView = nullptr;
  uint8_t* v = FileBuffer->MapView(RowAccess, RowLength, int64_t(y) * RowLength);
  AcquiredViews.push_back(v);
  AcquiredRows.push_back(y);
  return v;
}

void TIEBitmap::ReleaseRow(int y) {
  if (Location != ieTempFile) return;
  for (size_t i = 0; i < AcquiredRows.size(); ++i) {
    if (AcquiredRows[i] == y) {
      uint8_t* v = AcquiredViews[i];
      AcquiredViews.erase(AcquiredViews.begin() + i);
      AcquiredRows.erase(AcquiredRows.begin() + i);
      FileBuffer->ReleaseView(v);
      return;
    }
  }
}

void TIEBitmap::ReleaseAllRowViews() {
  if (CurrentRowView) {
    uint8_t* v = CurrentRowView;
    CurrentRowView = nullptr;
    FileBuffer->ReleaseView(v);
  }
  while (!AcquiredViews.empty()) {
    uint8_t* v = AcquiredViews.back();
    AcquiredViews.pop_back();
    AcquiredRows.pop_back();
    FileBuffer->ReleaseView(v);
  }
}

void TIEBitmap::FreeStorage(bool withAlpha) {
  if (withAlpha) {
    delete AlphaChannel;
    AlphaChannel = nullptr;
  }
  Palette.clear();
  Palette.shrink_to_fit();
  ReleaseAllRowViews();
  FileBuffer->Close();
  if (RawBlock) IEAutoFree(RawBlock);
  RawBlock = nullptr;
  AlignedBlock = nullptr;
  if (PlatformBitmap && !PlatformBitmapNotOwned) delete PlatformBitmap;
  PlatformBitmap = nullptr;
  RowTable.clear();
  for (void* s : Segments) GlobalFree(s);
  Segments.clear();
  SegmentCount = RowsPerSegment = 0;
  Width = Height = RowLength = BitCount = ChannelCount = 0;
  IsAll255 = false;
  PlatformBitmapNotOwned = false;
}

void TIEBitmap::AttachTBitmap(TIEPlatformBitmap* bitmap, bool freeFirst) {
  if (freeFirst) FreeStorage(true);
  if (!bitmap) return;
  TIEPlatformPixelFormat pf = bitmap->GetPixelFormat();
  TIEPixelFormat cls = pf == iepf1bit ? ie1g : (pf == iepf4bit || pf == iepf8bit) ? ie8p : ie24RGB;
  if (bitmap == PlatformBitmap && bitmap->GetWidth() == Width && bitmap->GetHeight() == Height && cls == PixelFormat)
    return;
  if (PlatformBitmap && PlatformBitmap != bitmap && !PlatformBitmapNotOwned) delete PlatformBitmap;
  Width = bitmap->GetWidth();
  Height = bitmap->GetHeight();
  TIEPixelFormat f = pf == iepf1bit ? ie1g : pf == iepf24bit ? ie24RGB : pf == iepf32bit ? ie32RGB : PixelFormat;
  if (f == ieNoFormat) f = ie24RGB;
  RowAlignment = 32;
  TakeFormatFields(f);
  Location = ieTBitmap;
  PlatformBitmapNotOwned = true;
  PlatformBitmap = bitmap;
  BuildRowTable();
}

TIERGB TIEBitmap::GetPaletteEntry(int i) {
  if (i >= 0 && i < int(Palette.size())) return Palette[i];
  return TIERGB{0, 0, 0};
}

void TIEBitmap::SetPaletteEntry(int i, TIERGB c) {
  if (i < 0 || i >= int(Palette.size())) return;
  Palette[i] = c;
  UpdateTBitmapPalette();
}

void TIEBitmap::UpdateTBitmapPalette() {
  if (Location != ieTBitmap || !PlatformBitmap || Palette.empty()) return;
  RGBQUAD t[256];
  int n = std::min<int>(int(Palette.size()), 256);
  for (int i = 0; i < n; ++i) t[i] = RGBQUAD{Palette[i].b, Palette[i].g, Palette[i].r, 0};
  PlatformBitmap->SetColorTable(t, n);
  BuildRowTable();  // a new colour table may have moved the platform bitmap's rows
}

void TIEBitmap::CopyPaletteTo(TIEBaseBitmap* dest) {
  auto* d = dynamic_cast<TIEBitmap*>(dest);
  if (!d || d == this) return;
  d->Palette.clear();
  d->PaletteColorTarget = 256;
  if (!Palette.empty()) {
    d->Palette = Palette;
    d->PaletteColorTarget = PaletteColorTarget;
    d->UpdateTBitmapPalette();
  }
}

TIEBitmap* TIEBitmap::CreateAlphaBitmap(int width, int height, TIELocation ownerLocation) {
  auto* a = new TIEBitmap();
  a->IsAlpha = true;
  a->Location = ownerLocation == ieTBitmap ? ieMemory : ownerLocation;
  a->Allocate(width, height, ie8g);
  a->Fill(255);
  return a;
}

TIEBitmap* TIEBitmap::GetAlphaChannel() {
  if (IsAlpha) return AlphaChannel;
  if (!AlphaChannel) AlphaChannel = CreateAlphaBitmap(Width, Height, Location);
  return AlphaChannel;
}

TIEBitmap* TIEBitmap::AttachAlphaChannel(TIEBitmap* alpha) {
  TIEBitmap* previous = AlphaChannel;
  if (alpha && alpha != previous && !IsAlpha && !IsEmpty() &&
      (alpha->GetImageWidth() != Width || alpha->GetImageHeight() != Height || alpha->GetPixelFormat() != ie8g)) {
    // Every reader of the alpha channel walks it with the image's geometry: one of another size or
    // depth is brought to the image's, keeping what overlaps and making the rest opaque.
    std::unique_ptr<TIEBitmap> fitted(CreateAlphaBitmap(Width, Height, Location));
    if (fitted->IsEmpty()) {
      delete alpha;  // refused: no memory for a channel of the right size
      alpha = nullptr;
    } else {
      if (!alpha->IsEmpty()) {
        if (alpha->GetPixelFormat() != ie8g) alpha->ConvertPixelFormat(ie8g);
        if (alpha->GetPixelFormat() == ie8g) {
          const int w = std::min(Width, alpha->GetImageWidth()), h = std::min(Height, alpha->GetImageHeight());
          for (int y = 0; y < h; ++y) std::memcpy(fitted->GetRowAddress(y), alpha->GetRowAddress(y), size_t(w));
          fitted->IsAll255 = false;
        }
      }
      alpha->Assign(fitted.get());
      alpha->IsAll255 = fitted->IsAll255;
    }
  }
  AlphaChannel = alpha;
  if (alpha) alpha->IsAlpha = true;
  return previous == alpha ? nullptr : previous;
}

TIEBitmap* TIEBitmap::DetachAlphaChannel() {
  TIEBitmap* a = AlphaChannel;
  AlphaChannel = nullptr;
  return a;
}

void TIEBitmap::DiscardAlphaChannel(bool blend, TColor background) {
  if (IsAlpha || !AlphaChannel) return;
  // an attached alpha channel of another size is dropped without blending rather than read past
  if (blend && PixelFormat == ie24RGB && AlphaChannel->Width == Width && AlphaChannel->Height == Height &&
      AlphaChannel->PixelFormat == ie8g) {
    TIERGB bg = IEColorToRGB(background);
    const int c[3] = {bg.b, bg.g, bg.r};
    std::vector<uint8_t> arow(size_t(AlphaChannel->RowLength));
    TIEScopedRowAccess readWrite(this, iraRead | iraWrite);
    for (int y = 0; y < Height; ++y) {
      std::memcpy(arow.data(), AlphaChannel->GetRowAddress(y), arow.size());
      uint8_t* p = GetRowAddress(y);
      for (int x = 0; x < Width; ++x) {
        // c + (p - c) x a / 255, rounded to nearest: alpha 255 keeps the colour exactly and alpha 0
        // gives the background (dividing by 256 would turn opaque white over black into 254)
        int a = arow[x];
        for (int k = 0; k < 3; ++k) {
          int d = (int(p[3 * x + k]) - c[k]) * a;
          int q = d >= 0 ? (d + 127) / 255 : -((-d + 127) / 255);
          p[3 * x + k] = uint8_t(c[k] + q);
        }
      }
    }
  }
  delete AlphaChannel;
  AlphaChannel = nullptr;
}
