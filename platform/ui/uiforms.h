// Forms, the application object with its message loop and exception handler, the screen, timers.
#pragma once
#include <windows.h>

#include <exception>
#include <map>
#include <string>
#include <vector>

#include "uicontrols.h"

namespace ui {

// Modal results.
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
             mrAll = 8, mrNoToAll = 9, mrYesToAll = 10 };

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter,
                 poMainFormCenter, poOwnerFormCenter };
// fsMDIForm: a frame whose client window holds document children; fsMDIChild: such a child.
enum TFormStyle { fsNormal, fsStayOnTop, fsMDIChild, fsMDIForm };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
// Form state bits.
enum : unsigned { fsCreating = 1, fsVisible = 2, fsShowing = 4, fsModal = 8, fsActivated = 16,
                  fsCreatedMDIChild = 32 };  // the window was made as a document child

using TCloseEvent = TEvent<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = TEvent<void(TObject* Sender, bool& CanClose)>;

class TMainMenu;
class TBasicAction;
using TActionEvent = TEvent<void(TBasicAction* Action, bool& Handled)>;

class TCustomForm : public TCustomControl {
  UI_DECLARE_CLASS(TCustomForm, TCustomControl)
 public:
  TCustomForm();
  // Loads the layout resources of the class (every class below TForm must have one).
  void Create(TComponent* owner) override;
  void AfterConstruction() override;
  void BeforeDestruction() override;
  ~TCustomForm() override;

  void Show();
  void Hide() { SetVisible(false); }
  void Close();
  // Shows the form, disables the other windows of the thread and runs messages until ModalResult is set.
  virtual int ShowModal();
  // Frees the form once the messages being handled are done.
  void Release();
  bool CloseQuery();

  int GetModalResult() const { return modalResult_; }
  void SetModalResult(int r) { modalResult_ = r; }
  // Help for this form: its topic, and its own help file, which takes the application's place while
  // the form is the active one (empty: the application's).
  int HelpContext = 0;
  std::string HelpFile;
  TFormBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle s);
  int GetBorderIcons() const { return borderIcons_; }
  void SetBorderIcons(int s);
  TPosition GetPosition() const { return position_; }
  void SetPosition(TPosition p) { position_ = p; }
  TFormStyle GetFormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle s);
  // The client window of a document frame (fsMDIForm), which holds the document children; else null.
  HWND ClientHandle() const { return clientHandle_; }
  // A top-level form drawn translucent (AlphaBlendValue 0..255) and/or with TransparentColorValue
  // left out, through the layered window style.
  bool GetAlphaBlend() const { return alphaBlend_; }
  void SetAlphaBlend(bool v);
  int GetAlphaBlendValue() const { return alphaBlendValue_; }
  void SetAlphaBlendValue(int v);
  bool GetTransparentColor() const { return transparentColor_; }
  void SetTransparentColor(bool v);
  TColor GetTransparentColorValue() const { return transparentColorValue_; }
  void SetTransparentColorValue(TColor c);
  TWindowState GetWindowState() const { return windowState_; }
  void SetWindowState(TWindowState s);
  bool GetKeyPreview() const { return keyPreview_; }
  void SetKeyPreview(bool v) { keyPreview_ = v; }
  TWinControl* GetActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* c);
  TMainMenu* GetMenu() const { return menu_; }
  void SetMenu(TMainMenu* m);
  int GetClientWidthProp() const { return clientWidth_; }
  void SetClientWidthProp(int w);
  int GetClientHeightProp() const { return clientHeight_; }
  void SetClientHeightProp(int h);
  int GetPixelsPerInch() const { return pixelsPerInch_; }
  void SetPixelsPerInch(int v) { pixelsPerInch_ = v; }
  unsigned FormState() const { return formState_; }
  bool Active() const { return active_; }
  void FocusControl(TWinControl* c);
  void SetVisible(bool v) override;
  void WndProc(TMessage& m) override;
  // A document frame leaves what it does not handle to DefFrameProc.
  void DefaultHandler(TMessage& m) override;
  RECT GetClientRect() override;

  // Owned components without a parent (menus, timers, dialogs) first, then the controls.
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  TComponent* GetChildOwner() override { return this; }
  bool IsFormWindow() const override { return true; }
  bool WantsKeyPreview() const override { return keyPreview_; }
  bool SetFocusedControl(TWinControl* c) override;
  // The idle-time update of the actions of the form's menus and controls.
  virtual void UpdateActions();
  // A key with shift state that the form's menu has as a shortcut clicks that item.
  virtual bool IsShortCut(WORD key, int shift);

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TNotifyEvent OnPaint;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // Build a form without reading a layout (forms made entirely in code).
  template <class T>
  static T* CreateNew(TComponent* owner) {
    T* f = new T();
    f->loadLayout_ = false;
    try {
      f->Create(owner);
      f->AfterConstruction();
    } catch (...) {
      f->Free();
      throw;
    }
    return f;
  }

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  // A document child is made by the frame's client window; raises EInvalidOperation when the main
  // form is no document frame.
  void CreateWindowHandle(const TCreateParams& p) override;
  void DestroyWindowHandle() override;
  void DestroyWnd() override;
  // Sets or clears the layered style of the window and its alpha and colour key.
  void UpdateLayeredAttributes();
  void SetFormStateBits(unsigned bits, bool on) { formState_ = on ? formState_ | bits : formState_ & ~bits; }
  void Paint() override;
  void Loaded() override;
  void Notification(TComponent* c, TOperation op) override;
  virtual void DoClose(TCloseAction& action);
  virtual void DoShow();
  virtual void DoHide();
  // Handles dialog keys: Tab and Shift+Tab move the focus, Enter and Escape press the default and
  // cancel buttons, Alt+letter reaches the control with that accelerator.
  bool DialogKey(WORD key, LPARAM keyData);
  bool DialogChar(char c);
  void CloseModal();
  void ApplyPosition();
  // Whether Create reads the layouts of the class (CreateNew builds without them); a descendant that
  // reads its layouts itself turns it off before calling Create.
  bool LoadsLayout() const { return loadLayout_; }
  void SetLoadsLayout(bool on) { loadLayout_ = on; }
  friend class TApplication;

 private:
  void SelectFirst();
  TFormBorderStyle borderStyle_ = bsSizeable;
  int borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  TPosition position_ = poDefaultPosOnly;
  TFormStyle formStyle_ = fsNormal;
  TWindowState windowState_ = wsNormal;
  bool keyPreview_ = false;
  TWinControl* activeControl_ = nullptr;
  TMainMenu* menu_ = nullptr;
  int modalResult_ = 0;
  int clientWidth_ = 0, clientHeight_ = 0;
  int pixelsPerInch_ = 96;
  unsigned formState_ = 0;
  bool loadLayout_ = true;
  bool active_ = false;
  bool positioned_ = false;
  HWND clientHandle_ = nullptr;
  bool alphaBlend_ = false, transparentColor_ = false;
  int alphaBlendValue_ = 255;
  TColor transparentColorValue_ = 0;
};

