#include "uipicture.h"

#include <algorithm>
#include <cctype>

#include "uifiler.h"
#include "uimetafile.h"

namespace ui {

UI_IMPLEMENT_CLASS(TPicture, TPersistent, DefaultFactory<TPicture>, nullptr, nullptr, nullptr)

namespace {
struct ClipFormat {
  UINT format;
  TClass cls;
};
struct Registries {
  std::vector<TFileFormat> files;
  std::vector<ClipFormat> clips;
  Registries() {
    files.push_back({"bmp", "Bitmaps", &TBitmap::StaticClassInfo});
    files.push_back({"ico", "Icons", &TIcon::StaticClassInfo});
    files.push_back({"emf", "Enhanced Metafiles", &TMetafile::StaticClassInfo});
    files.push_back({"wmf", "Metafiles", &TMetafile::StaticClassInfo});
    clips.push_back({CF_BITMAP, &TBitmap::StaticClassInfo});
    clips.push_back({CF_ENHMETAFILE, &TMetafile::StaticClassInfo});
    RegisterClasses({&TBitmap::StaticClassInfo, &TIcon::StaticClassInfo, &TMetafile::StaticClassInfo});
  }
};
Registries& Reg() {
  static Registries r;
  return r;
}
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
std::string ExtensionOf(const std::string& fileName) {
  size_t dot = fileName.find_last_of('.');
  size_t sep = fileName.find_last_of("\\/:");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return std::string();
  return Lower(fileName.substr(dot + 1));
}
TGraphic* NewGraphic(TClass cls) {
  if (!cls || !cls->Factory || !cls->InheritsFrom(&TGraphic::StaticClassInfo))
    throw EInvalidGraphic(Format(SClassNotFound, cls ? cls->Name : "nil"));
  return static_cast<TGraphic*>(cls->Factory());
}
}  // namespace

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description, TClass graphicClass) {
  std::string ext = Lower(extension);
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  auto& f = Reg().files;
  f.erase(std::remove_if(f.begin(), f.end(), [&](const TFileFormat& x) { return x.Extension == ext; }), f.end());
  f.push_back({ext, description, graphicClass});
  RegisterClass(graphicClass);
}

void TPicture::RegisterClipboardFormat(UINT format, TClass graphicClass) {
  auto& c = Reg().clips;
  c.erase(std::remove_if(c.begin(), c.end(), [&](const ClipFormat& x) { return x.format == format; }), c.end());
  c.push_back({format, graphicClass});
}

void TPicture::UnregisterGraphicClass(TClass graphicClass) {
  auto& f = Reg().files;
  f.erase(std::remove_if(f.begin(), f.end(), [&](const TFileFormat& x) { return x.GraphicClass == graphicClass; }), f.end());
  auto& c = Reg().clips;
  c.erase(std::remove_if(c.begin(), c.end(), [&](const ClipFormat& x) { return x.cls == graphicClass; }), c.end());
}

bool TPicture::SupportsClipboardFormat(UINT format) {
  for (auto& c : Reg().clips)
    if (c.format == format) return true;
  return false;
}

const std::vector<TFileFormat>& TPicture::FileFormats() { return Reg().files; }

std::string TPicture::GraphicFilter(TClass graphicClass) {
  std::string all, parts;
  for (auto& f : Reg().files) {
    if (graphicClass && !f.GraphicClass->InheritsFrom(graphicClass)) continue;
    std::string pat = "*." + f.Extension;
    all += (all.empty() ? "" : ";") + pat;
    parts += "|" + f.Description + " (" + pat + ")|" + pat;
  }
  if (all.empty()) return std::string();
  return "All (" + all + ")|" + all + parts;
}

TPicture::~TPicture() { delete graphic_; }

void TPicture::GraphicChanged(TObject*) {
  if (OnChange) OnChange(this);
}

void TPicture::GraphicProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, const RECT& r,
                               const std::string& msg) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

