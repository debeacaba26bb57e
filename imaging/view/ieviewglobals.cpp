#include "ieviewglobals.h"

#include "ioparams.h"
#include "uiforms.h"
#include "vodevovur.h"

int IEScreenBitsPerPixel = 24;
bool IEViewRemoteSession = false;
int IEScreenDpiX = 96, IEScreenDpiY = 96;
int IEEdgeX = 2, IEEdgeY = 2, IEBorderX = 1, IEBorderY = 1;
int IEScrollBarX = 16, IEScrollBarY = 16;
HMODULE IEGradientLibrary = nullptr;
int IEPixelGridZoom = 400;
ui::TPen* IEGridPen = nullptr;
const char* const IEImageryVersion = "3.1.1";

const char* const IECursorNames[kIECursorCount] = {
    "ZOOMMENO", "ZOOMPIU", "CROCE",   "GOMMA",   "MANO",    "PENNA",   "CROCE1",  "CROCE3",
    "MOVE2",    "MOVEY",   "MOVE1",   "MOVEX",   "MOVE",    "CROCE3+", "CROCE3-", "CROCE2",
    "CROCE2+",  "CROCE2-", "CROCE2-", "1795",    "1796",    "1797",    "1798",    "1799",
    "1800",     "1801",    "1802",    "1803",    "1803",    "1805",    "1806",    "1807",
    "1808",     "ROT1",    "ROT2",    "ROT3",    "ROT4"};

namespace {
const TIEStaticStepRegistrar g_viewStep(iessImageryView, IEImageryViewStaticInit, IEImageryViewStaticFini);
}

void IEImageryViewStaticInit() {
  HDC dc = GetDC(nullptr);
  IEScreenBitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);
  IEScreenDpiX = GetDeviceCaps(dc, LOGPIXELSX);
  IEScreenDpiY = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  IEViewRemoteSession = IEIsRemoteSession();
  IEDefaultDPIX = 300;
  IEDefaultDPIY = 300;
  IEEdgeX = GetSystemMetrics(SM_CXEDGE);
  IEEdgeY = GetSystemMetrics(SM_CYEDGE);
  IEBorderX = GetSystemMetrics(SM_CXBORDER);
  IEBorderY = GetSystemMetrics(SM_CYBORDER);
  IEScrollBarX = GetSystemMetrics(SM_CXVSCROLL);
  IEScrollBarY = GetSystemMetrics(SM_CYHSCROLL);
  IEGradientLibrary = nullptr;
  IEPixelGridZoom = 400;
  delete IEGridPen;
  IEGridPen = new ui::TPen();
  IEGridPen->SetStyle(ui::psSolid);
  IEGridPen->SetWidth(1);
}

void IEImageryViewStaticFini() {
  delete IEGridPen;
  IEGridPen = nullptr;
  if (IEGradientLibrary) {
    FreeLibrary(IEGradientLibrary);  // a failed release changes nothing for the rest of the shut-down
    IEGradientLibrary = nullptr;
  }
}

void IELoadViewCursors() {
  HMODULE module = GetModuleHandleW(nullptr);
  if (!ui::Screen) return;
  for (int i = 0; i < kIECursorCount; ++i) {
    const char* name = IECursorNames[i];
    // a name of digits is a numbered resource
    const bool numbered = name[0] >= '0' && name[0] <= '9';
    HCURSOR c = numbered ? LoadCursorA(module, MAKEINTRESOURCEA(atoi(name))) : LoadCursorA(module, name);
    ui::Screen->SetCursors(kIEFirstCursor + i, c);
  }
}
