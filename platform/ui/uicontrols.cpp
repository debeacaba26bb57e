#include "uicontrols.h"

#include <imm.h>

#include <algorithm>
#include <cstring>

#include "uiactions.h"
#include "uiforms.h"
#include "uimenus.h"
#include "uithemes.h"

namespace ui {

static std::vector<TPropInfo> ControlProps() {
  using T = TControl;
  auto stored = [](TPropInfo p, bool (T::*test)() const) {
    p.Stored = [test](TObject* o) { return (static_cast<T*>(o)->*test)(); };
    return p;
  };
  return {prop::Int("Left", &T::GetLeft, &T::SetLeft),
          prop::Int("Top", &T::GetTop, &T::SetTop),
          prop::Int("Width", &T::GetWidth, &T::SetWidth),
          prop::Int("Height", &T::GetHeight, &T::SetHeight),
          prop::Enum("Align", &T::GetAlign, &T::SetAlign, {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"},
                     true, alNone),
          prop::Int("Color", &T::GetColor, &T::SetColor),
          prop::Bool("ParentColor", &T::GetParentColor, &T::SetParentColor, true),
          prop::Object<T, TFont>("Font", &T::GetFont, &T::SetFont),
          prop::Bool("ParentFont", &T::GetParentFont, &T::SetParentFont, true),
          stored(prop::Bool("Enabled", &T::GetEnabled, &T::SetEnabled, true), &T::IsEnabledStored),
          stored(prop::Bool("Visible", &T::GetVisible, &T::SetVisible, true), &T::IsVisibleStored),
          stored(prop::Str("Hint", &T::GetHint, &T::SetHint), &T::IsHintStored),
          prop::Object<T, TBasicAction>("Action", &T::GetAction, &T::SetAction),
          prop::Object<T, TPopupMenu>("PopupMenu", &T::GetPopupMenu, &T::SetPopupMenu),
          stored(prop::Bool("ShowHint", &T::GetShowHint, &T::SetShowHint, false), &T::IsShowHintStored),
          prop::Bool("ParentShowHint", &T::GetParentShowHint, &T::SetParentShowHint, true),
          prop::Int("Cursor", &T::GetCursor, &T::SetCursor, true, 0),
          prop::Event("OnClick", &T::OnClick),
          prop::Event("OnDblClick", &T::OnDblClick),
          prop::Event("OnResize", &T::OnResize),
          prop::Event("OnMouseDown", &T::OnMouseDown),
          prop::Event("OnMouseUp", &T::OnMouseUp),
          prop::Event("OnMouseMove", &T::OnMouseMove),
          prop::Set("Anchors", &T::GetAnchors, &T::SetAnchors, {"akLeft", "akTop", "akRight", "akBottom"}, true,
                    kDefaultAnchors),
          prop::Object<T, TSizeConstraints>("Constraints", &T::GetConstraints, nullptr),
          prop::Enum("DragMode", &T::GetDragMode, &T::SetDragMode, {"dmManual", "dmAutomatic"}, true, dmManual),
          prop::Enum("DragKind", &T::GetDragKind, &T::SetDragKind, {"dkDrag", "dkDock"}, true, dkDrag),
          prop::Int("DragCursor", &T::GetDragCursor, &T::SetDragCursor, true, crDrag),
          prop::Enum("BiDiMode", &T::GetBiDiMode, &T::SetBiDiMode,
                     {"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign", "bdRightToLeftReadingOnly"}, true,
                     bdLeftToRight),
          prop::Bool("ParentBiDiMode", &T::GetParentBiDiMode, &T::SetParentBiDiMode, true),
          prop::Event("OnCanResize", &T::OnCanResize),
          prop::Event("OnConstrainedResize", &T::OnConstrainedResize),
          prop::Event("OnContextPopup", &T::OnContextPopup),
          prop::Event("OnStartDrag", &T::OnStartDrag),
          prop::Event("OnDragOver", &T::OnDragOver),
          prop::Event("OnDragDrop", &T::OnDragDrop),
          prop::Event("OnEndDrag", &T::OnEndDrag),
          prop::Event("OnStartDock", &T::OnStartDock),
          prop::Event("OnEndDock", &T::OnEndDock),
          prop::Event("OnMouseEnter", &T::OnMouseEnter),
          prop::Event("OnMouseLeave", &T::OnMouseLeave)};
}
static std::vector<TPropInfo> WinControlProps() {
  using T = TWinControl;
  std::vector<std::string> cuts{"bvNone", "bvLowered", "bvRaised", "bvSpace"};
  return {prop::Int("TabOrder", &T::GetTabOrder, &T::SetTabOrder),
          prop::Bool("TabStop", &T::GetTabStop, &T::SetTabStop, false),
          prop::Event("OnEnter", &T::OnEnter),
          prop::Event("OnExit", &T::OnExit),
          prop::Event("OnKeyDown", &T::OnKeyDown),
          prop::Event("OnKeyUp", &T::OnKeyUp),
          prop::Event("OnKeyPress", &T::OnKeyPress),
          prop::Bool("DockSite", &T::GetDockSite, &T::SetDockSite, false),
          prop::Bool("UseDockManager", &T::GetUseDockManager, &T::SetUseDockManager, false),
          prop::Bool("Ctl3D", &T::GetCtl3D, &T::SetCtl3D, true),
          prop::Bool("ParentCtl3D", &T::GetParentCtl3D, &T::SetParentCtl3D, true),
          prop::Bool("ParentBackground", &T::GetParentBackground, &T::SetParentBackground, false),
          prop::Enum("BevelKind", &T::GetBevelKind, &T::SetBevelKind, {"bkNone", "bkTile", "bkSoft", "bkFlat"}, true,
                     bkNone),
          prop::Set("BevelEdges", &T::GetBevelEdges, &T::SetBevelEdges, {"beLeft", "beTop", "beRight", "beBottom"},
                    true, kAllBevelEdges),
          prop::Enum("BevelInner", &T::GetBevelInner, &T::SetBevelInner, cuts, true, bvRaised),
          prop::Enum("BevelOuter", &T::GetBevelOuter, &T::SetBevelOuter, cuts, true, bvLowered),
          prop::Int("BevelWidth", &T::GetBevelWidth, &T::SetBevelWidth, true, 1),
          prop::Int("BorderWidth", &T::GetBorderWidth, &T::SetBorderWidth, true, 0),
          prop::Enum("ImeMode", &T::GetImeMode, &T::SetImeMode,
                     {"imDisable", "imClose", "imOpen", "imDontCare", "imSAlpha", "imAlpha", "imHira", "imSKata",
                      "imKata", "imChinese", "imSHanguel", "imHanguel"},
                     true, imDontCare),
          prop::Str("ImeName", &T::GetImeName, &T::SetImeName),
          prop::Event("OnDockOver", &T::OnDockOver),
          prop::Event("OnDockDrop", &T::OnDockDrop),
          prop::Event("OnUnDock", &T::OnUnDock),
          prop::Event("OnGetSiteInfo", &T::OnGetSiteInfo)};
}
static std::vector<TPropInfo> ConstraintsProps() {
  using T = TSizeConstraints;
  return {prop::Int("MaxHeight", &T::GetMaxHeight, &T::SetMaxHeight, true, 0),
          prop::Int("MaxWidth", &T::GetMaxWidth, &T::SetMaxWidth, true, 0),
          prop::Int("MinHeight", &T::GetMinHeight, &T::SetMinHeight, true, 0),
          prop::Int("MinWidth", &T::GetMinWidth, &T::SetMinWidth, true, 0)};
}

UI_IMPLEMENT_CLASS(TSizeConstraints, TPersistent, nullptr, ConstraintsProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TDragObject, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TDragControlObject, TDragObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TDragDockObject, TDragControlObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TControl, TComponent, nullptr, ControlProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWinControl, TControl, DefaultFactory<TWinControl>, WinControlProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TControlCanvas, TCanvas, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TGraphicControl, TControl, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomControl, TWinControl, nullptr, nullptr, nullptr, nullptr)

// ---- object instances ----
//
// Each stub is a few bytes of code in an executable page that calls StdWndProc with the address of
// its method record added as the first argument. x86 (stdcall): the stub re-pushes the return
// address above one extra argument, so StdWndProc (stdcall, five arguments) pops everything. x64:
// the stub makes its own 56-byte frame (keeping the stack 16-byte aligned), shifts the four register
// arguments by one and spills the fourth into the fifth-argument slot. No exception ever crosses the
// stub: StdWndProc catches everything, so the stub needs no unwind information.

namespace {

struct InstanceRecord {
  TWndMethod method;
};

LRESULT CALLBACK StdWndProc(InstanceRecord* rec, HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  try {
    rec->method(m);
  } catch (...) {
    HandleWindowException(nullptr);
  }
  (void)h;
  return m.Result;
}

constexpr size_t kStubSize = 64;
constexpr size_t kPageSize = 4096;

struct StubPool {
  std::vector<uint8_t*> free;
  uint8_t* Take() {
    if (free.empty()) {
      auto* page = static_cast<uint8_t*>(VirtualAlloc(nullptr, kPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
      if (!page) throw EOutOfResources("Out of memory for window procedure stubs");
      for (size_t off = 0; off + kStubSize <= kPageSize; off += kStubSize) free.push_back(page + off);
    }
    uint8_t* p = free.back();
    free.pop_back();
    return p;
  }
};
StubPool& Pool() {
  static StubPool pool;
  return pool;
}

void PutPtr(uint8_t*& p, const void* v) {
  uintptr_t u = reinterpret_cast<uintptr_t>(v);
  std::memcpy(p, &u, sizeof u);
  p += sizeof u;
}

}  // namespace

WNDPROC MakeObjectInstance(const TWndMethod& method) {
  uint8_t* stub = Pool().Take();
  auto* rec = new InstanceRecord{method};
  uint8_t* p = stub;
  // The record's address sits right after the code so FreeObjectInstance can find it.
#if defined(_M_X64) || defined(__x86_64__)
  static const uint8_t head[] = {0x48, 0x83, 0xEC, 0x38,        // sub rsp, 56
                                 0x4C, 0x89, 0x4C, 0x24, 0x20,  // mov [rsp+32], r9
                                 0x4D, 0x89, 0xC1,              // mov r9, r8
                                 0x49, 0x89, 0xD0,              // mov r8, rdx
                                 0x48, 0x89, 0xCA,              // mov rdx, rcx
                                 0x48, 0xB9};                   // mov rcx, imm64
  std::memcpy(p, head, sizeof head);
  p += sizeof head;
  PutPtr(p, rec);
  *p++ = 0x48;  // mov rax, imm64
  *p++ = 0xB8;
  PutPtr(p, reinterpret_cast<const void*>(&StdWndProc));
  static const uint8_t tail[] = {0xFF, 0xD0,              // call rax
                                 0x48, 0x83, 0xC4, 0x38,  // add rsp, 56
                                 0xC3};                   // ret
  std::memcpy(p, tail, sizeof tail);
  p += sizeof tail;
#elif defined(_M_IX86) || defined(__i386__)
  *p++ = 0x58;  // pop eax (return address)
  *p++ = 0x68;  // push imm32 (the record)
  PutPtr(p, rec);
  *p++ = 0x50;  // push eax
  *p++ = 0xB8;  // mov eax, imm32
  PutPtr(p, reinterpret_cast<const void*>(&StdWndProc));
  *p++ = 0xFF;  // jmp eax
  *p++ = 0xE0;
#else
#error "window procedure stubs exist for x86 and x64 only"
#endif
  std::memcpy(stub + kStubSize - sizeof(void*), &rec, sizeof rec);
  FlushInstructionCache(GetCurrentProcess(), stub, kStubSize);
  return reinterpret_cast<WNDPROC>(stub);
}

void FreeObjectInstance(WNDPROC proc) {
  if (!proc) return;
  auto* stub = reinterpret_cast<uint8_t*>(proc);
  InstanceRecord* rec;
  std::memcpy(&rec, stub + kStubSize - sizeof(void*), sizeof rec);
  delete rec;
  Pool().free.push_back(stub);
}

// ---- process-wide state ----

namespace {
TExceptionHook exceptionHook = nullptr;
TWinControl* creationControl = nullptr;
struct Atoms {
  ATOM window = 0, control = 0;
  Atoms() {
    // The names carry the process and the module/thread so that two copies of the library in one
    // process, or two processes, never read each other's window properties.
    char name[64];
    wsprintfA(name, "UiWindow%.8X", static_cast<unsigned>(GetCurrentProcessId()));
    window = GlobalAddAtomA(name);
    wsprintfA(name, "UiControlOfs%.8X%.8X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))),
              static_cast<unsigned>(GetCurrentThreadId()));
    control = GlobalAddAtomA(name);
  }
  ~Atoms() {
    if (control) GlobalDeleteAtom(control);
    if (window) GlobalDeleteAtom(window);
  }
};
Atoms& TheAtoms() {
  static Atoms a;
  return a;
}
}  // namespace

ATOM ControlAtom() { return TheAtoms().control; }
ATOM WindowAtom() { return TheAtoms().window; }
TWinControl* CreationControl() { return creationControl; }
void SetCreationControl(TWinControl* c) { creationControl = c; }

void SetWindowExceptionHook(TExceptionHook hook) { exceptionHook = hook; }

void HandleWindowException(TObject* sender) {
  // Called inside a catch block; the hook rethrows to inspect the exception. Nothing may escape.
  try {
    if (exceptionHook) exceptionHook(sender);
  } catch (...) {
  }
}

TWinControl* FindControl(HWND h) {
  if (!h) return nullptr;
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid != GetCurrentProcessId()) return nullptr;
  return static_cast<TWinControl*>(GetPropA(h, MAKEINTATOM(ControlAtom())));
}

LRESULT CALLBACK InitWndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  TWinControl* c = creationControl;
  if (!c) return DefWindowProcA(h, msg, wParam, lParam);
  creationControl = nullptr;
  c->SetHandleDuringCreation(h);
  SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(c->ObjectInstance()));
  if ((GetWindowLongPtrA(h, GWL_STYLE) & WS_CHILD) && GetWindowLongPtrA(h, GWLP_ID) == 0)
    SetWindowLongPtrA(h, GWLP_ID, reinterpret_cast<LONG_PTR>(h));
  SetPropA(h, MAKEINTATOM(ControlAtom()), c);
  SetPropA(h, MAKEINTATOM(WindowAtom()), c);
  return CallWindowProcA(c->ObjectInstance(), h, msg, wParam, lParam);
}

TWinControl* ParentFormControl(TControl* c) {
  while (c && c->GetParent()) c = c->GetParent();
  auto* w = As<TWinControl>(c);
  return w && w->IsFormWindow() ? w : nullptr;
}

int KeyboardShiftState() {
  int s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

int KeyDataToShiftState(LPARAM keyData) {
  int s = KeyboardShiftState() & ~ssAlt;
  if (keyData & 0x20000000) s |= ssAlt;  // context bit: Alt held
  return s;
}

// ---- drag and drop ----

// The one drag of the process: the source holds the mouse capture (a windowless source through its
// parent's window) and the capture window hands its mouse messages here.
struct DragEngine {
  static void Begin(TControl* source, bool immediate, int threshold, POINT start);
  static void Done(bool drop);
  static bool RoutesTo(HWND h) { return h && state().source && state().capture == h; }
  static bool HandleMessage(HWND h, TMessage& m);
  // A control going away leaves the drag: as its source the drag ends without events.
  static void Forget(TControl* c);
  static bool IsSource(const TControl* c) { return state().source == c; }

 private:
  struct State {
    TControl* source = nullptr;
    TDragObject* object = nullptr;
    bool ownsObject = false;
    bool dock = false;
    bool active = false;  // the pointer went past the threshold
    POINT start{0, 0};
    int threshold = 0;
    HWND capture = nullptr;
    TControl* target = nullptr;
    bool accepted = false;
  };
  static State& state() {
    static State st;
    return st;
  }
  static void MoveTo(POINT screen);
  static bool Notify(TControl* target, POINT screen, TDragState ds);
  static TControl* ControlAt(POINT screen);
  static TWinControl* DockSiteAt(POINT screen);
};

// ---- TControl ----

TControl::TControl() : font_(new TFont), constraints_(new TSizeConstraints(this)), dragCursor_(crDrag) {
  WindowProc = TWndMethod(this, &TControl::WndProc);
  font_->OnChange = TNotifyEvent(this, &TControl::FontChanged);
}

void TControl::Create(TComponent* owner) { TComponent::Create(owner); }

void TControl::BeforeDestruction() {
  Destroying();
  DragEngine::Forget(this);
  if (parent_) SetParent(nullptr);
  TComponent::BeforeDestruction();
}

TControl::~TControl() {
  if (parent_) parent_->RemoveControl(this);
  delete actionLink_;
  delete font_;
  delete constraints_;
}

LRESULT TControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  WindowProc(m);
  return m.Result;
}

void TControl::WndProc(TMessage& m) {
  // Mouse messages over a control drive the application's hints.
  if (m.Msg >= WM_MOUSEFIRST && m.Msg <= WM_MOUSELAST && Application) Application->HintMouseMessage(this, m);
  switch (m.Msg) {
    case WM_LBUTTONDOWN:
      if (dragMode_ == dmAutomatic && !InState(csDesigning)) {
        // The press starts a drag (after the threshold) instead of reaching the control.
        DragEngine::Begin(this, false, -1,
                          ClientToScreen(POINT{static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam))}));
        return;
      }
      [[fallthrough]];
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      TMouseButton b = m.Msg == WM_LBUTTONDOWN ? mbLeft : m.Msg == WM_RBUTTONDOWN ? mbRight : mbMiddle;
      // Controls that draw themselves (forms, panels) click on the release, as windowless ones do;
      // the wrappers of system controls click on their notification instead.
      if (b == mbLeft && (!Is<TWinControl>() || Is<TCustomControl>())) mouseCaptured_ = true;
      DoMouseDown(b, KeyboardShiftState(), static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam)));
      break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      TMouseButton b = m.Msg == WM_LBUTTONUP ? mbLeft : m.Msg == WM_RBUTTONUP ? mbRight : mbMiddle;
      int x = static_cast<short>(LOWORD(m.LParam)), y = static_cast<short>(HIWORD(m.LParam));
      bool click = b == mbLeft && mouseCaptured_;
      mouseCaptured_ = false;
      DoMouseUp(b, KeyboardShiftState(), x, y);
      // Windowless controls click on the release inside them; windowed ones click on their notification.
      if (click && x >= 0 && y >= 0 && x < width_ && y < height_) Click();
      break;
    }
    case WM_LBUTTONDBLCLK:
      if (OnDblClick) OnDblClick(this);
      break;
    case WM_CONTEXTMENU: {
      POINT at{static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam))};
      if (at.x != -1 || at.y != -1) at = ScreenToClient(at);
      bool handled = false;
      DoContextPopup(at, handled);
      if (handled) {
        m.Result = 1;
        return;
      }
    }
      if (popupMenu_ && popupMenu_->GetAutoPopup() && enabled_) {
        POINT p{static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam))};
        if (p.x == -1 && p.y == -1) p = ClientToScreen(POINT{width_ / 2, height_ / 2});  // from the keyboard
        popupMenu_->PopupComponent = this;
        popupMenu_->Popup(p.x, p.y);
        m.Result = 1;
        return;
      }
      break;
    case CM_PARENTFONTCHANGED:
      ParentFontChanged();
      return;
    case CM_PARENTCOLORCHANGED:
      ParentColorChanged();
      return;
    case CM_PARENTBIDIMODECHANGED:
      ParentBiDiModeChanged();
      return;
    case CM_MOUSEENTER:
      if (OnMouseEnter) OnMouseEnter(this);
      break;
    case CM_MOUSELEAVE:
      if (OnMouseLeave) OnMouseLeave(this);
      break;
    case CM_BIDIMODECHANGED:
      Invalidate();
      break;
    case WM_MOUSEMOVE:
      if (OnMouseMove)
        OnMouseMove(this, KeyboardShiftState(), static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam)));
      break;
  }
  DefaultHandler(m);
}

