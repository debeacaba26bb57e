// Unicode forms, the application's wide title and hint, and the message hook for wide characters.
#include "VelForms.h"

#include <algorithm>
#include <vector>

#include "VelMenus.h"
#include "VelStdActns.h"
#include "VelSystem.h"
#include "uifiler.h"
#include "uimenus.h"

TVelApplication* VelApplication;
HHOOK WideGetMessageHookHandle;

namespace {

int velFormsModuleCount;

// The library's message after a control's reading order changed.
constexpr UINT kBiDiModeChanged = 0xB03C;

// The control under the mouse: the library's window there, or its windowless child under the point.
ui::TControl* ControlUnderMouse() {
  POINT p;
  if (!GetCursorPos(&p)) return nullptr;
  HWND h = WindowFromPoint(p);
  ui::TWinControl* w = ui::FindControl(h);
  if (!w) return nullptr;
  ScreenToClient(h, &p);
  for (int i = w->ControlCount(); i-- > 0;) {
    ui::TControl* c = w->Controls(i);
    if (c->Is<ui::TWinControl>() || !c->GetVisible()) continue;
    RECT r = c->BoundsRect();
    if (PtInRect(&r, p)) return c;
  }
  return w;
}

std::wstring HintUnderMouse() {
  ui::TControl* c = ControlUnderMouse();
  return c ? WideGetLongHint(WideGetHintOfControlOrParent(c)) : std::wstring();
}

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= HC_ACTION && wParam == PM_REMOVE && VelApplication) {
    MSG* message = reinterpret_cast<MSG*>(lParam);
    try {
      // Handled here: the library's loop gets a message it ignores.
      if (VelApplication->ProcessMessage(*message)) message->message = WM_NULL;
    } catch (...) {
      if (ui::Application) ui::Application->HandleException(VelApplication);
    }
  }
  return CallNextHookEx(WideGetMessageHookHandle, code, wParam, lParam);
}

}  // namespace

static std::vector<ui::TPropInfo> VelFormProps() {
  ui::TPropInfo caption = ui::prop::WStr("Caption", &TVelForm::GetCaptionText, &TVelForm::SetCaptionText);
  caption.Stored = [](ui::TObject* o) { return IsWideCaptionStored(static_cast<TVelForm*>(o)); };
  ui::TPropInfo hint = ui::prop::WStr("Hint", &TVelForm::GetHintText, &TVelForm::SetHintText);
  hint.Stored = [](ui::TObject* o) { return IsWideHintStored(static_cast<TVelForm*>(o)); };
  return {caption, hint};
}

UI_IMPLEMENT_CLASS(TVelForm, ui::TForm, ui::DefaultFactory<TVelForm>, VelFormProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelApplication, ui::TComponent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelAppIdleEventControl, ui::TControl, nullptr, nullptr, nullptr, nullptr)

// ---- TVelForm -------------------------------------------------------------------------------

void TVelForm::Create(ui::TComponent* owner) {
  const bool readLayouts = LoadsLayout();
  SetLoadsLayout(false);
  inherited::Create(owner);
  if (!readLayouts || ClassType() == &TVelForm::StaticClassInfo || InState(ui::csDesigning)) return;
  // The form is still creating (its creation event runs after construction).
  if (!ui::InitInheritedComponent(this, &TVelForm::StaticClassInfo))
    throw ui::EResNotFound(ui::Format(ui::SResNotFound, ClassName().c_str()));
}

void TVelForm::DefineProperties(ui::TFiler* filer) {
  inherited::DefineProperties(filer);
  DefineWidePropertyFilers(filer, this);
}

TWideCaption TVelForm::GetCaptionText() const { return WideGetControlText(const_cast<TVelForm*>(this)); }
void TVelForm::SetCaptionText(const TWideCaption& caption) { WideSetControlText(this, caption); }
std::wstring TVelForm::GetHintText() const { return WideGetControlHint(const_cast<TVelForm*>(this)); }
void TVelForm::SetHintText(const std::wstring& hint) { WideSetControlHint(this, hint); }

void TVelForm::UpdateActions() {
  inherited::UpdateActions();
  if (VelApplication) VelApplication->UpdateWideHint();
}

void TVelForm::WndProc(ui::TMessage& message) {
  if (message.Msg == WM_MENUSELECT && GetMenu()) {
    MenuSelect(message);
    return;
  }
  inherited::WndProc(message);
  if (message.Msg == WM_WINDOWPOSCHANGING) {
    RefreshMenuStrings(GetMenu());
  } else if (message.Msg == kBiDiModeChanged) {
    for (int i = 0; i < ComponentCount(); ++i)
      if (auto* menu = ui::As<ui::TMenu>(Components(i))) RefreshMenuStrings(menu);
  }
}

