// The view's paint pipeline on a form under the display: what the X server shows (read with
// ImageMagick's import, outside Wine) equals the composed back buffer for every transfer, the buffer
// follows the window's size, and the private messages reach only what they are meant for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "ieblend.h"
#include "ieds.h"
#include "ielayer.h"
#include "ieviewglobals.h"
#include "imageryio.h"
#include "imageryview.h"
#include "uiforms.h"

using namespace ui;

namespace {

void Pump(int rounds = 5) {
  for (int i = 0; i < rounds; ++i) {
    Application->ProcessMessages();
    Sleep(10);
  }
}

// The whole X screen as read by ImageMagick: width, height and RGB bytes.
struct Shot {
  int w = 0, h = 0;
  std::vector<unsigned char> rgb;
  const unsigned char* At(int x, int y) const { return rgb.data() + (size_t(y) * size_t(w) + size_t(x)) * 3; }
};

bool TakeShot(Shot& s) {
  const std::string file = tq::WorkFile("screen.ppm");
  std::string out;
  if (tq::RunHost("import -window root -depth 8 " + tq::ShellQuote(tq::UnixPath(file)), &out) != 0) {
    ADD_FAILURE() << out;
    return false;
  }
  std::vector<unsigned char> bytes;
  if (!tq::ReadFileBytes(file, bytes)) return false;
  // P6, width, height, 255, one whitespace byte, then the pixels
  size_t pos = 0;
  int fields[3] = {};
  auto skipSpace = [&] {
    while (pos < bytes.size() && (isspace(bytes[pos]) || bytes[pos] == '#')) {
      if (bytes[pos] == '#')
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      else
        ++pos;
    }
  };
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') return false;
  pos = 2;
  for (int& f : fields) {
    skipSpace();
    while (pos < bytes.size() && isdigit(bytes[pos])) f = f * 10 + (bytes[pos++] - '0');
  }
  ++pos;
  s.w = fields[0];
  s.h = fields[1];
  if (fields[2] != 255 || bytes.size() < pos + size_t(s.w) * size_t(s.h) * 3) return false;
  s.rgb.assign(bytes.begin() + long(pos), bytes.begin() + long(pos) + long(s.w) * s.h * 3);
  return true;
}

class PaintedView : public ::testing::Test {
 protected:
  void SetUp() override {
    savedDepth = IEScreenBitsPerPixel;
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(30, 30, 400, 320);
    view = New<TImageryView>(form);
    view->SetParent(form);
    view->SetBounds(10, 10, 300, 220);
    view->SetBackground(RGB(0, 90, 0));
    // an image of noise, so that a pixel off by one shows, and a translucent layer with an alpha ramp
    TIEBitmap* image = view->GetIEBitmap();
    image->Allocate(200, 150, ie24RGB);
    uint32_t seed = 7;
    for (int y = 0; y < 150; ++y)
      for (int x = 0; x < 200; ++x) {
        seed = seed * 1103515245 + 12345;
        image->SetRGB(x, y, IEMakeRGB(uint8_t(seed >> 16), uint8_t(seed >> 8), uint8_t(x + y)));
      }
    const int i = view->AddLayer();
    TIELayer* layer = view->GetLayer(i);
    layer->Bitmap->Allocate(60, 40, ie24RGB);
    layer->Bitmap->Fill(double(RGB(250, 20, 200)));
    TIEBitmap* alpha = layer->Bitmap->GetAlphaChannel();
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) alpha->SetByte(x, y, uint8_t(x * 4));
    layer->PosX = 150;  // half over the image, half over the background
    layer->PosY = 30;
    layer->Transparency = 200;
    view->SetCurrentLayer(0);
    form->Show();
    SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump();
  }
  void TearDown() override {
    IEScreenBitsPerPixel = savedDepth;
    form->Free();
  }
  void Repaint() {
    view->InvalidateRectDirty(nullptr);
    UpdateWindow(view->GetHandle());
    Pump();
  }
  // Pixels of the client area on the screen that differ from the back buffer.
  int Differences(const Shot& s) {
    POINT origin{0, 0};
    ClientToScreen(view->GetHandle(), &origin);
    TIEBitmap* buffer = view->GetBackBuffer();
    int bad = 0;
    for (int y = 0; y < buffer->GetImageHeight(); ++y)
      for (int x = 0; x < buffer->GetImageWidth(); ++x) {
        const unsigned char* p = s.At(origin.x + x, origin.y + y);
        const TIERGB b = buffer->GetRGB(x, y);
        if (p[0] != b.r || p[1] != b.g || p[2] != b.b) ++bad;
      }
    return bad;
  }
  int savedDepth = 0;
  TForm* form = nullptr;
  TImageryView* view = nullptr;
};

