// TIEBitmap, the image library's pixel buffer: one raster image in one of ten pixel formats with an
// optional palette and alpha channel, kept in memory (one aligned block or row segments), in a
// delete-on-close temporary file reached through row views, or in a platform bitmap. Clients reach
// pixels row by row through GetRowAddress, so the same code runs on every location.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "ieblend.h"
#include "iedefs.h"
#include "iefilebuffer.h"
#include "ieplatformbitmap.h"

class TIEBitmap;
class TIEDibbitmap;
class TIEMask;
class TIEStream;
struct TIERenderTables;
namespace ui {
class TCanvas;
}  // namespace ui

// The thirteen operations shared by TIEBitmap and TIEDibbitmap.
class TIEBaseBitmap {
 public:
  virtual ~TIEBaseBitmap() = default;
  TIERowAccess RowAccess = iraRead | iraWrite;

  virtual uint8_t* GetRowAddress(int row) = 0;  // row 0 = top
  virtual int GetBitCount() = 0;
  virtual int GetImageHeight() = 0;
  virtual int GetImageWidth() = 0;
  virtual TIEPixelFormat GetPixelFormat() = 0;
  virtual int GetRowLength() = 0;
  virtual TIERGB* GetPalette() = 0;  // nullptr when there is none
  virtual TIERGB GetPaletteEntry(int index) = 0;
  virtual void SetPaletteEntry(int index, TIERGB color) = 0;
  virtual int GetPaletteCount() = 0;
  virtual bool Allocate(int width, int height, TIEPixelFormat format) = 0;
  virtual void Assign(TIEBaseBitmap* source) = 0;
  virtual void CopyPaletteTo(TIEBaseBitmap* dest) = 0;
};

// Gives a bitmap the row access `access` for a scope and puts its previous access back when the
// scope ends, also by an exception (a temporary-file bitmap left read-only would drop later writes).
// A null bitmap is left alone.
class TIEScopedRowAccess {
 public:
  TIEScopedRowAccess(TIEBaseBitmap* b, TIERowAccess access) : B(b), Saved(b ? b->RowAccess : access) {
    if (b) b->RowAccess = access;
  }
  ~TIEScopedRowAccess() {
    if (B) B->RowAccess = Saved;
  }
  TIEScopedRowAccess(const TIEScopedRowAccess&) = delete;
  TIEScopedRowAccess& operator=(const TIEScopedRowAccess&) = delete;

 private:
  TIEBaseBitmap* B;
  TIERowAccess Saved;
};

// The format a platform bitmap holds an image of format f in: grey samples as ie8g, CMYK, 48-bit
// and CIELab colours as ie24RGB, the six others as they are.
TIEPixelFormat IEPlatformHeldFormat(TIEPixelFormat f);

class TIEBitmap : public TIEBaseBitmap {
 public:
  TIEBitmap();
  TIEBitmap(int width, int height, TIEPixelFormat format);  // CreateSized
  ~TIEBitmap() override;
  TIEBitmap(const TIEBitmap&) = delete;
  TIEBitmap& operator=(const TIEBitmap&) = delete;

  // ---- base operations ----
  uint8_t* GetRowAddress(int row) override;
  int GetBitCount() override;
  int GetImageHeight() override;
  int GetImageWidth() override;
  TIEPixelFormat GetPixelFormat() override;
  int GetRowLength() override;
  TIERGB* GetPalette() override { return Palette.empty() ? nullptr : Palette.data(); }
  TIERGB GetPaletteEntry(int index) override;  // black outside 0 .. count - 1
  void SetPaletteEntry(int index, TIERGB color) override;  // ignored outside 0 .. count - 1
  int GetPaletteCount() override { return int(Palette.size()); }
  bool Allocate(int width, int height, TIEPixelFormat format) override;
  void Assign(TIEBaseBitmap* source) override;
  void CopyPaletteTo(TIEBaseBitmap* dest) override;

  int GetChannelCount();
  bool IsEmpty() const { return Width == 0 || Height == 0 || RowLength == 0 || BitCount == 0; }
  TIELocation GetLocation() const { return Location; }
  // Row segments of a memory image that no single block could hold (0: one block).
  int GetSegmentCount() const { return SegmentCount; }
  int GetRowsPerSegment() const { return RowsPerSegment; }
  int64_t GetMemoryThreshold() const { return MemoryThreshold; }
  void SetMemoryThreshold(int64_t bytes) { MemoryThreshold = bytes; }
  int GetRowAlignment() const { return RowAlignment; }

  // ---- storage ----
  void FreeStorage(bool withAlpha);
  // Makes `bitmap` (owned by the caller) the storage; ieTBitmap afterwards.
  void AttachTBitmap(TIEPlatformBitmap* bitmap, bool freeFirst);
  void UpdateTBitmapPalette();  // pushes the palette into the platform bitmap

