#include "ievectglobals.h"

#include <memory>
#include <vector>

#include "uimenus.h"
#include "vodevovur.h"

UINT IEVectClipboardFormat = 0;
int IEVectShortcuts[iescCount] = {};

namespace {

struct ExtendedClassEntry {
  std::string Name;
  std::type_index Id;
  TIEVExtendedFactory Factory;
};
std::unique_ptr<std::vector<ExtendedClassEntry>> g_registry;

const TIEStaticStepRegistrar g_vectStep(iessVect, IEVectStaticInit, IEVectStaticFini);

}  // namespace

void IEVectStaticInit() {
  IEVectClipboardFormat = RegisterClipboardFormatA("ZODUROV EDIV");
  const char keys[iescCount] = {'L', 'E', 'R', 'J', 'C', 'X', 'V', 'F', 'B', 'I', 'U', 'G'};
  for (int i = 0; i < iescCount; ++i) IEVectShortcuts[i] = ui::ShortCut(WORD(keys[i]), ui::ssCtrl);
  // classes registered by static constructors before the start-up stay
  if (!g_registry) g_registry = std::make_unique<std::vector<ExtendedClassEntry>>();
}

void IEVectStaticFini() { g_registry.reset(); }

void IERegisterExtendedClass(const std::string& name, std::type_index classId, TIEVExtendedFactory factory) {
  if (!g_registry) g_registry = std::make_unique<std::vector<ExtendedClassEntry>>();
  g_registry->push_back({name, classId, std::move(factory)});
}

TIEVExtendedObject* CreateExtendedObject(const std::string& name) {
  if (!g_registry) return nullptr;
  for (const auto& e : *g_registry)
    if (e.Name == name) return e.Factory ? e.Factory() : nullptr;
  return nullptr;
}

std::string ExtendedClassName(std::type_index classId) {
  if (!g_registry) return "";
  for (const auto& e : *g_registry)
    if (e.Id == classId) return e.Name;
  return "";
}
