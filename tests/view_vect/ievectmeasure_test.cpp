// Measuring in real units: the unit factors, a drag's length, polygon length and area, the texts,
// the measure hint's texts and events.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "iebitmap.h"
#include "iegdiplus.h"
#include "iemask.h"
#include "ievect.h"
#include "uibitmap.h"

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

// A measure is written with FloatDigits decimals of the value rounded to FloatPrecision significant
// digits; one with more integer digits than that is written in general form.
TEST_F(Measure, FloatPrecisionRoundsTheMeasuresText) {
  struct Case {
    double value;
    int precision, digits;
    const char* text;
  };
  const Case cases[] = {{1.23456789, 15, 4, "1.2346 pixels"},
                        {1.23456789, 3, 4, "1.2300 pixels"},
                        {98.765, 2, 1, "99.0 pixels"}};
  for (const Case& c : cases) {
    view->SetFloatPrecision(c.precision);
    view->SetFloatDigits(c.digits);
    EXPECT_EQ(c.text, view->MeasureText(c.value, ievtLENGTH)) << c.precision << " " << c.digits;
  }
  view->SetFloatPrecision(4);
  view->SetFloatDigits(2);
  EXPECT_NE(std::string::npos, view->MeasureText(123456.5, ievtLENGTH).find('E'));
}

// The hint's texts of the view's selection (no window: the events fire, nothing is drawn).
class MeasureHint : public Measure {
 protected:
  void SetUp() override {
    Measure::SetUp();
    view->GetIEBitmap()->Allocate(100, 100, ie24RGB);
    view->UpdateView();
    view->SetSelectionBase(iesbBitmap);
    view->OnMeasureHint = [this](void*, std::string& text, double value) {
      ++hints;
      hintValue = value;
      text += " [hint]";
    };
    view->OnPresentMeasure = [this](void*, std::string& text, double, TIEVValType type) {
      shown = text;
      shownType = type;
    };
  }
  // The text of the hint drawn now, as OnPresentMeasure received it after OnMeasureHint.
  std::string Hint() {
    view->DrawMeasureHint(50, 50);
    return shown;
  }
  int hints = 0;
  double hintValue = -1;
  std::string shown;
  TIEVValType shownType = ievtLENGTH;
};

TEST_F(MeasureHint, ShowsTheSelectionsAreaOrOutlineOnlyWhenVisible) {
  view->SelectRect(10, 10, 20, 20, 0);
  view->SetObjectInteract(IEVI(iviAreaMeasure));
  view->DrawMeasureHint(50, 50);
  EXPECT_EQ(hints, 0) << "a hidden hint fires nothing";

  view->MeasureHintVisible = true;
  EXPECT_EQ(Hint(), "100.00 pixels\xB2 [hint]");
  EXPECT_EQ(hintValue, 100);
  EXPECT_EQ(shownType, ievtAREA);
  view->SetObjectInteract(IEVI(iviLengthMeasure));
  EXPECT_EQ(Hint(), "40.00 pixels [hint]");
  EXPECT_EQ(shownType, ievtLENGTH);
  // without a selection the measure is 0: the last one stays
  view->Deselect();
  EXPECT_EQ(Hint(), "40.00 pixels [hint]");
  EXPECT_EQ(hintValue, 40);
}

TEST_F(MeasureHint, AnAreaWithoutPolygonCountsTheMasksPixels) {
  // 13 x 3 red pixels on black, across a byte of the mask's rows
  TIEBitmap* image = view->GetIEBitmap();
  image->Fill(0);
  for (int y = 2; y <= 4; ++y)
    for (int x = 5; x <= 17; ++x) image->SetRGB(x, y, IEMakeRGB(250, 10, 10));
  view->MagicWandMode = 1;
  view->SelectMagicWand(10, 3, 0);
  ASSERT_EQ(view->GetSelectionPolygonCount(), 0);
  view->SetObjectInteract(IEVI(iviAreaMeasure));
  view->MeasureHintVisible = true;
  EXPECT_EQ(Hint(), "39.00 pixels\xB2 [hint]");
}

TEST_F(MeasureHint, EveryMeasureSettingRedrawsIt) {
  view->SetDpi(10, 10);
  view->SelectRect(10, 10, 20, 20, 0);
  view->SetObjectInteract(IEVI(iviAreaMeasure));
  view->MeasureHintVisible = true;
  Hint();
  struct Case {
    const char* setting;
    std::function<void(TImageryVect*)> change;
    const char* text;
  };
  const Case kCases[] = {
      {"FloatDigits", [](TImageryVect* v) { v->SetFloatDigits(1); }, "100.0 pixels\xB2 [hint]"},
      {"MeasureScale", [](TImageryVect* v) { v->SetMeasureScale(2); }, "400.0 pixels\xB2 [hint]"},
      {"MUnit", [](TImageryVect* v) { v->SetMUnit(ieuINCHES); }, "4.0 inches\xB2 [hint]"},  // 0.2 inch a pixel
      {"DpiX", [](TImageryVect* v) { v->SetDpiX(20); }, "2.0 inches\xB2 [hint]"},
      {"DpiY", [](TImageryVect* v) { v->SetDpiY(40); }, "0.5 inches\xB2 [hint]"},
      {"FloatPrecision", [](TImageryVect* v) { v->SetFloatPrecision(10); }, "0.5 inches\xB2 [hint]"},
  };
  for (const Case& c : kCases) {
    const int before = hints;
    c.change(view);
    EXPECT_EQ(hints, before + 1) << c.setting;
    EXPECT_EQ(shown, c.text) << c.setting;
  }
}

