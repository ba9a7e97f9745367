#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "engine/core/EffectRandomTable.h"
#include "engine/voice/BandNoise.h"
#include "engine/voice/OscillatorTables.h"
#include "engine/voice/PaddedBandScale.h"
#include "engine/voice/ReferenceModel.h"

namespace {

using O = OscillatorTables;

// Partial positions (running sums of the steps) until a step ends the series or n are taken.
std::vector<double> partials(int shape, int n) {
  std::vector<double> out;
  double h = 0;
  for (int k = 0; k < n && oscillatorTables().steps[size_t(shape)][size_t(k)] < O::kEndStep; ++k)
    out.push_back(h += oscillatorTables().steps[size_t(shape)][size_t(k)]);
  return out;
}

TEST(OscillatorTables, SeriesOfEveryShape) {
  EXPECT_EQ(partials(O::kSaw, 5), (std::vector<double>{1, 2, 3, 4, 5}));
  EXPECT_EQ(partials(O::kSquare, 5), (std::vector<double>{1, 3, 5, 7, 9}));
  EXPECT_EQ(partials(O::kOctaves, 6), (std::vector<double>{1, 2, 4, 8, 16, 32}));
  EXPECT_EQ(partials(O::kRoundRobin, 6), (std::vector<double>{1, 3, 3.5, 4.5, 6.5, 7}));
  // Fibonacci up to 987, then held at 1000.
  const auto fib = partials(O::kFibonacci, 31);
  EXPECT_EQ(std::vector<double>(fib.begin(), fib.begin() + 7), (std::vector<double>{1, 2, 3, 5, 8, 13, 21}));
  EXPECT_TRUE(fib[14] == 987.0 && fib[15] == 1000.0 && fib[30] == 1000.0);
  const auto bars = partials(O::kDrawBar, 20);  // the nine organ ratios, then the end
  const double ratios[9] = {1.0, 1.99966, 2.9979, 3.99941, 5.99625, 8.00062, 10.0812, 11.9921, 16.0182};
  ASSERT_EQ(bars.size(), 9u);
  for (size_t k = 0; k < 9; ++k) EXPECT_NEAR(bars[k], ratios[k], 1e-5) << k;
  const auto sevenths = partials(O::kSevenths, 20);
  for (size_t k = 0; k < 20; ++k) EXPECT_NEAR(sevenths[k], std::exp2(7.0 * k / 12.0), 1e-4 * sevenths[k]) << k;
  EXPECT_NEAR(oscillatorTables().levels[O::kPulse1][0], 1.4 * std::sin(0.27 * std::numbers::pi), 1e-6);
  // The last 16 levels fade out smoothly.
  for (int i = 0; i < 16; ++i) {
    const double x = (i + 0.5) / 16;
    EXPECT_NEAR(oscillatorTables().levels[O::kSaw][size_t(511 - i)], (3 - 2 * x) * x * x, 1e-4) << i;
  }
}

// Independently: per note the series 1, 2, ..., 9, 11, ... (each next value
// ceil(1.0833·x + 0.33)) scaled by the note's ratio, all values sorted.
TEST(OscillatorTables, ChordsMergeThreeSeriesInAscendingOrder) {
  for (int third : {4, 3}) {
    std::vector<double> expected;
    for (double scale : {1.0, std::exp2(third / 12.0), std::exp2(7.0 / 12.0)})
      for (float x = 0.0f; x * scale <= 1e5;) expected.push_back(float((x = std::ceil(1.0833f * x + 0.33f)) * float(scale)));
    std::sort(expected.begin(), expected.end());
    const auto& steps = oscillatorTables().steps[third == 4 ? O::kMajorChord : O::kMinorChord];
    double h = 0;
    int k = 0;
    for (; k < O::kPartials && (h += steps[size_t(k)]) <= 1e6; ++k)
      EXPECT_TRUE(k >= 200 || std::fabs(h - expected[size_t(k)]) <= 1e-3 * expected[size_t(k)]) << third << " " << k;
    ASSERT_TRUE(k > 300 && k < 511) << k;  // ended by a step past the end
    EXPECT_FLOAT_EQ(steps[size_t(k + 1)], 1.0f);
  }
}

TEST(BandNoise, FiniteBoundedAndOfTheExpectedPower) {
  // Shaped uniform noise times sqrt(0.5) per part, through a kernel whose squares add to 1: a
  // value's mean power is the shaped noise's mean square (integrated here).
  const auto shape = [](double t) { return (1.264 - t * t) * t / (1 - 0.92 * t * t); };
  double meanSquare = 0;
  for (int i = 0; i < 100000; ++i) meanSquare += std::pow(shape(-1 + 2 * (i + 0.5) / 100000), 2) / 100000;
  double power = 0;
  for (const auto& v : bandNoise) {
    ASSERT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));
    EXPECT_LT(std::abs(v), 3.0f);
    power += std::norm(v);
  }
  EXPECT_NEAR(power / kBandNoiseSize, meanSquare, 0.1 * meanSquare);
}

