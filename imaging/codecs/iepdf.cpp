// PDF writer: document assembly, page tree, cross-reference table.
#include "iepdf.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "iecheckedstream.h"
#include "iecodeccommon.h"
#include "iedoccoding.h"
#include "iegeom.h"
#include "ietextutils.h"
#include "jpegfilt.h"
#include "tiflzw.h"

namespace {

// The four bytes above 127 on the header's second line mark the file as binary for transfer programs.
const uint8_t kBinaryMarker[] = {0xC8, 0xD2, 0xF0, 0xFE, '\n'};

TIEPDFNameObject* Name(const char* n) { return new TIEPDFNameObject(n); }
TIEPDFNumericObject* Num(double v) { return new TIEPDFNumericObject(v); }
TIEPDFRefObject* Ref(const TIEPDFObject* o) { return new TIEPDFRefObject(o->ObjectNumber, 0); }

std::string IEPadLeft(int64_t v, int width) {
  std::string s = IEIntToStr(v);
  if (int(s.size()) < width) s.insert(0, size_t(width) - s.size(), '0');
  return s;
}

std::string CreationDate() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char text[40];
  std::snprintf(text, sizeof text, "D:%04u%02u%02u%02u%02u%02u", unsigned(st.wYear), unsigned(st.wMonth),
                unsigned(st.wDay), unsigned(st.wHour), unsigned(st.wMinute), unsigned(st.wSecond));
  return text;
}

// The LZW coder of the parameters, else the process-wide one; nullptr when neither is there.
TIETIFFLZWCompressor LZWCoder(const TIOParamsVals& params) {
  return params.TIFFLZWCompress ? params.TIFFLZWCompress : IEGlobalTIFFLZWCompressor;
}

// Rows through the LZW coder, then its flushing call. `row(y, buffer)` fills one row.
template <typename RowFn>
std::vector<uint8_t> LZWRows(TIETIFFLZWCompressor coder, int rows, int rowBytes, std::atomic<bool>& abort, RowFn row) {
  TIEMemoryStream out;
  TIETIFFLZWEncoderState* st = nullptr;
  std::vector<uint8_t> buffer(static_cast<size_t>(rowBytes));
  for (int y = 0; y < rows && !abort; ++y) {
    row(y, buffer.data());
    if (!coder(buffer.data(), rowBytes, out, st)) abort = true;
  }
  if (st && !coder(nullptr, 0, out, st)) abort = true;
  const uint8_t* p = static_cast<const uint8_t*>(out.Memory());
  return std::vector<uint8_t>(p, p + out.GetSize());
}

void RGBRow(TIEBitmap& bmp, int y, uint8_t* dst) {
  const uint8_t* src = bmp.GetRowAddress(y);
  for (int x = 0, w = bmp.GetImageWidth(); x < w; ++x) {
    dst[3 * x] = src[3 * x + 2];
    dst[3 * x + 1] = src[3 * x + 1];
    dst[3 * x + 2] = src[3 * x];
  }
}

