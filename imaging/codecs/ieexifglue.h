// Glue between image files' EXIF and XMP blocks and the parameter object: EXIF blocks (APP1 payloads
// holding a TIFF structure) to and from the EXIF and GPS fields, turning a bitmap upright by its EXIF
// orientation, and XMP packets in APP1 payloads.
#pragma once
#include <cstddef>
#include <cstdint>

class TIEBitmap;
class TIOParamsVals;

// True when the payload, read as a NUL-terminated text, is exactly "Exif".
bool IEIsExifMarker(const uint8_t* data, size_t length);
// Fills the EXIF and GPS fields of params from an "Exif" APP1 payload and sets HasExifData, and
// params.ExifThumbnail (created when missing) from its second directory, turned upright (empty when
// there is none or it cannot be read); false (nothing changed) when the payload is not EXIF.
bool IELoadExifFromMarker(const uint8_t* data, size_t length, TIOParamsVals* params);
// The EXIF block of params (a TIFF structure of the metadata directories, then a second directory
// with ExifThumbnail as JPEG interchange data when there is one), behind "Exif" NUL NUL with
// withHeader: a new[] block the caller frees with delete[].
void IESaveExifToBuffer(const TIOParamsVals* params, uint8_t*& buffer, size_t& length, bool withHeader);
// Before a JPEG save: with HasExifData, the first APP1 marker holding EXIF is replaced by params'
// EXIF block (appended last); the thumbnail is left out when the block would not fit in a marker.
void IEStoreExifMarker(TIOParamsVals* params);
// Before a JPEG save: the first APP1 marker holding XMP is replaced by params' XMPInfo (appended
// last), or only removed when XMPInfo is empty.
void IEStoreXMPMarker(TIOParamsVals* params);

// Every EXIF and GPS field of source (the tag list, strings, numbers, rationals, the maker note, the
// user comment) onto the same field of dest.
void IECopyExifParams(const TIOParamsVals& source, TIOParamsVals& dest);

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
