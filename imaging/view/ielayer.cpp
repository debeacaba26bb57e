#include "ielayer.h"

#include <objbase.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "iebitmap.h"
#include "ierecordio.h"
#include "iestreams.h"
#include "imageryview.h"
#include "uibitmap.h"

namespace {

int Trunc(double v) { return int(v); }

}  // namespace

TIELayer::TIELayer(TImageryView* view, TIEBitmap* bitmap, bool share) : View(view) {
  if (share) {
    Bitmap = bitmap;
  } else {
    MakeOwnBitmap(bitmap, bitmap ? bitmap->GetImageWidth() : 0, bitmap ? bitmap->GetImageHeight() : 0);
  }
  Start();
}

TIELayer::TIELayer(TImageryView* view, TIEBitmap* shape, int width, int height) : View(view) {
  MakeOwnBitmap(shape, width, height);
  Start();
}

void TIELayer::Start() {
  if (FAILED(CoCreateGuid(&Id))) std::memset(&Id, 0, sizeof(Id));
  OwnsBitmap = true;
  SetDefaults();
}

void TIELayer::MakeOwnBitmap(TIEBitmap* shape, int width, int height) {
  Bitmap = new TIEBitmap();
  if (shape && shape->GetLocation() == ieTBitmap) {
    // a platform bitmap of the same platform format, sized from 1 x 1 as the platform makes them
    const TIEPlatformPixelFormat pf = shape->GetTBitmap()->GetPixelFormat();
    OwnPlatformBitmap = new ui::TBitmap();
    OwnAdapter = new TIETBitmapAdapter(OwnPlatformBitmap);
    OwnAdapter->SetPixelFormat(pf);
    OwnAdapter->SetSize(1, 1);
    OwnAdapter->SetSize(width, height);
    Bitmap->AttachTBitmap(OwnAdapter, true);
  } else if (shape) {
    Bitmap->SetLocation(shape->GetLocation());
    Bitmap->Allocate(width, height, shape->GetPixelFormat());
  }
}

TIELayer::~TIELayer() {
  if (OwnsBitmap) {
    delete Bitmap;
    delete OwnAdapter;
    delete OwnPlatformBitmap;
  }
  FreeUserData();
  delete MaskedAlpha;
}

void TIELayer::ReplaceBitmap(TIEBitmap* bitmap, bool owns) {
  if (bitmap == Bitmap) {
    OwnsBitmap = owns;
    return;
  }
  if (OwnsBitmap) {
    delete Bitmap;
    delete OwnAdapter;
    delete OwnPlatformBitmap;
  }
  OwnAdapter = nullptr;
  OwnPlatformBitmap = nullptr;
  Bitmap = bitmap;
  OwnsBitmap = owns;
  delete MaskedAlpha;  // made for the pixels that went
  MaskedAlpha = nullptr;
}

void TIELayer::SwapBitmap(TIELayer& other) noexcept {
  std::swap(Bitmap, other.Bitmap);
  std::swap(OwnsBitmap, other.OwnsBitmap);
  std::swap(OwnPlatformBitmap, other.OwnPlatformBitmap);
  std::swap(OwnAdapter, other.OwnAdapter);
  delete MaskedAlpha;
  MaskedAlpha = nullptr;
  delete other.MaskedAlpha;
  other.MaskedAlpha = nullptr;
}

void TIELayer::SetDefaults() {
  Visible = true;
  Transparency = 255;
  PosX = PosY = 0;
  ClientRect = RECT{0, 0, 0, 0};
  Width = Height = 0;
  ClipToImage = false;
  BoxVisible = true;
  Selectable = true;
  Locked = false;
  Magnify = false;
  MagnifyFactor = 2.0;
  MagnifyShape = 0;
  MagnifySource = 1;
  BlendOperation = 0;
  FreeUserData();  // an owned block goes with the reference, not left behind
  IsMask = false;
  DimOutside = false;
  std::memset(DrawInfo, 0, sizeof(DrawInfo));
  Rotation = 0;
  RotationCenterX = RotationCenterY = 0.5;
}

