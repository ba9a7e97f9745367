#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "engine/BandNoise.h"
#include "engine/EffectRandomTable.h"
#include "engine/FloatConstants.h"
#include "engine/OscillatorTables.h"
#include "engine/PaddedBandScale.h"
#include "engine/ReferenceModel.h"

namespace {

using O = OscillatorTables;

// Partial positions (running sums of the steps) until a step ends the series or n are taken.
std::vector<double> partials(int shape, int n) {
  std::vector<double> out;
  double h = 0;
  for (int k = 0; k < n; ++k) {
    const float step = oscillatorTables().steps[size_t(shape)][size_t(k)];
    if (step >= O::kEndStep) break;
    h += step;
    out.push_back(h);
  }
  return out;
}

TEST(OscillatorTables, SeriesOfEveryShape) {
  EXPECT_EQ(partials(O::kSaw, 5), (std::vector<double>{1, 2, 3, 4, 5}));
  EXPECT_EQ(partials(O::kSquare, 5), (std::vector<double>{1, 3, 5, 7, 9}));
  EXPECT_EQ(partials(O::kOctaves, 6), (std::vector<double>{1, 2, 4, 8, 16, 32}));
  EXPECT_DOUBLE_EQ(oscillatorTables().steps[O::kOctaves][100], 4096.0);
  EXPECT_EQ(partials(O::kRoundRobin, 6), (std::vector<double>{1, 3, 3.5, 4.5, 6.5, 7}));

  // Fibonacci: 1, 2, 3, 5, 8, ..., 987, then held at 1000.
  const auto fib = partials(O::kFibonacci, 40);
  double a = 1, b = 2;
  for (size_t k = 0; k < 15; ++k) {
    EXPECT_DOUBLE_EQ(fib[k], k == 0 ? 1.0 : (k == 1 ? 2.0 : a + b)) << k;
    if (k >= 2) {
      const double next = a + b;
      a = b;
      b = next;
    }
  }
  EXPECT_DOUBLE_EQ(fib[14], 987.0);
  EXPECT_DOUBLE_EQ(fib[15], 1000.0);
  EXPECT_DOUBLE_EQ(fib[30], 1000.0);

  // Draw bar: the nine organ ratios, then the series ends.
  const auto bars = partials(O::kDrawBar, 20);
  ASSERT_EQ(bars.size(), 9u);
  const double ratios[9] = {1.0, 1.99966, 2.9979, 3.99941, 5.99625, 8.00062, 10.0812, 11.9921, 16.0182};
  for (size_t k = 0; k < 9; ++k) EXPECT_NEAR(bars[k], ratios[k], 1e-5) << k;

  // Sevenths: partial k at 2^(7k/12).
  const auto sevenths = partials(O::kSevenths, 20);
  for (size_t k = 0; k < 20; ++k) EXPECT_NEAR(sevenths[k], std::exp2(7.0 * k / 12.0), 1e-4 * sevenths[k]) << k;

  // Metallic: step and level from one formula.
  for (int k : {0, 3, 17, 200}) {
    const double v = 0.5 * std::sin(k) * k / (k + 20.0) + 1;
    EXPECT_NEAR(oscillatorTables().steps[O::kMetallic][size_t(k)], v, 1e-6);
    if (k < 496) {
      EXPECT_NEAR(oscillatorTables().levels[O::kMetallic][size_t(k)], v, 1e-6);
    }
  }
  EXPECT_NEAR(oscillatorTables().levels[O::kPulse1][0], 1.4 * std::sin(0.27 * std::numbers::pi), 1e-6);
  EXPECT_NEAR(oscillatorTables().levels[O::kPulse2][4], 1.4 * std::sin(5 * 0.12 * std::numbers::pi), 1e-6);
}

// The chord series merged independently: for each note a series 1, 2, ..., 9, 11, ... (each
// next value ceil(1.0833·x + 0.33)), scaled by the note's ratio, all values sorted.
std::vector<double> chordReference(int third, double limit) {
  std::vector<double> all;
  const double scales[3] = {1.0, std::exp2(third / 12.0), std::exp2(7.0 / 12.0)};
  for (double scale : scales) {
    float x = 0.0f;
    while (true) {
      x = std::ceil(1.0833f * x + 0.33f);
      all.push_back(float(x * float(scale)));
      if (x * scale > limit) break;
    }
  }
  std::sort(all.begin(), all.end());
  return all;
}

TEST(OscillatorTables, ChordsMergeThreeSeriesInAscendingOrder) {
  for (int shape : {int(O::kMajorChord), int(O::kMinorChord)}) {
    const int third = shape == O::kMajorChord ? 4 : 3;
    const auto& steps = oscillatorTables().steps[size_t(shape)];
    EXPECT_FLOAT_EQ(steps[0], 1.0f);
    double h = 0;
    std::vector<double> got;
    int end = -1;
    for (int k = 0; k < O::kPartials; ++k) {
      h += steps[size_t(k)];
      got.push_back(h);
      if (h > 1e6) {
        end = k;
        break;
      }
    }
    ASSERT_GT(end, 300) << shape;
    ASSERT_LT(end, 511) << shape;
    const auto expected = chordReference(third, 1e5);
    // The first values: 1, the third, the fifth, 2, ...
    EXPECT_NEAR(got[1], std::exp2(third / 12.0), 1e-5);
    EXPECT_NEAR(got[2], std::exp2(7.0 / 12.0), 1e-5);
    EXPECT_NEAR(got[3], 2.0, 1e-6);
    for (size_t k = 0; k < 200; ++k) EXPECT_NEAR(got[k], expected[k], 1e-3 * expected[k]) << shape << " " << k;
    // Entries after the end keep their start value.
    EXPECT_FLOAT_EQ(steps[size_t(end + 1)], 1.0f);
  }
}

TEST(OscillatorTables, LastSixteenLevelsFadeOut) {
  for (int shape = 0; shape < O::kShapes; ++shape) {
    const auto& levels = oscillatorTables().levels[size_t(shape)];
    const auto unfaded = [&](int k) {
      if (shape == O::kPulse1) return 1.4 * std::sin((k + 1) * 0.27 * std::numbers::pi);
      if (shape == O::kPulse2) return 1.4 * std::sin((k + 1) * 0.12 * std::numbers::pi);
      if (shape == O::kMetallic) return 0.5 * std::sin(k) * k / (k + 20.0) + 1;
      return 1.0;
    };
    for (int i = 0; i < 16; ++i) {
      const double x = (i + 0.5) / 16;
      EXPECT_NEAR(levels[size_t(511 - i)], unfaded(511 - i) * (3 - 2 * x) * x * x, 1e-4) << shape << " " << i;
    }
    EXPECT_NEAR(levels[495], unfaded(495), 1e-4) << shape;
  }
}

TEST(BandNoise, DeterministicFiniteAndOfTheExpectedSpread) {
  // Recomputed independently in double: the two generators, the shaping and the 5-tap kernel.
  uint32_t first = 12345u, second = 12345u * 123u - 456u;
  std::vector<std::complex<double>> reference(kBandNoiseSize);
  const double kernel[5] = {0.0320486, 0.4298786, 0.7926882, 0.4298786, 0.0320486};
  const auto shape = [](double t) { return (1.264 - t * t) * t / (1 - 0.92 * t * t); };
  for (int k = -2; k <= kBandNoiseSize + 1; ++k) {
    first = first * 1664525u + 1013904223u;
    second = second * 214013u + 2531011u;
    const double u = shape(int32_t(first) / 2147483648.0) * std::sqrt(0.5);
    const double v = shape(int32_t(second) / 2147483648.0) * std::sqrt(0.5);
    for (int tap = 0; tap < 5; ++tap) {
      const int i = k - 2 + tap;
      if (i >= 0 && i < kBandNoiseSize) reference[size_t(i)] += std::complex<double>(u, v) * kernel[tap];
    }
  }
  double power = 0;
  for (int i = 0; i < kBandNoiseSize; ++i) {
    const auto v = bandNoise[size_t(i)];
    ASSERT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));
    EXPECT_NEAR(v.real(), reference[size_t(i)].real(), 1e-5) << i;
    EXPECT_NEAR(v.imag(), reference[size_t(i)].imag(), 1e-5) << i;
    EXPECT_LT(std::abs(v), 3.0f);
    power += std::norm(v);
  }
  // Each part is shaped uniform noise times sqrt(0.5) through a kernel whose squares add to
  // 1, so a complex value's mean power is the shaped noise's mean square (integrated here).
  double meanSquare = 0;
  const int steps = 100000;
  for (int i = 0; i < steps; ++i) {
    const double t = -1 + 2 * (i + 0.5) / steps;
    meanSquare += shape(t) * shape(t) / steps;
  }
  EXPECT_NEAR(power / kBandNoiseSize, meanSquare, 0.1 * meanSquare);
}

