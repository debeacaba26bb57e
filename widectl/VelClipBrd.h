// The wide clipboard: text goes on the clipboard both as 8-bit text and as UTF-16 text.
#pragma once
#include <string>

#include "uiclipbrd.h"

class TVelClipboard : public ui::TClipboard {
  UI_DECLARE_CLASS(TVelClipboard, ui::TClipboard)
 public:
  TVelClipboard() = default;
  // CF_TEXT (the system code page's form) and CF_UNICODETEXT (the text and its terminator).
  void SetAsWideText(const std::wstring& value);
};

// The process's wide clipboard, made on first use.
TVelClipboard* VelClipboardInstance();
