// The wide open dialog (capture of the base's record, wide buffers, hook) and the wide message
// dialogs.
#include "VelDialogs.h"

#include <algorithm>
#include <vector>

#include "VelClipBrd.h"
#include "VelExtCtrls.h"
#include "VelSysUtils.h"
#include "VelWideStrUtils.h"
#include "VelWindows.h"
#include "uifiler.h"

using namespace ui;

namespace {

// CDM_GETFILEPATH answers into a buffer of this many characters.
constexpr int kFilePathChars = MAX_PATH + 1;
// The dialog whose record the capture step is taking; one modal dialog runs at a time.
TVelOpenDialog* capturingDialog = nullptr;

std::vector<TPropInfo> VelOpenDialogProps() {
  using T = TVelOpenDialog;
  return {prop::WStr("DefaultExt", &T::GetDefaultExtText, &T::SetDefaultExtText),
          prop::WStr("FileName", &T::GetFileNameText, &T::SetFileNameText),
          prop::WStr("Filter", &T::GetFilterText, &T::SetFilterText),
          prop::WStr("InitialDir", &T::GetInitialDirText, &T::SetInitialDirText),
          prop::WStr("Title", &T::GetTitleText, &T::SetTitleText)};
}

// Clears an event for a scope and puts it back on every exit.
template <class E>
class SuspendedEvent {
 public:
  explicit SuspendedEvent(E& event) : event_(event), saved_(event) { event_ = nullptr; }
  ~SuspendedEvent() { event_ = saved_; }
  SuspendedEvent(const SuspendedEvent&) = delete;
  SuspendedEvent& operator=(const SuspendedEvent&) = delete;

 private:
  E& event_;
  E saved_;
};

}  // namespace

UI_IMPLEMENT_CLASS(TVelOpenDialog, TOpenDialog, DefaultFactory<TVelOpenDialog>, VelOpenDialogProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelMessageForm, TVelForm, nullptr, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClass(&TVelOpenDialog::StaticClassInfo); }
} registered;
}  // namespace

TVelOpenDialog::TVelOpenDialog() : files_(new TVelStringList) {}

TVelOpenDialog::~TVelOpenDialog() { delete files_; }

void TVelOpenDialog::DefineProperties(TFiler* filer) {
  inherited::DefineProperties(filer);
  DefineWidePropertyFilers(filer, this);
}

std::wstring TVelOpenDialog::GetDefaultExtText() const { return SyncWideText(defaultExt_, GetDefaultExt()); }
void TVelOpenDialog::SetDefaultExtText(const std::wstring& value) {
  SetSyncedWideText(value, defaultExt_, GetDefaultExt(), [this](const std::string& s) { SetDefaultExt(s); });
}

std::wstring TVelOpenDialog::GetFilterText() const { return SyncWideText(filter_, GetFilter()); }
void TVelOpenDialog::SetFilterText(const std::wstring& value) {
  SetSyncedWideText(value, filter_, GetFilter(), [this](const std::string& s) { SetFilter(s); });
}

std::wstring TVelOpenDialog::GetTitleText() const { return SyncWideText(title_, GetTitle()); }
void TVelOpenDialog::SetTitleText(const std::wstring& value) {
  SetSyncedWideText(value, title_, GetTitle(), [this](const std::string& s) { SetTitle(s); });
}

std::wstring TVelOpenDialog::GetInitialDirText() const { return SyncWideText(initialDir_, GetInitialDir()); }
void TVelOpenDialog::SetInitialDirText(const std::wstring& value) {
  std::wstring dir = value;
  if (dir.size() > 1 && dir.back() == L'\\' && dir[dir.size() - 2] != L':') dir.pop_back();
  SetSyncedWideText(dir, initialDir_, GetInitialDir(), [this](const std::string& s) { SetInitialDir(s); });
}

