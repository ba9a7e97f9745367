#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/CompGlue.h"
#include "effects/CompOptical.h"
#include "effects/CompVinyl.h"
#include "tests/effects/EffectTestKit.h"

// The compressors, the limiter and the saturators: what their settings mean in decibels, the
// shape of their settled curves, and the ceilings they promise.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

// Settled gain of the left channel at a steady level (the right one a little quieter).
double settledGain(const char* name, float p0, float p1, double level, double seconds = 2.0) {
  Rig rig(name, 48000.0f);
  rig.set(p0, p1);
  Stereo in(fxtest::frames(seconds, 48000.0), static_cast<float>(level));
  in.r.assign(in.size(), static_cast<float>(-0.5 * level));
  return rig.run(in).l.back() / level;
}

// "Gain" is decibels: a signal far below every threshold comes out that much louder.
TEST(Dynamics, QuietSignalsGetTheGainInDecibels) {
  for (const char* name : {"Sticky Compressor", "Limiter", "L.A. Optical", "Transformer Amp"})
    for (float db : {0.0f, 12.0f, 24.0f})
      EXPECT_NEAR(settledGain(name, db, 50.0f, 1e-5, 4.0), std::pow(10.0, db / 20.0), 0.02 * std::pow(10.0, db / 20.0))
          << name << " " << db;
}

// Louder in never means quieter out, and the compressors take gain away from loud signals.
TEST(Dynamics, SettledCurvesRiseAndCompress) {
  const struct {
    const char* name;
    float p0, p1;
  } cases[] = {{"Sticky Compressor", 24, 100}, {"Limiter", 24, 100},         {"L.A. Optical", 30, 100},
               {"Compressor", 10, 100},        {"Upward Compressor", 4, 100}, {"Transformer Amp", 24, -60},
               {"Tape Simulator", 100, 0}};
  for (const auto& c : cases) {
    double previous = 0.0;
    for (double level : {0.001, 0.01, 0.05, 0.2, 0.5, 1.0, 2.5}) {
      const double out = settledGain(c.name, c.p0, c.p1, level) * level;
      EXPECT_GE(out, previous * (1 - 1e-4)) << c.name << " at " << level;
      previous = out;
    }
    EXPECT_LT(settledGain(c.name, c.p0, c.p1, 1.0), 0.9 * settledGain(c.name, c.p0, c.p1, 0.001)) << c.name;
  }
}

// Whatever the input does, the output stays under what each effect promises: the limiter its
// ceiling of -0.2 dB (without look-ahead), the upward compressor full scale, the
// parallel compressor what its clipper makes of full scale (3/4), the clippers full scale, the
// tape its saturation.
TEST(Dynamics, OutputStaysUnderItsCeiling) {
  const struct {
    const char* name;
    float p0[2], p1[2], amplitude;
    double ceiling;
  } cases[] = {{"Limiter", {0, 48}, {0, 100}, 1, std::pow(10.0, -0.2 / 20.0) * 1.0001},
               {"Upward Compressor", {0.1f, 10}, {0, 100}, 1, 1.0002},
               {"Compressor", {0.1f, 0.1f}, {0, 100}, 1, 0.75 * 1.0002},
               {"Transformer Amp", {0, 48}, {-100, 100}, 100, 1.000001},
               {"Tape Simulator", {100, 100}, {0, 100}, 10, 4}};
  for (const auto& c : cases) {
    Stereo bursts = fxtest::noise(2 * 44100, c.amplitude, 21);
    for (size_t i = 0; i < bursts.size(); ++i) {
      bursts.l[i] *= (i / 3000) % 3 ? 0.02f : 4.0f;
      bursts.r[i] *= (i / 3000) % 3 ? 0.02f : 4.0f;
    }
    for (float p0 : c.p0) {
      for (float p1 : c.p1) {
        Rig rig(c.name, 44100.0f);
        rig.set(p0, p1);
        EXPECT_LT(fxtest::peakOf(rig.run(bursts)), c.ceiling) << c.name << " " << p0 << ", " << p1;
      }
    }
  }
}

// Settings at which an effect passes its input untouched.
TEST(Dynamics, TransparentSettings) {
  for (const auto& [name, p0, amplitude] : {std::tuple{"Upward Compressor", 1.0f, 1.0f}, {"Limiter", 0.0f, 0.01f}}) {
    Rig rig(name, 44100.0f);
    rig.set(p0, 50.0f);
    const Stereo in = fxtest::noise(44100, amplitude, 5);
    EXPECT_TRUE(fxtest::same(rig.run(in), in)) << name;
  }
}

