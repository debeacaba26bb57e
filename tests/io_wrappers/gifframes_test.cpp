// Frames of animated GIFs as they are shown, held against ImageMagick's coalesced frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class GIFFrames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    iotest::Host("/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/io_wrappers/make_gifs.py\" && "
                 "/usr/bin/convert -dispose none -delay 10 -size 40x30 xc:none -fill '#ff0000' "
                 "-draw 'rectangle 2,2 20,15' -dispose background -page 40x30+5+4 -size 10x8 xc:'#0000ff' "
                 "-dispose none -page 40x30+20+10 \\( -size 12x12 xc:none -fill '#00ff00' -draw 'circle 6,6 6,1' \\) "
                 "-page 40x30+0+0 \\( -size 40x30 xc:none -fill '#ffff00' -draw 'rectangle 30,20 38,28' \\) "
                 "-loop 0 im_anim.gif");
  }
};

TEST_F(GIFFrames, EachFrameEqualsTheCoalescedFrame) {
  struct Case {
    const char* file;
    int frames, width, height;
  };
  const Case kCases[] = {{"im_anim.gif", 4, 40, 30}, {"pil_anim.gif", 5, 48, 36}};
  for (const Case& c : kCases) {
    const std::string base = std::string(c.file).substr(0, std::string(c.file).find('.'));
    iotest::Host(std::string("/usr/bin/convert ") + c.file + " -coalesce -depth 8 rgba:" + base + "_%d.rgba");
    for (int k = 0; k < c.frames; ++k) {
      SCOPED_TRACE(std::string(c.file) + " frame " + std::to_string(k));
      std::vector<unsigned char> ref;
      ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(base + "_" + std::to_string(k) + ".rgba"), ref));
      ASSERT_EQ(size_t(c.width) * c.height * 4, ref.size());
      TImageryIO io;
      io.Params.GIFImageIndex = k;
      io.LoadByExtension(Wide(tq::WorkFile(c.file)));
      ASSERT_FALSE(io.Aborting);
      EXPECT_EQ(c.frames, io.Params.GIFImageCount);
      TIEBitmap& b = *io.GetIEBitmap();
      ASSERT_EQ(c.width, b.GetImageWidth());
      ASSERT_EQ(c.height, b.GetImageHeight());
      ASSERT_TRUE(b.AlphaPresent());
      EXPECT_EQ(2, io.Params.GIFAction);  // the parameters describe the composite
      EXPECT_EQ(0, io.Params.GIFXPos);
      EXPECT_EQ(0, io.Params.GIFYPos);
      int wrongAlpha = 0, wrongColour = 0;
      for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
          const unsigned char* r = &ref[(size_t(y) * c.width + x) * 4];
          const uint8_t a = b.GetAlphaAt(x, y);
          if (a != r[3]) ++wrongAlpha;
          const TIERGB px = b.GetPixelRGB(x, y);
          if (r[3] == 255 && (px.r != r[0] || px.g != r[1] || px.b != r[2])) ++wrongColour;
        }
      EXPECT_EQ(0, wrongAlpha);
      EXPECT_EQ(0, wrongColour);
    }
  }
}

TEST_F(GIFFrames, AScreenTooLargeForACanvasIsRefused) {
  // two 1 x 1 frames on a 65535 x 65535 screen: composing them would need a 12 GB canvas
  for (int k : {0, 1}) {
    TImageryIO io;
    io.Params.GIFImageIndex = k;
    int finished = 0;
    io.OnFinishWork = [&](void*) { ++finished; };
    io.LoadByExtension(Wide(tq::WorkFile("huge_screen.gif")));
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(1, finished);
  }
}

}  // namespace
