// Controls: window-procedure stubs, the base control, windowed controls with message dispatch,
// graphic controls and custom (self-painted) controls.
//
// A message travels: Win32 window procedure -> the control's stub (MakeObjectInstance) ->
// TWinControl::MainWndProc (catches every exception and hands it to the application) ->
// WindowProc (replaceable) -> virtual WndProc -> virtual DefaultHandler -> CallWindowProcA(DefWndProc).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "uigraphics.h"

namespace ui {

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};
using TWndMethod = TEvent<void(TMessage&)>;

// A window procedure that calls `method` (a stub of machine code, x86 and x64 variants). The stub
// lives until FreeObjectInstance.
WNDPROC MakeObjectInstance(const TWndMethod& method);
void FreeObjectInstance(WNDPROC proc);

// Library messages between controls.
enum : UINT {
  CM_BASE = 0xB000,
  CM_ACTIVATE = CM_BASE + 0,
  CM_DEACTIVATE = CM_BASE + 1,
  CM_DIALOGKEY = CM_BASE + 5,
  CM_DIALOGCHAR = CM_BASE + 6,
  CM_FOCUSCHANGED = CM_BASE + 7,
  CM_PARENTFONTCHANGED = CM_BASE + 8,   // sent to children that follow their parent's font
  CM_PARENTCOLORCHANGED = CM_BASE + 9,  // and colour
  CM_ENABLEDCHANGED = CM_BASE + 11,
  CM_COLORCHANGED = CM_BASE + 12,
  CM_FONTCHANGED = CM_BASE + 13,
  CM_VISIBLECHANGED = CM_BASE + 16,
  CM_TEXTCHANGED = CM_BASE + 18,
  CM_MOUSEENTER = CM_BASE + 19,  // 0xB013, sent by the application's idle step
  CM_MOUSELEAVE = CM_BASE + 20,  // 0xB014
  CM_ENTER = CM_BASE + 27,
  CM_EXIT = CM_BASE + 28,
  CM_WANTSPECIALKEY = CM_BASE + 30,
  CM_SHOWINGCHANGED = CM_BASE + 34,
  CM_RECREATEWND = CM_BASE + 41,
  CM_CTL3DCHANGED = CM_BASE + 15,
  CM_PARENTCTL3DCHANGED = CM_BASE + 10,
  CM_BORDERCHANGED = CM_BASE + 59,       // a bevel or border of the window changed
  CM_BIDIMODECHANGED = CM_BASE + 60,
  CM_PARENTBIDIMODECHANGED = CM_BASE + 61,
  CM_HINTSHOW = CM_BASE + 48,  // 0xB030
  CM_RELEASE = CM_BASE + 33,
  CM_ACTIONEXECUTE = CM_BASE + 64,  // 0xB040; LParam: the action
  // Notifications reflected from a parent to the child that caused them: CN_BASE + the message.
  CN_BASE = 0xBC00,
  CN_COMMAND = CN_BASE + WM_COMMAND,
  CN_NOTIFY = CN_BASE + WM_NOTIFY,
  CN_DRAWITEM = CN_BASE + WM_DRAWITEM,
  CN_KEYDOWN = CN_BASE + WM_KEYDOWN,
  CN_CHAR = CN_BASE + WM_CHAR,
  CN_SYSKEYDOWN = CN_BASE + WM_SYSKEYDOWN,
  CN_SYSCHAR = CN_BASE + WM_SYSCHAR,
  CN_CTLCOLOREDIT = CN_BASE + WM_CTLCOLOREDIT,
  CN_CTLCOLORSTATIC = CN_BASE + WM_CTLCOLORSTATIC,
  CN_CTLCOLORBTN = CN_BASE + WM_CTLCOLORBTN,
  CN_HSCROLL = CN_BASE + WM_HSCROLL,
  CN_VSCROLL = CN_BASE + WM_VSCROLL,
};