std::wstring TVelOpenDialog::GetFileNameText() const {
  if (IsUnicodePlatform && dialogWindow_ && IsWindow(dialogWindow_)) {
    wchar_t path[kFilePathChars] = {};
    SendMessageW(GetParent(dialogWindow_), CDM_GETFILEPATH, kFilePathChars, reinterpret_cast<LPARAM>(path));
    return WideStringFromBuffer(path, -1).substr(0, kFilePathChars);
  }
  return SyncWideText(fileName_, GetFileName());
}

void TVelOpenDialog::SetFileNameText(const std::wstring& value) {
  fileName_ = value;
  SetFileName(WideToAnsi(value));
}

bool TVelOpenDialog::Execute() {
  if (!IsUnicodePlatform) return inherited::Execute();
  HWND parent = Application ? Application->Handle() : nullptr;
  return WideExecute(GetOpenFileNameW, parent);
}

BOOL WINAPI TVelOpenDialog::CaptureRecord(LPOPENFILENAMEA record) {
  if (capturingDialog) capturingDialog->captured_ = *record;
  return FALSE;  // as if cancelled: the base returns without touching its fields
}

bool TVelOpenDialog::WideExecute(BOOL(WINAPI* func)(LPOPENFILENAMEW), HWND parent) {
  files_->Clear();

  // Let the base prepare its record (flags, owner, sizes) and take it from the stand-in function.
  // The show and close events belong to the real dialog only.
  {
    SuspendedEvent<TNotifyEvent> noShow(OnShow), noClose(OnClose);
    capturingDialog = this;
    try {
      DoExecute(CaptureRecord);
    } catch (...) {
      capturingDialog = nullptr;
      throw;
    }
    capturingDialog = nullptr;
  }

  OPENFILENAMEW record = {};
  static_assert(sizeof(OPENFILENAMEW) == sizeof(OPENFILENAMEA), "the two records share their layout");
  record.lStructSize = sizeof(record);
  record.hwndOwner = IsWindow(captured_.hwndOwner) ? captured_.hwndOwner : parent;
  record.hInstance = captured_.hInstance;
  record.nFilterIndex = captured_.nFilterIndex;
  record.nMaxFile = captured_.nMaxFile;
  record.Flags = captured_.Flags;
  record.FlagsEx = captured_.FlagsEx;

  std::wstring filter = GetFilterText();
  if (!filter.empty()) {
    filter.append(2, L'\0');
    for (wchar_t& c : filter)
      if (c == L'|') c = L'\0';
    record.lpstrFilter = filter.c_str();
  }

  std::vector<wchar_t> file(static_cast<size_t>(record.nMaxFile) + 2, L'\0');
  WideStrLCopy(file.data(), GetFileNameText().c_str(), record.nMaxFile);
  record.lpstrFile = file.data();

  const std::wstring initialDir = GetInitialDirText();
  if (!initialDir.empty()) record.lpstrInitialDir = initialDir.c_str();
  const std::wstring title = GetTitleText();
  if (!title.empty()) record.lpstrTitle = title.c_str();

  std::wstring defaultExt = GetDefaultExtText();
  if (defaultExt.empty() && !(record.Flags & OFN_EXPLORER)) {
    defaultExt = WideExtractFileExt(GetFileNameText());
    if (!defaultExt.empty()) defaultExt.erase(0, 1);
  }
  if (!defaultExt.empty()) record.lpstrDefExt = defaultExt.c_str();

  std::wstring templateName;
  if (IsIntResourceName(captured_.lpTemplateName)) {
    record.lpTemplateName = reinterpret_cast<LPCWSTR>(captured_.lpTemplateName);
  } else {
    templateName = AnsiToWide(captured_.lpTemplateName);
    record.lpTemplateName = templateName.c_str();
  }

  // The hook carries the confirmation query and the include-item notification.
  record.Flags |= OFN_ENABLEHOOK;
  record.lpfnHook = HookProc;
  record.lCustData = reinterpret_cast<LPARAM>(this);

  BOOL result;
  try {
    result = TaskModalDialog(reinterpret_cast<BOOL(WINAPI*)(void*)>(func), &record);
  } catch (...) {
    dialogWindow_ = nullptr;
    throw;
  }
  dialogWindow_ = nullptr;
  if (!result) return false;

  TakeFileNames(record);
  uint32_t options = GetOptions();
  options = (record.Flags & OFN_EXTENSIONDIFFERENT) ? (options | ofExtensionDifferent)
                                                     : (options & ~uint32_t(ofExtensionDifferent));
  options = (record.Flags & OFN_READONLY) ? (options | ofReadOnly) : (options & ~uint32_t(ofReadOnly));
  SetOptions(options);
  SetFilterIndex(static_cast<int>(record.nFilterIndex));
  return true;
}

