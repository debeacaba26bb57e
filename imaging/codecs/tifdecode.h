// TIFF reading: the page chain, strips and tiles, contiguous or planar samples, uncompressed, LZW
// (with the horizontal predictor), Deflate and PackBits data of 1 to 16 bits per sample.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// Reads page Params.TIFFImageIndex (sub-image TIFFSubIndex, tile TIFFGetTile) of the TIFF structure
// at the stream's position into Bitmap. Offsets count from that position with OffsetsFromStart, else
// from the stream's start. The directories and strips are read through the stream as needed.
// PageCount receives the pages of the main chain; with Params nullptr nothing else happens.
// Pixel formats: bilevel pages ie1g; with Params.IsNativePixelFormat 8-bit palette ie8p, 8-bit grey
// ie8g, 16-bit grey ie16g, CMYK ieCMYK and 16-bit RGB ieRGB48 (samples exact); every other page
// ie24RGB (16-bit samples keep their high byte). An alpha extra sample (unless IgnoreAlpha) goes to
// AlphaMask, created (the caller's) when nullptr, else reallocated to the page's size; premultiplied
// colours are brought back to full strength. IsThumbnail refuses pages over 400 pixels either way
// and clears the bitmap first. Params.TIFFEnableAdjustOrientation turns the page (and its alpha)
// upright by its Orientation tag. With IEApplyICCProfiles colour pages go through their ICC profile.
// Params receives the page's size, samples, resolution, byte order, planar configuration, names,
// metadata and the page count. A first-directory offset of 0 or a page past the last leaves the
// bitmap untouched without an error. Unreadable or unsupported data sets the abort flag.
void IETIFFRead(TIEBitmap& Bitmap, TIEStream& Stream, int& PageCount, TIOParamsVals* Params,
                TIECodecProgress& Progress, bool ParamsOnly, TIEBitmap*& AlphaMask, bool OffsetsFromStart,
                bool IgnoreAlpha, bool IsThumbnail);
// The same with offsets from the stream's position, alpha kept, not as a thumbnail, and the alpha
// channel attached to Bitmap.
void IETIFFRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                bool ParamsOnly);
