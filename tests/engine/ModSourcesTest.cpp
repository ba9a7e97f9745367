#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "engine/BandSynth.h"
#include "engine/EnvelopeState.h"
#include "engine/ModSourceParams.h"
#include "engine/ShapeCurve.h"
#include "support/AllocationCounter.h"

namespace {

constexpr double kAbsent = ModMatrix::kNoBeatPosition;

class ModSources : public ::testing::Test {
 protected:
  void SetUp() override {
    // LFO 1 as a triangle: 0 at phase 0, 1 at 0.5, back to 0 at 1 while looping.
    PointCurve& shape = engine->lfoShapes[0];
    shape.points[0] = {0.0f, 0.0f, 0.0f};
    shape.points[1] = {0.5f, 1.0f, 0.0f};
    shape.count = 2;
    shape.loopMode = 1;
    shape.updateEndPoint();
  }

  Param& lfo(int i, int k) { return engine->params[static_cast<size_t>(BandSynth::lfoParam(i, k))]; }
  Param& env(int i, int k) { return engine->params[static_cast<size_t>(BandSynth::envParam(i, k))]; }
  void step(ModSourceState& s, double seconds, bool noteOn = false, double host = kAbsent,
            const ModSourceState* global = nullptr) {
    engine->modMatrix.processLfos(s, seconds, seconds * 2.0, host, global, noteOn);
  }

  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
  ModSourceState state;
};

// The triangle above, mapped to -1..1.
float triangle(float phase) { return 2.0f * (phase < 0.5f ? 2.0f * phase : 2.0f - 2.0f * phase) - 1.0f; }

TEST_F(ModSources, FreshStates) {
  const LfoState l;
  EXPECT_EQ(l.phase, 0.0f);
  EXPECT_FLOAT_EQ(l.previousPhase, 0.99f);
  for (float r : l.random) {
    EXPECT_GE(r, -1.0f);
    EXPECT_LE(r, 1.0f);
  }
  for (const EnvelopeState& e : state.envelopes) {
    EXPECT_EQ(e.position, 0.0f);
    EXPECT_EQ(e.level, 0.0f);
  }
  for (const NoiseSource& n : state.noises) EXPECT_EQ(n.generator, 0u);
}

TEST_F(ModSources, LfoRunsAtItsRateAndLoops) {
  lfo(0, LfoParam::kRate).setValue(1.0f);
  const float phases[] = {0.25f, 0.5f, 0.75f, 0.0f, 0.25f};
  float previous = 0.0f;
  for (float expected : phases) {
    step(state, 0.25);
    EXPECT_NEAR(state.lfos[0].phase, expected, 1e-6f);
    EXPECT_NEAR(state.lfos[0].previousPhase, previous, 1e-6f);
    EXPECT_NEAR(state.lfos[0].output, triangle(expected), 1e-5f);
    previous = expected;
  }
}

TEST_F(ModSources, OneShotStopsShortOfTheEnd) {
  lfo(0, LfoParam::kRate).setValue(1.0f);
  lfo(0, LfoParam::kLoop).setValue(0.0f);
  PointCurve& shape = engine->lfoShapes[0];
  shape.dirty = 0;
  for (int i = 0; i < 10; ++i) step(state, 0.3);
  EXPECT_EQ(shape.loopMode, 0);
  EXPECT_EQ(shape.dirty, 1);
  // Not looping, the closing point repeats the last point's y.
  EXPECT_FLOAT_EQ(shape.points[2].y, 1.0f);
  EXPECT_FLOAT_EQ(state.lfos[0].phase, 0.99f);
  EXPECT_FLOAT_EQ(state.lfos[0].output, 1.0f);
}

TEST_F(ModSources, BeatSync) {
  lfo(0, LfoParam::kBeatsync).setValue(1.0f);
  // 1/4: one cycle per beat, taken from the host's position.
  step(state, 0.01, false, 2.5);
  EXPECT_NEAR(state.lfos[0].phase, 0.5f, 1e-6f);
  // 3/16 runs 16/12 cycles per beat.
  lfo(0, LfoParam::kBeatRate).setValue(8.0f);
  step(state, 0.01, false, 2.5);
  EXPECT_NEAR(state.lfos[0].phase, std::fmod(2.5 * 16.0 / 12.0, 1.0), 1e-6);
  // Without a host position the beats of the step advance it (2 beats per second here).
  lfo(0, LfoParam::kBeatRate).setValue(2.0f);  // 2/1: an eighth of a cycle per beat
  const float before = state.lfos[0].phase;
  step(state, 0.5);
  EXPECT_NEAR(state.lfos[0].phase, before + 0.125f, 1e-6f);
  // So does it with "Retrigger" on, whatever the host says.
  lfo(0, LfoParam::kRetrigger).setValue(1.0f);
  step(state, 0.5, false, 100.3);
  EXPECT_NEAR(state.lfos[0].phase, before + 0.25f, 1e-6f);
}

TEST_F(ModSources, RetriggerRestartsThePhase) {
  lfo(0, LfoParam::kRate).setValue(1.0f);
  step(state, 0.6);
  step(state, 0.1, true);  // "Retrigger" off: a note changes nothing
  EXPECT_NEAR(state.lfos[0].phase, 0.7f, 1e-6f);
  lfo(0, LfoParam::kRetrigger).setValue(1.0f);
  step(state, 0.1, true);
  EXPECT_NEAR(state.lfos[0].phase, 0.1f, 1e-6f);
  EXPECT_EQ(state.lfos[0].previousPhase, 10.0f);

  step(state, 0.2);
  state.envelopes[2].position = 2.0f;
  engine->modMatrix.retriggerLfos(state, false);
  EXPECT_EQ(state.lfos[0].phase, 0.0f);
  EXPECT_EQ(state.lfos[0].previousPhase, 10.0f);
  EXPECT_NEAR(state.lfos[1].phase, 0.25f, 1e-6f);  // LFO 2 (0.25 Hz for 1 s) does not retrigger
  for (const EnvelopeState& e : state.envelopes) EXPECT_EQ(e.position, 0.0f);

  // A voice call leaves the LFOs that run per voice to their own note-on.
  step(state, 0.2);
  lfo(0, LfoParam::kPerVoice).setValue(1.0f);
  engine->modMatrix.retriggerLfos(state, true);
  EXPECT_NEAR(state.lfos[0].phase, 0.2f, 1e-6f);
  lfo(0, LfoParam::kPerVoice).setValue(0.0f);
  engine->modMatrix.retriggerLfos(state, true);
  EXPECT_EQ(state.lfos[0].phase, 0.0f);
}

TEST_F(ModSources, VoiceRecordFollowsTheEngineUnlessPerVoice) {
  lfo(0, LfoParam::kRate).setValue(1.0f);
  ModSourceState voice;
  step(state, 0.3);
  step(voice, 0.05, false, kAbsent, &state);
  EXPECT_EQ(voice.lfos[0].phase, state.lfos[0].phase);
  EXPECT_EQ(voice.lfos[0].output, state.lfos[0].output);
  lfo(0, LfoParam::kPerVoice).setValue(1.0f);
  step(voice, 0.05, false, kAbsent, &state);
  EXPECT_NEAR(voice.lfos[0].phase, 0.35f, 1e-6f);
  EXPECT_NEAR(state.lfos[0].phase, 0.3f, 1e-6f);
}

TEST_F(ModSources, DamagedStepsLeaveTheLfoWhereItWas) {
  lfo(0, LfoParam::kRate).setValue(1.0f);
  step(state, 0.25);
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    step(state, bad);
    EXPECT_NEAR(state.lfos[0].phase, 0.25f, 1e-6f);
    EXPECT_TRUE(std::isfinite(state.lfos[0].output));
    for (const NoiseSource& n : state.noises) EXPECT_TRUE(std::isfinite(n.output));
    for (const EnvelopeState& e : state.envelopes) EXPECT_TRUE(std::isfinite(e.output));
  }
}

