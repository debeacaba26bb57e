// Image control and glyph buttons (a speed button that paints itself, an owner-drawn bitmap button).
#pragma once
#include "uiactions.h"
#include "uipicture.h"
#include "uistdctrls.h"

namespace ui {

class TImage : public TGraphicControl {
  UI_DECLARE_CLASS(TImage, TGraphicControl)
 public:
  TImage();
  ~TImage() override;
  TPicture* GetPicture() const { return picture_; }
  void SetPicture(TPicture* p) { picture_->Assign(p); }
  bool GetStretch() const { return stretch_; }
  void SetStretch(bool v);
  bool GetCenter() const { return center_; }
  void SetCenter(bool v);
  bool GetProportional() const { return proportional_; }
  void SetProportional(bool v);
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  // Where the picture is drawn inside the control.
  RECT DestRect();

 protected:
  void Paint() override;

 private:
  void PictureChanged(TObject*);
  TPicture* picture_;
  bool stretch_ = false, center_ = false, proportional_ = false, autoSize_ = false;
};

enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TButtonState { bsUp, bsDisabled, bsDown, bsExclusive };

class TCustomImageList;

// Ends a paint quietly: a glyph button that has itself painted again at once raises it to abandon
// the paint that asked for it.
UI_EXCEPTION(EAbortPaint, EAbort)

// The glyph and its caption laid out in `client`: the glyph's top-left and the text rectangle.
void LayoutGlyphButton(HDC dc, const RECT& client, TBitmap* glyph, int numGlyphs, const std::string& caption,
                       TButtonLayout layout, int margin, int spacing, POINT& glyphPos, RECT& textRect);

// The glyph of a speed or bitmap button: a bitmap of up to four images side by side (up, disabled, down,
// exclusive) whose lower-left pixel's colour is transparent. The image of a state is put into the glyph
// list the first time that state is painted; until then its index is -1.
class TButtonGlyph : public TObject {
  UI_DECLARE_CLASS(TButtonGlyph, TObject)
 public:
  TButtonGlyph();
  ~TButtonGlyph() override;
  TBitmap* GetGlyph() const { return original_; }
  void SetGlyph(TBitmap* b) { original_->Assign(b); }
  int GetNumGlyphs() const { return numGlyphs_; }
  void SetNumGlyphs(int n);  // 1 to 4
  // The list of state images built so far (null before the first).
  TCustomImageList* GlyphList() const { return list_; }
  int StateIndex(TButtonState s) const { return indexes_[s]; }
  // The list index of the state's image, built when missing; -1 without a glyph. A bitmap without a
  // disabled image gets an embossed copy of the up image; down and exclusive fall back to up.
  int CreateButtonGlyph(TButtonState state);
  // Draws the state's image at `p`: transparent, or on the button face.
  void DrawButtonGlyph(TCanvas* canvas, POINT p, TButtonState state, bool transparent);
  // Draws the caption into `r` (embossed when disabled).
  void DrawButtonText(TCanvas* canvas, const std::string& caption, RECT r, TButtonState state);
  // Lays out, then draws glyph and caption; `offset` moves both (a pressed button). Returns the text
  // rectangle.
  RECT Draw(TCanvas* canvas, const RECT& client, POINT offset, const std::string& caption, TButtonLayout layout,
            int margin, int spacing, TButtonState state, bool transparent);
  // Told when the bitmap or the number of images changed.
  TNotifyEvent OnChange;

