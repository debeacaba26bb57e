#include "main_form.h"

#include <shellapi.h>
#include <shlobj.h>

#include "VelSysUtils.h"
#include "about_form.h"
#include "conversion.h"
#include "progress_form.h"

namespace app {

const wchar_t kApplicationTitle[] = L"Tevarnic Quillomart";

const wchar_t kSourceMissingMessage[] = L"The PowerPoint source is not  exists!";
const wchar_t kFolderMissingMessage[] = L"Please select an output folder!";
const wchar_t kImageNameMessage[] =
    L"The image name cannot contain \\ / : * ? \" < > | or control characters, nor name a device (CON, PRN, AUX, NUL, COM1, LPT1)!";
const wchar_t kFormatMissingMessage[] = L"Please select an output image format!";
const wchar_t kNotInstalledMessage[] = L"Microsoft PowerPoint has not been Microsoft PowerPoint installed!";
const wchar_t kOpenFailedMessage[] = L"The PPT file format is incorrect!";
const char kTempFolderMessage[] = "An error occured in creating temp folder! Please contact to Tevarnic Ltd.";
const wchar_t kSuccessMessage[] = L"Converted successfully!";

namespace {

constexpr int kMaxWidth = 10240, kMinWidth = 32;
constexpr int kMaxHeight = 7680, kMinHeight = 28;
constexpr int kMinQuality = 50, kMaxQuality = 100;
constexpr int kPlatformNT = 2;

void FilterNumberKey(char& key) {
  if (key != 8 && key != 13 && (key < '0' || key > '9')) key = 0;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  const size_t cut = p.find_last_of(L"\\:");
  return cut == std::wstring::npos ? std::wstring() : p.substr(0, p[cut] == L':' ? cut + 1 : cut);
}

}  // namespace

bool PickFolder(HWND owner, const std::wstring& title, std::wstring& path) {
  // The browser writes the chosen item's display name (under wine its whole path) into this buffer
  // in wide characters.
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW bi = {};
  bi.hwndOwner = owner;
  bi.pidlRoot = nullptr;
  bi.pszDisplayName = displayName;
  bi.lpszTitle = title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&bi);
  if (!item) return false;
  wchar_t buffer[MAX_PATH + 1] = {};
  const bool ok = SHGetPathFromIDListW(item, buffer) != FALSE;
  CoTaskMemFree(item);
  if (!ok) return false;
  path = buffer;
  return true;
}

std::wstring PrefixOfSource(const std::wstring& sourcePath) {
  return WideFileNameOfPath(WideReplaceFileExt(WideFileNameOfPath(sourcePath), L""));
}

bool Tform1::SelectedFormat(std::wstring& key, std::wstring& pattern) {
  TVelListItem* item = VelListView1->GetSelected();
  if (!item) return false;
  key = item->GetCaption();
  pattern = item->SubItems()->Count() > 0 ? item->SubItems()->GetItemAt(0) : std::wstring();
  return true;
}

void Tform1::VelFormCreate(ui::TObject*) {
  GetFont()->SetName(ui::Win32Platform == kPlatformNT ? "MS Shell Dlg 2" : "MS Shell Dlg");
  SetCaptionText(VelApplication->GetTitleText());
  for (TVelSpeedButton* button : {VelSpeedButton1, VelSpeedButton2}) {
    if (HBITMAP glyph = LoadBitmapA(GetModuleHandleA(nullptr), "FOLDERGLYPH")) button->GetGlyph()->SetHandle(glyph);
  }
}

void Tform1::VelFormShow(ui::TObject*) {
  if (VelListView1->GetItems()->Count() > 0 && !VelListView1->GetSelected()) VelListView1->SetItemIndex(0);
}

void Tform1::VelListView1Change(ui::TObject*, ui::TListItem*, ui::TItemChange) {
  std::wstring key, pattern;
  if (!SelectedFormat(key, pattern)) return;
  if (key == L"EMF" || key == L"WMF") {
    VelPanel1->SetVisible(false);
    return;
  }
  if (!VelPanel1->GetVisible()) VelPanel1->SetVisible(true);
  const bool quality = key == L"JPEG";
  VelLabel6->SetVisible(quality);
  Edit5->SetVisible(quality);
  VelUpDown1->SetVisible(quality);
  VelLabel11->SetVisible(quality);
}

void Tform1::VelSpeedButton1Click(ui::TObject*) {
  if (!OpenDialog1->Execute()) return;
  Edit1->SetText(OpenDialog1->GetFileNameText());
  Edit6->SetText(PrefixOfSource(Edit1->GetText()));
}