// Data and filter entries of a 1-bit image.
void BilevelImage(TIEBitmap& bmp, const TIOParamsVals& params, TIECodecProgress& progress, std::atomic<bool>& abort,
                  TIEPDFStreamObject& image) {
  TIEPDFDictionaryObject& d = *image.Dictionary;
  const int w = bmp.GetImageWidth(), h = bmp.GetImageHeight();
  int c = params.PDFCompression;
  if (c == 4) c = 3;  // no DCT for 1-bit data: the fax coding instead
  const TIETIFFLZWCompressor coder = LZWCoder(params);
  if (c == 5 && !coder) c = 0;  // no LZW coder: the data go unfiltered
  switch (c) {
    case 1: {
      const std::vector<uint8_t> rows = IEBilevelRows(bmp);
      image.SetData(IERunLengthBlock(rows.data(), int(rows.size())));
      auto* filter = new TIEPDFArrayObject;
      filter->Add(Name("RunLengthDecode"));
      d.Add("Filter", filter);
      break;
    }
    case 2:
    case 3: {
      image.SetData(IECCITTEncodeBitmap(bmp, c == 2, progress));
      d.Add("Filter", Name("CCITTFaxDecode"));
      auto* parms = new TIEPDFDictionaryObject;
      parms->Add("K", Num(c == 2 ? -1 : 1));
      parms->Add("BlackIs1", new TIEPDFBooleanObject(true));
      parms->Add("Columns", Num(w));
      parms->Add("Rows", Num(h));
      parms->Add("EndOfLine", new TIEPDFBooleanObject(false));
      parms->Add("Uncompressed", new TIEPDFBooleanObject(true));
      parms->Add("EncodedByteAlign", new TIEPDFBooleanObject(false));
      parms->Add("EndOfBlock", new TIEPDFBooleanObject(false));
      d.Add("DecodeParms", parms);
      break;
    }
    case 5: {
      const int rowBytes = (w + 7) / 8;
      image.SetData(LZWRows(coder, h, rowBytes, abort,
                            [&](int y, uint8_t* dst) { std::memcpy(dst, bmp.GetRowAddress(y), size_t(rowBytes)); }));
      d.Add("Filter", Name("LZWDecode"));
      break;
    }
    default:
      image.SetData(IEBilevelRows(bmp));
  }
  d.Add("ColorSpace", Name("DeviceGray"));
  d.Add("BitsPerComponent", Num(1));
}

// Data and filter entries of an 8-bit RGB image.
void ColourImage(TIEBitmap& bmp, const TIOParamsVals& params, TIECodecProgress& progress, std::atomic<bool>& abort,
                 TIEPDFStreamObject& image) {
  TIEPDFDictionaryObject& d = *image.Dictionary;
  const int w = bmp.GetImageWidth(), h = bmp.GetImageHeight();
  int c = params.PDFCompression;
  const TIETIFFLZWCompressor coder = LZWCoder(params);
  if (c == 5 && !coder) c = 0;
  const char* space = "DeviceRGB";
  if (c == 4) {
    TIEMemoryStream jpeg;
    const uint8_t jpegSpace = params.JPEGColorSpace;
    // four-component JPEG data would not match the page's colour space: such images go as YCbCr
    IEJPEGWriteAs(jpeg, bmp, params, progress, jpegSpace == 3 || jpegSpace == 4 ? 2 : jpegSpace);
    const uint8_t* p = static_cast<const uint8_t*>(jpeg.Memory());
    image.SetData(std::vector<uint8_t>(p, p + jpeg.GetSize()));
    d.Add("Filter", Name("DCTDecode"));
    if (jpegSpace == 1) space = "DeviceGray";
  } else if (c == 5) {
    image.SetData(LZWRows(coder, h, 3 * w, abort, [&](int y, uint8_t* dst) { RGBRow(bmp, y, dst); }));
    d.Add("Filter", Name("LZWDecode"));
  } else {
    std::vector<uint8_t> data(size_t(w) * 3 * size_t(h));
    for (int y = 0; y < h; ++y) RGBRow(bmp, y, data.data() + size_t(y) * 3 * size_t(w));
    image.SetData(std::move(data));
  }
  d.Add("ColorSpace", Name(space));
  d.Add("BitsPerComponent", Num(8));
}

void FreeState(TIEPDFWriterState*& state) {
  for (TIEPDFObject* o : state->Objects) delete o;
  delete state;
  state = nullptr;
}

}  // namespace

void IEPDFNumberObject(std::vector<TIEPDFObject*>& Objects, TIEPDFObject* Object) {
  Objects.push_back(Object);
  Object->ObjectNumber = int32_t(Objects.size());
}

TIEPDFDictionaryObject* IEPDFCreateCatalog(std::vector<TIEPDFObject*>& Objects) {
  auto* catalog = new TIEPDFDictionaryObject;
  catalog->Add("Type", Name("Catalog"));
  IEPDFNumberObject(Objects, catalog);
  return catalog;
}