void TControl::DefaultHandler(TMessage& m) {
  switch (m.Msg) {
    case WM_GETTEXT: {
      // Copies the stored text into the caller's buffer of WParam bytes, terminated.
      if (m.WParam == 0 || !m.LParam) {
        m.Result = 0;
        break;
      }
      size_t n = std::min(text_.size(), static_cast<size_t>(m.WParam) - 1);
      std::memcpy(reinterpret_cast<char*>(m.LParam), text_.data(), n);
      reinterpret_cast<char*>(m.LParam)[n] = 0;
      m.Result = static_cast<LRESULT>(n);
      break;
    }
    case WM_GETTEXTLENGTH:
      m.Result = static_cast<LRESULT>(text_.size());
      break;
    case WM_SETTEXT:
      text_ = m.LParam ? reinterpret_cast<const char*>(m.LParam) : "";
      m.Result = TRUE;
      break;
  }
}

int TControl::GetTextLen() { return static_cast<int>(Perform(WM_GETTEXTLENGTH, 0, 0)); }

std::string TControl::GetText() {
  int n = GetTextLen();
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n) + 1, '\0');
  int got = static_cast<int>(Perform(WM_GETTEXT, static_cast<WPARAM>(n) + 1, reinterpret_cast<LPARAM>(&s[0])));
  s.resize(static_cast<size_t>(std::max(0, std::min(got, n))));
  return s;
}