void TVelForm::DefaultHandler(ui::TMessage& message) {
  HWND client = ClientHandle();
  if (!client || !IsUnicodePlatform || !handle_) {
    inherited::DefaultHandler(message);
    return;
  }
  // The frame sizes its client window itself.
  message.Result = message.Msg == WM_SIZE ? DefWindowProcW(handle_, message.Msg, message.WParam, message.LParam)
                                          : DefFrameProcW(handle_, client, message.Msg, message.WParam, message.LParam);
  // The frame's default processing passes by the trap's default procedure, which takes the trap off.
  if (message.Msg == WM_DESTROY) SendMessageW(handle_, VelDestroyWindowMessage, 0, 0);
}

void TVelForm::MenuSelect(ui::TMessage& message) {
  const UINT flags = HIWORD(message.WParam), id = LOWORD(message.WParam);
  ui::TMenuItem* item = nullptr;
  const bool closing = flags == 0xFFFF && id == 0;
  if (!closing) {
    if (flags & MF_POPUP)
      item = GetMenu()->FindItem(
          reinterpret_cast<UINT_PTR>(GetSubMenu(reinterpret_cast<HMENU>(message.LParam), static_cast<int>(id))), true);
    else
      item = GetMenu()->FindItem(id, false);
  }
  if (VelApplication) VelApplication->SetHintText(item ? WideGetLongHint(MenuItemWideHint(item)) : std::wstring());
  message.Result = 0;
}

void TVelForm::CreateWindowHandle(const ui::TCreateParams& params) {
  if (!IsUnicodePlatform) {
    inherited::CreateWindowHandle(params);
    return;
  }
  if (GetFormStyle() != ui::fsMDIChild || InState(ui::csDesigning)) {
    ui::TCreateParams p = params;
    p.ExStyle &= ~static_cast<DWORD>(WS_EX_LAYERED);
    CreateUnicodeWindowHandle(this, p, std::wstring());
    SetFormStateBits(ui::fsCreatedMDIChild, false);
  } else {
    HWND client = ui::MDIClientOfMainForm();
    std::wstring className;
    RegisterUnicodeClass(params, className);
    SetDefWndProc(DefMDIChildProcW);
    HWND h = CreateMDIWindowW(className.c_str(), nullptr, params.Style, params.X, params.Y, params.Width, params.Height,
                              client, GetModuleHandleW(nullptr), reinterpret_cast<LPARAM>(params.Param));
    if (!h) ui::RaiseLastOSError();
    SetHandleDuringCreation(h);
    SubClassUnicodeControl(this, params.Caption);
    SetFormStateBits(ui::fsCreatedMDIChild, true);
  }
  // Switched off and on again: the layered style and its attributes go onto the new window.
  if (GetAlphaBlend()) {
    SetAlphaBlend(false);
    SetAlphaBlend(true);
  } else if (GetTransparentColor()) {
    SetTransparentColor(false);
    SetTransparentColor(true);
  }
}

void TVelForm::DestroyWindowHandle() {
  if (IsUnicodePlatform && HandleAllocated()) {
    // Looked up by name: the 32-bit import library lacks the flat scroll bar entry points.
    using UninitializeFlatSBProc = HRESULT(WINAPI*)(HWND);
    static const auto uninitialize = reinterpret_cast<UninitializeFlatSBProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "UninitializeFlatSB")));
    if (uninitialize) uninitialize(GetHandle());
  }
  inherited::DestroyWindowHandle();
}

// ---- TVelApplication ------------------------------------------------------------------------

void TVelApplication::Create(ui::TComponent* owner) {
  inherited::Create(owner);
  if (ui::Application) ui::Application->HookMainWindow(ui::TWindowHook(this, &TVelApplication::MainWindowHook));
}

void TVelApplication::BeforeDestruction() {
  if (idleControl_) idleControl_->Free();
  if (ui::Application) ui::Application->UnhookMainWindow(ui::TWindowHook(this, &TVelApplication::MainWindowHook));
  inherited::BeforeDestruction();
}

std::wstring TVelApplication::GetHintText() {
  const std::wstring hint = HintUnderMouse();
  const std::string current = ui::Application->GetHint();
  if (current == WideToAnsi(hint)) hint_ = hint;
  return SyncWideText(hint_, current);
}

void TVelApplication::SetHintText(const std::wstring& hint) {
  SetSyncedWideText(hint, hint_, ui::Application->GetHint(),
                    [](const std::string& s) { ui::Application->SetHint(s); });
}

void TVelApplication::UpdateWideHint() {
  const std::wstring hint = HintUnderMouse();
  if (ui::Application->GetHint() == WideToAnsi(hint)) SetHintText(hint);
}

