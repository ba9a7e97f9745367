#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/BandSynth.h"
#include "engine/ParamFormatters.h"

namespace {

constexpr float kNone = 1e35f;

// One expected record, typed from the parameter tables.
struct Row {
  int index;
  const char* label;
  const char* prefix;  // null: none
  int kind;
  float min, max, exponent, def;
  bool target;
  float snapA, snapB;  // kNone: no snap
  int minVersion;
  const char* format;  // null: not checked (formatter or names)
};

const char* kTrackPrefixes[8] = {"Track 1", "Track 2", "Track 3", "Track 4",
                                 "Track 5", "Track 6", "Track 7", "Track 8"};

std::vector<Row> expectedRows() {
  std::vector<Row> rows;
  for (int t = 0; t < 8; ++t) {
    const char* p = kTrackPrefixes[t];
    const int b = 20 * t;
    rows.push_back({b + 0, "Amp", p, 1, 0, 4, 2, 1, true, 1, kNone, 0, nullptr});
    rows.push_back({b + 1, "Pan", p, 0, -100, 100, 0, 0, true, 0, kNone, 0, nullptr});
    rows.push_back({b + 2, "Filter", p, 0, -100, 100, 0, 0, true, 0, kNone, 0, "%.0f"});
    rows.push_back({b + 3, "Clip", p, 0, 0, 100, 0, 0, true, kNone, kNone, 0, "%.0f"});
    rows.push_back({b + 4, "Send 1", p, 1, 0, 4, 2, 0, true, kNone, kNone, 0, nullptr});
    rows.push_back({b + 5, "Send 2", p, 1, 0, 4, 2, 0, true, kNone, kNone, 0, nullptr});
    rows.push_back({b + 6, "Output", p, 5, 0, 8, 0, 0, false, kNone, kNone, 0, nullptr});
    rows.push_back({b + 7, "Width", p, 0, 0, 100, 0, 25, true, kNone, kNone, 0, "%.0f%%"});
    rows.push_back({b + 8, "Timescale", p, 3, 0.125f, 8, 0, 1, true, 1, kNone, 0, "%.2f"});
    rows.push_back({b + 9, "Frequency", p, 0, -800, 800, 0, 0, true, 0, kNone, 0, "%+.0f mel"});
    rows.push_back({b + 10, "Contrast", p, 0, -100, 100, 0, 0, true, 0, kNone, 0, "%+.0f"});
    rows.push_back({b + 11, "Transform", p, 0, 0, 100, 0, 0, true, kNone, kNone, 0, "%.0f"});
    rows.push_back({b + 12, "Model", p, 5, 0, 10, 0, 0, false, kNone, kNone, 0, "%.1f"});
    rows.push_back({b + 13, "Dynamics", p, 0, 0, 100, 0, 50, false, kNone, kNone, 0, "%.0f%%"});
    rows.push_back({b + 14, "Density", p, 0, -100, 100, 0, 0, true, 0, kNone, 0, "%+.0f"});
    rows.push_back({b + 15, "Seed Mode", p, 5, 0, 1, 0, 0, false, kNone, kNone, 0, "Free|Frozen"});
    rows.push_back({b + 16, "Seed", p, 5, 0, 999, 0, 555, false, kNone, kNone, 0, "%.0f"});
    rows.push_back({b + 17, "Polyphony", p, 5, 1, 8, 0, 1, false, kNone, kNone, 0, "%.0f"});
    rows.push_back({b + 18, "Release", p, 3, 0.01f, 100, 0, 10, false, kNone, kNone, 0, "%4.2f s"});
    rows.push_back({b + 19, "Damping", p, 0, 0, 100, 0, 25, false, kNone, kNone, 0, "%.0f%%"});
  }
  rows.push_back({160, "Amp", "Global", 0, -100, 100, 0, 1, true, 0, kNone, 0, "%.0f"});
  rows.push_back({161, "Timescale", "Global", 3, 0.125f, 8, 0, 1, true, 1, kNone, 0, "%.2f"});
  rows.push_back({162, "Frequency", "Global", 0, -800, 800, 0, 0, true, 0, kNone, 0, "%+.0f mel"});
  rows.push_back({163, "Contrast", "Global", 0, -100, 100, 0, 0, true, 0, kNone, 0, "%+.0f"});
  rows.push_back({164, "Transform", "Global", 0, -100, 100, 0, 0, true, 0, 100, 0, "%.1f"});
  rows.push_back({165, "Density", "Global", 0, -100, 100, 0, 0, true, 0, kNone, 0, "%+.0f"});
  const char* envPrefixes[4] = {"Env1", "Env2", "Env3", "Env4"};
  for (int e = 0; e < 4; ++e) {
    const int b = 166 + 8 * e;
    const char* p = envPrefixes[e];
    rows.push_back({b + 0, "Initial", p, 0, 0, 1, 0, 0.2f, false, kNone, kNone, 0, "%.3f"});
    rows.push_back({b + 1, "Attack", p, 1, 0, 5000, 4, 10, false, kNone, kNone, 0, "%.0f ms"});
    rows.push_back({b + 2, "Decay", p, 1, 0.01f, 10, 3, static_cast<float>(e + 1) * 0.3f, false, kNone, kNone, 0,
                    "%.2f s"});
    rows.push_back({b + 3, "Sustain", p, 0, 0, 1, 0, 0.5f, false, kNone, kNone, 0, "%.3f"});
    rows.push_back({b + 4, "Release", p, 1, 0.01f, 10, 3, 0.2f, false, kNone, kNone, 0, "%.2f s"});
    rows.push_back({b + 5, "Attack Shape", p, 0, -1, 1, 0, -0.5f, false, kNone, kNone, 0, "%.2f"});
    rows.push_back({b + 6, "Decay Shape", p, 0, -1, 1, 0, 0.3f, false, kNone, kNone, 0, "%.2f"});
    rows.push_back({b + 7, "Release Shape", p, 0, -1, 1, 0, 0.5f, false, kNone, kNone, 0, "%.2f"});
  }
  const char* lfoPrefixes[4] = {"LFO1", "LFO2", "LFO3", "LFO4"};
  for (int l = 0; l < 4; ++l) {
    const int b = 198 + 6 * l;
    const char* p = lfoPrefixes[l];
    rows.push_back({b + 0, "Beatsync", p, 5, 0, 1, 0, 0, false, kNone, kNone, 0, "off|on"});
    rows.push_back({b + 1, "Rate", p, 1, 0.01f, 20, 2, 0.25f, false, kNone, kNone, 0, "%3.2f Hz"});
    rows.push_back({b + 2, "Beat Rate", p, 5, 0, 14, 0, 7, false, kNone, kNone, 0, nullptr});
    rows.push_back({b + 3, "Loop", p, 5, 0, 1, 0, 1, false, kNone, kNone, 0, "off|on"});
    rows.push_back({b + 4, "Retrigger", p, 5, 0, 1, 0, 0, false, kNone, kNone, 0, "off|on"});
    rows.push_back({b + 5, "Per Voice", p, 5, 0, 1, 0, 0, false, kNone, kNone, 0, "off|on"});
  }
  const char* modPrefixes[8] = {"Mod1", "Mod2", "Mod3", "Mod4", "Mod5", "Mod6", "Mod7", "Mod8"};
  for (int r = 0; r < 8; ++r) {
    const int b = 222 + 4 * r;
    const char* p = modPrefixes[r];
    rows.push_back({b + 0, "Source", p, 5, 0, 14, 0, 0, false, kNone, kNone, 0, nullptr});
    rows.push_back({b + 1, "Amount", p, 0, -1, 1, 2, 0, true, 0, kNone, 0, "%+.3f"});
    rows.push_back({b + 2, "Scaler", p, 5, 0, 5, 0, 0, false, kNone, kNone, 0, nullptr});
    rows.push_back({b + 3, "Target", p, 5, 0, 108, 0, static_cast<float>(r), false, kNone, kNone, 0, nullptr});
  }
  // The effect slots: the records #2 and #3 come from each slot's default effect.
  struct Fx {
    const char* l0;
    int k0;
    float min0, max0, e0, d0;
    const char* l1;
    int k1;
    float min1, max1, e1, d1;
  };
  const Fx fx[4] = {{"Depth", 3, 1, 100, 0, 10, "Rate", 1, 0.5f, 10, 2, 2},              // Chorus
                    {"Length", 0, 0, 100, 0, 50, "Pre-delay", 1, 0, 300, 2, 10},         // Diffuser
                    {"Gain", 0, 0, 48, 0, 6, "Speed", 0, 0, 100, 0, 50},                  // Sticky Compressor
                    {"Gain", 0, 0, 48, 0, 12, "Speed", 0, 0, 100, 0, 50}};                // L.A. Optical
  for (int s = 0; s < 4; ++s) {
    const int b = 254 + 4 * s;
    const bool first = s % 2 == 0;
    rows.push_back({b + 0, "Power", nullptr, 5, 0, 1, 0, first ? 1.0f : 0.0f, false, kNone, kNone, 0, "off|on"});
    rows.push_back({b + 1, "Type", nullptr, 5, 0, s < 2 ? 7.0f : 5.0f, 0, first ? 0.0f : 1.0f, false, kNone, kNone,
                    0, nullptr});
    rows.push_back({b + 2, fx[s].l0, nullptr, fx[s].k0, fx[s].min0, fx[s].max0, fx[s].e0, fx[s].d0, false, kNone,
                    kNone, 0, nullptr});
    rows.push_back({b + 3, fx[s].l1, nullptr, fx[s].k1, fx[s].min1, fx[s].max1, fx[s].e1, fx[s].d1, false, kNone,
                    kNone, 0, nullptr});
  }
  const char* s = "Synth";
  rows.push_back({270, "SynthTrack", s, 5, -1, 7, 0, -1, false, kNone, kNone, 3, ""});
  rows.push_back({271, "Oscillator", s, 5, 0, 11, 0, 0, true, kNone, kNone, 3, nullptr});
  rows.push_back({272, "Stretch", s, 0, -100, 100, 0, 0, true, kNone, kNone, 3, "%.0f%%"});
  rows.push_back({273, "Unison", s, 0, 0, 50, 0, 10, true, kNone, kNone, 3, "%.0f cent"});
  rows.push_back({274, "Key Track", s, 0, 0, 100, 0, 20, true, kNone, kNone, 3, "%.0f%%"});
  rows.push_back({275, "Sustain Pos", s, 1, 0.01f, 5, 4, 0.3f, true, kNone, kNone, 3, "%.2f s"});
  rows.push_back({276, "Legato", s, 5, 0, 1, 0, 0, false, kNone, kNone, 3, "off|on"});
  rows.push_back({277, "Glide Time", s, 1, 0, 500, 3, 0, true, kNone, kNone, 3, "%.0f ms"});
  rows.push_back({278, "Detune", s, 0, -1200, 1200, 0, 0, true, kNone, kNone, 3, "%.0f cent"});
  rows.push_back({279, "Pitchbend Down", s, 5, -24, 24, 0, -2, false, kNone, kNone, 4, "%.0f"});
  rows.push_back({280, "Pitchbend Up", s, 5, -24, 24, 0, 2, false, kNone, kNone, 4, "%.0f"});
  return rows;
}

std::string text(const Param& p, float v, int size = 64) {
  std::vector<char> buffer(static_cast<size_t>(size), '#');
  p.formatValue(buffer.data(), size, v);
  return std::string(buffer.data());
}

std::vector<std::string> names(const Param& p) {
  std::vector<std::string> out;
  for (int i = 0; i < p.valueNameCount; ++i) out.emplace_back(p.valueNames[i]);
  return out;
}

class BandSynthParams : public ::testing::Test {
 protected:
  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
};

TEST_F(BandSynthParams, EveryRecordMatchesTheTables) {
  const std::vector<Row> rows = expectedRows();
  ASSERT_EQ(rows.size(), 281u);
  ASSERT_EQ(engine->params.size(), 281u);
  std::vector<bool> seen(281, false);
  for (const Row& r : rows) {
    SCOPED_TRACE("parameter " + std::to_string(r.index) + " " + r.label);
    ASSERT_FALSE(seen[static_cast<size_t>(r.index)]);
    seen[static_cast<size_t>(r.index)] = true;
    const Param& p = engine->params[static_cast<size_t>(r.index)];
    EXPECT_EQ(p.index, r.index);
    EXPECT_STREQ(p.label, r.label);
    if (r.prefix == nullptr) {
      EXPECT_EQ(p.groupPrefix, nullptr);
    } else {
      ASSERT_NE(p.groupPrefix, nullptr);
      EXPECT_STREQ(p.groupPrefix, r.prefix);
    }
    EXPECT_EQ(p.kind, static_cast<uint32_t>(r.kind));
    EXPECT_FLOAT_EQ(p.min, r.min);
    EXPECT_FLOAT_EQ(p.max, r.max);
    if (r.kind == 1) {
      EXPECT_FLOAT_EQ(p.shapeExponent, r.exponent);
    }
    EXPECT_FLOAT_EQ(p.defaultValue, r.def);
    EXPECT_FLOAT_EQ(p.value, r.def);
    EXPECT_EQ(p.modTargetIndex >= 0, r.target);
    EXPECT_EQ(p.minStateVersion, r.minVersion);
    const int snaps = (r.snapA != kNone) + (r.snapB != kNone);
    EXPECT_EQ(p.snapCount, snaps);
    if (snaps > 0) {
      EXPECT_FLOAT_EQ(p.snapValues[0], r.snapA);
    }
    if (snaps > 1) {
      EXPECT_FLOAT_EQ(p.snapValues[1], r.snapB);
    }
    if (r.format != nullptr) {
      ASSERT_NE(p.format, nullptr);
      EXPECT_STREQ(p.format, r.format);
    }
  }
  // The amount records store the exponent 2 although it does not change a linear mapping.
  EXPECT_FLOAT_EQ(engine->params[223].shapeExponent, 2.0f);
}

TEST_F(BandSynthParams, GroupsStartWhereTheCountsSay) {
  const auto& g = engine->paramGroups;
  ASSERT_EQ(g.size(), 8u);
  const std::vector<size_t> members = {8, 1, 4, 4, 8, 4, 1, 1};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(g[i].size(), members[i]) << i;
  for (int t = 0; t < 8; ++t) EXPECT_EQ(g[0][static_cast<size_t>(t)], 20 * t);
  EXPECT_EQ(g[1][0], 160);
  for (int e = 0; e < 4; ++e) EXPECT_EQ(g[2][static_cast<size_t>(e)], 166 + 8 * e);
  for (int l = 0; l < 4; ++l) EXPECT_EQ(g[3][static_cast<size_t>(l)], 198 + 6 * l);
  for (int r = 0; r < 8; ++r) EXPECT_EQ(g[4][static_cast<size_t>(r)], 222 + 4 * r);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(g[5][static_cast<size_t>(s)], 254 + 4 * s);
  EXPECT_EQ(g[6][0], 270);
  EXPECT_EQ(g[7][0], 281);
}

TEST_F(BandSynthParams, ValueNames) {
  const Param& model = engine->params[12];
  EXPECT_EQ(names(model),
            (std::vector<std::string>{"None", "Transform", "Timescale", "Contrast", "Kick", "Snare", "Tom",
                                      "Hihat Closed", "Hihat Open", "Crash", "Piano"}));
  EXPECT_EQ(text(model, 4), "Kick");
  EXPECT_EQ(names(engine->params[6]), (std::vector<std::string>{"Main", "Bus 1", "Bus 2", "Bus 3", "Bus 4", "Bus 5",
                                                                "Bus 6", "Bus 7", "Bus 8"}));
  EXPECT_EQ(text(engine->params[15], 1), "Frozen");
  EXPECT_EQ(names(engine->params[271]),
            (std::vector<std::string>{"Saw", "Square", "Pulse1", "Pulse2", "Octaves", "Fibonacci", "Metallic",
                                      "RoundRobin", "DrawBar", "Sevenths", "MajorChord", "MinorChord"}));
  EXPECT_EQ(text(engine->params[270], -1), "-1.000");
  EXPECT_EQ(names(engine->params[200]),
            (std::vector<std::string>{"4/1", "3/1", "2/1", "3/2", "1/1", "6/8", "1/2", "1/4", "3/16", "1/6", "1/8",
                                      "1/12", "1/16", "1/24", "1/32"}));
  EXPECT_EQ(names(engine->params[222]),
            (std::vector<std::string>{"-", "Env 1", "Env 2", "Env 3", "Env 4", "LFO 1", "LFO 2", "LFO 3", "LFO 4",
                                      "Constant", "BPM Octave", "Noise White", "Noise Pink", "Noise Brown",
                                      "Noise Hold"}));
  EXPECT_EQ(names(engine->params[224]),
            (std::vector<std::string>{"-", "Velocity", "Mod Wheel", "Pitchbend", "Aftertouch", "Note Octave"}));
  const std::vector<std::string> sends = {"Chorus",        "Diffuser",    "Plate Reverb", "Room Reverb",
                                          "Spring Reverb", "Tempo Delay", "Compressor",   "Stereo Fuzz"};
  const std::vector<std::string> mains = {"Sticky Compressor", "L.A. Optical",   "Upward Compressor",
                                          "Limiter",           "Tape Simulator", "Transformer Amp"};
  EXPECT_EQ(names(engine->params[255]), sends);
  EXPECT_EQ(names(engine->params[259]), sends);
  EXPECT_EQ(names(engine->params[263]), mains);
  EXPECT_EQ(names(engine->params[267]), mains);
}

TEST_F(BandSynthParams, ExposedListsInRowOrder) {
  std::vector<int32_t> expected = {160, 161, 162, 163, 164, 165};
  for (int t = 0; t < 8; ++t) {
    for (int k : {8, 9, 10, 11, 14, 0, 1, 7, 2, 3, 4, 5}) expected.push_back(20 * t + k);
  }
  for (int k : {271, 272, 273, 274, 275, 277, 278}) expected.push_back(k);
  ASSERT_EQ(expected.size(), 109u);
  EXPECT_EQ(engine->exposedParams(), expected);

  for (int t = 0; t < 8; ++t) {
    const std::vector<int32_t> own(expected.begin() + 6 + 12 * t, expected.begin() + 18 + 12 * t);
    EXPECT_EQ(engine->trackModParams[t], own);
  }
  EXPECT_EQ(engine->sharedModParams,
            (std::vector<int32_t>{160, 161, 162, 163, 164, 165, 271, 272, 273, 274, 275, 277, 278}));

  // Every target in index order: the exposed ones and each row's "Amount".
  std::vector<int32_t> targets = expected;
  for (int r = 0; r < 8; ++r) targets.push_back(223 + 4 * r);
  std::sort(targets.begin(), targets.end());
  ASSERT_EQ(engine->modTargets.size(), 117u);
  EXPECT_EQ(engine->modTargets, targets);
  for (size_t i = 0; i < targets.size(); ++i) {
    EXPECT_EQ(engine->params[static_cast<size_t>(targets[i])].modTargetIndex, static_cast<int32_t>(i));
  }
}

TEST_F(BandSynthParams, TargetNames) {
  const Param& target = engine->params[225];
  ASSERT_EQ(target.valueNameCount, 109);
  EXPECT_STREQ(target.valueNames[0], "Global|Amp");
  EXPECT_STREQ(target.valueNames[6], "Track 1|Timescale");
  EXPECT_STREQ(target.valueNames[11], "Track 1|Amp");
  EXPECT_STREQ(target.valueNames[108], "Synth|Detune");
  // The bar shows as a blank.
  EXPECT_EQ(text(target, 11), "Track 1 Amp");
  for (int i = 0; i < 109; ++i) {
    const Param& p = engine->params[static_cast<size_t>(engine->exposedParams()[static_cast<size_t>(i)])];
    EXPECT_EQ(std::string(target.valueNames[i]), std::string(p.groupPrefix) + "|" + p.label);
  }
  // Each row's default target is its own position in the list.
  for (int r = 0; r < 8; ++r) {
    std::string shown = target.valueNames[r];
    shown[shown.find('|')] = ' ';
    EXPECT_EQ(text(engine->params[static_cast<size_t>(225 + 4 * r)], engine->params[static_cast<size_t>(225 + 4 * r)].value), shown);
  }
}

TEST_F(BandSynthParams, GainAndPanTexts) {
  const Param& amp = engine->params[0];
  const Param& pan = engine->params[1];
  const Param& send = engine->params[4];
  EXPECT_EQ(text(pan, -25), "25 L");
  EXPECT_EQ(text(pan, 25), "25 R");
  EXPECT_EQ(text(pan, 0), "0  ");
  EXPECT_EQ(text(amp, 1), "+0 dB");
  EXPECT_EQ(text(amp, 4), "+12 dB");
  EXPECT_EQ(text(amp, 0.5f), "-6 dB");
  EXPECT_EQ(text(send, 0), "-inf dB");
  // Bounded by the caller's buffer, always terminated.
  EXPECT_EQ(text(amp, 1, 3), "+0");
  EXPECT_EQ(text(pan, -25, 2), "2");
  EXPECT_EQ(text(pan, -25, 1), "");
  // Never more than ten bytes, whatever the value.
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  formatPan(-1e30f, buffer);
  EXPECT_LT(std::strlen(buffer), 10u);
  std::memset(buffer, 'x', sizeof buffer);
  formatGain(-1.0f, buffer);
  EXPECT_LT(std::strlen(buffer), 10u);

  EXPECT_EQ(amp.valueTransform, send.valueTransform);
  ASSERT_NE(amp.valueTransform, nullptr);
  EXPECT_NEAR(amp.valueTransform(-6.0f), std::pow(10.0, -0.3), 1e-6);
  EXPECT_NEAR(amp.valueTransform(20.0f), 10.0, 1e-5);
  EXPECT_EQ(pan.valueTransform, nullptr);
}

TEST_F(BandSynthParams, FreshEngineState) {
  EXPECT_EQ(engine->muteMask, 0);
  EXPECT_EQ(engine->soloTrack, -1);
  EXPECT_EQ(engine->keepFxParams, 0);
  EXPECT_FLOAT_EQ(engine->modMatrix.tempo, 120.0f);
  EXPECT_FALSE(engine->meteringOn);
  EXPECT_TRUE(engine->effectsReady);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(engine->slot(s).typeIndex.load(), -1);
  for (auto& channel : engine->controllers) {
    for (float c : channel) EXPECT_EQ(c, 0.0f);
  }
  ASSERT_EQ(engine->lfoShapes.size(), 4u);
  for (const PointCurve& shape : engine->lfoShapes) {
    EXPECT_EQ(shape.maxPoints(), 64);
    EXPECT_EQ(shape.count, 3);
    // Four copies of one curve.
    EXPECT_EQ(shape.points[1].x, engine->lfoShapes[0].points[1].x);
  }
  for (const DrumTrack& track : engine->tracks) {
    EXPECT_EQ(track.processor, nullptr);
    EXPECT_EQ(track.velocityCurve.count, 2);
    float y = -1;
    track.velocityCurve.evaluate(0.3f, &y);
    EXPECT_FLOAT_EQ(y, 0.3f);
    EXPECT_EQ(track.ringIndexA.load(), 0);
    EXPECT_EQ(track.ringIndexB.load(), 0);
    for (const DrumVoice& v : track.voices) {
      EXPECT_EQ(v.track, -1);
      EXPECT_EQ(v.partialPhases[1][511], 0.0f);
    }
  }
  // Mute and solo: every unmuted track, or the solo track alone.
  engine->muteMask = 0b100;
  EXPECT_TRUE(engine->isTrackAudible(0));
  EXPECT_FALSE(engine->isTrackAudible(2));
  engine->soloTrack = 2;
  EXPECT_TRUE(engine->isTrackAudible(2));
  EXPECT_FALSE(engine->isTrackAudible(0));
  EXPECT_FALSE(engine->isTrackAudible(8));
}

}  // namespace
