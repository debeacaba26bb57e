// PNM reading and writing.
#include "iepnm.h"

#include <cstring>
#include <memory>
#include <vector>

#include "iecodeccommon.h"
#include "iecolorconv.h"
#include "ietextutils.h"
#include "ieutils.h"

namespace {

// A header has a magic, two sizes and a maximum; a file padded with comments is still read, but the
// test gives up after this many tokens.
constexpr int kMaxTestTokens = 501;
constexpr int32_t kMaxTestBytes = 64 * 1024;
// Longer tokens are no numbers any more; longer comments are cut (the rest is still skipped).
constexpr size_t kMaxTokenLength = 64;
constexpr size_t kMaxCommentLength = 4096;
constexpr int kMaxSample = 65535;

bool IsTokenChar(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Where the header reader stands.
enum THeaderStep {
  hsMagic,    // waiting for "P1" .. "P6"
  hsWidth,    // waiting for the width
  hsHeight,   // waiting for the height
  hsMaximum,  // waiting for the maximum sample (not for "P1" and "P4")
  hsDone,     // the raster starts at the stream's position
};

struct THeader {
  char kind = 0;  // '1' .. '6', 0 when the magic is not a PNM magic
  int width = -1, height = -1, maximum = -1;
  THeaderStep step = hsMagic;
};

// Reads tokens until the header is complete or the stream ends; comments go to `comments`.
void ReadHeader(TIEStream& s, THeader& h, std::vector<std::string>* comments, int maxTokens) {
  std::string t;
  for (int n = 0; n < maxTokens && h.step != hsDone; ++n) {
    IEPNMReadToken(s, t);
    if (t.empty()) return;
    if (t[0] == '#') {
      if (comments) comments->push_back(t.substr(1));
      continue;
    }
    switch (h.step) {
      case hsMagic:
        if (t.size() != 2 || t[0] != 'P' || t[1] < '1' || t[1] > '6') return;
        h.kind = t[1];
        h.step = hsWidth;
        if (h.kind == '1' || h.kind == '4') h.maximum = 1;
        break;
      case hsWidth:
        h.width = IEStrToIntDef(t, -1);
        h.step = hsHeight;
        break;
      case hsHeight:
        h.height = IEStrToIntDef(t, -1);
        h.step = h.kind == '1' || h.kind == '4' ? hsDone : hsMaximum;
        break;
      case hsMaximum:
        h.maximum = IEStrToIntDef(t, -1);
        h.step = hsDone;
        break;
      case hsDone: break;
    }
  }
}

// v of 0 .. maximum as 0 .. top: Trunc(v / maximum x top), larger v as top.
inline int Scale(int v, int maximum, int top) { return v >= maximum ? top : int(int64_t(v) * top / maximum); }

bool ReadByte(TIEStream& s, uint8_t& c) { return s.Read(&c, 1) == 1; }

// Binary rows: the whole row or the abort flag.
bool ReadRow(TIEStream& s, TIECodecProgress& p, std::vector<uint8_t>& row) {
  return IEReadExact(s, p, row.data(), int64_t(row.size()));
}

void WriteText(TIEStream& s, std::atomic<bool>& abort, const std::string& t) {
  IEStreamWriteCheck(s, abort, t.data(), int32_t(t.size()));
}

}  // namespace

void IEPNMReadToken(TIEStream& Stream, std::string& Token) {
  Token.clear();
  uint8_t c;
  for (;;) {  // separators, or a comment before the token
    if (!ReadByte(Stream, c)) return;
    if (IsTokenChar(c)) break;
    if (c == '#') {
      std::string text;
      while (ReadByte(Stream, c) && c != '\r' && c != '\n')
        if (text.size() < kMaxCommentLength) text += char(c);
      Token = "#" + IETrim(text);
      return;
    }
  }
  Token += char(c);
  while (ReadByte(Stream, c) && IsTokenChar(c))
    if (Token.size() < kMaxTokenLength) Token += char(c);
}

bool IEPNMTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  THeader h;
  bool ok = false;
  try {
    // the tokens are looked for in one block read at once: detection runs on unbuffered files too
    std::vector<uint8_t> head(kMaxTestBytes);
    const int32_t n = Stream.Read(head.data(), kMaxTestBytes);
    TIEMemStream block(head.data(), n > 0 ? n : 0);
    ReadHeader(block, h, nullptr, kMaxTestTokens);
    ok = h.kind != 0 && h.step == hsDone && h.width > 0 && h.height > 0;
  } catch (...) {
    ok = false;
  }
  Stream.SetPosition(pos);
  return ok;
}

void IEPNMRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly) {
  Params.PXMComments.clear();
  THeader h;
  ReadHeader(Stream, h, &Params.PXMComments, INT32_MAX);
  if (h.kind == 0 || h.step != hsDone || h.width <= 0 || h.height <= 0) {
    Progress.Abort();
    return;
  }
  Params.FreeColorMap();
  Params.Width = Params.StoredWidth = h.width;
  Params.Height = Params.StoredHeight = h.height;
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  const bool binary = h.kind == '5' || h.kind == '6';
  const bool wide = binary && h.maximum > 255;  // two bytes a sample
  const bool colour = h.kind == '3' || h.kind == '6';
  Params.BitsPerSample = h.kind == '1' || h.kind == '4' ? 1 : wide ? 16 : 8;
  Params.SamplesPerPixel = colour ? 3 : 1;
  if (h.maximum <= 0 || h.maximum > kMaxSample) {
    Progress.Abort();
    return;
  }
  if (ParamsOnly) return;

  // every sample takes at least one byte (a character or a binary sample) of what is left
  const int samples = colour ? 3 : 1;
  const int64_t left = Stream.GetSize() - Stream.GetPosition();
  uint64_t need = uint64_t(h.width) * uint64_t(h.height) * uint64_t(samples) * (wide ? 2 : 1);
  if (h.kind == '4') need = uint64_t((h.width + 7) / 8) * uint64_t(h.height);
  if (!IEImageSizeAllowed(h.width, h.height) || need > uint64_t(left > 0 ? left : 0)) {
    Progress.Abort();
    return;
  }
  const bool native = Params.IsNativePixelFormat && wide;
  TIEPixelFormat format = ie24RGB;
  if (h.kind == '1' || h.kind == '4') format = ie1g;
  else if (native) format = colour ? ieRGB48 : ie16g;
  if (!Bitmap.Allocate(h.width, h.height, format)) {
    Progress.Abort();
    return;
  }
  const int w = h.width, max = h.maximum;
  Progress.Val = 0;
  Progress.Per1 = 100.0 / h.height;
  std::string t;
  std::vector<uint8_t> raw;
  if (h.kind == '4') raw.resize(size_t((w + 7) / 8));
  else if (h.kind == '5' || h.kind == '6') raw.resize(size_t(w) * samples * (wide ? 2 : 1));
  for (int y = 0; y < h.height; ++y) {
    uint8_t* row = Bitmap.GetRowAddress(y);
    switch (h.kind) {
      case '1':
        for (int x = 0; x < w;) {
          uint8_t c;
          if (!ReadByte(Stream, c)) {
            Progress.Abort();
            return;
          }
          if (c == '0' || c == '1') IESetRowBit(row, x++, c == '0');
        }
        break;
      case '2':
      case '3':
        for (int x = 0; x < w; ++x) {
          int v[3];
          for (int k = 0; k < samples; ++k) {
            IEPNMReadToken(Stream, t);
            if (t.empty()) {
              Progress.Abort();
              return;
            }
            v[k] = IEMax(0, IEStrToIntDef(t, 0));  // a comment in the raster counts as 0
          }
          if (!colour) v[1] = v[2] = v[0];
          row[3 * x] = uint8_t(Scale(v[2], max, 255));
          row[3 * x + 1] = uint8_t(Scale(v[1], max, 255));
          row[3 * x + 2] = uint8_t(Scale(v[0], max, 255));
        }
        break;
      case '4':
        if (!ReadRow(Stream, Progress, raw)) return;
        std::memcpy(row, raw.data(), raw.size());
        break;
      default: {  // '5' and '6'
        if (!ReadRow(Stream, Progress, raw)) return;
        const uint8_t* r = raw.data();
        if (!wide) {
          for (int x = 0; x < w; ++x) {
            uint8_t* d = row + 3 * x;
            if (colour) {
              d[2] = uint8_t(Scale(r[3 * x], max, 255));
              d[1] = uint8_t(Scale(r[3 * x + 1], max, 255));
              d[0] = uint8_t(Scale(r[3 * x + 2], max, 255));
            } else {
              d[0] = d[1] = d[2] = uint8_t(Scale(r[x], max, 255));
            }
          }
        } else if (native) {
          uint16_t* d = reinterpret_cast<uint16_t*>(row);
          for (int i = 0; i < w * samples; ++i) d[i] = uint16_t(Scale(IEReadU16BE(r + 2 * i), max, 65535));
        } else {
          for (int x = 0; x < w; ++x) {
            uint8_t* d = row + 3 * x;
            if (colour) {
              d[2] = uint8_t(Scale(IEReadU16BE(r + 6 * x), max, 255));
              d[1] = uint8_t(Scale(IEReadU16BE(r + 6 * x + 2), max, 255));
              d[0] = uint8_t(Scale(IEReadU16BE(r + 6 * x + 4), max, 255));
            } else {
              d[0] = d[1] = d[2] = uint8_t(Scale(IEReadU16BE(r + 2 * x), max, 255));
            }
          }
        }
        break;
      }
    }
    ++Progress.Val;
    Progress.Report(int(Progress.Val * Progress.Per1));
    if (Progress.Aborted()) return;
  }
  if (h.kind == '4') IEInvertBitmapBits(&Bitmap);
}

void IEPNMWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress) {
  const TIEPixelFormat f = Bitmap.GetPixelFormat();
  const int bits = Params.BitsPerSample, spp = Params.SamplesPerPixel;
  enum { kP4, kP5, kP6Wide, kP6From48, kP6, kNone } form = kNone;
  if ((bits == 1 && spp == 1) || f == ie1g) form = kP4;
  else if (bits == 8 && spp == 1) form = kP5;
  else if (bits == 16 && spp == 3 && f == ie24RGB) form = kP6Wide;
  else if (f == ieRGB48) form = kP6From48;
  else if ((bits == 8 && spp == 3) || f == ie24RGB) form = kP6;
  if (form == kNone || Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0) {
    Progress.Abort();
    return;
  }
  // the rows come from ie1g (P4), ieRGB48 (its own case) or ie24RGB; other bitmaps through a copy
  const TIEPixelFormat want = form == kP4 ? ie1g : form == kP6From48 ? ieRGB48 : ie24RGB;
  TIEWriterSource src(Bitmap, want);
  TIEBitmap& b = *src.get();
  const int w = b.GetImageWidth(), h = b.GetImageHeight();
  std::atomic<bool> localAbort{false};
  std::atomic<bool>& ab = Progress.Aborting ? *Progress.Aborting : localAbort;

  std::string header = form == kP4 ? "P4 " : form == kP5 ? "P5 " : "P6 ";
  for (const std::string& c : Params.PXMComments) header += "\n# " + c + "\n";
  header += std::to_string(w) + " " + std::to_string(h);
  header += form == kP4 ? "" : form == kP6Wide || form == kP6From48 ? " 65535" : " 255";
  header += "\n";
  WriteText(Stream, ab, header);

  const size_t rowBytes = form == kP4 ? size_t((w + 7) / 8) : form == kP5 ? size_t(w) : size_t(w) * (form == kP6 ? 3 : 6);
  std::vector<uint8_t> out(rowBytes);
  for (int y = 0; y < h && !ab; ++y) {
    const uint8_t* r = b.GetRowAddress(y);
    switch (form) {
      case kP4:
        for (size_t i = 0; i < rowBytes; ++i) out[i] = uint8_t(~r[i]);
        break;
      case kP5:
        for (int x = 0; x < w; ++x) out[size_t(x)] = uint8_t(IERGBToGray(IEMakeRGB(r[3 * x + 2], r[3 * x + 1], r[3 * x])));
        break;
      case kP6Wide:
        for (int x = 0; x < w; ++x)
          for (int k = 0; k < 3; ++k) {
            const uint8_t v = r[3 * x + 2 - k];
            out[size_t(6 * x + 2 * k)] = v;  // v x 257, big-endian: both bytes are v
            out[size_t(6 * x + 2 * k + 1)] = v;
          }
        break;
      case kP6From48:
        for (int i = 0; i < 3 * w; ++i) {
          const uint16_t v = reinterpret_cast<const uint16_t*>(r)[i];
          out[size_t(2 * i)] = uint8_t(v >> 8);
          out[size_t(2 * i + 1)] = uint8_t(v);
        }
        break;
      default:
        for (int x = 0; x < w; ++x) {
          out[size_t(3 * x)] = r[3 * x + 2];
          out[size_t(3 * x + 1)] = r[3 * x + 1];
          out[size_t(3 * x + 2)] = r[3 * x];
        }
        break;
    }
    IEStreamWriteCheck(Stream, ab, out.data(), int32_t(rowBytes));
    Progress.Report(int(int64_t(y + 1) * 100 / h));
  }
}