std::wstring TVelApplication::GetTitleText() {
  if (ui::Application->HandleAllocated() && IsUnicodePlatform) {
    HWND h = ui::Application->Handle();
    const LRESULT length = DefWindowProcW(h, WM_GETTEXTLENGTH, 0, 0);
    std::wstring title(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    const LRESULT got = DefWindowProcW(h, WM_GETTEXT, title.size(), reinterpret_cast<LPARAM>(&title[0]));
    title.resize(static_cast<size_t>(std::max<LRESULT>(0, std::min(got, length))));
    return title;
  }
  return SyncWideText(title_, ui::Application->GetTitle());
}

void TVelApplication::SetTitleText(const std::wstring& title) {
  if (ui::Application->HandleAllocated() && IsUnicodePlatform) {
    if (GetTitleText() == title && title_.empty()) return;
    // The library keeps its 8-bit title beside the window's (message boxes take it): it gets the
    // ANSI form first, then the window gets the wide title.
    ui::Application->SetTitle(WideToAnsi(title));
    DefWindowProcW(ui::Application->Handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()));
    title_.clear();
    return;
  }
  // Kept until the application window is created.
  SetSyncedWideText(title, title_, ui::Application->GetTitle(),
                    [](const std::string& s) { ui::Application->SetTitle(s); });
}

bool TVelApplication::MainWindowHook(ui::TMessage& message) {
  if (message.Msg == WM_CREATE && !title_.empty()) {
    const std::wstring title = SyncWideText(title_, ui::Application->GetTitle());
    title_.clear();
    SetTitleText(title);
  }
  if (message.Msg == ui::CM_ACTIONEXECUTE) {
    auto* action = reinterpret_cast<ui::TBasicAction*>(message.LParam);
    if (!action || action->ClassType() != &ui::THintAction::StaticClassInfo) return false;
    const std::wstring hint = GetHintText();
    if (static_cast<ui::THintAction*>(action)->GetHint() != WideToAnsi(hint)) return false;
    message.Result = 1;
    TVelHintAction* wide = ui::New<TVelHintAction>(this);
    try {
      wide->SetHintText(hint);
      wide->Execute();
    } catch (...) {
      wide->Free();
      throw;
    }
    wide->Free();
    return true;
  }
  return false;
}

bool TVelApplication::ProcessMessage(MSG& message) {
  if (!mainFormSeen_ && ui::Application && ui::Application->MainForm()) {
    ui::TCustomForm* mainForm = ui::Application->MainForm();
    if (!mainForm->Is<TVelForm>()) ui::New<TVelAppIdleEventControl>(mainForm);
    mainFormSeen_ = true;
  }
  if (message.message != WM_CHAR || message.wParam < 256 || !IsWindowUnicode(message.hwnd)) return false;
  HWND dialog = ui::Application ? ui::Application->DialogHandle : nullptr;
  if (dialog && !IsWindow(dialog)) dialog = nullptr;
  // An 8-bit dialog window takes its characters through the library's loop.
  if (dialog && !IsWindowUnicode(dialog)) return false;
  bool handled = false;
  if (ui::Application && ui::Application->OnMessage) ui::Application->OnMessage(message, handled);
  if (ui::Application) ui::Application->CancelHint();
  if (!handled && !(dialog && IsDialogMessageW(dialog, &message))) DispatchMessageW(&message);
  return true;
}

// ---- TVelAppIdleEventControl ---------------------------------------------------------------

void TVelAppIdleEventControl::Create(ui::TComponent* owner) {
  inherited::Create(owner);
  SetParentFont(false);
  if (auto* form = ui::As<ui::TWinControl>(owner)) SetParent(form);
  SetVisible(true);
  TVelAction* action = ui::New<TVelAction>(this);
  action->OnExecute = ui::TNotifyEvent(this, &TVelAppIdleEventControl::UpdateHint);
  action->OnUpdate = ui::TNotifyEvent(this, &TVelAppIdleEventControl::UpdateHint);
  SetAction(action);
  if (VelApplication) VelApplication->idleControl_ = this;
}

void TVelAppIdleEventControl::BeforeDestruction() {
  if (VelApplication && VelApplication->idleControl_ == this) VelApplication->idleControl_ = nullptr;
  inherited::BeforeDestruction();
}

void TVelAppIdleEventControl::UpdateHint(ui::TObject*) {
  if (VelApplication) VelApplication->UpdateWideHint();
}

// ---- accelerators ---------------------------------------------------------------------------

bool IsWideCharAccel(unsigned charCode, const std::wstring& caption) {
  const std::wstring key = HotKeyOfCaption(caption);
  if (key.empty()) return false;
  const wchar_t pressed = KeyCharToWide(charCode);
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, &pressed, 1, key.c_str(), static_cast<int>(key.size())) ==
         CSTR_EQUAL;
}

// ---- module ---------------------------------------------------------------------------------

VelFormsModule::VelFormsModule() {
  if (velFormsModuleCount++ != 0) return;
  ui::RegisterClass(&TVelForm::StaticClassInfo);
  VelApplication = ui::New<TVelApplication>(nullptr);
  if (IsUnicodePlatform) {
    WideGetMessageHookHandle = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());
    if (!WideGetMessageHookHandle) ui::RaiseLastOSError();
  }
}

VelFormsModule::~VelFormsModule() {
  if (--velFormsModuleCount != 0) return;
  if (WideGetMessageHookHandle) {
    UnhookWindowsHookEx(WideGetMessageHookHandle);
    WideGetMessageHookHandle = nullptr;
  }
  TVelApplication* app = VelApplication;
  VelApplication = nullptr;
  if (app) app->Free();
}