void TControl::SetText(const std::string& s) {
  if (GetText() == s) return;
  Perform(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.c_str()));
  Perform(CM_TEXTCHANGED, 0, 0);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw EInvalidOperation("A control cannot be its own parent");
  if (parent_) parent_->RemoveControl(this);
  if (parent) {
    parent->InsertControl(this);
    if (parentFont_) ParentFontChanged();
    if (parentColor_) ParentColorChanged();
    if (parentBiDiMode_) ParentBiDiModeChanged();
    UpdateAnchorRules();
  }
}

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* w = As<TWinControl>(parent)) SetParent(w);
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::SetBounds(int left, int top, int width, int height) {
  CheckNewSize(width, height);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  Invalidate();
  bool sized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Invalidate();
  if (!anchoring_) UpdateAnchorRules();
  RequestAlign();
  if (sized) Resize();
}

RECT TControl::GetClientRect() { return RECT{0, 0, width_, height_}; }

void TControl::SetClientSize(int w, int h) {
  RECT r = GetClientRect();
  SetBounds(left_, top_, width_ - r.right + w, height_ - r.bottom + h);
}

POINT TControl::ClientToScreen(POINT p) {
  // A window knows where its client area is; a form's lies inside its frame and caption.
  auto* w = As<TWinControl>(this);
  if (w && w->HandleAllocated()) {
    ::ClientToScreen(w->handle_, &p);
    return p;
  }
  POINT o{left_, top_};
  if (parent_) o = parent_->ClientToScreen(o);
  return POINT{p.x + o.x, p.y + o.y};
}

POINT TControl::ScreenToClient(POINT p) {
  POINT o = ClientToScreen(POINT{0, 0});
  return POINT{p.x - o.x, p.y - o.y};
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  VisibleChanging();
  Invalidate();
  visible_ = v;
  Invalidate();
  Perform(CM_VISIBLECHANGED, v, 0);
  RequestAlign();
}

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Perform(CM_ENABLEDCHANGED, 0, 0);
  Invalidate();
}

void TControl::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  parentColor_ = false;
  Perform(CM_COLORCHANGED, 0, 0);
  Invalidate();
}

void TControl::SetParentColor(bool v) {
  if (v == parentColor_) return;
  parentColor_ = v;
  if (v) ParentColorChanged();
}

void TControl::SetParentFont(bool v) {
  if (v == parentFont_) return;
  parentFont_ = v;
  if (v) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (parent_ && parentFont_) {
    font_->Assign(parent_->GetFont());
    parentFont_ = true;  // Assign went through FontChanged, which cleared it
  }
}

void TControl::ParentColorChanged() {
  if (parent_ && parentColor_) {
    color_ = parent_->GetColor();
    Perform(CM_COLORCHANGED, 0, 0);
    Invalidate();
  }
}

void TControl::FontChanged(TObject*) {
  parentFont_ = false;
  Perform(CM_FONTCHANGED, 0, 0);
  Invalidate();
}

void TControl::SetAlign(TAlign a) {
  if (a == align_) return;
  align_ = a;
  RequestAlign();
}

void TControl::RequestAlign() {
  if (parent_ && !InState(csLoading) && !parent_->InState(csLoading)) parent_->AlignControls();
}

void TControl::Invalidate() {
  if (parent_ && parent_->HandleAllocated() && visible_) {
    RECT r = BoundsRect();
    InvalidateRect(parent_->GetHandle(), &r, TRUE);
  }
}

void TControl::Update() {
  if (parent_) parent_->Update();
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

void TControl::BringToFront() {
  if (!parent_) return;
  auto& v = parent_->controls_;
  v.erase(std::find(v.begin(), v.end(), this));
  v.push_back(this);
  Invalidate();
}

void TControl::Click() {
  if (OnClick)
    OnClick(this);
  else if (actionLink_ && !InState(csDesigning))
    actionLink_->Execute();
}

TBasicAction* TControl::GetAction() const { return actionLink_ ? actionLink_->GetAction() : nullptr; }

void TControl::SetAction(TBasicAction* a) {
  if (a == GetAction()) return;
  if (LinkClientToAction(actionLink_, this, GetActionLinkClass(), a, TNotifyEvent(this, &TControl::DoActionChange)))
    ActionChange(a, InState(csLoading));
}

void TControl::DoActionChange(TObject* sender) {
  if (sender == GetAction()) ActionChange(sender, false);
}

void TControl::ActionChange(TObject* sender, bool checkDefaults) {
  auto* a = As<TCustomAction>(sender);
  if (!a) return;
  if (!checkDefaults || GetCaption().empty() || GetCaption() == GetName()) SetCaption(a->GetCaption());
  if (!checkDefaults || enabled_) SetEnabled(a->GetEnabled());
  if (!checkDefaults || hint_.empty()) SetHint(a->GetHint());
  if (!checkDefaults || visible_) SetVisible(a->GetVisible());
}

TClass TControl::GetActionLinkClass() { return &TControlActionLink::StaticClassInfo; }

void TControl::InitiateAction() {
  if (actionLink_) actionLink_->Update();
}

void TControl::Notification(TComponent* c, TOperation op) {
  TComponent::Notification(c, op);
  if (op == opRemove && actionLink_ && c == actionLink_->GetAction()) SetAction(nullptr);
  if (op == opRemove && c == popupMenu_) popupMenu_ = nullptr;
}

void TControl::SetPopupMenu(TPopupMenu* m) {
  if (m == popupMenu_) return;
  if (popupMenu_) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = m;
  if (m) m->FreeNotification(this);
}

bool TControl::GetShowHint() const {
  if (parentShowHint_ && parent_) return parent_->GetShowHint();
  return showHint_;
}

void TControl::SetShowHint(bool v) {
  showHint_ = v;
  parentShowHint_ = false;
}

bool TControl::IsShowHintStored() const { return !parentShowHint_; }

bool TControl::IsCaptionStored() const { return !actionLink_ || !actionLink_->IsCaptionLinked(); }
bool TControl::IsHintStored() const { return !actionLink_ || !actionLink_->IsHintLinked(); }
bool TControl::IsEnabledStored() const { return !actionLink_ || !actionLink_->IsEnabledLinked(); }
bool TControl::IsVisibleStored() const { return !actionLink_ || !actionLink_->IsVisibleLinked(); }

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->parent_) {
    if (!c->visible_) return false;
    if (!c->parent_) {
      auto* w = As<TWinControl>(const_cast<TControl*>(c));
      return w && (w->HandleAllocated() || w->GetParentWindow());
    }
  }
  return false;
}

void TControl::Resize() {
  if (OnResize) OnResize(this);
}

void TControl::DoMouseDown(TMouseButton b, int shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, b, shift, x, y);
}

void TControl::DoMouseUp(TMouseButton b, int shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, b, shift, x, y);
}

// ---- TWinControl ----

TWinControl::TWinControl() : brush_(new TBrush) {
  objectInstance_ = MakeObjectInstance(TWndMethod(this, &TWinControl::MainWndProc));
  brush_->SetColor(color_);
}

void TWinControl::BeforeDestruction() {
  Destroying();
  // Our window takes the children's windows with it; their objects go next.
  if (HandleAllocated()) DestroyHandle();
  // A parent frees the controls on it, whoever owns them; each leaves its owner as it goes.
  while (!controls_.empty()) controls_.back()->Free();
  TControl::BeforeDestruction();
}

TWinControl::~TWinControl() {
  if (handle_) {
    // Freed without Free(): still take the window down so no message reaches a dead object.
    RemovePropA(handle_, MAKEINTATOM(ControlAtom()));
    RemovePropA(handle_, MAKEINTATOM(WindowAtom()));
    SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(defWndProc_ ? defWndProc_ : DefWindowProcA));
    DestroyWindow(handle_);
  }
  for (TControl* c : controls_) c->parent_ = nullptr;
  FreeObjectInstance(objectInstance_);
  delete brush_;
}

HWND TWinControl::GetHandle() {
  HandleNeeded();
  return handle_;
}

void TWinControl::HandleNeeded() {
  if (handle_) return;
  if (parent_) parent_->HandleNeeded();
  if (!handle_) CreateHandle();
}