void TIELayer::Assign(TIELayer* source) {
  if (!source || source == this) return;
  Width = source->Width;
  Height = source->Height;
  Bitmap->Assign(source->Bitmap);
  delete MaskedAlpha;  // computed for the old pixels
  MaskedAlpha = nullptr;
  Visible = source->Visible;
  BoxVisible = source->BoxVisible;
  Selectable = source->Selectable;
  Transparency = source->Transparency;
  PosX = source->PosX;
  PosY = source->PosY;
  ClientRect = source->ClientRect;
  ClipToImage = source->ClipToImage;
  Locked = source->Locked;
  Magnify = source->Magnify;
  MagnifyFactor = source->MagnifyFactor;
  MagnifyShape = source->MagnifyShape;
  MagnifySource = source->MagnifySource;
  BlendOperation = source->BlendOperation;
  // an owned block is copied: two layers freeing one block would free it twice
  if (source->UserDataLength > 0)
    SetUserData(source->UserData, source->UserDataLength);
  else
    SetUserDataPointer(source->UserData);
  ResampleFilter = source->ResampleFilter;
  UseResampleFilter = source->UseResampleFilter;
  Name = source->Name;
  IsMask = source->IsMask;
  DimOutside = source->DimOutside;
}

int TIELayer::GetDisplayWidth() { return Width != 0 ? Width : Bitmap->GetImageWidth(); }
int TIELayer::GetDisplayHeight() { return Height != 0 ? Height : Bitmap->GetImageHeight(); }

void TIELayer::SetRotation(double angle) {
  if (!std::isfinite(angle)) return;  // no outline can be computed for it
  if (angle == std::floor(angle) && std::fmod(angle, 360.0) == 0)
    Rotation = 0;
  else
    Rotation = angle;
}

int TIELayer::ClientToBitmapX(int x) {
  const int dw = GetDisplayWidth();
  if (dw == 0) return 0;
  const int xi = View->ClientToImageX(x - Trunc(PosX * View->GetZoomX() / 100));
  return Trunc(double(xi) / dw * Bitmap->GetImageWidth());
}

int TIELayer::ClientToBitmapY(int y) {
  const int dh = GetDisplayHeight();
  if (dh == 0) return 0;
  const int yi = View->ClientToImageY(y - Trunc(PosY * View->GetZoomY() / 100));
  return Trunc(double(yi) / dh * Bitmap->GetImageHeight());
}

int TIELayer::BitmapToClientX(int x) {
  const int bw = Bitmap->GetImageWidth();
  const int v = bw == 0 ? 0 : Trunc(double(x) / bw * GetDisplayWidth());
  return View->ImageToClientX(v) + Trunc(PosX * View->GetZoomX() / 100);
}

int TIELayer::BitmapToClientY(int y) {
  const int bh = Bitmap->GetImageHeight();
  const int v = bh == 0 ? 0 : Trunc(double(y) / bh * GetDisplayHeight());
  return View->ImageToClientY(v) + Trunc(PosY * View->GetZoomY() / 100);
}

// ---- user data ----

void TIELayer::FreeUserData() {
  if (UserDataLength > 0) std::free(UserData);
  UserData = nullptr;
  UserDataLength = 0;
}

void TIELayer::SetUserData(const void* data, int length) {
  if (length <= 0 || !data) {
    FreeUserData();
    return;
  }
  void* block = std::malloc(size_t(length));
  if (!block) throw std::bad_alloc();
  std::memcpy(block, data, size_t(length));
  FreeUserData();
  UserData = block;
  UserDataLength = length;
}

void TIELayer::TakeUserData(TIELayer& from) noexcept {
  if (&from == this) return;
  FreeUserData();
  UserData = from.UserData;
  UserDataLength = from.UserDataLength;
  from.UserData = nullptr;
  from.UserDataLength = 0;
}

void TIELayer::SetUserDataPointer(void* data) {
  FreeUserData();
  UserData = data;
}

// ---- platform bitmap ----

ui::TBitmap* TIELayer::GetPlatformBitmap() {
  if (!Bitmap || Bitmap->GetLocation() != ieTBitmap) return nullptr;
  auto* adapter = dynamic_cast<TIETBitmapAdapter*>(Bitmap->GetTBitmap());
  return adapter ? adapter->GetBitmap() : nullptr;
}

void TIELayer::MakePlatformBitmap() {
  if (OwnPlatformBitmap) return;
  TIEBitmap pixels;
  pixels.Assign(Bitmap);
  OwnPlatformBitmap = new ui::TBitmap();
  OwnPlatformBitmap->SetPixelFormat(ui::pf24bit);
  OwnAdapter = new TIETBitmapAdapter(OwnPlatformBitmap);
  Bitmap->AttachTBitmap(OwnAdapter, true);
  Bitmap->Assign(&pixels);
}

