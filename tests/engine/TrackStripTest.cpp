#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "engine/PanWidth.h"
#include "engine/TrackClip.h"
#include "support/AllocationCounter.h"

namespace {

constexpr double kPi = std::numbers::pi;

std::vector<float> sine(int n, double cycles, float amplitude) {
  std::vector<float> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) x[size_t(i)] = amplitude * static_cast<float>(std::sin(2 * kPi * cycles * i));
  return x;
}

TEST(TrackClip, AmountZeroAtRestLeavesTheBlockBitForBit) {
  ClipState state;
  auto x = sine(512, 0.01, 3.0f);
  x[7] = NAN;
  const auto original = x;
  processClip(state, x.data(), 512, 0.0f);
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::isnan(original[i])) {
      EXPECT_TRUE(std::isnan(x[i]));
    } else {
      EXPECT_EQ(x[i], original[i]) << i;
    }
  }
  EXPECT_EQ(state.g, 1.0f);
}

TEST(TrackClip, FullAmountHoldsPositivePeaksNearPointTwoAndNegativeNearPointThree) {
  for (float rate : {22050.0f, 44100.0f, 192000.0f}) {
    ClipState state;
    state.sampleRate = rate;
    // A slow loud sine: around its crests the gain has settled, so the output there shows the
    // held levels. (Near zero crossings the gain briefly overshoots while it recovers.)
    const auto input = sine(20000, 50.0 / rate, 2.0f);
    auto x = input;
    for (int i = 0; i < 20000; i += 64) processClip(state, x.data() + i, std::min(64, 20000 - i), 1.0f);
    float top = 0.0f;
    float bottom = 0.0f;
    for (size_t i = 5000; i < x.size(); ++i) {
      if (input[i] > 1.99f) top = std::max(top, x[i]);
      if (input[i] < -1.99f) bottom = std::min(bottom, x[i]);
    }
    // Held at (F + 0.3)/1.5 and F + 0.3 with F = 0.005.
    EXPECT_NEAR(top, 0.305f / 1.5f, 0.005f) << rate;
    EXPECT_NEAR(bottom, -0.305f, 0.005f) << rate;
  }
}

TEST(TrackClip, QuietSignalsPassAtHalfAmount) {
  ClipState state;
  auto x = sine(4096, 0.003, 0.02f);
  const auto original = x;
  processClip(state, x.data(), 4096, 0.5f);
  // Floor (1 - 0.475)·0.1/0.5 = 0.105: a level below it keeps the gain at (0.105 + 0.3)/0.105.
  const float gain = (0.105f + 0.3f) / 0.105f;
  for (size_t i = 2000; i < x.size(); ++i) EXPECT_NEAR(x[i], original[i] * gain, 1e-4f) << i;
}

TEST(TrackClip, GainGlidesBackAndTheStageSwitchesItselfOff) {
  ClipState state;
  auto loud = sine(2048, 0.01, 4.0f);
  processClip(state, loud.data(), 2048, 1.0f);
  ASSERT_LT(state.g, 0.5f);
  std::vector<float> quiet(64, 0.0f);
  int blocks = 0;
  while (std::fabs(state.g - 1.0f) >= 0.00001f && blocks < 100) {
    processClip(state, quiet.data(), 64, 0.0f);
    ++blocks;
  }
  EXPECT_LT(blocks, 100);
  EXPECT_NEAR(state.g, 1.0f, 0.00001f);
  // Now at rest: the next block is not touched at all.
  auto x = sine(64, 0.05, 10.0f);
  const auto original = x;
  processClip(state, x.data(), 64, 0.0f);
  EXPECT_EQ(x, original);
}

TEST(TrackClip, NanSampleDoesNotPoisonTheGain) {
  ClipState state;
  auto x = sine(256, 0.01, 1.0f);
  x[10] = NAN;
  processClip(state, x.data(), 256, 1.0f);
  EXPECT_TRUE(std::isfinite(state.g));
  for (size_t i = 11; i < x.size(); ++i) EXPECT_TRUE(std::isfinite(x[i])) << i;
}

struct Stereo {
  std::vector<float> left, right;
  explicit Stereo(int n) : left(size_t(n)), right(size_t(n)) {}
  float* const* out() {
    ptrs[0] = left.data();
    ptrs[1] = right.data();
    return ptrs;
  }
  float* ptrs[2];
};

TEST(PanWidth, PanGainsAtZeroOneAndMinusHalf) {
  struct Case {
    float pan, left, right;
  };
  for (const Case c : {Case{0.0f, 1.0f, 1.0f}, Case{1.0f, 0.0f, 1.0f}, Case{-0.5f, 1.0f, 0.5f}}) {
    PanWidthState state;
    std::vector<float> mono(64, 0.0f);
    mono[0] = 1.0f;
    Stereo s(64);
    processPanWidth(state, mono.data(), s.out(), 64, 1.0f, c.pan, 0.0f);
    EXPECT_FLOAT_EQ(state.leftGain, c.left) << c.pan;
    EXPECT_FLOAT_EQ(state.rightGain, c.right) << c.pan;
    // Width 0: each chain is two plain delays, so the impulse arrives two samples late.
    EXPECT_FLOAT_EQ(s.left[2], c.left) << c.pan;
    EXPECT_FLOAT_EQ(s.right[2], c.right) << c.pan;
    EXPECT_EQ(s.left[0], 0.0f);
    EXPECT_EQ(s.left[1], 0.0f);
  }
}

