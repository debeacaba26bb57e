// The image view's layer compositing: every visible layer drawn bottom-up into a 24-bit buffer (the
// back buffer at the view's zoom and origin, or a bitmap of the caller's at 100 %), through its alpha
// channel, its mask layer, its opacity and its blend operation; rotated layers and magnifying glasses
// are prepared on the fly.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "iebackground.h"
#include "iebitmap.h"
#include "iebitmaprender.h"
#include "ielayer.h"
#include "ieresample.h"
#include "ierotate.h"
#include "iegeom.h"
#include "imageryview.h"

namespace {

// A layer bitmap smaller than this on both axes is not drawn.
constexpr int kMinDrawableSize = 2;

int Round(double v) { return int(std::lrint(v)); }
int Trunc(double v) { return int(v); }

// The pixel outside a rotated layer's turned bitmap: black, and transparent in its alpha channel.
const uint8_t kZeroPixel[8] = {};

}  // namespace

// The last filtered part of each layer bitmap: repaints of an unchanged view (exposures, overlays,
// the selection's animation) draw it again instead of resampling. Cleared whenever the view updates,
// which every change of pixels, layers or geometry goes through.
struct TIEFilterCache {
  struct Entry {
    int sx1, sy1, sx2, sy2, tw, th;
    TResampleFilter filter;
    bool alpha;
    std::unique_ptr<TIEBitmap> scaled;
  };
  std::map<const TIEBitmap*, Entry> parts;
};

void TImageryView::ClearFilterCache() {
  delete FilterCache;
  FilterCache = nullptr;
}

void TImageryView::DropLayerCache(TIELayer* layer) {
  delete layer->MaskedAlpha;
  layer->MaskedAlpha = nullptr;
  if (FilterCache) FilterCache->parts.erase(layer->Bitmap);
}