  // A row address that stays valid (also at ieTempFile) until ReleaseRow(row).
  uint8_t* AcquireRow(int row);
  void ReleaseRow(int row);

  // ---- alpha channel ----
  bool AlphaPresent() const { return AlphaChannel != nullptr; }
  TIEBitmap* GetAlphaChannel();  // created fully opaque on first use; nullptr on an alpha channel
  // Takes ownership of `alpha`; returns the previous alpha channel (or nullptr), now the caller's.
  TIEBitmap* AttachAlphaChannel(TIEBitmap* alpha);
  TIEBitmap* DetachAlphaChannel();  // hands the alpha channel to the caller
  // Frees the alpha channel; with blend, an ie24RGB image is first composed over `background`.
  void DiscardAlphaChannel(bool blend, TColor background = 0);
  bool IsAlphaChannel() const { return IsAlpha; }

  // ---- copying and conversion ----
  void CopyImageFrom(TIEBitmap* source);
  void SetPixelFormat(TIEPixelFormat format);  // converts when it differs
  void ConvertPixelFormat(TIEPixelFormat format);
  void ConvertFrom(TIEBitmap* source);  // this bitmap already allocated, same size
  // Copies a platform bitmap: 1 bit black and white to ie1g, other 1-, 4- and 8-bit to ie8p with its
  // colour table, 15 and 16 bits to ie24RGB, 24 to ie24RGB, 32 to ie32RGB; the source is not changed.
  void AssignTBitmap(TIEPlatformBitmap* source);
  // Takes size and pixels of a 1-bit (ie1g) or 24-bit (ie24RGB) DIB; other DIBs change nothing.
  void TakeFromDIB(TIEDibbitmap* source);
  // A 1-bit mask becomes an ie1g image, an 8-bit one ie8g, with IsAll255 from the mask's all-set
  // flag; nullptr fills this image with 255. Masks of another depth change nothing.
  void CopyFromMask(TIEMask* mask);
  // An ie1g image becomes a 1-bit mask, ie8g an 8-bit one (all-set flag and box from the pixels).
  // Other formats leave the mask as it was and return false.
  bool CopyToMask(TIEMask* mask);

  // ---- rectangles, fills and pixels ----
  void CopyRectTo(TIEBitmap* dest, int sx, int sy, int dx, int dy, int w, int h);
  void CombineAlphaRectTo(TIEBitmap* dest, int sx, int sy, int dx, int dy, int w, int h);
  void Fill(double value);
  void FillRect(int x1, int y1, int x2, int y2, double value);
  uint8_t GetByte(int x, int y);
  void SetByte(int x, int y, uint8_t v);
  uint16_t GetWord(int x, int y);
  void SetWord(int x, int y, uint16_t v);
  float GetFloat(int x, int y);
  void SetFloat(int x, int y, float v);
  uint32_t GetDWord(int x, int y);
  void SetDWord(int x, int y, uint32_t v);
  TIERGB GetRGB(int x, int y);
  void SetRGB(int x, int y, TIERGB v);
  TIERGB* GetRGBPixelPtr(int x, int y);
  TIERGB48 GetRGB48(int x, int y);
  void SetRGB48(int x, int y, TIERGB48 v);
  TIERGB GetPixelRGB(int x, int y);  // any format, as a colour
  uint8_t GetAlphaAt(int x, int y);
  void SetAlphaAt(int x, int y, uint8_t v);
  void UpdateOpaqueFlag();
  bool IsAllZero();
  bool HasOnlyGrays();

  // ---- reshaping and relocation ----
  void SetLocation(TIELocation location);
  TIEPlatformBitmap* GetTBitmap();  // moves the image to ieTBitmap
  // The canvas of the platform bitmap, drawing straight into this image's pixels; moves the image to
  // ieTBitmap first. nullptr when the image has no pixels or is attached to a platform bitmap that
  // is not the user-interface library's bitmap.
  ui::TCanvas* GetCanvas();
  void SetRowAlignment(int bits);
  void SetImageWidth(int width);
  void SetImageHeight(int height);
  // placement: 0 left/top, 1 centre, 2 right/bottom
  void ResizeCanvas(int newWidth, int newHeight, double fill, int alphaFill, uint8_t hPlace, uint8_t vPlace);
  void MoveRect(int x1, int y1, int x2, int y2, int destX, int destY, double fill, bool fillFirst);
  void MoveStorageTo(TIEBitmap* target);

