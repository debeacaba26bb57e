// Unicode windows, the window-procedure trap and the wide text of controls.
#include "VelControls.h"

#include <algorithm>
#include <vector>

#include "VelSystem.h"
#include "VelWindows.h"
#include "uiactions.h"

UINT VelDestroyWindowMessage;
ATOM LayerWindowAtom;
ATOM LayerControlAtom;

namespace {

constexpr size_t kMaxClassNameChars = 64;
const wchar_t kUnicodeClassSuffix[] = L".UnicodeClass";
constexpr WPARAM kCarriedCharMark = 255;

int velControlsModuleCount;
TWideComponentHelperList* wideHelpers;
// Traps waiting for their control's next window (not owned).
std::vector<TWinControlTrap*>* parkedTraps;
// The control whose window CreateUnicodeWindowHandle is creating right now.
ui::TWinControl* unicodeCreationControl;
bool controlsFinalized;

// The library keeps a control's 8-bit text in a protected member; the trap hands the window's text to
// it when the window goes, when the control no longer answers text messages through a window.
struct ControlTextAccess : ui::TControl {
  static constexpr std::string ui::TControl::*kText = &ControlTextAccess::text_;
};
void StoreLibraryText(ui::TControl* control, const std::string& text) { control->*ControlTextAccess::kText = text; }

// Adds a reference to an existing atom under its own name, so both sides name the same atom.
ATOM ReferenceAtom(ATOM atom) {
  char name[256];
  if (!GlobalGetAtomNameA(atom, name, sizeof name)) ui::RaiseLastOSError();
  ATOM added = GlobalAddAtomA(name);
  if (!added) ui::RaiseLastOSError();
  return added;
}

void Park(TWinControlTrap* trap) {
  if (parkedTraps) parkedTraps->push_back(trap);
}

void Unpark(TWinControlTrap* trap) {
  if (!parkedTraps) return;
  auto it = std::find(parkedTraps->begin(), parkedTraps->end(), trap);
  if (it != parkedTraps->end()) parkedTraps->erase(it);
}

// The parked trap of the control (the latest one), taken out of the list, or a new trap.
TWinControlTrap* TakeTrapForControl(ui::TWinControl* control) {
  if (parkedTraps) {
    for (size_t i = parkedTraps->size(); i-- > 0;) {
      TWinControlTrap* trap = (*parkedTraps)[i];
      if (trap->Control() == control) {
        parkedTraps->erase(parkedTraps->begin() + static_cast<std::ptrdiff_t>(i));
        return trap;
      }
    }
  }
  return ui::Create<TWinControlTrap>(control);
}

HWND AllocatedHandle(ui::TWinControl* control) {
  return control && control->HandleAllocated() ? control->GetHandle() : nullptr;
}

// The wide caption kept for a control without a window, valid while the library's text is its ANSI
// form; otherwise the library's text widened.
std::wstring KeptCaption(ui::TControl* control) {
  const std::string current = control->GetText();
  if (TWideControlHelper* helper = GetWideControlHelper(control, false)) return SyncWideText(helper->WideCaption, current);
  return AnsiToWide(current);
}

std::wstring WindowTextW(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, &text[0], length + 1);
  text.resize(static_cast<size_t>(std::max(0, std::min(got, length))));
  return text;
}

}  // namespace

UI_IMPLEMENT_CLASS(TWinControlTrap, ui::TComponent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWideControlHelper, TWideComponentHelper, nullptr, nullptr, nullptr, nullptr)

// ---- module ---------------------------------------------------------------------------------

VelControlsModule::VelControlsModule() {
  if (velControlsModuleCount++ != 0) return;
  VelDestroyWindowMessage = RegisterWindowMessageA("VelUnicodeVcl.DestroyWindow");
  wideHelpers = new TWideComponentHelperList;
  parkedTraps = new std::vector<TWinControlTrap*>;
  LayerWindowAtom = ReferenceAtom(ui::WindowAtom());
  LayerControlAtom = ReferenceAtom(ui::ControlAtom());
}

