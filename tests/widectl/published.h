// What a class publishes, checked against a list of names.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

#include "uiobject.h"

// The names among `names` that `cls` does not publish (empty when it publishes them all).
inline std::vector<std::string> Unpublished(ui::TClass cls, std::initializer_list<const char*> names) {
  std::vector<std::string> missing;
  for (const char* n : names)
    if (!cls->FindProp(n)) missing.push_back(n);
  return missing;
}
