// The image library's GIF codec: reads any one frame of a GIF (Params.GIFImageIndex) while counting
// them all, and writes a bitmap as a one-frame GIF with a global colour table, a graphic control
// extension and a comment extension. The LZW coding goes through Params.GIFLZWDecompress and
// Params.GIFLZWCompress, else the library's own coder. Failures set the progress record's abort flag.
// Progress is reported at 0, 30, 70 and 100.
#pragma once
#include <functional>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// ImageCount receives the number of frames in the file. The frame becomes ie1g (a black and white
// 1-bit frame), ie8p (Params.IsNativePixelFormat) or ie24RGB. AlphaMask: nullptr on entry; receives
// a new ie8g bitmap (caller-owned, 0 where transparent) when the frame has a transparent colour that
// a pixel uses and IgnoreAlpha is false. A frame whose data the file cuts short keeps the rows that
// came, with Params.GIFWarning set; a frame without a data byte sets the abort flag.
void IEGIFRead(TIEStream& Stream, TIEBitmap& Bitmap, int& ImageCount, TIOParamsVals& Params,
               TIECodecProgress& Progress, bool ParamsOnly, TIEBitmap*& AlphaMask, bool IgnoreAlpha);

// One walk over the file for a run of frames: frames First..Last are decoded in turn into Bitmap and
// AlphaMask (as IEGIFRead does, Params describing that frame) and handed to the sink, which takes what
// it keeps (AlphaMask included, leaving nullptr) and returns false to stop the walk.
using TIEGIFFrameSink = std::function<bool(int frame)>;
void IEGIFReadFrames(TIEStream& Stream, TIEBitmap& Bitmap, int& ImageCount, TIOParamsVals& Params,
                     TIECodecProgress& Progress, TIEBitmap*& AlphaMask, bool IgnoreAlpha, int First, int Last,
                     const TIEGIFFrameSink& Sink);

// Writes Params.BitsPerSample bits per pixel (1..8); a bitmap with an alpha channel keeps the last
// palette index for its transparent pixels and marks it transparent. The logical screen holds the
// frame at GIFXPos, GIFYPos (and GIFWinWidth x GIFWinHeight when larger); a screen or frame that a
// 16-bit field cannot hold is refused before anything is written.
void IEGIFWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);
