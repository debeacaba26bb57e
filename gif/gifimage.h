// The GIF image object model: an image holds a header (logical screen and global colour map) and a
// list of frames; each frame holds its image descriptor, a local colour map, one byte per pixel and
// its extensions. The reader and writer walk this tree block by block, as a GIF file lays them out.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gifbitmap.h"
#include "gifcolormap.h"
#include "gifutil.h"
#include "uigraphics.h"
#include "uithreads.h"

namespace ui {
class TBitmap;
class TStream;
}  // namespace ui

class TGIFImage;
class TGIFSubImage;
class TGIFExtension;
class TGIFGraphicControlExtension;
class TGIFPainter;

enum TGIFPaletteMode : uint8_t {
  gpNone, gpStock20, gpHalftone, gpGray4, gpBlackWhite, gpGray256, gpWebSafe216, gpOctree,
  gpOctreeKeepStatic, gpGivenPalette
};
enum TGIFDitherStyle : uint8_t {
  gdNearest, gdFloydSteinberg, gdStucki, gdSierra, gdJaJuNi, gdSteveArche, gdBurkes
};
enum TGIFCompression : uint8_t { gifLZW, gifRunLength };

// What TGIFImage::OptimizeFrames may do, as a set of bits.
enum TGIFOptimizeOption : uint8_t {
  ooCrop = 1,          // crop transparent borders and drop frames that become empty
  ooMerge = 2,         // pixels equal to the frame shown beneath become transparent
  ooCleanup = 4,       // drop unused transparency, needless disposal and extensions, empty frames
  ooColorMap = 8,      // sort colour maps by use
  ooReduceColor = 16   // accepted but not carried out
};
using TGIFOptimizeOptions = uint8_t;
constexpr TGIFOptimizeOptions kGIFAllOptimizeOptions = ooCrop | ooMerge | ooCleanup | ooColorMap | ooReduceColor;

// Defaults copied into every new image.
extern TGIFPaletteMode GIFDefaultPaletteMode;   // gpWebSafe216
extern int GIFDefaultPaletteBits;               // 8
extern TGIFDitherStyle GIFDefaultDitherStyle;   // gdNearest
extern TGIFCompression GIFDefaultCompression;   // gifLZW
extern uint16_t GIFDefaultDrawOptions;          // 0x060F: asynchronous, transparent, animated, looping,
                                                // dithered on paletted screens
extern ui::TThreadPriority GIFDefaultThreadPriority;  // tpNormal
extern int GIFDefaultAnimationSpeed;                  // 100 (percent)
// The reader makes the image's still picture (the composite bitmap) as soon as frame 0 is read, and
// asks picture holders to redraw after every frame read. (Frames are drawn from their pixels and keep
// no picture of their own.)
extern bool GIFBuildBitmapsOnLoad;  // false
// Storing an image in a layout stream first shrinks it with every frame optimization.
extern bool GIFOptimizeOnStore;     // false

// Base of the header, frames, extensions and the trailer: a part of one image.
class TGIFItem {
 public:
  explicit TGIFItem(TGIFImage* image) : image_(image) {}
  virtual ~TGIFItem() = default;
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;
  TGIFImage* Image() const { return image_; }
  // 1 = GIF87a is enough, 2 = needs GIF89a.
  virtual int RequiredVersion() const { return 1; }
  void ReportWarning(const std::string& message);
  virtual void SaveToStream(TGIFByteStream& stream) = 0;
  virtual void LoadFromStream(TGIFByteStream& stream) = 0;
  void WriteToFile(const std::wstring& fileName);
  void ReadFromFile(const std::wstring& fileName);

 private:
  TGIFImage* image_;
};

struct TGIFLogicalScreen {
  uint16_t Width = 0, Height = 0;
  uint8_t Packed = 0;            // bit 7 global table, 6..4 colour resolution, 3 sorted, 2..0 size
  uint8_t BackgroundIndex = 0;
  uint8_t AspectRatio = 0;
};

class TGIFHeader : public TGIFItem {
 public:
  explicit TGIFHeader(TGIFImage* image) : TGIFItem(image), colorMap_(this) {}
  TGIFLogicalScreen& Screen() { return screen_; }
  const TGIFLogicalScreen& Screen() const { return screen_; }
  TGIFGlobalColorMap& ColorMap() { return colorMap_; }
  void Assign(const TGIFHeader& source);
  // Makes the map the global one, clearing the rest of the header.
  void Assign(const TGIFColorMap& map);
  void Clear();
  // Recomputes the logical screen's packed byte from the colour maps of the image.
  void Prepare();
  void SaveToStream(TGIFByteStream& stream) override;
  void LoadFromStream(TGIFByteStream& stream) override;