namespace {

// Draws (sx, sy, sw, sh) of source into (dx, dy, dw, dh) of dest. With a filter, a scaled ie24RGB or
// ie1g source is resampled first, only over the part that lands inside dest and the clip, and that
// part drawn 1:1. cache: where a lasting source's scaled part is kept (nullptr for sources made for
// one drawing or changing with every drawing).
void RenderLayerBitmap(TIEBitmap* source, TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, int dx, int dy,
                       int dw, int dh, int sx, int sy, int sw, int sh, bool useAlpha, int transparency,
                       TIEBlendOperation op, TResampleFilter filter, TIEFilterCache* cache) {
  TIERenderTables local;
  if (tables) local.Rows = tables->Rows;  // the row table only: the column and row tables are per layer
  const TIEPixelFormat f = source->GetPixelFormat();
  if (filter == rfNone || (dw == sw && dh == sh) || (f != ie24RGB && f != ie1g) || dw <= 0 || dh <= 0 || sw <= 0 ||
      sh <= 0) {
    IERenderZoomedInto(source, dest, &local, clip, dx, dy, dw, dh, sx, sy, sw, sh, useAlpha, !useAlpha, transparency,
                       op);
    return;
  }
  int vx1 = std::max(dx, 0), vy1 = std::max(dy, 0);
  int vx2 = std::min(dx + dw, dest->GetImageWidth()), vy2 = std::min(dy + dh, dest->GetImageHeight());
  if (clip) {
    vx1 = std::max(vx1, int(clip->left));
    vy1 = std::max(vy1, int(clip->top));
    vx2 = std::min(vx2, int(clip->right) + 1);
    vy2 = std::min(vy2, int(clip->bottom) + 1);
  }
  if (vx1 >= vx2 || vy1 >= vy2) return;
  const double rx = double(sw) / dw, ry = double(sh) / dh;
  // the source pixels behind the visible part, one more on each side for the filter's reach
  const int sx1 = std::max(sx, int(std::floor(sx + (vx1 - dx) * rx)) - 1);
  const int sy1 = std::max(sy, int(std::floor(sy + (vy1 - dy) * ry)) - 1);
  const int sx2 = std::min(sx + sw, int(std::ceil(sx + (vx2 - dx) * rx)) + 1);
  const int sy2 = std::min(sy + sh, int(std::ceil(sy + (vy2 - dy) * ry)) + 1);
  if (sx1 >= sx2 || sy1 >= sy2) return;
  const int tx1 = dx + Round((sx1 - sx) / rx), ty1 = dy + Round((sy1 - sy) / ry);
  const int tx2 = dx + Round((sx2 - sx) / rx), ty2 = dy + Round((sy2 - sy) / ry);
  if (tx2 <= tx1 || ty2 <= ty1) return;
  const int tw = tx2 - tx1, th = ty2 - ty1;
  const bool alpha = useAlpha && source->AlphaPresent();
  TIEFilterCache::Entry* kept = nullptr;
  if (cache) {
    auto it = cache->parts.find(source);
    if (it != cache->parts.end()) {
      const TIEFilterCache::Entry& e = it->second;
      if (e.sx1 == sx1 && e.sy1 == sy1 && e.sx2 == sx2 && e.sy2 == sy2 && e.tw == tw && e.th == th &&
          e.filter == filter && e.alpha == alpha)
        kept = &it->second;
    }
  }
  if (!kept) {
    TIEBitmap part(sx2 - sx1, sy2 - sy1, f);
    source->CopyRectTo(&part, sx1, sy1, 0, 0, sx2 - sx1, sy2 - sy1);
    if (alpha) {
      TIEBitmap* a = source->GetAlphaChannel();
      TIEBitmap* pa = part.GetAlphaChannel();
      a->CopyRectTo(pa, sx1, sy1, 0, 0, sx2 - sx1, sy2 - sy1);
      pa->IsAll255 = a->IsAll255;
    }
    auto scaled = std::make_unique<TIEBitmap>(tw, th, f == ie1g ? ie24RGB : f);
    IEResample(&part, scaled.get(), filter, nullptr, TIEProgressEvent());
    TIEFilterCache::Entry e{sx1, sy1, sx2, sy2, tw, th, filter, alpha, std::move(scaled)};
    if (!cache) {
      IERenderZoomedInto(e.scaled.get(), dest, &local, clip, tx1, ty1, tw, th, 0, 0, tw, th, useAlpha, false,
                         transparency, op);
      return;
    }
    kept = &(cache->parts[source] = std::move(e));
  }
  IERenderZoomedInto(kept->scaled.get(), dest, &local, clip, tx1, ty1, tw, th, 0, 0, tw, th, useAlpha, false,
                     transparency, op);
}

// The alpha channel of a round glass: 255 inside the ellipse filling the bitmap, 0 outside.
void FillEllipseAlpha(TIEBitmap* alpha) {
  const int w = alpha->GetImageWidth(), h = alpha->GetImageHeight();
  const double a = w / 2.0, b = h / 2.0;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = alpha->GetRowAddress(y);
    const double v = (y + 0.5 - b) / b;
    for (int x = 0; x < w; ++x) {
      const double u = (x + 0.5 - a) / a;
      row[x] = u * u + v * v <= 1.0 ? 255 : 0;
    }
  }
  alpha->IsAll255 = false;
}

}  // namespace

TIEFilterCache* TImageryView::FilterCacheFor(bool transient) {
  if (transient) return nullptr;
  if (!FilterCache) FilterCache = new TIEFilterCache();
  return FilterCache;
}

void TImageryView::SetZoomFilterValue(TResampleFilter filter) {
  SavedZoomFilter = filter;  // a filter chosen while a button is down is the one its release brings back
  if (filter == ZoomFilter) return;
  ZoomFilter = filter;
  UpdateView();
}

// ---- background ----

