// Every cross-built dependency links into a 32-bit Windows exe and round-trips a small image under wine.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csetjmp>
#include <cstdint>
#include <vector>
#include <string>
#include <algorithm>
#include <zlib.h>
#include <png.h>
#include <jpeglib.h>
#include <openjpeg.h>
#include <libraw/libraw.h>

#include <gtest/gtest.h>

static_assert(JPEG_LIB_VERSION == 62, "libjpeg must expose the v6b API");
#define STR_(x) #x
#define STR(x) STR_(x)
static void report(const char* lib, const std::string& ver, bool ok, const std::string& what) {
  std::printf("%-9s %-22s %s\n", lib, ver.c_str(), what.c_str());
  EXPECT_TRUE(ok) << lib << " " << ver << ": " << what;
}
static std::vector<unsigned char> test_rgb(int w, int h) {  // smooth gradients: JPEG-friendly
  std::vector<unsigned char> p(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char* q = &p[(size_t(y) * w + x) * 3];
      q[0] = (unsigned char)(x * 255 / (w - 1)); q[1] = (unsigned char)(y * 255 / (h - 1)); q[2] = (unsigned char)((x + y) * 255 / (w + h - 2));
    }
  return p;
}

static void check_zlib() {
  std::vector<unsigned char> in(20000);
  for (size_t i = 0; i < in.size(); ++i) in[i] = (unsigned char)("image-"[i % 6] ^ (i / 997));
  uLongf clen = compressBound(in.size());
  std::vector<unsigned char> c(clen);
  bool ok = compress2(c.data(), &clen, in.data(), in.size(), 9) == Z_OK && clen < in.size() / 4;
  std::vector<unsigned char> out(in.size());
  uLongf olen = out.size();
  ok = ok && uncompress(out.data(), &olen, c.data(), clen) == Z_OK && olen == in.size() && out == in;
  report("zlib", zlibVersion(), ok, std::to_string(in.size()) + " -> " + std::to_string(clen) + " bytes, inflate identical");
}

static void check_png() {
  const int w = 13, h = 7;  // odd sizes exercise row padding
  std::vector<unsigned char> px(w * h * 4);
  for (size_t i = 0; i < px.size(); ++i) px[i] = (unsigned char)(i * 37 + 11);
  png_image img; std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION; img.width = w; img.height = h; img.format = PNG_FORMAT_RGBA;
  png_alloc_size_t len = 0;
  bool ok = png_image_write_to_memory(&img, nullptr, &len, 0, px.data(), 0, nullptr) && len > 8;
  std::vector<unsigned char> buf(len);
  ok = ok && png_image_write_to_memory(&img, buf.data(), &len, 0, px.data(), 0, nullptr);
  ok = ok && png_sig_cmp(buf.data(), 0, 8) == 0;
  png_image rd; std::memset(&rd, 0, sizeof rd); rd.version = PNG_IMAGE_VERSION;
  std::vector<unsigned char> back;
  if (ok && png_image_begin_read_from_memory(&rd, buf.data(), len)) {
    rd.format = PNG_FORMAT_RGBA;
    back.resize(PNG_IMAGE_SIZE(rd));
    ok = png_image_finish_read(&rd, nullptr, back.data(), 0, nullptr) && rd.width == w && rd.height == h && back == px;
  } else ok = false;
  report("libpng", png_get_libpng_ver(nullptr), ok, std::to_string(w) + "x" + std::to_string(h) + " RGBA, " + std::to_string(len) + " bytes, lossless round trip");
}

