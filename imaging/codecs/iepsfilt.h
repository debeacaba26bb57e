// PostScript Language Level 2 output with document structuring comments: the image scaled to fit the
// paper, placed at its top-left corner, as ASCII85 over RunLength, CCITT fax or DCT data. There is no
// reader. A document is written in three steps around a small state, so pages could be appended to
// an open document; IEPSWrite is the one-call form.
//
// Pixel formats: ie1g is written as 1-bit data, every other format as 8-bit RGB (from a converted
// copy; the caller's bitmap is never changed). Every write goes through the write check: a short
// write sets the abort flag and nothing further reaches the stream.
#pragma once
#include <cstdint>
#include <string>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

struct TIEPSWriterState {
  int64_t PagesPosition = 0;  // where the "%%Pages: " line starts
  int64_t EndPosition = 0;    // where the written pages end: the next page or the trailer goes there
  int PageCount = 0;
  bool WriteFailed = false;   // a write of this document came up short
};

// Decimal text of the value followed by blanks up to `width` characters.
std::string IEPSPadNumber(int value, int width);
// Writes the document's comments; the caller frees the state with IEPSClose.
TIEPSWriterState* IEPSWriteHeader(TIEStream& Stream, const TIOParamsVals& Params);
// Appends one page holding the bitmap and counts it in the "%%Pages: " line.
void IEPSAddPage(TIEPSWriterState* State, TIEStream& Stream, TIEBitmap& Bitmap, TIECodecProgress& Progress,
                 const TIOParamsVals& Params);
// Writes the trailer and frees the state (nothing for a null state). False when any write of the
// document came up short.
bool IEPSClose(TIEPSWriterState*& State, TIEStream& Stream);
// Header, one page, trailer. A short write sets the abort flag.
void IEPSWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);
