// Unicode windows for the library's controls and the wide text of every control.
//
// On the Unicode platform a windowed control of the layer gets a Unicode window: a copy of its window
// class registered under a Unicode class name, created with CreateWindowExW, and a trap object put
// between the system and the library's message handling. Three layers, in this order:
//   the trap's window procedure -> the library's main window procedure of the control, with the trap's
//   message hook in front of the control's own handler -> the trap's default procedure in front of the
//   procedure the window class had.
// The trap keeps the window Unicode while the library handles its messages in 8-bit text, carries
// characters above 255 through the library, answers notification-format queries and hands the window
// text over to the next window when the window is re-created. Off the Unicode platform the window is
// made exactly as the library makes it.
//
// Every control also has a wide caption and a wide hint: a Unicode window keeps its text itself;
// otherwise a companion (TWideControlHelper) stores the wide values beside the library's 8-bit ones,
// valid while their ANSI forms are what the library holds (SyncWideText).
#pragma once
#include <windows.h>

#include <string>

#include "VelClasses.h"
#include "VelSysUtils.h"
#include "uicontrols.h"

// Sent to a window whose default processing bypasses the trap's default procedure, so that the trap
// comes off before the window goes ("VelUnicodeVcl.DestroyWindow").
extern UINT VelDestroyWindowMessage;
// References to the two atoms under which the library finds the control object of a window; a Unicode
// window carries the same two window properties as a library window.
extern ATOM LayerWindowAtom;
extern ATOM LayerControlAtom;

// ---- Unicode windows ------------------------------------------------------------------------

// Creates the window of `control` in place of the library's window creation. `subClass` names the
// system class whose window procedure the window runs below the library ("EDIT", "BUTTON", a common
// control class), or is empty. Raises the last system error when the window cannot be created.
void CreateUnicodeWindowHandle(ui::TWinControl* control, const ui::TCreateParams& params,
                               const std::wstring& subClass);
// Registers (or re-registers) the Unicode window class for the creation parameters: the 8-bit class
// name (up to 64 characters) + ".UnicodeClass", with UnicodeCreationHook as its procedure.
void RegisterUnicodeClass(const ui::TCreateParams& params, std::wstring& unicodeClassName);
// Attaches the trap to the freshly created Unicode window of `control` and gives the window its text:
// the control's wide caption when it still holds, else `caption` (the 8-bit caption) widened.
void SubClassUnicodeControl(ui::TWinControl* control, const std::string& caption);
// The window procedure of every Unicode class: attaches the new window to the control the library is
// creating, then runs the library's window procedure.
LRESULT CALLBACK UnicodeCreationHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The library reads a WM_CHAR's character from the low byte: a character of 256 or more travels in the
// high word with 255 in the low word. Restoring gives the low word the carried character back unless
// a handler replaced the 255 (for example with 0 to swallow the key); the high word is cleared.
void MakeCharMessageSafeForAnsi(ui::TMessage& message);
wchar_t RestoreCharMessage(ui::TMessage& message);

// The trap of one windowed control; it lives while the control has a window or waits for its next one.
class TWinControlTrap : public ui::TComponent {
  UI_DECLARE_CLASS(TWinControlTrap, ui::TComponent)
 public:
  explicit TWinControlTrap(ui::TWinControl* control);
  ~TWinControlTrap() override;

  // Takes over the window of the control (its window procedure, default procedure and message hook).
  void Trap();
  // Gives everything back; unless the control is going, keeps the window's text for the next window
  // and waits among the parked traps.
  void Untrap();
  // The window procedure of the Unicode window.
  void TrapWindowProc(ui::TMessage& message);
  // The control's message hook while trapped.
  void TrapMessageHook(ui::TMessage& message);
  // The control's default window procedure while trapped.
  void TrapDefaultProc(ui::TMessage& message);
  // The stub that runs the library's window procedure of the control (the window's procedure until
  // Trap runs, and again after Untrap).
  WNDPROC LibraryWndProc() const { return libraryWndProcStub_; }
  ui::TWinControl* Control() const { return control_; }

 protected:
  void Notification(ui::TComponent* c, ui::TOperation op) override;

 private:
  bool IsInMessageChain();
  ui::TWndMethod HookMethod() { return ui::TWndMethod(this, &TWinControlTrap::TrapMessageHook); }

  WNDPROC libraryWndProcStub_;
  WNDPROC trapWndProcStub_;
  WNDPROC trapDefaultProcStub_;
  ui::TWinControl* control_;
  HWND handle_ = nullptr;
  WNDPROC savedWndProc_ = nullptr;
  WNDPROC savedDefWndProc_ = nullptr;
  ui::TWndMethod savedHook_;
  bool trapped_ = false;
  UINT lastMessage_ = 0;  // a message that came through the window and has not reached the hook yet
  int depth_ = 0;         // nesting of TrapWindowProc
  bool freeWhenIdle_ = false;
  bool probing_ = false;
  bool probeSeen_ = false;
};

// ---- wide text of controls ------------------------------------------------------------------

// The companion of one control.
class TWideControlHelper : public TWideComponentHelper {
  UI_DECLARE_CLASS(TWideControlHelper, TWideComponentHelper)
 public:
  TWideControlHelper(ui::TControl* control, TWideComponentHelperList* registry)
      : TWideComponentHelper(control, registry), Control(control) {}
  ui::TControl* Control;
  std::wstring WideCaption;
  std::wstring WideHint;
};

// The registered companion of `control`; when it has none, a new one when `create`, else null.
TWideControlHelper* GetWideControlHelper(ui::TControl* control, bool create);

std::wstring WideGetControlText(ui::TControl* control);
// On a Unicode window an unchanged text sends nothing; a changed one sets the window text and sends
// the control the library's text-changed notification.
void WideSetControlText(ui::TControl* control, const std::wstring& text);
std::wstring WideGetControlHint(ui::TControl* control);
// Assigns the library's hint without its change notification, as the library's own setter does.
void WideSetControlHint(ui::TControl* control, const std::wstring& hint);
// The wide hint of the control or of the nearest parent that has one; empty when none has.
std::wstring WideGetHintOfControlOrParent(ui::TControl* control);
// The stored tests of the wide Caption and Hint properties: not stored while the control's action
// link says the control shows the action's caption (hint).
bool IsWideCaptionStored(ui::TControl* control);
bool IsWideHintStored(ui::TControl* control);
// The parts of a hint "short|long"; a hint without "|" is both.
std::wstring WideGetShortHint(const std::wstring& hint);
std::wstring WideGetLongHint(const std::wstring& hint);

// Start-up (message, atoms, companion registry, parked traps) runs once per process, after the
// platform flags (VelSysUtils.h) and before any file including this header runs its own static
// initializers; shut-down in reverse.
struct VelControlsModule {
  VelControlsModule();
  ~VelControlsModule();
};
static VelControlsModule velControlsModuleInstance;
