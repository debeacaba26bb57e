// DICOM reader: medical image files with or without the 128-byte preamble, data sets in implicit or
// explicit VR, little or big endian; pixel data uncompressed, RLE, baseline JPEG, JPEG 2000 or
// lossless JPEG, one frame per call. Every data element met goes to Params.DICOMTags. Failures set
// the progress record's abort flag.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// True when the four bytes at offset 128 are "DICM"; the position is restored. A data set without
// the preamble reads, but this test does not recognise it.
bool IEDICOMTest(TIEStream& Stream);

// Fills Params (size, samples, bits allocated, ImageCount = frames) and Params.DICOMTags and, unless
// ParamsOnly (or Bitmap is nullptr), decodes frame Params.ImageIndex (the last one when beyond).
// Grey images become ie8g or ie16g with the file's rescale and window applied and stretched to the
// full range (MONOCHROME1 inverted); colour ie24RGB; 16-bit palette colour ieRGB48.
void IEDICOMRead(TIEStream& Stream, TIOParamsVals& Params, TIEBitmap* Bitmap, TIECodecProgress Progress,
                 bool ParamsOnly);