void TWinControl::CreateHandle() {
  if (handle_) return;
  creatingHandle_ = true;
  try {
    CreateWnd();
  } catch (...) {
    creatingHandle_ = false;
    throw;
  }
  creatingHandle_ = false;
  // The client area of a window differs from the bounds that stood for it before: the children keep
  // their places, measured from the new client area.
  for (TControl* c : controls_) c->UpdateAnchorRules();
  SetPropA(handle_, MAKEINTATOM(ControlAtom()), this);
  SetPropA(handle_, MAKEINTATOM(WindowAtom()), this);
  if (parent_) {
    // Keep the window in its tab-order place among its siblings.
    HWND after = HWND_BOTTOM;
    auto& tl = parent_->tabList_;
    auto it = std::find(tl.begin(), tl.end(), this);
    for (auto j = it; it != tl.end() && j != tl.begin();) {
      --j;
      if ((*j)->HandleAllocated()) {
        after = (*j)->handle_;
        break;
      }
    }
    if (after == HWND_BOTTOM) after = HWND_TOP;
    SetWindowPos(handle_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  CreateChildHandles();
}

void TWinControl::CreateChildHandles() {
  for (TWinControl* w : std::vector<TWinControl*>(tabList_))
    if (!w->HandleAllocated()) w->CreateHandle();
}

void TWinControl::CreateParams(TCreateParams& p) {
  p.Caption = text_;
  p.Style = WS_CHILD | WS_CLIPSIBLINGS;
  if (visible_) p.Style |= WS_VISIBLE;
  if (!enabled_) p.Style |= WS_DISABLED;
  if (tabStop_) p.Style |= WS_TABSTOP;
  if (UseRightToLeftReading()) p.ExStyle |= WS_EX_RTLREADING;
  if (UseRightToLeftScrollBar()) p.ExStyle |= WS_EX_LEFTSCROLLBAR;
  if (UseRightToLeftAlignment()) p.ExStyle |= WS_EX_RIGHT;
  p.X = left_;
  p.Y = top_;
  p.Width = width_;
  p.Height = height_;
  p.WndParent = parent_ ? parent_->GetHandle() : parentWindow_;
  p.WindowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  p.WindowClass.lpfnWndProc = DefWindowProcA;
  p.WindowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  p.WindowClass.hbrBackground = nullptr;
  p.WindowClass.hInstance = GetModuleHandleA(nullptr);
  p.WinClassName = ClassName();
}

void TWinControl::CreateSubClass(TCreateParams& p, const char* className) {
  WNDCLASSA wc{};
  // System classes are global: look them up without an instance; some come from comctl32.
  if (!GetClassInfoA(nullptr, className, &wc) && !GetClassInfoA(p.WindowClass.hInstance, className, &wc))
    RaiseLastOSError();
  WNDCLASSA keep = p.WindowClass;
  p.WindowClass = wc;
  p.WindowClass.hInstance = keep.hInstance;
  p.WindowClass.style &= ~static_cast<UINT>(CS_OWNDC | CS_CLASSDC | CS_PARENTDC | CS_GLOBALCLASS);
}

void TWinControl::CreateWindowHandle(const TCreateParams& p) {
  handle_ = CreateWindowExA(p.ExStyle, p.WinClassName.c_str(), p.Caption.c_str(), p.Style, p.X, p.Y, p.Width, p.Height,
                            p.WndParent, nullptr, p.WindowClass.hInstance, p.Param);
}

void TWinControl::CreateWnd() {
  TCreateParams p;
  CreateParams(p);
  if ((p.Style & WS_CHILD) && !p.WndParent) throw EInvalidOperation(Format(SParentRequired, GetName().c_str()));
  defWndProc_ = p.WindowClass.lpfnWndProc;
  WNDCLASSA existing{};
  bool registered = GetClassInfoA(p.WindowClass.hInstance, p.WinClassName.c_str(), &existing) != 0;
  if (!registered || existing.lpfnWndProc != InitWndProc) {
    if (registered) UnregisterClassA(p.WinClassName.c_str(), p.WindowClass.hInstance);
    WNDCLASSA wc = p.WindowClass;
    wc.lpfnWndProc = InitWndProc;
    wc.lpszClassName = p.WinClassName.c_str();
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  creationControl = this;
  try {
    CreateWindowHandle(p);
  } catch (...) {
    creationControl = nullptr;
    throw;
  }
  creationControl = nullptr;
  if (!handle_) RaiseLastOSError();
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_->GetHandle()), 0);
}

void TWinControl::DestroyWnd() {
  // The window takes the text with it; keep it for the next window.
  if (handle_) {
    int n = GetWindowTextLengthA(handle_);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    GetWindowTextA(handle_, &s[0], n + 1);
    s.resize(static_cast<size_t>(n));
    text_ = s;
  }
  DestroyWindowHandle();
}

void TWinControl::DestroyWindowHandle() {
  if (handle_ && !DestroyWindow(handle_)) RaiseLastOSError();
  handle_ = nullptr;
}

void TWinControl::DestroyHandle() {
  if (!handle_ || destroyingHandle_) return;
  destroyingHandle_ = true;
  try {
    for (TControl* c : controls_)
      if (auto* w = As<TWinControl>(c)) w->DestroyHandle();
    UpdateBoundsFromWindow();
    DestroyWnd();
  } catch (...) {
    destroyingHandle_ = false;
    throw;
  }
  destroyingHandle_ = false;
}

void TWinControl::RecreateWnd() {
  if (!handle_) return;
  bool hadFocus = Focused();
  DestroyHandle();
  HandleNeeded();
  if (hadFocus && CanFocus()) ::SetFocus(handle_);
}

void TWinControl::SetParentWindow(HWND h) {
  if (parent_ || h == parentWindow_) return;
  if (handle_ && parentWindow_ && h) {
    ::SetParent(handle_, h);
  } else if (handle_) {
    DestroyHandle();
  }
  parentWindow_ = h;
}

void TWinControl::MainWndProc(TMessage& m) {
  try {
    WindowProc(m);
  } catch (...) {
    HandleWindowException(this);
  }
}

void TWinControl::UpdateBoundsFromWindow() {
  if (!handle_) return;
  RECT r;
  GetWindowRect(handle_, &r);
  HWND parent = ::GetParent(handle_);
  if (GetWindowLongPtrA(handle_, GWL_STYLE) & WS_CHILD) MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  bool sized = r.right - r.left != width_ || r.bottom - r.top != height_;
  bool moved = r.left != left_ || r.top != top_;
  left_ = r.left;
  top_ = r.top;
  width_ = r.right - r.left;
  height_ = r.bottom - r.top;
  if (sized) {
    AlignControls();
    Resize();
  }
  // A parent that sizes itself to its children follows.
  if ((sized || moved) && parent_ && !parent_->InState(csLoading | csDestroying)) parent_->AdjustSize();
}

bool TWinControl::DoKeyDown(TMessage& m) {
  WORD key = static_cast<WORD>(m.WParam);
  int shift = KeyDataToShiftState(m.LParam);
  TWinControl* fw = ParentFormControl(this);
  if (fw && fw != this && fw->WantsKeyPreview()) {
    if (fw->OnKeyDown) fw->OnKeyDown(fw, key, shift);
    if (key == 0) return true;
  }
  if (OnKeyDown) OnKeyDown(this, key, shift);
  m.WParam = key;
  return key == 0;
}

bool TWinControl::DoKeyUp(TMessage& m) {
  WORD key = static_cast<WORD>(m.WParam);
  int shift = KeyDataToShiftState(m.LParam);
  TWinControl* fw = ParentFormControl(this);
  if (fw && fw != this && fw->WantsKeyPreview()) {
    if (fw->OnKeyUp) fw->OnKeyUp(fw, key, shift);
    if (key == 0) return true;
  }
  if (OnKeyUp) OnKeyUp(this, key, shift);
  m.WParam = key;
  return key == 0;
}

bool TWinControl::DoKeyPress(TMessage& m) {
  char key = static_cast<char>(m.WParam);
  TWinControl* fw = ParentFormControl(this);
  if (fw && fw != this && fw->WantsKeyPreview()) {
    if (fw->OnKeyPress) fw->OnKeyPress(fw, key);
    if (key == 0) return true;
  }
  if (OnKeyPress) OnKeyPress(this, key);
  // Only the low byte is the character; the rest of wParam passes unchanged.
  m.WParam = (m.WParam & ~static_cast<WPARAM>(0xFF)) | static_cast<uint8_t>(key);
  return key == 0;
}

void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}

void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}

