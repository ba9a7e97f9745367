#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/core/FloatGrid.h"
#include "engine/dsp/ContrastCurve.h"
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

// The band amplitudes as a walk computes them, one band at a time: the walk moves on while the
// band lies above the next column, so columns that dip (as pitch offsets make them) or a NaN
// column stop it where they stand.
Floats walkedBandAmplitudes(const Floats& columns, const Floats& rates, float s, int first, int end,
                            const Floats& density) {
  Floats out(80, -1.0f);
  int j = 0;
  for (int band = first; band < end; ++band) {
    const float p = static_cast<float>(band) - s;
    while (j < voiceframe::kMixedColumns && p > columns[size_t(j + 1)]) ++j;
    const float lo = columns[size_t(j)];
    const float gap = columns[size_t(j + 1)] - lo;
    const float q = 0.0f < gap ? (p - lo) / gap + static_cast<float>(j) : static_cast<float>(j);
    float kappa = q * 0.125f;
    kappa = 0.0f <= kappa ? kappa : 0.0f;
    kappa = 6.0f < kappa ? 6.0f : kappa;
    float k = static_cast<float>(static_cast<int>(kappa));
    k = 5.0f < k ? 5.0f : k;
    const float w = kappa - k;
    const float excess = density[size_t(band)] - voiceframe::kDensityBaseline;
    const float d = 0.0f > excess ? 0.0f : excess;
    out[size_t(band)] = d * ((1.0f - w) * rates[size_t(k)] + w * rates[size_t(k) + 1]);
  }
  return out;
}

// On whole shifts the bands find their columns without walking; that must be the walk's
// column however the columns run: rising, dipping here and there (pitch offsets), falling,
// with a NaN, and with columns beyond every band.
TEST(VoiceFrameKernels, BandAmplitudesOnWholeShiftsAreTheWalk) {
  atEveryWidth([](int32_t width) {
    std::mt19937 rng(29);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 48; ++trial) {
      Floats columns(51, 0.0f);
      for (int j = 1; j < 49; ++j) {
        const float rise = static_cast<float>(j) * 80.0f / 48.0f;
        switch (trial % 4) {
          case 0: columns[size_t(j)] = rise; break;
          case 1: columns[size_t(j)] = rise + 6.0f * (unit(rng) - 0.5f); break;  // dips
          case 2: columns[size_t(j)] = 80.0f - rise + 3.0f * unit(rng); break;   // falls
          default: columns[size_t(j)] = rise * (0.5f + 2.0f * unit(rng)); break;  // far beyond
        }
      }
      if (trial % 6 == 5) columns[size_t(10 + trial % 30)] = std::numeric_limits<float>::quiet_NaN();
      columns[49] = 80.000999f;
      Floats rates(7);
      for (float& r : rates) r = 20.0f * unit(rng);
      Floats density(80);
      for (float& d : density) d = 0.6f * unit(rng);
      const float s = std::floor(-6.0f + 12.0f * unit(rng));
      const int first = std::max(0, std::min(80, static_cast<int>(s)));
      const int end = 80 - std::max(0, std::min(80, static_cast<int>(-s)));
      const Floats want = walkedBandAmplitudes(columns, rates, s, first, end, density);
      Floats out(80, -1.0f);
      voiceFrameKernels().bandAmplitudes(columns.data(), rates.data(), s, first, end, density.data(), out.data(),
                                         nullptr);
      for (int band = first; band < end; ++band) {
        EXPECT_TRUE(sameBits(&out[size_t(band)], &want[size_t(band)], 1))
            << "width " << width << " trial " << trial << " band " << band << ": " << out[size_t(band)] << " for "
            << want[size_t(band)];
      }
    }
  });
}

// Per-band weights, squared or not, are the plain products at every width and count.
TEST(VoiceFrameKernels, WeighBandsIsTheProductThenTheSquare) {
  atEveryWidth([](int32_t width) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> exponent(-40.0f, 20.0f);
    for (int count : {0, 1, 3, 4, 7, 8, 15, 16, 17, 33, 80}) {
      for (bool square : {false, true}) {
        Floats values(size_t(count) + 1);
        Floats weights(size_t(count) + 1);
        for (float& v : values) v = std::pow(10.0f, exponent(rng));
        for (float& w : weights) w = std::pow(10.0f, exponent(rng) * 0.2f);
        Floats want = values;
        for (int i = 0; i < count; ++i) {
          want[size_t(i)] *= weights[size_t(i)];
          if (square) want[size_t(i)] *= want[size_t(i)];
        }
        voiceFrameKernels().weighBands(values.data(), weights.data(), count, square);
        EXPECT_TRUE(sameBits(values.data(), want.data(), count + 1))
            << "width " << width << " count " << count << " square " << square;
      }
    }
  });
}

