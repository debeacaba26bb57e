#include "uiforms.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>

#include "uiactions.h"
#include "uifiler.h"
#include "uimenus.h"
#include "uithreads.h"

namespace ui {

static std::vector<TPropInfo> FormProps() {
  using T = TCustomForm;
  auto caption = prop::Str("Caption", &T::GetCaption, &T::SetCaption);
  return {caption,
          prop::Enum("BorderStyle", &T::GetBorderStyle, &T::SetBorderStyle,
                     {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"}, true, bsSizeable),
          prop::Set("BorderIcons", &T::GetBorderIcons, &T::SetBorderIcons, {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"},
                    true, int(biSystemMenu | biMinimize | biMaximize)),
          prop::Enum("Position", &T::GetPosition, &T::SetPosition,
                     {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly", "poScreenCenter",
                      "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"},
                     true, poDefaultPosOnly),
          prop::Enum("FormStyle", &T::GetFormStyle, &T::SetFormStyle, {"fsNormal", "fsStayOnTop", "fsMDIChild", "fsMDIForm"},
                     true, fsNormal),
          prop::Bool("AlphaBlend", &T::GetAlphaBlend, &T::SetAlphaBlend, false),
          prop::Int("AlphaBlendValue", &T::GetAlphaBlendValue, &T::SetAlphaBlendValue, true, 255),
          prop::Bool("TransparentColor", &T::GetTransparentColor, &T::SetTransparentColor, false),
          prop::Int("TransparentColorValue", &T::GetTransparentColorValue, &T::SetTransparentColorValue, true, 0),
          prop::Enum("WindowState", &T::GetWindowState, &T::SetWindowState, {"wsNormal", "wsMinimized", "wsMaximized"},
                     true, wsNormal),
          prop::Bool("KeyPreview", &T::GetKeyPreview, &T::SetKeyPreview, false),
          prop::Object<T, TWinControl>("ActiveControl", &T::GetActiveControl, &T::SetActiveControl),
          prop::Object<T, TMainMenu>("Menu", &T::GetMenu, &T::SetMenu),
          prop::Int("ClientWidth", &T::GetClientWidthProp, &T::SetClientWidthProp, true, 0),
          prop::Int("ClientHeight", &T::GetClientHeightProp, &T::SetClientHeightProp, true, 0),
          prop::Int("PixelsPerInch", &T::GetPixelsPerInch, &T::SetPixelsPerInch, true, 96),
          prop::Int("ModalResult", &T::GetModalResult, &T::SetModalResult, true, 0),
          prop::Event("OnCreate", &T::OnCreate),
          prop::Event("OnDestroy", &T::OnDestroy),
          prop::Event("OnShow", &T::OnShow),
          prop::Event("OnHide", &T::OnHide),
          prop::Event("OnActivate", &T::OnActivate),
          prop::Event("OnDeactivate", &T::OnDeactivate),
          prop::Event("OnPaint", &T::OnPaint),
          prop::Event("OnClose", &T::OnClose),
          prop::Event("OnCloseQuery", &T::OnCloseQuery)};
}
static std::vector<TPropInfo> TimerProps() {
  using T = TTimer;
  return {prop::Bool("Enabled", &T::GetEnabled, &T::SetEnabled, true),
          prop::Int("Interval", &T::GetInterval, &T::SetInterval, true, 1000), prop::Event("OnTimer", &T::OnTimer)};
}
static std::vector<TPropInfo> AppEventsProps() {
  using T = TApplicationEvents;
  return {prop::Event("OnException", &T::OnException), prop::Event("OnMessage", &T::OnMessage),
          prop::Event("OnIdle", &T::OnIdle)};
}

UI_IMPLEMENT_CLASS(TCustomForm, TCustomControl, nullptr, FormProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TForm, TCustomForm, DefaultFactory<TForm>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TApplication, TComponent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TScreen, TComponent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TApplicationEvents, TComponent, DefaultFactory<TApplicationEvents>, AppEventsProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TTimer, TComponent, DefaultFactory<TTimer>, TimerProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(THintWindow, TCustomControl, DefaultFactory<THintWindow>, nullptr, nullptr, nullptr)

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {
std::vector<TApplicationEvents*> appEvents;

void ApplicationExceptionHook(TObject* sender) {
  if (Application) Application->HandleException(sender);
}

// The application window once it exists; threads post to it to wake the loop for their synchronised
// calls (before it exists, to the main thread's queue).
std::atomic<HWND> appWindow{nullptr};
void WakeApplication() {
  HWND h = appWindow.load();
  if (!h || !PostMessageA(h, WM_NULL, 0, 0)) PostThreadMessageA(MainThreadID(), WM_NULL, 0, 0);
}

struct Startup {
  Startup() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    Application = new TApplication();
    Application->Create(nullptr);
    Screen = new TScreen();
    Screen->Create(nullptr);
    SetWindowExceptionHook(&ApplicationExceptionHook);
    WakeMainThread = &WakeApplication;
    RegisterClasses({&TForm::StaticClassInfo, &TTimer::StaticClassInfo, &TApplicationEvents::StaticClassInfo});
  }
  ~Startup() {
    // Forms still alive are freed with their owner, the application, while the system still runs.
    try {
      if (Application) Application->Free();
      if (Screen) Screen->Free();
    } catch (...) {
    }
    WakeMainThread = nullptr;
    Application = nullptr;
    Screen = nullptr;
  }
} startup;

constexpr char kUtilWindowClass[] = "UiUtilWindow";

// The two timers of the hint: the pause before it shows and the time it stays.
constexpr UINT_PTR kHintPauseTimer = 0x4801, kHintHideTimer = 0x4802;
// Command identifiers of the document children that a frame's client window lists in a window menu.
constexpr UINT kFirstMDIChildId = 0xFF00;
}  // namespace

const char* const SNoMDIForm = "Cannot create form. No MDI forms are currently active";

HWND MDIClientOfMainForm() {
  TCustomForm* main = Application ? Application->MainForm() : nullptr;
  if (main && main->GetFormStyle() == fsMDIForm) main->HandleNeeded();
  if (!main || !main->ClientHandle()) throw EInvalidOperation(SNoMDIForm);
  return main->ClientHandle();
}

TCustomForm* GetParentForm(TControl* c) { return static_cast<TCustomForm*>(ParentFormControl(c)); }

std::string GetShortHint(const std::string& hint) {
  size_t bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(0, bar);
}

std::string GetLongHint(const std::string& hint) {
  size_t bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

std::string GetHintOfControlOrParent(TControl* c) {
  for (; c; c = c->GetParent())
    if (!c->GetHint().empty()) return c->GetHint();
  return std::string();
}

TControl* FindControlAtPos(POINT p) {
  TWinControl* w = nullptr;
  for (HWND h = WindowFromPoint(p); h && !w; h = ::GetParent(h)) w = FindControl(h);
  if (!w) return nullptr;
  // A windowless child at that point (the top-most) stands in for its parent.
  POINT c = w->ScreenToClient(p);
  for (int i = w->ControlCount() - 1; i >= 0; --i) {
    TControl* x = w->Controls(i);
    if (x->Is<TWinControl>() || !x->GetVisible()) continue;
    RECT r = x->BoundsRect();
    if (PtInRect(&r, c)) return x;
  }
  return w;
}

// ---- THintWindow ----

THintWindow::THintWindow() {
  visible_ = false;
  parentColor_ = false;
  parentFont_ = false;
  color_ = clInfoBk;
  brush_->SetColor(color_);
  NONCLIENTMETRICSA ncm{};
  ncm.cbSize = sizeof ncm;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) {
    if (HFONT f = CreateFontIndirectA(&ncm.lfStatusFont)) {
      font_->SetHandle(f);
      DeleteObject(f);
    }
  }
  font_->SetColor(clInfoText);
  parentFont_ = false;
}

void THintWindow::CreateParams(TCreateParams& p) {
  TCustomControl::CreateParams(p);
  p.Style = WS_POPUP | WS_BORDER;
  p.ExStyle |= WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
  p.WindowClass.style |= CS_SAVEBITS;
  p.WndParent = Application ? Application->Handle() : nullptr;
}

void THintWindow::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_NCHITTEST:
      // The hint never takes the mouse from the control below it.
      m.Result = HTTRANSPARENT;
      return;
    case CM_TEXTCHANGED:
      if (!activating_) {
        std::string t = GetText();
        canvas_->SetFont(font_);
        SetBounds(left_, top_, canvas_->TextWidth(t) + 6, canvas_->TextHeight(t) + 6);
      }
      break;
  }
  TCustomControl::WndProc(m);
}

void THintWindow::Paint() {
  RECT r = GetClientRect();
  r.left += 2;
  r.top += 2;
  canvas_->SetFont(font_);
  canvas_->Font()->SetColor(clInfoText);
  canvas_->Brush()->SetStyle(bsClear);
  std::string t = GetText();
  DrawTextA(canvas_->GetHandle(), t.c_str(), static_cast<int>(t.size()), &r, DT_LEFT | DT_NOPREFIX | DT_WORDBREAK);
}

RECT THintWindow::CalcHintRect(int maxWidth, const std::string& hint, void* data) {
  (void)data;
  RECT r{0, 0, maxWidth, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font_->GetHandle());
  DrawTextA(dc, hint.c_str(), static_cast<int>(hint.size()), &r, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  r.right += 6;
  r.bottom += 2;
  return r;
}

void THintWindow::ActivateHint(RECT r, const std::string& hint) {
  bool was = activating_;
  activating_ = true;
  try {
    SetCaption(hint);
    // Kept inside the screen: moved left or up rather than cut.
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    if (r.right > sw) OffsetRect(&r, sw - r.right, 0);
    if (r.bottom > sh) OffsetRect(&r, 0, sh - r.bottom);
    if (r.left < 0) OffsetRect(&r, -r.left, 0);
    if (r.top < 0) OffsetRect(&r, 0, -r.top);
    SetWindowPos(GetHandle(), HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE);
    visible_ = true;
    Invalidate();
  } catch (...) {
    activating_ = was;
    throw;
  }
  activating_ = was;
}

void THintWindow::ActivateHintData(RECT r, const std::string& hint, void* data) {
  (void)data;
  ActivateHint(r, hint);
}

bool THintWindow::IsHintMsg(const MSG& msg) {
  UINT m = msg.message;
  return (m >= WM_KEYFIRST && m <= WM_KEYLAST) || m == CM_ACTIVATE || m == CM_DEACTIVATE || m == WM_COMMAND ||
         (m > WM_MOUSEMOVE && m <= WM_MOUSELAST) || m == WM_NCMOUSEMOVE;
}

void THintWindow::ReleaseHandle() {
  visible_ = false;
  DestroyHandle();
}

HWND AllocateHWnd(const TWndMethod& method) {
  WNDCLASSA wc{};
  HINSTANCE inst = GetModuleHandleA(nullptr);
  if (!GetClassInfoA(inst, kUtilWindowClass, &wc)) {
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = inst;
    wc.lpszClassName = kUtilWindowClass;
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  // A top-level window that is never shown: message-only windows do not receive broadcasts.
  HWND h = CreateWindowExA(WS_EX_TOOLWINDOW, kUtilWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
  if (!h) RaiseLastOSError();
  if (method) SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MakeObjectInstance(method)));
  return h;
}

void DeallocateHWnd(HWND h) {
  if (!h) return;
  auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(h, GWLP_WNDPROC));
  DestroyWindow(h);
  if (proc != DefWindowProcA) FreeObjectInstance(proc);
}

// ---- TCustomForm ----

TCustomForm::TCustomForm() {
  visible_ = false;
  color_ = clBtnFace;
  parentColor_ = false;
  parentFont_ = false;
  width_ = 320;
  height_ = 240;
  font_->SetName("MS Shell Dlg 2");
  font_->SetHeight(-11);
  brush_->SetColor(color_);
  formState_ = fsCreating;
}

void TCustomForm::Create(TComponent* owner) {
  TCustomControl::Create(owner);
  if (Screen) Screen->AddForm(this);
  if (loadLayout_ && ClassType() != &TForm::StaticClassInfo && ClassType() != &TCustomForm::StaticClassInfo) {
    if (!InitInheritedComponent(this, &TForm::StaticClassInfo))
      throw EResNotFound(Format(SResNotFound, ClassName().c_str()));
  }
}

void TCustomForm::AfterConstruction() {
  formState_ &= ~fsCreating;
  if (OnCreate) OnCreate(this);
  if (visible_ && !InState(csLoading)) Show();
}

void TCustomForm::BeforeDestruction() {
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      HandleWindowException(this);
    }
  }
  if (Screen) Screen->RemoveForm(this);
  if (Application && Application->mainForm_ == this) Application->mainForm_ = nullptr;
  TCustomControl::BeforeDestruction();
}