class RulerDrawing : public Measure {
 protected:
  void SetUp() override {
    Measure::SetUp();
    bitmap = new TBitmap();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(300, 120);
    bitmap->Canvas()->Brush()->SetColor(clWhite);
    bitmap->Canvas()->FillRect(RECT{0, 0, 300, 120});
    canvas = new TIECanvas(bitmap->Canvas(), false, false);
  }
  void TearDown() override {
    delete canvas;
    delete bitmap;
    Measure::TearDown();
  }
  bool Inked(int x, int y) { return bitmap->Canvas()->GetPixel(x, y) == clRed; }
  TBitmap* bitmap = nullptr;
  TIECanvas* canvas = nullptr;
};

TEST_F(RulerDrawing, AScaleTicksEveryTenthOfAUnitWithLongerFifthsAndTenths) {
  view->SetDpi(254, 254);  // a tick every 10 pixels in centimetres
  view->DrawRuler(canvas, POINT{10, 50}, POINT{110, 50}, nullptr, 1, 1, 0, 1, clRed, ieuCENTIMETERS);
  EXPECT_EQ(view->RulerTicksDrawn, 10);
  struct Case {
    int x, reach;
  };
  const Case kCases[] = {{10, 12}, {60, 8}, {30, 6}, {90, 6}};
  for (const Case& c : kCases) {  // above the line: the numbers are written below it
    EXPECT_TRUE(Inked(c.x, 50 - c.reach)) << c.x;
    EXPECT_FALSE(Inked(c.x, 50 - c.reach - 1)) << c.x;
  }
  EXPECT_FALSE(Inked(15, 45));  // between ticks
}

TEST_F(RulerDrawing, ATickFinerThanAPixelIsDrawnOncePerPixel) {
  view->SetDpi(300, 300);  // about 850,000 tenths of a nanometre per pixel
  view->DrawRuler(canvas, POINT{10, 50}, POINT{210, 50}, nullptr, 1, 1, 0, 1, clRed, ieuNANOMETERS);
  EXPECT_GT(view->RulerTicksDrawn, 150);
  EXPECT_LE(view->RulerTicksDrawn, 201);
}

TEST_F(RulerDrawing, AMeasuringRulerWritesItsLengthAndEndTicks) {
  view->SetDpi(254, 254);
  EXPECT_EQ(view->RulerText(POINT{110, 0}, POINT{10, 0}, 1, 1, ieuCENTIMETERS), "1.00 cm");
  EXPECT_EQ(view->RulerText(POINT{10, 0}, POINT{110, 0}, 2, 2, ieuMILLIMETERS), "5.00 mm");
  EXPECT_EQ(view->RulerText(POINT{0, 0}, POINT{1, 1}, 1, 1, ieuCENTIMETERS, 3.5), "3.50 cm");
  // drawn right to left with the text kept upright: both end ticks reach 9 pixels to each side
  view->DrawRuler(canvas, POINT{250, 60}, POINT{50, 60}, nullptr, 1, 1, 2, 1, clRed, ieuCENTIMETERS);
  for (int x : {50, 250}) {
    EXPECT_TRUE(Inked(x, 60 - 9)) << x;
    EXPECT_TRUE(Inked(x, 60 + 9)) << x;
  }
}

TEST_F(RulerDrawing, AnglesReadDegreesAndTwoPointsDrawOneArm) {
  const POINT right[3] = {{100, 20}, {20, 20}, {20, 100}};
  const POINT mirrored[3] = {{20, 100}, {20, 20}, {100, 20}};
  const double a = view->AngleDegrees(right), b = view->AngleDegrees(mirrored);
  EXPECT_DOUBLE_EQ(a + b, 360);
  EXPECT_EQ(view->AngleText(a < 180 ? right : mirrored), "90.00\xB0");
  view->ReflexAngles = true;
  EXPECT_EQ(view->AngleText(right), "90.00\xB0");
  EXPECT_EQ(view->AngleText(mirrored), "90.00\xB0");

  const POINT two[3] = {{100, 20}, {20, 20}, {IEV_POINT_UNSET, 0}};
  const RECT box = view->DrawAngle(canvas, two, nullptr, 1, 1, clRed);
  EXPECT_TRUE(Inked(60, 20));
  EXPECT_EQ(box.left, 20);
  EXPECT_EQ(box.right, 100);
  EXPECT_EQ(box.top, 20);
  EXPECT_EQ(box.bottom, 20);  // no text
}

}  // namespace
