// PNG writing. As in the reader, libpng's error callback jumps back to the frame that called setjmp
// (EncodePNG); everything that needs freeing lives in TPNGWriteState, and the encoding is decided and
// prepared before libpng runs.
#include "pngfiltw.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "iecodeccommon.h"
#include "iecolorreduction.h"
#include "iedeflate.h"
#include "iequantizer.h"
#include "ieutils.h"
#include "uisysutils.h"

namespace {

constexpr int kPaletteSize = 256;
constexpr int32_t kWriteChunk = 1 << 30;
// Output of deflate between two calls of the write routine: larger blocks mean fewer stream writes.
constexpr png_size_t kCompressionBuffer = 1 << 16;
// libpng's limit on a text keyword
constexpr size_t kMaxKeywordLength = 79;
// Filtered image data up to this size is compressed in one piece by libdeflate (much faster than
// zlib's stream); a larger image, or an interlaced one, goes row by row through libpng.
constexpr uint64_t kMaxWholeImageData = uint64_t(96) << 20;
// IDAT chunks of the whole-image path hold at most this much compressed data each.
constexpr size_t kIDATChunk = size_t(1) << 20;

// How one output row is made from the image (and the alpha mask).
enum TRowKind {
  rkGrey1,         // the ie1g row as it is
  rkRGB,           // the ie24RGB row as it is (libpng takes B, G, R)
  rkRGBA,          // B, G, R from the image, A from the mask
  rkOwnIndex,      // the ie8p row's indexes as they are
  rkQuantIndex,    // the quantizer's index of each pixel
  rkMaskedIndex,   // quantizer index + 1 where the mask is 255, 0 elsewhere
  rkGrey8,         // each pixel's grey level
  rkGrey16,        // each pixel's 16-bit grey, little-endian (libpng swaps)
};

struct TPNGWriteState {
  TIEStream* stream = nullptr;
  TIECodecProgress* progress = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::exception_ptr streamError;  // raised by the stream inside the write callback
  std::jmp_buf jump;