void TImageryView::DrawBackground(TIEBitmap* dest, const RECT* clip) {
  TIEPlatformBitmap* target = dest->GetTBitmap();
  auto* adapter = dynamic_cast<TIETBitmapAdapter*>(target);
  ui::TCanvas* canvas = adapter ? adapter->GetCanvas() : nullptr;
  if (!canvas) {
    dest->Fill(double(ui::ColorToRGB(Background)));
    return;
  }
  HDC dc = canvas->GetHandle();
  if (clip) IntersectClipRect(dc, clip->left, clip->top, clip->right, clip->bottom);
  bool handled = false;
  const RECT all{0, 0, dest->GetImageWidth(), dest->GetImageHeight()};
  if (OnDrawBackground) OnDrawBackground(this, canvas, all, handled);
  if (!handled) {
    const bool image = DrawnWidth > 0 && DrawnHeight > 0;
    const int x1 = image ? CenterOffsetX : 0, y1 = image ? CenterOffsetY : 0;
    const int x2 = image ? CenterOffsetX + DrawnWidth : 0, y2 = image ? CenterOffsetY + DrawnHeight : 0;
    IEDrawBackground(InState(ui::csDesigning), canvas, target, BackgroundStyle, Background, 0, 0, all.right,
                     all.bottom, x1, y1, x2, y2, ChessboardSize, ChessboardBrushStyle, GradientEndColor, WallPaper,
                     WallPaperStyle);
  }
  if (clip) SelectClipRgn(dc, nullptr);
  GdiFlush();
}

// ---- masks ----

void TImageryView::PrepareMaskedAlpha(TIELayer* layer, TIELayer* mask) {
  if (layer->MaskedAlpha) return;  // kept until the view updates
  TIEBitmap* lb = layer->Bitmap;
  const int w = lb->GetImageWidth(), h = lb->GetImageHeight();
  // the mask as grey levels; a copy, so the mask layer keeps its own pixels and alpha
  TIEBitmap grey;
  TIEBitmap* k = mask->Bitmap;
  if (k->GetPixelFormat() != ie8g) {
    grey.Allocate(k->GetImageWidth(), k->GetImageHeight(), ie8g);
    grey.ConvertFrom(k);
    k = &grey;
  }
  const int kw = k->GetImageWidth(), kh = k->GetImageHeight();
  auto alpha = std::make_unique<TIEBitmap>(w, h, ie8g);
  TIEBitmap* own = lb->AlphaPresent() ? lb->GetAlphaChannel() : nullptr;
  const double sx = double(layer->GetDisplayWidth()) / std::max(w, 1);
  const double sy = double(layer->GetDisplayHeight()) / std::max(h, 1);
  const double kx = std::max(double(mask->GetDisplayWidth()) / std::max(kw, 1), 1e-9);
  const double ky = std::max(double(mask->GetDisplayHeight()) / std::max(kh, 1), 1e-9);
  const int w0 = Layers[0]->Bitmap->GetImageWidth(), h0 = Layers[0]->Bitmap->GetImageHeight();
  const bool outsideMode = OutsideImageMode == 1;
  const uint8_t outsideValue = uint8_t(std::clamp(OutsideImageValue, 0, 255));
  std::vector<int> mcol(static_cast<size_t>(w)), mrow(static_cast<size_t>(h));
  std::vector<bool> colOut(static_cast<size_t>(w)), rowOut(static_cast<size_t>(h));
  for (int i = 0; i < w; ++i) {
    mcol[size_t(i)] = Round(sx * i / kx - mask->PosX / kx + layer->PosX / kx);
    const int ix = Round(kx * mcol[size_t(i)]) + layer->PosX;
    colOut[size_t(i)] = ix < 0 || ix >= w0;
  }
  for (int j = 0; j < h; ++j) {
    mrow[size_t(j)] = Round(sy * j / ky - mask->PosY / ky + layer->PosY / ky);
    const int iy = Round(ky * mrow[size_t(j)]) + layer->PosY;
    rowOut[size_t(j)] = iy < 0 || iy >= h0;
  }
  for (int j = 0; j < h; ++j) {
    uint8_t* out = alpha->GetRowAddress(j);
    const uint8_t* ownRow = own ? own->GetRowAddress(j) : nullptr;
    const int r = mrow[size_t(j)];
    const uint8_t* krow = r >= 0 && r < kh ? k->GetRowAddress(r) : nullptr;
    for (int i = 0; i < w; ++i) {
      const uint8_t a = ownRow ? ownRow[i] : 255;
      if (outsideMode && (colOut[size_t(i)] || rowOut[size_t(j)])) {
        out[i] = std::min(a, outsideValue);
        continue;
      }
      const int m = mcol[size_t(i)];
      out[i] = krow && m >= 0 && m < kw ? std::min(a, krow[m]) : 0;
    }
  }
  alpha->IsAll255 = false;
  layer->MaskedAlpha = alpha.release();
}

