// The clipboard: text, raw buffers, nested open brackets, and bitmaps through their clipboard format.
#include <gtest/gtest.h>

#include "uiclipbrd.h"
#include "uiforms.h"

using namespace ui;

namespace {

TEST(ClipboardTest, TextRoundTripsAndTheTextBufferIsCutToItsSize) {
  TClipboard* cb = Clipboard();
  cb->SetAsText("Hello, clipboard");
  EXPECT_TRUE(cb->HasFormat(CF_TEXT));
  EXPECT_EQ("Hello, clipboard", cb->GetAsText());
  // The system's own reading of it.
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE h = GetClipboardData(CF_TEXT);
  ASSERT_NE(nullptr, h);
  EXPECT_STREQ("Hello, clipboard", static_cast<const char*>(GlobalLock(h)));
  GlobalUnlock(h);
  CloseClipboard();

  cb->SetTextBuf("abcdef");
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(3, cb->GetTextBuf(buf, sizeof buf));
  EXPECT_STREQ("abc", buf);
  cb->Clear();
  EXPECT_FALSE(cb->HasFormat(CF_TEXT));
  EXPECT_EQ("", cb->GetAsText());
}

TEST(ClipboardTest, FormatsPutInsideOneOpenBracketLandTogether) {
  TClipboard* cb = Clipboard();
  const UINT custom = RegisterClipboardFormatA("Tevarnic Test Bytes");
  const unsigned char bytes[5] = {1, 2, 3, 0, 5};
  cb->Open();
  cb->Open();  // nested
  cb->SetAsText("both");
  cb->SetBuffer(custom, bytes, sizeof bytes);
  cb->Close();
  cb->Close();
  EXPECT_EQ("both", cb->GetAsText());
  HANDLE h = cb->GetAsHandle(custom);
  ASSERT_NE(nullptr, h);
  ASSERT_GE(GlobalSize(h), sizeof bytes);
  EXPECT_EQ(0, memcmp(GlobalLock(h), bytes, sizeof bytes));
  GlobalUnlock(h);
  // Outside a bracket each put starts afresh.
  cb->SetBuffer(custom, bytes, 2);
  EXPECT_FALSE(cb->HasFormat(CF_TEXT));
  EXPECT_TRUE(cb->HasFormat(custom));
}

TEST(ClipboardTest, BitmapRoundTripsWithItsPixelsAndLoadsIntoAPicture) {
  TBitmap src;
  src.SetPixelFormat(pf24bit);
  src.SetSize(7, 5);
  const TColor colors[] = {clRed, clLime, clBlue, clYellow, clFuchsia};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) src.Canvas()->SetPixel(x, y, (x + y) % 2 ? colors[y] : clBlack);
  Clipboard()->Assign(&src);
  EXPECT_TRUE(Clipboard()->HasFormat(CF_BITMAP));

  TBitmap dst;
  dst.Assign(Clipboard());
  ASSERT_EQ(7, dst.GetWidth());
  ASSERT_EQ(5, dst.GetHeight());
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      EXPECT_EQ(ColorToRGB((x + y) % 2 ? colors[y] : clBlack), ColorToRGB(dst.Canvas()->GetPixel(x, y))) << x << "," << y;

  TPicture pic;
  pic.Assign(Clipboard());
  ASSERT_NE(nullptr, As<TBitmap>(pic.GetGraphic()));
  EXPECT_EQ(7, pic.Width());
  EXPECT_EQ(ColorToRGB(clBlue), ColorToRGB(pic.Bitmap()->Canvas()->GetPixel(1, 2)));
}

TEST(ClipboardTest, NothingAGraphicCanReadRaisesAndAnEmptyBitmapPutsNothing) {
  Clipboard()->SetAsText("not a picture");
  TPicture pic;
  EXPECT_THROW(pic.Assign(Clipboard()), EInvalidGraphic);
  TBitmap bmp;
  EXPECT_THROW(bmp.Assign(Clipboard()), EInvalidGraphic);
  TBitmap empty;
  Clipboard()->Assign(&empty);
  EXPECT_EQ("not a picture", Clipboard()->GetAsText());
}

}  // namespace