// Envelope stepping, against levels computed here from the stage formulas.
EnvelopeSettings settings() {
  EnvelopeSettings s;
  s.initial = 0.2f;
  s.attackMs = 10.0f;
  s.decay = 0.3f;
  s.sustain = 0.5f;
  s.release = 0.2f;
  s.attackShape = -0.5f;
  s.decayShape = 0.3f;
  s.releaseShape = 0.5f;
  return s;
}

TEST(Envelope, DefaultsHoldAtSustainUntilReleased) {
  EnvelopeState e;
  const EnvelopeSettings s = settings();
  for (int i = 0; i < 2000; ++i) e.advance(64.0f / 44100.0f, s);
  EXPECT_FLOAT_EQ(e.position, 2.0f);
  EXPECT_FLOAT_EQ(e.level, 0.5f);
  EXPECT_FLOAT_EQ(e.output, 0.5f);
  e.startRelease();
  EXPECT_FLOAT_EQ(e.releaseStartLevel, 0.5f);
  for (int i = 0; i < 200; ++i) e.advance(64.0f / 44100.0f, s);
  EXPECT_GE(e.position, 4.0f);
  EXPECT_EQ(e.level, 0.0f);
  EXPECT_EQ(e.output, 0.0f);
}

TEST(Envelope, StagesFollowTheirCurves) {
  EnvelopeState e;
  const EnvelopeSettings s = settings();
  e.advance(0.005f, s);  // half the attack
  EXPECT_NEAR(e.position, 0.5f, 1e-5f);
  EXPECT_NEAR(e.level, 0.2 + 0.8 * shapeCurve(0.5f, -0.5f), 1e-6);
  EXPECT_NEAR(e.output, (0.2 + e.level) * 0.5, 1e-6);  // mean over the step
  e.advance(0.005f + 0.15f, s);                           // the rest of the attack, half the decay
  EXPECT_NEAR(e.position, 1.5f, 1e-4f);
  EXPECT_NEAR(e.level, 1.0 - 0.5 * shapeCurve(0.5f, 0.3f), 1e-5);
  // The display's levels at the same positions.
  EXPECT_NEAR(envelopeLevelAt(1.5f, s), e.level, 1e-4f);
  EXPECT_NEAR(envelopeLevelAt(0.5f, s), 0.2 + 0.8 * shapeCurve(0.5f, -0.5f), 1e-6);
  EXPECT_FLOAT_EQ(envelopeLevelAt(2.0f, s), 0.5f);
  EXPECT_NEAR(envelopeLevelAt(3.5f, s), (1.0 - shapeCurve(0.5f, 0.5f)) * 0.5, 1e-6);
  EXPECT_EQ(envelopeLevelAt(4.0f, s), 0.0f);
  EXPECT_EQ(envelopeLevelAt(std::numeric_limits<float>::quiet_NaN(), s), 0.0f);
}