TCustomForm::~TCustomForm() {
  if (Screen) Screen->RemoveForm(this);
}

void TCustomForm::Notification(TComponent* c, TOperation op) {
  TCustomControl::Notification(c, op);
  if (op == opRemove) {
    if (c == activeControl_) activeControl_ = nullptr;
    if (c == menu_) SetMenu(nullptr);
  }
}

void TCustomForm::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  if (root == this)
    for (int i = 0; i < ComponentCount(); ++i)
      if (!Components(i)->HasParent()) proc(Components(i));
  TCustomControl::GetChildren(proc, root);
}

void TCustomForm::Loaded() {
  TCustomControl::Loaded();
  if (clientWidth_ > 0 || clientHeight_ > 0) SetClientSize(clientWidth_ ? clientWidth_ : GetClientWidth(),
                                                            clientHeight_ ? clientHeight_ : GetClientHeight());
}

void TCustomForm::CreateParams(TCreateParams& p) {
  TCustomControl::CreateParams(p);
  p.Style &= ~static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_TABSTOP);
  p.Style |= WS_CLIPCHILDREN;
  DWORD icons = 0;
  if (borderIcons_ & biSystemMenu) {
    icons |= WS_SYSMENU;
    if (borderIcons_ & biMinimize) icons |= WS_MINIMIZEBOX;
    if (borderIcons_ & biMaximize) icons |= WS_MAXIMIZEBOX;
  }
  switch (borderStyle_) {
    case bsNone:
      p.Style |= WS_POPUP;
      break;
    case bsSingle:
      p.Style |= WS_CAPTION | WS_BORDER | icons;
      break;
    case bsSizeable:
      p.Style |= WS_CAPTION | WS_THICKFRAME | icons;
      break;
    case bsDialog:
      p.Style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
      p.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
      break;
    case bsToolWindow:
      p.Style |= WS_CAPTION | (borderIcons_ & biSystemMenu ? WS_SYSMENU : 0);
      p.ExStyle |= WS_EX_TOOLWINDOW;
      break;
    case bsSizeToolWin:
      p.Style |= WS_CAPTION | WS_THICKFRAME | (borderIcons_ & biSystemMenu ? WS_SYSMENU : 0);
      p.ExStyle |= WS_EX_TOOLWINDOW;
      break;
  }
  if ((borderIcons_ & biHelp) && !(borderIcons_ & (biMinimize | biMaximize))) p.ExStyle |= WS_EX_CONTEXTHELP;
  if (formStyle_ == fsStayOnTop) p.ExStyle |= WS_EX_TOPMOST;
  if ((alphaBlend_ || transparentColor_) && !parent_ && formStyle_ != fsMDIChild) p.ExStyle |= WS_EX_LAYERED;
  if (!parent_) {
    // Secondary forms belong to the main form so that they stay above it.
    p.WndParent = parentWindow_;
    if (!p.WndParent && Application && Application->MainForm() && Application->MainForm() != this &&
        Application->MainForm()->HandleAllocated())
      p.WndParent = Application->MainForm()->GetHandle();
    if (position_ == poDefault || position_ == poDefaultPosOnly) {
      p.X = CW_USEDEFAULT;
      p.Y = CW_USEDEFAULT;
    }
  }
  if (windowState_ == wsMaximized) p.Style |= WS_MAXIMIZE;
  if (windowState_ == wsMinimized) p.Style |= WS_MINIMIZE;
  if (formStyle_ == fsMDIChild && !parent_) {
    // The frame's client window makes the child (it adds WS_CHILD itself).
    p.Style &= ~static_cast<DWORD>(WS_POPUP);
    p.ExStyle |= WS_EX_MDICHILD;
    TCustomForm* main = Application ? Application->MainForm() : nullptr;
    p.WndParent = main ? main->ClientHandle() : nullptr;
  }
}

