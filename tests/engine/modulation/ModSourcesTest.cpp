#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "engine/BandSynth.h"
#include "engine/core/ShapeCurve.h"
#include "engine/modulation/EnvelopeState.h"
#include "engine/modulation/ModSourceParams.h"

namespace {

constexpr double kAbsent = ModMatrix::kNoBeatPosition;
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

class ModSources : public ::testing::Test {
 protected:
  void SetUp() override {
    // LFO 1 as a triangle: 0 at phase 0, 1 at 0.5, back to 0 at 1 while looping; 1 Hz.
    PointCurve& shape = engine->lfoShapes[0];
    shape.points[0] = {0.0f, 0.0f, 0.0f};
    shape.points[1] = {0.5f, 1.0f, 0.0f};
    shape.count = 2;
    shape.loopMode = 1;
    shape.updateEndPoint();
    lfo(0, LfoParam::kRate).setValue(1.0f);
  }
  Param& lfo(int i, int k) { return engine->params[static_cast<size_t>(BandSynth::lfoParam(i, k))]; }
  void step(ModSourceState& s, double seconds, bool noteOn = false, double host = kAbsent,
            const ModSourceState* global = nullptr) {
    engine->modMatrix.processLfos(s, seconds, seconds * 2.0, host, global, noteOn);
  }
  float phase() const { return state.lfos[0].phase; }

  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
  ModSourceState state;
};

TEST_F(ModSources, LfoRunsAtItsRateAndLoopsOrStops) {
  float previous = 0.0f;
  for (float expected : {0.25f, 0.5f, 0.75f, 0.0f, 0.25f}) {
    step(state, 0.25);
    EXPECT_NEAR(phase(), expected, 1e-6f);
    EXPECT_NEAR(state.lfos[0].previousPhase, previous, 1e-6f);
    EXPECT_NEAR(state.lfos[0].output, 2.0f * (expected < 0.5f ? 2 * expected : 2 - 2 * expected) - 1.0f, 1e-5f);
    previous = expected;
  }
  // A damaged step leaves the LFO where it was and every output finite.
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    step(state, bad);
    float outputs = state.lfos[0].output;  // finite only when every term is
    for (const NoiseSource& n : state.noises) outputs += n.output;
    for (const EnvelopeState& e : state.envelopes) outputs += e.output;
    EXPECT_TRUE(std::fabs(phase() - 0.25f) < 1e-6f && std::isfinite(outputs));
  }
  // Not looping, it stops short of the end, where the closing point repeats the last y.
  lfo(0, LfoParam::kLoop).setValue(0.0f);
  for (int i = 0; i < 10; ++i) step(state, 0.3);
  EXPECT_TRUE(engine->lfoShapes[0].loopMode == 0 && engine->lfoShapes[0].points[2].y == 1.0f);
  EXPECT_FLOAT_EQ(phase(), 0.99f);
  EXPECT_FLOAT_EQ(state.lfos[0].output, 1.0f);
}

TEST_F(ModSources, BeatSync) {
  lfo(0, LfoParam::kBeatsync).setValue(1.0f);
  step(state, 0.01, false, 2.5);  // 1/4: one cycle per beat, from the host's position
  EXPECT_NEAR(phase(), 0.5f, 1e-6f);
  lfo(0, LfoParam::kBeatRate).setValue(8.0f);  // 3/16: 16/12 cycles per beat
  step(state, 0.01, false, 2.5);
  EXPECT_NEAR(phase(), std::fmod(2.5 * 16.0 / 12.0, 1.0), 1e-6);
  // Without a host position the step's beats advance it (2 beats per second here), and so
  // they do with "Retrigger" on, whatever the host says.
  lfo(0, LfoParam::kBeatRate).setValue(2.0f);  // 2/1: an eighth of a cycle per beat
  const float before = phase();
  step(state, 0.5);
  EXPECT_NEAR(phase(), before + 0.125f, 1e-6f);
  lfo(0, LfoParam::kRetrigger).setValue(1.0f);
  step(state, 0.5, false, 100.3);
  EXPECT_NEAR(phase(), before + 0.25f, 1e-6f);
}

