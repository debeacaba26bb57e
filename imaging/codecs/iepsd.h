// Photoshop PSD reading and writing: the merged image, or the layers as a plain list of records that
// the input/output component copies into, and out of, a view's layers.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "ieresample.h"
#include "ioparams.h"

// One layer of a PSD file. A user mask is a record of its own, directly after the layer it masks,
// with IsMask set and its 8-bit grey bitmap at the mask rectangle's place.
struct TIEPSDLayer {
  std::unique_ptr<TIEBitmap> Bitmap;  // pixels; the layer's transparency is the bitmap's alpha channel
  int PosX = 0, PosY = 0;             // top-left corner in image pixels
  int Width = 0, Height = 0;          // display size for the writer; 0 = the bitmap's own
  int Transparency = 255;             // opacity 0..255
  bool Visible = true;
  bool ClipToImage = false;  // read: the layer's clipping byte was 0
  bool IsMask = false;
  bool UseResampleFilter = false;  // writer: resize to the display size with ResampleFilter
  TResampleFilter ResampleFilter = rfNone;
  std::string Name;
  std::vector<uint8_t> ExtraInfo;  // the additional layer information blocks as the file had them

  int DisplayWidth() const { return Width > 0 ? Width : (Bitmap ? Bitmap->GetImageWidth() : 0); }
  int DisplayHeight() const { return Height > 0 ? Height : (Bitmap ? Bitmap->GetImageHeight() : 0); }
};
using TIEPSDLayerList = std::vector<TIEPSDLayer>;

// 26 bytes of header: "8BPS", version 1, 1..24 channels, depth 1..16, colour mode below 10. The
// position is restored.
bool IEPSDTest(TIEStream& Stream);

// Reads the file at the stream's position. Bitmap nullptr: parameters only. Layers (may be nullptr)
// receives the layers when LoadLayers is set, or the single layer of a one-layer file; the merged
// image is read into Bitmap when no layer was delivered or the thumbnail took its place.
void IEPSDRead(TIEStream& Stream, TIEBitmap* Bitmap, TIOParamsVals& Params, TIECodecProgress Progress,
               bool LoadLayers, TIEPSDLayerList* Layers);

// Writes Bitmap as the merged image and Layers (may be empty) as the file's layers, every channel
// PackBits-compressed. The layers' bitmaps are converted to the merged image's colour mode and
// resized to their display size in place.
void IEPSDWrite(TIEStream& Stream, const TIOParamsVals& Params, TIECodecProgress Progress, TIEBitmap* Bitmap,
                TIEPSDLayerList& Layers);

// PackBits of one row of n bytes into `out` (replaced): runs of 4 to 128 equal bytes become a
// repeat packet, everything else literal packets of at most 128 bytes.
void IEPSDPackBits(const uint8_t* row, int n, std::vector<uint8_t>& out);
