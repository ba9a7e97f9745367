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

using fxtest::energyOf;
using fxtest::Rig;
using fxtest::Stereo;

FxBase* sendEffect(const std::string& name) {
  for (FxBase* p : getEffectRegistry().sendList)
    if (name == p->name()) return p;
  return nullptr;
}

// After two seconds of noise, one copy goes on into silence and the other is reset first: the
// energy the reset copy still puts out, against the other's. The chorus has no reset (its lines
// ring on when the slot comes back); the spring model keeps its sample rings, so its last frame
// of input still comes back and goes round; the room keeps its filter states.
TEST(TimeEffects, ResetClearsWhatEachEffectClears) {
  const struct {
    const char* name;
    double mostLeft;
  } cases[] = {{"Chorus", 1.0},        {"Tempo Delay", 1e-4}, {"Diffuser", 1e-4},
               {"Plate Reverb", 1e-3}, {"Room Reverb", 1e-2}, {"Spring Reverb", 0.5}};
  const Stereo noise = fxtest::noise(96000, 0.5f, 11), silence(48000);
  for (const auto& c : cases) {
    Rig kept(sendEffect(c.name), 48000.0f), cleared(sendEffect(c.name), 48000.0f);
    kept.run(noise);
    cleared.run(noise);
    cleared.fx->reset();
    const Stereo a = kept.run(silence), b = cleared.run(silence);
    ASSERT_TRUE(fxtest::allFinite(b)) << c.name;
    if (c.mostLeft == 1.0) {
      EXPECT_TRUE(a.l == b.l && a.r == b.r) << c.name;
    } else {
      EXPECT_LT(energyOf(b), c.mostLeft * energyOf(a)) << c.name;
    }
  }
  // The diffuser's delays glide on from where they stood.
  Rig diffuser = Rig::of<ReverbDiffuser>(48000.0f);
  diffuser.run(fxtest::noise(4800, 0.5f));
  auto& fx = static_cast<ReverbDiffuser&>(*diffuser.fx);
  fx.reset();
  for (int32_t d : fx.lineDelays) EXPECT_EQ(d, 4800 / ReverbDiffuser::kChunk);
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
    Rig rig(sendEffect(c.name), rate);
    rig.set(c.p0, c.p1);
    const size_t second = fxtest::frames(1.0, rate);
    const size_t quarter = fxtest::frames(fxtest::scaledSeconds(15.0), rate);
    double quarterEnergy[4], lastSecond = 0.0;
    for (int q = 0; q < 4; ++q) {
      const Stereo out = rig.run(fxtest::noise(quarter, 1.0f, 100u + q));
      ASSERT_TRUE(fxtest::allFinite(out)) << c.name << " " << rate;
      EXPECT_LT(fxtest::peakOf(out), 16.0f) << c.name << " " << rate;
      quarterEnergy[q] = energyOf(out);
      lastSecond = energyOf(out, quarter - second);
    }
    EXPECT_LT(quarterEnergy[3], 1.1 * quarterEnergy[2]) << c.name << " " << rate;
    const Stereo tail = rig.run(Stereo(fxtest::frames(fxtest::scaledSeconds(10.0), rate)));
    ASSERT_TRUE(fxtest::allFinite(tail)) << c.name << " " << rate;
    EXPECT_LT(energyOf(tail, tail.size() - second), lastSecond) << c.name << " " << rate;
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
