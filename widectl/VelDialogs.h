// Wide dialogs: the file-open dialog with wide names, filter, title, folder and extension, and the
// wide message boxes (modal forms with a word-wrapped wide message and a row of wide buttons).
#pragma once
#include <windows.h>

#include <commdlg.h>

#include <cstdint>
#include <string>

#include "VelClasses.h"
#include "VelForms.h"
#include "VelStdCtrls.h"
#include "uidialogs.h"
#include "uiforms.h"

using TIncludeItemEventW = ui::TEvent<void(const OFNOTIFYEXW& OFN, bool& Include)>;

// The base component prepares its 8-bit dialog record completely; on the Unicode platform this
// dialog captures that record, gives it wide buffers of its own and shows GetOpenFileNameW.
class TVelOpenDialog : public ui::TOpenDialog {
  UI_DECLARE_CLASS(TVelOpenDialog, ui::TOpenDialog)
 public:
  TVelOpenDialog();
  ~TVelOpenDialog() override;
  bool Execute() override;
  void DefineProperties(ui::TFiler* filer) override;

  std::wstring GetDefaultExtText() const;
  void SetDefaultExtText(const std::wstring& value);
  // While the dialog is open, the path it shows at present.
  std::wstring GetFileNameText() const;
  void SetFileNameText(const std::wstring& value);
  std::wstring GetFilterText() const;
  void SetFilterText(const std::wstring& value);
  std::wstring GetInitialDirText() const;
  // One trailing "\" is dropped, except from a drive root ("C:\") or a lone "\".
  void SetInitialDirText(const std::wstring& value);
  std::wstring GetTitleText() const;
  void SetTitleText(const std::wstring& value);
  // The chosen files, full paths; the base's 8-bit list holds the same entries.
  TVelStrings* WideFiles() const { return files_; }

  TIncludeItemEventW OnIncludeItem;
  // Asked when the user confirms a choice; CanClose false keeps the dialog open.
  ui::TCloseQueryEvent OnCanClose;

 protected:
  // The hook procedure's messages; Result is the hook's answer.
  virtual void DialogWndProc(HWND dialog, ui::TMessage& m);
  // Runs OnCanClose for the names in `record`.
  virtual bool CanCloseQuery(const OPENFILENAMEW& record);
  virtual void DoIncludeItem(const OFNOTIFYEXW& notify, bool& include);

 private:
  static BOOL WINAPI CaptureRecord(LPOPENFILENAMEA record);
  static UINT_PTR CALLBACK HookProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
  bool WideExecute(BOOL(WINAPI* func)(LPOPENFILENAMEW), HWND parent);
  void TakeFileNames(const OPENFILENAMEW& record);

  mutable std::wstring defaultExt_, fileName_, filter_, initialDir_, title_;
  TVelStringList* files_;
  OPENFILENAMEA captured_{};
  HWND dialogWindow_ = nullptr;  // the hook's dialog while it is open
  bool allowCanClose_ = false;
};

// ---- Message dialogs ------------------------------------------------------------------------

enum TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : uint8_t { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
// Bit n is button n.
using TMsgDlgButtons = uint16_t;
constexpr TMsgDlgButtons MsgDlgButton(TMsgDlgBtn b) { return static_cast<TMsgDlgButtons>(1u << b); }

// Titles and captions; a value outside the tables raises EVelInternalError.
std::wstring GetMessageCaption(unsigned type);
std::wstring GetButtonCaption(unsigned button);
// What Ctrl+C copies: title, message and button captions between lines of 27 "-".
std::wstring MessageDialogText(const std::wstring& title, const std::wstring& message,
                               const std::wstring& buttonCaptions);

// The form of a wide message box: a word-wrapped message label, an optional icon and a centred row
// of buttons. Ctrl+C copies the whole box as text.
class TVelMessageForm : public TVelForm {
  UI_DECLARE_CLASS(TVelMessageForm, TVelForm)
 public:
  TVelMessageForm() = default;
  // Takes the system's message font.
  void Create(ui::TComponent* owner) override;
  TVelLabel* Message = nullptr;
  // Title, message and button captions between divider lines.
  std::wstring FormText();

 private:
  friend TVelMessageForm* CreateWideMessageDialog(const std::wstring&, TMsgDlgType, TMsgDlgButtons, TMsgDlgBtn);
  void HandleKeyDown(ui::TObject* sender, WORD& key, int shift);
  void HandleHelp(ui::TObject* sender);  // the Help button: the application's help at HelpContext
};

// A message box that is not shown yet; the caller frees it (RunWideMessageDialog does).
TVelMessageForm* CreateWideMessageDialog(const std::wstring& msg, TMsgDlgType type, TMsgDlgButtons buttons,
                                         TMsgDlgBtn defaultButton);
// Shows the box modally at (x, y), or centred on the screen when both are negative, with its help
// topic and help file (empty: the application's); frees it on every exit and returns its modal result.
int RunWideMessageDialog(TVelMessageForm* form, int helpContext, int x, int y, const std::wstring& helpFile);
int ShowWideMessageDialogPosHelp(const std::wstring& msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext,
                                 int x, int y, const std::wstring& helpFile);
int ShowWideMessageDialogPos(const std::wstring& msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext,
                             int x, int y);
int ShowWideMessagePos(const std::wstring& msg, int x, int y);
// An OK box titled with the application's title, centred on the screen.
int ShowWideMessage(const std::wstring& msg);