// The band kernel of the contrast curve is the curve itself, bit for bit, for either sign of
// the amount, whole and partial lane groups, values around the knee's threshold, tiny and huge
// values, and damaged ones (infinite, NaN, negative).
TEST(VoiceFrameKernels, ContrastBandsIsTheCurve) {
  atEveryWidth([](int32_t width) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> exponent(-38.0f, 6.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float amount : {-1.0f, -0.37f, -1e-6f, 0.0f, 1e-6f, 0.4f, 1.0f, 1.5f}) {
      for (int count : {0, 1, 3, 15, 16, 17, 31, 80}) {
        Floats values(size_t(count) + 1);
        for (size_t i = 0; i < values.size(); ++i) {
          switch (i % 6) {
            case 0: values[i] = 0.1f * std::fabs(amount); break;  // the knee's threshold
            case 1: values[i] = std::pow(10.0f, exponent(rng)); break;
            case 2: values[i] = float(rng() % 1000) * 1e-3f; break;
            default: values[i] = std::pow(10.0f, exponent(rng) * 0.1f); break;
          }
        }
        if (count > 5) {
          values[2] = inf;
          values[3] = nan;
          values[4] = -0.25f;
        }
        Floats want = values;
        applyContrast(want.data(), count, amount);
        voiceFrameKernels().contrastBands(values.data(), count, amount);
        for (int i = 0; i <= count; ++i) {
          const bool bothNaN = std::isnan(values[size_t(i)]) && std::isnan(want[size_t(i)]);
          EXPECT_TRUE(bothNaN || sameBits(&values[size_t(i)], &want[size_t(i)], 1))
              << "width " << width << " amount " << amount << " count " << count << " value " << i << ": "
              << values[size_t(i)] << " for " << want[size_t(i)];
        }
      }
    }
  });
}

// The pitch offsets spread over the columns: each column a quadratic B-spline of the offsets
// around its step (0.124875 steps per column), half of it added, at every width.
TEST(VoiceFrameKernels, SpreadOffsetsIsTheSpline) {
  atEveryWidth([](int32_t width) {
    std::mt19937 rng(19);
    std::uniform_real_distribution<float> spread(-30.0f, 30.0f);
    for (int trial = 0; trial < 20; ++trial) {
      std::array<float, 9> offsets{};
      for (float& o : offsets) o = spread(rng) * (trial % 5 == 0 ? 1e4f : 1.0f);
      Floats columns(53);
      for (size_t j = 0; j < columns.size(); ++j) columns[j] = float(j) * 0.5f + spread(rng) * 0.01f;
      Floats want = columns;
      const float* o = offsets.data() + 1;
      for (int j = 0; j < 49; ++j) {
        const float y = static_cast<float>(j) * 0.124875f;
        const int n = static_cast<int>(y);
        const float w = y - static_cast<float>(n);
        const float w2 = w * w;
        want[size_t(j)] += 0.5f * ((2.0f * (w - w2) + 1.0f) * o[n] + w2 * o[n + 1] + (1.0f - 2.0f * w + w2) * o[n - 1]);
      }
      voiceFrameKernels().spreadOffsets(offsets.data(), columns.data());
      EXPECT_TRUE(sameBits(columns.data(), want.data(), 53)) << "width " << width << " trial " << trial;
    }
  });
}

}  // namespace

namespace {

// Band amplitudes are the same bits at every width, however the columns crowd: spread evenly,
// bunched so that a lane group of bands spans eight or sixteen columns and more, with whole
// and fractional shifts and band ranges cut at either end.
TEST(VoiceFrameKernels, BandAmplitudesAgreeAtEveryWidthHoweverTheColumnsCrowd) {
  constexpr int kColumns = voiceframe::kMixedColumns + 1;
  std::mt19937 rng(23);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 60; ++trial) {
    // Columns rise from 0 to 80; a bunch of `crowd` columns packed into one band somewhere.
    const int crowd = std::array<int, 6>{0, 6, 9, 12, 20, 40}[size_t(trial % 6)];
    const float bunchAt = 1.0f + 70.0f * unit(rng);
    Floats columns(size_t(kColumns) + 3, 0.0f);
    float position = 0.0f;
    for (int j = 1; j < kColumns - 1; ++j) {
      const bool bunched = j >= 5 && j < 5 + crowd;
      position += bunched ? 0.9f / static_cast<float>(crowd + 1) : (80.0f - bunchAt) / 40.0f * unit(rng);
      if (j == 5) position = std::max(position, bunchAt);
      columns[size_t(j)] = std::min(position, 79.9f);
    }
    columns[size_t(kColumns - 1)] = 80.0f;
    columns[size_t(kColumns)] = 80.000999f;
    Floats rates(7);
    for (float& r : rates) r = 20.0f * unit(rng);
    Floats density(80);
    for (float& d : density) d = 0.5f * unit(rng);
    const float s = trial % 3 == 0 ? std::floor(-8.0f + 16.0f * unit(rng)) : -8.0f + 16.0f * unit(rng);
    const int first = trial % 4 == 1 ? 3 : 0;
    const int end = trial % 4 == 2 ? 71 : 80;
    Floats want(80, -1.0f);
    Floats wantScratch(80, -1.0f);
    setLaneWidthLimit(4);
    voiceFrameKernels().bandAmplitudes(columns.data(), rates.data(), s, first, end, density.data(), want.data(),
                                       wantScratch.data());
    atEveryWidth([&](int32_t width) {
      Floats out(80, -1.0f);
      Floats scratch(80, -1.0f);
      voiceFrameKernels().bandAmplitudes(columns.data(), rates.data(), s, first, end, density.data(), out.data(),
                                         scratch.data());
      EXPECT_TRUE(sameBits(out.data(), want.data(), 80)) << "width " << width << " trial " << trial;
      EXPECT_TRUE(sameBits(scratch.data(), wantScratch.data(), 80)) << "width " << width << " trial " << trial;
    });
  }
}

}  // namespace
