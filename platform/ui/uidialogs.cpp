#include "uidialogs.h"

#include <vector>

#include "uifiler.h"
#include "uiforms.h"

namespace ui {

static std::vector<TPropInfo> OpenDialogProps() {
  using T = TOpenDialog;
  return {prop::Str("DefaultExt", &T::GetDefaultExt, &T::SetDefaultExt),
          prop::Str("FileName", &T::GetFileName, &T::SetFileName),
          prop::Str("Filter", &T::GetFilter, &T::SetFilter),
          prop::Int("FilterIndex", &T::GetFilterIndex, &T::SetFilterIndex, true, 1),
          prop::Str("InitialDir", &T::GetInitialDir, &T::SetInitialDir),
          prop::Str("Title", &T::GetTitle, &T::SetTitle),
          prop::Set("Options", &T::GetOptions, &T::SetOptions,
                    {"ofReadOnly", "ofOverwritePrompt", "ofHideReadOnly", "ofNoChangeDir", "ofShowHelp", "ofNoValidate",
                     "ofAllowMultiSelect", "ofExtensionDifferent", "ofPathMustExist", "ofFileMustExist", "ofCreatePrompt",
                     "ofShareAware", "ofNoReadOnlyReturn", "ofNoTestFileCreate", "ofNoNetworkButton", "ofNoLongNames",
                     "ofOldStyleDialog", "ofNoDereferenceLinks", "ofEnableIncludeNotify", "ofEnableSizing",
                     "ofDontAddToRecent", "ofForceShowHidden"},
                    true, uint32_t(ofHideReadOnly | ofEnableSizing))};
}

UI_IMPLEMENT_CLASS(TCommonDialog, TComponent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TOpenDialog, TCommonDialog, DefaultFactory<TOpenDialog>, OpenDialogProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TSaveDialog, TOpenDialog, DefaultFactory<TSaveDialog>, nullptr, nullptr, nullptr)
static std::vector<TPropInfo> ColorDialogProps() {
  using T = TColorDialog;
  return {prop::Int("Color", &T::GetColor, &T::SetColor, true, clBlack),
          prop::Set("Options", &T::GetOptions, &T::SetOptions,
                    {"cdFullOpen", "cdPreventFullOpen", "cdShowHelp", "cdSolidColor", "cdAnyColor"}, true, uint32_t(0))};
}
UI_IMPLEMENT_CLASS(TColorDialog, TCommonDialog, DefaultFactory<TColorDialog>, ColorDialogProps, nullptr, nullptr)

namespace {
struct Registered {
  Registered() {
    RegisterClasses({&TOpenDialog::StaticClassInfo, &TSaveDialog::StaticClassInfo, &TColorDialog::StaticClassInfo});
  }
} registered;

// Buffer sizes of the file-name field, in characters.
constexpr DWORD kMaxFileName = MAX_PATH;
constexpr DWORD kMaxMultiSelect = 0xFFFF - 16;
}  // namespace

DWORD OpenOptionsToFlags(uint32_t o) {
  static const DWORD kFlags[] = {OFN_READONLY,          OFN_OVERWRITEPROMPT,   OFN_HIDEREADONLY,     OFN_NOCHANGEDIR,
                                 OFN_SHOWHELP,          OFN_NOVALIDATE,        OFN_ALLOWMULTISELECT, OFN_EXTENSIONDIFFERENT,
                                 OFN_PATHMUSTEXIST,     OFN_FILEMUSTEXIST,     OFN_CREATEPROMPT,     OFN_SHAREAWARE,
                                 OFN_NOREADONLYRETURN,  OFN_NOTESTFILECREATE,  OFN_NONETWORKBUTTON,  OFN_NOLONGNAMES,
                                 0 /* old style: no OFN_EXPLORER */,          OFN_NODEREFERENCELINKS, OFN_ENABLEINCLUDENOTIFY,
                                 OFN_ENABLESIZING,      OFN_DONTADDTORECENT,   OFN_FORCESHOWHIDDEN};
  DWORD f = 0;
  for (size_t i = 0; i < sizeof kFlags / sizeof kFlags[0]; ++i)
    if (o & (1u << i)) f |= kFlags[i];
  if (!(o & ofOldStyleDialog)) f |= OFN_EXPLORER;
  return f;
}

BOOL TCommonDialog::TaskModalDialog(BOOL(WINAPI* func)(void*), void* record) {
  if (OnShow) OnShow(this);
  BOOL r;
  try {
    r = func(record);
  } catch (...) {
    if (OnClose) OnClose(this);
    throw;
  }
  if (OnClose) OnClose(this);
  return r;
}

TOpenDialog::TOpenDialog() : files_(new TStringList) {}
TOpenDialog::~TOpenDialog() { delete files_; }

bool TOpenDialog::Execute() { return DoExecute(GetOpenFileNameA); }
bool TSaveDialog::Execute() { return DoExecute(GetSaveFileNameA); }

bool TOpenDialog::DoExecute(TOpenFileNameFunc func) {
  files_->Clear();
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  HWND owner = GetActiveWindow();
  if (!owner && Application && Application->MainForm() && Application->MainForm()->HandleAllocated())
    owner = Application->MainForm()->GetHandle();
  ofn.hwndOwner = owner;
  ofn.hInstance = GetModuleHandleA(nullptr);
  // "Text|*.txt|All|*.*" -> "Text\0*.txt\0All\0*.*\0\0"
  std::string filter = filter_;
  if (!filter.empty()) {
    for (char& c : filter)
      if (c == '|') c = '\0';
    filter.append(2, '\0');
    ofn.lpstrFilter = filter.c_str();
  }
  ofn.nFilterIndex = static_cast<DWORD>(filterIndex_);
  DWORD maxFile = (options_ & ofAllowMultiSelect) ? kMaxMultiSelect : kMaxFileName;
  std::vector<char> file(maxFile + 2, '\0');
  lstrcpynA(file.data(), fileName_.c_str(), static_cast<int>(maxFile));
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = maxFile;
  if (!initialDir_.empty()) ofn.lpstrInitialDir = initialDir_.c_str();
  if (!title_.empty()) ofn.lpstrTitle = title_.c_str();
  if (!defaultExt_.empty()) ofn.lpstrDefExt = defaultExt_.c_str();
  ofn.Flags = OpenOptionsToFlags(options_);
  BOOL ok = TaskModalDialog(reinterpret_cast<BOOL(WINAPI*)(void*)>(func), &ofn);
  if (!ok) return false;
  GetFileNames(ofn);
  options_ = (ofn.Flags & OFN_EXTENSIONDIFFERENT) ? (options_ | ofExtensionDifferent) : (options_ & ~uint32_t(ofExtensionDifferent));
  options_ = (ofn.Flags & OFN_READONLY) ? (options_ | ofReadOnly) : (options_ & ~uint32_t(ofReadOnly));
  filterIndex_ = static_cast<int>(ofn.nFilterIndex);
  return true;
}

void TOpenDialog::GetFileNames(const OPENFILENAMEA& ofn) {
  const char* p = ofn.lpstrFile;
  const char* end = ofn.lpstrFile + ofn.nMaxFile;
  if (!(options_ & ofAllowMultiSelect)) {
    fileName_ = std::string(p, strnlen(p, static_cast<size_t>(end - p)));
    files_->Add(fileName_);
    return;
  }
  // Explorer dialogs separate names by zeros, old-style ones by spaces; a list ends with an empty name.
  char sep = (options_ & ofOldStyleDialog) ? ' ' : '\0';
  std::vector<std::string> parts;
  while (p < end && *p) {
    const char* q = p;
    while (q < end && *q && *q != sep) ++q;
    parts.emplace_back(p, q);
    p = q < end ? q + 1 : end;
    if (sep == ' ' && q < end && *q == '\0') break;
  }
  if (parts.empty()) {
    files_->Add(std::string());
  } else if (parts.size() == 1) {
    files_->Add(parts[0]);
  } else {
    std::string dir = parts[0];
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    for (size_t i = 1; i < parts.size(); ++i) {
      const std::string& n = parts[i];
      bool absolute = (!n.empty() && n[0] == '\\') || (n.size() > 3 && n[1] == ':' && n[2] == '\\');
      files_->Add(absolute ? n : dir + n);
    }
  }
  fileName_ = files_->Get(0);
}

// ---- TColorDialog ----

TColorDialog::TColorDialog() {
  for (COLORREF& c : custom_) c = RGB(255, 255, 255);
}

bool TColorDialog::Execute() { return DoExecute(ChooseColorA); }

bool TColorDialog::DoExecute(TChooseColorFunc func) {
  static const DWORD kFlags[] = {CC_FULLOPEN, CC_PREVENTFULLOPEN, CC_SHOWHELP, CC_SOLIDCOLOR, CC_ANYCOLOR};
  CHOOSECOLORA cc{};
  cc.lStructSize = sizeof cc;
  HWND owner = GetActiveWindow();
  if (!owner && Application && Application->MainForm() && Application->MainForm()->HandleAllocated())
    owner = Application->MainForm()->GetHandle();
  cc.hwndOwner = owner;
  cc.rgbResult = ColorToRGB(color_);
  cc.lpCustColors = custom_;
  cc.Flags = CC_RGBINIT;
  for (size_t i = 0; i < sizeof kFlags / sizeof kFlags[0]; ++i)
    if (options_ & (1u << i)) cc.Flags |= kFlags[i];
  if (!TaskModalDialog(reinterpret_cast<BOOL(WINAPI*)(void*)>(func), &cc)) return false;
  color_ = static_cast<TColor>(cc.rgbResult & 0xFFFFFF);
  return true;
}

}  // namespace ui