void Tform1::VelSpeedButton2Click(ui::TObject*) {
  std::wstring path;
  if (!PickFolder(GetHandle(), L"", path)) return;
  Edit2->SetText(WideAddTrailingBackslash(path));
}

void Tform1::Edit3Enter(ui::TObject*) { WidthLeads = 1; }

void Tform1::Edit4Enter(ui::TObject*) { WidthLeads = 0; }

void Tform1::Edit3Change(ui::TObject*) {
  if (WidthLeads == 0) return;
  const int w = StrToIntDef(Edit3->GetText(), 0);
  Edit4->SetText(std::to_wstring(RoundHalfEven(int64_t(w) * 3, 4)));
}

void Tform1::Edit4Change(ui::TObject*) {
  if (WidthLeads == 1) return;
  const int h = StrToIntDef(Edit4->GetText(), 0);
  Edit3->SetText(std::to_wstring(RoundHalfEven(int64_t(h) * 4, 3)));
}

void Tform1::Edit3Exit(ui::TObject*) {
  if (Edit3->GetText().empty()) Edit3->SetText(L"100");
  int w = StrToIntDef(Edit3->GetText(), 0);
  if (w > kMaxWidth) w = kMaxWidth;
  if (w < kMinWidth) w = kMinWidth;
  Edit3->SetText(std::to_wstring(w));
}

void Tform1::Edit4Exit(ui::TObject*) {
  if (Edit4->GetText().empty()) Edit4->SetText(L"100");
  int h = StrToIntDef(Edit4->GetText(), 0);
  if (h > kMaxHeight) h = kMaxHeight;
  if (h < kMinHeight) h = kMinHeight;
  Edit4->SetText(std::to_wstring(h));
}

void Tform1::Edit5Exit(ui::TObject*) {
  const int q = StrToIntDef(Edit5->GetText(), 32);
  if (q < kMinQuality) Edit5->SetText(L"50");
  else if (q > kMaxQuality) Edit5->SetText(L"100");
}

void Tform1::Edit3KeyPress(ui::TObject*, char& Key) { FilterNumberKey(Key); }
void Tform1::Edit4KeyPress(ui::TObject*, char& Key) { FilterNumberKey(Key); }
void Tform1::Edit5KeyPress(ui::TObject*, char& Key) { FilterNumberKey(Key); }

void Tform1::ReleasePresentation() {
  try {
    if (pptp.Connected()) pptp.Close();
  } catch (...) {
  }
  pptp.Disconnect();
  ppta.Disconnect();
}

void Tform1::VelButton1Click(ui::TObject*) {
  const std::wstring source = TrimText(Edit1->GetText());
  if (!WideIsExistingFile(source)) {
    ShowWideMessage(kSourceMissingMessage);
    return;
  }
  if (!WideFolderExists(Edit2->GetText())) {
    ShowWideMessage(kFolderMissingMessage);
    if (Edit2->CanFocus()) Edit2->SetFocus();
    return;
  }
  // Refused before anything starts: such a name would fail at the first slide's write, or (":")
  // write into a hidden stream of another file and pass for a success.
  if (!IsAllowedImageName(Edit6->GetText())) {
    ShowWideMessage(kImageNameMessage);
    if (Edit6->CanFocus()) Edit6->SetFocus();
    return;
  }
  // The list lets the user clear its selection; a run needs a format.
  std::wstring key, pattern;
  if (!SelectedFormat(key, pattern)) {
    ShowWideMessage(kFormatMissingMessage);
    return;
  }
  try {
    ppta.Connect();
  } catch (const std::exception&) {
    ShowWideMessage(kNotInstalledMessage);
    return;
  }
  try {
    pptp.ConnectTo(ppta.OpenPresentation(source, 0, 1, 0));
  } catch (const std::exception&) {
    ShowWideMessage(kOpenFailedMessage);
    ppta.Disconnect();
    return;
  }

  const std::wstring tempFolder = NewTempFolderPath();
  if (!tempFolder.empty()) ForceDirectories(tempFolder);
  ui::Application->ProcessMessages();
  const DWORD attributes = tempFolder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(tempFolder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ui::ShowMessage(kTempFolderMessage);
    ReleasePresentation();
    return;
  }

  Button1->SetEnabled(false);
  bool cancelled = true;
  Tform2* progress = nullptr;
  try {
    progress = ui::New<Tform2>(ui::Application);
    progress->Source = this;
    progress->TempDir = tempFolder + L"\\";
    progress->Timer1->SetEnabled(true);
    progress->ShowModal();
    cancelled = progress->Cancelled;
  } catch (...) {
    // The window could not be made or shown: the run ends as cancelled, and cleans up all the same.
    ui::Application->HandleException(this);
  }
  if (progress) progress->Free();

  ReleasePresentation();
  if (!cancelled) {
    ShowWideMessage(kSuccessMessage);
    Button1->SetEnabled(true);
  }
  DeleteFolder(tempFolder);
}

