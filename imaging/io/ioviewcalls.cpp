// The component's work that the image view does for it, through the view's services
// (ieviewservices.h): loading the view's own files (vector objects, layers, both) and the parameters
// preview dialog. In a program without the view such a load fails (Aborting) and no dialog opens.
#include "ieviewservices.h"
#include "imageryio.h"

void TImageryIO::LoadViewFile(const std::wstring& fileName, TIEFileFormatCode fileType) {
  Aborting = true;
  Params.ClearImageInfo();
  // views, their layers and objects belong to the window thread
  TIEViewServices* services = IEViewServices();
  if (InsideIOThread() || !IEBitmap || !services) return;
  bool ok = false;
  RunCodec(IEBitmap, [&] { ok = services->LoadViewFile(AttachedImagery, fileType, fileName, IEBitmap); });
  Aborting = !ok;
  Params.FileType = fileType;
  if (!ok) return;
  Params.FileName = fileName;
  UpdateAfterIO();
}

bool TImageryIO::DoPreviews(uint16_t pages) {
  if (OnDoPreviews) {
    bool handled = false;
    OnDoPreviews(this, handled);
    if (handled) return true;
  }
  TIEViewServices* services = IEViewServices();
  if (!services || !PrepareBitmap()) return false;
  const TIEPixelFormat format = IEBitmap->GetPixelFormat();
  if (format != ie24RGB && format != ie1g) IEBitmap->SetPixelFormat(ie24RGB);
  bool ok = false;
  try {
    ok = services->ExecutePreviews(*this, pages);
  } catch (...) {
    UpdateAfterIO();
    throw;
  }
  UpdateAfterIO();
  return ok;
}