void TCustomForm::CreateWindowHandle(const TCreateParams& p) {
  if (formStyle_ == fsMDIChild && !parent_ && !InState(csDesigning)) {
    HWND client = MDIClientOfMainForm();
    SetDefWndProc(DefMDIChildProcA);
    handle_ = CreateMDIWindowA(p.WinClassName.c_str(), p.Caption.c_str(), p.Style, p.X, p.Y, p.Width, p.Height, client,
                               p.WindowClass.hInstance, reinterpret_cast<LPARAM>(p.Param));
    if (!handle_) RaiseLastOSError();
    formState_ |= fsCreatedMDIChild;
    return;
  }
  TCustomControl::CreateWindowHandle(p);
  formState_ &= ~fsCreatedMDIChild;
  // A layered window stays invisible until it has its attributes.
  if (handle_) UpdateLayeredAttributes();
}

void TCustomForm::DestroyWindowHandle() {
  if (handle_ && (formState_ & fsCreatedMDIChild)) {
    SendMessageA(::GetParent(handle_), WM_MDIDESTROY, reinterpret_cast<WPARAM>(handle_), 0);
    handle_ = nullptr;
    formState_ &= ~fsCreatedMDIChild;
    return;
  }
  TCustomControl::DestroyWindowHandle();
}

void TCustomForm::DestroyWnd() {
  // The client window takes the children's windows with it: their forms let them go first.
  if (clientHandle_ && Screen)
    for (TCustomForm* f : std::vector<TCustomForm*>(Screen->forms_))
      if (f != this && f->HandleAllocated() && ::GetParent(f->handle_) == clientHandle_) f->DestroyHandle();
  TCustomControl::DestroyWnd();
  clientHandle_ = nullptr;
}

void TCustomForm::DefaultHandler(TMessage& m) {
  if (clientHandle_ && handle_) {
    m.Result = DefFrameProcA(handle_, clientHandle_, m.Msg, m.WParam, m.LParam);
    return;
  }
  TCustomControl::DefaultHandler(m);
}

