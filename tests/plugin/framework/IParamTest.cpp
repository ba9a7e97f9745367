#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "plugin/framework/IParam.h"

using iplug::IParam;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string display(const IParam& param, double value, bool withDisplayText = true) {
  WDL_String text;
  param.GetDisplay(value, false, text, withDisplayText);
  return text.Get();
}

}  // namespace

TEST(IParam, EveryShapeMapsToReferenceValuesAndBack) {
  const IParam::ShapeLinear linear;
  const IParam::ShapeExp exp;
  const IParam::ShapePowCurve cube(3.0), root(0.5);
  struct Case {
    double min, max;
    const IParam::Shape& shape;
    double x, expected;
  } const cases[] = {
      {-12, 12, linear, 0.25, -6.0}, {20, 20000, exp, 0.5, std::sqrt(20.0 * 20000.0)},  // the geometric mean
      {20, 20000, exp, 1.0 / 3.0, 200.0}, {0, 1, exp, 0.5, 1e-4},  // 1e-8 stands in for a minimum of 0
      {0, 1, cube, 0.5, 0.125},           {-1, 3, root, 0.25, 1.0},
  };
  for (const Case& c : cases) {
    IParam param;
    param.InitDouble("p", c.min, c.min, c.max, 1e-9, "", 0, "", c.shape);
    EXPECT_NEAR(param.FromNormalized(c.x), c.expected, 1e-9 * std::max(1.0, c.expected)) << c.min << ".." << c.max;
    for (double x : {0.0, 0.1, 0.5, 0.9, 1.0}) EXPECT_NEAR(param.ToNormalized(param.FromNormalized(x)), x, 1e-9);
    EXPECT_EQ(param.ToNormalized(c.min - 100.0), 0.0);
    EXPECT_EQ(param.ToNormalized(c.max + 100.0), 1.0);
  }
}

TEST(IParam, InitialisersSetRangePrecisionAndValue) {
  IParam param;
  param.InitDouble("Zero range", 0.0, 0.0, 0.0, 0.5);
  EXPECT_EQ(param.GetMax(), 0.5);
  const double steps[] = {1.0, 0.1, 0.25, 1.0 / 3.0, 0.001, 0.07};
  const int precisions[] = {0, 1, 2, 6, 3, 2};
  for (int i = 0; i < 6; ++i) {
    param.InitDouble("p", 42.0, 0.0, 10.0, steps[i]);
    EXPECT_EQ(param.GetDisplayPrecision(), precisions[i]) << steps[i];
    EXPECT_EQ(param.Value(), 10.0);  // the default, constrained
  }
  // Names longer than the record holds are cut at a character boundary.
  IParam choice;
  choice.InitDouble("Synth Oscillator Detune Amount \xC3\xA9x", 0, 0, 1, 0.001);
  EXPECT_STREQ(choice.GetName(), "Synth Oscillator Detune Amount ");
}

TEST(IParam, ConstrainSteppedValuesAndNonFiniteInput) {
  IParam param;
  param.InitDouble("Quarter", 0.0, -1.0, 1.0, 0.25, "", IParam::kFlagStepped);
  const double in[] = {0.3, 0.4, -0.13, 5.0, -5.0, kInf, -kInf, kNaN};
  const double out[] = {0.25, 0.5, -0.25, 1.0, -1.0, 1.0, -1.0, -1.0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(param.Constrain(in[i]), out[i]) << in[i];
  param.Set(0.5);
  for (double bad : {kNaN, kInf, -kInf}) {
    param.Set(bad);
    param.SetNormalized(bad);
    EXPECT_EQ(param.Value(), 0.5);
  }
  EXPECT_EQ(param.FromNormalized(kNaN), -1.0);
  param.SetNormalized(2.0);
  EXPECT_EQ(param.Value(), 1.0);
  param.InitDouble("Power", 0.0, 0.0, 1.0, 0.001, "", 0, "", IParam::ShapePowCurve(2.5));
  EXPECT_EQ(param.FromNormalized(-0.5), 0.0);  // not the NaN of a power of a negative number
}

TEST(IParam, DisplayTexts) {
  struct Case {
    double step;
    int flags;
    double value;
    const char* text;
  } const cases[] = {
      {0.01, 0, 3.14159, "3.14"},  {0.01, 0, -0.0, "0.00"},     {0.01, IParam::kFlagSignDisplay, 3.14159, "+3.14"},
      {1, 0, -0.0, "0"},           {1, 0, 2.5, "3"},            {0.01, IParam::kFlagSignDisplay, -0.0, "0.00"},
      {0.01, IParam::kFlagSignDisplay, -2.5, "-2.50"},          {0.01, IParam::kFlagNegateDisplay, 3.14159, "-3.14"},
      {0.001, 0, 1e300, "1000000000000000052504760255204"},  // cut to what the record holds
  };
  for (const Case& c : cases) {
    IParam param;
    param.InitDouble("p", 0.0, -1e300, 1e300, c.step, "dB", c.flags);
    EXPECT_EQ(display(param, c.value), c.text) << c.value;
  }
  IParam mode;
  mode.InitEnum("Mode", 0, 0, 2, "units");
  mode.SetDisplayText(0, "Off");
  mode.SetDisplayText(1, "A very long display text that is cut at thirty one bytes");
  EXPECT_EQ(display(mode, 0), "Off");
  EXPECT_EQ(display(mode, 0, false), "0");
  EXPECT_EQ(display(mode, 1), "A very long display text that i");
  EXPECT_STREQ(mode.GetLabel(), "");  // the value 0 has a display text
  mode.Set(2);
  EXPECT_STREQ(mode.GetLabel(), "units");
  EXPECT_EQ(mode.StringToValue("Off"), 0.0);
  EXPECT_EQ(mode.StringToValue("2"), 0.0);  // choices are read by name only
  // Text to value as atof reads it, whatever the host's locale, then constrained (-1..1).
  const char* texts[] = {"abc", "0.25", "  +0.5x", "-0.75", "100", "inf", "nan", "", nullptr};
  const double values[] = {0.0, 0.25, 0.5, -0.75, 1.0, 1.0, 0.0, 0.0, 0.0};
  IParam pan;
  pan.InitDouble("Pan", 0.0, -1.0, 1.0, 0.001, "", IParam::kFlagNegateDisplay);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(pan.StringToValue(texts[i]), -values[i]) << i;
  IParam custom;
  custom.InitDouble("Custom", 0, 0, 1, 0.1, "", 0, "", IParam::ShapeLinear(), IParam::kUnitCustom,
                    [](double v, WDL_String& out) { out.SetFormatted(32, "<%g>", v); });
  custom.SetDisplayText(0.5, "half");
  EXPECT_EQ(display(custom, 0.5), "<0.5>");  // the display function comes first
}
