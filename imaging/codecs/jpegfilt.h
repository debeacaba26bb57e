// JPEG codec over libjpeg (6b interface): baseline, progressive and arithmetic-coded files, grey,
// RGB, YCbCr, CMYK and YCCK, DCT scaling on read, COM and APPn markers kept and written back, ICC
// profiles in APP2 chunks and IPTC records in APP13. Also the length scan other codecs use for JPEG
// data embedded in their files.
//
// Reading never raises for bad data: it sets the progress record's abort flag and keeps the rows it
// decoded. Writing sets the flag and raises EIEJpegException on a library error.
#pragma once
#include <cstdint>
#include <string>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

class EIEJpegException : public EIEError {
 public:
  using EIEError::EIEError;
};

// Reads the JPEG at (or up to 149 bytes after) the stream position. TablesStream: abbreviated tables
// read before the image (nullptr or the image stream: none). KeepYCbCr delivers Y, Cb, Cr in the
// places of B, G, R; InvertCMYK inverts CMYK samples before they are turned into 24-bit colour;
// ReadICC fills Params.InputICCProfile; ApplyICC converts colour rows through that profile to sRGB
// when IEApplyICCProfiles asks for it (the profile is then marked applied and its APP2 markers leave
// the marker list). ReadMetadata fills Params.IPTCInfo, the EXIF fields (turning the image upright
// with Params.JPEGEnableAdjustOrientation) and Params.XMPInfo. With Params.JPEGReadExifThumbnail
// the EXIF thumbnail, when there is one, is delivered instead of the image (0 rows). MaxRows: rows
// to decode at most (-1: all). NativePixelFormat keeps grey as ie8g and CMYK as ieCMYK; else
// ie24RGB. DeclaredColorSpace (a Params.JPEGColorSpace code, -1: none) is the colour space a
// container states for the stream, taken when the stream has no JFIF or Adobe marker of its own
// and the component count agrees. Returns the rows decoded.
int IEJPEGRead(TIEStream& Stream, TIEStream* TablesStream, TIEBitmap& Bitmap, TIOParamsVals& Params,
               TIECodecProgress& Progress, bool ParamsOnly, bool KeepYCbCr, bool ReadMetadata,
               bool InvertCMYK, bool ApplyICC, bool ReadICC, int MaxRows, bool NativePixelFormat,
               int DeclaredColorSpace = -1);

// Writes the bitmap (any format; others than ie24RGB through a 24-bit copy) with the JPEG parameters
// and the markers of Params.JPEGMarkerList (APP14 excepted: the library writes its own).
void IEJPEGWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);
// The same in the colour space given (codes of JPEGColorSpace) instead of the parameters' own: the
// JPEG data of containers whose pages cannot hold every colour space.
void IEJPEGWriteAs(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                   int ColorSpace);

// Start of image (FF D8 FF). Without Search: 0 when it is at the position, else -1. With Search: the
// stream position of the first one within 150 bytes, else -1. The position is restored.
int64_t IEJPEGFindSOI(TIEStream& Stream, bool Search);

// The ICC profile of the APP2 "ICC_PROFILE" chunks of the JPEG at the position into
// Params.InputICCProfile; a profile with a missing chunk is dropped. The position is restored.
void IEJPEGReadICC(TIEStream& Stream, TIOParamsVals& Params);

// Bytes from the position to just after the end-of-image marker (to the end of the stream when
// there is none). The position is restored.
int64_t IEJPEGLength(TIEStream& Stream);

// The text of a library message code, as the error exit reports it.
std::string IEJPEGMessageText(int code);