void TVelOpenDialog::TakeFileNames(const OPENFILENAMEW& record) {
  const uint32_t options = GetOptions();
  // Explorer dialogs separate the names of a multiple choice by zeros, old-style ones by spaces.
  const wchar_t separator = ((options & ofAllowMultiSelect) && (options & ofOldStyleDialog)) ? L' ' : L'\0';
  files_->Clear();
  if (!(options & ofAllowMultiSelect)) {
    const wchar_t* p = record.lpstrFile;
    SetFileNameText(ExtractStringFromStringArray(p, separator));
    files_->Add(GetFileNameText());
  } else {
    const std::vector<std::wstring> parts = ExtractStringsFromStringArray(record.lpstrFile, separator);
    if (parts.empty()) {
      files_->Add(std::wstring());
    } else if (parts.size() == 1) {
      files_->Add(parts[0]);
    } else {
      const std::wstring folder = WideAddTrailingBackslash(parts[0]);
      for (size_t i = 1; i < parts.size(); ++i) {
        const std::wstring& name = parts[i];
        const bool absolute = (!name.empty() && name[0] == L'\\') ||
                              (name.size() > 3 && name[1] == L':' && name[2] == L'\\');
        files_->Add(absolute ? name : folder + name);
      }
    }
    SetFileNameText(files_->GetItemAt(0));
  }
  Files()->Clear();
  for (int i = 0; i < files_->Count(); ++i) Files()->Add(WideToAnsi(files_->GetItemAt(i)));
}

UINT_PTR CALLBACK TVelOpenDialog::HookProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  static const wchar_t kSelf[] = L"TVelOpenDialog";
  if (msg == WM_INITDIALOG) {
    auto* record = reinterpret_cast<OPENFILENAMEW*>(lParam);
    SetPropW(dialog, kSelf, reinterpret_cast<HANDLE>(record->lCustData));
  }
  auto* self = reinterpret_cast<TVelOpenDialog*>(GetPropW(dialog, kSelf));
  if (msg == WM_DESTROY) RemovePropW(dialog, kSelf);
  if (!self) return 0;
  TMessage m{msg, wParam, lParam, 0};
  // No exception may cross the system's dialog code.
  try {
    self->DialogWndProc(dialog, m);
  } catch (...) {
    HandleWindowException(self);
  }
  return static_cast<UINT_PTR>(m.Result);
}

void TVelOpenDialog::DialogWndProc(HWND dialog, TMessage& m) {
  m.Result = 0;
  switch (m.Msg) {
    case WM_INITDIALOG:
      dialogWindow_ = dialog;
      break;
    case WM_DESTROY:
      dialogWindow_ = nullptr;
      break;
    case WM_NOTIFY: {
      if (!IsUnicodePlatform) break;
      const auto* header = reinterpret_cast<const NMHDR*>(m.LParam);
      const auto* notify = reinterpret_cast<const OFNOTIFYW*>(m.LParam);
      if (header->code == static_cast<UINT>(CDN_FILEOK)) {
        if (!CanCloseQuery(*notify->lpOFN)) {
          m.Result = 1;
          SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
        }
      } else if (header->code == static_cast<UINT>(CDN_INCLUDEITEM)) {
        bool include = true;
        DoIncludeItem(*reinterpret_cast<const OFNOTIFYEXW*>(m.LParam), include);
        m.Result = include ? 1 : 0;
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, m.Result);
      }
      break;
    }
    default:
      break;
  }
}

