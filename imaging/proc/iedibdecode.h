// Loading packed device-independent bitmaps (BITMAPINFOHEADER or a later header, colour table,
// optional bit-field masks, pixel rows) into a TIEBitmap, with the decoders of the packed and planar
// YUV layouts that such a DIB may name as its compression.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

class TIEBitmap;

// Decodes the DIB at `dib` (`dibSize` bytes: header, colour table, masks and, when `bits` is
// nullptr, the pixels behind them) into `dest`. `bits` / `bitsSize` name pixel data kept apart from
// the header. Every read stays inside the given bytes; header sizes, colour counts, masks and
// dimensions are checked. BI_RGB, BI_RLE8, BI_RLE4 and BI_BITFIELDS at 1, 4, 8, 16, 24 and 32 bits and
// the YUV four-character codes are decoded; 1-bit DIBs with a black and a white entry become ie1g
// (white where the palette says white), everything else ie24RGB. Returns the DIB's bit count (24 for
// a YUV DIB whose header gives none), or 0
// with `error` (when given) set and `dest` untouched when the DIB is refused.
int IECopyDIBToBitmap(const void* dib, size_t dibSize, TIEBitmap* dest, const void* bits, size_t bitsSize,
                      std::string* error = nullptr);
// The same for a global memory handle (locked for the call; its size bounds the reads).
int IECopyDIBToBitmap(HGLOBAL dib, TIEBitmap* dest, const void* bits, size_t bitsSize,
                      std::string* error = nullptr);

// The YUV layout decoders: `dest` must be an ie24RGB bitmap of the image's size; `data` holds
// `size` bytes. With topDown the first data row is the bitmap's row 0, else its last row. A width
// that is not a whole number of groups is stored as whole groups and only the pixels inside the row
// are written. False, and nothing written, when the data is shorter than the image needs.
// Byte orders per group: IYU2 U Y V; UYVY U Y0 V Y1; YUY2 Y0 U Y1 V; YVYU Y0 V Y1 U; IYU1 U Y0 Y1 V
// Y2 Y3; Y211 Y0 U Y2 V (pixels 0, 1 take Y0, pixels 2, 3 take Y2); Y41P U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5
// Y6 Y7; CLJR one little-endian 32-bit word per 4 pixels (V bits 0-5, U 6-11, Y0..Y3 5 bits each from
// bit 12), its fields scaled to 8 bits. Planar: I420 Y, U, V planes with chroma halved both ways
// (rounded up), YV12 Y, V, U; YVU9 Y, V, U with chroma quartered both ways (rounded up).
bool IEDecodeIYU1(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeIYU2(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeUYVY(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeYUY2(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeYVYU(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeY41P(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeY211(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeCLJR(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeYVU9(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeYV12(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
bool IEDecodeI420(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown);
