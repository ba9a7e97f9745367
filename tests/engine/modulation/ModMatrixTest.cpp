#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "engine/BandSynth.h"
#include "engine/modulation/ModSourceParams.h"

namespace {

class ModMatrixTest : public ::testing::Test {
 protected:
  Param& param(int index) { return engine->params[static_cast<size_t>(index)]; }
  Param& row(int r, int k) { return param(BandSynth::rowParam(r, k)); }
  void setRow(int r, int source, float amount, int scaler, int paramIndex) {
    const auto& list = engine->exposedParams();
    row(r, ModRowParam::kSource).setValue(static_cast<float>(source));
    row(r, ModRowParam::kAmount).setValue(amount);
    row(r, ModRowParam::kScaler).setValue(static_cast<float>(scaler));
    row(r, ModRowParam::kTarget).setValue(static_cast<float>(std::find(list.begin(), list.end(), paramIndex) - list.begin()));
  }
  // Routes of the global pass and of a voice's pass.
  std::pair<int, int> routes() {
    engine->modMatrix.collectRoutes(-1);
    const int global = engine->modMatrix.routeCount;
    engine->modMatrix.collectRoutes(0);
    return {global, engine->modMatrix.routeCount};
  }
  DrumVoice& voice(int track, int v = 0) {
    DrumVoice& d = engine->tracks[track].voices[v];
    d.track = track;
    return d;
  }
  float voiceOffset(int index) { return param(index).voiceModOffset; }

  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
  const int pan1 = BandSynth::trackParam(0, TrackParam::kPan);
  const int pan2 = BandSynth::trackParam(1, TrackParam::kPan);
  const int detune = BandSynth::synthParam(SynthParam::kDetune);
};

TEST_F(ModMatrixTest, RowsAreSortedIntoGlobalAndPerVoice) {
  using P = std::pair<int, int>;
  EXPECT_EQ(routes(), P(0, 0));  // every row starts with the source "-"
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kNone, pan1);
  EXPECT_EQ(routes(), P(1, 0));
  const ModRoute& r = engine->modMatrix.routes[0];
  EXPECT_TRUE(r.source == ModSource::kConstant && r.scaler == 0 && r.target == pan1 && r.amount == 0.5f);
  row(0, ModRowParam::kScaler).setValue(ModScaler::kVelocity);
  EXPECT_EQ(routes(), P(0, 1));
  // An LFO row is global until its LFO runs per voice; envelopes and noises are per voice.
  setRow(0, ModSource::kLfo1 + 2, 0.5f, ModScaler::kNone, pan1);
  EXPECT_EQ(routes(), P(1, 0));
  param(BandSynth::lfoParam(2, LfoParam::kPerVoice)).setValue(1.0f);
  EXPECT_EQ(routes(), P(0, 1));
  for (int s : {1, 4, 11, 14}) {
    row(0, ModRowParam::kSource).setValue(static_cast<float>(s));
    EXPECT_EQ(routes(), P(0, 1)) << s;
  }
  row(0, ModRowParam::kSource).setValue(ModSource::kBpmOctave);
  EXPECT_EQ(routes().first, 1);

  // No route for a tiny or NaN amount, a target off the list, or the source "-".
  const struct {
    int k;
    float value;
    int global;
  } edits[] = {{ModRowParam::kAmount, 0.0005f, 0},  {ModRowParam::kAmount, -0.002f, 1},
               {ModRowParam::kAmount, NAN, 0},      {ModRowParam::kAmount, 0.3f, 1},
               {ModRowParam::kTarget, 109.0f, 0},   {ModRowParam::kTarget, -1.0f, 0},
               {ModRowParam::kTarget, 108.0f, 1},   {ModRowParam::kSource, 0.0f, 0}};
  for (const auto& e : edits) {
    row(0, e.k).value = e.value;
    EXPECT_EQ(routes(), P(e.global, 0)) << e.k << " " << e.value;
  }
  setRow(3, ModSource::kConstant, 0.1f, 0, pan1);
  setRow(5, ModSource::kConstant, 0.2f, 0, detune);
  EXPECT_EQ(routes(), P(2, 0));
  EXPECT_EQ(engine->modMatrix.routes[1].target, detune);  // rows keep their order; target 108 is "Detune"
}

