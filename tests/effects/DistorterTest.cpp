#include <gtest/gtest.h>

#include <cmath>

#include "effects/Distorter.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

double softClipRef(double y) {
  const double a = std::fabs(y);
  return y * (1 + a + a * a) / (1 + a + a * a + a * a * a);
}

// The settled transfer curve: the smoothed gain reaches 1 / (slope |x| + 1 / G), the slope
// depending on the half-wave and the bias.
double transfer(double x, double gainDb, double biasPercent) {
  const double g = std::pow(10.0, gainDb / 20.0), b = biasPercent / 100.0;
  const double h = 0.5 * g / (0.25 * g + 1.0) + 0.5;
  const double soft = (1.0 - 0.6 * std::fabs(b)) * h, hard = h / (1.05 - std::fabs(b));
  const double slope = (x > 0) == (b >= 0) ? hard : soft;
  return softClipRef(x / (slope * std::fabs(x) + 1.0 / g));
}

TEST(Distorter, SettlesOnTheTransferCurve) {
  for (float gainDb : {0.0f, 12.0f, 48.0f}) {
    for (float bias : {-100.0f, -60.0f, 0.0f, 20.0f, 100.0f}) {
      for (double x : {0.001, 0.05, 0.3, 1.0, 5.0, -0.001, -0.05, -0.3, -1.0, -5.0}) {
        Rig rig = Rig::of<Distorter>(48000.0f);
        rig.set(gainDb, bias);
        const Stereo out = rig.run(Stereo(256, static_cast<float>(x)));
        const double expected = transfer(x, gainDb, bias);
        EXPECT_NEAR(out.l.back(), expected, 1e-4 * std::fabs(expected) + 1e-7)
            << gainDb << " dB, bias " << bias << ", x " << x;
        EXPECT_NEAR(out.l.back(), out.r.back(), 1e-6);
      }
    }
  }
}

TEST(Distorter, UnityGainForSmallSignalsAtZeroGainAndBias) {
  Rig rig = Rig::of<Distorter>(48000.0f);
  rig.set(0.0f, 0.0f);
  const Stereo in = fxtest::sine(4800, 440.0, 48000.0, 0.001f);
  const Stereo out = rig.run(in);
  for (size_t i = 100; i < in.size(); ++i) EXPECT_NEAR(out.l[i], in.l[i], 2e-6) << i;
}

// A negative bias mirrors the curve: the half-waves swap their slopes.
TEST(Distorter, BiasSignSwapsTheHalfWaves) {
  for (double x : {0.1, 0.6, 2.0}) {
    Rig pos = Rig::of<Distorter>(44100.0f), neg = Rig::of<Distorter>(44100.0f);
    pos.set(24.0f, 60.0f);
    neg.set(24.0f, -60.0f);
    const float a = pos.run(Stereo(128, static_cast<float>(x))).l.back();
    const float b = neg.run(Stereo(128, static_cast<float>(-x))).l.back();
    EXPECT_FLOAT_EQ(a, -b) << x;
  }
}

TEST(Distorter, OutputStaysWithinFullScale) {
  for (float gainDb : {0.0f, 48.0f}) {
    for (float bias : {-100.0f, 100.0f}) {
      Rig rig = Rig::of<Distorter>(44100.0f);
      rig.set(gainDb, bias);
      const Stereo out = rig.run(fxtest::noise(44100, 100.0f, 4));
      EXPECT_LE(fxtest::peakOf(out), 1.000001f);
    }
  }
}

// The right channel's smoothed gain starts at 0, the left's at 1: only the first samples
// differ.
TEST(Distorter, ChannelsStartFromDifferentGains) {
  Rig rig = Rig::of<Distorter>(48000.0f);
  const Stereo out = rig.run(Stereo(64, 0.5f));
  EXPECT_NE(out.l[0], out.r[0]);
  EXPECT_NEAR(out.l[63], out.r[63], 1e-6f);
}

}  // namespace
