#include "iebackground.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "iedrawhelpers.h"
#include "ieplatformbitmap.h"
#include "ieutils.h"
#include "ieviewglobals.h"
#include "uipicture.h"

namespace {

using TGradientFillProc = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);
TGradientFillProc GradientFillProc = nullptr;

constexpr ui::TColor kPhotoLikeGrey = 0xB0B0B0;

ui::TColor Complement(ui::TColor c) { return ui::TColor(~ui::ColorToRGB(c) & 0xFFFFFF); }

void Fill(ui::TCanvas* canvas, ui::TColor colour, ui::TBrushStyle style, const RECT& r) {
  canvas->Brush()->SetColor(colour);
  canvas->Brush()->SetStyle(style);
  canvas->FillRect(r);
}

// Squares straight into the rows of a 24-bit bitmap; the area is clipped to the bitmap.
void ChessboardIntoRows(TIEPlatformBitmap* bitmap, ui::TColor colour, int x, int y, int width, int height,
                        int size) {
  const TIERGB c[2] = {IEColorToRGB(ui::ColorToRGB(colour)), IEColorToRGB(Complement(colour))};
  const int bw = bitmap->GetWidth(), bh = bitmap->GetHeight();
  const int left = std::max(x, 0), right = std::min(x + width, bw);
  if (bh <= 0 || left >= right) return;
  // The two kinds of row, made once and copied into every row of their band.
  std::vector<TIERGB> pattern[2];
  for (int band = 0; band < 2; ++band) {
    pattern[band].resize(size_t(right - left));
    for (int bx = left; bx < right; ++bx) pattern[band][size_t(bx - left)] = c[band ^ (((bx - x) / size) & 1)];
  }
  const size_t bytes = size_t(right - left) * sizeof(TIERGB);
  for (int row = 0; row < height; ++row) {
    const int by = std::min(std::max(y + row, 0), bh - 1);
    TIERGB* p = reinterpret_cast<TIERGB*>(bitmap->ScanLine(by));
    if (!p) continue;
    std::memcpy(p + left, pattern[(row / size) & 1].data(), bytes);
  }
}

void ChessboardByFillRect(ui::TCanvas* canvas, ui::TColor colour, ui::TBrushStyle style, int x, int y, int width,
                          int height, int size) {
  const ui::TColor c[2] = {Complement(colour), colour};
  canvas->Brush()->SetStyle(style);
  int rowStart = 0;
  for (int top = y; top < y + height; top += size, rowStart ^= 1) {
    int k = rowStart;
    for (int left = x; left < x + width; left += size, k ^= 1) {
      canvas->Brush()->SetColor(c[k]);
      canvas->FillRect(RECT{left, top, std::min(left + size, x + width), std::min(top + size, y + height)});
    }
  }
}

void Chessboard(ui::TCanvas* canvas, TIEPlatformBitmap* bitmap, ui::TColor colour, int x, int y, int width,
                int height, int size, ui::TBrushStyle style) {
  if (bitmap && style == ui::bsSolid && bitmap->GetPixelFormat() == iepf24bit) {
    // The canvas may hold drawing not yet in the rows.
    GdiFlush();
    ChessboardIntoRows(bitmap, colour, x, y, width, height, size);
  } else {
    ChessboardByFillRect(canvas, colour, style, x, y, width, height, size);
  }
}

void DrawWallpaper(ui::TCanvas* canvas, ui::TPicture* wallpaper, TIEWallPaperStyle style, int width, int height) {
  ui::TGraphic* g = wallpaper ? wallpaper->GetGraphic() : nullptr;
  if (!g || g->Empty()) return;
  switch (style) {
    case iewoNormal:
      canvas->Draw(0, 0, g);
      break;
    case iewoStretch:
      canvas->StretchDraw(RECT{0, 0, width, height}, g);
      break;
    case iewoTile: {
      const int gw = g->GetWidth(), gh = g->GetHeight();
      if (gw <= 0 || gh <= 0) return;  // nothing to tile with: the steps would never advance
      for (int ty = 0; ty < height; ty += gh)
        for (int tx = 0; tx < width; tx += gw) canvas->Draw(tx, ty, g);
      break;
    }
  }
}

}  // namespace

bool IELoadGradientLibrary() {
  if (GradientFillProc && IEGradientLibrary) return true;
  if (!IEGradientLibrary) IEGradientLibrary = LoadLibraryA("MSIMG32.DLL");
  if (!IEGradientLibrary) return false;
  GradientFillProc = reinterpret_cast<TGradientFillProc>(
      reinterpret_cast<void*>(GetProcAddress(IEGradientLibrary, "GradientFill")));
  return GradientFillProc != nullptr;
}