TEST_F(ModMatrixTest, SourceValues) {
  ModSourceState s;
  s.envelopes[2].output = 0.4f;
  s.lfos[3].output = -0.7f;
  s.noises[ModSourceState::kBrown].output = 0.12f;
  s.noises[ModSourceState::kHold].output = -0.3f;
  ModMatrix& m = engine->modMatrix;
  const std::pair<int, float> values[] = {{0, 0.0f},           {ModSource::kEnv1 + 2, 0.4f},        {ModSource::kLfo1 + 3, -0.7f},
                                          {ModSource::kConstant, 1.0f}, {ModSource::kNoiseWhite + 2, 0.12f},
                                          {ModSource::kNoiseWhite + 3, -0.3f}, {15, 0.0f}};
  for (const auto& [source, value] : values) EXPECT_EQ(m.sourceValue(s, source), value) << source;
  // Octaves of the tempo from 120 BPM; none without a tempo.
  for (const auto& [tempo, octaves] : {std::pair{120.0f, 0.0}, {240.0f, 1.0}, {90.0f, std::log2(0.75)}, {0.0f, 0.0}}) {
    m.tempo = tempo;
    EXPECT_NEAR(m.sourceValue(s, ModSource::kBpmOctave), octaves, 1e-6) << tempo;
  }
}

TEST_F(ModMatrixTest, GlobalPassClearsFirstAndSpreadsTheGlobalGroup) {
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kNone, pan1);
  for (int block = 0; block < 3; ++block) {
    engine->applyGlobalModulation();
    EXPECT_FLOAT_EQ(param(pan1).globalModOffset, 0.5f);
    EXPECT_FLOAT_EQ(param(pan1).effectiveValue(), 100.0f);  // half the range up from the centre
  }
  EXPECT_FALSE(param(pan2).modulated);
  row(0, ModRowParam::kSource).setValue(0.0f);  // gone at the next pass
  setRow(1, ModSource::kLfo1, -0.25f, ModScaler::kNone, pan2);
  engine->globalSources.lfos[0].output = 0.8f;
  engine->applyGlobalModulation();
  EXPECT_FALSE(param(pan1).modulated);
  EXPECT_EQ(param(pan1).effectiveValue(), 0.0f);
  EXPECT_FLOAT_EQ(param(pan2).globalModOffset, -0.2f);

  param(BandSynth::globalParam(GlobalParam::kTimescale)).setValue(2.0f);
  param(BandSynth::globalParam(GlobalParam::kTransform)).setValue(25.0f);
  param(BandSynth::globalParam(GlobalParam::kAmp)).setValue(21.0f);
  param(BandSynth::globalParam(GlobalParam::kDensity)).setValue(-50.0f);
  for (int block = 0; block < 3; ++block) engine->applyGlobalModulation();
  for (int t = 0; t < 8; ++t) {
    auto track = [&](int k) -> Param& { return param(BandSynth::trackParam(t, k)); };
    EXPECT_NEAR(track(TrackParam::kTimescale).effectiveValue(), 2.0f, 1e-4f);
    // "Transform" counts double: 25 of -100..100 is 0.125, doubled 0.25 of 0..100.
    EXPECT_NEAR(track(TrackParam::kTransform).effectiveValue(), 25.0f, 1e-4f);
    // Amp 21 is 0.1 up from its default of 1; a track's Amp 1 sits at 0.5 of its power shape.
    EXPECT_NEAR(track(TrackParam::kAmp).effectiveValue(), 0.6 * 0.6 * 4.0, 1e-4);
    EXPECT_NEAR(track(TrackParam::kDensity).effectiveValue(), -50.0f, 1e-3f);
    EXPECT_FALSE(track(TrackParam::kFrequency).modulated);
  }
}

