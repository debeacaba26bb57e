#include "iepresetim.h"

#include "vodevovur.h"

namespace {
struct TPresetSource {
  const uint8_t* Data;
  uint32_t Size;
  int32_t Inner[4];
};
constexpr int32_t kPNGFormat = 8;
#include "iepresetim.inc"

TIEStaticStepRegistrar presetStep(iessPresetImages, IEPresetImagesStaticInit, IEPresetImagesStaticFini);
}  // namespace

std::vector<TIEPresetImage*>* IEPresetImages = nullptr;

void IECreatePresetImages() {
  if (IEPresetImages) IEFreePresetImages();
  IEPresetImages = new std::vector<TIEPresetImage*>;
  for (const TPresetSource& s : kPresetSources) {
    auto* p = new TIEPresetImage;
    p->DataSize = s.Size;
    p->Data = s.Data;
    p->Format = kPNGFormat;
    p->InnerLeft = s.Inner[0];
    p->InnerTop = s.Inner[1];
    p->InnerRight = s.Inner[2];
    p->InnerBottom = s.Inner[3];
    IEPresetImages->push_back(p);
  }
}

void IEFreePresetImages() {
  if (!IEPresetImages) return;
  for (TIEPresetImage* p : *IEPresetImages) delete p;
  delete IEPresetImages;
  IEPresetImages = nullptr;
}

void IEPresetImagesStaticInit() { IECreatePresetImages(); }
void IEPresetImagesStaticFini() { IEFreePresetImages(); }
