#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <string>
#include <vector>

#include "effects/ReverbDiffuser.h"
#include "effects/ReverbHall.h"
#include "effects/ReverbPlate.h"
#include "effects/ReverbSpring.h"
#include "tests/effects/EffectTestKit.h"

// The reverbs' tails fall at the rate their "Length" sets: the energy envelope of an impulse
// response, in decibels, is fitted with a straight line and its slope compared with what the
// network's loop gains imply, worked out here in double precision from the stated lengths.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

constexpr double kDbPerNeper = 8.685889638065036;  // 20 / ln 10: amplitude rate to dB

// The slope in dB per second of the energy envelope (20 ms windows) from where it is 15 dB
// below its loudest window to where it is 50 dB below, by least squares.
double decaySlope(const Stereo& s, double rate) {
  const size_t win = fxtest::frames(0.02, rate);
  std::vector<double> db;
  for (size_t at = 0; at + win <= s.size(); at += win)
    db.push_back(10.0 * std::log10(fxtest::energyOf(s, at, at + win) / win + 1e-300));
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

// A small click (the spring's saturator stays linear) after a tenth of a second of silence, in
// which the effects' gains glide from their fresh values to their settings.
Stereo impulseResponse(Rig& rig, double seconds, double rate) {
  rig.run(Stereo(fxtest::frames(0.1, rate)));
  Stereo in(fxtest::frames(seconds, rate));
  in.l[0] = 0.1f;
  in.r[0] = 0.05f;
  return rig.run(in);
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
  double rotations = 0.0;
  for (int i = 0; i < 8; ++i) rotations += std::floor(std::pow(2.0, 0.53 * i) * 0.00145 * rate + 0.5);
  double sum = 0.0;
  for (int k = 0; k < 4; ++k) {
    const double m = std::floor(std::pow(2.0, 0.73 * k) * 0.012 * rate + 0.5);
    sum += std::log1p(m / g) / (m + rotations / 4.0);
  }
  return -kDbPerNeper * rate * sum / 4.0;
}

struct SpringLoop {
  double slope;       // dB/s the loop's own loss implies
  double passSeconds; // one round
};

// Spring: one round (5 ms line, the model's 256-sample frame and its gain-weighted mean bin
// delay) loses what that round minus the frame's latency takes at rho per sample.
SpringLoop springLoop(double length, double rate) {
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
  const double lossy = 0.005 * rate + gd / gs;
  const double rho = std::pow(2.0, -6.0 * (length / 100.0 - 0.5)) * 1.5 / rate;
  const double pass = lossy + 256.0;
  return {-kDbPerNeper * rho * lossy / pass * rate, pass / rate};
}

TEST(ReverbDecay, TailsFallAtTheRateTheirLengthSets) {
  // "Color" and "Brightness" at the settings that keep the loop's tone flat.
  const struct {
    const char* effect;
    float length, other;
  } probes[] = {{"room", 50, 100}, {"room", 100, 100}, {"plate", 0, 100},
                {"plate", 100, 100}, {"spring", 30, 50}, {"spring", 50, 50}};
  for (double rate : {22050.0, 44100.0, 96000.0, 192000.0}) {
    double springSlopes[2] = {0.0, 0.0};
    for (const auto& p : probes) {
      const std::string effect = p.effect, where = effect + " " + std::to_string(p.length) + " at " + std::to_string(rate);
      const SpringLoop spring = springLoop(p.length, rate);
      const double expected = effect == "room"    ? roomSlope(p.length)
                              : effect == "plate" ? plateSlope(p.length, rate)
                                                  : spring.slope;
      const float r = static_cast<float>(rate);
      Rig rig = effect == "room" ? Rig::of<ReverbHall>(r) : effect == "plate" ? Rig::of<ReverbPlate>(r) : Rig::of<ReverbSpring>(r);
      rig.set(p.length, p.other);
      const Stereo ir = impulseResponse(rig, effect == "spring" ? 4.0 : 0.5 + 50.0 / -expected, rate);
      ASSERT_TRUE(fxtest::allFinite(ir)) << where;
      const double measured = decaySlope(ir, rate);
      if (effect != "spring") {
        EXPECT_NEAR(measured / expected, 1.0, effect == "room" ? 0.06 : 0.04) << where << ": " << measured;
        continue;
      }
      // On top of the loop's loss the spring model loses a little per round by itself (its
      // gains fall below 1 away from the loudest bins, neighbouring frames mix), most where
      // the rate gives it the fewest bins below 6 kHz.
      const double extraPerRound = (spring.slope - measured) * spring.passSeconds;
      EXPECT_GT(extraPerRound, 0.05) << where << ": " << measured;
      EXPECT_LT(extraPerRound, 1.6) << where << ": " << measured;
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
TEST(ReverbDecay, DiffuserBurstEndsAfterItsEightDelays) {
  struct Case {
    float length, preDelayMs;
  };
  for (double rate : {22050.0, 44100.0, 96000.0, 192000.0}) {
    for (const Case c : {Case{50.0f, 150.0f}, Case{0.0f, 0.0f}, Case{100.0f, 3.0f}}) {
      Rig rig = Rig::of<ReverbDiffuser>(static_cast<float>(rate));
      rig.set(c.length, c.preDelayMs);
      rig.run(Stereo(fxtest::frames(3.5, rate)));  // the delays glide a sample per 16 frames

      const double scale = 0.9 * c.length / 100.0 + 0.1;
      size_t last = static_cast<size_t>(std::floor(c.preDelayMs * 0.001 * rate + 0.5));
      for (int j = 0; j < 8; ++j)
        last += static_cast<size_t>(std::floor(std::floor(std::pow(2.0, -0.584 * j) * 0.2 * rate) * scale));
      Stereo in(last + fxtest::frames(0.02, rate));
      in.r[0] = 1.0f;
      const Stereo out = rig.run(in);
      const std::string where = std::to_string(rate) + " Hz, length " + std::to_string(c.length);

      size_t end = 0;
      for (size_t i = 0; i < out.size(); ++i)
        if (std::fabs(out.l[i]) > 0.03f || std::fabs(out.r[i]) > 0.03f) end = i;
      const double energy = fxtest::energyOf(out);
      EXPECT_NEAR(static_cast<double>(end), static_cast<double>(last), 1.0) << where;
      EXPECT_NEAR(std::fabs(out.l[end]), 1.0 / 16.0, 0.006) << where;
      EXPECT_NEAR(std::fabs(out.r[end]), 1.0 / 16.0, 0.006) << where;
      EXPECT_LT(fxtest::peakOf(out, end + fxtest::frames(0.01, rate)), 1e-6f) << where;
      EXPECT_LE(energy, 1.0001) << where;
      EXPECT_GT(energy, 0.9) << where;
    }
  }
}

}  // namespace