bool TVelOpenDialog::CanCloseQuery(const OPENFILENAMEW& record) {
  TakeFileNames(record);
  bool canClose = true;
  allowCanClose_ = true;
  try {
    if (OnCanClose) OnCanClose(this, canClose);
  } catch (...) {
    allowCanClose_ = false;
    files_->Clear();
    Files()->Clear();
    throw;
  }
  allowCanClose_ = false;
  files_->Clear();
  Files()->Clear();
  return canClose;
}

void TVelOpenDialog::DoIncludeItem(const OFNOTIFYEXW& notify, bool& include) {
  if (IsUnicodePlatform && OnIncludeItem) OnIncludeItem(notify, include);
}

// ---- Message dialogs ------------------------------------------------------------------------

namespace {

struct ButtonEntry {
  const wchar_t* name;
  const wchar_t* caption;
  int modalResult;
};
const ButtonEntry kButtons[] = {
    {L"Yes", L"&Yes", mrYes},          {L"No", L"&No", mrNo},
    {L"OK", L"OK", mrOk},              {L"Cancel", L"Cancel", mrCancel},
    {L"Abort", L"&Abort", mrAbort},    {L"Retry", L"&Retry", mrRetry},
    {L"Ignore", L"&Ignore", mrIgnore}, {L"All", L"&All", mrAll},
    {L"NoToAll", L"N&o to All", mrNoToAll}, {L"YesToAll", L"Yes to &All", mrYesToAll},
    {L"Help", L"&Help", mrNone},
};
const wchar_t* const kMessageCaptions[] = {L"Warning", L"Error", L"Information", L"Confirm", L""};
// System icons by message type; the custom type has none.
const WORD kMessageIcons[] = {32515 /* IDI_EXCLAMATION */, 32513 /* IDI_HAND */, 32516 /* IDI_ASTERISK */,
                             32514 /* IDI_QUESTION */, 0};

// Layout of the box in dialog units (horizontal: quarters of the average character width,
// vertical: eighths of the character height).
constexpr int kMarginX = 8, kMarginY = 8;
constexpr int kSpacingX = 10, kSpacingY = 10;
constexpr int kButtonWidth = 50, kButtonHeight = 14, kButtonSpacing = 4;
constexpr int kIconSize = 32;
// The size NONCLIENTMETRICSA had before Windows Vista, which every version accepts.
constexpr UINT kNonClientMetricsSize = 340;

}  // namespace

std::wstring GetMessageCaption(unsigned type) {
  const unsigned t = type & 0x7F;
  if (t >= sizeof kMessageCaptions / sizeof kMessageCaptions[0])
    throw EVelInternalError("Unexpected MsgType in GetMessageCaption.");
  return kMessageCaptions[t];
}

std::wstring GetButtonCaption(unsigned button) {
  const unsigned b = button & 0x7F;
  if (b >= sizeof kButtons / sizeof kButtons[0]) throw EVelInternalError("Unexpected MsgDlgBtn in GetButtonCaption.");
  return kButtons[b].caption;
}

std::wstring MessageDialogText(const std::wstring& title, const std::wstring& message,
                               const std::wstring& buttonCaptions) {
  const std::wstring divider = std::wstring(27, L'-') + L"\r\n";
  return divider + title + L"\r\n" + divider + message + L"\r\n" + divider + buttonCaptions + L"\r\n" + divider;
}

// ---- The message form -----------------------------------------------------------------------