  std::unique_ptr<TIEBitmap> copy;  // a converted copy of the caller's bitmap, when one was needed
  std::unique_ptr<TIEQuantizer> quantizer;
  TIEBitmap* image = nullptr;
  TIEBitmap* alpha = nullptr;
  TRowKind kind = rkRGB;
  int width = 0, height = 0, depth = 8, colorType = PNG_COLOR_TYPE_RGB;
  bool interlaced = false;
  std::vector<png_color> palette;
  std::vector<png_byte> trans;
  bool hasBackground = false;
  png_color_16 background{};
  png_uint_32 ppmX = 0, ppmY = 0;
  int filter = PNG_FILTER_NONE;
  int level = 5;
  std::vector<std::string> keys, values;
  std::vector<png_text> texts;
  std::vector<uint8_t> row;
  bool whole = false;  // the rows go through WriteWholeImage, into these buffers
  std::vector<uint8_t> filtered, packed, prior;
};

void ErrorFn(png_structp png, png_const_charp) {
  TPNGWriteState* st = static_cast<TPNGWriteState*>(png_get_error_ptr(png));
  std::longjmp(st->jump, 1);
}

void WarningFn(png_structp, png_const_charp) {}

// A short write sets the abort flag and the rows stop; a stream that raises ends the write and its
// exception is raised again once libpng is left.
void WriteData(png_structp png, png_bytep data, png_size_t n) {
  TPNGWriteState* st = static_cast<TPNGWriteState*>(png_get_io_ptr(png));
  bool raised = false;
  try {
    while (n > 0) {
      const int32_t chunk = int32_t(n > png_size_t(kWriteChunk) ? png_size_t(kWriteChunk) : n);
      if (st->stream->Write(data, chunk) != chunk) {
        st->progress->Abort();
        return;
      }
      data += chunk;
      n -= png_size_t(chunk);
    }
  } catch (...) {
    st->streamError = std::current_exception();
    st->progress->Abort();
    raised = true;
  }
  if (raised) png_error(png, "stream error");
}

void FlushData(png_structp) {}

TIEBitmap* MakeCopy(TPNGWriteState& st, TIEBitmap& source, TIEPixelFormat format) {
  st.copy.reset(new TIEBitmap());
  st.copy->Assign(&source);
  st.copy->SetPixelFormat(format);
  return st.copy.get();
}

// An ie8p bitmap whose palette is the grey ramp: its indexes are grey levels.
bool IsGreyRamp(TIEBitmap& b) {
  if (b.GetPaletteCount() < kPaletteSize) return false;
  for (int i = 0; i < kPaletteSize; ++i) {
    const TIERGB c = b.GetPaletteEntry(i);
    if (c.r != i || c.g != i || c.b != i) return false;
  }
  return true;
}

bool AllOpaque(TIEBitmap& a) {
  for (int y = 0; y < a.GetImageHeight(); ++y) {
    const uint8_t* r = a.GetRowAddress(y);
    for (int x = 0; x < a.GetImageWidth(); ++x)
      if (r[x] != 255) return false;
  }
  return true;
}

png_color ToPNG(TIERGB c) {
  png_color p;
  p.red = c.r;
  p.green = c.g;
  p.blue = c.b;
  return p;
}

// Chooses the image, colour type, depth, palette and row kind; fills the chunks' values.
void Prepare(TPNGWriteState& st, TIEBitmap& bitmap, const TIOParamsVals& params, TIEBitmap* alphaMask) {
  // depths PNG has no grey or index form for are written as 8 bits; the caller's parameters keep
  // theirs, other writers read them
  int bits = params.BitsPerSample;
  if (params.SamplesPerPixel == 1 && bits != 1 && bits != 8 && bits != 16) bits = 8;
  const TIEPixelFormat source = bitmap.GetPixelFormat();
  const bool withAlpha = alphaMask && alphaMask->GetPixelFormat() == ie8g &&
                         alphaMask->GetImageWidth() == bitmap.GetImageWidth() &&
                         alphaMask->GetImageHeight() == bitmap.GetImageHeight() && !AllOpaque(*alphaMask);
  if (bits == 1) {
    st.image = &bitmap;
    if (source != ie1g) {
      TIERGB c0, c1;
      st.copy = IEConvertTwoColorTo1Bit(&bitmap, c0, c1);
      st.image = st.copy ? st.copy.get() : MakeCopy(st, bitmap, ie1g);
    }
    st.colorType = PNG_COLOR_TYPE_GRAY;
    st.depth = 1;
    st.kind = rkGrey1;
  } else if (params.SamplesPerPixel == 1) {
    st.image = &bitmap;
    if (source != ie8p && source != ie8g && source != ie16g && source != ie24RGB) st.image = MakeCopy(st, bitmap, ie24RGB);
    TIEBitmap& im = *st.image;
    const TIEPixelFormat f = im.GetPixelFormat();
    if (withAlpha) {
      // index 0 is the transparent background, the image's colours follow
      TIERGB colours[kPaletteSize - 1];
      st.quantizer.reset(new TIEQuantizer(&im, colours, kPaletteSize - 1));
      st.palette.push_back(ToPNG(params.PNGBackground));
      for (int i = 0; i < kPaletteSize - 1; ++i) st.palette.push_back(ToPNG(colours[i]));
      st.trans.push_back(0);
      st.alpha = alphaMask;
      st.colorType = PNG_COLOR_TYPE_PALETTE;
      st.depth = 8;
      st.kind = rkMaskedIndex;
      st.background.index = 0;
    } else if (f == ie8g || f == ie16g || (f == ie8p && IsGreyRamp(im)) || (f == ie24RGB && im.HasOnlyGrays())) {
      st.colorType = PNG_COLOR_TYPE_GRAY;
      st.depth = bits;
      st.kind = bits == 16 ? rkGrey16 : rkGrey8;
      const int g = IERGBToGray(params.PNGBackground);
      st.background.gray = png_uint_16(bits == 16 ? g * 257 : g);
    } else if (f == ie8p) {
      // any other palette, grey or not, is written as it is
      for (int i = 0; i < im.GetPaletteCount() && i < kPaletteSize; ++i) st.palette.push_back(ToPNG(im.GetPaletteEntry(i)));
      if (st.palette.empty()) st.palette.push_back(ToPNG(IEMakeRGB(0, 0, 0)));
      st.colorType = PNG_COLOR_TYPE_PALETTE;
      st.depth = 8;
      st.kind = rkOwnIndex;
      const TIERGB bg = params.PNGBackground;
      std::vector<TIERGB> own(size_t(im.GetPaletteCount()));
      for (size_t i = 0; i < own.size(); ++i) own[i] = im.GetPaletteEntry(int(i));
      st.background.index = png_byte(IENearestPaletteIndex(own.data(), int(own.size()), (uint32_t(bg.r) << 16) | (bg.g << 8) | bg.b));
    } else {
      // a colour image: at most 256 quantized colours, 8 bits also when 16 were asked
      TIERGB colours[kPaletteSize];
      st.quantizer.reset(new TIEQuantizer(&im, colours, kPaletteSize));
      const int n = IEMax(1, st.quantizer->EntryCount());
      for (int i = 0; i < n; ++i) st.palette.push_back(ToPNG(colours[i]));
      st.colorType = PNG_COLOR_TYPE_PALETTE;
      st.depth = 8;
      st.kind = rkQuantIndex;
      st.background.index = png_byte(st.quantizer->RGBToIndex(params.PNGBackground));
    }
  } else {
    st.image = source == ie24RGB ? &bitmap : MakeCopy(st, bitmap, ie24RGB);
    st.depth = 8;
    st.colorType = withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    st.kind = withAlpha ? rkRGBA : rkRGB;
    if (withAlpha) st.alpha = alphaMask;
    st.background.red = params.PNGBackground.r;
    st.background.green = params.PNGBackground.g;
    st.background.blue = params.PNGBackground.b;
  }
  st.hasBackground = st.depth > 1;
  st.width = st.image->GetImageWidth();
  st.height = st.image->GetImageHeight();
  st.interlaced = params.PNGInterlaced;
  st.ppmX = png_uint_32(IEMax(0, IERound(params.DpiX * 100 / 2.54)));
  st.ppmY = png_uint_32(IEMax(0, IERound(params.DpiY * 100 / 2.54)));
  st.filter = params.PNGFilter == 1 ? PNG_FILTER_SUB : params.PNGFilter == 2 ? PNG_FILTER_PAETH : PNG_FILTER_NONE;
  st.level = IEClamp(params.PNGCompression, 0, 9);
  const size_t n = IEMin(int(params.PNGTextKeys.size()), int(params.PNGTextValues.size()));
  for (size_t i = 0; i < n; ++i) {
    if (params.PNGTextKeys[i].empty()) continue;  // a keyword is required
    st.keys.push_back(params.PNGTextKeys[i].substr(0, kMaxKeywordLength));
    st.values.push_back(params.PNGTextValues[i]);
  }
  for (size_t i = 0; i < st.keys.size(); ++i) {
    png_text t{};
    t.compression = PNG_TEXT_COMPRESSION_NONE;
    t.key = &st.keys[i][0];
    t.text = &st.values[i][0];
    t.text_length = st.values[i].size();
    st.texts.push_back(t);
  }
  const int bytesPerPixel = st.kind == rkRGBA ? 4 : st.kind == rkRGB ? 3 : st.kind == rkGrey16 ? 2 : 1;
  st.row.resize(size_t(st.width) * size_t(bytesPerPixel) + 8);
}

TIERGB PixelOf(TIEBitmap& b, const uint8_t* row, int x, int y) {
  if (b.GetPixelFormat() == ie24RGB) return reinterpret_cast<const TIERGB*>(row)[x];
  return b.GetPixelRGB(x, y);
}

uint16_t Grey16Of(TIEBitmap& b, const uint8_t* row, int x) {
  switch (b.GetPixelFormat()) {
    case ie16g: return reinterpret_cast<const uint16_t*>(row)[x];
    case ie8g:
    case ie8p: return uint16_t(row[x] * 257);
    default: return uint16_t(row[3 * x + 2] * 257);  // ie24RGB of grey pixels: R = G = B
  }
}

// One output row into st.row. No object with a destructor: it runs between libpng calls.
void MakeRow(TPNGWriteState* st, int y) {
  TIEBitmap& b = *st->image;
  const uint8_t* src = b.GetRowAddress(y);
  uint8_t* out = st->row.data();
  const int w = st->width;
  switch (st->kind) {
    case rkGrey1: std::memcpy(out, src, size_t((w + 7) / 8)); break;
    case rkRGB: std::memcpy(out, src, size_t(w) * 3); break;
    case rkOwnIndex: std::memcpy(out, src, size_t(w)); break;
    case rkRGBA: {
      const uint8_t* a = st->alpha->GetRowAddress(y);
      for (int x = 0; x < w; ++x) {
        out[4 * x] = src[3 * x];
        out[4 * x + 1] = src[3 * x + 1];
        out[4 * x + 2] = src[3 * x + 2];
        out[4 * x + 3] = a[x];
      }
      break;
    }
    case rkQuantIndex:
      for (int x = 0; x < w; ++x) out[x] = uint8_t(st->quantizer->RGBToIndex(PixelOf(b, src, x, y)));
      break;
    case rkMaskedIndex: {
      const uint8_t* a = st->alpha->GetRowAddress(y);
      for (int x = 0; x < w; ++x)
        out[x] = a[x] == 255 ? uint8_t(IEMin(st->quantizer->RGBToIndex(PixelOf(b, src, x, y)) + 1, kPaletteSize - 1)) : 0;
      break;
    }
    case rkGrey8:
      for (int x = 0; x < w; ++x) out[x] = uint8_t(Grey16Of(b, src, x) >> 8);
      break;
    case rkGrey16:
      for (int x = 0; x < w; ++x) {
        const uint16_t v = Grey16Of(b, src, x);
        out[2 * x] = uint8_t(v);
        out[2 * x + 1] = uint8_t(v >> 8);
      }
      break;
  }
}

size_t RowBytes(const TPNGWriteState& st) {
  const int channels = st.colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : st.colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  return (size_t(st.width) * size_t(channels) * size_t(st.depth) + 7) / 8;
}

// st.row in the file's byte order: R, G, B (the bitmap holds B, G, R) and 16-bit samples big-endian.
void ToFileOrder(TPNGWriteState& st, size_t rowBytes) {
  uint8_t* r = st.row.data();
  if (st.colorType == PNG_COLOR_TYPE_RGB || st.colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
    const size_t step = st.colorType == PNG_COLOR_TYPE_RGB ? 3 : 4;
    for (size_t k = 0; k + 2 < rowBytes; k += step) std::swap(r[k], r[k + 2]);
  } else if (st.depth == 16) {
    for (size_t k = 0; k + 1 < rowBytes; k += 2) std::swap(r[k], r[k + 1]);
  }
}

int PaethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// One row with its filter byte into out: none, Sub or Paeth over `bpp`-byte pixels; `prior` is the
// unfiltered row above (zeros above the first).
void FilterRow(int filter, const uint8_t* row, const uint8_t* prior, size_t n, size_t bpp, uint8_t* out) {
  switch (filter) {
    case PNG_FILTER_SUB:
      *out++ = 1;
      for (size_t k = 0; k < n; ++k) out[k] = uint8_t(row[k] - (k >= bpp ? row[k - bpp] : 0));
      break;
    case PNG_FILTER_PAETH:
      *out++ = 4;
      for (size_t k = 0; k < bpp && k < n; ++k) out[k] = uint8_t(row[k] - prior[k]);
      for (size_t k = bpp; k < n; ++k) out[k] = uint8_t(row[k] - PaethPredictor(row[k - bpp], prior[k], prior[k - bpp]));
      break;
    default:
      *out++ = 0;
      std::memcpy(out, row, n);
  }
}

// Whether the image goes through WriteWholeImage: not interlaced, and its filtered data not too big
// to hold at once.
bool WholeImageFits(const TPNGWriteState& st) {
  return !st.interlaced && uint64_t(RowBytes(st) + 1) * uint64_t(st.height) <= kMaxWholeImageData;
}

// Every row filtered into one buffer, which libdeflate compresses as one zlib stream; the IDAT
// chunks and IEND follow. False when the caller aborted (nothing more is written). No object with a
// destructor may live here while libpng can jump out: the buffers belong to the state.
bool WriteWholeImage(TPNGWriteState* st, std::vector<uint8_t>& filtered, std::vector<uint8_t>& packed,
                     std::vector<uint8_t>& prior) {
  png_structp png = st->png;
  const size_t n = RowBytes(*st);
  const size_t bpp = IEMax(1, (st->colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : st->colorType == PNG_COLOR_TYPE_RGB ? 3 : 1) *
                                  st->depth / 8);
  TIECodecProgress& progress = *st->progress;
  for (int y = 0; y < st->height; ++y) {
    MakeRow(st, y);
    ToFileOrder(*st, n);
    FilterRow(st->filter, st->row.data(), prior.data(), n, bpp, filtered.data() + size_t(y) * (n + 1));
    std::memcpy(prior.data(), st->row.data(), n);
    ++progress.Val;
    progress.Report(int(progress.Val * progress.Per1));
    if (progress.Aborted()) return false;
  }
  bool compressed;
  {  // packed holds the bound already: nothing here can jump or leave memory behind
    TIEZlibCompressor z(st->level);
    compressed = z.Compress(filtered.data(), filtered.size(), packed);
  }
  if (!compressed) png_error(png, "compression failed");
  const size_t size = packed.size();
  for (size_t at = 0; at < size; at += kIDATChunk)
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), packed.data() + at, IEMin(kIDATChunk, size - at));
  png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
  return true;
}

