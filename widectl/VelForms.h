// Unicode forms and the application's wide text.
//
// A TVelForm is a form of the library whose window is a Unicode window on the Unicode platform and
// whose Caption and Hint are wide. Beside the forms stands one TVelApplication: it gives the
// application a wide title and a wide hint, and a message hook makes characters above 255 typed into
// Unicode windows reach them intact although the library's loop reads messages with the 8-bit entry
// points.
#pragma once
#include <windows.h>

#include <string>

#include "VelActnList.h"
#include "VelControls.h"
#include "uiforms.h"

using TWideCaption = std::wstring;

class TVelForm : public ui::TForm {
  UI_DECLARE_CLASS(TVelForm, ui::TForm)
 public:
  TVelForm() = default;
  // Builds the form without the library's layout loading, then reads the layouts of the form's
  // classes below TVelForm (a plain TVelForm has none); raises the library's EResNotFound
  // "Resource %s not found" when a descendant has none.
  void Create(ui::TComponent* owner) override;
  void DefineProperties(ui::TFiler* filer) override;
  TWideCaption GetCaptionText() const;
  void SetCaptionText(const TWideCaption& caption);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& hint);
  // The library's idle-time update of the form's actions, then the application's wide hint.
  void UpdateActions() override;
  // After the window moved or its reading order changed the native menu strings may be stale: the
  // form's menu (and for reading order every menu it owns) is refreshed.
  void WndProc(ui::TMessage& message) override;
  // A document frame on the Unicode platform leaves its messages to DefFrameProcW.
  void DefaultHandler(ui::TMessage& message) override;

 protected:
  // A Unicode window, or a Unicode document child of the main form; a layered form gets its alpha
  // and colour key again, as the window is made without the layered style.
  void CreateWindowHandle(const ui::TCreateParams& params) override;
  void DestroyWindowHandle() override;

 private:
  // The application's wide hint follows the menu item selected in the form's menu.
  void MenuSelect(ui::TMessage& message);
  VEL_WIDE_ACTION_HOOKS
};

class TVelAppIdleEventControl;

class TVelApplication : public ui::TComponent {
  UI_DECLARE_CLASS(TVelApplication, ui::TComponent)
 public:
  TVelApplication() = default;
  // Hooks the library's application window (its WM_CREATE included when it does not exist yet).
  void Create(ui::TComponent* owner) override;
  void BeforeDestruction() override;

  std::wstring GetHintText();
  void SetHintText(const std::wstring& hint);
  // The title of the application window, which the task bar shows; a title set before the window
  // exists is applied when it is created. The library's 8-bit title follows as its ANSI form.
  std::wstring GetTitleText();
  void SetTitleText(const std::wstring& title);
  // The idle work: takes the wide hint of the control under the mouse as the application's hint while
  // the library's hint is its ANSI form.
  void UpdateWideHint();
  // What the message hook does with each message taken from the queue: gives a WM_CHAR above 255 for
  // a Unicode window to that window in full, through IsDialogMessage of the library's current dialog
  // window when there is one (true: taken; never while that dialog window is not Unicode). The first time a main form exists and is
  // not a TVelForm, it gets an idle control.
  bool ProcessMessage(MSG& message);

 private:
  friend class TVelAppIdleEventControl;
  // WM_CREATE of the application window applies a pending wide title; a library hint action that
  // carries the application's hint goes out as a wide hint action instead.
  bool MainWindowHook(ui::TMessage& message);
  bool mainFormSeen_ = false;
  std::wstring hint_;
  TVelAppIdleEventControl* idleControl_ = nullptr;
  std::wstring title_;
};

// Placed on a main form that is not a TVelForm: its action's idle-time update keeps the application's
// wide hint current there too.
class TVelAppIdleEventControl : public ui::TControl {
  UI_DECLARE_CLASS(TVelAppIdleEventControl, ui::TControl)
 public:
  TVelAppIdleEventControl() = default;
  void Create(ui::TComponent* owner) override;
  void BeforeDestruction() override;

 private:
  void UpdateHint(ui::TObject* sender);
};

// The application object of the layer (made by the forms module's start-up).
extern TVelApplication* VelApplication;
// The thread's message hook (WH_GETMESSAGE) on the Unicode platform, else null.
extern HHOOK WideGetMessageHookHandle;

// Whether the character of a key message (KeyCharToWide) is the caption's accelerator: the character
// after its last single "&", compared without regard to case.
bool IsWideCharAccel(unsigned charCode, const std::wstring& caption);

// Start-up (the application object and the message hook) runs once per process, the last module of
// the layer; shut-down first.
struct VelFormsModule {
  VelFormsModule();
  ~VelFormsModule();
};
static VelFormsModule velFormsModuleInstance;
