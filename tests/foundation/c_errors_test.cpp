// Errors out of libjpeg and libpng: both report through callbacks that must not return. A C++
// exception cannot unwind through their C frames with this compiler's unwinder, so the project's rule
// is setjmp in the wrapper and longjmp in the callback; the frame that calls setjmp holds no C++
// object with a destructor, and the wrapper turns the jump into an ordinary error result.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include <gtest/gtest.h>

namespace {

struct DecodeResult {
  bool ok = false;
  int width = 0, height = 0;
  std::string error;
};

// --- libjpeg
struct JpegErr {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  JpegErr* e = reinterpret_cast<JpegErr*>(cinfo->err);
  cinfo->err->format_message(cinfo, e->message);
  std::longjmp(e->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

// Decodes to nothing but the size; every row is read so data errors surface too.
DecodeResult DecodeJpeg(const unsigned char* data, size_t size) {
  DecodeResult r;
  jpeg_decompress_struct cinfo;
  JpegErr err;
  JSAMPLE* row = nullptr;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegSilence;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    delete[] row;
    r.error = err.message;
    return r;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  row = new JSAMPLE[size_t(cinfo.output_width) * cinfo.output_components];
  while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, &row, 1);
  jpeg_finish_decompress(&cinfo);
  r.width = int(cinfo.output_width);
  r.height = int(cinfo.output_height);
  jpeg_destroy_decompress(&cinfo);
  delete[] row;
  r.ok = true;
  return r;
}

std::vector<unsigned char> EncodeJpeg(int w, int h) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* mem = nullptr;
  unsigned long len = 0;
  jpeg_mem_dest(&cinfo, &mem, &len);
  cinfo.image_width = JDIMENSION(w);
  cinfo.image_height = JDIMENSION(h);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(size_t(w) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < w; ++x) row[size_t(x) * 3] = JSAMPLE(x * 7 + cinfo.next_scanline);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<unsigned char> out(mem, mem + len);
  jpeg_destroy_compress(&cinfo);
  free(mem);
  return out;
}

// --- libpng
struct PngErr {
  std::jmp_buf jump;
  char message[256];
};

void PngError(png_structp png, png_const_charp msg) {
  PngErr* e = static_cast<PngErr*>(png_get_error_ptr(png));
  std::snprintf(e->message, sizeof e->message, "%s", msg);
  std::longjmp(e->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

struct MemReader {
  const unsigned char* data;
  size_t size, pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t n) {
  MemReader* m = static_cast<MemReader*>(png_get_io_ptr(png));
  if (n > m->size - m->pos) png_error(png, "read past the end of the data");
  std::memcpy(out, m->data + m->pos, n);
  m->pos += n;
}

DecodeResult DecodePng(const unsigned char* data, size_t size) {
  DecodeResult r;
  PngErr err;
  MemReader reader{data, size, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  png_bytep row = nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    r.error = "out of memory";
    return r;
  }
  if (setjmp(err.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    delete[] row;
    r.error = err.message;
    return r;
  }
  png_set_read_fn(png, &reader, PngRead);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_read_update_info(png, info);
  r.width = int(png_get_image_width(png, info));
  r.height = int(png_get_image_height(png, info));
  row = new png_byte[png_get_rowbytes(png, info)];
  for (int y = 0; y < r.height; ++y) png_read_row(png, row, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  delete[] row;
  r.ok = true;
  return r;
}

std::vector<unsigned char> EncodePng(int w, int h) {
  std::vector<unsigned char> px(size_t(w) * h * 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<unsigned char>(i * 131 + (i >> 7));
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = png_uint_32(w);
  img.height = png_uint_32(h);
  img.format = PNG_FORMAT_RGB;
  png_alloc_size_t len = 0;
  png_image_write_to_memory(&img, nullptr, &len, 0, px.data(), 0, nullptr);
  std::vector<unsigned char> out(len);
  png_image_write_to_memory(&img, out.data(), &len, 0, px.data(), 0, nullptr);
  out.resize(len);
  return out;
}

size_t FindChunk(const std::vector<unsigned char>& png, const char* type) {
  for (size_t i = 8; i + 8 <= png.size();) {
    size_t len = size_t(png[i]) << 24 | size_t(png[i + 1]) << 16 | size_t(png[i + 2]) << 8 | png[i + 3];
    if (std::memcmp(&png[i + 4], type, 4) == 0) return i;
    i += 12 + len;
  }
  return std::string::npos;
}

}  // namespace

TEST(CLibraryErrors, JpegGoodThenBadInputs) {
  std::vector<unsigned char> good = EncodeJpeg(64, 48);
  DecodeResult ok = DecodeJpeg(good.data(), good.size());
  ASSERT_TRUE(ok.ok) << ok.error;
  EXPECT_EQ(ok.width, 64);
  EXPECT_EQ(ok.height, 48);

  const unsigned char notJpeg[] = "GIF89a this is not a jpeg stream at all";
  DecodeResult bad = DecodeJpeg(notJpeg, sizeof notJpeg);
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("JPEG"), std::string::npos) << bad.error;

  // Cut inside the headers: the library gives up with an error, not a crash.
  for (size_t cut : {size_t(2), size_t(20), size_t(100)}) {
    DecodeResult t = DecodeJpeg(good.data(), cut);
    EXPECT_FALSE(t.ok) << "cut at " << cut;
    EXPECT_FALSE(t.error.empty());
  }
  // The library still works after an error was jumped out of.
  EXPECT_TRUE(DecodeJpeg(good.data(), good.size()).ok);
}

TEST(CLibraryErrors, PngCorruptAndTruncated) {
  std::vector<unsigned char> good = EncodePng(33, 17);
  DecodeResult ok = DecodePng(good.data(), good.size());
  ASSERT_TRUE(ok.ok) << ok.error;
  EXPECT_EQ(ok.width, 33);

  std::vector<unsigned char> badCrc = good;
  size_t idat = FindChunk(badCrc, "IDAT");
  ASSERT_NE(idat, std::string::npos);
  badCrc[idat + 8] ^= 0x55;  // first byte of the deflate stream: zlib refuses it before the CRC is read
  DecodeResult c = DecodePng(badCrc.data(), badCrc.size());
  EXPECT_FALSE(c.ok);
  EXPECT_NE(c.error.find("IDAT"), std::string::npos) << c.error;

  DecodeResult t = DecodePng(good.data(), idat + 20);
  EXPECT_FALSE(t.ok);
  EXPECT_FALSE(t.error.empty());

  EXPECT_TRUE(DecodePng(good.data(), good.size()).ok);
}