// The frame that calls setjmp. False: libpng failed.
bool EncodePNG(TPNGWriteState* st) {
  if (setjmp(st->jump)) return false;
  png_structp png = st->png;
  png_infop info = st->info;
  png_set_write_fn(png, st, WriteData, FlushData);
  png_set_IHDR(png, info, png_uint_32(st->width), png_uint_32(st->height), st->depth, st->colorType,
               st->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!st->palette.empty()) png_set_PLTE(png, info, st->palette.data(), int(st->palette.size()));
  if (!st->trans.empty()) png_set_tRNS(png, info, st->trans.data(), int(st->trans.size()), nullptr);
  png_set_pHYs(png, info, st->ppmX, st->ppmY, PNG_RESOLUTION_METER);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, st->filter);
  if (st->hasBackground) png_set_bKGD(png, info, &st->background);
  png_set_compression_level(png, st->level);
  png_set_compression_buffer_size(png, kCompressionBuffer);
  if (!st->texts.empty()) png_set_text(png, info, st->texts.data(), int(st->texts.size()));
  png_write_info(png, info);
  TIECodecProgress& progress = *st->progress;
  progress.Val = 0;
  if (st->whole) {
    progress.Per1 = 100.0 / st->height;
    WriteWholeImage(st, st->filtered, st->packed, st->prior);
    return true;
  }
  if (st->colorType == PNG_COLOR_TYPE_RGB || st->colorType == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png);
  if (st->depth == 16) png_set_swap(png);
  const int passes = png_set_interlace_handling(png);
  progress.Per1 = 100.0 / (double(passes) * st->height);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < st->height; ++y) {
      MakeRow(st, y);
      png_write_row(png, st->row.data());
      ++progress.Val;
      progress.Report(int(progress.Val * progress.Per1));
      if (progress.Aborted()) return true;
    }
  png_write_end(png, info);
  return true;
}

}  // namespace

void IEPNGWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                TIEBitmap* AlphaMask) {
  if (Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0) {
    Progress.Abort();
    return;
  }
  TPNGWriteState st;
  st.stream = &Stream;
  st.progress = &Progress;
  Prepare(st, Bitmap, Params, AlphaMask);
  st.whole = WholeImageFits(st);
  if (st.whole) {
    try {  // sized before libpng runs: nothing may allocate once it can jump
      st.filtered.resize((RowBytes(st) + 1) * size_t(st.height));
      st.prior.assign(RowBytes(st), 0);
      st.packed.reserve(IEZlibCompressBound(st.filtered.size()));
    } catch (const std::bad_alloc&) {
      st.whole = false;
      st.filtered = std::vector<uint8_t>();
      st.packed = std::vector<uint8_t>();
      st.prior = std::vector<uint8_t>();
    }
  }
  st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &st, ErrorFn, WarningFn);
  st.info = st.png ? png_create_info_struct(st.png) : nullptr;
  bool ok = false;
  if (st.info) {
    try {
      ok = EncodePNG(&st);
    } catch (...) {
      png_destroy_write_struct(&st.png, &st.info);
      throw;
    }
  }
  png_destroy_write_struct(st.png ? &st.png : nullptr, st.info ? &st.info : nullptr);
  if (st.streamError) std::rethrow_exception(st.streamError);
  if (!ok) throw ui::EInvalidGraphic("Error on creating PNG");
}
