// The tests check our output with the host's independent decoders: prove the bridge to them works.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <gtest/gtest.h>

#include "hostenv.h"

TEST(HostTools, PathsMapBothWays) {
  ASSERT_TRUE(tq::UnderWine());
  std::string work = tq::WorkDir();
  std::string upath = tq::UnixPath(work);
  ASSERT_FALSE(upath.empty());
  EXPECT_EQ(upath[0], '/');
  EXPECT_EQ(tq::UnixPath(tq::WinPath(upath)), upath);
  std::vector<unsigned char> cm;
  EXPECT_TRUE(tq::ReadFileBytes(tq::SourceDir() + "\\CMakeLists.txt", cm));
}

TEST(HostTools, ExitCodeAndOutput) {
  std::string out;
  EXPECT_EQ(tq::RunHost("echo hello; exit 3", &out), 3);
  EXPECT_EQ(out, "hello\n");
  EXPECT_EQ(tq::RunHost("printf %s " + tq::ShellQuote("it's"), &out), 0);
  EXPECT_EQ(out, "it's");
}

// A JPEG made by the cross-built libjpeg, decoded by the host's djpeg into a PPM of the same size.
TEST(HostTools, HostDecoderReadsOurJpeg) {
  jpeg_compress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long len = 0;
  jpeg_mem_dest(&c, &mem, &len);
  c.image_width = 40;
  c.image_height = 30;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(40 * 3);
  for (int x = 0; x < 40; ++x) { row[x * 3] = 200; row[x * 3 + 1] = 40; row[x * 3 + 2] = 90; }
  while (c.next_scanline < c.image_height) {
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("host.jpg"), mem, len));
  jpeg_destroy_compress(&c);
  free(mem);

  std::string out;
  ASSERT_EQ(tq::RunHost("djpeg -pnm host.jpg | /usr/bin/python3 -c "
                        "\"import sys; from PIL import Image; im=Image.open(sys.stdin.buffer); "
                        "print(im.size[0], im.size[1], *im.getpixel((20, 15)))\"",
                        &out),
            0)
      << out;
  int w = 0, h = 0, r = 0, g = 0, b = 0;
  ASSERT_EQ(std::sscanf(out.c_str(), "%d %d %d %d %d", &w, &h, &r, &g, &b), 5) << out;
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  EXPECT_NEAR(r, 200, 3);
  EXPECT_NEAR(g, 40, 3);
  EXPECT_NEAR(b, 90, 3);
}
