// TImageryIO's metafile members: an enhanced or Windows metafile played into a DIB at a requested
// size, with an alpha channel that is 0 wherever the metafile drew nothing.
#include <memory>
#include <vector>

#include "iedibbitmap.h"
#include "ieview.h"
#include "imageryio.h"
#include "uimetafile.h"
#include "uistreams.h"

int IEMetafileMaxSize = 8000;

namespace {

// Every byte from the stream's position, for the platform metafile reader; nothing is read when the
// rest of the stream is larger than any metafile the reader takes.
constexpr int64_t kMaxMetafileStreamBytes = int64_t(1) << 30;

void LoadPlatformMetafile(TIEStream& stream, ui::TMetafile& mf) {
  const int64_t rest = stream.GetSize() - stream.GetPosition();
  ui::TMemoryStream mem;
  if (rest > 0 && rest <= kMaxMetafileStreamBytes) {
    mem.SetSize(rest);
    mem.SetSize(0);
    std::vector<uint8_t> block(65536);
    for (int32_t got; (got = stream.Read(block.data(), int32_t(block.size()))) > 0;) mem.WriteBuffer(block.data(), got);
  }
  mem.SetPosition(0);
  mf.LoadFromStream(&mem);  // raises for what is no metafile
}

// The metafile played into a new 24-bit DIB over `fill`; false when the DIB cannot be had.
bool Play(ui::TMetafile& mf, TIEDibbitmap& dib, int w, int h, COLORREF fill) {
  if (!dib.AllocateDIB(w, h, 24)) return false;
  const RECT r{0, 0, w, h};
  HBRUSH brush = CreateSolidBrush(fill);
  FillRect(dib.GetDibDC(), &r, brush);
  DeleteObject(brush);
  PlayEnhMetaFile(dib.GetDibDC(), mf.GetHandle(), &r);
  GdiFlush();
  return true;
}

}  // namespace

TColor TImageryIO::GetBackground() const {
  return AttachedImagery ? TColor(AttachedImagery->GetBackground()) : OwnBackground;
}

void TImageryIO::SetBackground(TColor c) {
  if (AttachedImagery) AttachedImagery->SetBackground(c);
  else OwnBackground = c;
}

void TImageryIO::ImportMetafile(ui::TMetafile& mf, int width, int height, bool withAlpha) {
  Aborting = false;
  int mw = mf.GetWidth(), mh = mf.GetHeight();
  if (mf.Empty() || mw <= 0 || mh <= 0) {
    Aborting = true;
    return;
  }
  if (width == 0 || height == 0 || !PrepareBitmap()) return;
  Params.ClearImageInfo();
  int w = mw, h = mh;
  if (width > 0 || height > 0) {
    if (width > 0 && height > 0) {
      w = width;
      h = height;
    } else if (width < 0) {
      h = height;
      w = int(int64_t(height) * mw / mh);
    } else {
      w = width;
      h = int(int64_t(mh) * width / mw);
    }
  }
  if (w > IEMetafileMaxSize || h > IEMetafileMaxSize) {
    if (w >= h) {
      h = int(int64_t(h) * IEMetafileMaxSize / w);
      w = IEMetafileMaxSize;
    } else {
      w = int(int64_t(w) * IEMetafileMaxSize / h);
      h = IEMetafileMaxSize;
    }
  }
  if (w < 1 || h < 1) {
    Aborting = true;
    return;
  }
  Params.FileName.clear();
  Params.FileType = mf.GetEnhanced() ? iffEMF : iffWMF;
  Params.BitsPerSample = 8;
  Params.SamplesPerPixel = 3;
  Params.Width = Params.StoredWidth = w;
  Params.Height = Params.StoredHeight = h;
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.FreeColorMap();
  ApplyParamsDpiToView();
  TIEDibbitmap picture;
  if (!Play(mf, picture, w, h, ui::ColorToRGB(GetBackground()))) {
    Aborting = true;
    return;
  }
  IEBitmap->TakeFromDIB(&picture);
  IEBitmap->DiscardAlphaChannel(false);
  if (withAlpha) {
    // Played once over black and once over white: a pixel the metafile drew differs from the
    // background in at least one of them, whatever colour it drew. A single key colour would take
    // the metafile's own pixels of that colour for background.
    picture.FreeDIB();
    TIEDibbitmap onBlack, onWhite;
    if (!Play(mf, onBlack, w, h, RGB(0, 0, 0)) || !Play(mf, onWhite, w, h, RGB(255, 255, 255))) {
      Aborting = true;
    } else {
      TIEBitmap* alpha = IEBitmap->GetAlphaChannel();
      for (int y = 0; y < h; ++y) {
        const uint8_t* b = onBlack.GetRowAddress(y);
        const uint8_t* wt = onWhite.GetRowAddress(y);
        uint8_t* a = alpha->GetRowAddress(y);
        for (int x = 0; x < w; ++x) {
          const bool untouched = (b[3 * x] | b[3 * x + 1] | b[3 * x + 2]) == 0 &&
                                 (wt[3 * x] & wt[3 * x + 1] & wt[3 * x + 2]) == 255;
          a[x] = untouched ? 0 : 255;
        }
      }
      alpha->UpdateOpaqueFlag();
    }
  }
  UpdateAfterIO();
}

void TImageryIO::LoadMetafileFile(const std::wstring& fileName, int width, int height, bool withAlpha) {
  if (RestartAsync([this, fileName, width, height, withAlpha] {
        LoadMetafileFile(fileName, width, height, withAlpha);
      }))
    return;
  TIEFinishWorkGuard finish{this};
  ui::TMetafile mf;
  {
    TIEWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadPlatformMetafile(file, mf);
  }
  ImportMetafile(mf, width, height, withAlpha);
  Params.FileName = fileName;
}

void TImageryIO::LoadMetafileStream(TIEStream& stream, int width, int height, bool withAlpha) {
  TIEFinishWorkGuard finish{this};
  ui::TMetafile mf;
  LoadPlatformMetafile(stream, mf);
  ImportMetafile(mf, width, height, withAlpha);
  Params.FileName.clear();
}

void TImageryIO::ReadMetafileParams(TIEStream& stream) {
  ui::TMetafile mf;
  LoadPlatformMetafile(stream, mf);
  Params.FileName.clear();
  Params.FileType = mf.GetEnhanced() ? iffEMF : iffWMF;
  Params.BitsPerSample = 8;
  Params.SamplesPerPixel = 3;
  Params.Width = Params.StoredWidth = mf.GetWidth();
  Params.Height = Params.StoredHeight = mf.GetHeight();
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.FreeColorMap();
}