// The palette notifications, sent to the view or to its form: without a main form the view repaints;
// a change the view's own realization caused is left alone; with a main form DrawDib decides, and on
// this true-colour screen it realizes nothing, so nothing repaints.
TEST_F(PaintedView, PaletteNotificationsRepaintOnlyWhatChanged) {
  const HWND wnd = view->GetHandle();
  RECT r;
  ASSERT_EQ(nullptr, Application->MainForm());
  UpdateWindow(wnd);
  ASSERT_FALSE(GetUpdateRect(wnd, &r, FALSE));
  EXPECT_EQ(1, SendMessage(wnd, WM_QUERYNEWPALETTE, 0, 0));
  EXPECT_TRUE(GetUpdateRect(wnd, &r, FALSE));
  UpdateWindow(wnd);
  EXPECT_EQ(0, SendMessage(wnd, WM_PALETTECHANGED, WPARAM(wnd), 0));
  EXPECT_FALSE(GetUpdateRect(wnd, &r, FALSE));
  EXPECT_EQ(1, SendMessage(wnd, WM_PALETTECHANGED, WPARAM(form->GetHandle()), 0));
  EXPECT_TRUE(GetUpdateRect(wnd, &r, FALSE));
  // the system sends them to the form only: the form passes them on to the view, except a change
  // the form's own window caused
  const HWND top = form->GetHandle();
  UpdateWindow(wnd);
  EXPECT_EQ(1, SendMessage(top, WM_QUERYNEWPALETTE, 0, 0));
  EXPECT_TRUE(GetUpdateRect(wnd, &r, FALSE));
  UpdateWindow(wnd);
  SendMessage(top, WM_PALETTECHANGED, WPARAM(top), 0);
  EXPECT_FALSE(GetUpdateRect(wnd, &r, FALSE));
  SendMessage(top, WM_PALETTECHANGED, WPARAM(GetDesktopWindow()), 0);
  EXPECT_TRUE(GetUpdateRect(wnd, &r, FALSE));

  TForm* main = nullptr;
  Application->CreateForm(main);
  main->HandleNeeded();
  UpdateWindow(wnd);
  EXPECT_EQ(1, SendMessage(wnd, WM_QUERYNEWPALETTE, 0, 0));
  EXPECT_FALSE(GetUpdateRect(wnd, &r, FALSE));
  main->Free();
  EXPECT_EQ(nullptr, Application->MainForm());
}

}  // namespace

TEST_F(PaintedView, ScreenShowsTheBackBufferWithEveryTransfer) {
  struct Case {
    const char* name;
    int depth;  // the screen depth the view believes in, which picks the transfer
    bool drawDib;
  };
  const Case cases[] = {
      {"BitBlt", 32, false}, {"DrawDib by choice", 32, true}, {"StretchBlt halftone", 16, false},
      {"DrawDib for a palette screen", 8, false}};
  for (const Case& c : cases) {
    IEScreenBitsPerPixel = c.depth;
    view->UseDrawDib = c.drawDib;
    Repaint();
    TIEBitmap* buffer = view->GetBackBuffer();
    ASSERT_EQ(view->GetViewportWidth(), buffer->GetImageWidth());
    ASSERT_EQ(view->GetViewportHeight(), buffer->GetImageHeight());
    Shot shot;
    ASSERT_TRUE(TakeShot(shot)) << c.name;
    EXPECT_EQ(0, Differences(shot)) << c.name;
  }
  // the buffer holds what was composed: the layer over the image and over the background
  TIELayer* layer = view->GetLayer(1);
  const RECT r = layer->ClientRect;
  EXPECT_EQ(60, r.right - r.left);
  const TIERGB overBackground = view->GetBackBuffer()->GetRGB(r.right - 2, r.top + 5);
  EXPECT_EQ(IEAlphaMix(0, 250, std::min(200, 58 * 4)), overBackground.r);
  EXPECT_EQ(IEAlphaMix(90, 20, std::min(200, 58 * 4)), overBackground.g);
}