void Tform1::Button1Click(ui::TObject*) {
  // As WinExec would start it, but with the folder's wide name: a folder outside the system code
  // page would otherwise open somewhere else.
  std::wstring command = L"\"explorer\" \"" + Edit2->GetText() + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

void Tform1::VelButton2Click(ui::TObject*) { Close(); }

void Tform1::Exit1Click(ui::TObject*) { Close(); }

void Tform1::Help2Click(ui::TObject*) {
  const std::wstring help = ProgramFolder() + L"\\Help.chm";
  // None ships with the program; a missing file is not worth a word.
  if (GetFileAttributesW(help.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ShellExecuteW(nullptr, L"open", help.c_str(), nullptr, nullptr, SW_SHOW);
}

void Tform1::VisitWebsite1Click(ui::TObject*) {
  ShellExecuteA(nullptr, "open", kWebSiteAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

void Tform1::About1Click(ui::TObject*) {
  if (form4) form4->ShowModal();
}

static std::vector<ui::TFieldInfo> Form1Fields() {
  using T = Tform1;
  return {ui::PublishedField("Edit1", &T::Edit1),
          ui::PublishedField("Edit2", &T::Edit2),
          ui::PublishedField("Edit3", &T::Edit3),
          ui::PublishedField("Edit4", &T::Edit4),
          ui::PublishedField("Edit5", &T::Edit5),
          ui::PublishedField("Edit6", &T::Edit6),
          ui::PublishedField("VelSpeedButton1", &T::VelSpeedButton1),
          ui::PublishedField("VelSpeedButton2", &T::VelSpeedButton2),
          ui::PublishedField("VelListView1", &T::VelListView1),
          ui::PublishedField("VelPanel1", &T::VelPanel1),
          ui::PublishedField("VelLabel6", &T::VelLabel6),
          ui::PublishedField("VelLabel11", &T::VelLabel11),
          ui::PublishedField("VelUpDown1", &T::VelUpDown1),
          ui::PublishedField("VelButton1", &T::VelButton1),
          ui::PublishedField("Button1", &T::Button1),
          ui::PublishedField("VelButton2", &T::VelButton2),
          ui::PublishedField("VelMainMenu1", &T::VelMainMenu1),
          ui::PublishedField("OpenDialog1", &T::OpenDialog1),
          ui::PublishedField("VistaAltFix1", &T::VistaAltFix1)};
}

static std::vector<ui::TMethodInfo> Form1Methods() {
  using T = Tform1;
  return {ui::PublishedMethod("VelFormCreate", &T::VelFormCreate),
          ui::PublishedMethod("VelFormShow", &T::VelFormShow),
          ui::PublishedMethod("VelListView1Change", &T::VelListView1Change),
          ui::PublishedMethod("VelSpeedButton1Click", &T::VelSpeedButton1Click),
          ui::PublishedMethod("VelSpeedButton2Click", &T::VelSpeedButton2Click),
          ui::PublishedMethod("Edit3Enter", &T::Edit3Enter),
          ui::PublishedMethod("Edit4Enter", &T::Edit4Enter),
          ui::PublishedMethod("Edit3Change", &T::Edit3Change),
          ui::PublishedMethod("Edit4Change", &T::Edit4Change),
          ui::PublishedMethod("Edit3Exit", &T::Edit3Exit),
          ui::PublishedMethod("Edit4Exit", &T::Edit4Exit),
          ui::PublishedMethod("Edit5Exit", &T::Edit5Exit),
          ui::PublishedMethod("Edit3KeyPress", &T::Edit3KeyPress),
          ui::PublishedMethod("Edit4KeyPress", &T::Edit4KeyPress),
          ui::PublishedMethod("Edit5KeyPress", &T::Edit5KeyPress),
          ui::PublishedMethod("VelButton1Click", &T::VelButton1Click),
          ui::PublishedMethod("Button1Click", &T::Button1Click),
          ui::PublishedMethod("VelButton2Click", &T::VelButton2Click),
          ui::PublishedMethod("Exit1Click", &T::Exit1Click),
          ui::PublishedMethod("Help2Click", &T::Help2Click),
          ui::PublishedMethod("VisitWebsite1Click", &T::VisitWebsite1Click),
          ui::PublishedMethod("About1Click", &T::About1Click)};
}

UI_IMPLEMENT_CLASS(Tform1, TVelForm, ui::DefaultFactory<Tform1>, nullptr, Form1Fields, Form1Methods)

}  // namespace app
