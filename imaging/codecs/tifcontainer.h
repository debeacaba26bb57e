// Tests of TIFF-structured streams (plain TIFF, camera raw, HD Photo) and the rewrite of a TIFF
// structure's metadata tags.
#pragma once
#include <string>

#include "iestreams.h"
#include "ioparams.h"

// A TIFF image: an "II" header, or an "MM" one whose byte at absolute position 8 is not 0xBA, with a
// first-directory offset inside the stream and a first directory holding ImageWidth and ImageLength.
// The directory offset counts from the stream's start. The position is restored.
bool IETIFFTest(TIEStream& Stream);
// A camera raw or DNG file in TIFF form: its first directory holds a 4-byte DNGVersion, a colour
// filter array or linear raw PhotometricInterpretation, or SubIFDs and a TIFF/EP StandardID beside a
// preview smaller than 200 x 200. The position is restored.
bool IETIFFCameraRAWTest(TIEStream& Stream);
// An HD Photo file: an "II" header and a first directory with the image's width, height, pixel
// format, offset and byte count tags. The position is restored.
bool IEHDPhotoTest(TIEStream& Stream);

// Copies the metadata of Params (the 23 tags of the main directory its EXIF block holds, with the
// EXIF and GPS directories) into page PageIndex of a little-endian TIFF structure read from
// InStream (from its position) or, without one, from the file InFileName, and writes the whole
// structure to OutStream (back at the remembered position when it is InStream) or, without one, to
// the file OutFileName. Tags the EXIF block lacks keep the target's value. False when the target
// cannot be read or is not little-endian, or the write fell short.
bool IETIFFUpdateTags(TIEStream* InStream, TIEStream* OutStream, const std::wstring& InFileName,
                      const TIOParamsVals& Params, int PageIndex, const std::wstring& OutFileName);
