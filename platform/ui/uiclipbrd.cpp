#include "uiclipbrd.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "uiforms.h"

namespace ui {

UI_IMPLEMENT_CLASS(TClipboard, TPersistent, nullptr, nullptr, nullptr, nullptr)

// Another program (or, under test, another process of the same display) may hold the clipboard for a
// moment: a few short retries before giving up.
constexpr int kOpenAttempts = 10;
constexpr DWORD kOpenRetryMs = 10;

TClipboard::~TClipboard() {
  if (openRefCount_ > 0) CloseClipboard();
  DeallocateHWnd(window_);
}

void TClipboard::Open() {
  if (openRefCount_ == 0) {
    if (!window_) window_ = AllocateHWnd(TWndMethod());
    bool opened = false;
    for (int i = 0; i < kOpenAttempts && !opened; ++i) {
      opened = OpenClipboard(window_) != FALSE;
      if (!opened) Sleep(kOpenRetryMs);
    }
    if (!opened) throw Exception("Cannot open clipboard");
    emptied_ = false;
  }
  ++openRefCount_;
}

void TClipboard::Close() {
  if (openRefCount_ == 0) return;
  if (--openRefCount_ == 0) CloseClipboard();
}

void TClipboard::Clear() {
  Open();
  EmptyClipboard();
  emptied_ = true;
  Close();
}

void TClipboard::Adding() {
  if (openRefCount_ > 0 && !emptied_) {
    EmptyClipboard();
    emptied_ = true;
  }
}

bool TClipboard::HasFormat(UINT format) { return IsClipboardFormatAvailable(format) != FALSE; }

HANDLE TClipboard::GetAsHandle(UINT format) {
  Open();
  HANDLE h = GetClipboardData(format);
  Close();
  return h;
}

void TClipboard::SetAsHandle(UINT format, HANDLE value) {
  Open();
  try {
    Adding();
    if (!SetClipboardData(format, value)) RaiseLastOSError();
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TClipboard::SetBuffer(UINT format, const void* buffer, size_t size) {
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size ? size : 1);
  if (!mem) throw EOutOfResources("Out of memory");
  if (void* p = GlobalLock(mem)) {
    if (size) std::memcpy(p, buffer, size);
    GlobalUnlock(mem);
  }
  try {
    SetAsHandle(format, mem);
  } catch (...) {
    GlobalFree(mem);  // the clipboard did not take it
    throw;
  }
}

std::string TClipboard::GetAsText() {
  std::string text;
  Open();
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    // The data's size bounds the text: a block without a terminator is not read past its end.
    const size_t size = GlobalSize(h);
    if (auto* p = static_cast<const char*>(GlobalLock(h))) {
      text.assign(p, strnlen(p, size));
      GlobalUnlock(h);
    }
  }
  Close();
  return text;
}

void TClipboard::SetAsText(const std::string& text) { SetBuffer(CF_TEXT, text.c_str(), text.size() + 1); }

int TClipboard::GetTextBuf(char* buffer, int bufSize) {
  if (!buffer || bufSize <= 0) return 0;
  std::string text = GetAsText();
  size_t n = std::min(text.size(), static_cast<size_t>(bufSize - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

void TClipboard::SetTextBuf(const char* buffer) { SetBuffer(CF_TEXT, buffer, std::strlen(buffer) + 1); }

void TClipboard::AssignGraphic(TGraphic* g) {
  UINT format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  g->SaveToClipboardFormat(format, data, palette);
  if (!data) return;  // an empty graphic puts nothing
  Open();
  try {
    Adding();
    if (!SetClipboardData(format, data)) {
      const DWORD error = GetLastError();
      // Not taken: the graphic's data is a GDI object, an enhanced metafile or global memory.
      const DWORD type = GetObjectType(data);
      if (type == OBJ_ENHMETAFILE) DeleteEnhMetaFile(static_cast<HENHMETAFILE>(data));
      else if (type) DeleteObject(data);
      else GlobalFree(data);
      RaiseOSError(error);
    }
    if (palette && !SetClipboardData(CF_PALETTE, palette)) DeleteObject(palette);
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TClipboard::Assign(TPersistent* source) {
  if (auto* p = As<TPicture>(source)) {
    if (p->GetGraphic()) AssignGraphic(p->GetGraphic());
  } else if (auto* g = As<TGraphic>(source)) {
    AssignGraphic(g);
  } else {
    TPersistent::Assign(source);
  }
}

void TClipboard::AssignTo(TPersistent* dest) {
  if (auto* p = As<TPicture>(dest)) {
    Open();
    try {
      UINT found = 0;
      for (UINT f = EnumClipboardFormats(0); f && !found; f = EnumClipboardFormats(f))
        if (TPicture::SupportsClipboardFormat(f)) found = f;
      if (!found) throw EInvalidGraphic("Unsupported clipboard format");
      p->LoadFromClipboardFormat(found, GetClipboardData(found), static_cast<HPALETTE>(GetClipboardData(CF_PALETTE)));
    } catch (...) {
      Close();
      throw;
    }
    Close();
  } else if (auto* b = As<TBitmap>(dest)) {
    Open();
    try {
      HANDLE data = GetClipboardData(CF_BITMAP);
      if (!data) throw EInvalidGraphic("Unsupported clipboard format");
      b->LoadFromClipboardFormat(CF_BITMAP, data, static_cast<HPALETTE>(GetClipboardData(CF_PALETTE)));
    } catch (...) {
      Close();
      throw;
    }
    Close();
  } else {
    TPersistent::AssignTo(dest);
  }
}

TClipboard* Clipboard() {
  static std::unique_ptr<TClipboard> instance(new TClipboard);
  return instance.get();
}

}  // namespace ui