// A new rate clears the upward compressor's gain, as a reset does.
TEST(Dynamics, UpwardCompressorStartsAgainAtANewRate) {
  Rig rig("Upward Compressor", 48000.0f);
  rig.run(fxtest::noise(48000, 0.01f));
  ASSERT_GT(rig.as<CompVinyl>().gainLevel, 1.0f);  // quiet input was raised
  rig.fx->setSampleRate(96000.0f);
  EXPECT_EQ(rig.as<CompVinyl>().gainLevel, 0.0f);
}

// Seconds until the glue compressor's gain level, settled at one level, has covered 63 % of the
// way to where it settles at another.
double timeToSettle(Rig& rig, float from, float to, float rate) {
  rig.run(Stereo(fxtest::frames(3.0, rate), from));
  std::vector<float> g;
  Stereo in(fxtest::frames(1.5, rate), to), out(in.size());
  rig.process(in, out, 1, [&](size_t) { g.push_back(rig.as<CompGlue>().gainLevel); });
  const float mark = g[0] + 0.6321f * (rig.as<CompGlue>().gainLevel - g[0]);
  for (size_t n = 1; n < g.size(); ++n)
    if (to > from ? g[n] <= mark : g[n] >= mark) return static_cast<double>(n) / rate;
  return -1.0;
}

// Attack and release last as long in seconds at every rate, "Speed" shortens them, and a new
// rate retimes a running instance.
TEST(Dynamics, GlueAttackAndReleaseFollowTheSampleRate) {
  double previous[2] = {1e9, 1e9};
  for (float speed : {0.0f, 50.0f, 100.0f}) {
    double at[2][2];
    for (int r = 0; r < 2; ++r) {
      Rig rig = Rig::of<CompGlue>(r == 0 ? 22050.0f : 192000.0f);
      rig.set(0.0f, speed);
      at[r][0] = timeToSettle(rig, 0.01f, 1.0f, r == 0 ? 22050.0f : 192000.0f);
      at[r][1] = timeToSettle(rig, 1.0f, 0.01f, r == 0 ? 22050.0f : 192000.0f);
    }
    for (int k = 0; k < 2; ++k) {
      EXPECT_NEAR(at[0][k], at[1][k], 0.05 * at[1][k] + 1.5 / 22050.0) << speed << " " << k;
      EXPECT_LT(at[1][k], previous[k]) << speed << " " << k;
      previous[k] = at[1][k];
    }
    if (speed < 100.0f) {
      EXPECT_GT(at[1][1], 3.0 * at[1][0]) << speed;  // releases slower than it attacks
    }
  }
  Rig moved = Rig::of<CompGlue>(22050.0f), fresh = Rig::of<CompGlue>(192000.0f);
  moved.run(fxtest::noise(22050, 0.5f));
  moved.fx->setSampleRate(192000.0f);
  EXPECT_NEAR(timeToSettle(moved, 0.01f, 1.0f, 192000.0f), timeToSettle(fresh, 0.01f, 1.0f, 192000.0f), 1e-4);
}

// With a high "Gain" and a fast "Speed", the first loud hit after silence asks for a step
// larger than the whole error; taken as it stands, the gain overshoots, turns negative or
// runs away to infinity (at 22050 Hz).
TEST(Dynamics, OpticalLoudHitAfterSilenceNeverOvershoots) {
  for (float rate : {22050.0f, 44100.0f, 192000.0f}) {
    for (float gainDb : {36.0f, 48.0f}) {
      for (float speed : {90.0f, 100.0f}) {
        Rig rig = Rig::of<CompOptical>(rate);
        rig.set(gainDb, speed);
        Stereo in(fxtest::frames(1.5, rate));
        for (size_t i = fxtest::frames(1.0, rate); i < in.size(); ++i)
          in.l[i] = in.r[i] = ((i / 50) % 2) ? 1.0f : -1.0f;  // full-scale square after 1 s
        const double most = std::pow(10.0, gainDb / 20.0) * 1.001;
        float lowest = 1e9f, highest = -1e9f;
        Stereo out(in.size());
        rig.process(in, out, 64, [&](size_t) {
          lowest = std::min(lowest, rig.as<CompOptical>().gain);
          highest = std::max(highest, rig.as<CompOptical>().gain);
        });
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << gainDb << " dB, speed " << speed);
        EXPECT_TRUE(fxtest::allFinite(out));
        EXPECT_LE(fxtest::peakOf(out), most);
        EXPECT_GT(lowest, 0.0f);
        EXPECT_LE(highest, most);
      }
    }
  }
}

}  // namespace