// The message of the frame's misuse: a document child while the main form is no document frame.
extern const char* const SNoMDIForm;
// The main form's client window when it is a document frame, else raises EInvalidOperation SNoMDIForm.
HWND MDIClientOfMainForm();

class TForm : public TCustomForm {
  UI_DECLARE_CLASS(TForm, TCustomForm)
};

TCustomForm* GetParentForm(TControl* c);

// A hint "Short|Long": the part before the first '|' and the part after it (the whole hint without '|').
std::string GetShortHint(const std::string& hint);
std::string GetLongHint(const std::string& hint);

// The window that shows a hint: a bordered popup in the hint colour, sized to its text.
class THintWindow : public TCustomControl {
  UI_DECLARE_CLASS(THintWindow, TCustomControl)
 public:
  THintWindow();
  // Shows `hint` in `r` (screen coordinates, moved inside the screen) above all other windows.
  virtual void ActivateHint(RECT r, const std::string& hint);
  // The same with the hint data of the hint-show record (null for plain hints).
  virtual void ActivateHintData(RECT r, const std::string& hint, void* data);
  // The window rectangle that `hint` needs at most `maxWidth` wide, at (0, 0).
  virtual RECT CalcHintRect(int maxWidth, const std::string& hint, void* data);
  // A message that ends the hint (keys, clicks, commands).
  virtual bool IsHintMsg(const MSG& msg);
  // Hides the window (its window is destroyed; the next activation makes a new one).
  void ReleaseHandle();
  bool Activating() const { return activating_; }

 protected:
  void CreateParams(TCreateParams& p) override;
  void Paint() override;
  void WndProc(TMessage& m) override;

 private:
  bool activating_ = false;
};