void TCustomForm::UpdateLayeredAttributes() {
  if (!handle_ || parent_ || formStyle_ == fsMDIChild) return;
  const LONG_PTR ex = GetWindowLongPtrA(handle_, GWL_EXSTYLE);
  if (!alphaBlend_ && !transparentColor_) {
    if (ex & WS_EX_LAYERED) {
      SetWindowLongPtrA(handle_, GWL_EXSTYLE, ex & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
      RedrawWindow(handle_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
    }
    return;
  }
  if (!(ex & WS_EX_LAYERED)) SetWindowLongPtrA(handle_, GWL_EXSTYLE, ex | WS_EX_LAYERED);
  SetLayeredWindowAttributes(handle_, ColorToRGB(transparentColorValue_), static_cast<BYTE>(alphaBlendValue_),
                             (alphaBlend_ ? LWA_ALPHA : 0) | (transparentColor_ ? LWA_COLORKEY : 0));
}

void TCustomForm::SetAlphaBlend(bool v) {
  if (v == alphaBlend_) return;
  alphaBlend_ = v;
  UpdateLayeredAttributes();
}

void TCustomForm::SetAlphaBlendValue(int v) {
  v = std::max(0, std::min(v, 255));
  if (v == alphaBlendValue_) return;
  alphaBlendValue_ = v;
  UpdateLayeredAttributes();
}

void TCustomForm::SetTransparentColor(bool v) {
  if (v == transparentColor_) return;
  transparentColor_ = v;
  UpdateLayeredAttributes();
}

void TCustomForm::SetTransparentColorValue(TColor c) {
  if (c == transparentColorValue_) return;
  transparentColorValue_ = c;
  UpdateLayeredAttributes();
}

void TCustomForm::CreateWnd() {
  TCustomControl::CreateWnd();
  if (menu_) {
    menu_->WindowHandle = handle_;
    ::SetMenu(handle_, menu_->GetHandle());
  }
  if (formStyle_ == fsMDIForm && !clientHandle_) {
    CLIENTCREATESTRUCT ccs{nullptr, kFirstMDIChildId};
    RECT r;
    ::GetClientRect(handle_, &r);
    clientHandle_ = CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                                    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_HSCROLL | WS_VSCROLL, 0,
                                    0, r.right, r.bottom, handle_, nullptr, GetModuleHandleA(nullptr), &ccs);
    if (!clientHandle_) RaiseLastOSError();
  }
  if (clientWidth_ > 0 || clientHeight_ > 0)
    TWinControl::SetClientSize(clientWidth_ ? clientWidth_ : GetClientWidth(), clientHeight_ ? clientHeight_ : GetClientHeight());
}

RECT TCustomForm::GetClientRect() {
  if (handle_) return TCustomControl::GetClientRect();
  // Without a window the client area follows from the window style.
  TCreateParams p;
  TCustomForm::CreateParams(p);
  RECT r{0, 0, 0, 0};
  AdjustWindowRectEx(&r, p.Style, menu_ != nullptr, p.ExStyle);
  return RECT{0, 0, std::max(0L, width_ - (r.right - r.left)), std::max(0L, height_ - (r.bottom - r.top))};
}

void TCustomForm::SetClientWidthProp(int w) {
  clientWidth_ = w;
  if (!InState(csLoading)) SetClientSize(w, GetClientHeight());
}

void TCustomForm::SetClientHeightProp(int h) {
  clientHeight_ = h;
  if (!InState(csLoading)) SetClientSize(GetClientWidth(), h);
}

void TCustomForm::SetBorderStyle(TFormBorderStyle s) {
  if (s == borderStyle_) return;
  borderStyle_ = s;
  RecreateWnd();
}

void TCustomForm::SetBorderIcons(int s) {
  if (s == borderIcons_) return;
  borderIcons_ = s;
  RecreateWnd();
}

void TCustomForm::SetFormStyle(TFormStyle s) {
  if (s == formStyle_) return;
  const bool document = s == fsMDIChild || s == fsMDIForm || formStyle_ == fsMDIChild || formStyle_ == fsMDIForm;
  formStyle_ = s;
  if (document) {
    RecreateWnd();
    return;
  }
  if (handle_)
    SetWindowPos(handle_, s == fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TCustomForm::SetWindowState(TWindowState s) {
  if (s == windowState_) return;
  windowState_ = s;
  if (handle_ && visible_) ShowWindow(handle_, s == wsMaximized ? SW_SHOWMAXIMIZED : s == wsMinimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
}

void TCustomForm::SetMenu(TMainMenu* m) {
  if (m == menu_) return;
  if (menu_) {
    menu_->RemoveFreeNotification(this);
    menu_->WindowHandle = nullptr;
  }
  menu_ = m;
  if (m) {
    m->FreeNotification(this);
    m->WindowHandle = handle_;
  }
  if (handle_) {
    ::SetMenu(handle_, m ? m->GetHandle() : nullptr);
    DrawMenuBar(handle_);
  }
}

void TCustomForm::SetActiveControl(TWinControl* c) {
  if (c == activeControl_) return;
  if (c && (c == this || GetParentForm(c) != this)) throw EInvalidOperation("Invalid active control");
  if (InState(csLoading) || !handle_ || !active_) {
    activeControl_ = c;
    return;
  }
  if (c) c->SetFocus();
}

bool TCustomForm::SetFocusedControl(TWinControl* c) {
  if (c == this) {
    // The form itself got the focus: hand it on to the active control.
    if (activeControl_ && activeControl_->HandleAllocated() && activeControl_->CanFocus()) {
      ::SetFocus(activeControl_->GetHandle());
      return false;
    }
    return true;
  }
  if (c == activeControl_) return true;
  TWinControl* old = activeControl_;
  activeControl_ = c;
  // OnExit of the control left comes before OnEnter of the control entered.
  if (old) old->DoExit();
  if (activeControl_ == c && c) c->DoEnter();
  return true;
}

void TCustomForm::FocusControl(TWinControl* c) { SetActiveControl(c); }

bool TCustomForm::IsShortCut(WORD key, int shift) { return menu_ && menu_->IsShortCut(key, shift); }

void TCustomForm::UpdateActions() {
  if (InState(csDesigning | csDestroying)) return;
  InitiateAction();
  std::function<void(TMenuItem*)> items = [&](TMenuItem* item) {
    for (int i = 0; i < item->Count(); ++i) items(item->Items(i));
    item->InitiateAction();
  };
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* menu = As<TMenu>(Components(i))) items(menu->Items());
  std::function<void(TWinControl*)> walk = [&](TWinControl* w) {
    for (int i = 0; i < w->ControlCount(); ++i) {
      TControl* c = w->Controls(i);
      if (!c->GetVisible()) continue;
      c->InitiateAction();
      if (auto* cw = As<TWinControl>(c)) walk(cw);
    }
  };
  walk(this);
}

void TCustomForm::SelectFirst() {
  if (activeControl_ && activeControl_->CanFocus()) {
    ::SetFocus(activeControl_->GetHandle());
    return;
  }
  if (TWinControl* c = FindNextControl(nullptr, true, true, false)) ::SetFocus(c->GetHandle());
}

void TCustomForm::ApplyPosition() {
  if (positioned_ || parent_) return;
  positioned_ = true;
  RECT wa;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &wa, 0);
  int x = left_, y = top_;
  switch (position_) {
    case poScreenCenter:
    case poDesktopCenter:
      x = (GetSystemMetrics(SM_CXSCREEN) - width_) / 2;
      y = (GetSystemMetrics(SM_CYSCREEN) - height_) / 2;
      break;
    case poMainFormCenter:
    case poOwnerFormCenter: {
      TCustomForm* center = position_ == poOwnerFormCenter ? As<TCustomForm>(Owner()) : nullptr;
      if (!center && Application) center = Application->MainForm();
      if (center && center != this) {
        x = center->GetLeft() + (center->GetWidth() - width_) / 2;
        y = center->GetTop() + (center->GetHeight() - height_) / 2;
      } else {
        x = (GetSystemMetrics(SM_CXSCREEN) - width_) / 2;
        y = (GetSystemMetrics(SM_CYSCREEN) - height_) / 2;
      }
      break;
    }
    default:
      return;
  }
  x = std::max<int>(wa.left, std::min<int>(x, wa.right - width_));
  y = std::max<int>(wa.top, std::min<int>(y, wa.bottom - height_));
  SetBounds(x, y, width_, height_);
}

void TCustomForm::SetVisible(bool v) {
  if (InState(csLoading) || (formState_ & fsCreating)) {
    visible_ = v;
    return;
  }
  if (v) {
    HandleNeeded();
    ApplyPosition();
    visible_ = true;
    int cmd = windowState_ == wsMaximized ? SW_SHOWMAXIMIZED : windowState_ == wsMinimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
    ShowWindow(handle_, cmd);
    if (windowState_ != wsMinimized) SetForegroundWindow(handle_);
  } else {
    visible_ = false;
    if (handle_) ShowWindow(handle_, SW_HIDE);
  }
}

void TCustomForm::Show() {
  SetVisible(true);
  if (handle_) BringWindowToTop(handle_);
}

void TCustomForm::DoShow() {
  if (OnShow) OnShow(this);
}

void TCustomForm::DoHide() {
  if (OnHide) OnHide(this);
}

void TCustomForm::DoClose(TCloseAction& action) {
  if (OnClose) OnClose(this, action);
}

bool TCustomForm::CloseQuery() {
  bool can = true;
  if (OnCloseQuery) OnCloseQuery(this, can);
  return can;
}

void TCustomForm::Close() {
  if (formState_ & fsModal) {
    // A modal form closes through its loop: only the result is set here.
    modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    Hide();
  } else if (action == caHide) {
    Hide();
  } else if (action == caMinimize) {
    SetWindowState(wsMinimized);
  } else {
    Release();
  }
}

void TCustomForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    DoClose(action);
  }
  if (action == caNone) modalResult_ = mrNone;
  else if (action == caFree) Release();
}

