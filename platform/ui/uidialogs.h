// Common dialogs: the file-open and file-save dialogs on the 8-bit OPENFILENAMEA record.
#pragma once
#include <windows.h>

#include <commdlg.h>

#include "uigraphics.h"
#include "uistrings.h"

namespace ui {

// Options of the file dialogs; each maps to one OFN_ flag.
enum TOpenOption : uint32_t {
  ofReadOnly = 1u << 0,
  ofOverwritePrompt = 1u << 1,
  ofHideReadOnly = 1u << 2,
  ofNoChangeDir = 1u << 3,
  ofShowHelp = 1u << 4,
  ofNoValidate = 1u << 5,
  ofAllowMultiSelect = 1u << 6,
  ofExtensionDifferent = 1u << 7,
  ofPathMustExist = 1u << 8,
  ofFileMustExist = 1u << 9,
  ofCreatePrompt = 1u << 10,
  ofShareAware = 1u << 11,
  ofNoReadOnlyReturn = 1u << 12,
  ofNoTestFileCreate = 1u << 13,
  ofNoNetworkButton = 1u << 14,
  ofNoLongNames = 1u << 15,
  ofOldStyleDialog = 1u << 16,
  ofNoDereferenceLinks = 1u << 17,
  ofEnableIncludeNotify = 1u << 18,
  ofEnableSizing = 1u << 19,
  ofDontAddToRecent = 1u << 20,
  ofForceShowHidden = 1u << 21,
};
// The OFN_ flags of a set of options, and back (for the options the dialog reports).
DWORD OpenOptionsToFlags(uint32_t options);

class TCommonDialog : public TComponent {
  UI_DECLARE_CLASS(TCommonDialog, TComponent)
 public:
  virtual bool Execute() = 0;
  TNotifyEvent OnShow;
  TNotifyEvent OnClose;

 protected:
  TCommonDialog() = default;
  // Runs a system dialog function modally for the application's windows.
  BOOL TaskModalDialog(BOOL(WINAPI* func)(void*), void* record);
};

// The system dialog function (GetOpenFileNameA, GetSaveFileNameA, or a stand-in).
using TOpenFileNameFunc = BOOL(WINAPI*)(LPOPENFILENAMEA);

class TOpenDialog : public TCommonDialog {
  UI_DECLARE_CLASS(TOpenDialog, TCommonDialog)
 public:
  TOpenDialog();
  ~TOpenDialog() override;
  bool Execute() override;
  // Prepares the record from the properties, calls `func` with it and reads the results back.
  bool DoExecute(TOpenFileNameFunc func);

  std::string GetDefaultExt() const { return defaultExt_; }
  void SetDefaultExt(const std::string& s) { defaultExt_ = s; }
  std::string GetFileName() const { return fileName_; }
  void SetFileName(const std::string& s) { fileName_ = s; }
  std::string GetFilter() const { return filter_; }
  void SetFilter(const std::string& s) { filter_ = s; }
  int GetFilterIndex() const { return filterIndex_; }
  void SetFilterIndex(int i) { filterIndex_ = i; }
  std::string GetInitialDir() const { return initialDir_; }
  void SetInitialDir(const std::string& s) { initialDir_ = s; }
  std::string GetTitle() const { return title_; }
  void SetTitle(const std::string& s) { title_ = s; }
  uint32_t GetOptions() const { return options_; }
  void SetOptions(uint32_t o) { options_ = o; }
  TStrings* Files() const { return files_; }

 private:
  void GetFileNames(const OPENFILENAMEA& ofn);
  std::string defaultExt_, fileName_, filter_, initialDir_, title_;
  int filterIndex_ = 1;
  uint32_t options_ = ofHideReadOnly | ofEnableSizing;
  TStringList* files_;
};

class TSaveDialog : public TOpenDialog {
  UI_DECLARE_CLASS(TSaveDialog, TOpenDialog)
 public:
  bool Execute() override;
};

// Options of the colour dialog; each maps to one CC_ flag.
enum TColorDialogOption : uint32_t {
  cdFullOpen = 1u << 0,         // custom colour part open from the start
  cdPreventFullOpen = 1u << 1,  // no custom colour part
  cdShowHelp = 1u << 2,
  cdSolidColor = 1u << 3,
  cdAnyColor = 1u << 4,
};

// The system dialog function (ChooseColorA, or a stand-in).
using TChooseColorFunc = BOOL(WINAPI*)(LPCHOOSECOLORA);

class TColorDialog : public TCommonDialog {
  UI_DECLARE_CLASS(TColorDialog, TCommonDialog)
 public:
  TColorDialog();
  // The colour shown first, and the one chosen when Execute returns true.
  TColor GetColor() const { return color_; }
  void SetColor(TColor c) { color_ = c; }
  uint32_t GetOptions() const { return options_; }
  void SetOptions(uint32_t o) { options_ = o; }
  bool Execute() override;
  bool DoExecute(TChooseColorFunc func);

 private:
  TColor color_ = clBlack;
  uint32_t options_ = 0;
  COLORREF custom_[16];  // the dialog's custom colours, kept from one run to the next
};

}  // namespace ui
