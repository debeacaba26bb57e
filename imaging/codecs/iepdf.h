// PDF 1.4 output, one page per image: the image is an image XObject scaled to fit the page and placed
// at its top-left corner. There is no reader. The document is assembled in memory from the objects
// of iepdfobj.h and written out only when it is closed, so several pages could go into one document;
// IEPDFWrite is the one-call form.
//
// Pixel formats: ie1g is written as 1-bit data, every other format as 8-bit RGB (from a converted
// copy; the caller's bitmap is never changed). Every write goes through the write check: a short
// write sets the abort flag and nothing further reaches the stream.
#pragma once
#include <cstdint>
#include <vector>

#include "iebitmap.h"
#include "iepdfobj.h"
#include "iestreams.h"
#include "ioparams.h"

struct TIEPDFWriterState {
  std::vector<TIEPDFObject*> Objects;  // every numbered object; number = index + 1. The state owns them.
  std::vector<TIEPDFDictionaryObject*> Pages;
  std::vector<TIEPDFStreamObject*> Images;
  std::vector<TIEPDFStreamObject*> Contents;
  TIEPDFDictionaryObject* Resources = nullptr;  // ProcSet and XObject (image names lm1, lm2, ...)
  TIEPDFDictionaryObject* Catalog = nullptr;
};

// Empty lists, the catalog (object 1) and the shared resources (object 2).
TIEPDFWriterState* IEPDFCreateState();
// Adds the bitmap as an image page. PDFCompression 4 on a 1-bit image is taken as, and stored back
// as, 3.
void IEPDFAddImagePage(TIEPDFWriterState* State, TIEBitmap& Bitmap, const TIOParamsVals& Params,
                       TIECodecProgress& Progress);
// Writes the whole document and frees the state and its objects (nothing for a null state). False
// when a write came up short.
bool IEPDFClose(TIEPDFWriterState*& State, TIEStream& Stream, const TIOParamsVals& Params);
// Create, one page, close. A short write sets the abort flag.
void IEPDFWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);

// ---- document structure ----
// Appends the object to the list and gives it the new count as its number.
void IEPDFNumberObject(std::vector<TIEPDFObject*>& Objects, TIEPDFObject* Object);
TIEPDFDictionaryObject* IEPDFCreateCatalog(std::vector<TIEPDFObject*>& Objects);
// A numbered page dictionary (Type, Resources when given, MediaBox, Contents), appended to Pages.
// The page takes the media box.
TIEPDFDictionaryObject* IEPDFAddPage(std::vector<TIEPDFObject*>& Objects, std::vector<TIEPDFDictionaryObject*>& Pages,
                                     TIEPDFDictionaryObject* Resources, int32_t ContentObject,
                                     TIEPDFArrayObject* MediaBox);
// The numbered page tree (Type, Kids, Count); every page gets its Parent.
TIEPDFDictionaryObject* IEPDFCreatePagesTree(std::vector<TIEPDFObject*>& Objects,
                                             std::vector<TIEPDFDictionaryObject*>& Pages);
void IEPDFWriteHeader(TIEStream& Stream);
// Each object wrapped in "N 0 obj" ... "endobj"; its Position becomes where that line starts.
void IEPDFWriteObjects(TIEStream& Stream, std::vector<TIEPDFObject*>& Objects);
// Offsets are counted from `DocumentStart`, the stream position of the header.
void IEPDFWriteXRefAndTrailer(TIEStream& Stream, std::vector<TIEPDFObject*>& Objects, TIEPDFObject* Info,
                              int64_t DocumentStart);