struct JErr { jpeg_error_mgr mgr; std::jmp_buf jb; char msg[JMSG_LENGTH_MAX]; };
static void jerr_exit(j_common_ptr c) { JErr* e = (JErr*)c->err; c->err->format_message(c, e->msg); std::longjmp(e->jb, 1); }
static void check_jpeg() {
  const int w = 48, h = 32;
  std::vector<unsigned char> px = test_rgb(w, h);
  unsigned char* mem = nullptr; unsigned long memlen = 0;
  JErr e{}; jpeg_compress_struct cc{}; jpeg_decompress_struct dc{};
  std::vector<unsigned char> out;
  bool ok = false; std::string what;
  cc.err = jpeg_std_error(&e.mgr); e.mgr.error_exit = jerr_exit;
  dc.err = cc.err;
  if (setjmp(e.jb) == 0) {
    jpeg_create_compress(&cc);  // fails with "Wrong JPEG library version" if header/lib disagree
    jpeg_mem_dest(&cc, &mem, &memlen);
    cc.image_width = w; cc.image_height = h; cc.input_components = 3; cc.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cc); jpeg_set_quality(&cc, 95, TRUE);
    jpeg_start_compress(&cc, TRUE);
    while (cc.next_scanline < cc.image_height) { JSAMPROW r = &px[cc.next_scanline * w * 3]; jpeg_write_scanlines(&cc, &r, 1); }
    jpeg_finish_compress(&cc);
    jpeg_create_decompress(&dc);
    jpeg_mem_src(&dc, mem, memlen);
    jpeg_read_header(&dc, TRUE);
    jpeg_start_decompress(&dc);
    out.resize(size_t(dc.output_width) * dc.output_height * dc.output_components);
    while (dc.output_scanline < dc.output_height) { JSAMPROW r = &out[dc.output_scanline * dc.output_width * 3]; jpeg_read_scanlines(&dc, &r, 1); }
    jpeg_finish_decompress(&dc);
    long sum = 0; int mx = 0;
    for (size_t i = 0; i < px.size() && out.size() == px.size(); ++i) { int d = std::abs(int(px[i]) - int(out[i])); sum += d; if (d > mx) mx = d; }
    double mean = out.size() == px.size() ? double(sum) / px.size() : 1e9;
    ok = (int)dc.output_width == w && (int)dc.output_height == h && dc.output_components == 3 && mean < 3.0 && mx < 40;
    char b[128]; std::snprintf(b, sizeof b, "%dx%d RGB q95, %lu bytes, mean |err| %.2f, max %d", w, h, memlen, mean, mx);
    what = b;
  } else what = std::string("libjpeg error: ") + e.msg;
  jpeg_destroy_compress(&cc); jpeg_destroy_decompress(&dc); std::free(mem);
  report("libjpeg", std::string(STR(LIBJPEG_TURBO_VERSION)) + " api " + std::to_string(JPEG_LIB_VERSION), ok, what);
}

struct MemStream { std::vector<unsigned char> d; size_t pos = 0; };
static OPJ_SIZE_T ms_write(void* b, OPJ_SIZE_T n, void* u) { auto* m = (MemStream*)u; if (m->pos + n > m->d.size()) m->d.resize(m->pos + n); std::memcpy(&m->d[m->pos], b, n); m->pos += n; return n; }
static OPJ_SIZE_T ms_read(void* b, OPJ_SIZE_T n, void* u) { auto* m = (MemStream*)u; if (m->pos >= m->d.size()) return (OPJ_SIZE_T)-1; n = std::min(n, m->d.size() - m->pos); std::memcpy(b, &m->d[m->pos], n); m->pos += n; return n; }
static OPJ_OFF_T ms_skip(OPJ_OFF_T n, void* u) { auto* m = (MemStream*)u; m->pos += n; return n; }
static OPJ_BOOL ms_seek(OPJ_OFF_T p, void* u) { auto* m = (MemStream*)u; m->pos = (size_t)p; return OPJ_TRUE; }
static void check_openjpeg() {
  const int w = 40, h = 24;
  std::vector<unsigned char> px = test_rgb(w, h);
  opj_image_cmptparm_t cp[3]; std::memset(cp, 0, sizeof cp);
  for (auto& c : cp) { c.dx = c.dy = 1; c.w = w; c.h = h; c.prec = 8; c.sgnd = 0; }
  opj_image_t* img = opj_image_create(3, cp, OPJ_CLRSPC_SRGB);
  img->x1 = w; img->y1 = h;
  for (int i = 0; i < w * h; ++i) for (int c = 0; c < 3; ++c) img->comps[c].data[i] = px[i * 3 + c];
  opj_cparameters_t par; opj_set_default_encoder_parameters(&par);  // default: reversible 5/3 = lossless
  par.tcp_numlayers = 1; par.tcp_rates[0] = 0; par.cp_disto_alloc = 1; par.numresolution = 3;
  MemStream ms;
  opj_codec_t* enc = opj_create_compress(OPJ_CODEC_JP2);
  opj_stream_t* os = opj_stream_default_create(OPJ_FALSE);
  opj_stream_set_user_data(os, &ms, nullptr);
  opj_stream_set_write_function(os, ms_write); opj_stream_set_skip_function(os, ms_skip); opj_stream_set_seek_function(os, ms_seek);
  bool ok = opj_setup_encoder(enc, &par, img) && opj_start_compress(enc, img, os) && opj_encode(enc, os) && opj_end_compress(enc, os);
  opj_stream_destroy(os); opj_destroy_codec(enc); opj_image_destroy(img);
  size_t enclen = ms.d.size();
  ok = ok && enclen > 12 && std::memcmp(&ms.d[4], "jP  ", 4) == 0;  // JP2 signature box
  opj_image_t* dec = nullptr;
  if (ok) {
    ms.pos = 0;
    opj_codec_t* dc = opj_create_decompress(OPJ_CODEC_JP2);
    opj_stream_t* is = opj_stream_default_create(OPJ_TRUE);
    opj_stream_set_user_data(is, &ms, nullptr); opj_stream_set_user_data_length(is, ms.d.size());
    opj_stream_set_read_function(is, ms_read); opj_stream_set_skip_function(is, ms_skip); opj_stream_set_seek_function(is, ms_seek);
    opj_dparameters_t dp; opj_set_default_decoder_parameters(&dp);
    ok = opj_setup_decoder(dc, &dp) && opj_read_header(is, dc, &dec) && opj_decode(dc, is, dec) && opj_end_decompress(dc, is);
    opj_stream_destroy(is); opj_destroy_codec(dc);
  }
  int diff = -1;
  if (ok && dec && dec->numcomps == 3 && (int)dec->comps[0].w == w && (int)dec->comps[0].h == h) {
    diff = 0;
    for (int i = 0; i < w * h; ++i) for (int c = 0; c < 3; ++c) diff += dec->comps[c].data[i] != px[i * 3 + c];
  }
  ok = ok && diff == 0;
  if (dec) opj_image_destroy(dec);
  report("openjp2", opj_version(), ok, std::to_string(w) + "x" + std::to_string(h) + " RGB JP2 lossless, " + std::to_string(enclen) + " bytes, " + std::to_string(diff) + " differing samples");
}

