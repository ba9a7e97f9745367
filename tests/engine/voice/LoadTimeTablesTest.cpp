#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
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

// The series the shapes name, and for every shape partials that rise (a step of 0 would stack
// partials on one frequency) and finite levels that fade out at the end.
TEST(OscillatorTables, SeriesOfEveryShape) {
  EXPECT_EQ(partials(O::kSaw, 5), (std::vector<double>{1, 2, 3, 4, 5}));
  EXPECT_EQ(partials(O::kSquare, 5), (std::vector<double>{1, 3, 5, 7, 9}));
  EXPECT_EQ(partials(O::kOctaves, 6), (std::vector<double>{1, 2, 4, 8, 16, 32}));
  EXPECT_EQ(partials(O::kFibonacci, 7), (std::vector<double>{1, 2, 3, 5, 8, 13, 21}));
  const auto sevenths = partials(O::kSevenths, 20);
  for (size_t k = 0; k < 20; ++k) EXPECT_NEAR(sevenths[k], std::exp2(7.0 * k / 12.0), 1e-4 * sevenths[k]) << k;
  // The chords hold the root, the third (major or minor) and the fifth among their first partials.
  for (const auto& [shape, third] : {std::pair{O::kMajorChord, 4}, {O::kMinorChord, 3}}) {
    const auto p = partials(shape, 6);
    for (double ratio : {1.0, std::exp2(third / 12.0), std::exp2(7.0 / 12.0)})
      EXPECT_TRUE(std::any_of(p.begin(), p.end(), [&](double x) { return std::fabs(x - ratio) < 1e-3; })) << shape;
  }
  for (int shape = 0; shape < O::kShapes; ++shape) {
    // Fibonacci holds at 1000 after 987; the synthesis stops at its first zero step.
    const auto p = partials(shape, shape == O::kFibonacci ? 16 : O::kPartials);
    ASSERT_FALSE(p.empty()) << shape;
    for (size_t k = 1; k < p.size(); ++k) ASSERT_GT(p[k], p[k - 1]) << shape << " " << k;
    const auto& levels = oscillatorTables().levels[size_t(shape)];
    for (float l : levels) ASSERT_TRUE(std::isfinite(l)) << shape;
    EXPECT_LT(std::fabs(levels[O::kPartials - 1]), 0.01f * std::fabs(levels[O::kPartials - 17]) + 1e-6f) << shape;
  }
}

TEST(BandNoise, FiniteBoundedAndNotSilent) {
  double power = 0;
  for (const auto& v : bandNoise) {
    ASSERT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));
    EXPECT_LT(std::abs(v), 3.0f);
    power += std::norm(v);
  }
  EXPECT_GT(power / kBandNoiseSize, 0.05);
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