TEST(Envelope, ZeroAttackPassesWithinOneStep) {
  EnvelopeState e;
  EnvelopeSettings s = settings();
  s.attackMs = 0.0f;
  e.advance(0.001f, s);
  EXPECT_GE(e.position, 1.0f);
  EXPECT_LT(e.position, 2.0f);
}

TEST(Envelope, OneLongStepGivesTheTrapezoidMean) {
  EnvelopeState e;
  const EnvelopeSettings s = settings();
  e.advance(1.0f, s);
  // Attack 0.01 s from 0.2 to 1, decay 0.3 s from 1 to 0.5, then 0.69 s at 0.5, each stage
  // counted by its end levels.
  const double expected = (0.2 + 1.0) * 0.5 * 0.01 + (1.0 + 0.5) * 0.5 * 0.3 + 0.5 * 0.69;
  EXPECT_NEAR(e.output, expected, 1e-5);
  EXPECT_FLOAT_EQ(e.position, 2.0f);

  // The release and the end in one step as well.
  e.startRelease();
  e.advance(0.5f, s);
  EXPECT_NEAR(e.output, (0.5 + 0.0) * 0.5 * 0.2 / 0.5, 1e-5);
  EXPECT_GE(e.position, 4.0f);
}

TEST(Envelope, NoteOffDuringAttackReleasesFromTheLevelReached) {
  EnvelopeSettings s = settings();
  s.attackMs = 100.0f;
  s.sustain = 0.9f;
  EnvelopeState e;
  for (int i = 0; i < 5; ++i) e.advance(0.01f, s);
  const float reached = e.level;
  ASSERT_NEAR(reached, 0.2 + 0.8 * shapeCurve(0.5f, -0.5f), 1e-5);
  e.startRelease();
  EXPECT_FLOAT_EQ(e.position, 3.0f);
  e.advance(0.0001f, s);
  // Continuous with the level reached, not with the sustain level.
  EXPECT_NEAR(e.level, reached, 0.01f);
  EXPECT_NEAR(e.output, reached, 0.01f);
  e.advance(0.1f - 0.0001f, s);
  EXPECT_NEAR(e.position, 3.5f, 1e-3f);
  EXPECT_NEAR(e.level, (1.0 - shapeCurve(0.5f, 0.5f)) * reached, 1e-3);
}

