// The clipboard: text, raw data in any format, and graphics through their clipboard formats.
#pragma once
#include <windows.h>

#include <string>

#include "uipicture.h"

namespace ui {

// Every operation opens the clipboard around itself; Open/Close brackets nest, so several formats put
// inside one bracket land together (the first one put empties the clipboard). Failing to open raises
// Exception "Cannot open clipboard".
class TClipboard : public TPersistent {
  UI_DECLARE_CLASS(TClipboard, TPersistent)
 public:
  TClipboard() = default;
  ~TClipboard() override;
  void Open();
  void Close();
  void Clear();
  bool HasFormat(UINT format);
  // CF_TEXT, up to its terminator and never past the data's size.
  std::string GetAsText();
  void SetAsText(const std::string& text);
  // Copies at most bufSize - 1 characters and a terminator; returns the characters copied.
  int GetTextBuf(char* buffer, int bufSize);
  void SetTextBuf(const char* buffer);
  // Puts `size` bytes as movable global memory under `format`.
  void SetBuffer(UINT format, const void* buffer, size_t size);
  // The clipboard's handle for `format` (it stays the clipboard's), or null.
  HANDLE GetAsHandle(UINT format);
  // Gives `value` to the clipboard under `format`.
  void SetAsHandle(UINT format, HANDLE value);
  // A picture or graphic goes on the clipboard in its own format (with its palette, if any).
  void Assign(TPersistent* source) override;

 protected:
  // Into a picture: the first format on the clipboard that a graphic class is registered for; into a
  // bitmap: CF_BITMAP. EInvalidGraphic "Unsupported clipboard format" when there is none.
  void AssignTo(TPersistent* dest) override;

 private:
  // Empties the clipboard before the first format of an Open bracket is put.
  void Adding();
  void AssignGraphic(TGraphic* g);
  int openRefCount_ = 0;
  HWND window_ = nullptr;
  bool emptied_ = false;
};

// The process's clipboard object, made on first use.
TClipboard* Clipboard();

}  // namespace ui