TEST(PaddedBandScale, ExtendsAlongTheEndSpacingsAndEffectTableInRange) {
  const float d0 = kBandCentreHz[1] - kBandCentreHz[0];
  for (int k = 1; k <= 4; ++k) {
    EXPECT_FLOAT_EQ(kPaddedBandCentreHz[size_t(kBandPadding - k)], 24.0f - k * d0);
    EXPECT_FLOAT_EQ(kPaddedBandCentreHz[size_t(kBandPadding + 79 + k)], 20000.0f + 1091.65625f * k);
    EXPECT_EQ(kPaddedBandInverseSpacing[size_t(kBandPadding - k)], kPaddedBandInverseSpacing[kBandPadding]);
    EXPECT_FLOAT_EQ(kPaddedBandInverseSpacing[size_t(kBandPadding + 79 + k)], 1.0f / 1091.65625f);
  }
  EXPECT_FLOAT_EQ(kPaddedBandInverseSpacing[kBandPadding + 10], 1.0f / (kBandCentreHz[11] - kBandCentreHz[10]));

  const auto& t = effectRandomTable();
  ASSERT_EQ(t.size(), 99u);
  const auto [lo, hi] = std::minmax_element(t.begin(), t.end());
  EXPECT_TRUE(*lo >= -0.3f && *hi <= 0.7f + 1e-6f && *hi - *lo > 0.5f);
}

TEST(ReferenceModel, NamesNeutralLayerAndVelocityPosition) {
  ASSERT_EQ(getReferenceModelCount(), 7);
  const char* names[7] = {"Kick", "Snare", "Tom", "Hihat Closed", "Hihat Open", "Crash", "Piano"};
  for (int m = 0; m < 7; ++m) {
    EXPECT_STREQ(getReferenceModelName(m), names[m]);
    ASSERT_NE(getReferenceModel(m), nullptr);
    for (const float* v : getReferenceModel(m)->layers) {
      const bool neutral = v == getReferenceModel(m)->layers[3];
      for (int k = 0; k < 12; ++k) EXPECT_TRUE(neutral ? v[k] == 1.0f : v[k] > 0.0f) << m << " " << k;
      for (int p = 0; p < 140; ++p) EXPECT_FLOAT_EQ(v[12 + p], 96.0f * (p % 20) / 20.0f);  // timing untouched
      for (int i = 152; i < 272; ++i) EXPECT_TRUE(neutral ? v[i] == 0.0f : std::fabs(v[i]) <= 1.0f) << m << " " << i;
    }
  }
  EXPECT_TRUE(*getReferenceModelName(-1) == 0 && *getReferenceModelName(7) == 0);
  EXPECT_TRUE(getReferenceModel(7) == nullptr && getReferenceModel(-4) == nullptr);

  const struct {
    float velocity;
    int32_t layer;
    float fraction;
  } cases[] = {{100.0f / 127, 3, 0.0f}, {1.0f, 3, 0.999f}, {INFINITY, 3, 0.999f}, {50.0f / 127, 1, 0.5f},
               {0.0f, 0, 0.0f},         {NAN, 0, 0.0f},    {-INFINITY, 0, 0.0f}, {-3.0f, 0, 0.0f}};
  for (const auto& c : cases) {
    int32_t layer = -1;
    float fraction = -1.0f;
    referenceLayerPosition(c.velocity, layer, fraction);
    EXPECT_EQ(layer, c.layer) << c.velocity;
    EXPECT_NEAR(fraction, c.fraction, 1e-5f) << c.velocity;
  }
}

}  // namespace