void TVelMessageForm::Create(TComponent* owner) {
  inherited::Create(owner);
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = kNonClientMetricsSize;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 0, &metrics, 0))
    GetFont()->SetHandle(CreateFontIndirectA(&metrics.lfMessageFont));
}

std::wstring TVelMessageForm::FormText() {
  std::wstring captions;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* button = dynamic_cast<TVelButton*>(Components(i))) captions += button->GetCaptionText() + L"   ";
  captions = WideStringReplace(captions, L"&", L"", wrfReplaceAll, false);
  return MessageDialogText(GetCaptionText(), Message ? Message->GetCaptionText() : std::wstring(), captions);
}

void TVelMessageForm::HandleKeyDown(TObject*, WORD& key, int shift) {
  if (key == 'C' && (shift & (ssShift | ssAlt | ssCtrl)) == ssCtrl) {
    MessageBeep(0);
    VelClipboardInstance()->SetAsWideText(FormText());
  }
}

TVelMessageForm* CreateWideMessageDialog(const std::wstring& msg, TMsgDlgType type, TMsgDlgButtons buttons,
                                         TMsgDlgBtn defaultButton) {
  // Checked first: a bad value leaves no half-built form behind.
  const std::wstring title = type == mtCustom ? std::wstring() : GetMessageCaption(type);
  for (unsigned b = 0; b < 16; ++b)
    if (buttons & (1u << b)) GetButtonCaption(b);

  auto* form = TCustomForm::CreateNew<TVelMessageForm>(Application);
  try {
    form->SetBorderStyle(bsDialog);
    form->SetKeyPreview(true);
    form->SetPosition(poDesigned);
    form->OnKeyDown = TKeyEvent(form, &TVelMessageForm::HandleKeyDown);

    HDC dc = GetDC(nullptr);
    HGDIOBJ oldFont = SelectObject(dc, form->GetFont()->GetHandle());
    static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent = {0, 0};
    GetTextExtentPointW(dc, kAlphabet, 52, &extent);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    const int charWidth = ((extent.cx / 26) + 1) / 2;
    const int charHeight = metrics.tmHeight;

    const int marginX = MulDiv(kMarginX, charWidth, 4), marginY = MulDiv(kMarginY, charHeight, 8);
    const int spacingX = MulDiv(kSpacingX, charWidth, 4), spacingY = MulDiv(kSpacingY, charHeight, 8);
    int buttonWidth = MulDiv(kButtonWidth, charWidth, 4);
    int buttonCount = 0;
    for (unsigned b = 0; b < sizeof kButtons / sizeof kButtons[0]; ++b) {
      if (!(buttons & (1u << b))) continue;
      ++buttonCount;
      RECT r = {0, 0, 0, 0};
      WideDrawText(dc, kButtons[b].caption, -1, &r, DT_CALCRECT | DT_LEFT | DT_SINGLELINE);
      buttonWidth = std::max<int>(buttonWidth, r.right - r.left + 8);
    }
    const int buttonHeight = MulDiv(kButtonHeight, charHeight, 8);
    const int buttonSpacing = MulDiv(kButtonSpacing, charWidth, 4);

    RECT text = {0, 0, GetSystemMetrics(SM_CXSCREEN) / 2, 0};
    WideDrawText(dc, msg.c_str(), static_cast<int>(msg.size()), &text, DT_EXPANDTABS | DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, oldFont);
    ReleaseDC(nullptr, dc);

    const WORD icon = kMessageIcons[type];
    int iconTextWidth = text.right, iconTextHeight = text.bottom;
    if (icon) {
      iconTextWidth += kIconSize + spacingX;
      iconTextHeight = std::max(iconTextHeight, kIconSize);
    }
    const int groupWidth = buttonCount ? buttonCount * buttonWidth + (buttonCount - 1) * buttonSpacing : 0;
    const int clientWidth = std::max(iconTextWidth, groupWidth) + 2 * marginX;
    form->SetClientSize(clientWidth, iconTextHeight + buttonHeight + spacingY + 2 * marginY);
    form->SetLeft(GetSystemMetrics(SM_CXSCREEN) / 2 - form->GetWidth() / 2);
    form->SetTop(GetSystemMetrics(SM_CYSCREEN) / 2 - form->GetHeight() / 2);
    form->SetCaptionText(type == mtCustom ? VelApplication->GetTitleText() : title);

    if (icon) {
      auto* image = New<TVelImage>(form);
      image->SetName("Image");
      image->SetParent(form);
      image->GetPicture()->Icon()->SetHandle(LoadIconW(nullptr, MAKEINTRESOURCEW(icon)));
      image->SetBounds(marginX, marginY, kIconSize, kIconSize);
    }

    auto* label = New<TVelLabel>(form);
    label->SetName("Message");
    label->SetParent(form);
    label->SetWordWrap(true);
    label->SetAutoSize(false);
    label->SetCaptionText(msg);
    label->SetBounds(iconTextWidth - text.right + marginX, marginY, text.right, text.bottom);
    form->Message = label;

    const TMsgDlgBtn cancelButton = (buttons & MsgDlgButton(mbCancel)) ? mbCancel
                                    : (buttons & MsgDlgButton(mbNo))   ? mbNo
                                                                        : mbOK;
    int x = (clientWidth - groupWidth) / 2;
    for (unsigned b = 0; b < sizeof kButtons / sizeof kButtons[0]; ++b) {
      if (!(buttons & (1u << b))) continue;
      auto* button = New<TVelButton>(form);
      button->SetName(WideToAnsi(kButtons[b].name));
      button->SetParent(form);
      button->SetCaptionText(kButtons[b].caption);
      button->SetModalResult(kButtons[b].modalResult);
      if (b == mbHelp) button->OnClick = TNotifyEvent(form, &TVelMessageForm::HandleHelp);
      if (b == defaultButton) {
        button->SetDefault(true);
        form->SetActiveControl(button);
      }
      if (b == cancelButton) button->SetCancel(true);
      button->SetBounds(x, iconTextHeight + marginY + spacingY, buttonWidth, buttonHeight);
      x += buttonWidth + buttonSpacing;
    }
  } catch (...) {
    form->Free();
    throw;
  }
  return form;
}

