#include "progress_form.h"

#include "VelDialogs.h"
#include "VelSysUtils.h"
#include "main_form.h"

namespace app {

namespace {
constexpr int kPlatformNT = 2;
constexpr int kDefaultWidth = 640, kDefaultHeight = 480, kDefaultQuality = 90;
}  // namespace

void Tform2::VelFormCreate(ui::TObject*) {
  GetFont()->SetName(ui::Win32Platform == kPlatformNT ? "MS Shell Dlg 2" : "MS Shell Dlg");
}

void Tform2::Timer1Timer(ui::TObject*) {
  Timer1->SetEnabled(false);
  try {
    ExportSlides();
  } catch (...) {
    // The error's text is shown once; the run then ends as cancelled, so that the caller closes the
    // presentation, lets the application go and deletes the temporary folder, and reports no success.
    Cancelled = true;
    ui::Application->HandleException(this);
  }
  Close();
}

void Tform2::CancelClick(ui::TObject*) { Cancelled = true; }

void Tform2::ExportSlides() {
  ExportJob job;
  job.width = StrToIntDef(Source->Edit3->GetText(), kDefaultWidth);
  job.height = StrToIntDef(Source->Edit4->GetText(), kDefaultHeight);
  job.quality = StrToIntDef(Source->Edit5->GetText(), kDefaultQuality);
  std::wstring pattern;
  if (!Source->SelectedFormat(job.key, pattern)) throw ui::Exception("No output image format is selected");
  job.extension = pattern.empty() ? pattern : pattern.substr(1);
  job.folder = Source->Edit2->GetText();
  job.prefix = Source->Edit6->GetText();
  job.tempDir = TempDir;
  app::ExportSlides(Source->pptp, pptslide, job, *this);
}

void Tform2::ProcessMessages() { ui::Application->ProcessMessages(); }

void Tform2::SetMaximum(int count) { VelProgressBar1->SetMax(count); }

void Tform2::ShowProgress(int done, const std::wstring& label) {
  VelProgressBar1->SetPosition(done);
  Label1->SetCaptionText(label);
}

void Tform2::ShowMessage(const std::wstring& text) {
  ShowWideMessage(text);
}

static std::vector<ui::TFieldInfo> Form2Fields() {
  using T = Tform2;
  return {ui::PublishedField("VelProgressBar1", &T::VelProgressBar1), ui::PublishedField("Label1", &T::Label1),
          ui::PublishedField("Cancel", &T::Cancel), ui::PublishedField("Timer1", &T::Timer1)};
}

static std::vector<ui::TMethodInfo> Form2Methods() {
  using T = Tform2;
  return {ui::PublishedMethod("VelFormCreate", &T::VelFormCreate), ui::PublishedMethod("Timer1Timer", &T::Timer1Timer),
          ui::PublishedMethod("CancelClick", &T::CancelClick)};
}

UI_IMPLEMENT_CLASS(Tform2, TVelForm, ui::DefaultFactory<Tform2>, nullptr, Form2Fields, Form2Methods)

}  // namespace app
