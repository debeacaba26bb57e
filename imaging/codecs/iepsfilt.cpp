// PostScript writer.
#include "iepsfilt.h"

#include <windows.h>

#include <cstdio>
#include <new>
#include <vector>

#include "iecheckedstream.h"
#include "iecodeccommon.h"
#include "iedoccoding.h"
#include "iegeom.h"
#include "ietextutils.h"
#include "jpegfilt.h"

namespace {

constexpr int kPagesFieldWidth = 6;  // "%%Pages: " is rewritten in place, so its number keeps this width

// The JPEG colour spaces that give four-component data; such pages are written as YCbCr instead.
bool FourComponentJPEG(uint8_t space) { return space == 3 || space == 4; }

void Line(TIEStream& s, const std::string& text) { IEWriteLineCRLF(s, text); }

std::string CreationDate() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char day[64] = "", month[64] = "";
  // the locale's day names start with Monday, the system time's with Sunday
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVDAYNAME1 + (st.wDayOfWeek + 6) % 7, day, sizeof day);
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVMONTHNAME1 + (st.wMonth - 1) % 12, month, sizeof month);
  char text[160];
  std::snprintf(text, sizeof text, "%s %s %02u %02u:%02u:%02u %04u", day, month, unsigned(st.wDay),
                unsigned(st.wHour), unsigned(st.wMinute), unsigned(st.wSecond), unsigned(st.wYear));
  return text;
}

// ASCII85 text of one block appended to `out`; `total` counts the characters of the groups.
void AppendASCII85(std::string& out, const uint8_t* data, int count, int& total) {
  const size_t start = out.size();
  out.resize(start + size_t(IEASCII85EncodeBound(count)));
  char* dest = &out[start];
  const uint8_t* src = data;
  const int written = IEASCII85Encode(src, count, dest, total);
  out.resize(start + size_t(written));
}

// The page's image data as it goes into the document.
struct TPageData {
  std::string text;
  int jpegComponents = 3;
};

void EncodeBilevel(TIEBitmap& bmp, int compression, TIECodecProgress& progress, TPageData& page) {
  int total = 0;
  if (compression == 1 || compression == 2) {
    const std::vector<uint8_t> code = IECCITTEncodeBitmap(bmp, compression == 1, progress);
    AppendASCII85(page.text, code.data(), int(code.size()), total);
    return;
  }
  const std::vector<uint8_t> rows = IEBilevelRows(bmp);
  const std::vector<uint8_t> rl = IERunLengthBlock(rows.data(), int(rows.size()));
  AppendASCII85(page.text, rl.data(), int(rl.size()), total);
  const int h = bmp.GetImageHeight();
  const double factor = 100.0 / h;
  for (int y = 0; y < h; ++y) progress.Report(int(y * factor));
}

void EncodeColour(TIEBitmap& bmp, int compression, const TIOParamsVals& params, TIECodecProgress& progress,
                  TPageData& page) {
  int total = 0;
  const int w = bmp.GetImageWidth(), h = bmp.GetImageHeight();
  if (compression == 3) {
    TIEMemoryStream jpeg;
    const uint8_t space = params.JPEGColorSpace;
    IEJPEGWriteAs(jpeg, bmp, params, progress, FourComponentJPEG(space) ? 2 : space);
    page.jpegComponents = space == 1 ? 1 : 3;
    AppendASCII85(page.text, static_cast<const uint8_t*>(jpeg.Memory()), int(jpeg.GetSize()), total);
    return;
  }
  std::vector<uint8_t> plane(static_cast<size_t>(w));
  const double factor = 100.0 / h;
  for (int y = 0; y < h && !progress.Aborted(); ++y) {
    const uint8_t* row = bmp.GetRowAddress(y);
    for (int c = 2; c >= 0; --c) {  // red, green, blue: bytes 2, 1, 0 of each pixel
      for (int x = 0; x < w; ++x) plane[size_t(x)] = row[3 * x + c];
      const std::vector<uint8_t> rl = IERunLengthBlock(plane.data(), w);
      AppendASCII85(page.text, rl.data(), int(rl.size()), total);
    }
    progress.Report(int(y * factor));
  }
}

