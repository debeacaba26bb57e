// Unicode forms, the application's wide title and hint, and the message hook for wide characters.
#include "VelForms.h"

#include <algorithm>
#include <vector>

#include "VelSystem.h"
#include "uifiler.h"

TVelApplication* VelApplication;
HHOOK WideGetMessageHookHandle;

namespace {

int velFormsModuleCount;

// The character after the last single "&" of a caption ("&&" is a literal ampersand, a final "&"
// marks nothing); 0 when there is none.
wchar_t CaptionHotKey(const std::wstring& caption) {
  wchar_t key = 0;
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != L'&') continue;
    if (caption[i + 1] != L'&') key = caption[i + 1];
    ++i;
  }
  return key;
}

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
  return {ui::prop::WStr("Caption", &TVelForm::GetCaptionText, &TVelForm::SetCaptionText),
          ui::prop::WStr("Hint", &TVelForm::GetHintText, &TVelForm::SetHintText)};
}

UI_IMPLEMENT_CLASS(TVelForm, ui::TForm, ui::DefaultFactory<TVelForm>, VelFormProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelApplication, ui::TComponent, nullptr, nullptr, nullptr, nullptr)

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

void TVelForm::CreateWindowHandle(const ui::TCreateParams& params) {
  if (!IsUnicodePlatform) {
    inherited::CreateWindowHandle(params);
    return;
  }
  ui::TCreateParams p = params;
  p.ExStyle &= ~static_cast<DWORD>(WS_EX_LAYERED);
  CreateUnicodeWindowHandle(this, p, std::wstring());
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
  return false;
}

bool TVelApplication::ProcessMessage(MSG& message) {
  if (message.message != WM_CHAR || message.wParam < 256 || !IsWindowUnicode(message.hwnd)) return false;
  bool handled = false;
  if (ui::Application && ui::Application->OnMessage) ui::Application->OnMessage(message, handled);
  if (!handled) DispatchMessageW(&message);
  return true;
}

// ---- accelerators ---------------------------------------------------------------------------

bool IsWideCharAccel(unsigned charCode, const std::wstring& caption) {
  const wchar_t key = CaptionHotKey(caption);
  if (key == 0) return false;
  const wchar_t pressed = KeyCharToWide(charCode);
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, &pressed, 1, &key, 1) == CSTR_EQUAL;
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