 private:
  TGIFLogicalScreen screen_;
  TGIFGlobalColorMap colorMap_;
};

struct TGIFImageDescriptor {
  uint8_t Separator = 44;
  uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
  uint8_t Packed = 0;  // bit 7 local table, 6 interlaced, 5 sorted, 2..0 table size
};

class TGIFSubImage : public TGIFItem {
 public:
  explicit TGIFSubImage(TGIFImage* image);
  ~TGIFSubImage() override;
  void Clear();

  int Left() const { return descriptor_.Left; }
  int Top() const { return descriptor_.Top; }
  int Width() const { return descriptor_.Width; }
  int Height() const { return descriptor_.Height; }
  const TGIFImageDescriptor& Descriptor() const { return descriptor_; }
  // Stores the bounds (new pixels when the size changed) and widens the image to hold the frame.
  void SetFrameBounds(int left, int top, int width, int height);
  bool Empty() const;
  void AllocPixels();
  // Raise "Invalid pixel coordinates" outside the frame and "Image is empty" without pixels.
  uint8_t* PixelRow(int y);
  uint8_t PixelAt(int x, int y);
  std::vector<uint8_t>& Pixels() { return pixels_; }
  const std::vector<uint8_t>& Pixels() const { return pixels_; }

  TGIFLocalColorMap& ColorMap() { return colorMap_; }
  const TGIFLocalColorMap& ColorMap() const { return colorMap_; }
  // The local map when it has entries, else the global map when it has, else the empty local map.
  TGIFColorMap& ActiveColorMap();
  int RequiredVersion() const override;
  bool Interlaced() const { return (descriptor_.Packed & 0x40) != 0; }
  void SetInterlaced(bool on);
  int BitsPerPixel() const { return colorMap_.BitsNeeded(); }
  int ColorResolution() const { return colorMap_.BitsNeeded() - 1; }

  bool Transparent() const { return transparent_; }
  void SetTransparentFlag(bool on) { transparent_ = on; }
  // The frame's first graphic control extension, or null.
  TGIFGraphicControlExtension* GraphicControlExtension() const { return graphicControl_; }
  const std::vector<std::unique_ptr<TGIFExtension>>& Extensions() const { return extensions_; }
  TGIFExtension* AddExtension(std::unique_ptr<TGIFExtension> extension);
  void RemoveExtension(TGIFExtension* extension);

  void Assign(const TGIFSubImage& source);
  // A picture becomes the frame: 1-, 4- and 8-bit pictures as they are, others reduced by the
  // image's palette mode, dither style and palette bits.
  void Assign(const TGIFPixelSource& source);
  // A graphic becomes the frame: a bitmap as a picture (above, with its transparency), another GIF
  // image by its still picture, any other graphic (an icon, a metafile) drawn into a 24-bit bitmap
  // with what it leaves undrawn (an icon: its mask) transparent.
  void Assign(ui::TGraphic* graphic);
  // The frame's copy to a platform bitmap: 8 bits per pixel with the active map's colours (an index
  // beyond the map takes its first), or dithered to the 216-colour cube when the image wants
  // dithering. A transparent frame's bitmap is transparent by a colour that no other of its pixels
  // shows. Reports "Rendering..." progress every 32 rows; an abort raised by a progress handler
  // leaves `bitmap` empty.
  void RenderBitmap(ui::TBitmap* bitmap);
  // Pixels under a non-zero mask byte (one per pixel, rows of `stride` bytes) become transparent.
  void AddTransparencyMask(const uint8_t* mask, size_t stride);

  // Draws the frame at its place in the logical screen scaled into `target`, or with `tiled` at its
  // own size in every screen-sized tile of `target`; with `transparent` its transparent pixels leave
  // the canvas as it was. Dithered to the 216-colour cube when the image wants dithering.
  void DrawInto(ui::TCanvas* canvas, const RECT& target, bool tiled, bool transparent);