// Shift state bits of key and mouse events.
enum : int { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
int KeyboardShiftState();
int KeyDataToShiftState(LPARAM keyData);

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
// Edges of the parent a control keeps its distance to; a set (bit i = element i).
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = unsigned;
constexpr TAnchors AnchorSet(TAnchorKind k) { return 1u << k; }
constexpr TAnchors kDefaultAnchors = (1u << akLeft) | (1u << akTop);
enum TDragMode { dmManual, dmAutomatic };
enum TDragKind { dkDrag, dkDock };
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };
enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBevelKind { bkNone, bkTile, bkSoft, bkFlat };
enum TBevelEdge { beLeft, beTop, beRight, beBottom };
using TBevelEdges = unsigned;  // bit i = TBevelEdge i
constexpr TBevelEdges kAllBevelEdges = 15;
enum TImeMode { imDisable, imClose, imOpen, imDontCare, imSAlpha, imAlpha, imHira, imSKata, imKata, imChinese,
                imSHanguel, imHanguel };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TKeyEvent = TEvent<void(TObject* Sender, WORD& Key, int Shift)>;
using TKeyPressEvent = TEvent<void(TObject* Sender, char& Key)>;
using TMouseEvent = TEvent<void(TObject* Sender, TMouseButton Button, int Shift, int X, int Y)>;
using TMouseMoveEvent = TEvent<void(TObject* Sender, int Shift, int X, int Y)>;

class TWinControl;
class TControl;
class TCustomForm;
class TBasicAction;
class TBasicActionLink;
class TControlActionLink;
class TPopupMenu;

// The bounds a control's size is kept in; 0 is no limit. Changing a value re-applies the bounds.
class TSizeConstraints : public TPersistent {
  UI_DECLARE_CLASS(TSizeConstraints, TPersistent)
 public:
  explicit TSizeConstraints(TControl* control = nullptr) : control_(control) {}
  int GetMinWidth() const { return minWidth_; }
  void SetMinWidth(int v);
  int GetMinHeight() const { return minHeight_; }
  void SetMinHeight(int v);
  int GetMaxWidth() const { return maxWidth_; }
  void SetMaxWidth(int v);
  int GetMaxHeight() const { return maxHeight_; }
  void SetMaxHeight(int v);
  void Assign(TPersistent* source) override;
  TNotifyEvent OnChange;

 private:
  void Changed();
  TControl* control_;
  int minWidth_ = 0, minHeight_ = 0, maxWidth_ = 0, maxHeight_ = 0;
};

// What a drag carries. The library makes one for a drag whose OnStartDrag gives none; an object a
// handler gives stays the handler's (it frees it, typically in OnEndDrag).
class TDragObject : public TObject {
  UI_DECLARE_CLASS(TDragObject, TObject)
 public:
  // The control under the pointer while the drag runs, the one dropped on afterwards (null: none).
  TControl* DragTarget = nullptr;
  // The pointer, in screen coordinates.
  POINT DragPos{0, 0};
  bool Dropped = false;
  // The cursor shown over a target that accepts (or refuses) the drag.
  virtual int GetDragCursor(bool accepted, int x, int y);
  // The object the drag events name as Source.
  virtual TObject* EventSource() { return this; }
};

// A drag of a control: the events name the control itself as Source.
class TDragControlObject : public TDragObject {
  UI_DECLARE_CLASS(TDragControlObject, TDragObject)
 public:
  explicit TDragControlObject(TControl* control = nullptr) : Control(control) {}
  TControl* Control;
  int GetDragCursor(bool accepted, int x, int y) override;
  TObject* EventSource() override;
};

// A control being dragged to a dock site: the events name this object as Source.
class TDragDockObject : public TDragControlObject {
  UI_DECLARE_CLASS(TDragDockObject, TDragControlObject)
 public:
  explicit TDragDockObject(TControl* control = nullptr) : TDragControlObject(control) {}
  // Where the control lands, in screen coordinates (the site may move it in OnDockOver).
  RECT DockRect{0, 0, 0, 0};
  TObject* EventSource() override { return this; }
};

using TStartDragEvent = TEvent<void(TObject* Sender, TDragObject*& DragObject)>;
using TDragOverEvent = TEvent<void(TObject* Sender, TObject* Source, int X, int Y, TDragState State, bool& Accept)>;
using TDragDropEvent = TEvent<void(TObject* Sender, TObject* Source, int X, int Y)>;
using TEndDragEvent = TEvent<void(TObject* Sender, TObject* Target, int X, int Y)>;
using TStartDockEvent = TEvent<void(TObject* Sender, TDragDockObject*& DragObject)>;
using TDockOverEvent =
    TEvent<void(TObject* Sender, TDragDockObject* Source, int X, int Y, TDragState State, bool& Accept)>;
