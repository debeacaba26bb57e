// Metafiles: enhanced (EMF) and Windows (WMF, with or without the placeable header) pictures held as
// one enhanced metafile handle.
#pragma once
#include <windows.h>

#include "uigraphics.h"

namespace ui {

class TMetafile : public TGraphic {
  UI_DECLARE_CLASS(TMetafile, TGraphic)
 public:
  TMetafile() = default;
  ~TMetafile() override;
  // The picture's size in 0.01 mm; Width and Height are the same size in screen pixels.
  int GetMMWidth() const { return mmWidth_; }
  void SetMMWidth(int v);
  int GetMMHeight() const { return mmHeight_; }
  void SetMMHeight(int v);
  int GetWidth() const override;
  int GetHeight() const override;
  void SetWidth(int w) override;
  void SetHeight(int h) override;
  bool Empty() const override { return !handle_; }
  // Saved as an enhanced metafile when set, else as a placeable Windows metafile.
  bool GetEnhanced() const { return enhanced_; }
  void SetEnhanced(bool v);
  // Units per inch of a placeable Windows metafile's bounds (0 for enhanced ones).
  int GetInch() const { return inch_; }
  void SetInch(int v);
  HENHMETAFILE GetHandle() const { return handle_; }
  // Adopts `h` (owned from now on); the size comes from its header.
  void SetHandle(HENHMETAFILE h);
  // Reads an EMF, a placeable WMF or a plain WMF (by their headers); EInvalidGraphic for anything else
  // or a file whose header claims more than the stream holds.
  void LoadFromStream(TStream* s) override;
  void SaveToStream(TStream* s) override;
  // ".wmf" saves a Windows metafile, any other extension an enhanced one.
  void SaveToFile(const std::string& fileName) override;
  void Assign(TPersistent* source) override;
  // Plays the metafile stretched into `r`.
  void Draw(TCanvas* canvas, const RECT& r) override;
  // Clipboard format CF_ENHMETAFILE.
  void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) override;

 private:
  void Clear();
  void Adopt(HENHMETAFILE h, bool enhanced, int inch, int mmWidth, int mmHeight);
  HENHMETAFILE handle_ = nullptr;
  bool enhanced_ = true;
  int inch_ = 0;
  int mmWidth_ = 0, mmHeight_ = 0;
};

}  // namespace ui