void WritePage(TIEStream& s, int k, TIEBitmap& bmp, TIECodecProgress& progress, const TIOParamsVals& params) {
  const int w = bmp.GetImageWidth(), h = bmp.GetImageHeight();
  const bool bilevel = bmp.GetPixelFormat() == ie1g;
  const int compression = params.PSCompression;

  Line(s, "%%Page: " + IEIntToStr(k) + " " + IEIntToStr(k));
  Line(s, "0 " + IEIntToStr(params.PSPaperHeight) + " translate");
  int fw = 1, fh = 1;
  IEFitSizeInBox(w, h, params.PSPaperWidth, params.PSPaperHeight, fw, fh);
  Line(s, IEIntToStr(fw) + " -" + IEIntToStr(fh) + " scale");
  Line(s, IEIntToStr(w) + " " + IEIntToStr(h) + " " + IEIntToStr(bilevel ? 1 : 8));
  Line(s, "[ " + IEIntToStr(w) + " 0 0 " + IEIntToStr(h) + " 0 0 ]");

  TPageData page;
  std::string op;
  if (bilevel) {
    // 1-bit data knows RunLength and the two fax codings; any other choice is RunLength
    const int c = compression >= 0 && compression <= 2 ? compression : 0;
    EncodeBilevel(bmp, c, progress, page);
    if (c == 0) {
      Line(s, "currentfile /ASCII85Decode filter /RunLengthDecode filter");
    } else {
      Line(s, std::string("currentfile /ASCII85Decode filter << /K ") + (c == 1 ? "-1" : "1") +
                  " /BlackIs1 true /Columns " + IEIntToStr(w) + " /Rows " + IEIntToStr(h) +
                  " /EndOfLine false /Uncompressed true /EncodedByteAlign false /EndOfBlock false >>"
                  " /CCITTFaxDecode filter");
    }
    op = "image";
  } else {
    EncodeColour(bmp, compression, params, progress, page);
    if (compression == 3) {
      Line(s, "currentfile /ASCII85Decode filter << >> /DCTDecode filter");
      Line(s, "false " + IEIntToStr(page.jpegComponents));
    } else {
      for (const char* c : {"r", "g", "b"}) Line(s, std::string("/") + c + "str " + IEIntToStr(w) + " string def");
      for (const char* c : {"r", "g", "b"})
        Line(s, std::string("{currentfile /ASCII85Decode filter /RunLengthDecode filter ") + c +
                    "str readstring pop}");
      Line(s, "true 3");
    }
    op = "colorimage";
  }
  // the count covers every byte between this comment's line and %%EndData: the operator's line and
  // the data with its line breaks and end markers
  const size_t count = op.size() + 2 + page.text.size();
  Line(s, "%%BeginData:      " + IEIntToStr(int64_t(count)) + " ASCII Bytes");
  Line(s, op);
  if (!page.text.empty()) s.WriteBuffer(page.text.data(), int32_t(page.text.size()));
  Line(s, "%%EndData");
  Line(s, "showpage");
}

}  // namespace

std::string IEPSPadNumber(int value, int width) {
  std::string s = IEIntToStr(value);
  if (int(s.size()) < width) s.append(size_t(width) - s.size(), ' ');
  return s;
}

TIEPSWriterState* IEPSWriteHeader(TIEStream& Stream, const TIOParamsVals& Params) {
  auto* state = new TIEPSWriterState;
  TIECheckedWriteStream s(Stream, state->WriteFailed);
  Line(s, "%!PS-Adobe-3.0");
  Line(s, "%%Creator: Imagery by RiRivurazodi");
  Line(s, "%%Title: " + Params.PSTitle);
  Line(s, "%%CreationDate: " + CreationDate());
  Line(s, "%%DocumentData: Clean7Bit");
  Line(s, "%%LanguageLevel: 2");
  state->PagesPosition = s.GetPosition();
  Line(s, "%%Pages: " + IEPSPadNumber(0, kPagesFieldWidth));
  Line(s, "%%BoundingBox: 0 0 " + IEIntToStr(Params.PSPaperWidth - 1) + " " + IEIntToStr(Params.PSPaperHeight - 1));
  Line(s, "%%EndComments");
  state->EndPosition = s.GetPosition();
  return state;
}

void IEPSAddPage(TIEPSWriterState* State, TIEStream& Stream, TIEBitmap& Bitmap, TIECodecProgress& Progress,
                 const TIOParamsVals& Params) {
  if (!State) return;
  std::atomic<bool> localAbort{false};
  std::atomic<bool>& abort = Progress.Aborting ? *Progress.Aborting : localAbort;
  if (Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0) {
    abort = true;
    return;
  }
  TIEWriterSource src(Bitmap, Bitmap.GetPixelFormat() == ie1g ? ie1g : ie24RGB);
  TIECheckedWriteStream s(Stream, State->WriteFailed);
  // the page count lives in the state; the line keeps its length, so it is rewritten in place
  const int k = ++State->PageCount;
  s.SetPosition(State->PagesPosition);
  Line(s, "%%Pages: " + IEPSPadNumber(k, kPagesFieldWidth));
  s.SetPosition(State->EndPosition);
  WritePage(s, k, *src.get(), Progress, Params);
  State->EndPosition = s.GetPosition();
  if (State->WriteFailed) abort = true;
}

bool IEPSClose(TIEPSWriterState*& State, TIEStream& Stream) {
  if (!State) return true;
  {
    TIECheckedWriteStream s(Stream, State->WriteFailed);
    s.SetPosition(State->EndPosition);
    Line(s, "%%Trailer");
    Line(s, "%%EOF");
  }
  const bool ok = !State->WriteFailed;
  delete State;
  State = nullptr;
  return ok;
}

void IEPSWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress) {
  if (Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0) {
    Progress.Abort();  // nothing to put on a page
    return;
  }
  TIEPSWriterState* state = nullptr;
  try {
    state = IEPSWriteHeader(Stream, Params);
    IEPSAddPage(state, Stream, Bitmap, Progress, Params);
    if (!IEPSClose(state, Stream)) Progress.Abort();
  } catch (const std::bad_alloc&) {
    // a page too large for the memory left: the document stays unfinished and the caller is told
    delete state;
    Progress.Abort();
  } catch (const EStreamError&) {
    delete state;
    Progress.Abort();
  }
}
