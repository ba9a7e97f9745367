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
  const std::tuple<double, double, const IParam::Shape&, double, double> cases[] = {  // min, max, shape, x, value there
      {-12, 12, linear, 0.25, -6.0}, {20, 20000, exp, 0.5, std::sqrt(20.0 * 20000.0)},  // the geometric mean
      {20, 20000, exp, 1.0 / 3.0, 200.0}, {0, 1, exp, 0.5, 1e-4},  // 1e-8 stands in for a minimum of 0
      {0, 1, cube, 0.5, 0.125},           {-1, 3, root, 0.25, 1.0}};
  for (const auto& [min, max, shape, x, expected] : cases) {
    IParam param;
    param.InitDouble("p", min, min, max, 1e-9, "", 0, "", shape);
    EXPECT_NEAR(param.FromNormalized(x), expected, 1e-9 * std::max(1.0, expected)) << min << ".." << max;
    for (double y : {0.0, 0.1, 0.5, 0.9, 1.0}) EXPECT_NEAR(param.ToNormalized(param.FromNormalized(y)), y, 1e-9);
    EXPECT_EQ(std::make_pair(param.ToNormalized(min - 100.0), param.ToNormalized(max + 100.0)), std::make_pair(0.0, 1.0));
  }
}

TEST(IParam, InitialisersSetRangePrecisionAndValue) {
  IParam param;
  param.InitDouble("Zero range", 0.0, 0.0, 0.0, 0.5);
  EXPECT_EQ(param.GetMax(), 0.5);
  for (auto [step, precision] : {std::pair{1.0, 0}, {0.1, 1}, {0.25, 2}, {1.0 / 3.0, 6}, {0.001, 3}, {0.07, 2}}) {
    param.InitDouble("p", 42.0, 0.0, 10.0, step);
    EXPECT_EQ(param.GetDisplayPrecision(), precision) << step;
    EXPECT_EQ(param.Value(), 10.0);  // the default, constrained
  }
  // Names longer than the record holds are cut at a character boundary.
  param.InitDouble("Synth Oscillator Detune Amount \xC3\xA9x", 0, 0, 1, 0.001);
  EXPECT_STREQ(param.GetName(), "Synth Oscillator Detune Amount ");
}

TEST(IParam, ConstrainSteppedValuesAndNonFiniteInput) {
  IParam param;
  param.InitDouble("Quarter", 0.0, -1.0, 1.0, 0.25, "", IParam::kFlagStepped);
  for (auto [in, out] : {std::pair{0.3, 0.25}, {0.4, 0.5}, {-0.13, -0.25}, {5.0, 1.0}, {-5.0, -1.0}, {kInf, 1.0}, {-kInf, -1.0}, {kNaN, -1.0}})
    EXPECT_EQ(param.Constrain(in), out) << in;
  param.Set(0.5);
  for (double bad : {kNaN, kInf, -kInf}) param.Set(bad), param.SetNormalized(bad);
  EXPECT_EQ(param.Value(), 0.5);
  EXPECT_EQ(param.FromNormalized(kNaN), -1.0);
  param.SetNormalized(2.0);
  EXPECT_EQ(param.Value(), 1.0);
  param.InitDouble("Power", 0.0, 0.0, 1.0, 0.001, "", 0, "", IParam::ShapePowCurve(2.5));
  EXPECT_EQ(param.FromNormalized(-0.5), 0.0);  // not the NaN of a power of a negative number
}

TEST(IParam, DisplayTexts) {
  const std::tuple<double, int, double, const char*> cases[] = {  // step, flags, value, text
      {0.01, 0, 3.14159, "3.14"},  {0.01, 0, -0.0, "0.00"},     {0.01, IParam::kFlagSignDisplay, 3.14159, "+3.14"},
      {1, 0, -0.0, "0"},           {1, 0, 2.5, "3"},            {0.01, IParam::kFlagSignDisplay, -0.0, "0.00"},
      {0.01, IParam::kFlagSignDisplay, -2.5, "-2.50"},          {0.01, IParam::kFlagNegateDisplay, 3.14159, "-3.14"},
      {0.001, 0, 1e300, "1000000000000000052504760255204"},  // cut to what the record holds
  };
  for (const auto& [step, flags, value, text] : cases) {
    IParam param;
    param.InitDouble("p", 0.0, -1e300, 1e300, step, "dB", flags);
    EXPECT_EQ(display(param, value), text) << value;
  }
  IParam mode;
  mode.InitEnum("Mode", 0, 0, 2, "units");
  mode.SetDisplayText(0, "Off");
  mode.SetDisplayText(1, "A very long display text that is cut at thirty one bytes");
  EXPECT_EQ(display(mode, 0) + "|" + display(mode, 0, false) + "|" + display(mode, 1), "Off|0|A very long display text that i");
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
}
