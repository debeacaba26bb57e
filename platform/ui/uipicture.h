// TPicture: holds one graphic of any registered class; the file-format and clipboard-format
// registries through which graphic classes (bitmaps, icons, the GIF codec's image) join.
#pragma once
#include <string>
#include <vector>

#include "uibitmap.h"

namespace ui {

struct TFileFormat {
  std::string Extension;    // without the dot, lower case
  std::string Description;  // e.g. "Bitmaps"
  TClass GraphicClass;
};

class TPicture : public TPersistent {
  UI_DECLARE_CLASS(TPicture, TPersistent)
 public:
  TPicture() = default;
  ~TPicture() override;
  TGraphic* GetGraphic() const { return graphic_; }
  // Takes a copy of `g` (of its own class); null empties the picture.
  void SetGraphic(TGraphic* g);
  // The graphic as a bitmap: an empty bitmap replaces a graphic of another class.
  TBitmap* Bitmap();
  TIcon* Icon();
  int Width() const { return graphic_ ? graphic_->GetWidth() : 0; }
  int Height() const { return graphic_ ? graphic_->GetHeight() : 0; }
  // By the file's extension, through the file-format registry.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  // Makes a graphic of the class registered for `format` and has it read `data`; EInvalidGraphic
  // "Unsupported clipboard format" when no class is registered for it.
  void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette);
  void Assign(TPersistent* source) override;
  // Layouts store the graphic as its class name followed by its own stream ("Data").
  void DefineProperties(TFiler* filer) override;
  TNotifyEvent OnChange;

  static void RegisterFileFormat(const std::string& extension, const std::string& description, TClass graphicClass);
  static void RegisterClipboardFormat(UINT format, TClass graphicClass);
  // Removes a class from both registries.
  static void UnregisterGraphicClass(TClass graphicClass);
  static bool SupportsClipboardFormat(UINT format);
  static const std::vector<TFileFormat>& FileFormats();
  // "All (*.bmp;*.ico)|*.bmp;*.ico|Bitmaps (*.bmp)|*.bmp|..." for an open dialog's filter.
  static std::string GraphicFilter(TClass graphicClass);

 private:
  void ForceType(TClass cls);
  void GraphicChanged(TObject*);
  TGraphic* graphic_ = nullptr;
};

}  // namespace ui