  void DecodePixels(TGIFByteStream& stream);
  void EncodePixels(TGIFByteStream& stream);
  void SaveToStream(TGIFByteStream& stream) override;
  void LoadFromStream(TGIFByteStream& stream) override;

 private:
  friend class TGIFGraphicControlExtension;
  void LoadExtensions(TGIFByteStream& stream);
  void CopyPixels(const TGIFPixelSource& source, int reportEveryRows);

  TGIFImageDescriptor descriptor_;
  TGIFLocalColorMap colorMap_;
  std::vector<std::unique_ptr<TGIFExtension>> extensions_;
  std::vector<uint8_t> pixels_;
  bool transparent_ = false;
  TGIFGraphicControlExtension* graphicControl_ = nullptr;
};

// The frames of an image, in file order.
class TGIFImageList {
 public:
  explicit TGIFImageList(TGIFImage* image) : image_(image) {}
  int Count() const { return int(items_.size()); }
  TGIFSubImage& operator[](int i) { return *items_[size_t(i)]; }
  const TGIFSubImage& operator[](int i) const { return *items_[size_t(i)]; }
  int Add(std::unique_ptr<TGIFSubImage> frame);
  void Delete(int index);
  void Clear();
  void SaveToStream(TGIFByteStream& stream);
  void LoadFromStream(TGIFByteStream& stream);

 private:
  TGIFImage* image_;
  std::vector<std::unique_ptr<TGIFSubImage>> items_;
};

using TGIFWarningEvent = std::function<void(const void* sender, int severity, const std::string& message)>;

// A GIF picture: the object model with its reading, writing and conversion from other pictures, and
// the user-interface library's graphic, so that pictures, canvases and bitmaps take it like any other.
class TGIFImage : public ui::TGraphic {
  UI_DECLARE_CLASS(TGIFImage, ui::TGraphic)

 public:
  // Frames larger than this are refused, whatever their data.
  static constexpr uint64_t kMaxFramePixels = uint64_t(1) << 28;
  // The largest logical screen that is painted as a whole (a painter's buffers, the composite bitmap):
  // a 4096 x 2048 screen, 24 MB a buffer. A larger one is drawn as a still frame; a few bytes of a file
  // can claim a screen of 65535 x 65535.
  static constexpr uint64_t kMaxPaintPixels = uint64_t(1) << 23;

  TGIFImage();
  ~TGIFImage() override;
  TGIFImage(const TGIFImage&) = delete;
  TGIFImage& operator=(const TGIFImage&) = delete;
  void Clear();

  TGIFHeader& Header() { return header_; }
  TGIFImageList& Images() { return images_; }
  const TGIFImageList& Images() const { return images_; }
  TGIFGlobalColorMap& GlobalColorMap() { return header_.ColorMap(); }
  bool Empty() const override { return images_.Count() == 0; }
  int Width() const { return header_.Screen().Width; }
  int Height() const { return header_.Screen().Height; }
  // The logical screen is within kMaxPaintPixels.
  bool PaintableScreen() const { return uint64_t(Width()) * uint64_t(Height()) <= kMaxPaintPixels; }
  // Raise "Image width too small for contained frames" (height alike) when a frame would stick out.
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  uint32_t BackgroundColor();
  // The largest frame version, 0 without frames.
  int RequiredVersion() const;
  // The largest BitsNeeded over the global and every local map.
  int BitsPerPixel();
  int ColorResolution() { return BitsPerPixel() - 1; }

  int AddFrame(std::unique_ptr<TGIFSubImage> frame);
  int AddFrame(const TGIFPixelSource& picture);
  // A graphic, or a picture holder's graphic, becomes a new last frame (see TGIFSubImage::Assign of
  // a graphic); anything else raises "Object type not supported for operation".
  int AddFrame(ui::TPersistent* source);
  void Assign(const TGIFImage& source);
  void Assign(const TGIFPixelSource& picture);

  // Shrinks an animation without changing what it shows: sorts colour maps, makes pixels that repeat
  // the picture beneath transparent, crops transparent borders, drops frames and extensions that show
  // nothing. Only the palette mode of the last three arguments is looked at; ooReduceColor with
  // gpGivenPalette and without ooCleanup raises "Invalid reduction method" before anything changes.
  void OptimizeFrames(TGIFOptimizeOptions options, TGIFPaletteMode paletteMode, int paletteBits,
                      TGIFDitherStyle ditherStyle);
  // Replaces all colour maps by one global map of the colours the frames use, most used first, and
  // rewrites every frame's pixels to it (see TColorMapOptimizer).
  void UnifyColorMaps();

