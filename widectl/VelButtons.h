// Wide captions on the library's glyph buttons: the speed button (painted by itself) and the bitmap
// button (an owner-drawn native button). Both keep the library's glyph object (the bitmap and its
// state images) and replace only the layout and drawing, so that the caption is drawn wide.
#pragma once
#include <windows.h>

#include <string>

#include "VelActnList.h"
#include "uibuttons.h"

// Lays out glyph and wide caption in `client` (moved by `offset` when pressed), draws the glyph of
// `state` from the button's glyph object and the caption; returns the text rectangle. `biDiFlags`
// DT_RIGHT swaps a left and right glyph.
RECT DrawWideGlyphButton(ui::TButtonGlyph* glyph, ui::TCanvas* canvas, const RECT& client, POINT offset,
                         const std::wstring& caption, ui::TButtonLayout layout, int margin, int spacing,
                         ui::TButtonState state, bool transparent, UINT biDiFlags, bool wordWrap);
// The layout alone: the glyph's top-left and the caption's rectangle.
void LayoutWideGlyphButton(HDC dc, ui::TButtonGlyph* glyph, const RECT& client, POINT offset,
                           const std::wstring& caption, ui::TButtonLayout layout, int margin, int spacing,
                           UINT biDiFlags, bool wordWrap, POINT& glyphPos, RECT& textRect);

class TVelSpeedButton : public ui::TSpeedButton {
  UI_DECLARE_CLASS(TVelSpeedButton, ui::TSpeedButton)
 public:
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

 protected:
  void Paint() override;
  void WndProc(ui::TMessage& m) override;

 private:
  bool mouseInControl_ = false;

  VEL_WIDE_CONTROL_PATTERN
};

class TVelBitBtn : public ui::TBitBtn {
  UI_DECLARE_CLASS(TVelBitBtn, ui::TBitBtn)
 public:
  TVelBitBtn();
  ~TVelBitBtn() override;
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;
  // The wide caption on the library's frame; the focus rectangle only on the default button.
  void DrawFace(ui::TCanvas* canvas, const RECT& r, ui::TButtonState state, bool focused) override;
  void WndProc(ui::TMessage& m) override;

 private:
  VEL_WIDE_CONTROL_PATTERN
};