void TVelMessageForm::HandleHelp(TObject*) { Application->HelpContext(HelpContext); }

int RunWideMessageDialog(TVelMessageForm* form, int helpContext, int x, int y, const std::wstring& helpFile) {
  int result;
  try {
    form->HelpContext = helpContext;
    form->HelpFile = WideToAnsi(helpFile);
    if (x >= 0) form->SetLeft(x);
    if (y >= 0) form->SetTop(y);
    if (x < 0 && y < 0) form->SetPosition(poScreenCenter);
    result = form->ShowModal();
  } catch (...) {
    form->Free();
    throw;
  }
  form->Free();
  return result;
}

int ShowWideMessageDialogPosHelp(const std::wstring& msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext,
                                 int x, int y, const std::wstring& helpFile) {
  const TMsgDlgBtn defaultButton = (buttons & MsgDlgButton(mbOK))    ? mbOK
                                   : (buttons & MsgDlgButton(mbYes)) ? mbYes
                                                                     : mbRetry;
  return RunWideMessageDialog(CreateWideMessageDialog(msg, type, buttons, defaultButton), helpContext, x, y, helpFile);
}

int ShowWideMessageDialogPos(const std::wstring& msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext,
                             int x, int y) {
  return ShowWideMessageDialogPosHelp(msg, type, buttons, helpContext, x, y, std::wstring());
}

int ShowWideMessagePos(const std::wstring& msg, int x, int y) {
  return ShowWideMessageDialogPos(msg, mtCustom, MsgDlgButton(mbOK), 0, x, y);
}

int ShowWideMessage(const std::wstring& msg) { return ShowWideMessagePos(msg, -1, -1); }