void TWinControl::WndProc(TMessage& m) {
  if (DragEngine::RoutesTo(handle_) && DragEngine::HandleMessage(handle_, m)) return;
  switch (m.Msg) {
    case WM_SETFOCUS:
      if (TWinControl* f = ParentFormControl(this))
        if (!f->SetFocusedControl(this)) return;
      SetIme();
      break;
    case WM_NCCALCSIZE:
      if (bevelKind_ != bkNone || ncBorderWidth_ > 0) {
        TControl::WndProc(m);
        // Both forms of the message start with the rectangle that becomes the client area.
        auto* r = reinterpret_cast<RECT*>(m.LParam);
        const int e = BevelEdgeSize();
        if (bevelEdges_ & (1u << beLeft)) r->left += e;
        if (bevelEdges_ & (1u << beTop)) r->top += e;
        if (bevelEdges_ & (1u << beRight)) r->right -= e;
        if (bevelEdges_ & (1u << beBottom)) r->bottom -= e;
        InflateRect(r, -ncBorderWidth_, -ncBorderWidth_);
        return;
      }
      break;
    case WM_NCPAINT:
      if (bevelKind_ != bkNone || ncBorderWidth_ > 0) {
        TControl::WndProc(m);
        PaintFrame();
        return;
      }
      break;
    case WM_WINDOWPOSCHANGING: {
      // A size from outside the library (the user's frame drag, SetWindowPos) obeys the same rules.
      auto* pos = reinterpret_cast<WINDOWPOS*>(m.LParam);
      if (!settingBounds_ && !(pos->flags & SWP_NOSIZE) && (pos->cx != width_ || pos->cy != height_)) {
        int w = pos->cx, h = pos->cy;
        CheckNewSize(w, h);
        pos->cx = w;
        pos->cy = h;
      }
      break;
    }
    case WM_GETMINMAXINFO: {
      TControl::WndProc(m);
      auto* info = reinterpret_cast<MINMAXINFO*>(m.LParam);
      int minW = constraints_->GetMinWidth(), minH = constraints_->GetMinHeight();
      int maxW = constraints_->GetMaxWidth(), maxH = constraints_->GetMaxHeight();
      ConstrainedResize(minW, minH, maxW, maxH);
      if (minW > 0) info->ptMinTrackSize.x = minW;
      if (minH > 0) info->ptMinTrackSize.y = minH;
      if (maxW > 0) info->ptMaxTrackSize.x = maxW;
      if (maxH > 0) info->ptMaxTrackSize.y = maxH;
      return;
    }
    case CM_BIDIMODECHANGED:
      // The right-to-left styles are fixed when the window is made.
      RecreateWnd();
      for (TControl* c : std::vector<TControl*>(controls_))
        if (c->GetParentBiDiMode()) c->Perform(CM_PARENTBIDIMODECHANGED, 0, 0);
      break;
    case CM_CTL3DCHANGED:
      Invalidate();
      for (TControl* c : std::vector<TControl*>(controls_))
        if (auto* w = As<TWinControl>(c))
          if (w->parentCtl3D_) w->Perform(CM_PARENTCTL3DCHANGED, 0, 0);
      break;
    case CM_PARENTCTL3DCHANGED:
      if (parentCtl3D_ && parent_ && parent_->ctl3D_ != ctl3D_) {
        ctl3D_ = parent_->ctl3D_;
        Perform(CM_CTL3DCHANGED, 0, 0);
      }
      return;
    case CM_BORDERCHANGED:
      if (handle_)
        SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (DoKeyDown(m)) return;
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if (DoKeyUp(m)) return;
      break;
    case WM_CHAR:
      if (DoKeyPress(m)) return;
      break;
    case CN_KEYDOWN:
    case CN_CHAR:
    case CN_SYSKEYDOWN:
    case CN_SYSCHAR:
      // Not handled here: the message loop lets the window have the key.
      m.Result = 0;
      return;
    case WM_COMMAND:
      if (m.LParam) {
        if (TWinControl* c = FindControl(reinterpret_cast<HWND>(m.LParam))) {
          m.Result = c->Perform(CN_COMMAND, m.WParam, m.LParam);
          return;
        }
      }
      break;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(m.LParam);
      if (hdr) {
        if (TWinControl* c = FindControl(hdr->hwndFrom)) {
          if (c != this) {
            m.Result = c->Perform(CN_NOTIFY, m.WParam, m.LParam);
            return;
          }
        }
      }
      break;
    }
    case WM_DRAWITEM: {
      auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(m.LParam);
      if (di && di->CtlType != ODT_MENU) {
        if (TWinControl* c = FindControl(di->hwndItem)) {
          m.Result = c->Perform(CN_DRAWITEM, m.WParam, m.LParam);
          return;
        }
      }
      break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (m.LParam) {
        if (TWinControl* c = FindControl(reinterpret_cast<HWND>(m.LParam))) {
          if (c != this) {
            m.Result = c->Perform(CN_BASE + m.Msg, m.WParam, m.LParam);
            return;
          }
        }
      }
      break;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      if (TWinControl* c = FindControl(reinterpret_cast<HWND>(m.LParam))) {
        m.Result = c->Perform(CN_BASE + m.Msg, m.WParam, m.LParam);
        return;
      }
      break;
    case CN_CTLCOLOREDIT:
    case CN_CTLCOLORSTATIC:
    case CN_CTLCOLORBTN:
    case CN_BASE + WM_CTLCOLORLISTBOX: {
      HDC dc = reinterpret_cast<HDC>(m.WParam);
      SetTextColor(dc, ColorToRGB(font_->GetColor()));
      SetBkColor(dc, ColorToRGB(brush_->GetColor()));
      m.Result = reinterpret_cast<LRESULT>(brush_->GetHandle());
      return;
    }
    case WM_PAINT:
      PaintHandler(m);
      return;
    case WM_ERASEBKGND:
      if (parentBackground_ && ThemeServices().DrawParentBackground(handle_, reinterpret_cast<HDC>(m.WParam), nullptr)) {
        m.Result = 1;
        return;
      }
      if (defWndProc_ == DefWindowProcA) {
        RECT r;
        ::GetClientRect(handle_, &r);
        ::FillRect(reinterpret_cast<HDC>(m.WParam), &r, brush_->GetHandle());
        m.Result = 1;
        return;
      }
      break;
    case WM_WINDOWPOSCHANGED:
      TControl::WndProc(m);
      UpdateBoundsFromWindow();
      return;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDBLCLK: {
      // Mouse messages over a windowless child go to that child in its own coordinates.
      POINT p{static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam))};
      for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        TControl* c = *it;
        if (c->Is<TWinControl>() || !c->GetVisible() || !c->GetEnabled()) continue;
        RECT r = c->BoundsRect();
        if (PtInRect(&r, p)) {
          c->Perform(m.Msg, m.WParam, MAKELPARAM(p.x - r.left, p.y - r.top));
          if (m.Msg == WM_LBUTTONDOWN) SetCapture(handle_);
          if (m.Msg == WM_LBUTTONUP) ReleaseCapture();
          m.Result = 0;
          return;
        }
      }
      break;
    }
    case CM_ENABLEDCHANGED:
      if (handle_) EnableWindow(handle_, enabled_);
      break;
    case CM_VISIBLECHANGED:
      if (handle_) ShowWindow(handle_, visible_ ? SW_SHOWNA : SW_HIDE);
      break;
    case CM_FONTCHANGED:
      if (handle_) {
        SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_->GetHandle()), TRUE);
      }
      for (TControl* c : std::vector<TControl*>(controls_))
        if (c->GetParentFont()) c->Perform(CM_PARENTFONTCHANGED, 0, 0);
      break;
    case CM_COLORCHANGED:
      ColorChanged();
      break;
  }
  TControl::WndProc(m);
  if (m.Msg == WM_NCDESTROY) {
    // The window is gone: forget it, so that the control can live on without one.
    RemovePropA(handle_, MAKEINTATOM(ControlAtom()));
    RemovePropA(handle_, MAKEINTATOM(WindowAtom()));
    handle_ = nullptr;
  }
}

void TWinControl::DefaultHandler(TMessage& m) {
  if (handle_) {
    m.Result = CallWindowProcA(defWndProc_, handle_, m.Msg, m.WParam, m.LParam);
    return;
  }
  TControl::DefaultHandler(m);
}

void TWinControl::ColorChanged() {
  brush_->SetColor(color_);
  for (TControl* c : std::vector<TControl*>(controls_))
    if (c->GetParentColor()) c->Perform(CM_PARENTCOLORCHANGED, 0, 0);
}


void TWinControl::PaintWindow(HDC dc) {
  TMessage m{WM_PAINT, reinterpret_cast<WPARAM>(dc), 0, 0};
  DefaultHandler(m);
}

void TWinControl::PaintControls(HDC dc, TControl* first) {
  bool started = first == nullptr;
  for (TControl* c : std::vector<TControl*>(controls_)) {
    if (!started) {
      started = c == first;
      if (!started) continue;
    }
    auto* g = As<TGraphicControl>(c);
    if (!g || !g->GetVisible()) continue;
    RECT r = g->BoundsRect();
    if (!RectVisible(dc, &r)) continue;
    int saved = SaveDC(dc);
    POINT org;
    SetViewportOrgEx(dc, 0, 0, &org);
    SetViewportOrgEx(dc, org.x + r.left, org.y + r.top, nullptr);
    IntersectClipRect(dc, 0, 0, r.right - r.left, r.bottom - r.top);
    g->PaintTo(dc);
    RestoreDC(dc, saved);
  }
}

void TWinControl::PaintHandler(TMessage& m) {
  PAINTSTRUCT ps;
  HDC dc = reinterpret_cast<HDC>(m.WParam);
  bool own = dc == nullptr;
  if (own) dc = BeginPaint(handle_, &ps);
  try {
    // Children with windows are not painted over: clip them out first.
    int saved = SaveDC(dc);
    for (TControl* c : controls_) {
      auto* w = As<TWinControl>(c);
      if (w && w->HandleAllocated() && w->GetVisible()) {
        RECT r = w->BoundsRect();
        ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
      }
    }
    PaintWindow(dc);
    RestoreDC(dc, saved);
    PaintControls(dc, nullptr);
  } catch (...) {
    if (own) EndPaint(handle_, &ps);
    throw;
  }
  if (own) EndPaint(handle_, &ps);
  m.Result = 0;
}

void TWinControl::InsertControl(TControl* c) {
  c->parent_ = this;
  controls_.push_back(c);
  if (auto* w = As<TWinControl>(c)) {
    tabList_.push_back(w);
    if (handle_ && !c->InState(csLoading)) w->HandleNeeded();
  }
  c->Invalidate();
  if (c->GetAlign() != alNone) AlignControls();
}

void TWinControl::RemoveControl(TControl* c) {
  auto w = As<TWinControl>(c);
  if (w) {
    if (w->HandleAllocated() && !InState(csDestroying)) w->DestroyHandle();
    auto it = std::find(tabList_.begin(), tabList_.end(), w);
    if (it != tabList_.end()) tabList_.erase(it);
  }
  c->Invalidate();
  auto it = std::find(controls_.begin(), controls_.end(), c);
  if (it != controls_.end()) controls_.erase(it);
  auto dc = std::find(dockClients_.begin(), dockClients_.end(), c);
  if (dc != dockClients_.end()) dockClients_.erase(dc);
  c->parent_ = nullptr;
  if (c->GetAlign() != alNone && !InState(csDestroying)) AlignControls();
}

bool TWinControl::ContainsControl(TControl* c) const {
  for (; c; c = c->GetParent())
    if (c == this) return true;
  return false;
}

int TWinControl::GetTabOrder() const {
  if (!parent_) return -1;
  auto& tl = parent_->tabList_;
  auto it = std::find(tl.begin(), tl.end(), this);
  return it == tl.end() ? -1 : static_cast<int>(it - tl.begin());
}

void TWinControl::SetTabOrder(int v) {
  if (!parent_) return;
  auto& tl = parent_->tabList_;
  auto it = std::find(tl.begin(), tl.end(), this);
  if (it == tl.end()) return;
  tl.erase(it);
  if (v < 0 || v > static_cast<int>(tl.size())) v = static_cast<int>(tl.size());
  tl.insert(tl.begin() + v, this);
}