TEST(Envelope, DamagedStepsTerminate) {
  const EnvelopeSettings s = settings();
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f,
                       -1.0f};
  for (float dt : bad) {
    EnvelopeState e;
    e.advance(dt, s);
    EXPECT_TRUE(std::isfinite(e.output)) << dt;
    EXPECT_TRUE(std::isfinite(e.level)) << dt;
    e.startRelease();
    e.advance(dt, s);
    EXPECT_TRUE(std::isfinite(e.output)) << dt;
  }
  // Absurd settings too.
  EnvelopeSettings broken = s;
  broken.decay = -5.0f;
  broken.release = std::numeric_limits<float>::quiet_NaN();
  EnvelopeState e;
  e.advance(1.0f, broken);
  e.startRelease();
  e.advance(1.0f, broken);
  SUCCEED();
}

// The noises from state 0, against the generator stepped here.
TEST_F(ModSources, NoiseSequencesFromStateZero) {
  const double dt = 64.0 / 44100.0;
  const float c[3] = {static_cast<float>(std::min(dt * 500.0, 1.0)), static_cast<float>(std::min(dt * 500.0 / 11.0, 1.0)),
                      static_cast<float>(std::min(dt * 500.0 / 41.0, 1.0))};
  uint32_t g = 0;
  float expected[3] = {0, 0, 0};
  for (int i = 0; i < 50; ++i) {
    step(state, dt);
    g = g * 1664525u + 1013904223u;
    const double r = static_cast<double>(static_cast<int32_t>(g)) * 2.328e-10;
    for (int k = 0; k < 3; ++k) {
      expected[k] = static_cast<float>((1.0 - c[k] * c[k]) * expected[k] + c[k] * r);
      EXPECT_NEAR(state.noises[k].output, expected[k], 1e-6f) << k << " " << i;
    }
    // Without a note the held noise stays where it is.
    EXPECT_EQ(state.noises[ModSourceState::kHold].output, 0.0f);
  }
  // A step of 2 ms or more is pure white noise.
  step(state, 0.002);
  g = g * 1664525u + 1013904223u;
  EXPECT_NEAR(state.noises[0].output, static_cast<int32_t>(g) * 2.328e-10, 1e-6);
}

TEST_F(ModSources, HeldNoiseChangesOnlyOnNoteOn) {
  step(state, 0.01, true);
  const float first = state.noises[ModSourceState::kHold].output;
  EXPECT_NEAR(first, 1013904223.0 * 2.328e-10, 1e-6);
  for (int i = 0; i < 20; ++i) step(state, 0.01);
  EXPECT_EQ(state.noises[ModSourceState::kHold].output, first);
  step(state, 0.01, true);
  const uint32_t g2 = 1013904223u * 1664525u + 1013904223u;
  EXPECT_NEAR(state.noises[ModSourceState::kHold].output, static_cast<int32_t>(g2) * 2.328e-10, 1e-6);
}

TEST_F(ModSources, NoteOnRestartsTheEnvelopes) {
  for (int i = 0; i < 100; ++i) step(state, 0.01);
  EXPECT_NEAR(state.envelopes[0].position, 2.0f, 1e-5f);
  step(state, 0.001, true);
  // Restarted from "Initial": 1 ms into a 10 ms attack.
  EXPECT_NEAR(state.envelopes[0].position, 0.1f, 1e-5f);
  EXPECT_NEAR(state.envelopes[0].level, 0.2 + 0.8 * shapeCurve(0.1f, -0.5f), 1e-5);
  // Each envelope reads its own settings: envelope 4 decays over 1.2 s.
  env(3, EnvParam::kAttack).setValue(0.0f);
  ModSourceState fresh;
  step(fresh, 0.6);
  EXPECT_NEAR(fresh.envelopes[3].position, 1.5f, 1e-4f);
  EXPECT_NEAR(fresh.envelopes[0].position, 2.0f, 1e-4f);
}

TEST_F(ModSources, NothingIsAllocatedWhileStepping) {
  lfo(1, LfoParam::kPerVoice).setValue(1.0f);
  lfo(2, LfoParam::kBeatsync).setValue(1.0f);
  lfo(3, LfoParam::kLoop).setValue(0.0f);
  ModSourceState voice;
  AllocationCounter counter;
  for (int i = 0; i < 100; ++i) {
    step(state, 64.0 / 48000.0, i % 10 == 0, i * 0.01);
    step(voice, 64.0 / 48000.0, i % 7 == 0, kAbsent, &state);
    engine->modMatrix.retriggerLfos(voice, true);
    engine->modMatrix.retriggerLfos(state, false);
  }
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
