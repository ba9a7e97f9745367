#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "engine/BandSynth.h"
#include "engine/ModSourceParams.h"
#include "support/AllocationCounter.h"

namespace {

class ModMatrixTest : public ::testing::Test {
 protected:
  Param& param(int index) { return engine->params[static_cast<size_t>(index)]; }
  Param& row(int r, int k) { return param(BandSynth::rowParam(r, k)); }
  // Position of a parameter in the list a row's "Target" indexes.
  int targetOf(int paramIndex) {
    const auto& list = engine->exposedParams();
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i] == paramIndex) return static_cast<int>(i);
    }
    ADD_FAILURE() << "not exposed: " << paramIndex;
    return 0;
  }
  void setRow(int r, int source, float amount, int scaler, int paramIndex) {
    row(r, ModRowParam::kSource).setValue(static_cast<float>(source));
    row(r, ModRowParam::kAmount).setValue(amount);
    row(r, ModRowParam::kScaler).setValue(static_cast<float>(scaler));
    row(r, ModRowParam::kTarget).setValue(static_cast<float>(targetOf(paramIndex)));
  }
  int globalRoutes() {
    engine->modMatrix.collectRoutes(-1);
    return engine->modMatrix.routeCount;
  }
  int voiceRoutes() {
    engine->modMatrix.collectRoutes(0);
    return engine->modMatrix.routeCount;
  }
  DrumVoice& voice(int track, int v = 0) {
    DrumVoice& d = engine->tracks[track].voices[v];
    d.track = track;
    return d;
  }

  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
  const int pan1 = BandSynth::trackParam(0, TrackParam::kPan);
  const int pan2 = BandSynth::trackParam(1, TrackParam::kPan);
};

TEST_F(ModMatrixTest, RowsAreSortedIntoGlobalAndPerVoice) {
  EXPECT_EQ(globalRoutes(), 0);  // every row starts with the source "-"
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kNone, pan1);
  ASSERT_EQ(globalRoutes(), 1);
  const ModRoute& r = engine->modMatrix.routes[0];
  EXPECT_EQ(r.source, ModSource::kConstant);
  EXPECT_EQ(r.scaler, 0);
  EXPECT_EQ(r.target, pan1);
  EXPECT_FLOAT_EQ(r.amount, 0.5f);
  EXPECT_EQ(voiceRoutes(), 0);

  row(0, ModRowParam::kScaler).setValue(ModScaler::kVelocity);
  EXPECT_EQ(globalRoutes(), 0);
  EXPECT_EQ(voiceRoutes(), 1);

  // An LFO row is global until its LFO runs per voice.
  setRow(0, ModSource::kLfo1 + 2, 0.5f, ModScaler::kNone, pan1);
  EXPECT_EQ(globalRoutes(), 1);
  param(BandSynth::lfoParam(2, LfoParam::kPerVoice)).setValue(1.0f);
  EXPECT_EQ(globalRoutes(), 0);
  EXPECT_EQ(voiceRoutes(), 1);

  for (int s : {1, 4, 11, 14}) {  // envelopes and noises
    row(0, ModRowParam::kSource).setValue(static_cast<float>(s));
    EXPECT_EQ(globalRoutes(), 0) << s;
    EXPECT_EQ(voiceRoutes(), 1) << s;
  }
  row(0, ModRowParam::kSource).setValue(ModSource::kBpmOctave);
  EXPECT_EQ(globalRoutes(), 1);

  // No route for a tiny amount, a NaN amount, a target off the list or the source "-".
  row(0, ModRowParam::kAmount).setValue(0.0005f);
  EXPECT_EQ(globalRoutes() + voiceRoutes(), 0);
  row(0, ModRowParam::kAmount).setValue(-0.002f);
  EXPECT_EQ(globalRoutes(), 1);
  row(0, ModRowParam::kAmount).value = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(globalRoutes() + voiceRoutes(), 0);
  row(0, ModRowParam::kAmount).value = 0.3f;
  row(0, ModRowParam::kTarget).value = 109.0f;
  EXPECT_EQ(globalRoutes() + voiceRoutes(), 0);
  row(0, ModRowParam::kTarget).value = -1.0f;
  EXPECT_EQ(globalRoutes() + voiceRoutes(), 0);
  row(0, ModRowParam::kTarget).value = 108.0f;
  EXPECT_EQ(globalRoutes(), 1);
  EXPECT_EQ(engine->modMatrix.routes[0].target, BandSynth::synthParam(SynthParam::kDetune));
  row(0, ModRowParam::kSource).setValue(0.0f);
  EXPECT_EQ(globalRoutes() + voiceRoutes(), 0);

  // Rows keep their order.
  setRow(3, ModSource::kConstant, 0.1f, 0, pan1);
  setRow(5, ModSource::kConstant, 0.2f, 0, pan2);
  ASSERT_EQ(globalRoutes(), 2);
  EXPECT_EQ(engine->modMatrix.routes[1].target, pan2);
}

