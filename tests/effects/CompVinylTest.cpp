#include <gtest/gtest.h>

#include <cmath>

#include "effects/CompVinyl.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

constexpr double kLog2PerDb = 0.16609640474436813;

// Settled output for a steady level x (the held peak equals the level).
double staticOutput(double x, double ratio) {
  const double k = 1.0 - 1.0 / ratio;
  const double threshold = (std::min(-10.0 * k, 0.0) - 12.0) * kLog2PerDb;
  const double offset = std::max(1.0 - ratio, 0.0);
  const double level = std::log2(std::max(std::fabs(x), 0.0001));
  const double target = std::max(threshold - offset - level, 0.0) * k + offset;
  return std::exp2(std::min(target, -level)) * x;
}

TEST(CompVinyl, RatioOneIsTheIdentity) {
  Rig rig = Rig::of<CompVinyl>(44100.0f);
  rig.set(1.0f, 50.0f);
  const Stereo in = fxtest::noise(44100, 1.0f, 5);
  const Stereo out = rig.run(in);
  EXPECT_EQ(out.l, in.l);
  EXPECT_EQ(out.r, in.r);
}

TEST(CompVinyl, SettlesOnTheStaticCurve) {
  for (float ratio : {0.1f, 0.5f, 2.0f, 4.0f, 10.0f}) {
    for (double x : {0.0002, 0.003, 0.05, 0.2, 0.6, 1.0, 3.0}) {
      Rig rig = Rig::of<CompVinyl>(48000.0f);
      rig.set(ratio, 100.0f);  // fast enough to settle to the last digits
      const Stereo out = rig.run(Stereo(2 * 48000, static_cast<float>(x)));
      const double expected = staticOutput(x, ratio);
      EXPECT_NEAR(out.l.back(), expected, 2e-3 * std::fabs(expected)) << "ratio " << ratio << ", x " << x;
      // Never above full scale for a steady level.
      EXPECT_LE(std::fabs(out.l.back()), 1.0002);
    }
  }
}

// Reset and a new rate clear the gain; reset also forgets the held peak, so the effect
// answers exactly like a new one.
TEST(CompVinyl, ResetReturnsToTheFreshResponse) {
  const Stereo probe = fxtest::sine(9600, 200.0, 48000.0, 0.02f);
  Rig fresh = Rig::of<CompVinyl>(48000.0f);
  const Stereo expected = fresh.run(probe);

  Rig used = Rig::of<CompVinyl>(48000.0f);
  used.run(fxtest::noise(48000, 0.01f));
  auto& fx = static_cast<CompVinyl&>(*used.fx);
  EXPECT_GT(fx.gainLevel, 1.0f);  // quiet input was raised
  used.fx->reset();
  EXPECT_EQ(fx.gainLevel, 0.0f);
  EXPECT_EQ(fx.heldPeak, 0.0f);
  const Stereo out = used.run(probe);
  EXPECT_EQ(out.l, expected.l);
  EXPECT_EQ(out.r, expected.r);

  used.run(fxtest::noise(4800, 0.01f));
  used.fx->setSampleRate(96000.0f);
  EXPECT_EQ(fx.gainLevel, 0.0f);
  EXPECT_EQ(fx.sampleRate, 96000.0f);
}

}  // namespace
