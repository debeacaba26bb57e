#include "about_form.h"

#include <shellapi.h>

namespace app {

const char kContactAddress[] = "support@tevarnic.example";
const char kWebSiteAddress[] = "https://www.tevarnic.example/";

Tform4* form4 = nullptr;

namespace {
constexpr int kPlatformNT = 2;
}  // namespace

std::string MailLink(const std::string& title) {
  return std::string("mailto:") + kContactAddress + "?subject=" + title;
}

void Tform4::VelFormCreate(ui::TObject*) {
  ProductName->SetCaption(ui::Application->GetTitle());
  GetFont()->SetName(ui::Win32Platform == kPlatformNT ? "MS Shell Dlg 2" : "MS Shell Dlg");
  if (HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), "MAINICON", IMAGE_ICON, 32, 32, 0))) {
    ui::TIcon picture;
    picture.SetHandle(icon);
    ProgramIcon3->GetPicture()->SetGraphic(&picture);
  }
}

void Tform4::CommentsClick(ui::TObject*) {
  const std::string link = MailLink(ui::Application->GetTitle());
  ShellExecuteA(nullptr, "open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Tform4::Label5Click(ui::TObject*) {
  ShellExecuteA(nullptr, "open", kWebSiteAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

void Tform4::OKButtonClick(ui::TObject*) { Close(); }

static std::vector<ui::TFieldInfo> Form4Fields() {
  using T = Tform4;
  return {ui::PublishedField("ProgramIcon3", &T::ProgramIcon3), ui::PublishedField("ProductName", &T::ProductName),
          ui::PublishedField("Version", &T::Version),           ui::PublishedField("Comments", &T::Comments),
          ui::PublishedField("Label5", &T::Label5),             ui::PublishedField("OKButton", &T::OKButton)};
}

static std::vector<ui::TMethodInfo> Form4Methods() {
  using T = Tform4;
  return {ui::PublishedMethod("VelFormCreate", &T::VelFormCreate), ui::PublishedMethod("CommentsClick", &T::CommentsClick),
          ui::PublishedMethod("Label5Click", &T::Label5Click), ui::PublishedMethod("OKButtonClick", &T::OKButtonClick)};
}

UI_IMPLEMENT_CLASS(Tform4, TVelForm, ui::DefaultFactory<Tform4>, nullptr, Form4Fields, Form4Methods)

}  // namespace app
