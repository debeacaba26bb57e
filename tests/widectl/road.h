// Chooses the road of the Unicode layer for one test: Windows under Wine always reports the NT
// family, so the ANSI road is reached by clearing the process-wide flag.
#pragma once
#include <memory>

#include <gtest/gtest.h>

#include "VelSysUtils.h"

class ScopedRoad {
 public:
  explicit ScopedRoad(bool unicode) : saved_(IsUnicodePlatform) { IsUnicodePlatform = unicode; }
  ~ScopedRoad() { IsUnicodePlatform = saved_; }
  ScopedRoad(const ScopedRoad&) = delete;
  ScopedRoad& operator=(const ScopedRoad&) = delete;

 private:
  bool saved_;
};

// A test run once on each road; GetParam() is true for the Unicode road.
class BothRoads : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { road_.reset(new ScopedRoad(GetParam())); }
  void TearDown() override { road_.reset(); }
  bool Unicode() const { return GetParam(); }

 private:
  std::unique_ptr<ScopedRoad> road_;
};

inline std::string RoadName(const ::testing::TestParamInfo<bool>& info) { return info.param ? "W" : "A"; }
