#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "effects/ReverbDiffuser.h"
#include "effects/ReverbHall.h"
#include "effects/ReverbPlate.h"
#include "effects/ReverbSpring.h"
#include "platform/RuntimeRandom.h"
#include "tests/effects/EffectTestKit.h"

// The reverbs' tails fall at the rate their "Length" sets: the energy envelope of an impulse
// response, in decibels, is fitted with a straight line and its slope compared with what the
// network's loop gains imply, worked out here in double precision from the stated lengths.
namespace {

using fxtest::energyOf;
using fxtest::Rig;
using fxtest::Stereo;

constexpr double kDbPerNeper = 8.685889638065036;  // 20 / ln 10: amplitude rate to dB

// The slope in dB per second of the energy envelope (20 ms windows) from where it is 15 dB
// below its loudest window to where it is 50 dB below, by least squares.
double decaySlope(const Stereo& s, double rate) {
  const size_t win = fxtest::frames(0.02, rate);
  std::vector<double> db;
  for (size_t at = 0; at + win <= s.size(); at += win)
    db.push_back(10.0 * std::log10(energyOf(s, at, at + win) / win + 1e-300));
  const size_t loudest = static_cast<size_t>(std::max_element(db.begin(), db.end()) - db.begin());
  size_t from = loudest;
  while (from < db.size() && db[from] > db[loudest] - 15.0) ++from;
  double st = 0, sy = 0, stt = 0, sty = 0, n = 0;
  for (size_t k = from; k < db.size() && db[k] > db[loudest] - 50.0; ++k, ++n) {
    const double t = k * 0.02;
    st += t, sy += db[k], stt += t * t, sty += t * db[k];
  }
  return n < 3 ? 0.0 : (n * sty - st * sy) / (n * stt - st * st);
}

// Room: every delay in the loop loses E(d rho) ~ e^(-d rho) with rho = 3.45 / (rate T).
double roomSlope(double length) {
  const double l = length / 100.0 + 0.5;
  return -kDbPerNeper * 3.45 / (0.6 * l * l * l * l);
}

// Plate: line k passes its signal on with g = x / (1 + x), x = G / M_k, once per M_k samples
// plus the delay the rotations add on average (each of the eight delays one of four lines).
double plateSlope(double length, double rate) {
  const double g = std::pow(2.0, 4.0 * length / 100.0 - 2.0) * rate * 0.25;
  double rotations = 0.0, sum = 0.0;
  for (int i = 0; i < 8; ++i) rotations += std::floor(std::pow(2.0, 0.53 * i) * 0.00145 * rate + 0.5);
  for (int k = 0; k < 4; ++k) {
    const double m = std::floor(std::pow(2.0, 0.73 * k) * 0.012 * rate + 0.5);
    sum += std::log1p(m / g) / (m + rotations / 4.0);
  }
  return -kDbPerNeper * rate * sum / 4.0;
}

// Spring: one round (5 ms line, the model's 256-sample frame and its gain-weighted mean bin
// delay) loses what that round minus the frame's latency takes at rho per sample. Gives the
// slope and the seconds of one round.
std::pair<double, double> springLoop(double length, double rate) {
  double gd = 0.0, gs = 0.0;
  for (int i = 0; i < 128; ++i) {
    const double f = i * rate / 256.0;
    const double ms = f < 6000.0 ? 60.0 * std::exp(-std::fabs(6000.0 - f) / 1200.0) + 20.0
                                 : 50.0 / ((f - 4000.0) / 2000.0 + 1.0) + 4.0;
    const double gain = (f + 6.0) / ((1.0 + std::pow(f / 8000.0, 3.0)) * (f + 8.0)) *
                        std::min(std::fabs(f - 6000.0) / 400.0, 1.0);
    gd += gain * ms * rate / 1000.0;
    gs += gain;
  }
  const double lossy = 0.005 * rate + gd / gs, rho = std::pow(2.0, -6.0 * (length / 100.0 - 0.5)) * 1.5 / rate;
  return {-kDbPerNeper * rho * lossy / (lossy + 256.0) * rate, (lossy + 256.0) / rate};
}

TEST(Reverb, TailsFallAtTheRateTheirLengthSets) {
  // "Color" and "Brightness" at the settings that keep the loop's tone flat.
  const struct {
    const char* name;
    float length, other;
  } probes[] = {{"Room Reverb", 50, 100},  {"Room Reverb", 100, 100},  {"Plate Reverb", 0, 100},
                {"Plate Reverb", 100, 100}, {"Spring Reverb", 30, 50}, {"Spring Reverb", 50, 50}};
  for (double rate : {22050.0, 44100.0, 96000.0, 192000.0}) {
    double springSlopes[2] = {0.0, 0.0};
    for (const auto& p : probes) {
      const std::string effect = p.name;
      SCOPED_TRACE(testing::Message() << effect << " " << p.length << " at " << rate);
      const auto [springSlope, springRound] = springLoop(p.length, rate);
      const double expected = effect == "Room Reverb"    ? roomSlope(p.length)
                              : effect == "Plate Reverb" ? plateSlope(p.length, rate)
                                                         : springSlope;
      Rig rig(p.name, static_cast<float>(rate));
      rig.set(p.length, p.other);
      // A small click (the spring's saturator stays linear) after a tenth of a second of
      // silence, in which the gains glide from their fresh values to their settings.
      rig.run(Stereo(fxtest::frames(0.1, rate)));
      Stereo in(fxtest::frames(effect == "Spring Reverb" ? 4.0 : 0.5 + 50.0 / -expected, rate));
      in.l[0] = 0.1f;
      in.r[0] = 0.05f;
      const Stereo ir = rig.run(in);
      ASSERT_TRUE(fxtest::allFinite(ir));
      const double measured = decaySlope(ir, rate);
      if (effect != "Spring Reverb") {
        EXPECT_NEAR(measured / expected, 1.0, effect == "Room Reverb" ? 0.06 : 0.04) << measured;
        continue;
      }
      // On top of the loop's loss the spring model loses a little per round by itself (its
      // gains fall below 1 away from the loudest bins, neighbouring frames mix), most where
      // the rate gives it the fewest bins below 6 kHz.
      const double extraPerRound = (springSlope - measured) * springRound;
      EXPECT_GT(extraPerRound, 0.05) << measured;
      EXPECT_LT(extraPerRound, 1.6) << measured;
      springSlopes[p.length > 40.0f ? 1 : 0] = measured;
    }
    EXPECT_LT(springSlopes[0], springSlopes[1]) << "a longer spring rings longer, at " << rate;
  }
}

// The diffuser feeds nothing back: once its delays have glided to their lengths, a click on
// the right comes out as a burst whose last echo (the path through all eight delays, turned
// eight times by 45 degrees: 1/16) lands at the pre-delay plus the eight delays, and nothing
// follows but the mono-bass filter's ring. The rotations keep the energy; the bass stage can
// only take some away.
TEST(Reverb, DiffuserBurstEndsAfterItsEightDelays) {
  for (double rate : {22050.0, 44100.0, 96000.0, 192000.0}) {
    for (const auto& [length, preDelayMs] : {std::pair(50.0f, 150.0f), {0.0f, 0.0f}, {100.0f, 3.0f}}) {
      Rig rig = Rig::of<ReverbDiffuser>(static_cast<float>(rate));
      rig.set(length, preDelayMs);
      rig.run(Stereo(fxtest::frames(3.5, rate)));  // the delays glide a sample per 16 frames

      const double scale = 0.9 * length / 100.0 + 0.1;
      size_t last = static_cast<size_t>(std::floor(preDelayMs * 0.001 * rate + 0.5));
      for (int j = 0; j < 8; ++j)
        last += static_cast<size_t>(std::floor(std::floor(std::pow(2.0, -0.584 * j) * 0.2 * rate) * scale));
      Stereo in(last + fxtest::frames(0.02, rate));
      in.r[0] = 1.0f;
      const Stereo out = rig.run(in);
      SCOPED_TRACE(testing::Message() << rate << " Hz, length " << length);
      size_t end = 0;
      for (size_t i = 0; i < out.size(); ++i)
        if (std::fabs(out.l[i]) > 0.03f || std::fabs(out.r[i]) > 0.03f) end = i;
      EXPECT_NEAR(static_cast<double>(end), static_cast<double>(last), 1.0);
      EXPECT_NEAR(std::fabs(out.l[end]), 1.0 / 16.0, 0.006);
      EXPECT_NEAR(std::fabs(out.r[end]), 1.0 / 16.0, 0.006);
      EXPECT_LT(fxtest::peakOf(out, end + fxtest::frames(0.01, rate)), 1e-6f);
      EXPECT_LE(energyOf(out), 1.0001);
      EXPECT_GT(energyOf(out), 0.9);
    }
  }
  // A reset silences the diffuser; its delays glide on from where they stood.
  Rig diffuser = Rig::of<ReverbDiffuser>(48000.0f);
  diffuser.run(fxtest::noise(4800, 0.5f));
  diffuser.fx->reset();
  for (int32_t d : diffuser.as<ReverbDiffuser>().lineDelays) EXPECT_EQ(d, 4800 / ReverbDiffuser::kChunk);
}

// The room reverb's reset starts its wobble at a random phase drawn from the instance's own
// generator: instances do not disturb each other or the runtime generator of the thread.
TEST(Reverb, RoomResetDrawsFromItsOwnGenerator) {
  ReverbHall a, b;
  a.setSampleRate(44100.0f);
  b.setSampleRate(44100.0f);
  crtSrand(77u);
  const int next = crtRand();
  crtSrand(77u);
  std::vector<float> phases;
  for (int i = 0; i < 4; ++i) {
    a.reset();
    phases.push_back(a.network.lfoPhase);
    EXPECT_TRUE(phases[i] >= 0.0f && phases[i] <= 1.0f);
    EXPECT_TRUE(i == 0 || phases[i] != phases[i - 1]);
  }
  EXPECT_EQ(crtRand(), next);
  b.reset();
  EXPECT_EQ(b.network.lfoPhase, phases[0]);
}

// At their longest decay and strongest feedback, a minute of full-scale noise (shorter under
// the sanitizers) reaches a steady level and stays there, and the tail falls once the noise
// stops.
struct LongRun {
  const char* name;
  float p0, p1;
};

class TimeEffectsLongRun : public ::testing::TestWithParam<LongRun> {};

TEST_P(TimeEffectsLongRun, NoGrowthOverAMinute) {
  const LongRun& c = GetParam();
  for (float rate : {22050.0f, 192000.0f}) {
    Rig rig(c.name, rate);
    rig.set(c.p0, c.p1);
    const size_t second = fxtest::frames(1.0, rate), quarter = fxtest::frames(fxtest::scaledSeconds(15.0), rate);
    double energy[4];
    Stereo out;
    for (int q = 0; q < 4; ++q) {
      out = rig.run(fxtest::noise(quarter, 1.0f, 100u + q));
      ASSERT_TRUE(fxtest::allFinite(out)) << rate;
      EXPECT_LT(fxtest::peakOf(out), 16.0f) << rate;
      energy[q] = energyOf(out);
    }
    EXPECT_LT(energy[3], 1.1 * energy[2]) << rate;
    const Stereo tail = rig.run(Stereo(fxtest::frames(fxtest::scaledSeconds(10.0), rate)));
    ASSERT_TRUE(fxtest::allFinite(tail)) << rate;
    EXPECT_LT(energyOf(tail, tail.size() - second), energyOf(out, quarter - second)) << rate;
  }
}

INSTANTIATE_TEST_SUITE_P(Longest, TimeEffectsLongRun,
                         ::testing::Values(LongRun{"Plate Reverb", 100, 0}, LongRun{"Plate Reverb", 100, 100},
                                           LongRun{"Room Reverb", 100, 0}, LongRun{"Room Reverb", 100, 100},
                                           LongRun{"Spring Reverb", 100, 0}, LongRun{"Spring Reverb", 100, 66},
                                           LongRun{"Spring Reverb", 100, 100}, LongRun{"Diffuser", 100, 300},
                                           LongRun{"Tempo Delay", 1, 100}, LongRun{"Tempo Delay", 8, 100},
                                           LongRun{"Chorus", 100, 10}),
                         [](const ::testing::TestParamInfo<LongRun>& info) {
                           const LongRun& p = info.param;
                           return fxtest::identifier(p.name) + "_" + std::to_string(static_cast<int>(p.p0)) + "_" +
                                  std::to_string(static_cast<int>(p.p1));
                         });

}  // namespace
