#include <gtest/gtest.h>

#include <cmath>

#include "effects/CompLimiter.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

double decayRef(double x) { return 1.0 / (1.0 + x + 0.5 * x * x + 0.17 * std::pow(x, 4)); }
const double kLn10Over20 = std::log(10.0) / 20.0;
const double kCeiling = decayRef(0.2 * kLn10Over20);
const double kRange = decayRef(5.0 * kLn10Over20);

TEST(CompLimiter, Constants) {
  EXPECT_NEAR(kCeiling, 0.9772, 1e-4);
  EXPECT_NEAR(kRange, 0.5682, 1e-4);
}

TEST(CompLimiter, QuietInputPassesUnchanged) {
  Rig rig = Rig::of<CompLimiter>(44100.0f);
  const Stereo in = fxtest::noise(44100, 0.01f, 9);
  const Stereo out = rig.run(in);
  EXPECT_EQ(out.l, in.l);
  EXPECT_EQ(out.r, in.r);
}

// A steady level settles at the follower's gain min(t R, 1), with t = C / (peak + 0.001):
// full scale comes out at C R / 1.001.
TEST(CompLimiter, SettlesOnTheStaticCurve) {
  for (float gainDb : {0.0f, 12.0f, 48.0f}) {
    for (double x : {0.001, 0.05, 0.2, 0.5, 1.0, 4.0}) {
      Rig rig = Rig::of<CompLimiter>(48000.0f);
      rig.set(gainDb, 100.0f);
      const Stereo out = rig.run(Stereo(2 * 48000, static_cast<float>(x)));
      const double driven = std::pow(10.0, gainDb / 20.0) * x;
      const double t = kCeiling / (driven + 0.001);
      const double expected = std::min(t * kRange, 1.0) * driven;
      EXPECT_NEAR(out.l.back(), expected, 2e-4 * expected) << gainDb << " dB, x " << x;
    }
  }
  Rig rig = Rig::of<CompLimiter>(48000.0f);
  const Stereo out = rig.run(Stereo(48000, 1.0f));
  EXPECT_NEAR(out.l.back(), 0.5547, 1e-4);
}

// No look-ahead, yet the instantaneous ceiling holds every sample below C.
TEST(CompLimiter, NeverExceedsTheCeiling) {
  for (float gainDb : {0.0f, 24.0f, 48.0f}) {
    for (float speed : {0.0f, 100.0f}) {
      Rig rig = Rig::of<CompLimiter>(44100.0f);
      rig.set(gainDb, speed);
      Stereo in = fxtest::noise(2 * 44100, 1.0f, 21);
      for (size_t i = 0; i < in.size(); ++i) {
        const float burst = ((i / 3000) % 3 == 0) ? 4.0f : 0.02f;
        in.l[i] *= burst;
        in.r[i] *= burst;
      }
      const Stereo out = rig.run(in);
      EXPECT_LT(fxtest::peakOf(out), kCeiling) << gainDb << " dB, speed " << speed;
    }
  }
}

}  // namespace