void TWinControl::SetTabStop(bool v) {
  if (v == tabStop_) return;
  tabStop_ = v;
  if (handle_) {
    LONG_PTR s = GetWindowLongPtrA(handle_, GWL_STYLE);
    SetWindowLongPtrA(handle_, GWL_STYLE, v ? (s | WS_TABSTOP) : (s & ~static_cast<LONG_PTR>(WS_TABSTOP)));
  }
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& out) {
  for (TWinControl* w : tabList_) {
    out.push_back(w);
    w->GetTabOrderList(out);
  }
}

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool forward, bool checkTabStop, bool checkParent) {
  std::vector<TWinControl*> list;
  GetTabOrderList(list);
  if (list.empty()) return nullptr;
  int n = static_cast<int>(list.size());
  int start = -1;
  for (int i = 0; i < n; ++i)
    if (list[static_cast<size_t>(i)] == current) start = i;
  if (start < 0) start = forward ? n - 1 : 0;
  int i = start;
  for (int step = 0; step < n; ++step) {
    i = forward ? (i + 1) % n : (i - 1 + n) % n;
    TWinControl* c = list[static_cast<size_t>(i)];
    if ((!checkTabStop || c->tabStop_) && (!checkParent || c->parent_ == this || !c->parent_) && c->CanFocus())
      return c;
  }
  return nullptr;
}

void TWinControl::SelectNext(TWinControl* current, bool forward, bool checkTabStop) {
  if (TWinControl* c = FindNextControl(current, forward, checkTabStop, false)) c->SetFocus();
}

bool TWinControl::CanFocus() {
  for (TControl* c = this; c; c = c->GetParent())
    if (!c->GetVisible() || !c->GetEnabled()) return false;
  return true;
}

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation(SCannotFocus);
  ::SetFocus(GetHandle());
}

bool TWinControl::Focused() const { return handle_ && ::GetFocus() == handle_; }

void TWinControl::SetBounds(int left, int top, int width, int height) {
  if (handle_ && !InState(csLoading)) {
    CheckNewSize(width, height);
    if (left != left_ || top != top_ || width != width_ || height != height_) {
      settingBounds_ = true;
      SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
      settingBounds_ = false;
    }
    // WM_WINDOWPOSCHANGED brought the new bounds; keep them also when the window ignored the request.
    if (!HandleAllocated()) TControl::SetBounds(left, top, width, height);
    if (!anchoring_) UpdateAnchorRules();
    return;
  }
  TControl::SetBounds(left, top, width, height);
  if (!InState(csLoading)) AlignControls();
}

RECT TWinControl::GetClientRect() {
  if (handle_) {
    RECT r;
    ::GetClientRect(handle_, &r);
    return r;
  }
  return TControl::GetClientRect();
}

void TWinControl::SetClientSize(int w, int h) {
  if (!handle_) {
    TControl::SetClientSize(w, h);
    return;
  }
  RECT c = GetClientRect();
  SetBounds(left_, top_, width_ - c.right + w, height_ - c.bottom + h);
}

void TWinControl::Invalidate() {
  if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent && handle_ && !parent_) {
    // Moving a top-level window under a control: make a child window instead.
    DestroyHandle();
  }
  parentWindow_ = nullptr;
  TControl::SetParent(parent);
  if (parent && parentCtl3D_) Perform(CM_PARENTCTL3DCHANGED, 0, 0);
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  for (TControl* c : std::vector<TControl*>(controls_))
    if (c->Owner() == root) proc(c);
}

void TWinControl::AlignControls() {
  if (InState(csLoading | csDestroying)) return;
  RECT r = GetClientRect();
  if (!creatingHandle_)
    for (TControl* c : std::vector<TControl*>(controls_))
      if (c->GetAlign() == alNone && c->GetAnchors() != kDefaultAnchors) c->ApplyAnchors(r.right - r.left, r.bottom - r.top);
  auto place = [&](TAlign a) {
    for (TControl* c : std::vector<TControl*>(controls_)) {
      if (c->GetAlign() != a || !c->GetVisible()) continue;
      int l = c->GetLeft(), t = c->GetTop(), w = c->GetWidth(), h = c->GetHeight();
      switch (a) {
        case alTop:
          l = r.left, t = r.top, w = r.right - r.left;
          r.top += h;
          break;
        case alBottom:
          l = r.left, t = r.bottom - h, w = r.right - r.left;
          r.bottom -= h;
          break;
        case alLeft:
          l = r.left, t = r.top, h = r.bottom - r.top;
          r.left += w;
          break;
        case alRight:
          l = r.right - w, t = r.top, h = r.bottom - r.top;
          r.right -= w;
          break;
        case alClient:
          l = r.left, t = r.top, w = r.right - r.left, h = r.bottom - r.top;
          break;
        default:
          break;
      }
      c->SetBounds(l, t, std::max(0, w), std::max(0, h));
    }
  };
  for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) place(a);
  AdjustSize();
}

TClass TWinControl::GetActionLinkClass() { return &TWinControlActionLink::StaticClassInfo; }

void TWinControl::Loaded() {
  TControl::Loaded();
  AlignControls();
}

// ---- canvases and painted controls ----

TControlCanvas::~TControlCanvas() { FreeHandle(); }

void TControlCanvas::FreeHandle() {
  if (windowDC_) {
    SetHandle(nullptr);
    ReleaseDC(dcWindow_, windowDC_);
    windowDC_ = nullptr;
    dcWindow_ = nullptr;
  }
}

void TControlCanvas::CreateHandle() {
  FreeHandle();
  if (auto* w = As<TWinControl>(control_)) {
    dcWindow_ = w->GetHandle();
    windowDC_ = GetDC(dcWindow_);
  } else if (control_->GetParent()) {
    // A windowless control draws on its parent's window, moved to its own corner and clipped to it.
    dcWindow_ = control_->GetParent()->GetHandle();
    windowDC_ = GetDCEx(dcWindow_, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS);
    RECT r = control_->BoundsRect();
    SetViewportOrgEx(windowDC_, r.left, r.top, nullptr);
    IntersectClipRect(windowDC_, 0, 0, r.right - r.left, r.bottom - r.top);
  }
  if (windowDC_) SetHandle(windowDC_);
}

namespace {
// Lends `dc` to a control's canvas for one paint (its own handle, if any, let go first).
template <class F>
void PaintOnCanvas(TControlCanvas* canvas, HDC dc, F paint) {
  canvas->FreeHandle();
  DrawOnCanvas(canvas, dc, paint);
}
}  // namespace

TGraphicControl::TGraphicControl() : canvas_(new TControlCanvas(this)) {}
TGraphicControl::~TGraphicControl() { delete canvas_; }

void TGraphicControl::PaintTo(HDC dc) {
  PaintOnCanvas(canvas_, dc, [this] { Paint(); });
}

TCustomControl::TCustomControl() : canvas_(new TControlCanvas(this)) {}
TCustomControl::~TCustomControl() { delete canvas_; }

void TCustomControl::PaintWindow(HDC dc) {
  PaintOnCanvas(canvas_, dc, [this] { Paint(); });
}

// ---- size constraints ----

void TSizeConstraints::Changed() {
  if (OnChange) OnChange(this);
  // The control takes the new bounds at once.
  if (control_) control_->SetBounds(control_->GetLeft(), control_->GetTop(), control_->GetWidth(), control_->GetHeight());
}

void TSizeConstraints::SetMinWidth(int v) {
  if (ChangeField(minWidth_, std::max(v, 0))) Changed();
}
void TSizeConstraints::SetMinHeight(int v) {
  if (ChangeField(minHeight_, std::max(v, 0))) Changed();
}
void TSizeConstraints::SetMaxWidth(int v) {
  if (ChangeField(maxWidth_, std::max(v, 0))) Changed();
}
void TSizeConstraints::SetMaxHeight(int v) {
  if (ChangeField(maxHeight_, std::max(v, 0))) Changed();
}

void TSizeConstraints::Assign(TPersistent* source) {
  auto* c = As<TSizeConstraints>(source);
  if (!c) {
    TPersistent::Assign(source);
    return;
  }
  minWidth_ = c->minWidth_;
  minHeight_ = c->minHeight_;
  maxWidth_ = c->maxWidth_;
  maxHeight_ = c->maxHeight_;
  Changed();
}

bool TControl::CanResize(int& width, int& height) {
  bool resize = true;
  if (OnCanResize) OnCanResize(this, width, height, resize);
  return resize;
}

void TControl::ConstrainedResize(int& minWidth, int& minHeight, int& maxWidth, int& maxHeight) {
  if (OnConstrainedResize) OnConstrainedResize(this, minWidth, minHeight, maxWidth, maxHeight);
}

bool TControl::CheckNewSize(int& width, int& height) {
  if ((width != width_ || height != height_) && !CanResize(width, height)) {
    width = width_;
    height = height_;
    return false;
  }
  int minW = constraints_->GetMinWidth(), minH = constraints_->GetMinHeight();
  int maxW = constraints_->GetMaxWidth(), maxH = constraints_->GetMaxHeight();
  ConstrainedResize(minW, minH, maxW, maxH);
  if (maxW > 0 && width > maxW) width = maxW;
  if (minW > 0 && width < minW) width = minW;
  if (maxH > 0 && height > maxH) height = maxH;
  if (minH > 0 && height < minH) height = minH;
  return true;
}

// ---- anchors ----

void TControl::SetAnchors(TAnchors a) {
  a &= 15;
  if (a == anchors_) return;
  anchors_ = a;
  UpdateAnchorRules();
}

void TControl::UpdateAnchorRules() {
  if (!parent_ || InState(csLoading)) {
    anchorParentSize_ = POINT{-1, -1};
    return;
  }
  RECT r = parent_->GetClientRect();
  anchorParentSize_ = POINT{r.right - r.left, r.bottom - r.top};
  anchorBounds_ = BoundsRect();
}