TEST_F(ModSources, RetriggerAndPerVoice) {
  step(state, 0.6);
  step(state, 0.1, true);  // "Retrigger" off: a note changes nothing
  EXPECT_NEAR(phase(), 0.7f, 1e-6f);
  lfo(0, LfoParam::kRetrigger).setValue(1.0f);
  step(state, 0.1, true);
  EXPECT_NEAR(phase(), 0.1f, 1e-6f);
  EXPECT_EQ(state.lfos[0].previousPhase, 10.0f);
  step(state, 0.2);
  state.envelopes[2].position = 2.0f;
  engine->modMatrix.retriggerLfos(state, false);
  EXPECT_EQ(phase(), 0.0f);
  EXPECT_NEAR(state.lfos[1].phase, 0.25f, 1e-6f);  // LFO 2 (0.25 Hz for 1 s) does not retrigger
  for (const EnvelopeState& e : state.envelopes) EXPECT_EQ(e.position, 0.0f);
  // A voice call leaves the LFOs that run per voice to their own note-on.
  step(state, 0.2);
  lfo(0, LfoParam::kPerVoice).setValue(1.0f);
  engine->modMatrix.retriggerLfos(state, true);
  EXPECT_NEAR(phase(), 0.2f, 1e-6f);

  // A voice's record follows the engine's LFO unless that runs per voice.
  lfo(0, LfoParam::kPerVoice).setValue(0.0f);
  ModSourceState voice;
  step(voice, 0.05, false, kAbsent, &state);
  EXPECT_TRUE(voice.lfos[0].phase == phase() && voice.lfos[0].output == state.lfos[0].output);
  lfo(0, LfoParam::kPerVoice).setValue(1.0f);
  step(voice, 0.05, false, kAbsent, &state);
  EXPECT_NEAR(voice.lfos[0].phase, phase() + 0.05f, 1e-6f);
}

TEST(Envelope, StagesAgainstTheirCurves) {
  const EnvelopeSettings s;  // 0.2, 10 ms, 0.3 s, 0.5, 0.2 s; bends -0.5, 0.3, 0.5
  EnvelopeState e;
  e.advance(0.005f, s);  // half the attack
  EXPECT_NEAR(e.position, 0.5f, 1e-5f);
  EXPECT_NEAR(e.level, 0.2 + 0.8 * shapeCurve(0.5f, -0.5f), 1e-6);
  EXPECT_NEAR(e.output, (0.2 + e.level) * 0.5, 1e-6);  // the mean over the step
  e.advance(0.005f + 0.15f, s);                           // the rest of the attack, half the decay
  EXPECT_NEAR(e.position, 1.5f, 1e-4f);
  EXPECT_NEAR(e.level, 1.0 - 0.5 * shapeCurve(0.5f, 0.3f), 1e-5);
  EXPECT_NEAR(envelopeLevelAt(1.5f, s), e.level, 1e-4f);  // what the display draws
  EXPECT_NEAR(envelopeLevelAt(3.5f, s), (1.0 - shapeCurve(0.5f, 0.5f)) * 0.5, 1e-6);
  EXPECT_EQ(envelopeLevelAt(kNan, s), 0.0f);

  // One long step crosses the stages: each counted by its end levels.
  EnvelopeState longStep;
  longStep.advance(1.0f, s);
  EXPECT_NEAR(longStep.output, (0.2 + 1.0) * 0.5 * 0.01 + (1.0 + 0.5) * 0.5 * 0.3 + 0.5 * 0.69, 1e-5);
  EXPECT_FLOAT_EQ(longStep.position, 2.0f);
  longStep.startRelease();
  longStep.advance(0.5f, s);
  EXPECT_NEAR(longStep.output, 0.5 * 0.5 * 0.2 / 0.5, 1e-5);
  EXPECT_GE(longStep.position, 4.0f);
  EXPECT_EQ(longStep.level, 0.0f);

  EnvelopeSettings instant = s;
  instant.attackMs = 0.0f;
  EnvelopeState zero;
  zero.advance(0.001f, instant);
  EXPECT_TRUE(zero.position >= 1.0f && zero.position < 2.0f);
}

