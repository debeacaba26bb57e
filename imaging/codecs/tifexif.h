// The camera metadata of TIFF structures (also the EXIF block of JPEG files): the metadata tags of
// the main directory and the EXIF (34665) and GPS (34853) directories, to and from the EXIF and GPS
// fields of the parameter object.
#pragma once
#include "ioparams.h"
#include "tifdirectory.h"
#include "tiftagwriter.h"

// Writes the EXIF and GPS directories (the GPS one only with a GPSVersionID) and adds the main
// directory's metadata tags with the pointers to them.
void IETIFFAddExifTags(TIETIFFTagWriter& w, const TIOParamsVals& Params);

// Fills the EXIF and GPS fields from a main directory and its EXIF and GPS directories (nullptr:
// absent, every field of that directory gets its absent value). HasExifData is set when there is an
// EXIF directory.
void IETIFFReadExifTags(const TIETIFFDirectory& main, const TIETIFFDirectory* exif, const TIETIFFDirectory* gps,
                        TIOParamsVals& Params);

// The EXIF and GPS fields of the first directory of a TIFF structure of any magic number (plain TIFF,
// camera raw, HD Photo), its offsets counting from the data's start. False (nothing changed) without
// a TIFF header or a readable first directory.
bool IELoadExifFromTIFFData(const uint8_t* data, size_t size, TIOParamsVals& Params);
// The same from the stream's position to its end; the position is restored.
bool IELoadExifFromTIFFStream(TIEStream& Stream, TIOParamsVals& Params);