void TControl::ApplyAnchors(int parentWidth, int parentHeight) {
  if (anchorParentSize_.x < 0 || InState(csLoading)) return;
  // Always from the recorded bounds, so that shrinking and growing again gives the bounds back.
  auto place = [](bool nearEdge, bool farEdge, int oldParent, int newParent, int& pos, int& size) {
    const int delta = newParent - oldParent;
    if (nearEdge && farEdge)
      size = std::max(0, size + delta);
    else if (farEdge)
      pos += delta;
    else if (!nearEdge && oldParent > 0)
      pos = MulDiv(pos + size / 2, newParent, oldParent) - size / 2;
  };
  int l = anchorBounds_.left, t = anchorBounds_.top;
  int w = anchorBounds_.right - anchorBounds_.left, h = anchorBounds_.bottom - anchorBounds_.top;
  place(anchors_ & AnchorSet(akLeft), anchors_ & AnchorSet(akRight), anchorParentSize_.x, parentWidth, l, w);
  place(anchors_ & AnchorSet(akTop), anchors_ & AnchorSet(akBottom), anchorParentSize_.y, parentHeight, t, h);
  anchoring_ = true;
  try {
    SetBounds(l, t, w, h);
  } catch (...) {
    anchoring_ = false;
    throw;
  }
  anchoring_ = false;
}

void TControl::Loaded() {
  TComponent::Loaded();
  UpdateAnchorRules();
}

// ---- right to left ----

void TControl::SetBiDiMode(TBiDiMode v) {
  parentBiDiMode_ = false;
  if (v == biDiMode_) return;
  biDiMode_ = v;
  Perform(CM_BIDIMODECHANGED, 0, 0);
}

void TControl::SetParentBiDiMode(bool v) {
  if (v == parentBiDiMode_) return;
  parentBiDiMode_ = v;
  if (v) ParentBiDiModeChanged();
}

void TControl::ParentBiDiModeChanged() {
  if (!parent_ || !parentBiDiMode_ || parent_->GetBiDiMode() == biDiMode_) return;
  biDiMode_ = parent_->GetBiDiMode();
  Perform(CM_BIDIMODECHANGED, 0, 0);
}

void TWinControl::ParentBiDiModeChanged() { TControl::ParentBiDiModeChanged(); }

UINT TControl::DrawTextBiDiModeFlags(UINT flags) const {
  if (UseRightToLeftAlignment()) {
    if (flags & DT_RIGHT)
      flags &= ~static_cast<UINT>(DT_RIGHT);
    else if (!(flags & DT_CENTER))
      flags |= DT_RIGHT;
  }
  if (UseRightToLeftReading()) flags |= DT_RTLREADING;
  return flags;
}

// ---- context menu ----

void TControl::DoContextPopup(POINT mousePos, bool& handled) {
  if (OnContextPopup) OnContextPopup(this, mousePos, handled);
}

// ---- drag and drop ----

int TDragObject::GetDragCursor(bool accepted, int, int) { return accepted ? crDrag : crNoDrop; }

int TDragControlObject::GetDragCursor(bool accepted, int x, int y) {
  return accepted && Control ? Control->GetDragCursor() : TDragObject::GetDragCursor(accepted, x, y);
}

TObject* TDragControlObject::EventSource() { return Control ? static_cast<TObject*>(Control) : this; }

void TControl::BeginDrag(bool immediate, int threshold) {
  POINT p;
  GetCursorPos(&p);
  DragEngine::Begin(this, immediate, threshold, p);
}

void TControl::EndDrag(bool drop) {
  if (DragEngine::IsSource(this)) DragEngine::Done(drop);
}

bool TControl::Dragging() const { return DragEngine::IsSource(this); }

bool TControl::DragOver(TObject* source, int x, int y, TDragState state) {
  bool accept = false;
  if (OnDragOver) {
    accept = true;
    OnDragOver(this, source, x, y, state, accept);
  }
  return accept;
}

void TControl::DragDrop(TObject* source, int x, int y) {
  if (OnDragDrop) OnDragDrop(this, source, x, y);
}

void TControl::DoStartDrag(TDragObject*& dragObject) {
  if (OnStartDrag) OnStartDrag(this, dragObject);
}

void TControl::DoEndDrag(TObject* target, int x, int y) {
  if (OnEndDrag) OnEndDrag(this, target, x, y);
}

void TControl::DoStartDock(TDragDockObject*& dragObject) {
  if (OnStartDock) OnStartDock(this, dragObject);
}

void TControl::DoEndDock(TObject* target, int x, int y) {
  if (OnEndDock) OnEndDock(this, target, x, y);
}

TWinControl* TControl::HostDockSite() const { return parent_ && parent_->GetDockSite() ? parent_ : nullptr; }

void TControl::ManualDock(TWinControl* site) {
  if (!site) throw EInvalidOperation("ManualDock needs a dock site");
  TWinControl* host = HostDockSite();
  if (host && host != site && !host->DoUnDock(site, this)) return;
  TDragDockObject object(this);
  POINT at = ClientToScreen(POINT{0, 0});
  object.DockRect = RECT{at.x, at.y, at.x + width_, at.y + height_};
  POINT c = site->ScreenToClient(at);
  site->DockDrop(&object, c.x, c.y);
}

void DragEngine::Begin(TControl* source, bool immediate, int threshold, POINT start) {
  State& st = state();
  if (st.source || !source) return;
  TWinControl* w = As<TWinControl>(source);
  HWND capture = w ? w->GetHandle() : (source->GetParent() ? source->GetParent()->GetHandle() : nullptr);
  if (!capture) return;
  TDragObject* object = nullptr;
  const bool dock = source->GetDragKind() == dkDock;
  if (dock) {
    TDragDockObject* d = nullptr;
    source->DoStartDock(d);
    object = d;
  } else {
    source->DoStartDrag(object);
  }
  st.ownsObject = object == nullptr;
  if (!object) object = dock ? new TDragDockObject(source) : new TDragControlObject(source);
  st.source = source;
  st.object = object;
  st.dock = dock;
  st.active = immediate;
  st.start = start;
  st.threshold = threshold >= 0 ? threshold : std::max(GetSystemMetrics(SM_CXDRAG), 1);
  st.capture = capture;
  st.target = nullptr;
  st.accepted = false;
  object->DragPos = start;
  SetCapture(capture);
  if (immediate) MoveTo(start);
}

bool DragEngine::HandleMessage(HWND h, TMessage& m) {
  State& st = state();
  auto screenPoint = [&] {
    POINT p{static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam))};
    ::ClientToScreen(h, &p);
    return p;
  };
  switch (m.Msg) {
    case WM_MOUSEMOVE: {
      POINT p = screenPoint();
      if (!st.active && std::abs(p.x - st.start.x) < st.threshold && std::abs(p.y - st.start.y) < st.threshold)
        return true;
      st.active = true;
      MoveTo(p);
      return true;
    }
    case WM_LBUTTONUP: {
      if (st.active) MoveTo(screenPoint());
      Done(st.active);
      return true;
    }
    case WM_RBUTTONDOWN:
      Done(false);
      return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      return true;
    case WM_CAPTURECHANGED:
      // Another window took the mouse: the drag cannot go on.
      if (reinterpret_cast<HWND>(m.LParam) != h) Done(false);
      return false;
    case WM_KEYDOWN:
      if (m.WParam == VK_ESCAPE) {
        Done(false);
        return true;
      }
      return false;
  }
  return false;
}

TControl* DragEngine::ControlAt(POINT screen) {
  HWND h = WindowFromPoint(screen);
  TWinControl* w = nullptr;
  while (h && !(w = FindControl(h))) h = GetParent(h);
  if (!w) return nullptr;
  POINT c = screen;
  ScreenToClient(w->handle_, &c);
  for (auto it = w->controls_.rbegin(); it != w->controls_.rend(); ++it) {
    TControl* child = *it;
    if (child->Is<TWinControl>() || !child->visible_) continue;
    RECT r = child->BoundsRect();
    if (PtInRect(&r, c)) return child;
  }
  return w;
}

TWinControl* DragEngine::DockSiteAt(POINT screen) {
  TControl* source = state().source;
  auto* sourceWin = As<TWinControl>(source);
  for (TControl* c = ControlAt(screen); c; c = c->parent_) {
    auto* site = As<TWinControl>(c);
    if (!site || !site->GetDockSite() || c == source || (sourceWin && sourceWin->ContainsControl(c))) continue;
    if (site->CanDockHere(source, screen)) return site;
  }
  return nullptr;
}

bool DragEngine::Notify(TControl* target, POINT screen, TDragState ds) {
  State& st = state();
  POINT c = target->ScreenToClient(screen);
  if (st.dock) {
    auto* d = static_cast<TDragDockObject*>(st.object);
    return static_cast<TWinControl*>(target)->DockOver(d, c.x, c.y, ds);
  }
  return target->DragOver(st.object->EventSource(), c.x, c.y, ds);
}

void DragEngine::MoveTo(POINT screen) {
  State& st = state();
  st.object->DragPos = screen;
  if (st.dock) {
    auto* d = static_cast<TDragDockObject*>(st.object);
    d->DockRect = RECT{screen.x, screen.y, screen.x + st.source->GetWidth(), screen.y + st.source->GetHeight()};
  }
  TControl* t = st.dock ? DockSiteAt(screen) : ControlAt(screen);
  if (t != st.target) {
    if (st.target) Notify(st.target, screen, dsDragLeave);
    st.target = t;
    st.object->DragTarget = t;
    st.accepted = t && st.source && Notify(t, screen, dsDragEnter);
  } else if (t) {
    st.accepted = Notify(t, screen, dsDragMove);
  }
  if (!st.source) return;  // a handler ended the drag
  POINT c = t ? t->ScreenToClient(screen) : screen;
  if (Screen) ::SetCursor(Screen->GetCursors(st.object->GetDragCursor(st.accepted, c.x, c.y)));
}

