// The wide clipboard.
#include "VelClipBrd.h"

#include <memory>

#include "VelSystem.h"

UI_IMPLEMENT_CLASS(TVelClipboard, ui::TClipboard, nullptr, nullptr, nullptr, nullptr)

void TVelClipboard::SetAsWideText(const std::wstring& value) {
  Open();
  try {
    SetAsText(WideToAnsi(value));
    SetBuffer(CF_UNICODETEXT, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

TVelClipboard* VelClipboardInstance() {
  static std::unique_ptr<TVelClipboard> instance;
  if (!instance) instance.reset(new TVelClipboard);
  return instance.get();
}