void TCustomForm::Release() {
  if (handle_) PostMessageA(handle_, CM_RELEASE, 0, 0);
  else Free();
}

namespace {
struct DisabledWindows {
  HWND except;
  std::vector<HWND> list;
};
BOOL CALLBACK DisableOne(HWND h, LPARAM lp) {
  auto* d = reinterpret_cast<DisabledWindows*>(lp);
  if (h != d->except && IsWindowVisible(h) && IsWindowEnabled(h)) {
    d->list.push_back(h);
    EnableWindow(h, FALSE);
  }
  return TRUE;
}
}  // namespace

int TCustomForm::ShowModal() {
  if (visible_ || !enabled_ || (formState_ & fsModal)) throw EInvalidOperation(SVisibleChanged);
  if (GetCapture()) SendMessageA(GetCapture(), WM_CANCELMODE, 0, 0);
  ReleaseCapture();
  HandleNeeded();
  formState_ |= fsModal;
  DisabledWindows disabled{handle_, {}};
  HWND activeBefore = GetActiveWindow();
  EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
  auto restore = [&] {
    for (HWND h : disabled.list)
      if (IsWindow(h)) EnableWindow(h, TRUE);
    formState_ &= ~fsModal;
    if (activeBefore && IsWindow(activeBefore)) SetActiveWindow(activeBefore);
  };
  try {
    modalResult_ = mrNone;
    Show();
    SendMessageA(handle_, CM_ACTIVATE, 0, 0);
    do {
      Application->HandleMessage();
      if (Application->Terminated()) modalResult_ = mrCancel;
      else if (modalResult_ != mrNone) CloseModal();
    } while (modalResult_ == mrNone);
    SendMessageA(handle_, CM_DEACTIVATE, 0, 0);
    Hide();
  } catch (...) {
    restore();
    if (handle_) Hide();
    throw;
  }
  restore();
  return modalResult_;
}

bool TCustomForm::DialogKey(WORD key, LPARAM keyData) {
  int shift = KeyDataToShiftState(keyData);
  switch (key) {
    case VK_TAB:
      if (shift & ssCtrl) return false;
      SelectNext(activeControl_, !(shift & ssShift), true);
      return true;
    case VK_RETURN:
    case VK_ESCAPE:
      // Buttons answer CM_DIALOGKEY when they are the default (Enter) or cancel (Escape) button.
      for (TControl* c : std::vector<TControl*>(controls_))
        if (c->GetVisible() && c->GetEnabled() && c->Perform(CM_DIALOGKEY, key, keyData)) return true;
      {
        std::vector<TWinControl*> all;
        GetTabOrderList(all);
        for (TWinControl* w : all)
          if (w->GetParent() != this && w->GetVisible() && w->GetEnabled() && w->Perform(CM_DIALOGKEY, key, keyData))
            return true;
      }
      return false;
  }
  return false;
}

bool TCustomForm::DialogChar(char c) {
  std::vector<TControl*> all;
  std::function<void(TWinControl*)> collect = [&](TWinControl* w) {
    for (int i = 0; i < w->ControlCount(); ++i) {
      TControl* x = w->Controls(i);
      all.push_back(x);
      if (auto* ww = As<TWinControl>(x)) collect(ww);
    }
  };
  collect(this);
  for (TControl* x : all)
    if (x->Showing() && x->GetEnabled() && x->Perform(CM_DIALOGCHAR, static_cast<uint8_t>(c), 0)) return true;
  return false;
}

void TCustomForm::Paint() {
  if (OnPaint) OnPaint(this);
}

void TCustomForm::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_CLOSE:
      Close();
      m.Result = 0;
      return;
    case WM_SHOWWINDOW:
      TCustomControl::WndProc(m);
      if (m.WParam) {
        formState_ |= fsVisible;
        DoShow();
      } else {
        formState_ &= ~fsVisible;
        DoHide();
      }
      return;
    case WM_ACTIVATE:
      TCustomControl::WndProc(m);
      if (LOWORD(m.WParam) != WA_INACTIVE) {
        active_ = true;
        if (OnActivate) OnActivate(this);
        if (!HIWORD(m.WParam)) SelectFirst();
      } else {
        active_ = false;
        if (OnDeactivate) OnDeactivate(this);
      }
      return;
    case WM_COMMAND:
    case WM_INITMENUPOPUP:
    case WM_MENUSELECT:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
      // Menu commands, sub-menus opening, hints and owner drawing of the form's menu.
      if (DispatchMenuMessage(menu_, m)) return;
      break;
    case CM_DIALOGKEY:
      m.Result = DialogKey(static_cast<WORD>(m.WParam), m.LParam);
      return;
    case CM_ACTIONEXECUTE: {
      // The active control first, then every control of the form.
      auto* action = reinterpret_cast<TBasicAction*>(m.LParam);
      m.Result = 0;
      if (activeControl_ && activeControl_->ExecuteAction(action)) {
        m.Result = 1;
        return;
      }
      std::function<bool(TWinControl*)> walk = [&](TWinControl* w) {
        if (w->ExecuteAction(action)) return true;
        for (int i = 0; i < w->ControlCount(); ++i) {
          TControl* c = w->Controls(i);
          if (!c->GetVisible()) continue;
          if (auto* cw = As<TWinControl>(c)) {
            if (walk(cw)) return true;
          } else if (c->ExecuteAction(action)) {
            return true;
          }
        }
        return false;
      };
      m.Result = walk(this) ? 1 : 0;
      return;
    }
    case CM_DIALOGCHAR:
      m.Result = DialogChar(static_cast<char>(m.WParam));
      return;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED: {
      // The system sends these to top-level windows only: the form passes them on to every control
      // on it, which realise their palettes (the answer is 1 when one of them did). A change the
      // form's own window caused goes to no one, or realising would start it again.
      m.Result = 0;
      if (m.Msg == WM_PALETTECHANGED && HWND(m.WParam) == handle_) return;
      std::function<void(TWinControl*)> walk = [&](TWinControl* w) {
        for (int i = 0; i < w->ControlCount(); ++i) {
          TControl* c = w->Controls(i);
          if (c->Perform(m.Msg, m.WParam, m.LParam) != 0) m.Result = 1;
          if (auto* cw = As<TWinControl>(c)) walk(cw);
        }
      };
      walk(this);
      return;
    }
    case CM_RELEASE:
      Free();
      return;
    case WM_SETFOCUS:
      // Focus given to the form goes to its active control.
      TCustomControl::WndProc(m);
      return;
    case WM_SIZE:
      TCustomControl::WndProc(m);
      if (clientHandle_) {
        RECT r;
        ::GetClientRect(handle_, &r);
        MoveWindow(clientHandle_, 0, 0, r.right, r.bottom, TRUE);
      }
      return;
  }
  TCustomControl::WndProc(m);
}

