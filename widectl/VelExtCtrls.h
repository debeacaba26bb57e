// Wide panel (a wide caption it paints itself) and the image control with a wide hint.
#pragma once
#include <string>

#include "VelActnList.h"

#include "uibuttons.h"
#include "uistdctrls.h"

class TVelCustomPanel : public ui::TCustomPanel {
  UI_DECLARE_CLASS(TVelCustomPanel, ui::TCustomPanel)
 public:
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;
  void Paint() override;

  VEL_WIDE_ACTION_HOOKS
};

class TVelPanel : public TVelCustomPanel {
  UI_DECLARE_CLASS(TVelPanel, TVelCustomPanel)
};

class TVelImage : public ui::TImage {
  UI_DECLARE_CLASS(TVelImage, ui::TImage)
 public:
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

  VEL_WIDE_ACTION_HOOKS
};
