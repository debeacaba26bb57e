// Measuring in real units: the unit factors, a drag's length, polygon length and area, the texts.
#include <gtest/gtest.h>

#include "ievect.h"

using namespace ui;

namespace {

class Measure : public ::testing::Test {
 protected:
  void SetUp() override { view = New<TImageryVect>(nullptr); }
  void TearDown() override { view->Free(); }
  TImageryVect* view = nullptr;
};

TEST_F(Measure, UnitFactorsFollowResolutionUnitAndScale) {
  view->SetDpi(254, 127);
  struct Case {
    TIEUnits unit;
    double perInch;  // units in one inch
    const char* name;
  };
  const Case kCases[] = {
      {ieuINCHES, 1, "inches"},         {ieuKM, 2.54 / 100000, "km"},   {ieuMETERS, 0.0254, "mt"},
      {ieuCENTIMETERS, 2.54, "cm"},     {ieuMILLIMETERS, 25.4, "mm"},   {ieuMICRONS, 25400, "microns"},
      {ieuNANOMETERS, 25400000, "nanometers"}, {ieuFEET, 1.0 / 12, "feet"}, {ieuYARDS, 1.0 / 36, "yards"},
      {ieuMILES, 1.0 / 63360, "miles"},
  };
  for (const Case& c : kCases) {
    double x, y;
    view->ComputeUnitFactors(c.unit, x, y);
    EXPECT_DOUBLE_EQ(x, c.perInch / 254) << c.name;
    EXPECT_DOUBLE_EQ(y, c.perInch / 127) << c.name;
    EXPECT_STREQ(IEUnitNames[c.unit], c.name);
  }
  double x, y;
  view->ComputeUnitFactors(ieuPIXELS, x, y);
  EXPECT_EQ(x, 1.0);
  EXPECT_EQ(y, 1.0);
  view->SetMeasureScale(2);
  view->ComputeUnitFactors(ieuPIXELS, x, y);
  EXPECT_EQ(x, 2.0);
}

TEST_F(Measure, ADragOfOneHundredPixelsAt254DpiReadsOneCentimetre) {
  view->SetDpi(254, 254);
  view->SetMUnit(ieuCENTIMETERS);
  EXPECT_EQ(view->GetUnitsPerPixelX(), 0.01);
  EXPECT_EQ(view->ObjectRecord(IEV_TEMPLATE)->RulerUnit, ieuCENTIMETERS);
  // from client x 10 to 109 along one row: both ends count
  double v = view->DragLength(10, 20, 109, 19);
  EXPECT_EQ(view->MeasureText(v, ievtLENGTH), "1.00 cm");
  view->SetMeasureScale(2);
  v = view->DragLength(10, 20, 109, 19);
  EXPECT_EQ(view->MeasureText(v, ievtLENGTH), "2.00 cm");
  // a zero value shows the last one
  EXPECT_EQ(view->MeasureText(0, ievtLENGTH), "2.00 cm");
  view->OnPresentMeasure = [](void*, std::string& text, double, TIEVValType) { text += "!"; };
  EXPECT_EQ(view->MeasureText(1, ievtLENGTH), "1.00 cm!");
}

TEST_F(Measure, PolygonAreaAndLength) {
  const std::vector<POINT> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  EXPECT_EQ(view->MeasureText(view->PolygonArea(square), ievtAREA), "100.00 pixels\xB2");
  EXPECT_DOUBLE_EQ(view->PolygonLength(square), 40);
  // two sub-polygons, each closed
  const std::vector<POINT> two = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0xFFFFF, 0}, {20, 20}, {24, 20}, {24, 23}};
  EXPECT_DOUBLE_EQ(view->PolygonLength(two), 40 + 12);
  EXPECT_DOUBLE_EQ(view->PolygonArea(two), 100 + 6);
  EXPECT_EQ(view->PolygonArea({{0, 0}, {5, 5}}), 0);
  view->SetFloatDigits(0);
  EXPECT_EQ(view->MeasureText(view->PolygonArea(square), ievtAREA), "100 pixels\xB2");
}

}  // namespace