TEST(PaddedBandScale, ExtendsAlongTheEndSpacings) {
  const float d0 = kBandCentreHz[1] - kBandCentreHz[0];
  for (int k = 1; k <= 4; ++k) {
    EXPECT_FLOAT_EQ(kPaddedBandCentreHz[size_t(kBandPadding - k)], 24.0f - k * d0);
    EXPECT_FLOAT_EQ(kPaddedBandCentreHz[size_t(kBandPadding + 79 + k)], 20000.0f + 1091.65625f * k);
  }
  for (int b = 0; b < 80; ++b) EXPECT_EQ(kPaddedBandCentreHz[size_t(b + kBandPadding)], kBandCentreHz[size_t(b)]);
  EXPECT_FLOAT_EQ(kPaddedBandInverseSpacing[kBandPadding + 10], 1.0f / (kBandCentreHz[11] - kBandCentreHz[10]));
  EXPECT_FLOAT_EQ(kPaddedBandInverseSpacing[kBandPadding + 79], 1.0f / 1091.65625f);
  EXPECT_EQ(kPaddedBandInverseSpacing[kBandPadding + 79], kPaddedBandInverseSpacing[kBandPadding + 78]);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(kPaddedBandInverseSpacing[size_t(k)], kPaddedBandInverseSpacing[kBandPadding]);
    EXPECT_EQ(kPaddedBandInverseSpacing[size_t(kBandPadding + 80 + k)], kPaddedBandInverseSpacing[kBandPadding + 79]);
  }
}