// Response of a chain of two first-order allpasses (c + z^-1)/(1 + c z^-1) at f, in double.
std::complex<double> chain(double c1, double c2, double f) {
  const std::complex<double> zi = std::polar(1.0, -2 * kPi * f);
  return (c1 + zi) / (1.0 + c1 * zi) * (c2 + zi) / (1.0 + c2 * zi);
}

TEST(PanWidth, FullWidthUsesTheLastRowAndKeepsUnitMagnitude) {
  PanWidthState state;
  processPanWidth(state, std::vector<float>(64, 0.0f).data(), Stereo(64).out(), 64, 1.0f, 0.0f, 1.0f);
  EXPECT_FLOAT_EQ(state.stages[0].coefficient, -0.99076f);
  EXPECT_FLOAT_EQ(state.stages[1].coefficient, 0.109618f);
  EXPECT_FLOAT_EQ(state.stages[2].coefficient, -0.000365f);
  EXPECT_FLOAT_EQ(state.stages[3].coefficient, 0.505633f);

  // The impulse responses are the two chains' allpass responses: flat magnitude, different
  // phase (checked by a plain DFT against the analytic chain response).
  const int n = 4096;
  std::vector<float> mono(size_t(n), 0.0f);
  mono[0] = 1.0f;
  Stereo s(n);
  processPanWidth(state, mono.data(), s.out(), n, 1.0f, 0.0f, 1.0f);
  for (double f : {0.01, 0.1, 0.3}) {
    std::complex<double> l = 0, r = 0;
    for (int i = 0; i < n; ++i) {
      l += double(s.left[size_t(i)]) * std::polar(1.0, -2 * kPi * f * i);
      r += double(s.right[size_t(i)]) * std::polar(1.0, -2 * kPi * f * i);
    }
    EXPECT_NEAR(std::abs(l), 1.0, 1e-3) << f;
    EXPECT_NEAR(std::abs(r), 1.0, 1e-3) << f;
    EXPECT_NEAR(std::abs(l - chain(-0.99076, 0.109618, f)), 0.0, 1e-3) << f;
    EXPECT_NEAR(std::abs(r - chain(-0.000365, 0.505633, f)), 0.0, 1e-3) << f;
  }
}

TEST(PanWidth, WidthBetweenRowsInterpolatesAndNanWidthIsNone) {
  PanWidthState state;
  Stereo s(8);
  std::vector<float> mono(8, 0.0f);
  processPanWidth(state, mono.data(), s.out(), 8, 1.0f, 0.0f, 0.3f);  // w = 1.5: rows 1 and 2
  EXPECT_FLOAT_EQ(state.stages[0].coefficient, 0.5f * (-0.888528f) + 0.5f * (-0.921241f));
  EXPECT_FLOAT_EQ(state.stages[3].coefficient, 0.5f * 0.333651f + 0.5f * 0.521939f);
  PanWidthState nan;
  processPanWidth(nan, mono.data(), s.out(), 8, 1.0f, 0.0f, NAN);
  for (const auto& stage : nan.stages) EXPECT_EQ(stage.coefficient, 0.0f);
}

TEST(PanWidth, GainGlidesAQuarterOfTheWayPerChunk) {
  PanWidthState state;
  std::vector<float> mono(512, 1.0f);
  Stereo s(512);
  processPanWidth(state, mono.data(), s.out(), 64, 0.0f, 0.0f, 0.0f);  // first call jumps to 0
  EXPECT_EQ(state.leftGain, 0.0f);
  processPanWidth(state, mono.data(), s.out(), 64, 1.0f, 0.0f, 0.0f);
  EXPECT_NEAR(state.leftGain, 0.25f, 1e-6f);
  EXPECT_NEAR(state.rightGain, 0.25f, 1e-6f);
  // One call of 512 frames is 8 chunks, each covering a quarter of what is left.
  processPanWidth(state, mono.data(), s.out(), 512, 1.0f, 0.0f, 0.0f);
  EXPECT_NEAR(state.leftGain, 1.0f - std::pow(0.75f, 9.0f), 1e-5f);
  // The ramp runs within the chunk: the output rises sample by sample.
  EXPECT_LT(s.left[10], s.left[60]);
}

TEST(PanWidth, WarmUpAndNoAllocation) {
  EXPECT_EQ(warmUpPanWidth(), 1);
  PanWidthState state;
  std::vector<float> mono = sine(4096, 0.01, 1.0f);
  Stereo s(4096);
  AllocationCounter counter;
  for (int n : {1, 63, 64, 65, 4096}) processPanWidth(state, mono.data(), s.out(), n, 0.7f, 0.3f, 0.8f);
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