// What a hint shows where: given to the control (CM_HINTSHOW, LParam) and to OnShowHint, which may
// change it or cancel the hint.
struct THintInfo {
  TControl* HintControl = nullptr;
  TClass HintWindowClass = nullptr;  // a THintWindow class with a factory
  POINT HintPos{};                   // screen position of the hint window
  int HintMaxWidth = 0;
  TColor HintColor = clInfoBk;
  RECT CursorRect{};  // client coordinates of HintControl
  POINT CursorPos{};  // client coordinates of HintControl
  int HideTimeout = 0;
  std::string HintStr;
  void* HintData = nullptr;
};
using TShowHintEvent = TEvent<void(std::string& HintStr, bool& CanShow, THintInfo& HintInfo)>;

// A control's hint, or its nearest parent's when it has none.
std::string GetHintOfControlOrParent(TControl* c);
// The control under screen point `p`: the windowed control there or its windowless child at that point.
TControl* FindControlAtPos(POINT p);

// A hidden window that hands its messages to `method` (timers and other non-visual components).
HWND AllocateHWnd(const TWndMethod& method);
void DeallocateHWnd(HWND h);

using TExceptionEvent = TEvent<void(TObject* Sender, const std::exception& E)>;
using TMessageEvent = TEvent<void(MSG& Msg, bool& Handled)>;
using TIdleEvent = TEvent<void(TObject* Sender, bool& Done)>;
// A help request (a WinHelp command and its data): the handler's result is the request's, and
// CallHelp (true on entry) cleared keeps the request from the help file.
using THelpEvent = TEvent<bool(WORD Command, ULONG_PTR Data, bool& CallHelp)>;
// A hook on the main form's window: returns true when it handled the message.
using TWindowHook = TEvent<bool(TMessage& Message)>;

class TApplication : public TComponent {
  UI_DECLARE_CLASS(TApplication, TComponent)
 public:
  TApplication();
  void BeforeDestruction() override;

  // Makes the application window (hidden; it carries the title and the main-window hooks).
  void Initialize();
  HWND Handle();  // the application window, made on first use
  bool HandleAllocated() const { return handle_ != nullptr; }
  std::string GetTitle() const { return title_; }
  void SetTitle(const std::string& t);
  std::string GetHint() const { return hint_; }
  // The long hint of what is under the mouse or menu; OnHint, or a hint action when it is not assigned.
  void SetHint(const std::string& h);
  // Hints over controls: shown after HintPause (HintShortPause while one was just shown), hidden
  // after HintHidePause; with HintShortCuts an action's shortcut follows the hint in parentheses.
  bool GetShowHint() const { return showHint_; }
  void SetShowHint(bool v);
  int HintPause = 500;
  int HintShortPause = 50;
  int HintHidePause = 2500;
  TColor HintColor = clInfoBk;
  bool HintShortCuts = true;
  TClass HintWindowClass;
  // Hides the hint and forgets the control it was for.
  void CancelHint();
  // Shows the hint of the current hint control for the cursor at `cursorPos` (screen).
  void ActivateHint(POINT cursorPos);
  // Called with the mouse messages of every control: starts, moves or cancels the hint.
  void HintMouseMessage(TControl* control, const TMessage& m);
  THintWindow* HintWindow() const { return hintWindow_; }
  // The control under the mouse as the last idle step saw it.
  TControl* MouseControl() const { return mouseControl_; }
  template <class T>
  void CreateForm(T*& ref) {
    ref = New<T>(this);
    if (!mainForm_) mainForm_ = ref;
  }
  TCustomForm* MainForm() const { return mainForm_; }
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  void ProcessMessages();
  void HandleMessage();
  // Called inside a catch block: gives the current exception to OnException, else shows its text.
  void HandleException(TObject* sender);
  void ShowException(const std::exception& e);
  bool ShowMainForm = true;
  // The modeless dialog window whose keys the loop gives to IsDialogMessage (null: none).
  HWND DialogHandle = nullptr;
  void HookMainWindow(const TWindowHook& hook);
  void UnhookMainWindow(const TWindowHook& hook);
  // Runs the main-window hooks; true when one handled the message.
  bool RunMainWindowHooks(TMessage& m);
  // The application window's own message handling (after the hooks).
  virtual void WndProc(TMessage& m);
  int MessageBox(const std::string& text, const std::string& caption, UINT flags);
  // Help: OnHelp first; unless it clears CallHelp, the help file of the active form (or HelpFile)
  // is opened at the request through the platform's help viewer. False when nothing took it.
  std::string HelpFile;
  bool HelpContext(int context) { return HelpCommand(HELP_CONTEXT, ULONG_PTR(context)); }
  bool HelpCommand(WORD command, ULONG_PTR data);
  THelpEvent OnHelp;
  // OnActionExecute / OnActionUpdate; true when the handler took the action.
  bool ExecuteAction(TBasicAction* action);
  bool UpdateAction(TBasicAction* action);