// ---- TApplication ----

TApplication::TApplication() : HintWindowClass(&THintWindow::StaticClassInfo) {}

void TApplication::BeforeDestruction() {
  mainForm_ = nullptr;
  CancelHint();
  SetWatched(mouseControl_, nullptr);
  TComponent::BeforeDestruction();
  if (handle_) {
    appWindow = nullptr;
    DestroyWindow(handle_);
    handle_ = nullptr;
  }
}

void TApplication::Initialize() { Handle(); }

namespace {
constexpr char kAppWindowClass[] = "TApplication";
}

HWND TApplication::Handle() {
  if (handle_) return handle_;
  HINSTANCE inst = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (!GetClassInfoA(inst, kAppWindowClass, &wc)) {
    wc.lpfnWndProc = AppWndProc;
    wc.hInstance = inst;
    wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = kAppWindowClass;
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  // Never shown: it owns the title and sees the hooks; WM_CREATE already reaches the hooks.
  handle_ = CreateWindowExA(0, kAppWindowClass, title_.c_str(), WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU,
                            0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
  if (!handle_) RaiseLastOSError();
  appWindow = handle_;
  return handle_;
}

LRESULT CALLBACK TApplication::AppWndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  if (!Application) return DefWindowProcA(h, msg, wParam, lParam);
  if (!Application->handle_) Application->handle_ = h;  // messages sent during CreateWindowExA
  try {
    if (!Application->RunMainWindowHooks(m)) Application->WndProc(m);
  } catch (...) {
    Application->HandleException(Application);
  }
  return m.Result;
}

void TApplication::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_NULL:
      CheckSynchronize();
      return;
    case WM_CLOSE:
      if (mainForm_) mainForm_->Close();
      return;
    case WM_ACTIVATEAPP:
      if (m.WParam && OnActivate) OnActivate(this);
      if (!m.WParam && OnDeactivate) OnDeactivate(this);
      break;
    case CM_ACTIONEXECUTE:
      m.Result = DispatchAction(m.Msg, reinterpret_cast<TBasicAction*>(m.LParam)) ? 1 : 0;
      return;
    case WM_TIMER:
      if (m.WParam == kHintPauseTimer || m.WParam == kHintHideTimer) {
        HintTimerExpired(m.WParam);
        return;
      }
      break;
  }
  m.Result = DefWindowProcA(handle_, m.Msg, m.WParam, m.LParam);
}

void TApplication::SetTitle(const std::string& t) {
  title_ = t;
  if (handle_) SetWindowTextA(handle_, t.c_str());
}

void TApplication::SetHint(const std::string& h) {
  if (h == hint_) return;
  hint_ = h;
  if (OnHint) {
    OnHint(this);
    return;
  }
  // Without a handler the hint goes out as a hint action to whatever shows hints.
  THintAction* a = New<THintAction>(this);
  try {
    a->SetHint(h);
    a->Execute();
  } catch (...) {
    a->Free();
    throw;
  }
  a->Free();
}

void TApplication::SetWatched(TControl*& field, TControl* c) {
  if (field == c) return;
  TControl* old = field;
  field = c;
  // The notification stays while the other field still holds the control.
  if (old && old != hintControl_ && old != mouseControl_) old->RemoveFreeNotification(this);
  if (c) c->FreeNotification(this);
}

void TApplication::Notification(TComponent* c, TOperation op) {
  TComponent::Notification(c, op);
  if (op != opRemove) return;
  if (c == hintControl_) {
    StopHintTimer();
    if (hintWindow_) hintWindow_->ReleaseHandle();
    hintControl_ = nullptr;
  }
  if (c == mouseControl_) mouseControl_ = nullptr;
  if (c == hintWindow_) hintWindow_ = nullptr;
}

void TApplication::SetShowHint(bool v) {
  if (v == showHint_) return;
  showHint_ = v;
  if (!v) {
    CancelHint();
    if (hintWindow_) FreeAndNil(hintWindow_);
  }
}

void TApplication::StartHintTimer(int ms, UINT_PTR kind) {
  StopHintTimer();
  if (SetTimer(Handle(), kind, static_cast<UINT>(std::max(ms, 1)), nullptr)) hintTimer_ = kind;
}

void TApplication::StopHintTimer() {
  if (hintTimer_ && handle_) KillTimer(handle_, hintTimer_);
  hintTimer_ = 0;
}

void TApplication::CancelHint() {
  StopHintTimer();
  if (hintWindow_) hintWindow_->ReleaseHandle();
  hintActive_ = false;
  SetWatched(hintControl_, nullptr);
}

void TApplication::HintMouseMessage(TControl* control, const TMessage& m) {
  if (!showHint_) return;
  if (m.Msg != WM_MOUSEMOVE) {
    // A click or a wheel turn ends the hint; the mouse must move again to bring it back.
    CancelHint();
    return;
  }
  POINT p{static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam))};
  p = control->ClientToScreen(p);
  TControl* target = FindControlAtPos(p);
  if (!target) target = control;
  // The nearest control (the target or a parent) that shows hints.
  TControl* hc = target;
  while (hc && !hc->GetShowHint()) hc = hc->GetParent();
  if (!hc || hc->InState(csDesigning)) {
    CancelHint();
    return;
  }
  if (hc == hintControl_) return;
  bool shortPause = hintActive_;
  if (hintWindow_) hintWindow_->ReleaseHandle();
  SetWatched(hintControl_, hc);
  StartHintTimer(shortPause ? HintShortPause : HintPause, kHintPauseTimer);
}

void TApplication::HintTimerExpired(UINT_PTR kind) {
  StopHintTimer();
  if (kind == kHintHideTimer) {
    if (hintWindow_) hintWindow_->ReleaseHandle();
    return;
  }
  POINT p;
  GetCursorPos(&p);
  if (hintControl_) ActivateHint(p);
}