using TDockDropEvent = TEvent<void(TObject* Sender, TDragDockObject* Source, int X, int Y)>;
using TUnDockEvent = TEvent<void(TObject* Sender, TControl* Client, TWinControl* NewTarget, bool& Allow)>;
using TGetSiteInfoEvent =
    TEvent<void(TObject* Sender, TControl* DockClient, RECT& InfluenceRect, POINT MousePos, bool& CanDock)>;
// MousePos in client coordinates, (-1, -1) when the menu was asked for from the keyboard.
using TContextPopupEvent = TEvent<void(TObject* Sender, POINT MousePos, bool& Handled)>;
using TCanResizeEvent = TEvent<void(TObject* Sender, int& NewWidth, int& NewHeight, bool& Resize)>;
using TConstrainedResizeEvent =
    TEvent<void(TObject* Sender, int& MinWidth, int& MinHeight, int& MaxWidth, int& MaxHeight)>;

class TControl : public TComponent {
  UI_DECLARE_CLASS(TControl, TComponent)
 public:
  TControl();
  void Create(TComponent* owner) override;
  void BeforeDestruction() override;
  ~TControl() override;

  // The message path: Perform sends through WindowProc.
  TWndMethod WindowProc;
  LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual void WndProc(TMessage& m);
  virtual void DefaultHandler(TMessage& m);

  TWinControl* GetParent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  void SetParentComponent(TComponent* parent) override;
  TComponent* GetParentComponent() const override;
  bool HasParent() const override { return true; }

  int GetLeft() const { return left_; }
  int GetTop() const { return top_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  RECT BoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }
  virtual RECT GetClientRect();
  int GetClientWidth() { return GetClientRect().right; }
  int GetClientHeight() { return GetClientRect().bottom; }
  void SetClientWidth(int v) { SetClientSize(v, GetClientHeight()); }
  void SetClientHeight(int v) { SetClientSize(GetClientWidth(), v); }
  virtual void SetClientSize(int w, int h);
  POINT ClientToScreen(POINT p);
  POINT ScreenToClient(POINT p);

  // Caption and Text are the same string, reached through WM_GETTEXT / WM_SETTEXT.
  std::string GetText();
  void SetText(const std::string& s);
  int GetTextLen();
  std::string GetCaption() { return GetText(); }
  void SetCaption(const std::string& s) { SetText(s); }

