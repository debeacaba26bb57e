// The modal progress window of a conversion run: its one-shot timer runs the export loop.
#pragma once
#include <string>

#include "VelComCtrls.h"
#include "VelForms.h"
#include "VelStdCtrls.h"
#include "conversion.h"

namespace app {

class Tform1;

class Tform2 : public TVelForm, public ExportHost {
  UI_DECLARE_CLASS(Tform2, TVelForm)
 public:
  TVelProgressBar* VelProgressBar1 = nullptr;
  TVelLabel* Label1 = nullptr;
  TVelButton* Cancel = nullptr;
  ui::TTimer* Timer1 = nullptr;

  Tform1* Source = nullptr;  // the main window whose inputs the run reads
  TPowerPointSlide pptslide;
  std::wstring TempDir;      // with its trailing "\"
  bool Cancelled = false;

  void VelFormCreate(ui::TObject* Sender);
  void Timer1Timer(ui::TObject* Sender);
  void CancelClick(ui::TObject* Sender);
  // Reads the run's inputs from the main window and exports every slide.
  void ExportSlides();

  // ExportHost
  void ProcessMessages() override;
  bool IsCancelled() const override { return Cancelled; }
  void SetCancelled() override { Cancelled = true; }
  void SetMaximum(int count) override;
  void ShowProgress(int done, const std::wstring& label) override;
  void ShowMessage(const std::wstring& text) override;
};

}  // namespace app
