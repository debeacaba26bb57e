// Every view test program starts the image library once, as a program does before it makes a view.
#include <gtest/gtest.h>

#include "vodevovur.h"

namespace {
class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { IELibraryStaticInit(); }
  void TearDown() override { IELibraryStaticFini(); }
};
const auto* const gEnv = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);
}  // namespace