  bool GetVisible() const { return visible_; }
  virtual void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool GetEnabled() const { return enabled_; }
  virtual void SetEnabled(bool v);
  TColor GetColor() const { return color_; }
  void SetColor(TColor c);
  TFont* GetFont() const { return font_; }
  void SetFont(TFont* f) { font_->Assign(f); }
  bool GetParentFont() const { return parentFont_; }
  void SetParentFont(bool v);
  bool GetParentColor() const { return parentColor_; }
  void SetParentColor(bool v);
  TAlign GetAlign() const { return align_; }
  void SetAlign(TAlign a);
  std::string GetHint() const { return hint_; }
  void SetHint(const std::string& h) { hint_ = h; }
  // Whether hints show over the control: its own setting, or its parent's while ParentShowHint is set.
  bool GetShowHint() const;
  void SetShowHint(bool v);
  bool GetParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool v) { parentShowHint_ = v; }
  int GetCursor() const { return cursor_; }
  void SetCursor(int c) { cursor_ = c; }

  virtual void Invalidate();
  void Update();
  void Repaint();
  void Refresh() { Repaint(); }
  void BringToFront();
  // The click: OnClick, or the action's execution when OnClick is not assigned.
  virtual void Click();
  // True when the control and all its parents are visible (and the top one has a window).
  bool Showing() const;

  // The action whose caption, hint, enabled and visible state the control shows and which its click
  // executes (a component reference; null: none).
  TBasicAction* GetAction() const;
  void SetAction(TBasicAction* a);
  TControlActionLink* ActionLink() const { return actionLink_; }
  // The idle-time update of the control's action.
  virtual void InitiateAction();
  // The menu that a right click (WM_CONTEXTMENU) pops up over the control.
  TPopupMenu* GetPopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* m);
  // A control that handles actions itself (e.g. one that shows hints) takes them here; true: taken.
  virtual bool ExecuteAction(TBasicAction* action) {
    (void)action;
    return false;
  }
  // Stored tests of the published values that the action may provide.
  bool IsCaptionStored() const;
  bool IsHintStored() const;
  bool IsEnabledStored() const;
  bool IsVisibleStored() const;
  bool IsShowHintStored() const;

  // Edges of the parent whose distance the control keeps when the parent is resized (alNone only):
  // left and right both: the width follows; neither: the control keeps its centre's proportion.
  TAnchors GetAnchors() const { return anchors_; }
  void SetAnchors(TAnchors a);
  TSizeConstraints* GetConstraints() const { return constraints_; }
  void SetConstraints(TSizeConstraints* c) { constraints_->Assign(c); }
  // Applies OnCanResize and the constraints to a size about to be set; false: the size stays.
  bool CheckNewSize(int& width, int& height);

  // Drag and drop, and docking (DragKind dkDock).
  TDragMode GetDragMode() const { return dragMode_; }
  void SetDragMode(TDragMode v) { dragMode_ = v; }
  TDragKind GetDragKind() const { return dragKind_; }
  void SetDragKind(TDragKind v) { dragKind_ = v; }
  int GetDragCursor() const { return dragCursor_; }
  void SetDragCursor(int v) { dragCursor_ = v; }
  // Starts a drag now, or (immediate false) once the pointer moved `threshold` pixels (-1: the
  // system's drag distance) with the left button held.
  void BeginDrag(bool immediate, int threshold = -1);
  // Ends the control's drag: drop on the current target, or cancel.
  void EndDrag(bool drop);
  bool Dragging() const;
  // Docks into `site` (null: leaves its dock site without a new one), as a drop there would.
  void ManualDock(TWinControl* site);
  // The dock site the control sits in (its parent when that is a dock site), or null.
  TWinControl* HostDockSite() const;

  // Right-to-left: the control's own mode, or its parent's while ParentBiDiMode is set.
  TBiDiMode GetBiDiMode() const { return biDiMode_; }
  void SetBiDiMode(TBiDiMode v);
  bool GetParentBiDiMode() const { return parentBiDiMode_; }
  void SetParentBiDiMode(bool v);
  bool UseRightToLeftReading() const { return biDiMode_ != bdLeftToRight; }
  bool UseRightToLeftAlignment() const { return biDiMode_ == bdRightToLeft; }
  bool UseRightToLeftScrollBar() const { return biDiMode_ == bdRightToLeft || biDiMode_ == bdRightToLeftNoAlign; }
  // DrawText flags adjusted for the mode: left and right swapped, DT_RTLREADING added.
  UINT DrawTextBiDiModeFlags(UINT flags) const;

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  // The pointer came onto the control, or left it (from the application's idle step).
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TCanResizeEvent OnCanResize;
  TConstrainedResizeEvent OnConstrainedResize;
  TContextPopupEvent OnContextPopup;
  TStartDragEvent OnStartDrag;
  TDragOverEvent OnDragOver;
  TDragDropEvent OnDragDrop;
  TEndDragEvent OnEndDrag;
  TStartDockEvent OnStartDock;
  TEndDragEvent OnEndDock;

  // Drag protocol steps; `source` is what the drag events name as Source.
  virtual bool DragOver(TObject* source, int x, int y, TDragState state);
  virtual void DragDrop(TObject* source, int x, int y);

 protected:
  virtual void Resize();
  virtual bool CanResize(int& width, int& height);
  virtual void ConstrainedResize(int& minWidth, int& minHeight, int& maxWidth, int& maxHeight);
  virtual void DoContextPopup(POINT mousePos, bool& handled);
  virtual void DoStartDrag(TDragObject*& dragObject);
  virtual void DoEndDrag(TObject* target, int x, int y);
  virtual void DoStartDock(TDragDockObject*& dragObject);
  virtual void DoEndDock(TObject* target, int x, int y);
  // Records the distances to the parent's edges that the anchors keep.
  void UpdateAnchorRules();
  // Moves the control after its parent's client area became `parentWidth` x `parentHeight`.
  void ApplyAnchors(int parentWidth, int parentHeight);
  void Loaded() override;
  virtual void ParentBiDiModeChanged();
  virtual void DoMouseDown(TMouseButton b, int shift, int x, int y);
  virtual void DoMouseUp(TMouseButton b, int shift, int x, int y);
  virtual void FontChanged(TObject* sender);
  // What a change of the parent's font or colour does to this control.
  virtual void ParentFontChanged();
  virtual void ParentColorChanged();
  virtual void VisibleChanging() {}
  void RequestAlign();
  // Copies the action's values (checkDefaults: only where the control still has its defaults).
  virtual void ActionChange(TObject* sender, bool checkDefaults);
  // The class of the link made for an action (a TControlActionLink class).
  virtual TClass GetActionLinkClass();
  void Notification(TComponent* c, TOperation op) override;
  TControlActionLink* actionLink_ = nullptr;
  TPopupMenu* popupMenu_ = nullptr;
  std::string text_;
  TFont* font_;
  TColor color_ = clBtnFace;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  bool parentFont_ = true;
  bool parentColor_ = true;
  TAlign align_ = alNone;
  std::string hint_;
  bool showHint_ = false;
  bool parentShowHint_ = true;
  int cursor_ = 0;
  bool mouseCaptured_ = false;
  TWinControl* parent_ = nullptr;
  TAnchors anchors_ = kDefaultAnchors;
  RECT anchorBounds_{0, 0, 0, 0};      // bounds when the anchor rules were recorded
  POINT anchorParentSize_{-1, -1};     // the parent's client size then; -1: not recorded
  bool anchoring_ = false;             // the bounds being set come from the anchors
  TSizeConstraints* constraints_;
  TDragMode dragMode_ = dmManual;
  TDragKind dragKind_ = dkDrag;
  int dragCursor_;
  TBiDiMode biDiMode_ = bdLeftToRight;
  bool parentBiDiMode_ = true;
  friend class TWinControl;
  friend struct DragEngine;

 private:
  void DoActionChange(TObject* sender);
};

