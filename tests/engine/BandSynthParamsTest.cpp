#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/BandSynth.h"
#include "engine/core/ParamFormatters.h"
#include "engine/modulation/ModSourceParams.h"

namespace {

constexpr float N = 1e35f;  // no snap

// Kind, range, exponent (power kinds), default, snaps and format (null: a formatter or names).
struct Row {
  const char* label;
  int kind;
  float min, max, exponent, def, snapA, snapB;
  const char* format;
};

const Row kTrack[20] = {
    {"Amp", 1, 0, 4, 2, 1, 1, N, nullptr},          {"Pan", 0, -100, 100, 0, 0, 0, N, nullptr},
    {"Filter", 0, -100, 100, 0, 0, 0, N, "%.0f"},   {"Clip", 0, 0, 100, 0, 0, N, N, "%.0f"},
    {"Send 1", 1, 0, 4, 2, 0, N, N, nullptr},       {"Send 2", 1, 0, 4, 2, 0, N, N, nullptr},
    {"Output", 5, 0, 8, 0, 0, N, N, nullptr},       {"Width", 0, 0, 100, 0, 25, N, N, "%.0f%%"},
    {"Timescale", 3, 0.125f, 8, 0, 1, 1, N, "%.2f"}, {"Frequency", 0, -800, 800, 0, 0, 0, N, "%+.0f mel"},
    {"Contrast", 0, -100, 100, 0, 0, 0, N, "%+.0f"}, {"Transform", 0, 0, 100, 0, 0, N, N, "%.0f"},
    {"Model", 5, 0, 10, 0, 0, N, N, "%.1f"},        {"Dynamics", 0, 0, 100, 0, 50, N, N, "%.0f%%"},
    {"Density", 0, -100, 100, 0, 0, 0, N, "%+.0f"}, {"Seed Mode", 5, 0, 1, 0, 0, N, N, "Free|Frozen"},
    {"Seed", 5, 0, 999, 0, 555, N, N, "%.0f"},      {"Polyphony", 5, 1, 8, 0, 1, N, N, "%.0f"},
    {"Release", 3, 0.01f, 100, 0, 10, N, N, "%4.2f s"}, {"Damping", 0, 0, 100, 0, 25, N, N, "%.0f%%"}};
const Row kGlobal[6] = {
    {"Amp", 0, -100, 100, 0, 1, 0, N, "%.0f"},           {"Timescale", 3, 0.125f, 8, 0, 1, 1, N, "%.2f"},
    {"Frequency", 0, -800, 800, 0, 0, 0, N, "%+.0f mel"}, {"Contrast", 0, -100, 100, 0, 0, 0, N, "%+.0f"},
    {"Transform", 0, -100, 100, 0, 0, 0, 100, "%.1f"},   {"Density", 0, -100, 100, 0, 0, 0, N, "%+.0f"}};
// The decays default to 0.3 s times the envelope's number.
const Row kEnv[8] = {
    {"Initial", 0, 0, 1, 0, 0.2f, N, N, "%.3f"},       {"Attack", 1, 0, 5000, 4, 10, N, N, "%.0f ms"},
    {"Decay", 1, 0.01f, 10, 3, 0.3f, N, N, "%.2f s"},   {"Sustain", 0, 0, 1, 0, 0.5f, N, N, "%.3f"},
    {"Release", 1, 0.01f, 10, 3, 0.2f, N, N, "%.2f s"}, {"Attack Shape", 0, -1, 1, 0, -0.5f, N, N, "%.2f"},
    {"Decay Shape", 0, -1, 1, 0, 0.3f, N, N, "%.2f"},   {"Release Shape", 0, -1, 1, 0, 0.5f, N, N, "%.2f"}};
const Row kLfo[6] = {
    {"Beatsync", 5, 0, 1, 0, 0, N, N, "off|on"}, {"Rate", 1, 0.01f, 20, 2, 0.25f, N, N, "%3.2f Hz"},
    {"Beat Rate", 5, 0, 14, 0, 7, N, N, nullptr}, {"Loop", 5, 0, 1, 0, 1, N, N, "off|on"},
    {"Retrigger", 5, 0, 1, 0, 0, N, N, "off|on"}, {"Per Voice", 5, 0, 1, 0, 0, N, N, "off|on"}};
// Each row targets its own number by default.
const Row kMod[4] = {{"Source", 5, 0, 14, 0, 0, N, N, nullptr}, {"Amount", 0, -1, 1, 2, 0, 0, N, "%+.3f"},
                     {"Scaler", 5, 0, 5, 0, 0, N, N, nullptr}, {"Target", 5, 0, 108, 0, 0, N, N, nullptr}};
// Power and type, then the two records of the slot's default effect: Chorus, Diffuser,
// Sticky Compressor, L.A. Optical.
const Row kSlots[16] = {
    {"Power", 5, 0, 1, 0, 1, N, N, "off|on"}, {"Type", 5, 0, 7, 0, 0, N, N, nullptr},
    {"Depth", 3, 1, 100, 0, 10, N, N, nullptr}, {"Rate", 1, 0.5f, 10, 2, 2, N, N, nullptr},
    {"Power", 5, 0, 1, 0, 0, N, N, "off|on"}, {"Type", 5, 0, 7, 0, 1, N, N, nullptr},
    {"Length", 0, 0, 100, 0, 50, N, N, nullptr}, {"Pre-delay", 1, 0, 300, 2, 10, N, N, nullptr},
    {"Power", 5, 0, 1, 0, 1, N, N, "off|on"}, {"Type", 5, 0, 5, 0, 0, N, N, nullptr},
    {"Gain", 0, 0, 48, 0, 6, N, N, nullptr}, {"Speed", 0, 0, 100, 0, 50, N, N, nullptr},
    {"Power", 5, 0, 1, 0, 0, N, N, "off|on"}, {"Type", 5, 0, 5, 0, 1, N, N, nullptr},
    {"Gain", 0, 0, 48, 0, 12, N, N, nullptr}, {"Speed", 0, 0, 100, 0, 50, N, N, nullptr}};
const Row kSynth[11] = {
    {"SynthTrack", 5, -1, 7, 0, -1, N, N, ""},             {"Oscillator", 5, 0, 11, 0, 0, N, N, nullptr},
    {"Stretch", 0, -100, 100, 0, 0, N, N, "%.0f%%"},       {"Unison", 0, 0, 50, 0, 10, N, N, "%.0f cent"},
    {"Key Track", 0, 0, 100, 0, 20, N, N, "%.0f%%"},       {"Sustain Pos", 1, 0.01f, 5, 4, 0.3f, N, N, "%.2f s"},
    {"Legato", 5, 0, 1, 0, 0, N, N, "off|on"},             {"Glide Time", 1, 0, 500, 3, 0, N, N, "%.0f ms"},
    {"Detune", 0, -1200, 1200, 0, 0, N, N, "%.0f cent"},   {"Pitchbend Down", 5, -24, 24, 0, -2, N, N, "%.0f"},
    {"Pitchbend Up", 5, -24, 24, 0, 2, N, N, "%.0f"}};

std::string text(const Param& p, float v, int size = 64) {
  std::vector<char> buffer(static_cast<size_t>(size), '#');
  p.formatValue(buffer.data(), size, v);
  return std::string(buffer.data());
}

std::string names(const Param& p) {
  std::string out;
  for (int i = 0; i < p.valueNameCount; ++i) out.append(i > 0 ? "|" : "").append(p.valueNames[i]);
  return out;
}

class BandSynthParams : public ::testing::Test {
 protected:
  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
};

TEST_F(BandSynthParams, EveryRecordMatchesTheTable) {
  ASSERT_EQ(engine->params.size(), 281u);
  size_t index = 0;
  const auto check = [&](const std::string& prefix, const Row& r, float def) {
    const Param& p = engine->params[index];
    SCOPED_TRACE(std::to_string(index) + " " + prefix + " " + r.label);
    EXPECT_EQ(p.index, static_cast<int32_t>(index++));
    EXPECT_STREQ(p.label, r.label);
    EXPECT_EQ(p.groupPrefix == nullptr ? "" : p.groupPrefix, prefix);
    EXPECT_EQ(p.kind, static_cast<uint32_t>(r.kind));
    EXPECT_TRUE(p.min == r.min && p.max == r.max && p.defaultValue == def && p.value == def);
    EXPECT_TRUE(r.kind != 1 || p.shapeExponent == r.exponent);
    EXPECT_EQ(p.snapCount, (r.snapA != N) + (r.snapB != N));
    EXPECT_TRUE(r.snapA == N || p.snapValues[0] == r.snapA);
    EXPECT_TRUE(r.snapB == N || p.snapValues[1] == r.snapB);
    EXPECT_TRUE(r.format == nullptr || (p.format != nullptr && std::string(p.format) == r.format));
  };
  for (int t = 0; t < 8; ++t)
    for (const Row& r : kTrack) check("Track " + std::to_string(t + 1), r, r.def);
  for (const Row& r : kGlobal) check("Global", r, r.def);
  for (int e = 0; e < 4; ++e)
    for (const Row& r : kEnv) check("Env" + std::to_string(e + 1), r, r.exponent == 3 && r.def == 0.3f ? 0.3f * (e + 1) : r.def);
  for (int l = 0; l < 4; ++l)
    for (const Row& r : kLfo) check("LFO" + std::to_string(l + 1), r, r.def);
  for (int m = 0; m < 8; ++m)
    for (const Row& r : kMod) check("Mod" + std::to_string(m + 1), r, r.max == 108 ? static_cast<float>(m) : r.def);
  for (const Row& r : kSlots) check("", r, r.def);
  for (const Row& r : kSynth) check("Synth", r, r.def);
  EXPECT_EQ(index, 281u);
  EXPECT_FLOAT_EQ(engine->params[223].shapeExponent, 2.0f);  // stored though a linear mapping ignores it

  // Groups: tracks, Global, envelopes, LFOs, rows, slots, Synth, and the end.
  const auto& g = engine->paramGroups;
  const std::vector<std::vector<int32_t>> groups = {{0, 20, 40, 60, 80, 100, 120, 140}, {160}, {166, 174, 182, 190},
                                                    {198, 204, 210, 216}, {222, 226, 230, 234, 238, 242, 246, 250},
                                                    {254, 258, 262, 266}, {270}, {281}};
  EXPECT_EQ(g, groups);
}

TEST_F(BandSynthParams, ValueNames) {
  EXPECT_EQ(names(engine->params[12]), "None|Transform|Timescale|Contrast|Kick|Snare|Tom|Hihat Closed|Hihat Open|Crash|Piano");
  EXPECT_EQ(text(engine->params[12], 4), "Kick");
  EXPECT_EQ(names(engine->params[6]), "Main|Bus 1|Bus 2|Bus 3|Bus 4|Bus 5|Bus 6|Bus 7|Bus 8");
  EXPECT_EQ(text(engine->params[15], 1), "Frozen");
  EXPECT_EQ(names(engine->params[271]),
            "Saw|Square|Pulse1|Pulse2|Octaves|Fibonacci|Metallic|RoundRobin|DrawBar|Sevenths|MajorChord|MinorChord");
  EXPECT_EQ(text(engine->params[270], -1), "-1.000");
  EXPECT_EQ(names(engine->params[200]), "4/1|3/1|2/1|3/2|1/1|6/8|1/2|1/4|3/16|1/6|1/8|1/12|1/16|1/24|1/32");
  EXPECT_EQ(names(engine->params[222]),
            "-|Env 1|Env 2|Env 3|Env 4|LFO 1|LFO 2|LFO 3|LFO 4|Constant|BPM Octave|Noise White|Noise Pink|"
            "Noise Brown|Noise Hold");
  EXPECT_EQ(names(engine->params[224]), "-|Velocity|Mod Wheel|Pitchbend|Aftertouch|Note Octave");
  const std::string sends = "Chorus|Diffuser|Plate Reverb|Room Reverb|Spring Reverb|Tempo Delay|Compressor|Stereo Fuzz";
  const std::string mains = "Sticky Compressor|L.A. Optical|Upward Compressor|Limiter|Tape Simulator|Transformer Amp";
  for (int s = 0; s < 4; ++s) EXPECT_EQ(names(engine->params[255 + 4 * s]), s < 2 ? sends : mains);
}

TEST_F(BandSynthParams, ExposedListsTargetsAndTheirNames) {
  std::vector<int32_t> expected = {160, 161, 162, 163, 164, 165};
  for (int t = 0; t < 8; ++t)
    for (int k : {8, 9, 10, 11, 14, 0, 1, 7, 2, 3, 4, 5}) expected.push_back(20 * t + k);
  for (int k : {271, 272, 273, 274, 275, 277, 278}) expected.push_back(k);
  ASSERT_EQ(expected.size(), 109u);
  EXPECT_EQ(engine->exposedParams(), expected);
  for (int t = 0; t < 8; ++t)
    EXPECT_EQ(engine->trackModParams[t], std::vector<int32_t>(expected.begin() + 6 + 12 * t, expected.begin() + 18 + 12 * t));
  EXPECT_EQ(engine->sharedModParams, (std::vector<int32_t>{160, 161, 162, 163, 164, 165, 271, 272, 273, 274, 275, 277, 278}));

  // Every target in index order: the exposed ones and each row's "Amount".
  std::vector<int32_t> targets = expected;
  for (int r = 0; r < 8; ++r) targets.push_back(223 + 4 * r);
  std::sort(targets.begin(), targets.end());
  ASSERT_EQ(engine->modTargets.size(), 117u);
  EXPECT_EQ(engine->modTargets, targets);
  for (size_t i = 0; i < targets.size(); ++i)
    EXPECT_EQ(engine->params[static_cast<size_t>(targets[i])].modTargetIndex, static_cast<int32_t>(i));
  for (const Param& p : engine->params)
    EXPECT_EQ(p.modTargetIndex >= 0, std::count(targets.begin(), targets.end(), p.index) == 1) << p.index;

  // A row's "Target" names the exposed records; the bar shows as a blank.
  const Param& target = engine->params[225];
  ASSERT_EQ(target.valueNameCount, 109);
  for (int i = 0; i < 109; ++i) {
    const Param& p = engine->params[static_cast<size_t>(expected[static_cast<size_t>(i)])];
    EXPECT_EQ(std::string(target.valueNames[i]), std::string(p.groupPrefix) + "|" + p.label);
  }
  EXPECT_STREQ(target.valueNames[108], "Synth|Detune");
  EXPECT_EQ(text(target, 11), "Track 1 Amp");
}

// Host automation sends normalised values: a stepped record takes step k from halfway below it
// to halfway above it ((k -+ 0.5) / steps), the ends from 0 and 1, and the value a step reports
// to the host brings it back to that step.
TEST_F(BandSynthParams, StepsUnderHostAutomation) {
  const struct {
    const char* what;
    int32_t index;
    float min, max;
  } stepped[] = {
      {"slot Power", BandSynth::slotParam(1, SlotParam::kPower), 0, 1},
      {"LFO Beatsync", BandSynth::lfoParam(2, LfoParam::kBeatsync), 0, 1},
      {"LFO Loop", BandSynth::lfoParam(0, LfoParam::kLoop), 0, 1},
      {"LFO Retrigger", BandSynth::lfoParam(1, LfoParam::kRetrigger), 0, 1},
      {"LFO Per Voice", BandSynth::lfoParam(3, LfoParam::kPerVoice), 0, 1},
      {"Legato", BandSynth::synthParam(SynthParam::kLegato), 0, 1},
      {"Seed Mode", BandSynth::trackParam(4, TrackParam::kSeedMode), 0, 1},
      {"send Type", BandSynth::slotParam(0, SlotParam::kType), 0, 7},
      {"main Type", BandSynth::slotParam(3, SlotParam::kType), 0, 5},
      {"Output", BandSynth::trackParam(6, TrackParam::kOutput), 0, 8},
      {"Polyphony", BandSynth::trackParam(2, TrackParam::kPolyphony), 1, 8},
      {"SynthTrack", BandSynth::synthParam(SynthParam::kSynthTrack), -1, 7},
  };
  for (const auto& r : stepped) {
    Param& p = engine->params[static_cast<size_t>(r.index)];
    ASSERT_TRUE(p.kind == Param::kStepped && p.min == r.min && p.max == r.max) << r.what;
    const float steps = r.max - r.min;
    EXPECT_EQ(p.setNormalized(0.0f), r.min) << r.what;
    EXPECT_EQ(p.setNormalized(1.0f), r.max) << r.what;
    for (float k = 0; k <= steps; ++k) {
      const float value = r.min + k;
      EXPECT_EQ(p.setNormalized(std::max((k - 0.5f) / steps + 1e-4f, 0.0f)), value) << r.what << " " << k;
      EXPECT_EQ(p.setNormalized(std::min((k + 0.5f) / steps - 1e-4f, 1.0f)), value) << r.what << " " << k;
      EXPECT_EQ(p.fromNormalized(p.toNormalized(value)), value) << r.what << " " << k;
      EXPECT_NEAR(p.toNormalized(value), k / steps, 1e-6f) << r.what << " " << k;
    }
  }
}

TEST_F(BandSynthParams, GainAndPanTextsStayInTheirBuffers) {
  const Param& amp = engine->params[0];
  const Param& pan = engine->params[1];
  const struct {
    const Param* p;
    float value;
    const char* shown;
  } cases[] = {{&pan, -25, "25 L"}, {&pan, 25, "25 R"},    {&pan, 0, "0  "}, {&amp, 1, "+0 dB"},
               {&amp, 4, "+12 dB"}, {&amp, 0.5f, "-6 dB"}, {&engine->params[4], 0, "-inf dB"}};
  for (const auto& c : cases) EXPECT_EQ(text(*c.p, c.value), c.shown);
  EXPECT_EQ(text(amp, 1, 3), "+0");  // bounded by the caller's buffer, always terminated
  EXPECT_EQ(text(pan, -25, 2), "2");
  EXPECT_EQ(text(pan, -25, 1), "");
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  formatPan(-1e30f, buffer);  // never more than ten bytes, whatever the value
  EXPECT_LT(std::strlen(buffer), 10u);
  std::memset(buffer, 'x', sizeof buffer);
  formatGain(-1.0f, buffer);
  EXPECT_LT(std::strlen(buffer), 10u);
}

}  // namespace