void DragEngine::Done(bool drop) {
  State& st = state();
  if (!st.source) return;
  const State was = st;
  st = State{};  // first, so that losing the capture below does not end the drag twice
  if (GetCapture() == was.capture) ReleaseCapture();
  TDragObject* object = was.object;
  POINT p = object->DragPos;
  TControl* target = was.active ? was.target : nullptr;
  const bool dropped = drop && target && was.accepted;
  if (target && !dropped) {
    POINT c = target->ScreenToClient(p);
    if (was.dock)
      static_cast<TWinControl*>(target)->DockOver(static_cast<TDragDockObject*>(object), c.x, c.y, dsDragLeave);
    else
      target->DragOver(object->EventSource(), c.x, c.y, dsDragLeave);
  }
  if (!dropped) target = nullptr;
  POINT c = target ? target->ScreenToClient(p) : was.source->ScreenToClient(p);
  object->DragTarget = target;
  object->Dropped = false;
  try {
    if (target && was.dock) {
      auto* site = static_cast<TWinControl*>(target);
      TWinControl* host = was.source->HostDockSite();
      if (host && host != site && !host->DoUnDock(site, was.source)) {
        target = nullptr;
      } else {
        object->Dropped = true;
        site->DockDrop(static_cast<TDragDockObject*>(object), c.x, c.y);
      }
    } else if (target) {
      object->Dropped = true;
      target->DragDrop(object->EventSource(), c.x, c.y);
    }
    if (was.dock)
      was.source->DoEndDock(target, c.x, c.y);
    else
      was.source->DoEndDrag(target, c.x, c.y);
  } catch (...) {
    if (was.ownsObject) delete object;
    throw;
  }
  if (was.ownsObject) delete object;
  if (Screen) ::SetCursor(Screen->GetCursors(crDefault));
}

void DragEngine::Forget(TControl* c) {
  State& st = state();
  if (!st.source) return;
  if (st.source == c) {
    HWND capture = st.capture;
    if (st.ownsObject) delete st.object;
    st = State{};
    if (GetCapture() == capture) ReleaseCapture();
  } else if (st.target == c) {
    st.target = nullptr;
    st.object->DragTarget = nullptr;
    st.accepted = false;
  }
}

// ---- docking ----

void TWinControl::SetUseDockManager(bool v) {
  if (v == useDockManager_) return;
  useDockManager_ = v;
  if (v) ArrangeDockClients();
}

bool TWinControl::CanDockHere(TControl* client, POINT mousePos) {
  RECT influence;
  if (handle_)
    GetWindowRect(handle_, &influence);
  else {
    POINT o = ClientToScreen(POINT{0, 0});
    influence = RECT{o.x, o.y, o.x + width_, o.y + height_};
  }
  bool canDock = true;
  if (OnGetSiteInfo) OnGetSiteInfo(this, client, influence, mousePos, canDock);
  return canDock && PtInRect(&influence, mousePos);
}

bool TWinControl::DockOver(TDragDockObject* source, int x, int y, TDragState state) {
  bool accept = true;
  if (OnDockOver) OnDockOver(this, source, x, y, state, accept);
  return accept;
}

void TWinControl::DockDrop(TDragDockObject* source, int x, int y) {
  TControl* client = source->Control;
  if (client) {
    POINT at = ScreenToClient(POINT{source->DockRect.left, source->DockRect.top});
    int w = source->DockRect.right - source->DockRect.left, h = source->DockRect.bottom - source->DockRect.top;
    if (client->GetParent() != this) client->SetParent(this);
    client->SetBounds(at.x, at.y, w, h);
    dockClients_.erase(std::remove(dockClients_.begin(), dockClients_.end(), client), dockClients_.end());
    dockClients_.push_back(client);
    if (useDockManager_) ArrangeDockClients();
  }
  if (OnDockDrop) OnDockDrop(this, source, x, y);
}

bool TWinControl::DoUnDock(TWinControl* newTarget, TControl* client) {
  bool allow = true;
  if (OnUnDock) OnUnDock(this, client, newTarget, allow);
  return allow;
}

void TWinControl::ArrangeDockClients() {
  RECT r = GetClientRect();
  int y = r.top;
  for (TControl* c : std::vector<TControl*>(dockClients_)) {
    if (!c->GetVisible()) continue;
    c->SetBounds(r.left, y, r.right - r.left, c->GetHeight());
    y += c->GetHeight();
  }
}

// ---- 3-D look, background, bevels, input method ----

void TWinControl::SetCtl3D(bool v) {
  parentCtl3D_ = false;
  if (v == ctl3D_) return;
  ctl3D_ = v;
  Perform(CM_CTL3DCHANGED, 0, 0);
}

void TWinControl::SetParentCtl3D(bool v) {
  if (v == parentCtl3D_) return;
  parentCtl3D_ = v;
  if (v) Perform(CM_PARENTCTL3DCHANGED, 0, 0);
}

void TWinControl::SetParentBackground(bool v) {
  if (v == parentBackground_) return;
  parentBackground_ = v;
  Invalidate();
}

void TWinControl::SetBevelKind(TBevelKind v) {
  if (ChangeField(bevelKind_, v)) Perform(CM_BORDERCHANGED, 0, 0);
}
void TWinControl::SetBevelInner(TBevelCut v) {
  if (ChangeField(bevelInner_, v)) Perform(CM_BORDERCHANGED, 0, 0);
}
void TWinControl::SetBevelOuter(TBevelCut v) {
  if (ChangeField(bevelOuter_, v)) Perform(CM_BORDERCHANGED, 0, 0);
}
void TWinControl::SetBevelWidth(int v) {
  if (ChangeField(bevelWidth_, std::max(v, 0))) Perform(CM_BORDERCHANGED, 0, 0);
}
void TWinControl::SetBorderWidth(int v) {
  if (ChangeField(ncBorderWidth_, std::max(v, 0))) Perform(CM_BORDERCHANGED, 0, 0);
}
void TWinControl::SetBevelEdges(TBevelEdges v) {
  if (ChangeField(bevelEdges_, v & kAllBevelEdges)) Perform(CM_BORDERCHANGED, 0, 0);
}

int TWinControl::BevelEdgeSize() const {
  if (bevelKind_ == bkNone) return 0;
  return (bevelInner_ != bvNone ? bevelWidth_ : 0) + (bevelOuter_ != bvNone ? bevelWidth_ : 0);
}

void TWinControl::PaintFrame() {
  const int e = BevelEdgeSize();
  if (!handle_ || (e <= 0 && ncBorderWidth_ <= 0)) return;
  HDC dc = GetWindowDC(handle_);
  if (!dc) return;
  RECT wr, r;
  GetWindowRect(handle_, &wr);
  ::GetClientRect(handle_, &r);
  MapWindowPoints(handle_, nullptr, reinterpret_cast<POINT*>(&r), 2);
  OffsetRect(&r, -wr.left, -wr.top);
  RECT client = r;
  ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
  if (ncBorderWidth_ > 0) {
    InflateRect(&r, ncBorderWidth_, ncBorderWidth_);
    FillRect(dc, &r, brush_->GetHandle());
    client = r;
  }
  if (e <= 0) {
    ReleaseDC(handle_, dc);
    return;
  }
  UINT sides = 0;
  if (bevelEdges_ & (1u << beLeft)) r.left -= e, sides |= BF_LEFT;
  if (bevelEdges_ & (1u << beTop)) r.top -= e, sides |= BF_TOP;
  if (bevelEdges_ & (1u << beRight)) r.right += e, sides |= BF_RIGHT;
  if (bevelEdges_ & (1u << beBottom)) r.bottom += e, sides |= BF_BOTTOM;
  ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  const UINT look = bevelKind_ == bkFlat ? BF_FLAT : bevelKind_ == bkSoft ? BF_SOFT : 0;
  auto edge = [](TBevelCut cut, UINT sunken, UINT raised) -> UINT {
    return cut == bvLowered ? sunken : cut == bvRaised ? raised : 0;
  };
  auto shrink = [&](RECT& x) {
    if (sides & BF_LEFT) x.left += bevelWidth_;
    if (sides & BF_TOP) x.top += bevelWidth_;
    if (sides & BF_RIGHT) x.right -= bevelWidth_;
    if (sides & BF_BOTTOM) x.bottom -= bevelWidth_;
  };
  if (bevelOuter_ != bvNone) {
    if (UINT k = edge(bevelOuter_, BDR_SUNKENOUTER, BDR_RAISEDOUTER)) DrawEdge(dc, &r, k, sides | look);
    shrink(r);
  }
  if (bevelInner_ != bvNone)
    if (UINT k = edge(bevelInner_, BDR_SUNKENINNER, BDR_RAISEDINNER)) DrawEdge(dc, &r, k, sides | look);
  ReleaseDC(handle_, dc);
}

void TWinControl::SetIme() {
  if (!handle_) return;
  if (!imeName_.empty()) {
    HKL layouts[64];
    int n = GetKeyboardLayoutList(64, layouts);
    for (int i = 0; i < n; ++i) {
      char description[256] = {};
      if (ImmGetDescriptionA(layouts[i], description, sizeof description) > 0 && imeName_ == description) {
        ActivateKeyboardLayout(layouts[i], 0);
        break;
      }
    }
  }
  if (imeMode_ == imDontCare) return;
  if (imeMode_ == imDisable) {
    ImmAssociateContextEx(handle_, nullptr, 0);
    return;
  }
  ImmAssociateContextEx(handle_, nullptr, IACE_DEFAULT);
  HIMC ctx = ImmGetContext(handle_);
  if (!ctx) return;
  if (imeMode_ == imClose) {
    ImmSetOpenStatus(ctx, FALSE);
  } else {
    ImmSetOpenStatus(ctx, TRUE);
    DWORD mode = 0;
    switch (imeMode_) {
      case imSAlpha: mode = IME_CMODE_ALPHANUMERIC; break;
      case imAlpha: mode = IME_CMODE_ALPHANUMERIC | IME_CMODE_FULLSHAPE; break;
      case imHira: mode = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE; break;
      case imSKata: mode = IME_CMODE_NATIVE | IME_CMODE_KATAKANA; break;
      case imKata: mode = IME_CMODE_NATIVE | IME_CMODE_KATAKANA | IME_CMODE_FULLSHAPE; break;
      case imChinese: mode = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE; break;
      case imSHanguel: mode = IME_CMODE_NATIVE; break;
      case imHanguel: mode = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE; break;
      default: break;
    }
    DWORD conversion = 0, sentence = 0;
    if (imeMode_ != imOpen && ImmGetConversionStatus(ctx, &conversion, &sentence))
      ImmSetConversionStatus(ctx, mode, sentence);
  }
  ImmReleaseContext(handle_, ctx);
}

}  // namespace ui