struct TCreateParams {
  std::string Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = nullptr;
  void* Param = nullptr;
  WNDCLASSA WindowClass{};
  std::string WinClassName;
};

class TWinControl : public TControl {
  UI_DECLARE_CLASS(TWinControl, TControl)
 public:
  TWinControl();
  void BeforeDestruction() override;
  ~TWinControl() override;

  HWND GetHandle();  // creates the window when needed
  bool HandleAllocated() const { return handle_ != nullptr; }
  void HandleNeeded();
  void DestroyHandle();
  void RecreateWnd();
  // The window's own window procedure below the library (the class's, or a subclassed system one).
  WNDPROC GetDefWndProc() const { return defWndProc_; }
  void SetDefWndProc(WNDPROC p) { defWndProc_ = p; }
  // The stub installed as the window's procedure.
  WNDPROC ObjectInstance() const { return objectInstance_; }
  // Sets the window handle while a window is being created (used by creation hooks).
  void SetHandleDuringCreation(HWND h) { handle_ = h; }
  void MainWndProc(TMessage& m);
  void WndProc(TMessage& m) override;
  void DefaultHandler(TMessage& m) override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int i) const { return controls_.at(static_cast<size_t>(i)); }
  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);
  bool ContainsControl(TControl* c) const;
  // A parent window for a control that has no parent control.
  HWND GetParentWindow() const { return parentWindow_; }
  void SetParentWindow(HWND h);

  int GetTabOrder() const;
  void SetTabOrder(int v);
  bool GetTabStop() const { return tabStop_; }
  void SetTabStop(bool v);
  // Windowed children in tab order, depth-first.
  void GetTabOrderList(std::vector<TWinControl*>& out);
  TWinControl* FindNextControl(TWinControl* current, bool forward, bool checkTabStop, bool checkParent);
  void SelectNext(TWinControl* current, bool forward, bool checkTabStop);
  virtual bool CanFocus();
  virtual void SetFocus();
  bool Focused() const;

  void SetBounds(int left, int top, int width, int height) override;
  RECT GetClientRect() override;
  void SetClientSize(int w, int h) override;
  void Invalidate() override;
  void SetParent(TWinControl* parent) override;
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void AlignControls();
  TBrush* GetBrush() const { return brush_; }
  // The control whose window is `h` (ours only), or null.
  friend TWinControl* FindControl(HWND h);

  // A dock site takes controls dragged with DragKind dkDock; with UseDockManager it stacks them
  // from the top in the order they were docked, each as high as it was.
  bool GetDockSite() const { return dockSite_; }
  void SetDockSite(bool v) { dockSite_ = v; }
  bool GetUseDockManager() const { return useDockManager_; }
  void SetUseDockManager(bool v);
  int DockClientCount() const { return static_cast<int>(dockClients_.size()); }
  TControl* DockClients(int i) const { return dockClients_.at(static_cast<size_t>(i)); }
  // Whether `client` may dock here with the pointer at `mousePos` (screen): OnGetSiteInfo decides,
  // given the site's screen rectangle as the influence rectangle.
  bool CanDockHere(TControl* client, POINT mousePos);
  virtual bool DockOver(TDragDockObject* source, int x, int y, TDragState state);
  virtual void DockDrop(TDragDockObject* source, int x, int y);
  // Asked before `client` leaves this site for `newTarget` (null: none); false keeps it here.
  virtual bool DoUnDock(TWinControl* newTarget, TControl* client);

  // A sunken (Ctl3D) or flat look; the control's own, or its parent's while ParentCtl3D is set.
  bool GetCtl3D() const { return ctl3D_; }
  void SetCtl3D(bool v);
  bool GetParentCtl3D() const { return parentCtl3D_; }
  void SetParentCtl3D(bool v);
  // With visual themes, the control shows its parent's background instead of its colour.
  bool GetParentBackground() const { return parentBackground_; }
  void SetParentBackground(bool v);
  // A bevel drawn in the window's frame (BevelKind not bkNone) on the given edges.
  TBevelKind GetBevelKind() const { return bevelKind_; }
  void SetBevelKind(TBevelKind v);
  TBevelEdges GetBevelEdges() const { return bevelEdges_; }
  void SetBevelEdges(TBevelEdges v);
  TBevelCut GetBevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut v);
  TBevelCut GetBevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut v);
  int GetBevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int v);
  // A frame of this width in the control's colour around the client area, inside the bevel.
  int GetBorderWidth() const { return ncBorderWidth_; }
  void SetBorderWidth(int v);
  // The input method state the control asks for when it receives the focus, and the input method
  // (by its description) made active then; empty: the current one.
  TImeMode GetImeMode() const { return imeMode_; }
  void SetImeMode(TImeMode v) { imeMode_ = v; }
  std::string GetImeName() const { return imeName_; }
  void SetImeName(const std::string& v) { imeName_ = v; }

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TDockOverEvent OnDockOver;
  TDockDropEvent OnDockDrop;
  TUnDockEvent OnUnDock;
  TGetSiteInfoEvent OnGetSiteInfo;

  virtual void DoEnter();
  virtual void DoExit();

  // Services that forms provide to the controls on them.
  virtual bool IsFormWindow() const { return false; }
  virtual bool WantsKeyPreview() const { return false; }
  // Told when `c` receives the focus; false stops the focus message.
  virtual bool SetFocusedControl(TWinControl* c) {
    (void)c;
    return true;
  }

 protected:
  virtual void CreateParams(TCreateParams& p);
  virtual void CreateWindowHandle(const TCreateParams& p);
  virtual void CreateWnd();
  virtual void DestroyWnd();
  virtual void DestroyWindowHandle();
  void CreateHandle();
  // Makes the window a subclass of the system class `className` ("EDIT", "BUTTON", ...).
  void CreateSubClass(TCreateParams& p, const char* className);
  // Key events; each returns true when the key was consumed (set to 0 by a handler).
  virtual bool DoKeyDown(TMessage& m);
  virtual bool DoKeyUp(TMessage& m);
  virtual bool DoKeyPress(TMessage& m);
  virtual void PaintWindow(HDC dc);
  void PaintControls(HDC dc, TControl* first);
  void PaintHandler(TMessage& m);
  virtual void ColorChanged();
  void Loaded() override;
  TClass GetActionLinkClass() override;
  void ParentBiDiModeChanged() override;
  // The width of the frame bevel on each edge (0 without BevelKind).
  int BevelEdgeSize() const;
  // Asks the input method for ImeMode and ImeName (on receiving the focus).
  void SetIme();
  // Lays out the clients of a dock site that uses its dock manager.
  void ArrangeDockClients();
  // Called after the children were aligned: a control that sizes itself to them does it here.
  virtual void AdjustSize() {}
  HWND handle_ = nullptr;
  WNDPROC defWndProc_ = nullptr;
  WNDPROC objectInstance_ = nullptr;
  HWND parentWindow_ = nullptr;
  std::vector<TControl*> controls_;      // every child, in z-order for graphic ones
  std::vector<TWinControl*> tabList_;    // windowed children in tab order
  bool tabStop_ = false;
  bool dockSite_ = false, useDockManager_ = false;
  std::vector<TControl*> dockClients_;
  bool ctl3D_ = true, parentCtl3D_ = true, parentBackground_ = false;
  TBevelKind bevelKind_ = bkNone;
  TBevelEdges bevelEdges_ = kAllBevelEdges;
  TBevelCut bevelInner_ = bvRaised, bevelOuter_ = bvLowered;
  int bevelWidth_ = 1;
  int ncBorderWidth_ = 0;
  TImeMode imeMode_ = imDontCare;
  std::string imeName_;
  TBrush* brush_;
  // Windowed children created with this window: a parent makes its children's windows.
  void CreateChildHandles();

 private:
  void UpdateBoundsFromWindow();
  void PaintFrame();
  bool destroyingHandle_ = false;
  bool creatingHandle_ = false;
  bool settingBounds_ = false;
  friend class TControl;
  friend struct DragEngine;
};

