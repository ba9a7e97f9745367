#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "engine/dsp/BandScale.h"
#include "engine/voice/BandLayout.h"

namespace {

TEST(BandLayout, CountsAtTheCommonRates) {
  struct Row {
    float rate;
    int low, top, firstHigh, highCount, count;
  };
  const Row rows[] = {
      {44100.0f, 50, 122, 22, 100, 150}, {48000.0f, 52, 112, 23, 89, 141}, {96000.0f, 64, 56, 23, 33, 97}};
  for (const Row& r : rows) {
    BandLayout layout;
    layout.build(r.rate);
    EXPECT_EQ(layout.lowBandCount, r.low) << r.rate;
    EXPECT_EQ(layout.topBin, r.top) << r.rate;
    EXPECT_EQ(layout.firstHighBin, r.firstHigh) << r.rate;
    EXPECT_EQ(layout.highBinCount, r.highCount) << r.rate;
    EXPECT_EQ(layout.bandCount, r.count) << r.rate;
  }
}

// The widths grow geometrically from 14.02 Hz to the top end and tile the band centres.
TEST(BandLayout, WidthTable) {
  EXPECT_NEAR(kBandWidthHz[0], 14.02f, 1e-4f);
  EXPECT_NEAR(kBandWidthHz[79], 1122.217f, 1e-3f);
  EXPECT_FLOAT_EQ(kSynthesisTopHz, kBandCentreHz[79] + kBandWidthHz[79]);
  for (size_t i = 0; i + 1 < kBandWidthHz.size(); ++i) {
    EXPECT_NEAR(kBandWidthHz[i + 1] / kBandWidthHz[i], kBandWidthHz[1] / kBandWidthHz[0], 1e-5) << i;
    const double spacing = kBandCentreHz[i + 1] - kBandCentreHz[i];
    EXPECT_NEAR((kBandWidthHz[i] + kBandWidthHz[i + 1]) / 2.0 / spacing, 1.0, 5e-4) << i;
  }
}

// Invariants at every supported rate, checked in double against the stated rules.
TEST(BandLayout, TablesAtEveryRate) {
  for (float rate : {22050.0f, 32000.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 176400.0f, 192000.0f}) {
    BandLayout layout;
    layout.build(rate);
    SCOPED_TRACE(rate);
    ASSERT_GE(layout.highBinCount, 0);
    ASSERT_LE(layout.firstHighBin + layout.highBinCount, BandLayout::kMaxBins);
    ASSERT_EQ(static_cast<int>(layout.noiseSpectrum.size()), layout.bandCount);
    const double k64 = 64.0 / rate;
    // The curve of band i passes through the centres of its three neighbouring bands.
    for (int i = 0; i < kBandCount; ++i) {
      const int j = std::clamp(i - 1, 0, 77);
      const auto& c = layout.bandCurve[static_cast<size_t>(i)];
      for (int m = 0; m < 3; ++m) {
        const double x = j - i + m;
        const double want = k64 * kBandCentreHz[static_cast<size_t>(j + m)];
        EXPECT_NEAR(c[0] + c[1] * x + c[2] * x * x, want, 2e-5 * want + 1e-6) << i << " " << m;
      }
    }
    for (int i = 0; i < layout.lowBandCount; ++i)  // each low band's resonator decays
      EXPECT_TRUE(std::abs(layout.lowBandRotation[size_t(i)]) > 0.0f && std::abs(layout.lowBandRotation[size_t(i)]) < 0.5f) << i;
    for (const BandLayout::HighBin& r : layout.highBinMap) {
      EXPECT_GE(r.band, std::max(layout.lowBandCount - 1, 0));
      EXPECT_LE(r.band, 78);
      EXPECT_GE(r.weightLow, 0.0f);
      EXPECT_LE(r.weightLow + r.weightHigh, 1.0f + 1e-6f);
      EXPECT_GT(r.norm, 0.0f);
    }
    double power = 0.0;
    for (const std::complex<float>& z : layout.noiseSpectrum) {
      ASSERT_TRUE(std::isfinite(z.real()) && std::isfinite(z.imag()));
      power += std::norm(z);
    }
    EXPECT_GT(power, 0.0);
  }
}

TEST(BandLayout, PhaseHelpers) {
  for (double p = 0.0; p <= 1.0; p += 1.0 / 64) {
    float c;
    float s;
    approxCosSin(static_cast<float>(p), c, s);
    EXPECT_NEAR(c, std::cos(2.0 * M_PI * p), 0.009) << p;
    EXPECT_NEAR(s, std::sin(2.0 * M_PI * p), 0.009) << p;
  }
  const struct {
    float x, want;
  } wraps[] = {{2.25f, 0.25f}, {-0.25f, 0.75f}, {-3.0f, 0.0f}, {NAN, 0.0f}, {INFINITY, 0.0f}, {1e9f, 0.0f}};
  for (const auto& w : wraps) EXPECT_FLOAT_EQ(wrapPhase(w.x), w.want) << w.x;
}

}  // namespace
