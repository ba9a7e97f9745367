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