VelControlsModule::~VelControlsModule() {
  if (--velControlsModuleCount != 0) return;
  GlobalDeleteAtom(LayerControlAtom);
  GlobalDeleteAtom(LayerWindowAtom);
  TWideComponentHelperList* helpers = wideHelpers;
  wideHelpers = nullptr;
  delete helpers;
  delete parkedTraps;
  parkedTraps = nullptr;
  controlsFinalized = true;
}

// ---- Unicode windows ------------------------------------------------------------------------

void RegisterUnicodeClass(const ui::TCreateParams& params, std::wstring& unicodeClassName) {
  unicodeClassName = AnsiToWide(params.WinClassName.substr(0, kMaxClassNameChars)) + kUnicodeClassSuffix;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW existing = {};
  if (GetClassInfoW(instance, unicodeClassName.c_str(), &existing)) {
    if (existing.lpfnWndProc == UnicodeCreationHook) return;
    if (!UnregisterClassW(unicodeClassName.c_str(), instance)) ui::RaiseLastOSError();
  }
  const WNDCLASSA& source = params.WindowClass;
  std::wstring menuName;
  WNDCLASSW wc = {};
  wc.style = source.style;
  wc.lpfnWndProc = UnicodeCreationHook;
  wc.cbClsExtra = source.cbClsExtra;
  wc.cbWndExtra = source.cbWndExtra;
  wc.hInstance = instance;
  wc.hIcon = source.hIcon;
  wc.hCursor = source.hCursor;
  wc.hbrBackground = source.hbrBackground;
  if (IsIntResourceName(source.lpszMenuName)) {
    wc.lpszMenuName = reinterpret_cast<LPCWSTR>(source.lpszMenuName);
  } else {
    menuName = AnsiToWide(source.lpszMenuName);
    wc.lpszMenuName = menuName.c_str();
  }
  wc.lpszClassName = unicodeClassName.c_str();
  if (!RegisterClassW(&wc)) ui::RaiseLastOSError();
}

void CreateUnicodeWindowHandle(ui::TWinControl* control, const ui::TCreateParams& params,
                               const std::wstring& subClass) {
  if (!IsUnicodePlatform) {
    HWND h = CreateWindowExA(params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(), params.Style,
                             params.X, params.Y, params.Width, params.Height, params.WndParent, nullptr,
                             params.WindowClass.hInstance, params.Param);
    control->SetHandleDuringCreation(h);
    return;
  }
  WNDCLASSW system = {};
  if (!subClass.empty() && GetClassInfoW(params.WindowClass.hInstance, subClass.c_str(), &system))
    control->SetDefWndProc(system.lpfnWndProc);
  else
    control->SetDefWndProc(DefWindowProcW);
  std::wstring className;
  RegisterUnicodeClass(params, className);
  unicodeCreationControl = control;
  HWND h;
  try {
    h = CreateWindowExW(params.ExStyle, className.c_str(), nullptr, params.Style, params.X, params.Y, params.Width,
                        params.Height, params.WndParent, nullptr, GetModuleHandleW(nullptr), params.Param);
  } catch (...) {
    unicodeCreationControl = nullptr;
    throw;
  }
  unicodeCreationControl = nullptr;
  if (!h) ui::RaiseLastOSError();
  control->SetHandleDuringCreation(h);
  SubClassUnicodeControl(control, params.Caption);
}