bool IEGradientFill(const RECT& r, HDC dc, ui::TColor colour1, bool vertical, ui::TColor colour2) {
  if (!IELoadGradientLibrary()) return false;
  const COLORREF c1 = ui::ColorToRGB(colour1), c2 = ui::ColorToRGB(colour2);
  TRIVERTEX v[2] = {};
  v[0].x = r.left;
  v[0].y = r.top;
  v[0].Red = COLOR16(GetRValue(c1) << 8);
  v[0].Green = COLOR16(GetGValue(c1) << 8);
  v[0].Blue = COLOR16(GetBValue(c1) << 8);
  v[1].x = r.right;
  v[1].y = r.bottom;
  v[1].Red = COLOR16(GetRValue(c2) << 8);
  v[1].Green = COLOR16(GetGValue(c2) << 8);
  v[1].Blue = COLOR16(GetBValue(c2) << 8);
  GRADIENT_RECT mesh{0, 1};
  return GradientFillProc(dc, v, 2, &mesh, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H) != FALSE;
}

void IEDrawBackground(bool designing, ui::TCanvas* canvas, TIEPlatformBitmap* bitmap, TIEBackgroundStyle style,
                      ui::TColor colour, int x, int y, int width, int height, int x1, int y1, int x2, int y2,
                      int chessboardSize, ui::TBrushStyle chessboardBrushStyle, ui::TColor gradientEndColor,
                      ui::TPicture* wallpaper, TIEWallPaperStyle wallpaperStyle) {
  if (!canvas) return;
  const int size = std::max(chessboardSize, 1);
  const RECT area{x, y, x + width, y + height};
  const bool imageAtLeast2x2 = x2 - x1 >= 2 && y2 - y1 >= 2;
  if (bitmap && bitmap->GetPixelFormat() != iepf24bit) bitmap = nullptr;
  static const ui::TBrushStyle kHatches[7] = {ui::bsSolid,      ui::bsHorizontal, ui::bsVertical, ui::bsFDiagonal,
                                              ui::bsBDiagonal, ui::bsCross,      ui::bsDiagCross};
  switch (style) {
    case iebsSolid: case iebsHorizontal: case iebsVertical: case iebsFDiagonal: case iebsBDiagonal:
    case iebsCross: case iebsDiagCross:
      Fill(canvas, colour, kHatches[style], area);
      break;
    case iebsDiagonals:
      Fill(canvas, colour, ui::bsSolid, area);
      canvas->Pen()->SetColor(Complement(colour));
      canvas->Pen()->SetStyle(ui::psSolid);
      canvas->Pen()->SetWidth(1);
      canvas->MoveTo(x, y);
      canvas->LineTo(x + width, y + height);
      canvas->MoveTo(x + width, y);
      canvas->LineTo(x, y + height);
      break;
    case iebsCropped:
      if (designing) {
        Fill(canvas, colour, ui::bsSolid, area);
        break;
      }
      Fill(canvas, ui::clBtnFace, ui::bsSolid, area);
      if (imageAtLeast2x2) {
        RECT r{x1 - IEEdgeX, y1 - IEEdgeY, x2 + IEEdgeX, y2 + IEEdgeY};
        DrawEdge(canvas->GetHandle(), &r, EDGE_SUNKEN, BF_RECT);
      }
      break;
    case iebsCropShadow:
      Fill(canvas, colour, ui::bsSolid, area);
      if (!designing && imageAtLeast2x2) {
        GdiFlush();
        HDC dc = canvas->GetHandle();
        IEDrawCropShadowRight(dc, bitmap, x2, y1, x2 + 5, y2 + 3, 2);
        IEDrawCropShadowBottom(dc, bitmap, x1, y2, x2 + 4, y2 + 5, 2);
      }
      break;
    case iebsGradient:
      IEGradientFill(area, canvas->GetHandle(), colour, true, gradientEndColor);
      break;
    case iebsSoftShadow:
      if (designing || bitmap) Fill(canvas, colour, ui::bsSolid, area);
      if (!designing && bitmap && imageAtLeast2x2) {
        GdiFlush();
        IEDrawSoftShadow(bitmap, x1, y1, x2, y2);
      }
      break;
    case iebsPhotoLike:
      Fill(canvas, kPhotoLikeGrey, ui::bsSolid, area);
      canvas->Pen()->SetColor(ui::clBlack);
      canvas->Pen()->SetStyle(ui::psSolid);
      canvas->Pen()->SetWidth(1);
      canvas->Brush()->SetStyle(ui::bsClear);
      canvas->Rectangle(x1 - 1, y1 - 1, x2 + 1, y2 + 1);
      Chessboard(canvas, bitmap, colour, x1, y1, x2 - x1, y2 - y1, size, chessboardBrushStyle);
      break;
    case iebsChessboard:
      Chessboard(canvas, bitmap, colour, x, y, width, height, size, chessboardBrushStyle);
      break;
  }
  DrawWallpaper(canvas, wallpaper, wallpaperStyle, width, height);
}
