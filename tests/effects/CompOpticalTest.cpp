#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "effects/CompOptical.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

struct Levels {
  double hi, lo, q;
};

Levels levels(double gainDb) {
  const double hi = std::pow(10.0, gainDb / 20.0), lo = std::pow(10.0, -gainDb / 80.0);
  return {hi, lo, lo / hi};
}

// The detector sees the positive half-wave at full weight and the negative at 0.8.
double settledGain(double x, double gainDb) {
  const Levels v = levels(gainDb);
  const double detector = (x >= 0 ? x : -0.8 * x) + 0.0001;
  return v.lo / (detector + v.q);
}

TEST(CompOptical, SettlesOnTheStaticCurve) {
  for (float gainDb : {0.0f, 12.0f, 30.0f}) {
    for (double x : {0.001, 0.05, 0.5, 1.0, -0.05, -0.5, -1.0}) {
      Rig rig = Rig::of<CompOptical>(44100.0f);
      rig.set(gainDb, 100.0f);  // fast enough to settle to the last digits
      const Stereo out = rig.run(Stereo(4 * 44100, static_cast<float>(x)));
      const double expected = settledGain(x, gainDb) * x;
      EXPECT_NEAR(out.l.back(), expected, 2e-4 * std::fabs(expected)) << gainDb << " dB, x " << x;
      EXPECT_EQ(out.l.back(), out.r.back());
    }
  }
}

// Silence leaves the detector at its floor, a little below the full "Gain".
TEST(CompOptical, SilentGainIsNearlyTheFullGain) {
  Rig rig = Rig::of<CompOptical>(48000.0f);
  rig.set(48.0f, 100.0f);
  rig.run(Stereo(5 * 48000));
  const auto& fx = static_cast<CompOptical&>(*rig.fx);
  const Levels v = levels(48.0);
  const double expected = v.lo / (0.0001 + v.q);
  EXPECT_NEAR(fx.gain, expected, 2e-4 * expected);
  EXPECT_NEAR(fx.gain / v.hi, 0.91, 0.01);
}

// The gain computer written out in double precision, stepping the whole error at most.
struct OpticalModel {
  double det = 1.0, g = 1.0;
  void run(const Stereo& in, double gainDb, double speed, double rate, std::vector<double>& outL) {
    const double s = speed / 100.0;
    const double r = 1.0 / ((400.0 - 395.0 * s) * 0.001 * rate + 1.0);
    const double a = 1.0 / ((8.0 - 6.0 * s) * 0.001 * rate + 1.0);
    const Levels v = levels(gainDb);
    for (size_t i = 0; i < in.size(); ++i) {
      auto rect = [](double x) { return x >= 0 ? x : -0.8 * x; };
      const double d = std::max(rect(in.l[i]), rect(in.r[i])) + 0.0001;
      det += (d > det ? 0.11 : 0.01) * (d - det);
      const double delta = v.lo / (det + v.q) - g;
      g += std::min((std::fabs(delta) + 0.1) * (delta < 0 ? a : r), 1.0) * delta;
      outL.push_back(g * in.l[i]);
    }
  }
};

Stereo drumHits(size_t n, double rate, float level) {
  Stereo s(n);
  fxtest::Noise noise(11);
  const size_t period = static_cast<size_t>(0.25 * rate);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i % period) / rate;
    const float env = static_cast<float>(std::exp(-t * 30.0));
    s.l[i] = level * env * static_cast<float>(std::sin(2 * 3.14159265 * 60.0 * t)) + 0.05f * env * noise.next();
    s.r[i] = 0.9f * s.l[i];
  }
  return s;
}

TEST(CompOptical, FollowsTheGainComputerOnDrums) {
  for (float speed : {0.0f, 50.0f, 100.0f}) {
    Rig rig = Rig::of<CompOptical>(48000.0f);
    rig.set(12.0f, speed);
    const Stereo in = drumHits(48000, 48000.0, 0.8f);
    const Stereo out = rig.run(in);
    OpticalModel model;
    std::vector<double> expected;
    model.run(in, 12.0, speed, 48000.0, expected);
    for (size_t i = 0; i < in.size(); ++i)
      ASSERT_NEAR(out.l[i], expected[i], 5e-4 * std::fabs(expected[i]) + 1e-6) << i << " speed " << speed;
  }
}

// With a high "Gain" and a fast "Speed", the first loud hit after silence asks for a step
// larger than the whole error; taken as it stands, the gain overshoots, turns negative or
// runs away to infinity (at 22050 Hz). The step is held at the error.
TEST(CompOptical, LoudHitAfterSilenceNeverOvershoots) {
  for (float rate : {22050.0f, 44100.0f, 48000.0f, 192000.0f}) {
    for (float gainDb : {36.0f, 42.0f, 48.0f}) {
      for (float speed : {90.0f, 100.0f}) {
        Rig rig = Rig::of<CompOptical>(rate);
        rig.set(gainDb, speed);
        const double hi = levels(gainDb).hi;
        Stereo in(static_cast<size_t>(rate * 1.5));
        for (size_t i = static_cast<size_t>(rate); i < in.size(); ++i)
          in.l[i] = in.r[i] = ((i / 50) % 2) ? 1.0f : -1.0f;  // full-scale square after 1 s
        const auto& fx = static_cast<CompOptical&>(*rig.fx);
        float lowest = 1e9f, highest = -1e9f;
        for (size_t pos = 0; pos < in.size(); pos += 64) {
          Stereo block(64);
          std::copy_n(in.l.begin() + pos, std::min<size_t>(64, in.size() - pos), block.l.begin());
          std::copy_n(in.r.begin() + pos, std::min<size_t>(64, in.size() - pos), block.r.begin());
          const Stereo out = rig.run(block);
          ASSERT_TRUE(fxtest::allFinite(out));
          ASSERT_LE(fxtest::peakOf(out), hi * 1.001);
          lowest = std::min(lowest, fx.gain);
          highest = std::max(highest, fx.gain);
        }
        EXPECT_GT(lowest, 0.0f) << rate << " Hz, " << gainDb << " dB, speed " << speed;
        EXPECT_LE(highest, hi * 1.001) << rate << " Hz, " << gainDb << " dB, speed " << speed;
      }
    }
  }
}

TEST(CompOptical, StateSurvivesReset) {
  Rig rig = Rig::of<CompOptical>(48000.0f);
  rig.run(Stereo(4800, 0.5f));
  const auto& fx = static_cast<CompOptical&>(*rig.fx);
  const float det = fx.detector, g = fx.gain;
  rig.fx->reset();
  EXPECT_EQ(fx.detector, det);
  EXPECT_EQ(fx.gain, g);
}

}  // namespace
