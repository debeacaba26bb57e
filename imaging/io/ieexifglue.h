// Glue between image files' EXIF and XMP blocks and the parameter object: turning a bitmap upright by
// its EXIF orientation, and XMP packets in APP1 payloads.
#pragma once
#include <cstddef>
#include <cstdint>

class TIEBitmap;
class TIOParamsVals;

// Turns the bitmap (and its alpha channel) upright as EXIF orientation 1..8 says: 2 mirror left-right,
// 3 half turn, 4 upside down, 5 transpose, 6 quarter turn clockwise, 7 transverse, 8 quarter turn
// counter-clockwise. Exact in every pixel format; other values change nothing, and so does a turn
// that cannot be had for lack of memory.
void IEApplyExifOrientation(TIEBitmap* bitmap, int orientation);

// The XMP packet inside an APP1 payload (just behind the namespace identifier's NUL), or nullptr when
// the payload is not XMP.
const uint8_t* IEFindXMPPacket(const uint8_t* data, size_t length);
// TIOParamsVals.XMPInfo := the packet of the payload; false (nothing changed) when it is not XMP.
bool IELoadXMPFromMarker(const uint8_t* data, size_t length, TIOParamsVals* params);
// An APP1 payload holding TIOParamsVals.XMPInfo: a new[] block the caller frees with delete[].
void IESaveXMPToBuffer(TIOParamsVals* params, uint8_t*& buffer, size_t& length);