void TPicture::TakeGraphic(TGraphic* g) {
  delete graphic_;
  graphic_ = g;
  if (g) {
    g->OnChange = TNotifyEvent(this, &TPicture::GraphicChanged);
    g->OnProgress = TProgressEvent(this, &TPicture::GraphicProgress);
  }
  GraphicChanged(nullptr);
}

void TPicture::ForceType(TClass cls) {
  if (graphic_ && graphic_->ClassType() == cls) return;
  TakeGraphic(NewGraphic(cls));
}

void TPicture::SetGraphic(TGraphic* g) {
  TGraphic* copy = nullptr;
  if (g) {
    copy = NewGraphic(g->ClassType());
    try {
      copy->Assign(g);
    } catch (...) {
      delete copy;
      throw;
    }
  }
  TakeGraphic(copy);
}

TBitmap* TPicture::Bitmap() {
  ForceType(&TBitmap::StaticClassInfo);
  return static_cast<TBitmap*>(graphic_);
}

TIcon* TPicture::Icon() {
  ForceType(&TIcon::StaticClassInfo);
  return static_cast<TIcon*>(graphic_);
}

void TPicture::LoadFromFile(const std::string& fileName) {
  std::string ext = ExtensionOf(fileName);
  TClass cls = nullptr;
  for (auto& f : Reg().files)
    if (f.Extension == ext) cls = f.GraphicClass;
  if (!cls) throw EInvalidGraphic(Format(SUnknownExtension, ext.c_str()));
  TGraphic* g = NewGraphic(cls);
  g->OnProgress = TProgressEvent(this, &TPicture::GraphicProgress);  // loads report as they run
  try {
    g->LoadFromFile(fileName);
  } catch (...) {
    delete g;
    throw;
  }
  TakeGraphic(g);
}

void TPicture::SaveToFile(const std::string& fileName) {
  if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) {
  TClass cls = nullptr;
  for (auto& c : Reg().clips)
    if (c.format == format) cls = c.cls;
  if (!cls) throw EInvalidGraphic("Unsupported clipboard format");
  TGraphic* g = NewGraphic(cls);
  g->OnProgress = TProgressEvent(this, &TPicture::GraphicProgress);  // loads report as they run
  try {
    g->LoadFromClipboardFormat(format, data, palette);
  } catch (...) {
    delete g;
    throw;
  }
  TakeGraphic(g);
}

void TPicture::Assign(TPersistent* source) {
  if (!source) {
    SetGraphic(nullptr);
  } else if (auto* p = As<TPicture>(source)) {
    SetGraphic(p->graphic_);
  } else if (auto* g = As<TGraphic>(source)) {
    SetGraphic(g);
  } else {
    TPersistent::Assign(source);
  }
}

void TPicture::DefineProperties(TFiler* filer) {
  TPersistent::DefineProperties(filer);
  bool hasData = graphic_ && !graphic_->Empty();
  if (auto* anc = As<TPicture>(filer->Ancestor)) hasData = hasData && anc->graphic_ != graphic_;
  filer->DefineBinaryProperty(
      "Data",
      [this](TStream* s) {
        // A length-prefixed class name, then the graphic's own stream.
        uint8_t n = 0;
        if (s->GetSize() == 0) {
          SetGraphic(nullptr);
          return;
        }
        s->ReadBuffer(&n, 1);
        std::string name(n, '\0');
        if (n) s->ReadBuffer(&name[0], n);
        TGraphic* g = NewGraphic(FindClass(name));
        g->OnProgress = TProgressEvent(this, &TPicture::GraphicProgress);  // loads report as they run
        try {
          g->LoadFromStream(s);
        } catch (...) {
          delete g;
          throw;
        }
        TakeGraphic(g);
      },
      [this](TStream* s) {
        std::string name = graphic_->ClassName();
        uint8_t n = static_cast<uint8_t>(name.size());
        s->WriteBuffer(&n, 1);
        s->WriteBuffer(name.data(), n);
        graphic_->WriteData(s);
      },
      hasData);
}

}  // namespace ui
