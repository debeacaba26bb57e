// The stock frame pictures: listed by the library's start-up, freed by its shut-down, and each a PNG
// that the host's decoder reads at the listed size and colour type with its inner area inside.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostenv.h"
#include "iepresetim.h"
#include "vodevovur.h"

TEST(PresetImages, FourFramesLiveFromStartUpToShutDown) {
  ASSERT_NE(IEPresetImages, nullptr);  // the test environment started the library
  ASSERT_EQ(IEPresetImages->size(), 4u);
  struct Want { int w, h; const char* mode; int l, t, r, b; } want[] = {
      {162, 159, "RGBA", 18, 29, 140, 119},
      {112, 100, "RGB", 13, 1, 95, 98},
      {163, 108, "P", 30, 14, 147, 92},
      {150, 150, "P", 17, 17, 131, 131},
  };
  for (int i = 0; i < 4; ++i) {
    const TIEPresetImage* p = (*IEPresetImages)[size_t(i)];
    EXPECT_EQ(p->Format, 8);
    EXPECT_EQ(p->InnerLeft, want[i].l);
    EXPECT_EQ(p->InnerTop, want[i].t);
    EXPECT_EQ(p->InnerRight, want[i].r);
    EXPECT_EQ(p->InnerBottom, want[i].b);
    const std::string name = "preset" + std::to_string(i) + ".png";
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(name), p->Data, p->DataSize));
    std::string out;
    ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + name +
                                 "'); im.load(); print(im.size[0], im.size[1], im.mode)\"",
                             &out));
    EXPECT_EQ(out, std::to_string(want[i].w) + " " + std::to_string(want[i].h) + " " + want[i].mode + "\n");
    EXPECT_LT(want[i].r, want[i].w);
    EXPECT_LT(want[i].b, want[i].h);
  }
  // A nested start-up keeps the list; the last shut-down frees it and a new start-up builds it again.
  IELibraryStaticInit();
  IELibraryStaticFini();
  EXPECT_NE(IEPresetImages, nullptr);
  IELibraryStaticFini();
  EXPECT_EQ(IEPresetImages, nullptr);
  IELibraryStaticInit();
  ASSERT_NE(IEPresetImages, nullptr);
  EXPECT_EQ(IEPresetImages->size(), 4u);
}
