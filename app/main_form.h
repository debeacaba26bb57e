// The main window: the presentation, the output folder, the format, the size, the quality and the
// file-name prefix, and the "Convert" command that runs a conversion.
#pragma once
#include <string>

#include "VelButtons.h"
#include "VelComCtrls.h"
#include "VelDialogs.h"
#include "VelExtCtrls.h"
#include "VelForms.h"
#include "VelMenus.h"
#include "VelStdCtrls.h"
#include "VistaAltFixUnit.h"
#include "powerpoint.h"

namespace app {

extern const wchar_t kApplicationTitle[];

// The messages of a conversion run, as the user reads them.
extern const wchar_t kSourceMissingMessage[];
extern const wchar_t kFolderMissingMessage[];
extern const wchar_t kImageNameMessage[];
extern const wchar_t kFormatMissingMessage[];
extern const wchar_t kNotInstalledMessage[];
extern const wchar_t kOpenFailedMessage[];
extern const char kTempFolderMessage[];
extern const wchar_t kSuccessMessage[];

// The folder browser (owner window, title): the chosen folder's file-system path, or false when the
// user cancelled or the item has no path.
bool PickFolder(HWND owner, const std::wstring& title, std::wstring& path);

// The prefix of the output names that a source path suggests: its file name without folder and
// extension.
std::wstring PrefixOfSource(const std::wstring& sourcePath);

class Tform1 : public TVelForm {
  UI_DECLARE_CLASS(Tform1, TVelForm)
 public:
  TVelEdit* Edit1 = nullptr;  // source presentation
  TVelEdit* Edit2 = nullptr;  // output folder, ending in "\" once chosen
  TVelEdit* Edit3 = nullptr;  // width
  TVelEdit* Edit4 = nullptr;  // height
  TVelEdit* Edit5 = nullptr;  // JPEG quality
  TVelEdit* Edit6 = nullptr;  // prefix of the output names
  TVelSpeedButton* VelSpeedButton1 = nullptr;
  TVelSpeedButton* VelSpeedButton2 = nullptr;
  TVelListView* VelListView1 = nullptr;
  TVelPanel* VelPanel1 = nullptr;
  TVelLabel* VelLabel6 = nullptr;
  TVelLabel* VelLabel11 = nullptr;
  TVelUpDown* VelUpDown1 = nullptr;
  TVelButton* VelButton1 = nullptr;  // "Convert"
  ui::TButton* Button1 = nullptr;     // "Open output folder"
  TVelButton* VelButton2 = nullptr;  // "Close"
  TVelMainMenu* VelMainMenu1 = nullptr;
  TVelOpenDialog* OpenDialog1 = nullptr;
  TVistaAltFix* VistaAltFix1 = nullptr;

  TPowerPointApplication ppta;
  TPowerPointPresentation pptp;

  // The selected format row's key and file-type pattern; false when no row is selected.
  bool SelectedFormat(std::wstring& key, std::wstring& pattern);

  void VelFormCreate(ui::TObject* Sender);
  void VelFormShow(ui::TObject* Sender);
  void VelListView1Change(ui::TObject* Sender, ui::TListItem* Item, ui::TItemChange Change);
  void VelSpeedButton1Click(ui::TObject* Sender);
  void VelSpeedButton2Click(ui::TObject* Sender);
  void Edit3Enter(ui::TObject* Sender);
  void Edit4Enter(ui::TObject* Sender);
  void Edit3Change(ui::TObject* Sender);
  void Edit4Change(ui::TObject* Sender);
  void Edit3Exit(ui::TObject* Sender);
  void Edit4Exit(ui::TObject* Sender);
  void Edit5Exit(ui::TObject* Sender);
  void Edit3KeyPress(ui::TObject* Sender, char& Key);
  void Edit4KeyPress(ui::TObject* Sender, char& Key);
  void Edit5KeyPress(ui::TObject* Sender, char& Key);
  void VelButton1Click(ui::TObject* Sender);
  void Button1Click(ui::TObject* Sender);
  void VelButton2Click(ui::TObject* Sender);
  void Exit1Click(ui::TObject* Sender);
  void Help2Click(ui::TObject* Sender);
  void VisitWebsite1Click(ui::TObject* Sender);
  void About1Click(ui::TObject* Sender);

 private:
  // Closes the presentation and lets the application go; errors are of no interest here.
  void ReleasePresentation();
  // 1 while the width edit was the last of the two size edits to receive the focus.
  int WidthLeads = 0;
};

}  // namespace app