// ---- composition ----

void TImageryView::DrawLayers(TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, bool drawBackground,
                              bool drawBoxes) {
  SyncLayers();
  UpdateSourceRect();
  UpdateCoordinateTables();
  if (InState(ui::csDesigning)) return;
  if (IEBitmap->IsEmpty() || (IEBitmap->AlphaPresent() &&
                              (IEBitmap->GetAlphaChannel()->GetImageWidth() != IEBitmap->GetImageWidth() ||
                               IEBitmap->GetAlphaChannel()->GetImageHeight() != IEBitmap->GetImageHeight()))) {
    if (drawBackground) DrawBackground(dest, clip);
    return;
  }
  bool first = true;
  const bool imageArea = DrawnWidth > 0 && DrawnHeight > 0;
  for (int i = 0; i < int(Layers.size()); ++i) {
    TIELayer* layer = Layers[size_t(i)];
    if (!layer->Visible || !imageArea) continue;
    if (layer->Bitmap->GetImageWidth() < kMinDrawableSize && layer->Bitmap->GetImageHeight() < kMinDrawableSize)
      continue;
    DrawOneLayer(i, dest, tables, clip, first, drawBackground, drawBoxes);
  }
  ShadeOutsideImage(dest);
  if (first && drawBackground) DrawBackground(dest, clip);
  if (drawBoxes) {
    DrawSelectionOverlays(dest);
    DrawPixelGrid(dest);
  }
}