TEST_F(PaintedView, ResizingReallocatesAndRecomposesTheBuffer) {
  int composed = 0;
  view->OnDrawBackBuffer = [&](void*) { ++composed; };
  InvalidateRect(view->GetHandle(), nullptr, FALSE);  // an exposure copies the buffer again
  UpdateWindow(view->GetHandle());
  Pump();
  EXPECT_EQ(0, composed);
  view->SetBounds(10, 10, 260, 180);
  Pump();
  EXPECT_EQ(1, composed);
  EXPECT_EQ(view->GetViewportWidth(), view->GetBackBuffer()->GetImageWidth());
  EXPECT_EQ(view->GetViewportHeight(), view->GetBackBuffer()->GetImageHeight());
  Shot shot;
  ASSERT_TRUE(TakeShot(shot));
  EXPECT_EQ(0, Differences(shot));
}

TEST_F(PaintedView, LockedPaintCopiesNothingButFiresOnPaint) {
  Repaint();
  int paints = 0;
  view->OnPaint = [&](void*) { ++paints; };
  view->SuspendPainting();
  view->GetLayer(0)->Bitmap->Fill(double(RGB(255, 255, 0)));
  view->InvalidateRectDirty(nullptr);
  UpdateWindow(view->GetHandle());
  Pump();
  EXPECT_GT(paints, 0);
  POINT origin{0, 0};
  ClientToScreen(view->GetHandle(), &origin);
  const int cx = view->GetCenterOffsetX() + 5, cy = view->GetCenterOffsetY() + 5;
  Shot before;
  ASSERT_TRUE(TakeShot(before));
  const unsigned char* q = before.At(origin.x + cx, origin.y + cy);
  EXPECT_FALSE(q[0] == 255 && q[1] == 255 && q[2] == 0);  // not yet yellow
  view->ResumePainting();
  Pump();
  Shot after;
  ASSERT_TRUE(TakeShot(after));
  const unsigned char* p = after.At(origin.x + cx, origin.y + cy);
  EXPECT_EQ(255, p[0]);
  EXPECT_EQ(255, p[1]);
  EXPECT_EQ(0, p[2]);
}

TEST_F(PaintedView, VideoMessagesActOnlyOnTheViewsOwnVideoObject) {
  int frames = 0, events = 0;
  view->OnDShowNewFrame = [&](void*) { ++frames; };
  view->OnDShowEvent = [&](void*) { ++events; };
  HWND h = view->GetHandle();
  // without an I/O component, with lParam 0 and with a value that is no video object of this view
  PostMessageW(h, IEM_DSHOWNEWFRAME, 0, 0);
  PostMessageW(h, IEM_DSHOWNEWFRAME, 0, LPARAM(0x1234));
  PostMessageW(h, IEM_DSHOWGRAPHEVENT, 0, LPARAM(0x1234));
  Pump(2);
  TIEDirectShow* video = view->GetIO()->GetDirectShow();
  EXPECT_EQ(h, video->GetNotifyWindow());
  PostMessageW(h, IEM_DSHOWNEWFRAME, 0, 0);
  PostMessageW(h, IEM_DSHOWNEWFRAME, 0, LPARAM(video) + 8);
  // its own object: it has no graph, so nothing is announced, and the frame flag is set again
  PostMessageW(h, IEM_DSHOWNEWFRAME, 0, LPARAM(video));
  PostMessageW(h, IEM_DSHOWGRAPHEVENT, 0, LPARAM(video));
  Pump(2);
  EXPECT_EQ(0, frames);
  EXPECT_EQ(0, events);
  EXPECT_TRUE(video->NewFrame);
}

TEST_F(PaintedView, VersionTextSitsInTheBottomRightCornerEvenWhileLocked) {
  view->SetDrawVersionValue(true);
  view->SuspendPainting();
  InvalidateRect(view->GetHandle(), nullptr, FALSE);
  UpdateWindow(view->GetHandle());
  Pump();
  Shot shot;
  ASSERT_TRUE(TakeShot(shot));
  POINT origin{0, 0};
  ClientToScreen(view->GetHandle(), &origin);
  // black text on white near the corner; none of it at the left edge
  const int w = view->GetViewportWidth(), h = view->GetViewportHeight();
  int black = 0, white = 0, blackLeft = 0;
  for (int y = h - 8; y < h; ++y)
    for (int x = w - 60; x < w; ++x) {
      const unsigned char* p = shot.At(origin.x + x, origin.y + y);
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) ++black;
      if (p[0] == 255 && p[1] == 255 && p[2] == 255) ++white;
    }
  for (int y = h - 8; y < h; ++y)
    for (int x = 0; x < 10; ++x) {
      const unsigned char* p = shot.At(origin.x + x, origin.y + y);
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) ++blackLeft;
    }
  EXPECT_GT(black, 0);
  EXPECT_GT(white, 0);
  EXPECT_EQ(0, blackLeft);
  view->ResumePainting();
}
