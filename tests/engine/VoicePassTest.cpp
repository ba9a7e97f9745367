#include <gtest/gtest.h>

#include <cmath>

#include "engine/EngineTestRig.h"
#include "engine/voice/OscillatorTables.h"
#include "engine/voice/VoiceBandSynth.h"

namespace {

using namespace engine_test;

constexpr float kRate = 48000.0f;

// A frame's 80 band values after the fade, the damping of the high bands and the track filter
// (negative: a low-pass closing from the top, positive: a high-pass opening from the bottom),
// against the plain fade: never louder, unchanged where the filter is open, falling smoothly
// into the closed part, and guard values that continue the ends without going below 0.8 of them.
TEST(VoicePass, FrameShaping) {
  struct Row {
    float fade, damping, filter;
    int open[2];    // bands left as the fade gives them
    int closed[2];  // bands silenced
  };
  for (const Row& r : {Row{1, 0, 0, {0, 80}, {0, 0}}, Row{0.5f, 0, 0.000005f, {0, 80}, {0, 0}},
                       Row{1, 0, -1, {0, 0}, {20, 80}}, Row{1, 0, -0.5f, {0, 40}, {60, 80}},
                       Row{1, 0, 1, {60, 80}, {0, 40}}, Row{0.5f, 0, 0.3f, {18, 80}, {0, 0}},
                       Row{0.25f, 0.01f, 0, {0, 1}, {0, 0}}}) {
    float frame[82];
    for (int k = 0; k < 80; ++k) frame[k + 1] = static_cast<float>(k + 1);
    shapeBandFrame(frame, r.fade, r.damping, r.filter);
    SCOPED_TRACE(testing::Message() << r.fade << " " << r.damping << " " << r.filter);
    double previousShare = r.filter > 0 ? 0.0 : 1.0;
    for (int k = 0; k < 80; ++k) {
      const double share = frame[k + 1] / ((k + 1) * r.fade);
      EXPECT_TRUE(share >= 0.0 && share <= 1.0 + 1e-6) << k;
      EXPECT_TRUE(k < r.open[0] || k >= r.open[1] || std::fabs(share - 1.0) < 1e-5) << k;
      EXPECT_TRUE(k < r.closed[0] || k >= r.closed[1] || share == 0.0) << k;
      EXPECT_TRUE(r.filter > 0 ? share >= previousShare - 1e-6 : share <= previousShare + 1e-6) << k;
      previousShare = share;
    }
    EXPECT_TRUE(frame[0] >= 0.8f * frame[1] && frame[81] >= 0.8f * frame[80]);
    EXPECT_LE(frame[0], 1.5f * frame[1] + 1e-6f);
  }
}

// How voices end: a blob whose sound is over at once, the release, and both sounds gone.
TEST(VoicePass, VoicesEnd) {
  {
    auto e = makeEngine(kRate);
    Blob& a = e->tracks[0].blobs[0];
    a.tailPosition = 0.5f;
    a.revision += 1;
    e->updateEffectTypes();
    const Channels out = render(*e, 4800, 64, {{0, 36, 1.0f}});
    EXPECT_EQ(e->tracks[0].voiceCount, 0);
    EXPECT_EQ(energy(out[0]) + energy(out[1]), 0.0);
  }
  {
    auto e = makeEngine(kRate);
    trackParam(*e, 0, TrackParam::kRelease).setValue(0.05f);
    const Channels out = render(*e, 12000, 128, {{0, 36, 1.0f}, {4800, 36, 0.0f}});
    EXPECT_GT(energy(out[0], 0), 0.0);
    EXPECT_EQ(e->tracks[0].voiceCount, 0);
    EXPECT_EQ(e->tracks[0].soundingVoices.load(), 0);
    // The shelf's lift of the lowest frequencies takes seconds to die away.
    EXPECT_FALSE(e->tracks[0].silent.load());
    const Channels later = render(*e, 8 * 48000, 4096);
    EXPECT_TRUE(e->tracks[0].silent.load());
    EXPECT_EQ(energy(later[0], 8 * 48000 - 64), 0.0);
  }
  {
    auto e = makeEngine(kRate);
    render(*e, 4800, 128, {{0, 36, 1.0f}});
    EXPECT_EQ(e->tracks[0].voiceCount, 1);
    e->tracks[0].blobs[0].present = 0;
    render(*e, 64, 64);
    EXPECT_EQ(e->tracks[0].voiceCount, 0);
    EXPECT_EQ(e->tracks[0].voices[0].state, DrumVoice::kIdle);
    // The sound comes back: the old note stays gone.
    e->tracks[0].blobs[0].present = 1;
    render(*e, 640, 64);
    EXPECT_EQ(e->tracks[0].voiceCount, 0);
  }
}

// A new note's noise starts from the fixed noise spectrum.
TEST(VoicePass, FirstHopNoiseIsTheNoiseSpectrum) {
  auto e = makeEngine(kRate);
  DrumVoice& voice = e->tracks[0].voices[0];
  render(*e, 64, 64, {{0, 36, 1.0f}});
  ASSERT_EQ(voice.state, DrumVoice::kHeld);
  const auto& spectrum = e->bands.noiseSpectrum;
  auto same = [&] {
    for (size_t i = 0; i < spectrum.size(); ++i)
      if (e->voiceBands().laneNoise(0, static_cast<int32_t>(i)) != spectrum[i]) return false;
    return true;
  };
  EXPECT_TRUE(same());
  render(*e, 64, 64);
  EXPECT_FALSE(same());
}

// Every voice's values reach the synthesiser once after itself, once after each later voice
// and once at the end: alone a voice counts twice; of two, the first counts three times.
TEST(VoicePass, RunningSumsWeighEarlierVoicesMore) {
  auto renderNotes = [](std::vector<NoteEvent> notes) {
    auto e = makeEngine(kRate);
    trackParam(*e, 0, TrackParam::kPolyphony).setValue(2.0f);
    trackParam(*e, 0, TrackParam::kSeedMode).setValue(1.0f);  // the same noise in either voice
    return render(*e, 9600, 128, notes);
  };
  const Channels first = renderNotes({{0, 36, 0.9f}});
  const Channels second = renderNotes({{0, 48, 0.4f}});
  const Channels both = renderNotes({{0, 36, 0.9f}, {0, 48, 0.4f}});
  double peak = 0.0;
  double worst = 0.0;
  for (size_t i = 0; i < both[0].size(); ++i) {
    const double want = 1.5 * first[0][i] + second[0][i];
    peak = std::max(peak, std::fabs(want));
    worst = std::max(worst, std::fabs(want - both[0][i]));
  }
  EXPECT_GT(peak, 0.01);
  EXPECT_LT(worst, 1e-4 * peak);
}

// "Model" 2 lets velocity scale time; a velocity curve down to 0 must not stop or break it.
TEST(VoicePass, VelocityTimeScaleAtZero) {
  auto e = makeEngine(kRate);
  trackParam(*e, 0, TrackParam::kModel).setValue(2.0f);
  PointCurve& curve = e->tracks[0].velocityCurve;
  curve.setPoint(1, {1.0f, 0.0f, 0.0f});
  const Channels out = render(*e, 9600, 128, {{0, 36, 1.0f}});
  EXPECT_TRUE(allFinite(out, 100.0f));
  EXPECT_GT(e->tracks[0].voices[0].renderer.elapsed, 1.0f);
}

// A tonal peak in the top band stays at the top: the bins above the highest band centre read
// that band's frequency, not a fraction of it, so nothing is moved down into the audible range.
TEST(VoicePass, TopBandPeakStaysAtTheTop) {
  BandLayout layout;
  layout.build(44100.0f);
  VoiceBandSynth synth;
  synth.prepare(layout);
  DrumVoice voice;
  voice.sizeSpectra(layout.bandCount);
  for (auto& frame : voice.frames) {
    std::fill(frame, frame + DrumVoice::kFrameStride, 0.0f);
    frame[80] = 1.0f;  // band 79
    frame[81] = 1.5f;  // its guard value
  }
  DrumVoice* voices[1] = {&voice};
  const float density = -1.0f;  // no noise: a band or bin without amplitude ends at exactly 0
  const bool first = true;
  synth.drumHops(layout, voices, &density, &first, 1);
  int loud = 0;
  for (int e = 0; e < layout.bandCount; ++e) {
    const bool top = e >= layout.lowBandCount && layout.highBinMap[static_cast<size_t>(e - layout.lowBandCount)].band == 78;
    if (!top) {
      EXPECT_EQ(std::hypot(voice.stateRe[e], voice.stateIm[e]), 0.0f) << e;
    }
    loud += top && std::hypot(voice.stateRe[e], voice.stateIm[e]) > 0.0f;
  }
  EXPECT_GT(loud, 0);
}

class PartialHop : public ::testing::Test {
 protected:
  void SetUp() override {
    layout.build(kRate);
    synth.prepare(layout);
    for (auto& frame : voice.frames) std::fill(frame, frame + DrumVoice::kFrameSize, 1.0f);
  }
  int count(int oscillator, float f0, float stretch = 0.0f) {
    PartialSettings s;
    s.oscillator = oscillator;
    s.fundamentalHz = f0;
    s.lookupHz = f0;
    s.stretch = stretch;
    return synth.partialHop(voice, s, kRate, 0.5f);
  }
  BandLayout layout;
  VoiceBandSynth synth;
  DrumVoice voice;
};

TEST_F(PartialHop, SeriesEnds) {
  EXPECT_EQ(count(OscillatorTables::kSaw, 1000.0f), 21);  // 21 kHz is the last below 21091.66 Hz
  EXPECT_EQ(count(OscillatorTables::kSquare, 1000.0f), 11);
  EXPECT_EQ(count(OscillatorTables::kSaw, 100.0f, -1.0f), 10);  // stretch -100 %: at most 1 / 0.1
  // Fibonacci stops at 1000: below 21 Hz the held partials would all stack on one frequency.
  EXPECT_EQ(count(OscillatorTables::kFibonacci, 15.0f), 16);
  EXPECT_EQ(count(OscillatorTables::kSaw, NAN), 0);
  for (int k = 0; k < 16; ++k) EXPECT_TRUE(std::isfinite(synth.partialValues()[k].real()));
}

// A lookup below the lowest band reads the frame's lower guard value, never further.
TEST_F(PartialHop, LookupStaysInTheFrame) {
  float* middle = voice.frames[(voice.ringIndex - 2) & 3];
  middle[0] = 7.0f;
  PartialSettings s;
  s.fundamentalHz = 100.0f;
  s.lookupHz = 1.0f;
  s.density = -1.0f;  // no wobble: the value's magnitude is the amplitude
  ASSERT_GT(synth.partialHop(voice, s, kRate, 0.5f), 0);
  EXPECT_NEAR(std::abs(synth.partialValues()[0]), 0.5 * std::sqrt(100.0) * 7.0, 0.2);
}

}  // namespace