LRESULT CALLBACK UnicodeCreationHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ui::TWinControl* control = ui::CreationControl();
  if (!control) return DefWindowProcW(window, message, wParam, lParam);
  control->SetHandleDuringCreation(window);
  TWinControlTrap* trap = TakeTrapForControl(control);
  Park(trap);
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(trap->LibraryWndProc()));
  if ((GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) && GetWindowLongPtrW(window, GWLP_ID) == 0)
    SetWindowLongPtrW(window, GWLP_ID, reinterpret_cast<LONG_PTR>(window));
  SetPropA(window, MAKEINTATOM(LayerControlAtom), control);
  SetPropA(window, MAKEINTATOM(LayerWindowAtom), control);
  ui::SetCreationControl(nullptr);
  return CallWindowProcW(trap->LibraryWndProc(), window, message, wParam, lParam);
}

void SubClassUnicodeControl(ui::TWinControl* control, const std::string& caption) {
  HWND window = AllocatedHandle(control);
  if (!window || !IsWindowUnicode(window))
    throw EVelInternalError("Internal Error: SubClassUnicodeControl.Control is not Unicode.");
  TWinControlTrap* trap = TakeTrapForControl(control);
  trap->Trap();
  // The window was created without a caption: this is where it gets its text, in full UTF-16.
  std::wstring text = AnsiToWide(caption);
  if (TWideControlHelper* helper = GetWideControlHelper(control, false)) text = SyncWideText(helper->WideCaption, caption);
  WideSetControlText(control, text);
}

void MakeCharMessageSafeForAnsi(ui::TMessage& message) {
  if (HIWORD(message.WParam) != 0) throw ui::EAssertionFailed("MakeCharMessageSafeForAnsi: the high word is in use");
  if (message.WParam >= 256) message.WParam = MAKEWPARAM(kCarriedCharMark, message.WParam);
}

wchar_t RestoreCharMessage(ui::TMessage& message) {
  const wchar_t carried = static_cast<wchar_t>(HIWORD(message.WParam));
  WPARAM low = LOWORD(message.WParam);
  if (carried != 0 && low == kCarriedCharMark) low = carried;
  message.WParam = low;
  return carried;
}

// ---- TWinControlTrap ------------------------------------------------------------------------

TWinControlTrap::TWinControlTrap(ui::TWinControl* control) : control_(control) {
  if (!control) throw EVelInternalError("Internal Error: TWinControlTrap needs a windowed control.");
  ui::TComponent::Create(nullptr);
  FreeNotification(control);
  libraryWndProcStub_ = ui::MakeObjectInstance(ui::TWndMethod(control, &ui::TWinControl::MainWndProc));
  trapWndProcStub_ = ui::MakeObjectInstance(ui::TWndMethod(this, &TWinControlTrap::TrapWindowProc));
  trapDefaultProcStub_ = ui::MakeObjectInstance(ui::TWndMethod(this, &TWinControlTrap::TrapDefaultProc));
}

TWinControlTrap::~TWinControlTrap() {
  Unpark(this);
  ui::FreeObjectInstance(trapDefaultProcStub_);
  ui::FreeObjectInstance(trapWndProcStub_);
  ui::FreeObjectInstance(libraryWndProcStub_);
}

void TWinControlTrap::Trap() {
  handle_ = control_->GetHandle();
  savedWndProc_ = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(handle_, GWLP_WNDPROC));
  savedDefWndProc_ = control_->GetDefWndProc();
  SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(trapWndProcStub_));
  control_->SetDefWndProc(trapDefaultProcStub_);
  if (!IsInMessageChain()) {
    savedHook_ = control_->WindowProc;
    control_->WindowProc = HookMethod();
  }
  trapped_ = true;
}

bool TWinControlTrap::IsInMessageChain() {
  if (control_->WindowProc == ui::TWndMethod(static_cast<ui::TControl*>(control_), &ui::TControl::WndProc)) return false;
  if (control_->WindowProc == HookMethod()) return true;
  // Somebody hooked the control after us: see whether the chain still passes through the trap.
  probing_ = true;
  probeSeen_ = false;
  ui::TMessage probe = {0, 0, 0, 0};
  try {
    control_->WindowProc(probe);
  } catch (...) {
    probing_ = false;
    throw;
  }
  probing_ = false;
  return probeSeen_;
}

