// What the program's window tests share: the program's start-up in the test process, a watcher that
// reads and closes the message boxes and dialogs the program opens (from a thread timer, so that it
// runs inside their modal loops), and generated decks.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "deck_fixtures.h"
#include "hostenv.h"
#include "VelDialogs.h"
#include "main_form.h"
#include "uiforms.h"

namespace app_test {

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
inline std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += c < 128 ? char(c) : '?';
  return s;
}

inline void Pump(int rounds = 3) {
  for (int i = 0; i < rounds; ++i) {
    ui::Application->ProcessMessages();
    Sleep(5);
  }
}

inline std::wstring WindowTextW(HWND h) {
  const int n = GetWindowTextLengthW(h);
  std::wstring s(size_t(n) + 1, L'\0');
  GetWindowTextW(h, &s[0], n + 1);
  s.resize(size_t(n));
  return s;
}

inline std::wstring ClassNameOf(HWND h) {
  wchar_t name[128] = {};
  GetClassNameW(h, name, 128);
  return name;
}

// Reads and answers, from a thread timer, the windows the program opens modally: wide message boxes
// and system message boxes (their text is recorded, then OK is pressed) and the file and folder
// dialogs (`OnDialog` fills and confirms them). `OnTick` runs on every tick for other actions.
class DialogWatcher {
 public:
  DialogWatcher() {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 15, &DialogWatcher::Tick);
  }
  ~DialogWatcher() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  DialogWatcher(const DialogWatcher&) = delete;
  DialogWatcher& operator=(const DialogWatcher&) = delete;

  std::vector<std::wstring> messages;
  std::vector<std::wstring> titles;  // of the wide message boxes
  std::function<bool(HWND dialog)> OnDialog;  // true when it answered the dialog
  std::function<void()> OnTick;

 private:
  static BOOL CALLBACK Visit(HWND h, LPARAM) {
    if (!IsWindowVisible(h) || ClassNameOf(h) != L"#32770") return TRUE;
    HWND text = GetDlgItem(h, 0xFFFF);
    if (text && !GetDlgItem(h, 0x47C) && !GetDlgItem(h, 0x3744)) {
      // A message box: its text, then OK.
      current_->messages.push_back(WindowTextW(text));
      PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return TRUE;
    }
    if (current_->OnDialog && !current_->answered_.count(h) && current_->OnDialog(h)) current_->answered_.insert(h);
    return TRUE;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!current_ || current_->busy_) return;
    current_->busy_ = true;
    for (int i = 0; i < ui::Screen->FormCount(); ++i) {
      auto* box = dynamic_cast<TVelMessageForm*>(ui::Screen->Forms(i));
      if (box && box->GetVisible() && box->GetModalResult() == ui::mrNone) {
        current_->messages.push_back(box->Message->GetCaptionText());
        current_->titles.push_back(WindowTextW(box->GetHandle()));
        box->SetModalResult(ui::mrOk);
      }
    }
    EnumThreadWindows(GetCurrentThreadId(), &DialogWatcher::Visit, 0);
    if (current_->OnTick) current_->OnTick();
    current_->busy_ = false;
  }
  static inline DialogWatcher* current_ = nullptr;
  UINT_PTR timer_ = 0;
  bool busy_ = false;
  std::set<HWND> answered_;
};

// The main window as the program makes it, shown.
struct ProgramWindows {
  ProgramWindows() {
    ui::Application->Initialize();
    VelApplication->SetTitleText(app::kApplicationTitle);
    form = ui::New<app::Tform1>(ui::Application);
    form->Show();
    Pump();
  }
  ~ProgramWindows() {
    form->Free();
    Pump();
  }
  app::Tform1* form = nullptr;
};

// A package of `count` slides, each with a red box at the top left, a green one at the top right and
// a blue band along the bottom on a dark background (10 x 7.5 in).
inline std::string SlideDeck(int count) {
  using namespace presenter_test;
  constexpr long long kIn = 914400;
  std::string ids, rels;
  std::vector<ZipMember> members;
  std::vector<std::pair<std::string, std::string>> idTarget;
  const std::string shapes = PresetShape("rect", kIn / 2, kIn / 2, 4 * kIn, 3 * kIn, "E01010") +
                             PresetShape("rect", 11 * kIn / 2, kIn / 2, 4 * kIn, 3 * kIn, "10C010") +
                             PresetShape("rect", kIn / 2, 9 * kIn / 2, 9 * kIn, 5 * kIn / 2, "1010E0");
  for (int i = 1; i <= count; ++i) {
    const std::string rid = "rId" + std::to_string(i + 1);
    ids += "<p:sldId id=\"" + std::to_string(255 + i) + "\" r:id=\"" + rid + "\"/>";
    idTarget.push_back({rid, "slides/s" + std::to_string(i) + ".xml"});
    members.push_back({"ppt/slides/s" + std::to_string(i) + ".xml",
                       std::string("<p:sld ") + kPresentationNs +
                           "><p:cSld><p:bg><p:bgPr><a:solidFill><a:srgbClr val=\"203040\"/></a:solidFill></p:bgPr>"
                           "</p:bg><p:spTree>" + shapes + "</p:spTree></p:cSld></p:sld>"});
  }
  const std::string pres = std::string("<p:presentation ") + kPresentationNs + "><p:sldIdLst>" + ids +
                           "</p:sldIdLst><p:sldSz cx=\"9144000\" cy=\"6858000\"/></p:presentation>";
  members.push_back({"ppt/presentation.xml", pres});
  members.push_back({"ppt/_rels/presentation.xml.rels", Relationships(idTarget)});
  return BuildZip(members);
}

inline std::string WriteDeck(const std::string& name, int slides) {
  const std::string path = tq::WorkFile(name);
  const std::string bytes = SlideDeck(slides);
  tq::WriteFileBytes(path, bytes.data(), bytes.size());
  return path;
}

}  // namespace app_test