TEST_F(ModMatrixTest, SourceValues) {
  ModSourceState s;
  s.envelopes[2].output = 0.4f;
  s.lfos[3].output = -0.7f;
  s.noises[ModSourceState::kBrown].output = 0.12f;
  s.noises[ModSourceState::kHold].output = -0.3f;
  ModMatrix& m = engine->modMatrix;
  EXPECT_EQ(m.sourceValue(s, 0), 0.0f);
  EXPECT_EQ(m.sourceValue(s, ModSource::kEnv1 + 2), 0.4f);
  EXPECT_EQ(m.sourceValue(s, ModSource::kLfo1 + 3), -0.7f);
  EXPECT_EQ(m.sourceValue(s, ModSource::kConstant), 1.0f);
  EXPECT_EQ(m.sourceValue(s, ModSource::kBpmOctave), 0.0f);
  m.tempo = 240.0f;
  EXPECT_FLOAT_EQ(m.sourceValue(s, ModSource::kBpmOctave), 1.0f);
  m.tempo = 90.0f;
  EXPECT_NEAR(m.sourceValue(s, ModSource::kBpmOctave), std::log2(0.75), 1e-6);
  m.tempo = 0.0f;
  EXPECT_EQ(m.sourceValue(s, ModSource::kBpmOctave), 0.0f);
  EXPECT_EQ(m.sourceValue(s, ModSource::kNoiseWhite + 2), 0.12f);
  EXPECT_EQ(m.sourceValue(s, ModSource::kNoiseWhite + 3), -0.3f);
  EXPECT_EQ(m.sourceValue(s, 15), 0.0f);
}

TEST_F(ModMatrixTest, GlobalPassClearsBeforeAdding) {
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kNone, pan1);
  for (int block = 0; block < 5; ++block) {
    engine->applyGlobalModulation();
    EXPECT_FLOAT_EQ(param(pan1).globalModOffset, 0.5f);
    EXPECT_FLOAT_EQ(param(pan1).effectiveValue(), 100.0f);  // half the range up from the centre
  }
  EXPECT_FALSE(param(pan2).modulated);
  // Removing the row takes the modulation away at the next pass.
  row(0, ModRowParam::kSource).setValue(0.0f);
  engine->applyGlobalModulation();
  EXPECT_FALSE(param(pan1).modulated);
  EXPECT_EQ(param(pan1).effectiveValue(), 0.0f);

  // A global LFO route reads the engine's LFO.
  setRow(1, ModSource::kLfo1, -0.25f, ModScaler::kNone, pan2);
  engine->globalSources.lfos[0].output = 0.8f;
  engine->applyGlobalModulation();
  EXPECT_FLOAT_EQ(param(pan2).globalModOffset, -0.2f);
}