void TImageryView::DrawOneLayer(int index, TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, bool& first,
                                bool drawBackground, bool drawBoxes) {
  TIELayer* layer = Layers[size_t(index)];
  TIEBitmap* bmp = layer->Bitmap;
  const int count = int(Layers.size());

  // a. the mask: the mask layer right above, or (outside-image mode 1) a full one of the layer's place
  TIELayer* mask = nullptr;
  std::unique_ptr<TIELayer> tempMask;
  if (index + 1 < count && Layers[size_t(index) + 1]->IsMask && !layer->IsMask && layer->GetRotation() == 0) {
    mask = Layers[size_t(index) + 1];
  } else if (index > 0 && OutsideImageMode == 1) {
    tempMask.reset(new TIELayer(this, nullptr, false));
    tempMask->Bitmap->Allocate(bmp->GetImageWidth(), bmp->GetImageHeight(), ie8g);
    tempMask->Bitmap->Fill(255);
    tempMask->PosX = layer->PosX;
    tempMask->PosY = layer->PosY;
    tempMask->Width = layer->Width;
    tempMask->Height = layer->Height;
    mask = tempMask.get();
  }
  // b. the combined alpha stands in for the layer's own during this drawing
  TIEBitmap* ownAlpha = nullptr;
  bool swapped = false;
  if (mask) {
    PrepareMaskedAlpha(layer, mask);
    ownAlpha = bmp->DetachAlphaChannel();
    bmp->AttachAlphaChannel(layer->MaskedAlpha);
    layer->MaskedAlpha = nullptr;
    swapped = true;
  }
  auto restoreAlpha = [&] {
    if (!swapped) return;
    layer->MaskedAlpha = bmp->DetachAlphaChannel();
    if (ownAlpha) bmp->AttachAlphaChannel(ownAlpha);
    swapped = false;
  };

  try {
    // c. the background, unless the first layer covers the destination opaquely
    if (first && drawBackground) {
      const bool covers = CenterOffsetX == 0 && CenterOffsetY == 0 && DrawnWidth >= dest->GetImageWidth() &&
                          DrawnHeight >= dest->GetImageHeight() && index == 0 && layer->PosX == 0 &&
                          layer->PosY == 0 && layer->Width == 0 && layer->Height == 0 && layer->GetRotation() == 0;
      const bool opaque = (!bmp->AlphaPresent() || !EnableAlphaChannel || bmp->GetAlphaChannel()->IsAll255) &&
                          layer->Transparency >= 255;
      if (!(covers && opaque)) DrawBackground(dest, clip);
    }
    // d. the filter, unless a delayed one is still waiting to be shown (merged layers never wait)
    TResampleFilter filter = rfNone;
    const bool filterWaits = FilterCountdown > 0 && dest == BackBuffer;
    if (!filterWaits && (layer->Width != 0 || layer->Height != 0 || ZoomX != 100 || ZoomY != 100))
      filter = layer->UseResampleFilter ? layer->ResampleFilter : ZoomFilter;
    const TIEBlendOperation op = TIEBlendOperation(layer->BlendOperation);
    const int transparency = std::clamp(layer->Transparency, 0, 255);
    RECT inclusiveClip{};
    const RECT* renderClip = nullptr;
    if (clip) {
      inclusiveClip = RECT{clip->left, clip->top, clip->right - 1, clip->bottom - 1};
      renderClip = &inclusiveClip;
    }

    // e. a plain image (layer 0 in place, or every layer while the sizes are kept in step) is drawn with
    // the view's own mapping
    const bool plain = SyncLayerSizes || (index == 0 && layer->PosX == 0 && layer->PosY == 0 && layer->Width == 0 &&
                                          layer->Height == 0 && layer->GetRotation() == 0);
    if (plain) {
      RenderLayerBitmap(bmp, dest, tables, renderClip, CenterOffsetX, CenterOffsetY, DrawnWidth, DrawnHeight, SrcX,
                        SrcY, SrcW, SrcH, EnableAlphaChannel, transparency, op, filter, FilterCacheFor(swapped));
      layer->ClientRect = RECT{CenterOffsetX, CenterOffsetY, CenterOffsetX + DrawnWidth, CenterOffsetY + DrawnHeight};
      const int info[8] = {CenterOffsetX, CenterOffsetY, DrawnWidth, DrawnHeight, SrcX, SrcY, SrcW, SrcH};
      std::copy(info, info + 8, layer->DrawInfo);
    } else {
      TIEBitmap* source = bmp;
      // f. rotation: a turned copy at the display size stands in, with the size and place of its bounds
      const int savedW = layer->Width, savedH = layer->Height, savedX = layer->PosX, savedY = layer->PosY;
      std::unique_ptr<TIEBitmap> turned;
      struct PlaceRestore {
        TIELayer* l;
        int w, h, x, y;
        ~PlaceRestore() {
          l->Width = w;
          l->Height = h;
          l->PosX = x;
          l->PosY = y;
        }
      } placeRestore{layer, savedW, savedH, savedX, savedY};
      if (layer->GetRotation() != 0) {
        const int w = layer->GetDisplayWidth(), h = layer->GetDisplayHeight();
        TIEBitmap sized(w, h, bmp->GetPixelFormat() == ie1g ? ie24RGB : bmp->GetPixelFormat());
        IEResample(bmp, &sized, rfNone, nullptr, TIEProgressEvent());
        // the outside of the turned image is transparent, whatever the layer's own alpha
        TIEBitmap* sizedAlpha = sized.GetAlphaChannel();
        turned = std::make_unique<TIEBitmap>();
        IERotateNearest(&sized, turned.get(), kZeroPixel, nullptr, TIEProgressEvent(), layer->GetRotation());
        auto turnedAlpha = std::make_unique<TIEBitmap>();
        IERotateNearest(sizedAlpha, turnedAlpha.get(), kZeroPixel, nullptr, TIEProgressEvent(), layer->GetRotation());
        turnedAlpha->IsAll255 = false;
        if (turnedAlpha->GetImageWidth() == turned->GetImageWidth() &&
            turnedAlpha->GetImageHeight() == turned->GetImageHeight())
          delete turned->AttachAlphaChannel(turnedAlpha.release());
        source = turned.get();
        layer->Width = turned->GetImageWidth();
        layer->Height = turned->GetImageHeight();
        POINT corners[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
        IERotatePoints(corners, 3, layer->GetRotation(), Trunc(w * layer->RotationCenterX),
                       Trunc(h * layer->RotationCenterY));
        LONG minX = corners[0].x, minY = corners[0].y;
        for (const POINT& c : corners) {
          minX = std::min(minX, c.x);
          minY = std::min(minY, c.y);
        }
        layer->PosX = savedX + minX;
        layer->PosY = savedY + minY;
        for (int k = 0; k < 4; ++k) {
          layer->DrawInfo[8 + 2 * k] = Trunc((corners[k].x + savedX) * FX) + CenterOffsetX - ViewOriginX;
          layer->DrawInfo[9 + 2 * k] = Trunc((corners[k].y + savedY) * FY) + CenterOffsetY - ViewOriginY;
        }
      }
      // g. magnifying glass
      if (index > 0 && layer->Magnify && layer->MagnifyFactor >= 1) {
        if (layer->Width > 0 && layer->Height > 0 &&
            (bmp->GetImageWidth() != layer->Width || bmp->GetImageHeight() != layer->Height ||
             bmp->GetPixelFormat() != ie24RGB)) {
          if (swapped) restoreAlpha();  // the new size has no combined alpha yet
          bmp->Allocate(layer->Width, layer->Height, ie24RGB);
          delete layer->MaskedAlpha;
          layer->MaskedAlpha = nullptr;
        } else if (bmp->GetPixelFormat() != ie24RGB) {
          bmp->ConvertPixelFormat(ie24RGB);
        }
        const int gw = bmp->GetImageWidth(), gh = bmp->GetImageHeight();
        const int aw = Trunc(gw / (layer->MagnifyFactor / FX)), ah = Trunc(gh / (layer->MagnifyFactor / FY));
        const int cx = ImageToClientX(layer->PosX + Trunc(gw * FX / 2));
        const int cy = ImageToClientY(layer->PosY + Trunc(gh * FY / 2));
        const int left = cx - aw / 2, top = cy - ah / 2;
        if (aw > 0 && ah > 0) {
          if (layer->MagnifySource == 1) {
            // what is drawn so far beneath the glass, stretched into it
            TIEBitmap beneath(aw, ah, ie24RGB);
            beneath.Fill(0);
            const int bx1 = std::max(left, 0), by1 = std::max(top, 0);
            const int bx2 = std::min(left + aw, dest->GetImageWidth()), by2 = std::min(top + ah, dest->GetImageHeight());
            if (bx1 < bx2 && by1 < by2) dest->CopyRectTo(&beneath, bx1, by1, bx1 - left, by1 - top, bx2 - bx1, by2 - by1);
            IERenderZoomedInto(&beneath, bmp, nullptr, nullptr, 0, 0, gw, gh, 0, 0, aw, ah, false, false, 255,
                               ieboNormal);
          } else {
            const int ix = ClientToImageX(left), iy = ClientToImageY(top);
            const int iw = ClientToImageX(left + aw) - ix, ih = ClientToImageY(top + ah) - iy;
            TIEBitmap* image = Layers[0]->Bitmap;
            const int w0 = image->GetImageWidth(), h0 = image->GetImageHeight();
            if (ix >= 0 && iy >= 0 && ix < w0 - iw && iy < h0 - ih && iw < w0 && ih < h0 && iw > 0 && ih > 0) {
              bmp->Fill(0);
              RenderLayerBitmap(image, bmp, nullptr, nullptr, 0, 0, gw, gh, ix, iy, iw, ih, false, 255, ieboNormal,
                                filter, FilterCacheFor(false));
            }
          }
        }
        if (!swapped) {
          TIEBitmap* glassAlpha = bmp->GetAlphaChannel();
          if (layer->MagnifyShape == 1) {
            FillEllipseAlpha(glassAlpha);
          } else {
            glassAlpha->Fill(255);
            glassAlpha->IsAll255 = true;
          }
        }
      }
      // h. destination in client pixels, each edge nudged so that it maps back onto its image position
      const int dispW = layer->GetDisplayWidth(), dispH = layer->GetDisplayHeight();
      auto clientX = [&](int v) {
        int c = ImageToClientX(v);
        const int back = ClientToImageX(c);
        if (back < v) ++c;
        else if (back > v) --c;
        return c;
      };
      auto clientY = [&](int v) {
        int c = ImageToClientY(v);
        const int back = ClientToImageY(c);
        if (back < v) ++c;
        else if (back > v) --c;
        return c;
      };
      int x = clientX(layer->PosX), y = clientY(layer->PosY);
      int right = clientX(layer->PosX + dispW), bottom = clientY(layer->PosY + dispH);
      int sx = 0, sy = 0, sw = source->GetImageWidth(), sh = source->GetImageHeight();
      layer->ClientRect = RECT{x, y, right, bottom};
      // i. cut at layer 0's area
      if (layer->ClipToImage) {
        const int crw = right - x, crh = bottom - y;
        const int w0 = Layers[0]->Bitmap->GetImageWidth(), h0 = Layers[0]->Bitmap->GetImageHeight();
        if (ClientToImageX(x) < 0 && dispW > 0) {
          sx = Trunc(double(source->GetImageWidth()) / dispW * -layer->PosX);
          sw -= sx;
          x = ImageToClientX(0);
        }
        if (ClientToImageY(y) < 0 && dispH > 0) {
          sy = Trunc(double(source->GetImageHeight()) / dispH * -layer->PosY);
          sh -= sy;
          y = ImageToClientY(0);
        }
        if (ClientToImageX(right) > w0 && crw > 0) {
          right = ImageToClientX(w0);
          sw = Trunc(double(source->GetImageWidth()) / crw * (right - x));
        }
        if (ClientToImageY(bottom) > h0 && crh > 0) {
          bottom = ImageToClientY(h0);
          sh = Trunc(double(source->GetImageHeight()) / crh * (bottom - y));
        }
      }
      // j. draw
      // a turned copy lives for this drawing only, a glass changes with every drawing
      const bool lasting = source == bmp && !(index > 0 && layer->Magnify && layer->MagnifyFactor >= 1);
      RenderLayerBitmap(source, dest, tables, renderClip, x, y, right - x, bottom - y, sx, sy, sw, sh,
                        EnableAlphaChannel, transparency, op, filter, FilterCacheFor(swapped || !lasting));
      const int info[8] = {x, y, right - x, bottom - y, sx, sy, sw, sh};
      std::copy(info, info + 8, layer->DrawInfo);
    }
  } catch (...) {
    restoreAlpha();
    throw;
  }
  // k. frame, grips and dimmed surroundings for the mouse's layer modes
  if (drawBoxes) DrawLayerDecorations(index, dest);
  // l. the layer's own alpha back; the combined one stays cached
  restoreAlpha();
  first = false;
}

void TImageryView::ShadeOutsideImage(TIEBitmap* dest) {
  if (OutsideImageMode != 2 && OutsideImageMode != 3) return;
  const int* info = Layers[0]->DrawInfo;
  const int left = info[0], top = info[1], right = info[0] + info[2], bottom = info[1] + info[3];
  const int w = dest->GetImageWidth(), h = dest->GetImageHeight();
  const int add = std::clamp(OutsideImageValue, 0, 255);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = dest->GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      uint8_t* p = row + 3 * x;
      if (OutsideImageMode == 2) {
        if ((x < left || x > right || y < top || y > bottom) && (x + y) % 2 == 0) p[0] = p[1] = p[2] = 128;
      } else if (x < left || x >= right || y < top || y >= bottom) {
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(std::min(255, p[c] + add));
      }
    }
  }
}