void TApplication::ActivateHint(POINT cursorPos) {
  TControl* c = hintControl_;
  if (!c || !showHint_) return;
  THintInfo info;
  info.HintControl = c;
  info.HintWindowClass = HintWindowClass;
  info.HintPos = POINT{cursorPos.x, cursorPos.y + GetSystemMetrics(SM_CYCURSOR) / 2 + 4};
  info.HintMaxWidth = Screen ? Screen->Width() : GetSystemMetrics(SM_CXSCREEN);
  info.HintColor = HintColor;
  info.CursorRect = c->GetClientRect();
  info.CursorPos = c->ScreenToClient(cursorPos);
  info.HideTimeout = HintHidePause;
  info.HintStr = GetShortHint(GetHintOfControlOrParent(c));
  if (HintShortCuts) {
    auto* a = As<TCustomAction>(c->GetAction());
    if (a && a->GetShortCut() != 0 && !info.HintStr.empty())
      info.HintStr = Format("%s (%s)", info.HintStr.c_str(), ShortCutToText(a->GetShortCut()).c_str());
  }
  bool canShow = c->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info)) == 0;
  if (canShow && OnShowHint) OnShowHint(info.HintStr, canShow, info);
  if (hintControl_ != c) return;  // the handlers moved on
  if (!canShow || info.HintStr.empty() || !c->Showing()) {
    if (hintWindow_) hintWindow_->ReleaseHandle();
    hintActive_ = false;
    return;
  }
  TClass cls = info.HintWindowClass ? info.HintWindowClass : &THintWindow::StaticClassInfo;
  if (!cls->InheritsFrom(&THintWindow::StaticClassInfo))
    throw EInvalidOperation(Format("%s is not a hint window class", cls->Name));
  if (hintWindow_ && hintWindow_->ClassType() != cls) FreeAndNil(hintWindow_);
  if (!hintWindow_) {
    hintWindow_ = static_cast<THintWindow*>(NewComponent(cls, this));
    hintWindow_->FreeNotification(this);
  }
  hintWindow_->SetColor(info.HintColor);
  RECT r = hintWindow_->CalcHintRect(info.HintMaxWidth, info.HintStr, info.HintData);
  OffsetRect(&r, info.HintPos.x, info.HintPos.y);
  hintWindow_->ActivateHintData(r, info.HintStr, info.HintData);
  hintActive_ = true;
  if (info.HideTimeout > 0) StartHintTimer(info.HideTimeout, kHintHideTimer);
}

TControl* TApplication::DoMouseIdle() {
  POINT p;
  TControl* c = GetCursorPos(&p) ? FindControlAtPos(p) : nullptr;
  if (c && c->InState(csDesigning)) c = nullptr;
  if (c != mouseControl_) {
    TControl* old = mouseControl_;
    SetWatched(mouseControl_, c);
    if (old) old->Perform(CM_MOUSELEAVE, 0, 0);
    if (c) c->Perform(CM_MOUSEENTER, 0, 0);
  }
  return c;
}

bool TApplication::ExecuteAction(TBasicAction* action) {
  bool handled = false;
  if (OnActionExecute) OnActionExecute(action, handled);
  return handled;
}

bool TApplication::UpdateAction(TBasicAction* action) {
  bool handled = false;
  if (OnActionUpdate) OnActionUpdate(action, handled);
  return handled;
}

bool TApplication::DispatchAction(UINT msg, TBasicAction* action) {
  TCustomForm* form = Screen ? Screen->ActiveForm() : nullptr;
  if (form && form->Perform(msg, 0, reinterpret_cast<LPARAM>(action)) == 1) return true;
  return mainForm_ && mainForm_ != form && mainForm_->Perform(msg, 0, reinterpret_cast<LPARAM>(action)) == 1;
}

void TApplication::DoActionIdle() {
  if (!Screen) return;
  for (int i = 0; i < Screen->FormCount(); ++i) {
    TCustomForm* f = Screen->Forms(i);
    if (f->HandleAllocated() && f->GetVisible() && IsWindowVisible(f->GetHandle())) f->UpdateActions();
  }
}

void TApplication::Run() {
  if (!mainForm_) return;
  if (ShowMainForm) mainForm_->Show();
  while (!terminated_) HandleMessage();
}

void TApplication::Terminate() {
  terminated_ = true;
  PostQuitMessage(0);
}

bool TApplication::IsKeyMsg(MSG& msg) {
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  TWinControl* c = nullptr;
  for (HWND h = msg.hwnd; h && !c; h = ::GetParent(h)) c = FindControl(h);
  if (!c) return false;
  if (c->Perform(CN_BASE + msg.message, msg.wParam, msg.lParam)) return true;
  // Dialog keys and accelerators go to the form when the focused window does not want them.
  TCustomForm* form = GetParentForm(c);
  if (!form) return false;
  if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) &&
      form->IsShortCut(static_cast<WORD>(msg.wParam), KeyDataToShiftState(msg.lParam)))
    return true;
  if (msg.message == WM_KEYDOWN) {
    LRESULT code = SendMessageA(msg.hwnd, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
    if (code & DLGC_WANTALLKEYS) return false;
    if (msg.wParam == VK_TAB && (code & DLGC_WANTTAB)) return false;
    if (msg.wParam == VK_TAB || msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)
      return form->Perform(CM_DIALOGKEY, msg.wParam, msg.lParam) != 0;
  } else if (msg.message == WM_SYSCHAR) {
    return form->Perform(CM_DIALOGCHAR, msg.wParam, msg.lParam) != 0;
  }
  return false;
}

bool TApplication::ProcessMessage(MSG& msg) {
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  bool handled = false;
  try {
    if (!msg.hwnd && msg.message == WM_NULL) {
      CheckSynchronize();
      return true;
    }
    if (hintWindow_ && hintWindow_->HandleAllocated() && hintWindow_->IsHintMsg(msg)) CancelHint();
    if (OnMessage) OnMessage(msg, handled);
    for (TApplicationEvents* e : std::vector<TApplicationEvents*>(appEvents))
      if (!handled && e->OnMessage) e->OnMessage(msg, handled);
    if (!handled && !IsKeyMsg(msg) && !(DialogHandle && IsDialogMessageA(DialogHandle, &msg))) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  } catch (...) {
    HandleException(this);
  }
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (ProcessMessage(msg)) {
  }
}

void TApplication::Idle() {
  bool done = true;
  try {
    TControl* c = DoMouseIdle();
    if (showHint_ && !c) CancelHint();
    SetHint(GetLongHint(GetHintOfControlOrParent(c)));
    if (OnIdle) OnIdle(this, done);
    for (TApplicationEvents* e : std::vector<TApplicationEvents*>(appEvents))
      if (e->OnIdle) e->OnIdle(this, done);
    if (CheckSynchronize()) done = false;
    if (done) DoActionIdle();
  } catch (...) {
    HandleException(this);
  }
  if (done) WaitMessage();
}

void TApplication::HandleMessage() {
  MSG msg;
  if (!ProcessMessage(msg)) Idle();
}