TEST(FloatConstants, ExponentStepsAndDecibels) {
  for (uint32_t k : {0u, 1u, 3u, 20u}) {
    const float x = 1.5f;
    const float scaled = std::bit_cast<float>(std::bit_cast<uint32_t>(x) + kFloatExponentSteps[k]);
    EXPECT_EQ(scaled, std::ldexp(x, int(k))) << k;
  }
  EXPECT_EQ(kFloatExponentSteps[255], 255u << 23);
  EXPECT_NEAR(std::exp(20.0 * kDecibelToNeper), 10.0, 1e-5);
  EXPECT_NEAR(std::exp2(20.0 * std::log10(2.0) * kDecibelToLog2), 2.0, 1e-6);
}

TEST(EffectRandomTable, NinetyNineValuesInRange) {
  const auto& t = effectRandomTable();
  ASSERT_EQ(t.size(), 99u);
  float lo = 1.0f, hi = -1.0f;
  for (float v : t) {
    EXPECT_GE(v, -0.3f);
    EXPECT_LE(v, 0.7f + 1e-6f);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  EXPECT_GT(hi - lo, 0.5f);
  EXPECT_EQ(&effectRandomTable(), &t);
}

TEST(ReferenceModel, NamesAndNeutralLayers) {
  ASSERT_EQ(getReferenceModelCount(), 7);
  const char* names[7] = {"Kick", "Snare", "Tom", "Hihat Closed", "Hihat Open", "Crash", "Piano"};
  for (int m = 0; m < 7; ++m) {
    EXPECT_STREQ(getReferenceModelName(m), names[m]);
    const ReferenceModel* model = getReferenceModel(m);
    ASSERT_NE(model, nullptr);
    for (int layer = 0; layer < 5; ++layer) {
      const float* v = model->layers[layer];
      for (int k = 0; k < 12; ++k) {
        if (layer == 3) {
          EXPECT_EQ(v[k], 1.0f) << m << " " << k;
        }
        EXPECT_GT(v[k], 0.0f);
      }
      for (int curve = 0; curve < 7; ++curve) {
        const float* map = v + 12 + 20 * curve;
        EXPECT_EQ(map[0], 0.0f);
        for (int p = 0; p < 20; ++p) EXPECT_FLOAT_EQ(map[p], 96.0f * p / 20.0f);  // timing untouched
      }
      for (int i = 152; i < 272; ++i) {
        EXPECT_LE(std::fabs(v[i]), 1.0f);
        if (layer == 3) {
          EXPECT_EQ(v[i], 0.0f);
        }
      }
    }
  }
  EXPECT_STREQ(getReferenceModelName(-1), "");
  EXPECT_STREQ(getReferenceModelName(7), "");
  EXPECT_EQ(getReferenceModel(7), nullptr);
  EXPECT_EQ(getReferenceModel(-4), nullptr);
}

TEST(ReferenceModel, LayerPositionFromVelocity) {
  int32_t layer = -1;
  float f = -1.0f;
  referenceLayerPosition(100.0f / 127.0f, layer, f);
  EXPECT_EQ(layer, 3);
  EXPECT_NEAR(f, 0.0f, 1e-5f);
  referenceLayerPosition(1.0f, layer, f);
  EXPECT_EQ(layer, 3);
  EXPECT_NEAR(f, 0.999f, 1e-5f);
  referenceLayerPosition(0.0f, layer, f);
  EXPECT_EQ(layer, 0);
  EXPECT_EQ(f, 0.0f);
  referenceLayerPosition(50.0f / 127.0f, layer, f);
  EXPECT_EQ(layer, 1);
  EXPECT_NEAR(f, 0.5f, 1e-5f);
  for (float bad : {NAN, -INFINITY, -3.0f}) {
    referenceLayerPosition(bad, layer, f);
    EXPECT_EQ(layer, 0);
    EXPECT_EQ(f, 0.0f);
  }
  referenceLayerPosition(INFINITY, layer, f);
  EXPECT_EQ(layer, 3);
  EXPECT_NEAR(f, 0.999f, 1e-5f);
}

}  // namespace