TIEPDFDictionaryObject* IEPDFAddPage(std::vector<TIEPDFObject*>& Objects, std::vector<TIEPDFDictionaryObject*>& Pages,
                                     TIEPDFDictionaryObject* Resources, int32_t ContentObject,
                                     TIEPDFArrayObject* MediaBox) {
  auto* page = new TIEPDFDictionaryObject;
  page->Add("Type", Name("Page"));
  if (Resources) page->Add("Resources", Ref(Resources));
  page->Add("MediaBox", MediaBox);
  page->Add("Contents", new TIEPDFRefObject(ContentObject, 0));
  IEPDFNumberObject(Objects, page);
  Pages.push_back(page);
  return page;
}

TIEPDFDictionaryObject* IEPDFCreatePagesTree(std::vector<TIEPDFObject*>& Objects,
                                             std::vector<TIEPDFDictionaryObject*>& Pages) {
  auto* tree = new TIEPDFDictionaryObject;
  IEPDFNumberObject(Objects, tree);
  tree->Add("Type", Name("Pages"));
  auto* kids = new TIEPDFArrayObject;
  for (TIEPDFDictionaryObject* page : Pages) {
    kids->Add(Ref(page));
    page->Add("Parent", Ref(tree));
  }
  tree->Add("Kids", kids);
  tree->Add("Count", Num(double(Pages.size())));
  return tree;
}

void IEPDFWriteHeader(TIEStream& Stream) {
  IEWriteText(Stream, "%PDF-1.4\n");
  Stream.WriteBuffer(kBinaryMarker, int32_t(sizeof kBinaryMarker));
}

void IEPDFWriteObjects(TIEStream& Stream, std::vector<TIEPDFObject*>& Objects) {
  for (TIEPDFObject* o : Objects) {
    const int32_t position = int32_t(Stream.GetPosition());
    IEWriteLineLF(Stream, IEIntToStr(o->ObjectNumber) + " 0 obj");
    o->Write(Stream);
    IEWriteText(Stream, "\nendobj\n");
    o->Position = position;
  }
}

void IEPDFWriteXRefAndTrailer(TIEStream& Stream, std::vector<TIEPDFObject*>& Objects, TIEPDFObject* Info,
                              int64_t DocumentStart) {
  const int64_t xref = Stream.GetPosition() - DocumentStart;
  std::string t = "xref\n0 " + IEIntToStr(int64_t(Objects.size()) + 1) + "\n0000000000 65535 f \n";
  for (TIEPDFObject* o : Objects) t += IEPadLeft(o->Position - DocumentStart, 10) + " 00000 n \n";
  t += "trailer\n<< /Size " + IEIntToStr(int64_t(Objects.size()) + 1) + "\n/Root 1 0 R\n";
  if (Info) t += "/Info " + IEIntToStr(Info->ObjectNumber) + " 0 R\n";
  t += ">>\nstartxref\n" + IEIntToStr(xref) + "\n%%EOF\n";
  IEWriteText(Stream, t);
}

TIEPDFWriterState* IEPDFCreateState() {
  auto* state = new TIEPDFWriterState;
  state->Catalog = IEPDFCreateCatalog(state->Objects);
  auto* resources = new TIEPDFDictionaryObject;
  resources->NotOwned = 1;
  auto* procSet = new TIEPDFArrayObject;
  procSet->Add(Name("PDF"));
  procSet->Add(Name("ImageB"));
  resources->Add("ProcSet", procSet);
  resources->Add("XObject", new TIEPDFDictionaryObject);
  IEPDFNumberObject(state->Objects, resources);
  state->Resources = resources;
  return state;
}