void TApplication::HandleException(TObject* sender) {
  std::exception_ptr p = std::current_exception();
  if (!p) return;
  try {
    std::rethrow_exception(p);
  } catch (const EAbort&) {
    // Silent by design: an abort is a quiet way out of an operation.
  } catch (const std::exception& e) {
    bool delivered = false;
    for (TApplicationEvents* ev : std::vector<TApplicationEvents*>(appEvents))
      if (ev->OnException) {
        ev->OnException(sender, e);
        delivered = true;
      }
    if (OnException)
      OnException(sender, e);
    else if (!delivered)
      ShowException(e);
  } catch (...) {
    Exception unknown("An unknown error occurred");
    if (OnException)
      OnException(sender, unknown);
    else
      ShowException(unknown);
  }
}

void TApplication::ShowException(const std::exception& e) {
  std::string text = e.what();
  if (!text.empty() && text.back() != '.' && text.back() != '!' && text.back() != '?') text += '.';
  MessageBox(text, title_, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  HWND owner = GetActiveWindow();
  if (!owner && mainForm_ && mainForm_->HandleAllocated()) owner = mainForm_->GetHandle();
  return ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

bool TApplication::HelpCommand(WORD command, ULONG_PTR data) {
  bool callHelp = true;
  bool result = false;
  if (OnHelp) result = OnHelp(command, data, callHelp);
  if (!callHelp) return result;
  TCustomForm* form = Screen ? Screen->ActiveForm() : nullptr;
  const std::string& file = form && !form->HelpFile.empty() ? form->HelpFile : HelpFile;
  if (file.empty()) return result;
  return WinHelpA(Handle(), file.c_str(), command, data) != FALSE;
}

void TApplication::HookMainWindow(const TWindowHook& hook) { hooks_.push_back(hook); }

void TApplication::UnhookMainWindow(const TWindowHook& hook) {
  auto it = std::find(hooks_.begin(), hooks_.end(), hook);
  if (it != hooks_.end()) hooks_.erase(it);
}

bool TApplication::RunMainWindowHooks(TMessage& m) {
  for (size_t i = hooks_.size(); i-- > 0;)
    if (i < hooks_.size() && hooks_[i](m)) return true;
  return false;
}

void ShowMessage(const std::string& text) {
  Application->MessageBox(text, Application->GetTitle(), MB_OK);
}

// ---- TScreen ----

namespace {
// The drag cursor: an arrow carrying a small box, black outlines filled white (no system cursor has it).
HCURSOR MakeDragCursor() {
  const int w = GetSystemMetrics(SM_CXCURSOR), h = GetSystemMetrics(SM_CYCURSOR);
  if (w < 24 || h < 24) return LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  const int stride = (w + 15) / 16 * 2;
  std::vector<BYTE> andMask(static_cast<size_t>(stride * h), 0xFF), xorMask(static_cast<size_t>(stride * h), 0);
  auto put = [&](int x, int y, bool white) {
    size_t i = static_cast<size_t>(y * stride + x / 8);
    BYTE bit = static_cast<BYTE>(0x80 >> (x % 8));
    andMask[i] &= static_cast<BYTE>(~bit);
    if (white) xorMask[i] |= bit;
  };
  for (int y = 0; y < 12; ++y)  // the arrow: a right triangle
    for (int x = 0; x <= y; ++x) put(x, y, x > 0 && x < y && y < 11);
  for (int y = 14; y < 22; ++y)  // the box
    for (int x = 8; x < 20; ++x) put(x, y, x > 8 && x < 19 && y > 14 && y < 21);
  return CreateCursor(GetModuleHandleA(nullptr), 0, 0, w, h, andMask.data(), xorMask.data());
}
}  // namespace

TScreen::TScreen() {
  static const struct {
    int id;
    LPCSTR res;
  } kStandard[] = {{crArrow, IDC_ARROW}, {crCross, IDC_CROSS}, {crIBeam, IDC_IBEAM}, {crSizeNESW, IDC_SIZENESW},
                   {crSizeNS, IDC_SIZENS}, {crSizeNWSE, IDC_SIZENWSE}, {crSizeWE, IDC_SIZEWE}, {crUpArrow, IDC_UPARROW},
                   {crHourGlass, IDC_WAIT}, {crNo, IDC_NO}, {crAppStart, IDC_APPSTARTING}, {crHelp, IDC_HELP},
                   {crHandPoint, IDC_HAND}, {crSizeAll, IDC_SIZEALL}};
  cursors_[crDefault] = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  for (auto& s : kStandard) cursors_[s.id] = LoadCursorA(nullptr, s.res);
  cursors_[crNoDrop] = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_NO));
  cursors_[crDrag] = MakeDragCursor();
}

void TScreen::RemoveForm(TCustomForm* f) {
  auto it = std::find(forms_.begin(), forms_.end(), f);
  if (it != forms_.end()) forms_.erase(it);
}

TCustomForm* TScreen::ActiveForm() const {
  HWND a = GetActiveWindow();
  for (TCustomForm* f : forms_)
    if (f->HandleAllocated() && f->GetHandle() == a) return f;
  return nullptr;
}

TWinControl* TScreen::ActiveControl() const {
  TCustomForm* f = ActiveForm();
  return f ? f->GetActiveControl() : nullptr;
}

HCURSOR TScreen::GetCursors(int id) const {
  auto it = cursors_.find(id);
  return it != cursors_.end() ? it->second : cursors_.at(crDefault);
}

void TScreen::SetCursors(int id, HCURSOR c) {
  if (id == crDefault && !c) c = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  cursors_[id] = c;
}

void TScreen::SetCursor(int id) {
  cursor_ = id;
  ::SetCursor(id == crDefault ? GetCursors(crDefault) : GetCursors(id));
}

// ---- TApplicationEvents ----

void TApplicationEvents::Create(TComponent* owner) {
  TComponent::Create(owner);
  appEvents.push_back(this);
}

void TApplicationEvents::BeforeDestruction() {
  auto it = std::find(appEvents.begin(), appEvents.end(), this);
  if (it != appEvents.end()) appEvents.erase(it);
  TComponent::BeforeDestruction();
}

// ---- TTimer ----

void TTimer::Create(TComponent* owner) {
  TComponent::Create(owner);
  window_ = AllocateHWnd(TWndMethod(this, &TTimer::TimerWndProc));
  UpdateTimer();
}

void TTimer::BeforeDestruction() {
  enabled_ = false;
  if (window_) {
    KillTimer(window_, 1);
    DeallocateHWnd(window_);
    window_ = nullptr;
  }
  TComponent::BeforeDestruction();
}

void TTimer::UpdateTimer() {
  if (!window_) return;
  KillTimer(window_, 1);
  if (enabled_ && interval_ > 0 && !SetTimer(window_, 1, static_cast<UINT>(interval_), nullptr))
    throw EOutOfResources("Not enough timers available");
}

void TTimer::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  UpdateTimer();
}

void TTimer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  UpdateTimer();
}

void TTimer::TimerWndProc(TMessage& m) {
  if (m.Msg == WM_TIMER) {
    try {
      if (enabled_ && OnTimer) OnTimer(this);
    } catch (...) {
      if (Application) Application->HandleException(this);
    }
    return;
  }
  m.Result = DefWindowProcA(window_, m.Msg, m.WParam, m.LParam);
}

}  // namespace ui