  TExceptionEvent OnException;
  TMessageEvent OnMessage;
  TIdleEvent OnIdle;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TNotifyEvent OnHint;
  TShowHintEvent OnShowHint;
  TActionEvent OnActionExecute;
  TActionEvent OnActionUpdate;

 protected:
  void Notification(TComponent* c, TOperation op) override;

 private:
  static LRESULT CALLBACK AppWndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
  bool ProcessMessage(MSG& msg);
  bool IsKeyMsg(MSG& msg);
  void Idle();
  void DoActionIdle();
  TControl* DoMouseIdle();
  void StartHintTimer(int ms, UINT_PTR kind);
  void StopHintTimer();
  void HintTimerExpired(UINT_PTR kind);
  void SetWatched(TControl*& field, TControl* c);
  // CM_ACTIONEXECUTE: the active form, then the main form.
  bool DispatchAction(UINT msg, TBasicAction* action);
  std::string title_, hint_;
  HWND handle_ = nullptr;
  TCustomForm* mainForm_ = nullptr;
  bool terminated_ = false;
  std::vector<TWindowHook> hooks_;
  bool showHint_ = true;
  bool hintActive_ = false;  // a hint was shown and the mouse has not left hint controls since
  TControl* hintControl_ = nullptr;
  TControl* mouseControl_ = nullptr;
  THintWindow* hintWindow_ = nullptr;
  UINT_PTR hintTimer_ = 0;  // the running timer's kind, 0: none
  friend class TCustomForm;
};

// Standard cursors of the screen's table.
enum : int { crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6, crSizeNS = -7,
             crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10, crHourGlass = -11, crDrag = -12, crNoDrop = -13, crNo = -18, crAppStart = -19,
             crHelp = -20, crHandPoint = -21, crSizeAll = -22 };

class TScreen : public TComponent {
  UI_DECLARE_CLASS(TScreen, TComponent)
 public:
  TScreen();
  int FormCount() const { return static_cast<int>(forms_.size()); }
  TCustomForm* Forms(int i) const { return forms_.at(static_cast<size_t>(i)); }
  int Width() const { return GetSystemMetrics(SM_CXSCREEN); }
  int Height() const { return GetSystemMetrics(SM_CYSCREEN); }
  int PixelsPerInch() const { return ScreenPixelsPerInch(); }
  TCustomForm* ActiveForm() const;
  TWinControl* ActiveControl() const;
  // The cursor table: standard ids are filled at start-up; components add their own ids.
  HCURSOR GetCursors(int id) const;
  void SetCursors(int id, HCURSOR c);
  int GetCursor() const { return cursor_; }
  void SetCursor(int id);

 private:
  void AddForm(TCustomForm* f) { forms_.push_back(f); }
  void RemoveForm(TCustomForm* f);
  std::vector<TCustomForm*> forms_;
  std::map<int, HCURSOR> cursors_;
  int cursor_ = crDefault;
  friend class TCustomForm;
};

// Forwards the application's events to its own handlers (several may exist).
class TApplicationEvents : public TComponent {
  UI_DECLARE_CLASS(TApplicationEvents, TComponent)
 public:
  void Create(TComponent* owner) override;
  void BeforeDestruction() override;
  TExceptionEvent OnException;
  TMessageEvent OnMessage;
  TIdleEvent OnIdle;
};

class TTimer : public TComponent {
  UI_DECLARE_CLASS(TTimer, TComponent)
 public:
  TTimer() = default;
  void Create(TComponent* owner) override;
  void BeforeDestruction() override;
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v);
  int GetInterval() const { return interval_; }
  void SetInterval(int ms);
  TNotifyEvent OnTimer;

 private:
  void UpdateTimer();
  void TimerWndProc(TMessage& m);
  bool enabled_ = true;
  int interval_ = 1000;
  HWND window_ = nullptr;
};

extern TApplication* Application;
extern TScreen* Screen;

// A message box with the text and the application's title.
void ShowMessage(const std::string& text);

}  // namespace ui
