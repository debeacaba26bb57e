// The about window: product name, version and maker, with an e-mail link and a web link. Made
// hidden at start-up and shown modally from the main window's menu; closing it only hides it.
#pragma once
#include <string>

#include "VelForms.h"
#include "uibuttons.h"
#include "uistdctrls.h"

namespace app {

extern const char kContactAddress[];
extern const char kWebSiteAddress[];

// The e-mail link: "mailto:" + address + "?subject=" + title.
std::string MailLink(const std::string& title);

class Tform4 : public TVelForm {
  UI_DECLARE_CLASS(Tform4, TVelForm)
 public:
  ui::TImage* ProgramIcon3 = nullptr;
  ui::TLabel* ProductName = nullptr;
  ui::TLabel* Version = nullptr;
  ui::TLabel* Comments = nullptr;
  ui::TLabel* Label5 = nullptr;
  ui::TButton* OKButton = nullptr;

  void VelFormCreate(ui::TObject* Sender);
  void CommentsClick(ui::TObject* Sender);
  void Label5Click(ui::TObject* Sender);
  void OKButtonClick(ui::TObject* Sender);
};

// The about window that the program made at start-up.
extern Tform4* form4;

}  // namespace app