TEST_F(ModMatrixTest, VoiceRoutesStayOnTheirOwnTrack) {
  setRow(0, ModSource::kConstant, 0.5f, ModScaler::kVelocity, pan2);
  DrumVoice& v = voice(1);
  v.velocity = 0.8f;
  engine->applyGlobalModulation();
  engine->applyVoiceModulation(v);
  EXPECT_FLOAT_EQ(voiceOffset(pan2), 0.4f);
  EXPECT_NEAR(param(pan2).effectiveValue(), 80.0f, 1e-4f);
  // A second voice of the track replaces the first one's offset; a voice of another track, or
  // a free voice, leaves it alone however often it runs.
  DrumVoice& w = voice(1, 1);
  w.velocity = 0.2f;
  DrumVoice& other = voice(0);
  other.velocity = 1.0f;
  DrumVoice free;
  free.velocity = 1.0f;
  for (DrumVoice* d : {&w, &w, &other, &other, &free}) engine->applyVoiceModulation(*d);
  EXPECT_FLOAT_EQ(voiceOffset(pan2), 0.1f);
  EXPECT_FLOAT_EQ(voiceOffset(pan1), 0.0f);

  // Routes to the Global group reach the voice's own track; "Synth" targets any track's voice.
  const int timescale = BandSynth::globalParam(GlobalParam::kTimescale);
  setRow(0, ModSource::kEnv1, 0.5f, ModScaler::kNone, timescale);
  setRow(1, ModSource::kConstant, 0.25f, ModScaler::kVelocity, detune);
  DrumVoice& d = voice(3);
  d.sources.envelopes[0].output = 0.6f;
  d.velocity = 1.0f;
  engine->applyVoiceModulation(d);
  for (int t = 0; t < 8; ++t)
    EXPECT_FLOAT_EQ(voiceOffset(BandSynth::trackParam(t, TrackParam::kTimescale)), t == 3 ? 0.3f : 0.0f) << t;
  EXPECT_FLOAT_EQ(voiceOffset(timescale), 0.0f);
  EXPECT_NEAR(param(detune).effectiveValue(), 600.0f, 1e-3f);
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
  auto scaled = [&](int scaler) {
    row(0, ModRowParam::kScaler).setValue(static_cast<float>(scaler));
    engine->applyVoiceModulation(v);
    return voiceOffset(pan1) / 0.5f;
  };
  EXPECT_FLOAT_EQ(scaled(ModScaler::kVelocity), 0.9f);
  EXPECT_FLOAT_EQ(scaled(ModScaler::kModWheel), 0.6f);
  EXPECT_FLOAT_EQ(scaled(ModScaler::kPitchbend), -0.5f);
  EXPECT_FLOAT_EQ(scaled(ModScaler::kAftertouch), 0.75f);
  // "Note Octave": octaves from C2 in quarters, or from C3 in halves on a synth track.
  const struct {
    int note;
    float drum, synth;
  } octaves[] = {{60, 0.75f, 1.0f}, {36, 0.25f, 0.0f}, {30, 0.0f, -0.25f}, {0, -0.5f, -1.5f}, {127, 2.0f, 3.7916667f}};
  for (const auto& o : octaves) {
    v.note = o.note;
    param(BandSynth::synthParam(SynthParam::kSynthTrack)).setValue(-1.0f);
    EXPECT_FLOAT_EQ(scaled(ModScaler::kNoteOctave), o.drum) << o.note;
    param(BandSynth::synthParam(SynthParam::kSynthTrack)).setValue(0.0f);
    EXPECT_NEAR(scaled(ModScaler::kNoteOctave), o.synth, 1e-6f) << o.note;
  }
}

}  // namespace
