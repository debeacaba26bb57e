// Drawing a pixel buffer of any pixel format, zoomed, into a 24-bit pixel buffer (a view's back
// buffer or a wrapped platform bitmap): display adjustments (brightness offsets, contrast, grey input
// range), alpha channel and global transparency, and a layer blend operation against what the
// destination already holds. Also the scaled copy with alpha into another buffer, and the platform's
// DrawDib functions.
//
// The renderers walk destination rows through lookup tables (destination row addresses, the source
// column of each visible destination column, the source row of each visible destination row). The
// destination must be a 24-bit TIEBitmap whose row addresses stay valid for the call (in memory or at
// the platform-bitmap location).
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "ieblend.h"

class TIEBitmap;
class TIEPlatformBitmap;

// Tables a caller may keep between renders of one geometry. Empty tables are built by the call and
// left filled; filled ones are used as they are (tied to the visible area of the call that built
// them). Clear them when the geometry changes.
struct TIERenderTables {
  std::vector<uint8_t*> Rows;  // every destination row
  std::vector<int> XTable;     // source column of each visible destination column
  std::vector<int> YTable;     // source row of each visible destination row
};

// Draws the source rectangle (sx, sy, sw, sh) of `source` into the destination rectangle (dx, dy, dw,
// dh) of `dest` (ie24RGB). clip (inclusive destination pixels) or nullptr; tables or nullptr (fresh
// ones, freed). useAlpha: the source's alpha channel, unless it is all 255; transparency 0..255 is
// applied on top; reuseRows: a destination row showing the same source row as the row above is
// copied from it (opaque renders without a blend operation only, where that gives the same pixels).
// Unfiltered (rfNone): every destination pixel shows the source pixel its position maps to. With a
// filter and differing sizes, ie1g and ie24RGB sources are first resampled to the destination size
// (a shrinking 1-bit source becomes grey levels) and drawn 1:1; other formats draw unfiltered.
void IERenderZoomedInto(TIEBitmap* source, TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, int dx, int dy,
                        int dw, int dh, int sx, int sy, int sw, int sh, bool useAlpha, bool reuseRows,
                        int transparency, TIEBlendOperation op, TResampleFilter filter = rfNone);
// The common form: fresh tables, no clip, alpha channel used, no row reuse.
void IERenderInto(TIEBitmap* source, TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh,
                  int transparency, TIEBlendOperation op, TResampleFilter filter = rfNone);
// The same into a 24-bit platform bitmap, wrapped for the call.
void IERenderZoomedIntoPlatformBitmap(TIEBitmap* source, TIEPlatformBitmap* dest, TIERenderTables* tables,
                                      const RECT* clip, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                                      int sh, bool useAlpha, bool reuseRows, int transparency, TIEBlendOperation op,
                                      TResampleFilter filter = rfNone);

// Scaled copy of a source rectangle into a destination rectangle of the 24-bit `dest`, with alpha:
// the source's alpha channel scaled and lowered to at most `opacity`, or the destination alpha filled
// with `opacity`. rfNone takes the nearest pixel (ie1g sources give black and white, other formats
// than ie24RGB are converted to 24-bit colours); another filter resamples the rectangle first (a
// shrinking 1-bit source gives grey levels). A source without pixels draws nothing.
void IEResampleRectInto(TIEBitmap* source, TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                        int sh, int opacity, TResampleFilter filter = rfNone);

// Video for Windows DrawDib, loaded on first use (msvfw32.dll); the same arguments and results as the
// platform's functions, failures (module missing) reported as the platform's failure values.
HANDLE IEDrawDibOpen();
BOOL IEDrawDibClose(HANDLE hdd);
// Where DrawDib refuses a DIB (Wine turns down 16- and 32-bit BI_BITFIELDS), the DIB is drawn with
// StretchDIBits instead.
BOOL IEDrawDibDraw(HANDLE hdd, HDC dc, int xDst, int yDst, int dxDst, int dyDst, BITMAPINFOHEADER* header,
                   void* bits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT flags);
UINT IEDrawDibRealize(HANDLE hdd, HDC dc, BOOL background);
