#include <gtest/gtest.h>

#include <cmath>

#include "effects/CompGlue.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

constexpr double kLog2PerDb = 0.16609640474436813;  // 1 / (20 log10 2)

double softClipRef(double y) {
  const double a = std::fabs(y);
  return y * (1 + a + a * a) / (1 + a + a * a + a * a * a);
}

// The settled gain for a steady peak level x: 3:1 above the threshold, plus makeup.
double staticGain(double x, double gainDb) {
  const double makeup = gainDb * kLog2PerDb;
  const double threshold = (-10.0 - 1.333 * gainDb) * kLog2PerDb;
  return std::exp2(std::min(threshold - std::log2(std::max(std::fabs(x), 0.0001)), 0.0) * (2.0 / 3.0) + makeup);
}

TEST(CompGlue, SettlesOnTheStaticCurve) {
  for (float gainDb : {0.0f, 6.0f, 24.0f, 48.0f}) {
    for (double x : {0.0003, 0.01, 0.1, 0.3, 0.7, 1.0, 2.5}) {
      Rig rig = Rig::of<CompGlue>(48000.0f);
      rig.set(gainDb, 100.0f);
      Stereo in(96000, static_cast<float>(x));
      in.r.assign(in.size(), static_cast<float>(-0.5 * x));  // the louder channel drives both
      const Stereo out = rig.run(in);
      const double gain = staticGain(x, gainDb);
      const double left = softClipRef(gain * x), right = softClipRef(gain * -0.5 * x);
      EXPECT_NEAR(out.l.back(), left, 3e-4 * std::fabs(left)) << gainDb << " dB, x " << x;
      EXPECT_NEAR(out.r.back(), right, 3e-4 * std::fabs(right)) << gainDb << " dB, x " << x;
    }
  }
}

TEST(CompGlue, ThreeToOneAboveTheThreshold) {
  // Before the clipper, 12 dB more input gives 4 dB more output.
  Rig a = Rig::of<CompGlue>(44100.0f), b = Rig::of<CompGlue>(44100.0f);
  a.set(0.0f, 100.0f);
  b.set(0.0f, 100.0f);
  const float lo = 0.5f, hi = lo * 3.98107f;  // both above the -10 dB threshold
  a.run(Stereo(88200, lo));
  b.run(Stereo(88200, hi));
  const double gA = std::exp2(static_cast<double>(static_cast<CompGlue*>(a.fx.get())->gainLevel));
  const double gB = std::exp2(static_cast<double>(static_cast<CompGlue*>(b.fx.get())->gainLevel));
  EXPECT_NEAR(20.0 * std::log10(gB * hi / (gA * lo)), 4.0, 0.01);
}

TEST(CompGlue, SilenceSettlesAtTheMakeup) {
  Rig rig = Rig::of<CompGlue>(48000.0f);  // "Gain" 6 by default
  const Stereo out = rig.run(Stereo(48000));
  EXPECT_EQ(fxtest::peakOf(out), 0.0f);
  const auto& glue = static_cast<CompGlue&>(*rig.fx);
  // A slow single-precision one-pole stops a little short, where its step drops below the
  // level's last digit.
  EXPECT_NEAR(glue.gainLevel, 6.0 * kLog2PerDb, 2e-4);
  EXPECT_NEAR(std::exp2(glue.gainLevel), 1.9953, 1e-3);
}

// Samples until the gain level has covered 63 % of a jump.
int timeToSettle(Rig& rig, float from, float to, float rate) {
  rig.run(Stereo(static_cast<size_t>(rate * 3), from));
  const auto& glue = static_cast<CompGlue&>(*rig.fx);
  const float start = glue.gainLevel;
  Stereo in(static_cast<size_t>(rate * 3), to);
  Stereo probe(1, to);
  float target = 0.0f;
  {
    Rig settled = Rig::of<CompGlue>(rate);
    settled.set(rig.params[0].value, rig.params[1].value);
    settled.run(in);
    target = static_cast<CompGlue&>(*settled.fx).gainLevel;
  }
  const float mark = start + 0.6321f * (target - start);
  for (int n = 1; n < static_cast<int>(rate * 3); ++n) {
    rig.run(probe, 1);
    if ((target < start) ? glue.gainLevel <= mark : glue.gainLevel >= mark) return n;
  }
  return -1;
}

TEST(CompGlue, AttackAndReleaseFollowTheSampleRate) {
  for (float speed : {0.0f, 50.0f, 100.0f}) {
    const double u = std::pow(1.0 - 0.98 * speed / 100.0, 2.0);
    const double attackSeconds = 0.0005 + 0.02 * u, releaseSeconds = 0.0005 + 0.2 * u;
    for (float rate : {22050.0f, 192000.0f}) {
      Rig rig = Rig::of<CompGlue>(rate);
      rig.set(0.0f, speed);
      const int attack = timeToSettle(rig, 0.01f, 1.0f, rate);
      const int release = timeToSettle(rig, 1.0f, 0.01f, rate);
      EXPECT_NEAR(attack / rate, attackSeconds, 0.05 * attackSeconds + 1.5 / rate) << rate << " " << speed;
      EXPECT_NEAR(release / rate, releaseSeconds, 0.05 * releaseSeconds + 1.5 / rate) << rate << " " << speed;
    }
  }
}

TEST(CompGlue, NewSampleRateRetimesARunningInstance) {
  Rig rig = Rig::of<CompGlue>(22050.0f);
  rig.run(fxtest::noise(22050, 0.5f));
  rig.fx->setSampleRate(192000.0f);
  rig.fx->setSampleRate(192000.0f);
  const int attack = timeToSettle(rig, 0.01f, 1.0f, 192000.0f);
  const double expected = (0.0005 + 0.02 * std::pow(1.0 - 0.49, 2.0)) * 192000.0;
  EXPECT_NEAR(attack, expected, 0.05 * expected);
}

}  // namespace