// Minimal uncompressed little-endian DNG: RGGB CFA, 12-bit data in 16-bit words.
struct Tiff {
  std::vector<unsigned char> b;
  void u16(unsigned v) { b.push_back(v & 255); b.push_back(v >> 8 & 255); }
  void u32(uint32_t v) { u16(v & 0xffff); u16(v >> 16); }
  void put32(size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = v >> (8 * i) & 255; }
};
static std::vector<unsigned char> make_dng(int w, int h, unsigned top, unsigned bottom) {
  struct E { uint16_t tag, type; uint32_t count; std::vector<unsigned char> data; };
  auto le = [](std::initializer_list<uint32_t> v, int sz) { std::vector<unsigned char> o; for (uint32_t x : v) for (int i = 0; i < sz; ++i) o.push_back(x >> (8 * i) & 255); return o; };
  auto ascii = [](const char* s) { std::vector<unsigned char> o(s, s + std::strlen(s) + 1); return o; };
  std::vector<unsigned char> cm;  // ColorMatrix1: XYZ->sRGB(D65), i.e. "camera == linear sRGB"
  const int m[9] = {32406, -15372, -4986, -9689, 18758, 415, 557, -2040, 10570};
  for (int v : m) { auto a = le({(uint32_t)v, 10000u}, 4); cm.insert(cm.end(), a.begin(), a.end()); }
  const uint32_t datalen = uint32_t(w) * h * 2;
  std::vector<E> e = {
    {254, 4, 1, le({0}, 4)}, {256, 4, 1, le({(uint32_t)w}, 4)}, {257, 4, 1, le({(uint32_t)h}, 4)},
    {258, 3, 1, le({16}, 2)}, {259, 3, 1, le({1}, 2)}, {262, 3, 1, le({32803}, 2)},
    {271, 2, 9, ascii("Testmake")}, {272, 2, 8, ascii("Testcam")}, {273, 4, 1, le({0}, 4)},
    {277, 3, 1, le({1}, 2)}, {278, 4, 1, le({(uint32_t)h}, 4)}, {279, 4, 1, le({datalen}, 4)},
    {284, 3, 1, le({1}, 2)}, {33421, 3, 2, le({2, 2}, 2)}, {33422, 1, 4, le({0, 1, 1, 2}, 1)},
    {50706, 1, 4, le({1, 4, 0, 0}, 1)}, {50708, 2, 17, ascii("Testmake Testcam")},
    {50717, 4, 1, le({4095}, 4)}, {50721, 10, 9, cm}, {50728, 5, 3, le({1, 1, 1, 1, 1, 1}, 4)},
    {50778, 3, 1, le({21}, 2)},
  };
  Tiff t; t.b = {'I', 'I', 42, 0}; t.u32(8);
  t.u16((unsigned)e.size());
  size_t extra = 8 + 2 + e.size() * 12 + 4, strip_field = 0;
  std::vector<std::pair<size_t, size_t>> fix;  // (offset field position, index)
  for (size_t i = 0; i < e.size(); ++i) {
    t.u16(e[i].tag); t.u16(e[i].type); t.u32(e[i].count);
    if (e[i].tag == 273) strip_field = t.b.size();
    if (e[i].data.size() <= 4) { auto d = e[i].data; d.resize(4, 0); t.b.insert(t.b.end(), d.begin(), d.end()); }
    else { fix.push_back({t.b.size(), i}); t.u32(0); }
  }
  t.u32(0);  // no next IFD
  for (auto& f : fix) { t.put32(f.first, (uint32_t)t.b.size()); auto& d = e[f.second].data; t.b.insert(t.b.end(), d.begin(), d.end()); if (t.b.size() & 1) t.b.push_back(0); }
  (void)extra;
  t.put32(strip_field, (uint32_t)t.b.size());
  for (int y = 0; y < h; ++y) for (int x = 0; x < w; ++x) t.u16(y < h / 2 ? top : bottom);
  return t.b;
}
static void check_libraw() {
  const int w = 64, h = 64; const unsigned top = 600, bottom = 1800;
  std::vector<unsigned char> dng = make_dng(w, h, top, bottom);
  LibRaw* rp = new LibRaw;  // big object: keep it off the stack
  std::string what; bool ok = false;
  int r = rp->open_buffer(dng.data(), dng.size());
  if (r == LIBRAW_SUCCESS) r = rp->unpack();
  if (r == LIBRAW_SUCCESS) {
    const auto& s = rp->imgdata.sizes;
    const unsigned short* raw = rp->imgdata.rawdata.raw_image;
    bool raw_ok = s.raw_width == w && s.raw_height == h && raw && raw[0] == top && raw[(h - 1) * s.raw_pitch / 2 + w - 1] == bottom
                  && rp->imgdata.idata.filters != 0 && rp->imgdata.color.maximum == 4095;
    rp->imgdata.params.use_camera_wb = 1; rp->imgdata.params.no_auto_bright = 1; rp->imgdata.params.output_bps = 8;
    r = rp->dcraw_process();
    libraw_processed_image_t* im = r == LIBRAW_SUCCESS ? rp->dcraw_make_mem_image(&r) : nullptr;
    if (im) {
      auto at = [&](int x, int y, int c) { return (int)im->data[(size_t(y) * im->width + x) * 3 + c]; };
      int t0 = at(w / 2, h / 4, 0), t1 = at(w / 2, h / 4, 1), t2 = at(w / 2, h / 4, 2);
      int b0 = at(w / 2, 3 * h / 4, 0), b1 = at(w / 2, 3 * h / 4, 1), b2 = at(w / 2, 3 * h / 4, 2);
      auto neutral = [](int a, int b, int c) { return std::abs(a - b) <= 3 && std::abs(c - b) <= 3; };
      ok = raw_ok && im->type == LIBRAW_IMAGE_BITMAP && im->colors == 3 && im->bits == 8 && im->width == w && im->height == h
           && neutral(t0, t1, t2) && neutral(b0, b1, b2) && t1 > 10 && b1 > t1 + 40 && b1 < 255;
      char buf[160]; std::snprintf(buf, sizeof buf, "%dx%d DNG -> %dx%d RGB8, grey rows %d,%d,%d / %d,%d,%d", w, h, im->width, im->height, t0, t1, t2, b0, b1, b2);
      what = buf;
      LibRaw::dcraw_clear_mem(im);
    }
  }
  if (r != LIBRAW_SUCCESS) what = std::string("libraw error: ") + libraw_strerror(r);
  delete rp;
  report("libraw", LibRaw::version(), ok, what);
}

TEST(Dependencies, ZlibRoundTrip) { check_zlib(); }
TEST(Dependencies, LibpngRoundTrip) { check_png(); }
TEST(Dependencies, LibjpegV62RoundTrip) { check_jpeg(); }
TEST(Dependencies, OpenJpegLossless) { check_openjpeg(); }
TEST(Dependencies, LibrawDecodesDng) { check_libraw(); }