void TWinControlTrap::Untrap() {
  if (!trapped_ || !control_) return;
  trapped_ = false;
  if (!control_->InState(ui::csDestroying)) {
    // The next window of the control shows the same text, also where the code page cannot.
    const std::wstring text = WideGetControlText(control_);
    GetWideControlHelper(control_, true)->WideCaption = text;
    StoreLibraryText(control_, WideToAnsi(text));
  }
  if (control_->WindowProc == HookMethod()) control_->WindowProc = savedHook_;
  control_->SetDefWndProc(savedDefWndProc_);
  SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(savedWndProc_));
  if (!control_->InState(ui::csDestroying)) Park(this);
}

void TWinControlTrap::TrapWindowProc(ui::TMessage& message) {
  if (controlsFinalized) {
    if ((message.Msg == WM_DESTROY || message.Msg == VelDestroyWindowMessage) && control_)
      control_->SetHandleDuringCreation(nullptr);
    return;
  }
  ++depth_;
  lastMessage_ = message.Msg;
  auto leave = [this] {
    if (--depth_ == 0 && freeWhenIdle_) Free();
  };
  try {
    message.Result = CallWindowProcW(savedWndProc_, handle_, message.Msg, message.WParam, message.LParam);
  } catch (...) {
    leave();
    throw;
  }
  leave();
}

void TWinControlTrap::TrapMessageHook(ui::TMessage& message) {
  if (probing_ && message.Msg == 0) probeSeen_ = true;
  if (!control_->HandleAllocated()) {
    control_->WndProc(message);
    return;
  }
  const UINT last = lastMessage_;
  lastMessage_ = 0;
  const UINT msg = message.Msg;
  if (last == 0 && (msg == WM_SETTEXT || msg == WM_GETTEXT || msg == WM_GETTEXTLENGTH)) {
    // Sent by the library itself with 8-bit text: the system converts between its buffer and the
    // Unicode window.
    message.Result = SendMessageA(handle_, msg, message.WParam, message.LParam);
  } else {
    if (msg == WM_CHAR) MakeCharMessageSafeForAnsi(message);
    savedHook_(message);
  }
  if (msg == VelDestroyWindowMessage) Untrap();
}

void TWinControlTrap::TrapDefaultProc(ui::TMessage& message) {
  switch (message.Msg) {
    case WM_NOTIFYFORMAT: {
      const HWND from = reinterpret_cast<HWND>(message.WParam);
      const bool wide = IsUnicodePlatform && (IsWindowUnicode(from) || (from && from == AllocatedHandle(unicodeCreationControl)));
      message.Result = wide ? NFR_UNICODE : NFR_ANSI;
      return;
    }
    case WM_CHAR:
      RestoreCharMessage(message);
      break;
    case WM_IME_CHAR:
      if (!IsVersion51OrLater) {
        message.Result = SendMessageW(handle_, WM_CHAR, message.WParam, message.LParam);
        return;
      }
      break;
    case WM_DESTROY:
      Untrap();
      break;
    case WM_ERASEBKGND:
      // The library fills the background itself only above its plain default procedure; a Unicode
      // window whose class has no procedure of its own gets the same.
      if (savedDefWndProc_ == DefWindowProcW && control_) {
        RECT r;
        GetClientRect(handle_, &r);
        FillRect(reinterpret_cast<HDC>(message.WParam), &r, control_->GetBrush()->GetHandle());
        message.Result = 1;
        return;
      }
      break;
  }
  message.Result = CallWindowProcW(savedDefWndProc_, handle_, message.Msg, message.WParam, message.LParam);
}

void TWinControlTrap::Notification(ui::TComponent* c, ui::TOperation op) {
  inherited::Notification(c, op);
  if (op != ui::opRemove || c != control_) return;
  control_ = nullptr;
  // Not under a message of the window: the outermost TrapWindowProc frees the trap when it returns.
  if (depth_ > 0)
    freeWhenIdle_ = true;
  else
    Free();
}