TEST_F(ModMatrixTest, GlobalGroupSpreadsToEveryTrack) {
  engine->applyGlobalModulation();
  for (int t = 0; t < 8; ++t) EXPECT_FALSE(param(BandSynth::trackParam(t, TrackParam::kAmp)).modulated);

  param(BandSynth::globalParam(GlobalParam::kTimescale)).setValue(2.0f);
  param(BandSynth::globalParam(GlobalParam::kTransform)).setValue(25.0f);
  param(BandSynth::globalParam(GlobalParam::kAmp)).setValue(21.0f);
  param(BandSynth::globalParam(GlobalParam::kDensity)).setValue(-50.0f);
  for (int block = 0; block < 3; ++block) engine->applyGlobalModulation();
  const double timescaleDeviation = std::log(16.0) / std::log(64.0) - 0.5;
  for (int t = 0; t < 8; ++t) {
    SCOPED_TRACE(t);
    const Param& ts = param(BandSynth::trackParam(t, TrackParam::kTimescale));
    EXPECT_NEAR(ts.globalModOffset, timescaleDeviation, 1e-6);
    EXPECT_NEAR(ts.effectiveValue(), 2.0f, 1e-4f);
    // "Transform" counts double: 25 of -100..100 is 0.125, doubled 0.25 of 0..100.
    const Param& tr = param(BandSynth::trackParam(t, TrackParam::kTransform));
    EXPECT_NEAR(tr.globalModOffset, 0.25f, 1e-6f);
    EXPECT_NEAR(tr.effectiveValue(), 25.0f, 1e-4f);
    // Amp 21: 0.1 up from its default of 1; a track's Amp 1 sits at 0.5 of its power shape.
    EXPECT_NEAR(param(BandSynth::trackParam(t, TrackParam::kAmp)).effectiveValue(), 0.6 * 0.6 * 4.0, 1e-4);
    EXPECT_NEAR(param(BandSynth::trackParam(t, TrackParam::kDensity)).effectiveValue(), -50.0f, 1e-3f);
    EXPECT_FALSE(param(BandSynth::trackParam(t, TrackParam::kFrequency)).modulated);
  }
}

TEST_F(ModMatrixTest, VoiceRoutesScaleByVelocityOnTheirOwnTrack) {
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kVelocity, pan2);
  DrumVoice& v = voice(1);
  v.velocity = 0.8f;
  engine->applyGlobalModulation();
  engine->applyVoiceModulation(v);
  EXPECT_FLOAT_EQ(param(pan2).voiceModOffset, 0.4f);
  EXPECT_NEAR(param(pan2).effectiveValue(), 80.0f, 1e-4f);
  EXPECT_FALSE(param(pan1).modulated);

  // A second voice of the track replaces the first one's offset.
  DrumVoice& w = voice(1, 1);
  w.velocity = 0.2f;
  engine->applyVoiceModulation(w);
  EXPECT_FLOAT_EQ(param(pan2).voiceModOffset, 0.1f);
  engine->applyVoiceModulation(w);
  EXPECT_FLOAT_EQ(param(pan2).voiceModOffset, 0.1f);

  // A voice of another track leaves track 2 alone, however many times it runs.
  DrumVoice& other = voice(0);
  other.velocity = 1.0f;
  for (int i = 0; i < 4; ++i) engine->applyVoiceModulation(other);
  EXPECT_FLOAT_EQ(param(pan2).voiceModOffset, 0.1f);
  EXPECT_FLOAT_EQ(param(pan1).voiceModOffset, 0.0f);

  // A free voice does nothing.
  DrumVoice free;
  free.velocity = 1.0f;
  engine->applyVoiceModulation(free);
  EXPECT_FLOAT_EQ(param(pan2).voiceModOffset, 0.1f);
}

