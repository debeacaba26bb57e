// The wide panel's painting and the wide accessors of panel and image.
#include "VelExtCtrls.h"

#include "VelControls.h"
#include "VelSysUtils.h"
#include "VelWindows.h"
#include "uifiler.h"
#include "uithemes.h"

using namespace ui;

namespace {

std::vector<TPropInfo> VelPanelProps() {
  using T = TVelCustomPanel;
  return {WideCaptionProp<T>("Caption"), WideHintProp<T>()};
}
std::vector<TPropInfo> VelImageProps() { return {WideHintProp<TVelImage>()}; }

}  // namespace

UI_IMPLEMENT_CLASS(TVelCustomPanel, TCustomPanel, nullptr, VelPanelProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelPanel, TVelCustomPanel, DefaultFactory<TVelPanel>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelImage, TImage, DefaultFactory<TVelImage>, VelImageProps, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClasses({&TVelPanel::StaticClassInfo, &TVelImage::StaticClassInfo}); }
} registered;
}  // namespace

std::wstring TVelCustomPanel::GetCaptionText() const { return WideGetControlText(const_cast<TVelCustomPanel*>(this)); }
void TVelCustomPanel::SetCaptionText(const std::wstring& value) { WideSetControlText(this, value); }
std::wstring TVelCustomPanel::GetHintText() const { return WideGetControlHint(const_cast<TVelCustomPanel*>(this)); }
void TVelCustomPanel::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

void TVelCustomPanel::CreateWindowHandle(const TCreateParams& params) {
  CreateUnicodeWindowHandle(this, params, std::wstring());
}

void TVelCustomPanel::Paint() {
  if (!IsUnicodePlatform) {
    inherited::Paint();
    return;
  }
  RECT r = TCustomControl::GetClientRect();
  auto colors = [](TBevelCut cut, TColor& topLeft, TColor& bottomRight) {
    topLeft = cut == bvLowered ? clBtnShadow : clBtnHighlight;
    bottomRight = cut == bvLowered ? clBtnHighlight : clBtnShadow;
  };
  TColor topLeft, bottomRight;
  if (GetBevelOuter() != bvNone) {
    colors(GetBevelOuter(), topLeft, bottomRight);
    Frame3D(canvas_, r, topLeft, bottomRight, GetBevelWidth());
  }
  // With themes a panel on its parent's background leaves the border open; otherwise the border is
  // a frame in the panel's colour.
  const bool parentBackground = ThemeServices().ThemesEnabled() && GetParentBackground();
  if (parentBackground) {
    InflateRect(&r, -GetBorderWidth(), -GetBorderWidth());
  } else {
    canvas_->Brush()->SetColor(color_);
    for (int i = 0; i < GetBorderWidth(); ++i) {
      canvas_->FrameRect(r);
      InflateRect(&r, -1, -1);
    }
  }
  if (GetBevelInner() != bvNone) {
    colors(GetBevelInner(), topLeft, bottomRight);
    Frame3D(canvas_, r, topLeft, bottomRight, GetBevelWidth());
  }
  if (!parentBackground) {
    canvas_->Brush()->SetColor(color_);
    canvas_->Brush()->SetStyle(bsSolid);
    canvas_->FillRect(r);
  }

  canvas_->Brush()->SetStyle(bsClear);
  canvas_->SetFont(font_);
  HDC dc = canvas_->GetHandle();
  SIZE extent = {0, 0};
  GetTextExtentPoint32W(dc, L"W", 1, &extent);
  // One text line, centred vertically whatever the panel's height.
  r.top = ((r.bottom + r.top) - extent.cy) / 2;
  r.bottom = r.top + extent.cy;
  static const UINT kAlign[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
  const std::wstring caption = GetCaptionText();
  WideDrawText(dc, caption.c_str(), -1, &r, DrawTextBiDiModeFlags(DT_EXPANDTABS | DT_VCENTER | kAlign[GetAlignment()]));
}

std::wstring TVelImage::GetHintText() const { return WideGetControlHint(const_cast<TVelImage*>(this)); }
void TVelImage::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

void TVelImage::WndProc(TMessage& m) {
  if (m.Msg == CM_HINTSHOW) ProcessWideHintShow(reinterpret_cast<THintInfo*>(m.LParam));
  inherited::WndProc(m);
}
