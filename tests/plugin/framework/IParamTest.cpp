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
  struct Case {
    const char* what;
    double min, max;
    const IParam::Shape& shape;
    double x, expected;
  };
  const IParam::ShapeLinear linear;
  const IParam::ShapeExp exp;
  const IParam::ShapePowCurve cube(3.0), root(0.5);
  const Case cases[] = {
      {"linear", -12, 12, linear, 0.25, -6.0},
      {"exp: geometric mean", 20, 20000, exp, 0.5, std::sqrt(20.0 * 20000.0)},
      {"exp: a decade", 20, 20000, exp, 1.0 / 3.0, 200.0},
      {"exp from zero: 1e-8 stands in for the minimum", 0, 1, exp, 0.5, 1e-4},
      {"cube", 0, 1, cube, 0.5, 0.125},
      {"square root", -1, 3, root, 0.25, 1.0},
  };
  for (const Case& c : cases) {
    IParam param;
    param.InitDouble("p", c.min, c.min, c.max, 1e-9, "", 0, "", c.shape);
    EXPECT_NEAR(param.FromNormalized(c.x), c.expected, 1e-9 * std::max(1.0, c.expected)) << c.what;
    for (double x : {0.0, 0.1, 0.5, 0.9, 1.0}) {
      EXPECT_NEAR(param.ToNormalized(param.FromNormalized(x)), x, 1e-9) << c.what << " at " << x;
    }
    EXPECT_EQ(param.ToNormalized(c.min - 100.0), 0.0) << c.what;
    EXPECT_EQ(param.ToNormalized(c.max + 100.0), 1.0) << c.what;
  }
  const double exponents[] = {3.0, 2.0, 1.0, 0.5, 0.3};
  const IParam::EDisplayType types[] = {IParam::kDisplayCubeRoot, IParam::kDisplaySquareRoot, IParam::kDisplayLinear,
                                        IParam::kDisplaySquared, IParam::kDisplayCubed};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(IParam::ShapePowCurve(exponents[i]).GetDisplayType(), types[i]);
}

TEST(IParam, InitialisersSetRangePrecisionTypeAndValue) {
  IParam param;
  param.InitDouble("Zero range", 0.0, 0.0, 0.0, 0.5);
  EXPECT_EQ(param.GetMax(), 0.5);
  EXPECT_EQ(param.Type(), IParam::kTypeDouble);
  const double steps[] = {1.0, 0.1, 0.25, 1.0 / 3.0, 0.001, 0.07};
  const int precisions[] = {0, 1, 2, 6, 3, 2};
  for (int i = 0; i < 6; ++i) {
    param.InitDouble("p", 0.0, 0.0, 10.0, steps[i]);
    EXPECT_EQ(param.GetDisplayPrecision(), precisions[i]) << steps[i];
  }
  param.InitDouble("p", 42.0, 0.0, 10.0, 0.1);
  EXPECT_EQ(param.Value(), 10.0);  // the default is constrained
  IParam choice;
  choice.InitEnum("Mode", 1, 0, 3);
  EXPECT_EQ(choice.Type(), IParam::kTypeEnum);
  EXPECT_TRUE(choice.GetStepped());
  IParam whole;
  whole.InitInt("Count", 2, 0, 7);
  EXPECT_EQ(whole.Type(), IParam::kTypeInt);
  // Names longer than the record holds are cut at a character boundary.
  IParam named;
  named.InitDouble("Synth Oscillator Detune Amount \xC3\xA9x", 0, 0, 1, 0.001);
  EXPECT_STREQ(named.GetName(), "Synth Oscillator Detune Amount ");
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
  param.SetNormalized(2.0);  // outside 0..1 lands on the range's end
  EXPECT_EQ(param.Value(), 1.0);
  IParam power;
  power.InitDouble("Power", 0.0, 0.0, 1.0, 0.001, "", 0, "", IParam::ShapePowCurve(2.5));
  EXPECT_EQ(power.FromNormalized(-0.5), 0.0);  // not a NaN from a power of a negative number
}

TEST(IParam, DisplayTexts) {
  IParam param;
  param.InitDouble("Gain", 0.0, -10.0, 10.0, 0.01, "dB");
  EXPECT_EQ(display(param, 3.14159), "3.14");
  EXPECT_EQ(display(param, -0.0), "0.00");
  param.InitDouble("Gain", 0.0, -10.0, 10.0, 0.01, "dB", IParam::kFlagSignDisplay);
  EXPECT_EQ(display(param, 3.14159), "+3.14");
  EXPECT_EQ(display(param, -0.0), "0.00");
  EXPECT_EQ(display(param, -2.5), "-2.50");
  param.InitDouble("Gain", 0.0, -10.0, 10.0, 0.01, "dB", IParam::kFlagNegateDisplay);
  EXPECT_EQ(display(param, 3.14159), "-3.14");
  param.InitDouble("Steps", 0.0, -10.0, 10.0, 1.0);
  EXPECT_EQ(display(param, -0.0), "0");
  EXPECT_EQ(display(param, 2.5), "3");
  param.InitDouble("Huge", 0.0, -1e300, 1e300, 0.001);
  EXPECT_EQ(display(param, 1e300).size(), 31u);  // cut to what the record holds
  WDL_String text;
  param.GetDisplay(0.5, true, text);
  EXPECT_STREQ(text.Get(), "0.000");

  IParam mode;
  mode.InitEnum("Mode", 0, 0, 2, "units");
  mode.SetDisplayText(0, "Off");
  mode.SetDisplayText(1, "A very long display text that is cut at thirty one bytes");
  EXPECT_EQ(display(mode, 0), "Off");
  EXPECT_EQ(display(mode, 0, false), "0");
  EXPECT_EQ(display(mode, 1), "A very long display text that i");
  EXPECT_EQ(display(mode, 2), "2");
  EXPECT_STREQ(mode.GetLabel(), "");  // the value 0 has a display text
  mode.Set(2);
  EXPECT_STREQ(mode.GetLabel(), "units");
  EXPECT_EQ(mode.StringToValue("Off"), 0.0);
  EXPECT_EQ(mode.StringToValue("2"), 0.0);  // choices are read by name only

  IParam custom;
  custom.InitDouble("Custom", 0, 0, 1, 0.1, "", 0, "", IParam::ShapeLinear(), IParam::kUnitCustom,
                    [](double v, WDL_String& out) { out.SetFormatted(32, "<%g>", v); });
  custom.SetDisplayText(0.5, "half");
  EXPECT_EQ(display(custom, 0.5), "<0.5>");  // the display function comes first
}

TEST(IParam, TextToValue) {
  IParam param;
  param.InitDouble("Pan", 0.0, -1.0, 1.0, 0.001);
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {{"abc", 0.0}, {"0.25", 0.25}, {"  +0.5x", 0.5}, {"-0.75", -0.75},
                        {"100", 1.0}, {"inf", 1.0},   {"nan", 0.0},     {"", 0.0}};
  for (const Case& c : cases) EXPECT_EQ(param.StringToValue(c.text), c.value) << c.text;
  EXPECT_EQ(param.StringToValue(nullptr), 0.0);
  param.InitDouble("Pan", 0.0, -1.0, 1.0, 0.001, "", IParam::kFlagNegateDisplay);
  EXPECT_EQ(param.StringToValue("0.25"), -0.25);
}