TEST_F(ModMatrixTest, VoiceRoutesToGlobalParametersReachTheVoicesTrack) {
  setRow(0, ModSource::kEnv1, 0.5f, ModScaler::kNone, BandSynth::globalParam(GlobalParam::kTimescale));
  DrumVoice& v = voice(3);
  v.sources.envelopes[0].output = 0.6f;
  engine->applyGlobalModulation();
  engine->applyVoiceModulation(v);
  EXPECT_FLOAT_EQ(param(BandSynth::trackParam(3, TrackParam::kTimescale)).voiceModOffset, 0.3f);
  EXPECT_FLOAT_EQ(param(BandSynth::globalParam(GlobalParam::kTimescale)).voiceModOffset, 0.0f);
  for (int t : {0, 1, 2, 4, 5, 6, 7}) {
    EXPECT_FLOAT_EQ(param(BandSynth::trackParam(t, TrackParam::kTimescale)).voiceModOffset, 0.0f);
  }
  // The shared "Synth" targets are reached from any track.
  setRow(1, ModSource::kConstant, 0.25f, ModScaler::kVelocity, BandSynth::synthParam(SynthParam::kDetune));
  v.velocity = 1.0f;
  engine->applyVoiceModulation(v);
  EXPECT_FLOAT_EQ(param(BandSynth::synthParam(SynthParam::kDetune)).voiceModOffset, 0.25f);
  EXPECT_NEAR(param(BandSynth::synthParam(SynthParam::kDetune)).effectiveValue(), 600.0f, 1e-3f);
}

TEST_F(ModMatrixTest, Scalers) {
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kModWheel, pan1);
  DrumVoice& v = voice(0);
  v.channel = 3;
  v.velocity = 0.9f;
  v.polyPressure = 0.25f;
  engine->controllers[3][BandSynth::kPitchBend] = -0.5f;
  engine->controllers[3][BandSynth::kModWheel] = 0.6f;
  engine->controllers[3][BandSynth::kChannelPressure] = 0.5f;
  engine->controllers[4][BandSynth::kModWheel] = 1.0f;  // another channel: not this voice's
  auto offsetWith = [&](int scaler) {
    row(0, ModRowParam::kScaler).setValue(static_cast<float>(scaler));
    engine->applyVoiceModulation(v);
    return param(pan1).voiceModOffset / 0.5f;
  };
  EXPECT_FLOAT_EQ(offsetWith(ModScaler::kVelocity), 0.9f);
  EXPECT_FLOAT_EQ(offsetWith(ModScaler::kModWheel), 0.6f);
  EXPECT_FLOAT_EQ(offsetWith(ModScaler::kPitchbend), -0.5f);
  EXPECT_FLOAT_EQ(offsetWith(ModScaler::kAftertouch), 0.75f);

  // "Note Octave": octaves from C2 in quarters, or from C3 in halves on a synth track.
  const struct {
    int note;
    float drum, synth;
  } octaves[] = {{60, 0.75f, 1.0f}, {36, 0.25f, 0.0f}, {30, 0.0f, -0.25f}, {0, -0.5f, -1.5f}, {127, 2.0f, 3.7916667f}};
  for (const auto& o : octaves) {
    v.note = o.note;
    param(BandSynth::synthParam(SynthParam::kSynthTrack)).setValue(-1.0f);
    EXPECT_FLOAT_EQ(offsetWith(ModScaler::kNoteOctave), o.drum) << o.note;
    param(BandSynth::synthParam(SynthParam::kSynthTrack)).setValue(0.0f);
    EXPECT_NEAR(offsetWith(ModScaler::kNoteOctave), o.synth, 1e-6f) << o.note;
  }
}

TEST_F(ModMatrixTest, PassesAllocateNothing) {
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kNone, pan1);
  setRow(1, ModSource::kEnv1, 0.5f, ModScaler::kVelocity, BandSynth::globalParam(GlobalParam::kTimescale));
  setRow(2, ModSource::kNoiseWhite, 0.1f, ModScaler::kNoteOctave, BandSynth::synthParam(SynthParam::kStretch));
  setRow(3, ModSource::kLfo1, 0.3f, ModScaler::kNone, pan2);
  param(BandSynth::globalParam(GlobalParam::kTransform)).setValue(40.0f);
  ModSourceState s;
  AllocationCounter counter;
  for (int i = 0; i < 50; ++i) {
    engine->applyGlobalModulation();
    for (int t = 0; t < 8; ++t) engine->applyVoiceModulation(voice(t));
    engine->modMatrix.collectRoutes(-1);
    engine->modMatrix.sourceValue(s, i % 15);
  }
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
