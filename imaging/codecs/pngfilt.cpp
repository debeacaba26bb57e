// PNG reading. libpng reports errors through a callback that must not return; a C++ exception cannot
// unwind through its C frames, so the callback jumps back to the frame that called setjmp
// (DecodePNG). Everything that has to be freed lives in TPNGReadState, owned by the caller of that
// frame, and no frame between setjmp and a libpng call holds an object with a destructor.
#include "pngfilt.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "iecodeccommon.h"
#include "ieutils.h"

namespace {

const uint8_t kSignature[4] = {137, 80, 78, 71};
// zlib's deflate never packs more than 1032 bytes into one compressed byte: an image whose rows
// need more than that many times the bytes left in the stream cannot be in the file.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr int32_t kReadChunk = 1 << 30;

struct TPNGReadState {
  TIEStream* stream = nullptr;
  TIEBitmap* bitmap = nullptr;
  TIOParamsVals* params = nullptr;
  TIECodecProgress* progress = nullptr;
  bool paramsOnly = false;
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t> buffer;  // 4-channel rows: one row, or every row of an interlaced image
  std::jmp_buf jump;
};

void ErrorFn(png_structp png, png_const_charp) {
  TPNGReadState* st = static_cast<TPNGReadState*>(png_get_error_ptr(png));
  std::longjmp(st->jump, 1);
}

void WarningFn(png_structp, png_const_charp) {}

// Delivers exactly n bytes or raises a libpng error; stream exceptions stop here, before libpng's
// frames.
void ReadData(png_structp png, png_bytep out, png_size_t n) {
  TPNGReadState* st = static_cast<TPNGReadState*>(png_get_io_ptr(png));
  bool ok = true;
  try {
    while (n > 0 && ok) {
      const int32_t want = int32_t(n > png_size_t(kReadChunk) ? png_size_t(kReadChunk) : n);
      ok = st->stream->Read(out, want) == want;
      out += want;
      n -= png_size_t(want);
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "unexpected end of data");
}

void CollectTexts(TPNGReadState* st) {
  TIOParamsVals& p = *st->params;
  p.PNGTextKeys.clear();
  p.PNGTextValues.clear();
  png_textp text = nullptr;
  const int n = png_get_text(st->png, st->info, &text, nullptr);
  for (int i = 0; i < n; ++i) {
    p.PNGTextKeys.push_back(text[i].key ? text[i].key : "");
    p.PNGTextValues.push_back(text[i].text ? text[i].text : "");
  }
}

// A bKGD value of the file's sample depth as an 8-bit level.
uint8_t BackgroundLevel(png_uint_16 v, int depth, bool grey) {
  if (depth == 16) return uint8_t(v >> 8);
  if (grey && depth < 8) {
    const int max = (1 << depth) - 1;
    return uint8_t(IEMin(int(v), max) * 255 / max);
  }
  return uint8_t(v);
}

// Header, transformations and parameters. False: the image is refused.
bool ReadHeader(TPNGReadState* st, int& passes) {
  png_structp png = st->png;
  png_infop info = st->info;
  TIOParamsVals& p = *st->params;
  png_uint_32 w = 0, h = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
  CollectTexts(st);
  png_color_16p bg = nullptr;
  if (png_get_valid(png, info, PNG_INFO_bKGD) && png_get_bKGD(png, info, &bg) && bg) {
    const bool grey = (colorType & PNG_COLOR_MASK_COLOR) == 0;
    const int bgDepth = colorType == PNG_COLOR_TYPE_PALETTE ? 8 : depth;
    p.PNGBackground = IEMakeRGB(BackgroundLevel(bg->red, bgDepth, grey), BackgroundLevel(bg->green, bgDepth, grey),
                                BackgroundLevel(bg->blue, bgDepth, grey));
  }
  const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
  const bool grey = colorType == PNG_COLOR_TYPE_GRAY;
  const bool native = p.IsNativePixelFormat && (palette || (grey && depth >= 8));
  const bool hasTRNS = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (native) {
    if (depth == 16) png_set_swap(png);
    if (depth < 8) png_set_packing(png);
  } else if (depth > 1 || palette) {
    // a 1-bit palette image is expanded as the deeper ones are, so that its tRNS gives alpha
    if (palette) png_set_palette_to_rgb(png);
    if (grey && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (depth == 16) png_set_strip_16(png);
    if (depth == 2 || depth == 4) png_set_packing(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (hasTRNS) png_set_tRNS_to_alpha(png);
  }
  const png_size_t fileRowBytes = png_get_rowbytes(png, info);
  passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  p.SetImageCount(1);
  p.Width = p.StoredWidth = int(w);
  p.Height = p.StoredHeight = int(h);
  p.BitsPerSample = depth;
  switch (colorType) {
    case PNG_COLOR_TYPE_RGB: p.SamplesPerPixel = 3; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: p.SamplesPerPixel = 2; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: p.SamplesPerPixel = 4; break;
    default: p.SamplesPerPixel = 1; break;
  }
  const int dpiX = IERound(png_get_x_pixels_per_meter(png, info) / 100.0 * 2.54);
  const int dpiY = IERound(png_get_y_pixels_per_meter(png, info) / 100.0 * 2.54);
  p.SetDpiX(dpiX ? dpiX : IEDefaultDPIX);
  p.SetDpiY(dpiY ? dpiY : IEDefaultDPIY);
  p.FreeColorMap();
  png_colorp pal = nullptr;
  int palCount = 0;
  if (palette && png_get_PLTE(png, info, &pal, &palCount) && palCount > 0) {
    p.ColorMap.resize(size_t(palCount));
    for (int i = 0; i < palCount; ++i) p.ColorMap[size_t(i)] = IEMakeRGB(pal[i].red, pal[i].green, pal[i].blue);
    p.ColorMapCount = palCount;
  }
  p.PNGInterlaced = interlace != PNG_INTERLACE_NONE;
  if (st->paramsOnly) return true;

  if (!IEImageSizeAllowed(w, h)) return false;
  const int64_t left = st->stream->GetSize() - st->stream->GetPosition();
  if (uint64_t(h) * (uint64_t(fileRowBytes) + 1) > uint64_t(left > 0 ? left : 0) * kMaxDeflateRatio + kMaxDeflateRatio)
    return false;

  TIEBitmap& b = *st->bitmap;
  TIEPixelFormat format = ie24RGB;
  if (grey && depth == 1 && !native) format = ie1g;
  else if (native && palette) format = ie8p;
  else if (native) format = depth == 16 ? ie16g : ie8g;
  if (!b.Allocate(int(w), int(h), format)) return false;
  if (format == ie8p) {
    const int entries = 1 << IEMin(depth, 8);
    for (int i = 0; i < entries; ++i)
      b.SetPaletteEntry(i, i < p.ColorMapCount ? p.ColorMap[size_t(i)] : IEMakeRGB(0, 0, 0));
  }
  // rows are read straight into the bitmap, except rows with alpha, which go through a buffer
  return png_get_channels(png, info) == 4 || png_get_rowbytes(png, info) <= png_size_t(b.GetRowLength());
}

// Rows of every pass, top row first. No object with a destructor lives here: png_read_row may jump.
void ReadRows(TPNGReadState* st, int passes) {
  png_structp png = st->png;
  TIEBitmap& b = *st->bitmap;
  const int w = b.GetImageWidth(), h = b.GetImageHeight();
  const bool split = png_get_channels(png, st->info) == 4;
  TIEBitmap* alpha = nullptr;
  if (split) {
    alpha = b.GetAlphaChannel();
    alpha->IsAll255 = false;
    const uint64_t bytes = uint64_t(w) * 4 * (passes > 1 ? uint64_t(h) : 1);
    if (bytes > SIZE_MAX) {
      st->progress->Abort();
      return;
    }
    st->buffer.resize(size_t(bytes));
  }
  TIERowProgress progress(*st->progress, h * passes);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < h; ++y) {
      if (split) {
        uint8_t* row = st->buffer.data() + (passes > 1 ? size_t(y) * size_t(w) * 4 : 0);
        png_read_row(png, row, nullptr);
        uint8_t* out = b.GetRowAddress(y);
        uint8_t* a = alpha->GetRowAddress(y);
        for (int x = 0; x < w; ++x) {
          out[3 * x] = row[4 * x];
          out[3 * x + 1] = row[4 * x + 1];
          out[3 * x + 2] = row[4 * x + 2];
          a[x] = row[4 * x + 3];
        }
      } else {
        png_read_row(png, b.GetRowAddress(y), nullptr);
      }
      progress.Step();
      if (st->progress->Aborted()) return;
    }
}

// A native palette image with tRNS: the alpha of each index.
void ApplyPaletteTransparency(TPNGReadState* st) {
  png_bytep trans = nullptr;
  int count = 0;
  if (!png_get_valid(st->png, st->info, PNG_INFO_tRNS) || !png_get_tRNS(st->png, st->info, &trans, &count, nullptr) ||
      !trans || count <= 0)
    return;
  TIEBitmap& b = *st->bitmap;
  TIEBitmap* alpha = b.GetAlphaChannel();
  alpha->IsAll255 = false;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    const uint8_t* ix = b.GetRowAddress(y);
    uint8_t* a = alpha->GetRowAddress(y);
    for (int x = 0; x < b.GetImageWidth(); ++x) a[x] = ix[x] < count ? trans[ix[x]] : 255;
  }
}

// The frame that calls setjmp. False: libpng failed or the image was refused.
bool DecodePNG(TPNGReadState* st) {
  if (setjmp(st->jump)) return false;
  png_set_read_fn(st->png, st, ReadData);
  png_set_user_limits(st->png, png_uint_32(kIEMaxImageDimension), png_uint_32(kIEMaxImageDimension));
  png_read_info(st->png, st->info);
  int passes = 1;
  if (!ReadHeader(st, passes)) return false;
  if (st->paramsOnly) return true;
  ReadRows(st, passes);
  if (st->progress->Aborted()) return true;
  if (st->bitmap->GetPixelFormat() == ie8p) ApplyPaletteTransparency(st);
  png_read_end(st->png, st->info);
  CollectTexts(st);  // text chunks after the image data too
  return true;
}

}  // namespace

bool IEPNGTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  uint8_t b[8];
  const bool ok = Stream.Read(b, 8) == 8 && std::memcmp(b, kSignature, 4) == 0;
  Stream.SetPosition(pos);
  return ok;
}

void IEPNGRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly) {
  TPNGReadState st;
  st.stream = &Stream;
  st.bitmap = &Bitmap;
  st.params = &Params;
  st.progress = &Progress;
  st.paramsOnly = ParamsOnly;
  st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &st, ErrorFn, WarningFn);
  st.info = st.png ? png_create_info_struct(st.png) : nullptr;
  bool ok = false;
  if (st.info) {
    try {
      ok = DecodePNG(&st);
    } catch (...) {
      ok = false;
    }
  }
  png_destroy_read_struct(st.png ? &st.png : nullptr, st.info ? &st.info : nullptr, nullptr);
  if (!ok) Progress.Abort();
}