TWinControl* FindControl(HWND h);
// The top-most parent of `c` when that is a form, or null (GetParentForm in uiforms gives it typed).
TWinControl* ParentFormControl(TControl* c);
// Global atoms under which every library window carries its control object (two window properties).
ATOM ControlAtom();
ATOM WindowAtom();
// The control whose window is being created right now (set around CreateWindowHandle).
TWinControl* CreationControl();
void SetCreationControl(TWinControl* c);
// The window procedure of every library window class: attaches the window to CreationControl.
LRESULT CALLBACK InitWndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

// Where exceptions from window procedures go (the application installs its handler).
using TExceptionHook = void (*)(TObject* sender);
void SetWindowExceptionHook(TExceptionHook hook);
void HandleWindowException(TObject* sender);

// A canvas that draws on a control: the paint DC while painting, else a window DC made on demand.
class TControlCanvas : public TCanvas {
  UI_DECLARE_CLASS(TControlCanvas, TCanvas)
 public:
  explicit TControlCanvas(TControl* c) : control_(c) {}
  ~TControlCanvas() override;
  void FreeHandle();

 protected:
  void CreateHandle() override;

 private:
  TControl* control_;
  HDC windowDC_ = nullptr;
  HWND dcWindow_ = nullptr;
};

// A control without a window, painted by its parent.
class TGraphicControl : public TControl {
  UI_DECLARE_CLASS(TGraphicControl, TControl)
 public:
  TGraphicControl();
  ~TGraphicControl() override;
  TCanvas* Canvas() const { return canvas_; }
  // Paints the control into `dc`, whose origin is the control's top-left corner.
  void PaintTo(HDC dc);

 protected:
  virtual void Paint() {}
  TControlCanvas* canvas_;
};

// A windowed control that paints itself on its Canvas.
class TCustomControl : public TWinControl {
  UI_DECLARE_CLASS(TCustomControl, TWinControl)
 public:
  TCustomControl();
  ~TCustomControl() override;
  TCanvas* Canvas() const { return canvas_; }

 protected:
  virtual void Paint() {}
  void PaintWindow(HDC dc) override;
  TControlCanvas* canvas_;
};

}  // namespace ui