void TIELayer::DropPlatformBitmap(TIELocation location) {
  if (Bitmap->GetLocation() == ieTBitmap) Bitmap->SetLocation(location);
  delete OwnAdapter;
  OwnAdapter = nullptr;
  delete OwnPlatformBitmap;
  OwnPlatformBitmap = nullptr;
}

void TIELayer::AdoptPlatformBitmap(ui::TBitmap* bitmap, TIETBitmapAdapter* adapter) {
  OwnPlatformBitmap = bitmap;
  OwnAdapter = adapter;
}

// ---- undo record ----

void TIELayer::SaveToStream(TIEStream& stream, bool withBitmap) {
  TIERecordWriter w;
  w.I32(0);  // the length, patched below
  w.Bytes(&Id, sizeof(Id));
  w.I32(Width);
  w.I32(Height);
  w.Bool(Visible);
  w.Bool(BoxVisible);
  w.Bool(Selectable);
  w.I32(Transparency);
  w.I32(PosX);
  w.I32(PosY);
  w.I32(ClientRect.left);
  w.I32(ClientRect.top);
  w.I32(ClientRect.right);
  w.I32(ClientRect.bottom);
  w.Bool(ClipToImage);
  w.Bool(Locked);
  w.Bool(Magnify);
  w.Zeros(7);
  w.F64(MagnifyFactor);
  w.U8(MagnifyShape);
  w.U8(MagnifySource);
  w.Zeros(6);
  w.U8(BlendOperation);
  // The user-data slot keeps its four bytes but no address: a pointer does not fit them on every
  // platform, and putting one back would overwrite (and leak) a block the layer owns.
  w.I32(0);
  w.U8(uint8_t(ResampleFilter));
  w.Bool(UseResampleFilter);
  w.I32(int32_t(Name.size()));
  w.Bytes(Name.data(), Name.size());
  w.Bool(IsMask);
  w.Bool(DimOutside);
  w.F64(Rotation);
  w.F64(RotationCenterX);
  w.F64(RotationCenterY);
  w.Bool(withBitmap);
  if (withBitmap) Bitmap->WriteRawImageStream(w.b);
  if (w.b.size() > size_t(INT32_MAX)) throw EWriteError("Layer record too large");
  IEWriteU32LE(w.b.data(), uint32_t(w.b.size()));
  stream.WriteBuffer(w.b.data(), int32_t(w.b.size()));
}

void TIELayer::LoadFromStream(TIEStream& stream) {
  const int64_t start = stream.GetPosition();
  TIERecordReader r{stream};
  const int32_t length = r.I32();
  GUID id;
  stream.ReadBuffer(&id, sizeof(id));
  Width = r.I32();
  Height = r.I32();
  Visible = r.Bool();
  BoxVisible = r.Bool();
  Selectable = r.Bool();
  Transparency = r.I32();
  PosX = r.I32();
  PosY = r.I32();
  ClientRect.left = r.I32();
  ClientRect.top = r.I32();
  ClientRect.right = r.I32();
  ClientRect.bottom = r.I32();
  ClipToImage = r.Bool();
  Locked = r.Bool();
  Magnify = r.Bool();
  r.Skip(7);
  MagnifyFactor = r.F64();
  MagnifyShape = r.U8();
  MagnifySource = r.U8();
  r.Skip(6);
  BlendOperation = r.U8();
  r.I32();  // the user-data slot: the layer keeps its own data (see SaveToStream)
  const uint8_t filter = r.U8();
  ResampleFilter = filter <= rfProjectWB ? TResampleFilter(filter) : rfNone;
  UseResampleFilter = r.Bool();
  if (!IEReadAnsiString(stream, Name)) throw EReadError("Invalid layer record");
  IsMask = r.Bool();
  DimOutside = r.Bool();
  const double rotation = r.F64();
  RotationCenterX = r.F64();
  RotationCenterY = r.F64();
  SetRotation(rotation);
  if (r.Bool()) {
    if (!Bitmap->ReadRawImageStream(stream)) throw EReadError("Invalid layer record");
    delete MaskedAlpha;
    MaskedAlpha = nullptr;
  }
  if (length > 0 && start + length >= stream.GetPosition()) stream.SetPosition(start + length);
}
