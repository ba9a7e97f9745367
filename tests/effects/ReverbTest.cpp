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

// The reverbs' tails fall steadily (a straight line in decibels), slower for a longer "Length",
// and (room and plate) as fast at every rate.
namespace {

using fxtest::energyOf;
using fxtest::Rig;
using fxtest::Stereo;

// The slope in dB per second of the energy envelope (20 ms windows) from where it is 15 dB
// below its loudest window to where it is 50 dB below, by least squares, and the largest
// distance of a window from that line.
std::pair<double, double> decaySlope(const Stereo& s, double rate) {
  const size_t win = fxtest::frames(0.02, rate);
  std::vector<double> db;
  for (size_t at = 0; at + win <= s.size(); at += win)
    db.push_back(10.0 * std::log10(energyOf(s, at, at + win) / win + 1e-300));
  const size_t loudest = static_cast<size_t>(std::max_element(db.begin(), db.end()) - db.begin());
  size_t from = loudest;
  while (from < db.size() && db[from] > db[loudest] - 15.0) ++from;
  size_t to = from;
  double st = 0, sy = 0, stt = 0, sty = 0, n = 0;
  for (; to < db.size() && db[to] > db[loudest] - 50.0; ++to, ++n) {
    const double t = to * 0.02;
    st += t, sy += db[to], stt += t * t, sty += t * db[to];
  }
  if (n < 3) return {0.0, 1e9};
  const double slope = (n * sty - st * sy) / (n * stt - st * st), offset = (sy - slope * st) / n;
  double worst = 0.0;
  for (size_t k = from; k < to; ++k) worst = std::max(worst, std::fabs(db[k] - offset - slope * k * 0.02));
  return {slope, worst};
}

TEST(Reverb, TailsFallSteadilyAtTheRateTheirLengthSets) {
  // "Color" and "Brightness" at the settings that keep the loop's tone flat.
  const struct {
    const char* name;
    float other, seconds;
    double rateSpread;  // negative: the spring model's own losses per round depend on the rate
  } reverbs[] = {{"Room Reverb", 100, 3, 0.1}, {"Plate Reverb", 100, 3, 0.1}, {"Spring Reverb", 50, 4, -1}};
  for (const auto& r : reverbs) {
    double slopes[2][2];
    for (int k = 0; k < 2; ++k) {
      const double rate = k == 0 ? 22050.0 : 192000.0;
      for (int l = 0; l < 2; ++l) {
        Rig rig(r.name, static_cast<float>(rate));
        rig.set(l == 0 ? 30.0f : 50.0f, r.other);
        // A small click (the spring's saturator stays linear) after a tenth of a second of
        // silence, in which the gains glide from their fresh values to their settings.
        rig.run(Stereo(fxtest::frames(0.1, rate)));
        Stereo in(fxtest::frames(r.seconds, rate));
        in.l[0] = 0.1f;
        in.r[0] = 0.05f;
        const auto [slope, wander] = decaySlope(rig.run(in), rate);
        slopes[k][l] = slope;
        EXPECT_LT(slope, -5.0) << r.name << " " << rate;
        EXPECT_LT(wander, 6.0) << r.name << " " << rate;
      }
      EXPECT_LT(slopes[k][0], 1.2 * slopes[k][1]) << r.name << ": a longer tail falls slower, at " << rate;
    }
    for (int l = 0; l < 2 && r.rateSpread > 0; ++l) EXPECT_NEAR(slopes[0][l] / slopes[1][l], 1.0, r.rateSpread) << r.name;
  }
}

// The diffuser feeds nothing back: a click on the right comes out as a burst after the
// pre-delay that ends within a second, longer for a longer "Length", and nothing follows but
// the mono-bass filter's ring. The rotations keep the energy; the bass stage can only take some
// away.
TEST(Reverb, DiffuserBurstIsFiniteAndKeepsTheEnergy) {
  for (double rate : {22050.0, 192000.0}) {
    size_t previousEnd = 0;
    for (const auto& [length, preDelayMs] : {std::pair(0.0f, 0.0f), {50.0f, 150.0f}, {100.0f, 3.0f}}) {
      Rig rig = Rig::of<ReverbDiffuser>(static_cast<float>(rate));
      rig.set(length, preDelayMs);
      rig.run(Stereo(fxtest::frames(3.5, rate)));  // the delays glide a sample per 16 frames
      Stereo in(fxtest::frames(1.2, rate));
      in.r[0] = 1.0f;
      const Stereo out = rig.run(in);
      SCOPED_TRACE(testing::Message() << rate << " Hz, length " << length);
      size_t first = out.size(), end = 0;
      for (size_t i = 0; i < out.size(); ++i) {
        if (out.l[i] != 0.0f || out.r[i] != 0.0f) first = std::min(first, i);
        if (std::fabs(out.l[i]) > 0.03f || std::fabs(out.r[i]) > 0.03f) end = i;
      }
      EXPECT_GE(first + 1.0, preDelayMs * 0.001 * rate);
      EXPECT_GT(end - first, previousEnd);
      previousEnd = end - first;
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