// ---- merging ----

void TImageryView::DrawLayersTo(TIEBitmap* dest) {
  SyncLayers();
  TIELayer* layer0 = Layers[0];
  int right = layer0->PosX + layer0->GetDisplayWidth(), bottom = layer0->PosY + layer0->GetDisplayHeight();
  int ox = 0, oy = 0;
  for (TIELayer* layer : Layers) {
    if (layer->ClipToImage) continue;
    right = std::max(right, layer->PosX + layer->GetDisplayWidth());
    bottom = std::max(bottom, layer->PosY + layer->GetDisplayHeight());
    if (layer->PosX < 0) ox = std::max(ox, -layer->PosX);
    if (layer->PosY < 0) oy = std::max(oy, -layer->PosY);
  }
  const double background = double(ui::ColorToRGB(Background));
  if (dest->IsEmpty() || dest->GetPixelFormat() != ie24RGB) {
    dest->Allocate(std::max(right + ox, 1), std::max(bottom + oy, 1), ie24RGB);
    dest->Fill(background);
  } else {
    dest->ResizeCanvas(right + ox, bottom + oy, background, 255, 0, 0);
  }

  // 100 %, no scrolling, the image offset by (ox, oy) and shown whole; everything put back afterwards,
  // also when the drawing fails
  struct GeometryRestore {
    TImageryView* v;
    double zx, zy;
    int orx, ory, cox, coy, iw, ih, zw, zh, ew, eh;
    ~GeometryRestore() {
      v->ZoomX = zx;
      v->ZoomY = zy;
      v->ViewOriginX = orx;
      v->ViewOriginY = ory;
      v->CenterOffsetX = cox;
      v->CenterOffsetY = coy;
      v->ImageWidth = iw;
      v->ImageHeight = ih;
      v->ZoomedWidth = zw;
      v->ZoomedHeight = zh;
      v->ExtentWidth = ew;
      v->ExtentHeight = eh;
      v->SetZoomFactors();
      try {
        v->UpdateSourceRect();
        v->UpdateCoordinateTables();
      } catch (...) {
      }
    }
  } restore{this,          ZoomX,        ZoomY,        ViewOriginX, ViewOriginY, CenterOffsetX, CenterOffsetY,
            ImageWidth,    ImageHeight,  ZoomedWidth,  ZoomedHeight, ExtentWidth, ExtentHeight};
  ZoomX = ZoomY = 100;
  SetZoomFactors();
  ViewOriginX = ViewOriginY = 0;
  CenterOffsetX = ox;
  CenterOffsetY = oy;
  ImageWidth = ZoomedWidth = ExtentWidth = layer0->Bitmap->GetImageWidth();
  ImageHeight = ZoomedHeight = ExtentHeight = layer0->Bitmap->GetImageHeight();
  DrawLayers(dest, nullptr, nullptr, false, false);
}

void TImageryView::MergeAllLayers() {
  TIEBitmap merged(IEBitmap->GetImageWidth(), IEBitmap->GetImageHeight(), ie24RGB);
  merged.Fill(double(ui::ColorToRGB(Background)));
  DrawLayersTo(&merged);
  ClearLayers();
  IEBitmap->Assign(&merged);
  UpdateView();
}