  // ---- rendering into 24-bit bitmaps (iebitmaprender.h has the rules) ----
  // The source rectangle (sx, sy, sw, sh) zoomed into (dx, dy, dw, dh) of the ie24RGB dest; tables
  // kept by the caller or nullptr, clip in inclusive destination pixels or nullptr.
  void RenderZoomedInto(TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, int dx, int dy, int dw, int dh,
                        int sx, int sy, int sw, int sh, bool useAlpha, bool reuseRows, int transparency,
                        TResampleFilter filter, TIEBlendOperation op);
  // Fresh tables, no clip, alpha channel used, no row reuse.
  void RenderInto(TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh, int transparency,
                  TResampleFilter filter, TIEBlendOperation op);
  // The same into a 24-bit platform bitmap, wrapped for the call.
  void RenderZoomedIntoPlatformBitmap(TIEPlatformBitmap* dest, TIERenderTables* tables, const RECT* clip, int dx,
                                      int dy, int dw, int dh, int sx, int sy, int sw, int sh, bool useAlpha,
                                      bool reuseRows, int transparency, TResampleFilter filter, TIEBlendOperation op);
  void RenderIntoPlatformBitmap(TIEPlatformBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                                int sh, int transparency, TResampleFilter filter, TIEBlendOperation op);
  // Scaled copy with alpha into the ie24RGB dest; opacity 0..255 caps the copied alpha.
  void ResampleRectInto(TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh,
                        TResampleFilter filter, int opacity);

  // ---- raw stream "TIEBITMAPRAW" ----
  // Appends the serialised bitmap to `out` / writes it at the stream's position (same bytes).
  void WriteRawImageStream(std::vector<uint8_t>& out);
  void WriteRawImageStream(TIEStream& stream);
  // Reads a serialised bitmap from data[*offset ..] (advancing *offset) or from the stream's position.
  // False, and this bitmap left as it was, on a wrong magic, a negative version, or data that is short
  // or inconsistent (sizes, palette count, pixel format, row alignment, flags).
  bool ReadRawImageStream(const uint8_t* data, size_t size, size_t* offset);
  bool ReadRawImageStream(TIEStream& stream);
  // The byte sink and source behind the two forms of the raw stream (defined with it).
  class RawSink;
  class RawSource;

  // ---- fields a client may set ----
  bool IsAll255 = false;  // every byte of every row is 255 (white; for alpha: opaque)
  uint8_t BlackWhiteMethod = 1;  // conversions to ie1g: 0 ordered dither, 1 threshold at the mean grey
  int PaletteColorTarget = 256;  // colours of a conversion to ie8p
  double InputRangeLow = 0, InputRangeHigh = 0;  // grey input range; both 0 = none
  int BrightnessOffsets[4] = {0, 0, 0, 0};
  bool AdjustEnabled = false;
  int Contrast = 0;
  int SpareInteger = 0;  // the undo stack keeps a layer index here

 private:
  bool AllocateStorage();
  bool AllocateAlignedBlock(uint64_t size);
  bool AllocateRowSegments();
  bool AllocateTempFile(uint64_t size);
  bool AllocatePlatformBitmap(uint64_t size);
  void ReleaseAllRowViews();
  void BuildRowTable();
  void SyncWithTBitmap();
  void ResetPlatformTransform();
  void TakeFormatFields(TIEPixelFormat f);
  void RowCopyFrom(TIEBitmap* source);
  void CopyRowsFrom(TIEBitmap* source);
  void ResizeKeeping(int width, int height);
  void WriteRaw(RawSink& sink);
  bool ReadRaw(RawSource& src, uint64_t start, uint64_t& end);
  static TIEBitmap* CreateAlphaBitmap(int width, int height, TIELocation ownerLocation);

  std::unique_ptr<TIEFileBuffer> FileBuffer;
  uint8_t* CurrentRowView = nullptr;
  std::vector<TIERGB> Palette;
  TIEBitmap* AlphaChannel = nullptr;  // owned
  uint8_t* AlignedBlock = nullptr;
  void* RawBlock = nullptr;
  TIEPlatformBitmap* PlatformBitmap = nullptr;
  std::vector<uint8_t*> RowTable;
  std::vector<uint8_t*> AcquiredViews;
  std::vector<int> AcquiredRows;
  int Width = 0, Height = 0, BitCount = 0, ChannelCount = 0, RowLength = 0;
  TIEPixelFormat PixelFormat = ieNoFormat;
  bool IsAlpha = false;
  TIELocation Location = ieMemory;
  bool PlatformBitmapNotOwned = false;
  int64_t MemoryThreshold = 0;
  int RowAlignment = 32;
  bool ReallocPending = true;
  int SegmentCount = 0, RowsPerSegment = 0;
  std::vector<void*> Segments;
};