// ---- wide text of controls ------------------------------------------------------------------

TWideControlHelper* GetWideControlHelper(ui::TControl* control, bool create) {
  auto* helper = static_cast<TWideControlHelper*>(FindWideComponentHelperIndex(wideHelpers, control));
  if (!helper && create && wideHelpers) {
    helper = new TWideControlHelper(control, wideHelpers);
    helper->AfterConstruction();
  }
  return helper;
}

namespace {
// A windowed control whose window exists but is not Unicode (made before the layer, or off the road).
bool HasAnsiWindow(ui::TWinControl* w) { return w && w->HandleAllocated() && !IsWindowUnicode(w->GetHandle()); }
}  // namespace

std::wstring WideGetControlText(ui::TControl* control) {
  auto* w = ui::As<ui::TWinControl>(control);
  if (!IsUnicodePlatform || HasAnsiWindow(w)) return AnsiToWide(control->GetText());
  if (!w) {
    if (TWideControlHelper* helper = GetWideControlHelper(control, false))
      return SyncWideText(helper->WideCaption, control->GetText());
    return AnsiToWide(control->GetText());
  }
  if (w->HandleAllocated()) return WindowTextW(w->GetHandle());
  return KeptCaption(w);
}

void WideSetControlText(ui::TControl* control, const std::wstring& text) {
  auto* w = ui::As<ui::TWinControl>(control);
  if (!IsUnicodePlatform || HasAnsiWindow(w)) {
    control->SetText(WideToAnsi(text));
  } else if (!w) {
    TWideControlHelper* helper = GetWideControlHelper(control, true);
    SetSyncedWideText(text, helper->WideCaption, control->GetText(),
                      [control](const std::string& s) { control->SetText(s); });
  } else if (w->HandleAllocated()) {
    if (WindowTextW(w->GetHandle()) == text) return;
    WideSetWindowText(w->GetHandle(), text.c_str());
    w->Perform(ui::CM_TEXTCHANGED, 0, 0);
  } else {
    GetWideControlHelper(w, true)->WideCaption = text;
    w->SetText(WideToAnsi(text));
  }
}

std::wstring WideGetControlHint(ui::TControl* control) {
  if (IsUnicodePlatform)
    if (TWideControlHelper* helper = GetWideControlHelper(control, false))
      return SyncWideText(helper->WideHint, control->GetHint());
  return AnsiToWide(control->GetHint());
}

void WideSetControlHint(ui::TControl* control, const std::wstring& hint) {
  if (!IsUnicodePlatform) {
    control->SetHint(WideToAnsi(hint));
    return;
  }
  TWideControlHelper* helper = GetWideControlHelper(control, true);
  SetSyncedWideText(hint, helper->WideHint, control->GetHint(),
                    [control](const std::string& s) { control->SetHint(s); });
}

std::wstring WideGetHintOfControlOrParent(ui::TControl* control) {
  for (ui::TControl* c = control; c; c = c->GetParent()) {
    std::wstring hint = WideGetControlHint(c);
    if (!hint.empty()) return hint;
  }
  return std::wstring();
}

std::wstring WideGetShortHint(const std::wstring& hint) {
  const size_t bar = hint.find(L'|');
  return bar == std::wstring::npos ? hint : hint.substr(0, bar);
}

std::wstring WideGetLongHint(const std::wstring& hint) {
  const size_t bar = hint.find(L'|');
  return bar == std::wstring::npos ? hint : hint.substr(bar + 1);
}

bool IsWideCaptionStored(ui::TControl* control) {
  ui::TControlActionLink* link = control->ActionLink();
  return !link || !link->IsCaptionLinked();
}

bool IsWideHintStored(ui::TControl* control) {
  ui::TControlActionLink* link = control->ActionLink();
  return !link || !link->IsHintLinked();
}
