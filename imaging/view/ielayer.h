// TIELayer, one layer of an image view: a bitmap placed over layer 0 (the image) in layer-0 pixel
// coordinates, with its display size, rotation, opacity, blend operation, magnifying-glass settings
// and an optional block of application data. The view keeps an ordered list of them (imageryview.h)
// and composes them bottom-up; the layer itself knows only its own fields, the mapping between its
// bitmap and the view's client area, and its undo record.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "ieresample.h"

class TIEBitmap;
class TIEStream;
class TIETBitmapAdapter;
class TImageryView;
namespace ui {
class TBitmap;
}

class TIELayer {
 public:
  // With share the layer takes `bitmap` itself; otherwise it makes a bitmap of its own of the same
  // size, pixel format and location (pixels not copied; nullptr: an empty bitmap). Either way the
  // layer frees its bitmap with itself unless OwnsBitmap is cleared.
  TIELayer(TImageryView* view, TIEBitmap* bitmap, bool share);
  // A bitmap of its own of `shape`'s pixel format and location, width x height pixels (not set).
  TIELayer(TImageryView* view, TIEBitmap* shape, int width, int height);
  ~TIELayer();
  TIELayer(const TIELayer&) = delete;
  TIELayer& operator=(const TIELayer&) = delete;

  // Every drawing and interaction field to its default; an owned user-data block is freed. Name, Id
  // and the filter fields stay.
  void SetDefaults();
  // Copies the settings and the bitmap's contents; user data is copied with its length when the
  // source owns its block. Rotation, rotation centre and Id stay this layer's own.
  void Assign(TIELayer* source);

  int GetDisplayWidth();   // Width, or the bitmap's width when 0
  int GetDisplayHeight();
  double GetRotation() const { return Rotation; }
  void SetRotation(double angle);  // whole multiples of 360 store 0; anything else as given

  // Client pixels of the owning view to this layer's bitmap pixels, and back.
  int ClientToBitmapX(int x);
  int ClientToBitmapY(int y);
  int BitmapToClientX(int x);
  int BitmapToClientY(int y);

  // The undo record: settings, Id and, with withBitmap, the pixels. Loading matches nothing: the
  // caller has already chosen the layer (by the Id at offset 4).
  void SaveToStream(TIEStream& stream, bool withBitmap);
  void LoadFromStream(TIEStream& stream);

  // Application data. SetUserData copies `length` bytes into a block the layer owns (stored in the
  // layer stream, freed with the layer); SetUserDataPointer keeps a pointer the caller owns.
  void SetUserData(const void* data, int length);
  void SetUserDataPointer(void* data);
  void FreeUserData();
  // Takes `from`'s user data as it is (an owned block with its length, or a pointer), leaving `from`
  // without; this layer's own block is freed first.
  void TakeUserData(TIELayer& from) noexcept;
  void* GetUserData() const { return UserData; }
  int GetUserDataLength() const { return UserDataLength; }

  // Frees the bitmap the layer owns (with its platform bitmap) and takes `bitmap` instead, owning it
  // or not.
  void ReplaceBitmap(TIEBitmap* bitmap, bool owns);
  // Exchanges bitmaps (with their platform bitmaps and ownership) with `other`; the combined alpha
  // of each goes, being made for the pixels that left.
  void SwapBitmap(TIELayer& other) noexcept;
  // The platform bitmap behind Bitmap when its pixels live in one, else nullptr.
  ui::TBitmap* GetPlatformBitmap();
  // Gives Bitmap a platform bitmap of the layer's own (pixels kept), or takes it away (pixels moved
  // to location); the layer frees what it made.
  void MakePlatformBitmap();
  void DropPlatformBitmap(TIELocation location);
  // Takes over a platform bitmap and its adapter already behind Bitmap (the view's first bitmap).
  void AdoptPlatformBitmap(ui::TBitmap* bitmap, TIETBitmapAdapter* adapter);

  int Width = 0, Height = 0;  // display size in layer-0 pixels; 0 = the bitmap's
  TIEBitmap* MaskedAlpha = nullptr;  // this layer's alpha combined with the mask above it (owned)
  TImageryView* View;
  TIEBitmap* Bitmap = nullptr;
  bool Visible = true;
  bool BoxVisible = true;
  int Transparency = 255;  // 255 opaque
  int PosX = 0, PosY = 0;
  RECT ClientRect{0, 0, 0, 0};  // where the compositor last drew the layer
  bool ClipToImage = false;
  bool Locked = false;
  bool Selectable = true;
  bool Magnify = false;
  double MagnifyFactor = 2.0;
  uint8_t MagnifyShape = 0;   // 0 rectangle, 1 ellipse
  uint8_t MagnifySource = 1;  // 0 the pixels of layer 0, 1 what is drawn beneath the glass
  uint8_t BlendOperation = 0;
  bool OwnsBitmap = true;
  TResampleFilter ResampleFilter = rfNone;
  bool UseResampleFilter = false;
  std::string Name;
  bool IsMask = false;  // the mask of the layer directly below
  // Destination x, y, width, height (client); source x, y, width, height (bitmap); then the corners of
  // the rotated outline (client): top-left, top-right, bottom-right, bottom-left.
  int DrawInfo[16] = {};
  bool DimOutside = false;
  GUID Id;
  double RotationCenterX = 0.5, RotationCenterY = 0.5;  // fractions of the display size

 private:
  void MakeOwnBitmap(TIEBitmap* shape, int width, int height);
  void Start();  // Id, ownership and defaults of a new layer
  double Rotation = 0;
  void* UserData = nullptr;
  int UserDataLength = 0;  // above 0: UserData is a block of this many bytes owned by the layer
  ui::TBitmap* OwnPlatformBitmap = nullptr;
  TIETBitmapAdapter* OwnAdapter = nullptr;
};
