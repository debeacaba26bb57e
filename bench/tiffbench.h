// What the TIFF read and write benchmarks share: their two pictures, the codings they time, and a
// page written by our TIFF writer into memory.
#pragma once
#include <atomic>
#include <cstdint>

#include "benchcommon.h"
#include "iestreams.h"
#include "ioparams.h"
#include "tifencode.h"

// A 4000 x 3000 photograph and a 2480 x 3508 bilevel page (A4 at 300 dpi), with their pixel bytes in
// MB (24-bit, and 1-bit for the page), which the MB/s figures count.
struct TTIFFBenchPictures {
  TIEBitmap photo, page;
  double photoMB = 4000.0 * 3000 * 3 / 1e6, pageMB = 2480.0 / 8 * 3508 / 1e6;
  TTIFFBenchPictures() {
    BenchMakePhoto(photo, 4000, 3000);
    BenchMakePage(page, 2480, 3508);
  }
};

// One timed coding: TIFFCompression and bits per sample (1: the bilevel page).
struct TTIFFBenchCoding {
  const char* name;
  int compression, bits;
};
const TTIFFBenchCoding kTIFFBenchLZW = {"LZW + predictor", 5, 8}, kTIFFBenchDeflate = {"Deflate", 9, 8},
                       kTIFFBenchPackBits = {"PackBits", 8, 8}, kTIFFBenchG4 = {"G4 page", 4, 1};

inline TIEBitmap& TIFFBenchPicture(TTIFFBenchPictures& p, const TTIFFBenchCoding& c) {
  return c.bits == 1 ? p.page : p.photo;
}
inline double TIFFBenchMB(const TTIFFBenchPictures& p, const TTIFFBenchCoding& c) {
  return c.bits == 1 ? p.pageMB : p.photoMB;
}

// The bitmap as one TIFF page in the coding, into `out`; false when the writer gave up.
inline bool TIFFBenchEncode(TIEBitmap& b, const TTIFFBenchCoding& c, TIEMemoryStream& out) {
  TIOParamsVals p(nullptr);
  p.TIFFCompression = c.compression;
  if (c.bits == 1) p.BitsPerSample = 1, p.SamplesPerPixel = 1;
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  IETIFFWrite(out, false, &b, p, progress);
  return !abort;
}
