// Wide (UTF-16) versions of the library's standard controls: single-line edit, label, push button
// and group box. Each derives from the library's class of the same kind and replaces only what
// wide text needs: a Unicode window, the wide Caption or Text and Hint, wide drawing and wide
// accelerator keys.
#pragma once
#include <windows.h>

#include <string>

#include "VelActnList.h"

#include "uistdctrls.h"

// Creates the window of a common control (list view, progress bar, up-down) as a Unicode window
// and switches it to wide notifications. An empty class name fails the layer's assertion.
void CreateUnicodeHandle_ComCtl(ui::TWinControl* control, const ui::TCreateParams& params,
                                const std::wstring& className);

class TVelCustomEdit : public ui::TCustomEdit {
  UI_DECLARE_CLASS(TVelCustomEdit, ui::TCustomEdit)
 public:
  // The edit's wide text (Text).
  std::wstring GetText() const;
  void SetText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);
  // The wide password character; the base keeps its 8-bit substitute (the character itself below
  // 256, else "*").
  wchar_t GetPasswordCharText() const;
  void SetPasswordCharText(wchar_t c);
  // The selection in characters of the wide text, on both platforms.
  virtual int GetWideSelStart();
  virtual void SetWideSelStart(int value);
  virtual int GetWideSelLength();
  virtual void SetWideSelLength(int value);
  virtual std::wstring GetWideSelText();

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;
  void CreateWnd() override;

 private:
  mutable wchar_t passwordChar_ = 0;

  VEL_WIDE_ACTION_HOOKS
};

class TVelEdit : public TVelCustomEdit {
  UI_DECLARE_CLASS(TVelEdit, TVelCustomEdit)
};

class TVelCustomLabel : public ui::TCustomLabel {
  UI_DECLARE_CLASS(TVelCustomLabel, ui::TCustomLabel)
 public:
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);
  // What the label draws and measures: its wide caption.
  virtual std::wstring GetWideLabelText();

 protected:
  void DoDrawText(RECT& r, UINT flags) override;
  void WndProc(ui::TMessage& m) override;

  VEL_WIDE_ACTION_HOOKS
};

class TVelLabel : public TVelCustomLabel {
  UI_DECLARE_CLASS(TVelLabel, TVelCustomLabel)
};

class TVelButton : public ui::TButton {
  UI_DECLARE_CLASS(TVelButton, ui::TButton)
 public:
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;
  void WndProc(ui::TMessage& m) override;

  VEL_WIDE_ACTION_HOOKS
};

// The push button's accelerator, shared with the bitmap button: a wide caption match clicks the
// button (result 1).
bool WideButtonDialogChar(ui::TButton* button, ui::TMessage& m);

class TVelCustomGroupBox : public ui::TCustomGroupBox {
  UI_DECLARE_CLASS(TVelCustomGroupBox, ui::TCustomGroupBox)
 public:
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;
  void Paint() override;
  void WndProc(ui::TMessage& m) override;

 private:
  void PaintThemed();
  void PaintClassic();

  VEL_WIDE_ACTION_HOOKS
};

class TVelGroupBox : public TVelCustomGroupBox {
  UI_DECLARE_CLASS(TVelGroupBox, TVelCustomGroupBox)
};
