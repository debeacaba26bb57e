// Standard controls: edit, label, push button, group box, panel.
#pragma once
#include "uicontrols.h"

namespace ui {

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };
enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };
enum TBorderStyle { bsNoBorder, bsSingleBorder };  // stored as bsNone / bsSingle

class TCustomEdit : public TWinControl {
  UI_DECLARE_CLASS(TCustomEdit, TWinControl)
 public:
  TCustomEdit();
  std::string GetTextProp() { return GetText(); }
  void SetTextProp(const std::string& s) { SetText(s); }
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  int GetMaxLength() const { return maxLength_; }
  void SetMaxLength(int v);
  char GetPasswordChar() const { return passwordChar_; }
  void SetPasswordChar(char c);
  bool GetAutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool v) { autoSelect_ = v; }
  TEditCharCase GetCharCase() const { return charCase_; }
  void SetCharCase(TEditCharCase c);
  TBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle b);
  bool GetHideSelection() const { return hideSelection_; }
  void SetHideSelection(bool v);
  // Typed characters go through the OEM code page and back (ES_OEMCONVERT).
  bool GetOEMConvert() const { return oemConvert_; }
  void SetOEMConvert(bool v);
  // The height follows the font: one line of text inside the border.
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  bool GetModified();
  void SetModified(bool v);
  // Selection in bytes of the 8-bit text.
  virtual int GetSelStart();
  virtual void SetSelStart(int v);
  virtual int GetSelLength();
  virtual void SetSelLength(int v);
  virtual std::string GetSelText();
  void SetSelText(const std::string& s);
  void SelectAll();
  void Clear() { SetText(std::string()); }
  TNotifyEvent OnChange;

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void WndProc(TMessage& m) override;
  virtual void Change();
  void DoEnter() override;

 private:
  bool readOnly_ = false;
  int maxLength_ = 0;
  char passwordChar_ = 0;
  bool autoSelect_ = true;
  TEditCharCase charCase_ = ecNormal;
  TBorderStyle borderStyle_ = bsSingleBorder;
  bool hideSelection_ = true;
  bool oemConvert_ = false;
  bool autoSize_ = true;
  void AdjustHeight();
  bool modified_ = false;
  bool creating_ = false;
};

class TEdit : public TCustomEdit {
  UI_DECLARE_CLASS(TEdit, TCustomEdit)
};

class TCustomLabel : public TGraphicControl {
  UI_DECLARE_CLASS(TCustomLabel, TGraphicControl)
 public:
  TCustomLabel();
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  TTextLayout GetLayout() const { return layout_; }
  void SetLayout(TTextLayout l);
  bool GetWordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  bool GetShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool v);
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool v);
  TWinControl* GetFocusControl() const { return focusControl_; }
  void SetFocusControl(TWinControl* c);
  // The text that is drawn (and measured): the caption.
  virtual std::string GetLabelText();

 protected:
  // Draws (or, with DT_CALCRECT, measures) the label text into `r` with DrawText flags.
  virtual void DoDrawText(RECT& r, UINT flags);
  void Paint() override;
  void WndProc(TMessage& m) override;
  void Notification(TComponent* c, TOperation op) override;
  void Loaded() override;
  void AdjustBounds();

 private:
  bool autoSize_ = true;
  TAlignment alignment_ = taLeftJustify;
  TTextLayout layout_ = tlTop;
  bool wordWrap_ = false;
  bool showAccelChar_ = true;
  bool transparent_ = false;
  TWinControl* focusControl_ = nullptr;
};

class TLabel : public TCustomLabel {
  UI_DECLARE_CLASS(TLabel, TCustomLabel)
};

class TButtonControl : public TWinControl {
  UI_DECLARE_CLASS(TButtonControl, TWinControl)
 protected:
  TButtonControl() { tabStop_ = true; }
  TClass GetActionLinkClass() override;
};

class TButton : public TButtonControl {
  UI_DECLARE_CLASS(TButton, TButtonControl)
 public:
  TButton();
  bool GetDefault() const { return default_; }
  void SetDefault(bool v);
  bool GetCancel() const { return cancel_; }
  void SetCancel(bool v) { cancel_ = v; }
  int GetModalResult() const { return modalResult_; }
  void SetModalResult(int r) { modalResult_ = r; }
  // Clicks and, with a ModalResult, gives it to the form.
  void Click() override;

 protected:
  void CreateParams(TCreateParams& p) override;
  void WndProc(TMessage& m) override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = 0;
  bool active_ = false;  // focused, or the default button while no other button is
};

class TCustomGroupBox : public TCustomControl {
  UI_DECLARE_CLASS(TCustomGroupBox, TCustomControl)
 public:
  TCustomGroupBox();
  RECT GetClientRect() override;

 protected:
  void Paint() override;
  void CreateParams(TCreateParams& p) override;
  void WndProc(TMessage& m) override;
};

class TGroupBox : public TCustomGroupBox {
  UI_DECLARE_CLASS(TGroupBox, TCustomGroupBox)
};

class TCustomPanel : public TCustomControl {
  UI_DECLARE_CLASS(TCustomPanel, TCustomControl)
 public:
  TCustomPanel();
  // Without FullRepaint a resize repaints only the bevels at the moving edges (captionless panels).
  bool GetFullRepaint() const { return fullRepaint_; }
  void SetFullRepaint(bool v) { fullRepaint_ = v; }
  // bsSingle: a border line around the panel (sunken with Ctl3D).
  TBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle v);
  // The panel takes the size that holds its (not aligned) children.
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  int GetBorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int w);
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  // Stored for layouts that set it: no object is ever activated in place over a panel here, which
  // is all the flag would guard against.
  bool GetLocked() const { return locked_; }
  void SetLocked(bool v) { locked_ = v; }
  RECT GetClientRect() override;

 protected:
  void Paint() override;
  void WndProc(TMessage& m) override;
  void CreateParams(TCreateParams& p) override;
  void AdjustSize() override;

 private:
  int borderWidth_ = 0;
  bool fullRepaint_ = true;
  bool autoSize_ = false;
  bool adjusting_ = false;
  bool locked_ = false;
  TBorderStyle borderStyle_ = bsNoBorder;
  TAlignment alignment_ = taCenter;
};

class TPanel : public TCustomPanel {
  UI_DECLARE_CLASS(TPanel, TCustomPanel)
};

// Draws a 3-D frame around `r` and moves `r` inside it.
void Frame3D(TCanvas* c, RECT& r, TColor topLeft, TColor bottomRight, int width);
// True when `c` (a key) is the accelerator of `caption` ("&File" and 'f').
bool IsAccel(unsigned c, const std::string& caption);

}  // namespace ui
