// The image view module's process-wide values, set by its start-up step: the screen's colour depth and
// resolution, the library's default image resolution, system border sizes, a shared inverting pen and
// the table of the library's own cursors (resources of the program, loaded by every view).
#pragma once
#include <windows.h>

#include "uigraphics.h"

extern int IEScreenBitsPerPixel;
extern bool IEViewRemoteSession;
extern int IEScreenDpiX, IEScreenDpiY;
extern int IEEdgeX, IEEdgeY, IEBorderX, IEBorderY;  // SM_CXEDGE, SM_CYEDGE, SM_CXBORDER, SM_CYBORDER
extern int IEScrollBarX, IEScrollBarY;              // SM_CXVSCROLL, SM_CYHSCROLL
extern HMODULE IEGradientLibrary;                   // MSIMG32.DLL once a gradient needed it
extern int IEPixelGridZoom;                         // percent from which a grid is drawn between pixels
extern ui::TPen* IEGridPen;                         // not-mode, solid, width 1
extern const char* const IEImageryVersion;          // "3.1.1"

// The cursor identifiers of the view's own cursors in the screen's cursor table.
constexpr int kIEFirstCursor = 1778;
constexpr int kIECursorCount = 37;
// Resource names of the cursors, in identifier order; a name of digits is a numbered resource.
extern const char* const IECursorNames[kIECursorCount];

constexpr int crIEZoomOut = 1778, crIEZoomIn = 1779, crIECross = 1780, crIEEraser = 1781, crIEHand = 1782,
              crIEPen = 1783, crIECross1 = 1784, crIEDefaultCross = 1785, crIEGrip13 = 1786, crIEGripNS = 1787,
              crIEGrip24 = 1788, crIEGripEW = 1789, crIEMove = 1790, crIEAddCross = 1791, crIESubCross = 1792,
              crIEAltCross = 1793, crIEAddAltCross = 1794, crIERotate1 = 1811;

void IEImageryViewStaticInit();
void IEImageryViewStaticFini();
// Loads the 37 cursors from the program's resources into the screen's cursor table at 1778 .. 1814.
void IELoadViewCursors();