void IEPDFAddImagePage(TIEPDFWriterState* State, TIEBitmap& Bitmap, const TIOParamsVals& Params,
                       TIECodecProgress& Progress) {
  if (!State) return;
  std::atomic<bool> localAbort{false};
  std::atomic<bool>& abort = Progress.Aborting ? *Progress.Aborting : localAbort;
  if (Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0) {
    abort = true;
    return;
  }
  TIEWriterSource src(Bitmap, Bitmap.GetPixelFormat() == ie1g ? ie1g : ie24RGB);
  TIEBitmap& bmp = *src.get();
  const int w = bmp.GetImageWidth(), h = bmp.GetImageHeight();
  const bool bilevel = bmp.GetPixelFormat() == ie1g;

  auto* image = new TIEPDFStreamObject;
  if (bilevel) BilevelImage(bmp, Params, Progress, abort, *image);
  else ColourImage(bmp, Params, Progress, abort, *image);
  image->Dictionary->Insert(0, "Type", Name("XObject"));
  image->Dictionary->Insert(1, "Subtype", Name("Image"));
  image->Dictionary->Add("Width", Num(w));
  image->Dictionary->Add("Height", Num(h));
  IEPDFNumberObject(State->Objects, image);
  State->Images.push_back(image);
  const std::string name = "lm" + IEIntToStr(int64_t(State->Images.size()));

  int fw = 1, fh = 1;
  IEFitSizeInBox(w, h, Params.PDFPaperWidth, Params.PDFPaperHeight, fw, fh);
  const std::string content = "q\n" + IEIntToStr(fw) + " 0 0 " + IEIntToStr(fh) + " 0 " +
                              IEIntToStr(Params.PDFPaperHeight - fh) + " cm\n/" + name + " Do\nQ";
  auto* contents = TIEPDFStreamObject::CreateWithData(content.data(), int32_t(content.size()));
  IEPDFNumberObject(State->Objects, contents);
  State->Contents.push_back(contents);

  static_cast<TIEPDFDictionaryObject*>(State->Resources->Get("XObject"))->Add(name, Ref(image));
  auto* mediaBox = new TIEPDFArrayObject;
  for (int v : {0, 0, Params.PDFPaperWidth, Params.PDFPaperHeight}) mediaBox->Add(Num(v));
  IEPDFAddPage(State->Objects, State->Pages, State->Resources, contents->ObjectNumber, mediaBox);
}

bool IEPDFClose(TIEPDFWriterState*& State, TIEStream& Stream, const TIOParamsVals& Params) {
  if (!State) return true;
  bool failed = false;
  {
    TIECheckedWriteStream s(Stream, failed);
    TIEPDFDictionaryObject* tree = IEPDFCreatePagesTree(State->Objects, State->Pages);
    State->Catalog->Add("Pages", Ref(tree));
    auto* info = new TIEPDFDictionaryObject;
    const std::pair<const char*, const std::string*> fields[] = {
        {"Title", &Params.PDFTitle},       {"Author", &Params.PDFAuthor},   {"Subject", &Params.PDFSubject},
        {"Keywords", &Params.PDFKeywords}, {"Creator", &Params.PDFCreator}, {"Producer", &Params.PDFProducer}};
    for (const auto& f : fields)
      if (!f.second->empty()) info->Add(f.first, new TIEPDFStringObject(*f.second));
    info->Add("CreationDate", new TIEPDFStringObject(CreationDate()));
    IEPDFNumberObject(State->Objects, info);

    const int64_t start = s.GetPosition();
    IEPDFWriteHeader(s);
    IEPDFWriteObjects(s, State->Objects);
    IEPDFWriteXRefAndTrailer(s, State->Objects, info, start);
  }
  FreeState(State);
  return !failed;
}

void IEPDFWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress) {
  if (Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0) {
    Progress.Abort();  // nothing to put on a page
    return;
  }
  TIEPDFWriterState* state = IEPDFCreateState();
  try {
    IEPDFAddImagePage(state, Bitmap, Params, Progress);
    if (!IEPDFClose(state, Stream, Params)) Progress.Abort();
  } catch (const std::bad_alloc&) {
    // a page too large for the memory left: no document, and the caller is told
    if (state) FreeState(state);
    Progress.Abort();
  } catch (const EStreamError&) {
    if (state) FreeState(state);
    Progress.Abort();
  }
}
