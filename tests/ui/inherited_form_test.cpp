// Forms that inherit a layout: the parent class's layout is read first, then the class's own, which
// changes inherited components in place and adds new ones; client size and position from layouts;
// a label whose drawn text comes from a descendant.
#include <gtest/gtest.h>

#include "uiforms.h"
#include "uistdctrls.h"

using namespace ui;

namespace {

class TBaseTestForm : public TForm {
  UI_DECLARE_CLASS(TBaseTestForm, TForm)
 public:
  TButton* OkButton = nullptr;
};
class TDerivedTestForm : public TBaseTestForm {
  UI_DECLARE_CLASS(TDerivedTestForm, TBaseTestForm)
 public:
  TEdit* NameEdit = nullptr;
};
std::vector<TFieldInfo> BaseFields() { return {PublishedField("OkButton", &TBaseTestForm::OkButton)}; }
std::vector<TFieldInfo> DerivedFields() { return {PublishedField("NameEdit", &TDerivedTestForm::NameEdit)}; }
UI_IMPLEMENT_CLASS(TBaseTestForm, TForm, DefaultFactory<TBaseTestForm>, nullptr, BaseFields, nullptr)
UI_IMPLEMENT_CLASS(TDerivedTestForm, TBaseTestForm, DefaultFactory<TDerivedTestForm>, nullptr, DerivedFields, nullptr)

class TNoLayoutForm : public TForm {
  UI_DECLARE_CLASS(TNoLayoutForm, TForm)
};
UI_IMPLEMENT_CLASS(TNoLayoutForm, TForm, DefaultFactory<TNoLayoutForm>, nullptr, nullptr, nullptr)

TEST(InheritedForm, ReadsTheParentLayoutThenItsOwn) {
  auto* f = New<TDerivedTestForm>(nullptr);
  ASSERT_NE(nullptr, f->OkButton);
  ASSERT_NE(nullptr, f->NameEdit);
  EXPECT_EQ("Derived", f->GetCaption());
  EXPECT_EQ("Go", f->OkButton->GetCaption());
  EXPECT_TRUE(f->OkButton->GetDefault());  // kept from the parent layout
  EXPECT_EQ(10, f->OkButton->GetLeft());
  EXPECT_EQ("abc", f->NameEdit->GetText());
  EXPECT_EQ(2, f->ComponentCount());
  f->Show();
  RECT r;
  GetClientRect(f->GetHandle(), &r);
  EXPECT_EQ(300, r.right);
  EXPECT_EQ(200, r.bottom);
  RECT w;
  GetWindowRect(f->GetHandle(), &w);
  int cx = (GetSystemMetrics(SM_CXSCREEN) - (w.right - w.left)) / 2;
  EXPECT_NEAR(cx, w.left, 1);
  f->Free();
}

TEST(InheritedForm, AFormClassWithoutLayoutIsAnError) {
  EXPECT_THROW(New<TNoLayoutForm>(nullptr), EResNotFound);
  TNoLayoutForm* f = TCustomForm::CreateNew<TNoLayoutForm>(nullptr);  // made in code: fine
  f->Free();
}

class TShoutLabel : public TLabel {
  UI_DECLARE_CLASS(TShoutLabel, TLabel)
 public:
  std::string GetLabelText() override { return GetCaption() + GetCaption() + GetCaption(); }
};
UI_IMPLEMENT_CLASS(TShoutLabel, TLabel, DefaultFactory<TShoutLabel>, nullptr, nullptr, nullptr)

TEST(Label, AutoSizeMeasuresTheTextADescendantDraws) {
  TForm* f = TCustomForm::CreateNew<TForm>(nullptr);
  f->HandleNeeded();
  TLabel* plain = New<TLabel>(f);
  plain->SetParent(f);
  plain->SetCaption("Wide text");
  TShoutLabel* shout = New<TShoutLabel>(f);
  shout->SetParent(f);
  shout->SetCaption("Wide text");
  EXPECT_GT(plain->GetWidth(), 10);
  EXPECT_GT(shout->GetWidth(), 2 * plain->GetWidth());
  int h = plain->GetHeight();
  plain->SetCaption("&");  // one accelerator sign alone still measures one line
  EXPECT_EQ(h, plain->GetHeight());
  f->Free();
}

}  // namespace