TEST(Envelope, NoteOffDuringAttackReleasesFromTheLevelReached) {
  EnvelopeSettings s;
  s.attackMs = 100.0f;
  s.sustain = 0.9f;
  EnvelopeState e;
  for (int i = 0; i < 5; ++i) e.advance(0.01f, s);
  const float reached = e.level;
  ASSERT_NEAR(reached, 0.2 + 0.8 * shapeCurve(0.5f, -0.5f), 1e-5);
  e.startRelease();
  EXPECT_FLOAT_EQ(e.position, 3.0f);
  e.advance(0.0001f, s);
  EXPECT_NEAR(e.output, reached, 0.01f);  // continuous with the level reached, not the sustain
  e.advance(0.1f - 0.0001f, s);
  EXPECT_NEAR(e.position, 3.5f, 1e-3f);
  EXPECT_NEAR(e.level, (1.0 - shapeCurve(0.5f, 0.5f)) * reached, 1e-3);
}

TEST(Envelope, DamagedStepsAndSettingsTerminate) {
  EnvelopeSettings broken;  // only has to end
  broken.decay = -5.0f;
  broken.release = kNan;
  for (int b = 0; b < 2; ++b) {
    for (float dt : {kNan, std::numeric_limits<float>::infinity(), 1e30f, -1.0f, 1.0f}) {
      EnvelopeState e;
      e.advance(dt, b == 0 ? EnvelopeSettings() : broken);
      const bool finite = std::isfinite(e.output) && std::isfinite(e.level);
      e.startRelease();
      e.advance(dt, b == 0 ? EnvelopeSettings() : broken);
      EXPECT_TRUE(b == 1 || (finite && std::isfinite(e.output))) << dt;
    }
  }
}

// The noises: white noise spread evenly over -0.5..0.5 once a step lasts 2 ms or more, pink and
// brown smoother than white in that order, every record from the same start giving the same
// sequence, and the held noise taking a new value at each note-on only.
TEST_F(ModSources, Noises) {
  ModSourceState other;
  double meanSquare = 0.0, moves[3] = {0.0, 0.0, 0.0};
  float last[3] = {0.0f, 0.0f, 0.0f};
  for (int i = 0; i < 4000; ++i) {
    const double dt = i < 2000 ? 0.002 : 64.0 / 44100.0;
    step(state, dt);
    step(other, dt);
    for (int k = 0; k < 3; ++k) {
      const float v = state.noises[k].output;
      ASSERT_TRUE(std::fabs(v) <= 1.0f && v == other.noises[k].output) << k << " " << i;
      if (i >= 2000) moves[k] += std::fabs(v - last[k]);
      last[k] = v;
    }
    if (i < 2000) meanSquare += state.noises[0].output * state.noises[0].output / 2000.0;
    EXPECT_EQ(state.noises[ModSourceState::kHold].output, 0.0f);  // no note: held
  }
  EXPECT_NEAR(meanSquare, 1.0 / 12.0, 0.008);
  EXPECT_TRUE(moves[0] > 2.0 * moves[1] && moves[1] > 2.0 * moves[2]) << moves[0] << " " << moves[1] << " " << moves[2];

  ModSourceState held;
  float values[3];
  for (int note = 0; note < 3; ++note) {
    step(held, 0.01, true);
    values[note] = held.noises[ModSourceState::kHold].output;
    for (int i = 0; i < 20; ++i) step(held, 0.01);
    EXPECT_EQ(held.noises[ModSourceState::kHold].output, values[note]);
  }
  EXPECT_TRUE(values[0] != values[1] && values[1] != values[2]);
}

TEST_F(ModSources, NoteOnRestartsTheEnvelopesEachWithItsSettings) {
  for (int i = 0; i < 100; ++i) step(state, 0.01);
  EXPECT_NEAR(state.envelopes[0].position, 2.0f, 1e-5f);
  step(state, 0.001, true);  // restarted from "Initial": 1 ms into a 10 ms attack
  EXPECT_NEAR(state.envelopes[0].position, 0.1f, 1e-5f);
  EXPECT_NEAR(state.envelopes[0].level, 0.2 + 0.8 * shapeCurve(0.1f, -0.5f), 1e-5);
  engine->params[static_cast<size_t>(BandSynth::envParam(3, EnvParam::kAttack))].setValue(0.0f);
  ModSourceState fresh;
  step(fresh, 0.6);  // envelope 4 decays over 1.2 s
  EXPECT_NEAR(fresh.envelopes[3].position, 1.5f, 1e-4f);
  EXPECT_NEAR(fresh.envelopes[0].position, 2.0f, 1e-4f);
}

}  // namespace