 private:
  void GlyphChanged(TObject*);
  void Invalidate();
  TBitmap* original_;
  TCustomImageList* list_ = nullptr;
  int indexes_[4] = {-1, -1, -1, -1};
  int numGlyphs_ = 1;
};

class TSpeedButton : public TGraphicControl {
  UI_DECLARE_CLASS(TSpeedButton, TGraphicControl)
 public:
  TSpeedButton();
  ~TSpeedButton() override;
  TBitmap* GetGlyph() const { return glyph_->GetGlyph(); }
  void SetGlyph(TBitmap* b) { glyph_->SetGlyph(b); }
  TButtonGlyph* ButtonGlyph() const { return glyph_; }
  int GetNumGlyphs() const { return glyph_->GetNumGlyphs(); }
  void SetNumGlyphs(int n);
  TButtonLayout GetLayout() const { return layout_; }
  void SetLayout(TButtonLayout l);
  int GetMargin() const { return margin_; }
  void SetMargin(int m);
  int GetSpacing() const { return spacing_; }
  void SetSpacing(int s);
  bool GetFlat() const { return flat_; }
  void SetFlat(bool v);
  // A transparent button lets its parent show through around the glyph and, when flat, the face.
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool v);
  bool GetDown() const { return down_; }
  void SetDown(bool v);
  int GetGroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int g) { groupIndex_ = g; }
  bool GetAllowAllUp() const { return allowAllUp_; }
  void SetAllowAllUp(bool v) { allowAllUp_ = v; }
  TButtonState State() const { return state_; }
  void Click() override;

 protected:
  void Paint() override;
  TClass GetActionLinkClass() override;
  void WndProc(TMessage& m) override;
  void DoMouseDown(TMouseButton b, int shift, int x, int y) override;
  void DoMouseUp(TMouseButton b, int shift, int x, int y) override;

 private:
  void GlyphChanged(TObject*);
  TButtonGlyph* glyph_;
  int margin_ = -1, spacing_ = 4, groupIndex_ = 0;
  TButtonLayout layout_ = blGlyphLeft;
  bool flat_ = false, down_ = false, allowAllUp_ = false, mouseInControl_ = false, transparent_ = true;
  TButtonState state_ = bsUp;
};

enum TBitBtnKind { bkCustom, bkOK, bkCancel, bkHelp, bkYes, bkNo, bkClose, bkAbort, bkRetry, bkIgnore, bkAll };

class TBitBtn : public TButton {
  UI_DECLARE_CLASS(TBitBtn, TButton)
 public:
  TBitBtn();
  ~TBitBtn() override;
  TBitmap* GetGlyph() const { return glyph_->GetGlyph(); }
  void SetGlyph(TBitmap* b) { glyph_->SetGlyph(b); }
  TButtonGlyph* ButtonGlyph() const { return glyph_; }
  int GetNumGlyphs() const { return glyph_->GetNumGlyphs(); }
  void SetNumGlyphs(int n);
  TButtonLayout GetLayout() const { return layout_; }
  void SetLayout(TButtonLayout l);
  int GetMargin() const { return margin_; }
  void SetMargin(int m);
  int GetSpacing() const { return spacing_; }
  void SetSpacing(int s);
  TBitBtnKind GetKind() const { return kind_; }
  // A standard kind sets the caption and the modal result (and Default / Cancel for OK / Cancel).
  void SetKind(TBitBtnKind k);

 protected:
  void CreateParams(TCreateParams& p) override;
  void WndProc(TMessage& m) override;
  // The owner-drawn button: the frame (pushed, default, focused), then DrawFace inside it.
  virtual void DrawItem(const DRAWITEMSTRUCT& di);
  // Glyph and caption in r, then the focus rectangle when the button has the focus.
  virtual void DrawFace(TCanvas* canvas, const RECT& r, TButtonState state, bool focused);

 private:
  void GlyphChanged(TObject*);
  TButtonGlyph* glyph_;
  TControlCanvas* canvas_;
  int margin_ = -1, spacing_ = 4;
  TButtonLayout layout_ = blGlyphLeft;
  TBitBtnKind kind_ = bkCustom;
  bool mouseInControl_ = false;
};

// Speed buttons of a group that may all be up show the action's Checked as Down.
class TSpeedButtonActionLink : public TControlActionLink {
  UI_DECLARE_CLASS(TSpeedButtonActionLink, TControlActionLink)
 public:
  void AssignClient(TObject* client) override;
  bool IsCheckedLinked() override;
  void SetChecked(bool v) override;
};

}  // namespace ui
