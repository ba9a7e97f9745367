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

// The band rates and column positions in lanes against the walk over the columns and the
// arithmetic one band at a time: rising and crossing columns, whole and fractional shifts.
TEST(VoiceFrameKernels, BandAmplitudesAreTheBandByBandWalk) {
  constexpr float kBaseline = 0.25220588f;
  atEveryWidth([](int32_t width) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 36; ++trial) {
      Floats columns(53, 0.0f);
      for (int j = 1; j < 49; ++j) columns[size_t(j)] = columns[size_t(j - 1)] + 3.0f * unit(rng);
      for (int j = 0; j < 49; ++j) columns[size_t(j)] *= 80.0f / columns[48];
      if (trial % 4 == 1) columns[20] = columns[30];  // crossing columns
      if (trial % 9 == 4) columns[12] = std::numeric_limits<float>::quiet_NaN();
      columns[49] = 80.000999f;
      const Floats rates = {0.0f, 1.5f, 3.0f, 0.2f, 7.0f, 2.5f, 1.0f};
      const float s = std::array<float, 6>{0.0f, 3.0f, -7.0f, 0.25f, 12.5f, -64.0f}[size_t(trial % 6)];
      const int32_t first = truncClamped(s, 0, 80);
      const int32_t end = 80 - truncClamped(-s, 0, 80);
      Floats density(80), out(80, -1.0f), scratch(80, -1.0f);
      for (float& d : density) d = 2.0f * unit(rng);
      voiceFrameKernels().bandAmplitudes(columns.data(), rates.data(), s, first, end, density.data(), out.data(),
                                         scratch.data());
      int32_t j = 0;
      for (int32_t band = first; band < end; ++band) {
        const float p = static_cast<float>(band) - s;
        while (j < 48 && p > columns[size_t(j) + 1]) ++j;
        const float lo = columns[size_t(j)];
        const float gap = columns[size_t(j) + 1] - lo;
        const float q = 0.0f < gap ? (p - lo) / gap + static_cast<float>(j) : static_cast<float>(j);
        float kappa = q * 0.125f;
        kappa = 0.0f <= kappa ? kappa : 0.0f;
        kappa = 6.0f < kappa ? 6.0f : kappa;
        const float k = std::min(static_cast<float>(static_cast<int32_t>(kappa)), 5.0f);
        const float w = kappa - k;
        const float d = std::max(density[size_t(band)] - kBaseline, 0.0f);
        const float want = d * ((1.0f - w) * rates[size_t(k)] + w * rates[size_t(k) + 1]);
        ASSERT_TRUE(sameBits(&out[size_t(band)], &want, 1))
            << "width " << width << " trial " << trial << " band " << band;
        ASSERT_TRUE(sameBits(&scratch[size_t(band)], &d, 1));
      }
    }
  });
}

TEST(VoiceFrameKernels, ColumnFrequenciesAreTheColumnByColumnMix) {
  atEveryWidth([](int32_t width) {
    std::vector<Floats> a(6, Floats(49)), b(6, Floats(49));
    const float* rowsA[6];
    const float* rowsB[6];
    for (int r = 0; r < 6; ++r) {
      for (int j = 0; j < 49; ++j) {
        a[size_t(r)][size_t(j)] = static_cast<float>(r * 13 + j) * 0.37f;
        b[size_t(r)][size_t(j)] = static_cast<float>(r * 11 - j) * 0.29f;
      }
      rowsA[r] = a[size_t(r)].data();
      rowsB[r] = b[size_t(r)].data();
    }
    // Below the first row, between rows, past the last pair, NaN.
    const float reached[7] = {-0.5f, 0.3f, 1.75f, 2.5f, 4.0f, 4.999f, std::numeric_limits<float>::quiet_NaN()};
    Floats columns(53, -1.0f);
    voiceFrameKernels().columnFrequencies(rowsA, rowsB, reached, 0.3f, columns.data());
    for (int j = 0; j < 48; ++j) {
      const int m = j / 8;
      const float u = static_cast<float>(j % 8) / 8.0f;
      const float rho = (1.0f - u) * reached[m] + u * reached[m + 1];
      const int32_t i = truncClamped(rho, 0, 4);
      const float g = rho - static_cast<float>(i);
      const float f0 = (1.0f - 0.3f) * rowsA[i][j] + 0.3f * rowsB[i][j];
      const float f1 = (1.0f - 0.3f) * rowsA[i + 1][j] + 0.3f * rowsB[i + 1][j];
      const float want = (1.0f - g) * f0 + g * f1;
      ASSERT_TRUE(sameBits(&columns[size_t(j)], &want, 1)) << "width " << width << " column " << j;
    }
  });
}

}  // namespace
