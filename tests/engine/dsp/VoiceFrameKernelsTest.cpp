#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/core/FloatGrid.h"
#include "engine/dsp/KnotIntegrator.h"
#include "engine/dsp/LaneWidth.h"
#include "engine/dsp/VoiceFrameKernels.h"

namespace {

using Floats = std::vector<float>;

bool sameBits(const float* a, const float* b, int n) { return std::memcmp(a, b, sizeof(float) * size_t(n)) == 0; }

template <class Check>
void atEveryWidth(Check check) {
  for (int32_t width = 4; width <= supportedLaneWidth(); width *= 2) {
    setLaneWidthLimit(width);
    check(width);
  }
  setLaneWidthLimit(0);
}

// On whole grids in steps of 1 the resampling finds its segments without walking; it must
// still be the walk, bit for bit, for crowded, coinciding, out-of-order and damaged knots.
TEST(VoiceFrameKernels, KnotDensityOnWholeGridsIsTheWalk) {
  atEveryWidth([](int32_t width) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 40; ++trial) {
      const int n = std::array<int, 5>{2, 5, 49, 49, 63}[size_t(trial % 5)];
      Floats knots(size_t(n), 0.0f);
      for (size_t i = 1; i < knots.size(); ++i) knots[i] = knots[i - 1] + (trial % 4 == 0 ? 0.0f : 3.0f * unit(rng));
      if (trial % 7 == 3) std::swap(knots[size_t(n / 2)], knots[size_t(n - 1)]);
      if (trial % 11 == 5) knots[size_t(n / 3)] = std::numeric_limits<float>::quiet_NaN();
      if (trial % 13 == 6) knots[size_t(n - 1)] = std::numeric_limits<float>::infinity();
      const int bins = 1 + (trial * 7) % 100;
      const float t0 = static_cast<float>(trial % 21 - 10);
      Floats out(static_cast<size_t>(bins));
      resampleKnotDensity(knots.data(), n, out.data(), bins, 1.0f, t0, 1.0f);
      KnotIntegrator walk;
      walk.init(knots.data(), n);
      float t = t0;
      float f0 = walk.integral(t);
      for (int i = 0; i < bins; ++i) {
        t += 1.0f;
        const float f1 = walk.integral(t);
        const float want = (f1 - f0) * 1.0f;
        ASSERT_TRUE(sameBits(&out[size_t(i)], &want, 1)) << "width " << width << " trial " << trial << " bin " << i;
        f0 = f1;
      }
    }
  });
}

}  // namespace

namespace {

// The gain, squared or not, is the plain product at every width and count: whole groups, the
// partial group after them, and values down to the smallest and up to overflowing squares.
TEST(VoiceFrameKernels, ScaleBandsIsTheProductThenTheSquare) {
  atEveryWidth([](int32_t width) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> exponent(-45.0f, 25.0f);
    for (int count : {0, 1, 3, 4, 7, 8, 15, 16, 17, 33, 80}) {
      for (bool square : {false, true}) {
        Floats values(size_t(count) + 1);
        for (float& v : values) v = std::pow(10.0f, exponent(rng)) * (rng() % 3 == 0 ? -1.0f : 1.0f);
        const float gain = std::pow(10.0f, exponent(rng) * 0.3f);
        Floats want = values;
        for (int i = 0; i < count; ++i) {
          want[size_t(i)] *= gain;
          if (square) want[size_t(i)] *= want[size_t(i)];
        }
        voiceFrameKernels().scaleBands(values.data(), count, gain, square);
        EXPECT_TRUE(sameBits(values.data(), want.data(), count + 1))
            << "width " << width << " count " << count << " square " << square;
      }
    }
  });
}

}  // namespace
