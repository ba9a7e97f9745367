#include <gtest/gtest.h>

#include <cmath>

#include "effects/ParaCompress.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

constexpr double kLog2PerDb = 0.16609640474436813;

double softClipRef(double y) {
  const double a = std::fabs(y);
  return y * (1 + a + a * a) / (1 + a + a * a + a * a * a);
}

// Settled output for a steady level x: the gain around -15 dB, never lifting the peak past
// full scale, then the clipper.
double staticOutput(double x, double ratio) {
  const double level = std::log2(std::max(std::fabs(x), 0.0001));
  const double target = (-15.0 * kLog2PerDb - level) * (1.0 - 1.0 / ratio);
  return softClipRef(std::exp2(std::min(-level, target)) * x);
}

TEST(ParaCompress, SettlesOnTheStaticCurve) {
  for (float ratio : {0.1f, 1.0f, 3.0f, 10.0f}) {
    for (double x : {0.0005, 0.01, 0.1, 0.178, 0.5, 1.0, 2.0}) {
      Rig rig = Rig::of<ParaCompress>(48000.0f);
      rig.set(ratio, 100.0f);  // fast enough to settle to the last digits
      const Stereo out = rig.run(Stereo(4 * 48000, static_cast<float>(x)));
      const double expected = staticOutput(x, ratio);
      EXPECT_NEAR(out.l.back(), expected, 2e-3 * std::fabs(expected)) << "ratio " << ratio << ", x " << x;
    }
  }
}

TEST(ParaCompress, NeverLiftsThePeakPastFullScale) {
  Rig rig = Rig::of<ParaCompress>(48000.0f);
  rig.set(0.1f, 100.0f);  // the most boost there is
  const Stereo out = rig.run(fxtest::sine(48000, 100.0, 48000.0, 0.5f));
  // Before the clipper the peak is at most 1, so after it at most S(1) = 0.75.
  EXPECT_LE(fxtest::peakOf(out), 0.75f * 1.0002f);
  EXPECT_GT(fxtest::peakOf(out, 24000), 0.7f);
}

}  // namespace