  void LoadFromStream(TGIFByteStream& stream);
  void SaveToStream(TGIFByteStream& stream);
  void LoadFromFile(const std::wstring& fileName);
  void SaveToFile(const std::wstring& fileName);

  // --- as a graphic of the user-interface library ---
  int GetWidth() const override { return Width(); }
  int GetHeight() const override { return Height(); }
  using ui::TGraphic::LoadFromFile;
  using ui::TGraphic::SaveToFile;
  // The GIF data at the stream's position; a failed load leaves the stream where it began.
  void LoadFromStream(ui::TStream* stream) override;
  void SaveToStream(ui::TStream* stream) override;
  // Another GIF image is copied; a bitmap (any depth) becomes the only frame (see Assign of a
  // picture); null clears; other graphics are refused.
  void Assign(ui::TPersistent* source) override;
  // Draws the image into `r`: one frame at once, or with goAnimate and several frames through a
  // painter (see gifpainter.h). Nothing while a draw is under way or for an empty image; while frames
  // change (a handler of the change's progress) at most the still picture made meanwhile is shown.
  void Draw(ui::TCanvas* canvas, const RECT& r) override;
  // The picture the image shows at rest, as a 24-bit bitmap of the logical screen's size: frame 0
  // over white. Owned by the image, rebuilt on demand after every change; null for an empty image.
  // Raises "Image too large to paint" beyond kMaxPaintPixels.
  ui::TBitmap* CompositeBitmap();
  // From the clipboard: "GIF Image" data (copied, then read as a GIF stream) or a platform bitmap;
  // without a data handle the clipboard's own data of the format is taken.
  void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) override;
  // The composite bitmap goes out through the arguments, and the GIF data is put on the (open)
  // clipboard as "GIF Image"; a refused placement raises "Failed to store GIF on clipboard".
  void SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) override;

  TGIFPaletteMode PaletteMode = GIFDefaultPaletteMode;
  TGIFDitherStyle DitherStyle = GIFDefaultDitherStyle;
  TGIFCompression Compression = GIFDefaultCompression;
  int PaletteBits() const { return paletteBits_; }
  void SetPaletteBits(int bits);  // 3..8, else "Invalid Bits Per Pixel value"
  // Palette of gpGivenPalette.
  TGIFPalette GivenPalette;

  TGIFWarningEvent WarningEvent;
  void ReportWarning(const void* sender, int severity, const std::string& message);
  // Reports through the graphic's OnProgress, so that a picture holding the image hears it too.
  void ReportProgress(ui::TProgressStage stage, int percent, bool redraw, const std::string& message);
  // Stores the image in a layout stream, optimized first when GIFOptimizeOnStore is set.
  void WriteData(ui::TStream* stream) override;

  // --- drawing and animation (see gifpainter.h) ---
  uint16_t DrawOptions = GIFDefaultDrawOptions;  // go* bits of gifpainter.h
  ui::TThreadPriority ThreadPriority = GIFDefaultThreadPriority;  // of painter threads
  int AnimationSpeed = GIFDefaultAnimationSpeed;  // percent; 0 or below holds each frame
  // The frame a still drawing shows (when it names a frame), else frame 0.
  int ForceFrame = -1;
  // What an animation shows where no frame has painted yet; ui::clNone takes the logical screen's
  // background colour (or the window colour without a global map).
  ui::TColor DrawBackgroundColor = ui::clNone;
  // goDither is set and, with goAutoDither, the screen is paletted.
  bool DitherWanted() const;
  // The composite bitmap's palette, else the image's own (cached): the 216-colour cube when dithering,
  // else the global map's colours, else frame 0's map. Owned by the image. Asked again while it is
  // being made, it raises "No global or local color table defined".
  HPALETTE GetPalette() override;
  // Adopts `palette` as the image's palette (owned from now on).
  void SetPalette(HPALETTE palette) override;
  // Fired with the painter as sender, in the main thread when the painter runs on its own.
  ui::TNotifyEvent PaintStartEvent, PaintEvent, AfterPaintEvent, LoopEvent, PaintEndEvent;
  // A painter for this image on `canvas`, registered with the image; null for an empty image or
  // rectangle. An asynchronous one is returned suspended (TGIFPainter::Launch starts it); a
  // synchronous one plays at once, is freed, and null is returned.
  TGIFPainter* RunPainter(TGIFPainter*& ref, ui::TCanvas* canvas, uint16_t drawOptions, const RECT& r);
  // Stop the painter of Draw, or every painter, and wait until they have ended (serving synchronised
  // calls meanwhile when on the main thread). A painter whose event handler makes the call is only
  // stopped: it ends when the handler has returned. Raise when a paint event run meanwhile frees the
  // image.
  void HaltOwnPainter();
  void HaltAllPainters();
  // Stretches `bitmap` over `r`, or with goTile repeats it at the image's size from r's top-left.
  void DrawTiled(ui::TCanvas* canvas, const RECT& r, ui::TBitmap* bitmap);
  // Painters now playing this image.
  int PainterCount();

  // Held while frames or colour maps are added, removed or replaced under painters that may be
  // playing them: stops every painter first and keeps the painter list locked, so that no painter
  // starts or reads a frame until the change is over; the pictures made of the old frames are dropped
  // at both ends. Changes nest: an inner one only counts. Every operation of the model that adds,
  // removes or replaces frames, extensions or colour maps holds one; a caller that changes a frame's
  // pixels or extensions directly while the image may be playing holds one around it. Raises when a
  // paint event run while the painters stop frees the image (nothing of it is touched then).
  class TFrameChange {
   public:
    explicit TFrameChange(TGIFImage& image) : TFrameChange(&image) {}
    // Nothing for no image (a frame that belongs to none).
    explicit TFrameChange(TGIFImage* image);
    ~TFrameChange();
    TFrameChange(const TFrameChange&) = delete;
    TFrameChange& operator=(const TFrameChange&) = delete;

   private:
    TGIFImage* image_;
  };

 protected:
  // A bitmap destination receives the composite bitmap; anything else is refused.
  void AssignTo(ui::TPersistent* dest) override;

 private:
  void DropPalettes();
  // A new last frame made from `source` (a picture or a graphic), within a frame change of the caller's.
  template <class Source>
  int AppendFrame(const Source& source) {
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(source);
    return images_.Add(std::move(frame));
  }
  // The same within a frame change of its own, which stops the painters before the conversion (whose
  // progress a holder may answer by drawing); then a change is signalled.
  template <class Source>
  int AddFrameFrom(const Source& source) {
    int index;
    {
      TFrameChange change(*this);
      index = AppendFrame(source);
    }
    Changed();
    return index;
  }
  // Stops every painter, or Draw's own, and waits until they have ended; a painter whose event
  // handler is the caller is only stopped. False when a handler run meanwhile freed the image.
  bool StopPainters(bool all);
  void DrawAnimated(ui::TCanvas* canvas, const RECT& r, const std::shared_ptr<bool>& alive);
  friend class TGIFSubImage;
  friend class TGIFPainter;
  friend class TGIFGlobalColorMap;
  friend class TGIFLocalColorMap;
  // A colour map changed outside a frame change: the palettes and the still picture go; a frame's map
  // signals a change of the image.
  void ColorMapChanged(bool frameMap);
  TGIFHeader header_;
  TGIFImageList images_;
  int paletteBits_ = GIFDefaultPaletteBits;
  uint64_t unbackedPixelBudget_ = 0;  // frame pixels a load may still allocate beyond their data
  ui::TBitmap* composite_ = nullptr;
  bool drawing_ = false;
  int frameChanges_ = 0;  // TFrameChange scopes open: drawing waits for nothing then
  // Shared with the painters, which lock it when they end, also after the image is gone.
  std::shared_ptr<ui::TThreadList> painters_ = std::make_shared<ui::TThreadList>();
  // Cleared when the image is freed: a caller up the stack (a draw or a halt serving the painters'
  // calls, whose event handler freed the image) sees it and returns without touching the image.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  TGIFPainter* drawPainter_ = nullptr;  // the painter of Draw
  ui::TBitmap* animation_ = nullptr;    // what Draw's painter paints into, without goDirectDraw
  HPALETTE palette_ = nullptr;          // the image's palette, made or given
  HPALETTE framePalette_ = nullptr;     // frame 0's, made for the last palette request without one
  bool insidePalette_ = false;
};
