#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/ReverbDiffuser.h"
#include "effects/ReverbHall.h"
#include "platform/RuntimeRandom.h"
#include "tests/effects/EffectTestKit.h"

// What the chorus, the echo and the reverbs share: what a reset clears, that their feedback
// never grows however long they are fed, and the room reverb's own random source.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

FxBase* sendEffect(const std::string& name) {
  for (FxBase* p : getEffectRegistry().sendList)
    if (name == p->name()) return p;
  return nullptr;
}

double energy(const Stereo& s) {
  double e = 0.0;
  for (size_t i = 0; i < s.size(); ++i) e += double(s.l[i]) * s.l[i] + double(s.r[i]) * s.r[i];
  return e;
}

// After two seconds of noise, one copy goes on into silence and the other is reset first:
// the energy the reset copy still puts out, against the other's. The chorus has no reset (its
// lines ring on when the slot comes back); the spring model keeps its sample rings, so its last
// frame of input still comes back and goes round; the room keeps its filter states.
TEST(TimeEffects, ResetClearsWhatEachEffectClears) {
  const struct {
    const char* name;
    double mostLeft;
  } cases[] = {{"Chorus", 1.0},      {"Tempo Delay", 1e-4},  {"Diffuser", 1e-4},
               {"Plate Reverb", 1e-3}, {"Room Reverb", 1e-2}, {"Spring Reverb", 0.5}};
  for (const auto& c : cases) {
    const float rate = 48000.0f;
    const Stereo noise = fxtest::noise(fxtest::frames(2.0, rate), 0.5f, 11);
    const Stereo silence(fxtest::frames(1.0, rate));
    Rig kept(sendEffect(c.name), rate), cleared(sendEffect(c.name), rate);
    kept.run(noise);
    cleared.run(noise);
    cleared.fx->reset();
    const Stereo a = kept.run(silence), b = cleared.run(silence);
    ASSERT_TRUE(fxtest::allFinite(b)) << c.name;
    if (c.mostLeft == 1.0) {
      EXPECT_EQ(a.l, b.l) << c.name;
      EXPECT_EQ(a.r, b.r) << c.name;
    } else {
      EXPECT_LT(energy(b), c.mostLeft * energy(a)) << c.name;
    }
  }

  // The diffuser's delays glide on from where they stood.
  Rig diffuser = Rig::of<ReverbDiffuser>(48000.0f);
  diffuser.run(fxtest::noise(4800, 0.5f));
  auto& fx = static_cast<ReverbDiffuser&>(*diffuser.fx);
  const std::vector<int32_t> before(fx.lineDelays, fx.lineDelays + ReverbDiffuser::kLines);
  fx.reset();
  EXPECT_EQ(std::vector<int32_t>(fx.lineDelays, fx.lineDelays + ReverbDiffuser::kLines), before);
  EXPECT_EQ(before[0], 4800 / ReverbDiffuser::kChunk);
}

// The room reverb's reset starts its wobble at a random phase drawn from the instance's own
// generator: instances do not disturb each other or the runtime generator of the thread.
TEST(TimeEffects, RoomResetDrawsFromItsOwnGenerator) {
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
  }
  EXPECT_EQ(crtRand(), next);
  b.reset();
  EXPECT_EQ(b.network.lfoPhase, phases[0]);
  for (size_t i = 0; i < phases.size(); ++i) {
    EXPECT_GE(phases[i], 0.0f);
    EXPECT_LE(phases[i], 1.0f);
    if (i > 0) {
      EXPECT_NE(phases[i], phases[i - 1]);
    }
  }
}

// At their longest decay and strongest feedback, a minute of full-scale noise (shorter under
// the sanitizers) reaches a steady level and stays there, and the tail only falls once the
// noise stops.
struct LongRun {
  const char* name;
  float p0, p1;
};

class TimeEffectsLongRun : public ::testing::TestWithParam<LongRun> {};

TEST_P(TimeEffectsLongRun, NoGrowthOverAMinute) {
  const LongRun& c = GetParam();
  for (float rate : {22050.0f, 192000.0f}) {
    Rig rig(sendEffect(c.name), rate);
    rig.set(c.p0, c.p1);
    rig.fx->setTempo(120.0f);
    const size_t second = fxtest::frames(1.0, rate);
    const size_t total = fxtest::frames(fxtest::scaledSeconds(60.0), rate);
    const size_t quarter = total / 4;
    std::vector<double> quarterRms;
    double lastSecond = 0.0;
    float peak = 0.0f;
    for (int q = 0; q < 4; ++q) {
      const Stereo out = rig.run(fxtest::noise(quarter, 1.0f, 100u + q));
      ASSERT_TRUE(fxtest::allFinite(out)) << c.name << " " << rate;
      peak = std::max(peak, fxtest::peakOf(out));
      quarterRms.push_back(std::sqrt(energy(out) / (2.0 * quarter)));
      if (q == 3) {
        Stereo end(second);
        std::copy(out.l.end() - second, out.l.end(), end.l.begin());
        std::copy(out.r.end() - second, out.r.end(), end.r.begin());
        lastSecond = energy(end);
      }
    }
    EXPECT_LT(peak, 16.0f) << c.name << " " << rate;
    EXPECT_LT(quarterRms[3], 1.05 * quarterRms[2]) << c.name << " " << rate;
    const Stereo tail = rig.run(Stereo(fxtest::frames(fxtest::scaledSeconds(10.0), rate)));
    ASSERT_TRUE(fxtest::allFinite(tail)) << c.name << " " << rate;
    Stereo tailEnd(second);
    std::copy(tail.l.end() - second, tail.l.end(), tailEnd.l.begin());
    std::copy(tail.r.end() - second, tail.r.end(), tailEnd.r.begin());
    EXPECT_LT(energy(tailEnd), lastSecond) << c.name << " " << rate;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Longest, TimeEffectsLongRun,
    ::testing::Values(LongRun{"Plate Reverb", 100, 0}, LongRun{"Plate Reverb", 100, 100},
                      LongRun{"Room Reverb", 100, 0}, LongRun{"Room Reverb", 100, 100},
                      LongRun{"Spring Reverb", 100, 0}, LongRun{"Spring Reverb", 100, 66},
                      LongRun{"Spring Reverb", 100, 100}, LongRun{"Diffuser", 100, 300},
                      LongRun{"Tempo Delay", 1, 100}, LongRun{"Tempo Delay", 8, 100},
                      LongRun{"Chorus", 100, 10}),
    [](const ::testing::TestParamInfo<LongRun>& info) {
      return fxtest::identifier(info.param.name) + "_" + std::to_string(static_cast<int>(info.param.p0)) +
             "_" + std::to_string(static_cast<int>(info.param.p1));
    });

}  // namespace
