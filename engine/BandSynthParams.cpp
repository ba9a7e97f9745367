// The engine's parameter set: every record's range, default and display rule.
#include <cstdio>
#include <memory>

#include "effects/EffectRegistry.h"
#include "engine/BandSynth.h"
#include "engine/core/NumberedTexts.h"
#include "engine/core/ParamFormatters.h"
#include "engine/modulation/ModSourceParams.h"
#include "engine/voice/ReferenceModel.h"

namespace {

constexpr int32_t kModelChoices = 4;  // "None", "Transform", "Timescale", "Contrast"
constexpr int32_t kMaxModels = 16;

const char* trackPrefix(int32_t t) {
  static const NumberedTexts<BandSynth::kTrackCount, 8> prefixes("Track %d");
  return prefixes.texts[t];
}

const char* envPrefix(int32_t e) {
  static const NumberedTexts<ModSourceState::kEnvelopeCount, 16> prefixes("Env%d");
  return prefixes.texts[e];
}

const char* lfoPrefix(int32_t l) {
  static const NumberedTexts<ModSourceState::kLfoCount, 16> prefixes("LFO%d");
  return prefixes.texts[l];
}

const char** outputNames() {
  static const char* names[9] = {"Main",  "Bus 1", "Bus 2", "Bus 3", "Bus 4",
                                 "Bus 5", "Bus 6", "Bus 7", "Bus 8"};
  return names;
}

// "None", "Transform", "Timescale", "Contrast", then the built-in drum models in table order.
struct ModelNames {
  const char* names[kModelChoices + kMaxModels];
  int32_t count;
};

const ModelNames& modelNames() {
  static const ModelNames table = [] {
    ModelNames m{{"None", "Transform", "Timescale", "Contrast"}, kModelChoices};
    int32_t models = getReferenceModelCount();
    models = models < 0 ? 0 : (models > kMaxModels ? kMaxModels : models);
    for (int32_t i = 0; i < models; ++i) m.names[m.count++] = getReferenceModelName(i);
    return m;
  }();
  return table;
}

const char** oscillatorNames() {
  static const char* names[12] = {"Saw",        "Square",    "Pulse1",   "Pulse2",
                                  "Octaves",    "Fibonacci", "Metallic", "RoundRobin",
                                  "DrawBar",    "Sevenths",  "MajorChord", "MinorChord"};
  return names;
}

const std::vector<FxBase*>& effectList(int32_t slot) {
  const EffectRegistry& r = getEffectRegistry();
  return slot < 2 ? r.sendList : r.mainList;
}

const std::vector<const char*>& effectNames(int32_t slot) {
  const EffectRegistry& r = getEffectRegistry();
  return slot < 2 ? r.sendNames : r.mainNames;
}

void declareTrack(Param* p) {
  using namespace TrackParam;
  p[kAmp].init(Param::kPower, 0.0f, 4.0f, 2.0f, nullptr, "Amp", 1.0f, 1);
  p[kAmp].formatter = formatGain;
  p[kAmp].valueTransform = decibelsToGain;
  p[kAmp].setSnapValues(1.0f);
  p[kPan].init(Param::kLinear, -100.0f, 100.0f, 0.0f, nullptr, "Pan", 0.0f, 1);
  p[kPan].formatter = formatPan;
  p[kPan].setSnapValues(0.0f);
  p[kFilter].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%.0f", "Filter", 0.0f, 1);
  p[kFilter].setSnapValues(0.0f);
  p[kClip].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Clip", 0.0f, 1);
  p[kSend1].init(Param::kPower, 0.0f, 4.0f, 2.0f, nullptr, "Send 1", 0.0f, 1);
  p[kSend1].formatter = formatGain;
  p[kSend1].valueTransform = decibelsToGain;
  p[kSend2].init(Param::kPower, 0.0f, 4.0f, 2.0f, nullptr, "Send 2", 0.0f, 1);
  p[kSend2].formatter = formatGain;
  p[kSend2].valueTransform = decibelsToGain;
  p[kOutput].init(Param::kStepped, 0.0f, 8.0f, 0.0f, "%.0f", "Output", 0.0f, 0);
  p[kOutput].setValueNames(outputNames(), 9);
  p[kWidth].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Width", 25.0f, 1);
  p[kTimescale].init(Param::kExponential, 0.125f, 8.0f, 0.0f, "%.2f", "Timescale", 1.0f, 1);
  p[kTimescale].setSnapValues(1.0f);
  p[kFrequency].init(Param::kLinear, -800.0f, 800.0f, 0.0f, "%+.0f mel", "Frequency", 0.0f, 1);
  p[kFrequency].setSnapValues(0.0f);
  p[kContrast].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%+.0f", "Contrast", 0.0f, 1);
  p[kContrast].setSnapValues(0.0f);
  p[kTransform].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Transform", 0.0f, 1);
  const ModelNames& models = modelNames();
  p[kModel].init(Param::kStepped, 0.0f, static_cast<float>(models.count - 1), 0.0f, "%.1f", "Model", 0.0f, 0);
  p[kModel].setValueNames(const_cast<const char**>(models.names), models.count);
  p[kDynamics].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Dynamics", 50.0f, 0);
  p[kDensity].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%+.0f", "Density", 0.0f, 1);
  p[kDensity].setSnapValues(0.0f);
  p[kSeedMode].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "Free|Frozen", "Seed Mode", 0.0f, 0);
  p[kSeed].init(Param::kStepped, 0.0f, 999.0f, 0.0f, "%.0f", "Seed", 555.0f, 0);
  p[kPolyphony].init(Param::kStepped, 1.0f, 8.0f, 0.0f, "%.0f", "Polyphony", 1.0f, 0);
  p[kRelease].init(Param::kExponential, 0.01f, 100.0f, 0.0f, "%4.2f s", "Release", 10.0f, 0);
  p[kDamping].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Damping", 25.0f, 0);
}

void declareGlobal(Param* p) {
  using namespace GlobalParam;
  const char* g = "Global";
  p[kAmp].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%.0f", "Amp", 1.0f, 1, g);
  p[kAmp].setSnapValues(0.0f);
  p[kTimescale].init(Param::kExponential, 0.125f, 8.0f, 0.0f, "%.2f", "Timescale", 1.0f, 1, g);
  p[kTimescale].setSnapValues(1.0f);
  p[kFrequency].init(Param::kLinear, -800.0f, 800.0f, 0.0f, "%+.0f mel", "Frequency", 0.0f, 1, g);
  p[kFrequency].setSnapValues(0.0f);
  p[kContrast].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%+.0f", "Contrast", 0.0f, 1, g);
  p[kContrast].setSnapValues(0.0f);
  p[kTransform].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%.1f", "Transform", 0.0f, 1, g);
  p[kTransform].setSnapValues(0.0f, 100.0f);
  p[kDensity].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%+.0f", "Density", 0.0f, 1, g);
  p[kDensity].setSnapValues(0.0f);
}

void declareSynth(Param* p) {
  using namespace SynthParam;
  const char* g = "Synth";
  p[kSynthTrack].init(Param::kStepped, -1.0f, 7.0f, 0.0f, "", "SynthTrack", -1.0f, 0, g, 3);
  p[kOscillator].init(Param::kStepped, 0.0f, 11.0f, 0.0f, "%.0f", "Oscillator", 0.0f, 1, g, 3);
  p[kOscillator].setValueNames(oscillatorNames(), 12);
  p[kStretch].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%.0f%%", "Stretch", 0.0f, 1, g, 3);
  p[kUnison].init(Param::kLinear, 0.0f, 50.0f, 0.0f, "%.0f cent", "Unison", 10.0f, 1, g, 3);
  p[kKeyTrack].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Key Track", 20.0f, 1, g, 3);
  p[kSustainPos].init(Param::kPower, 0.01f, 5.0f, 4.0f, "%.2f s", "Sustain Pos", 0.3f, 1, g, 3);
  p[kLegato].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "off|on", "Legato", 0.0f, 0, g, 3);
  p[kGlideTime].init(Param::kPower, 0.0f, 500.0f, 3.0f, "%.0f ms", "Glide Time", 0.0f, 1, g, 3);
  p[kDetune].init(Param::kLinear, -1200.0f, 1200.0f, 0.0f, "%.0f cent", "Detune", 0.0f, 1, g, 3);
  p[kPitchbendDown].init(Param::kStepped, -24.0f, 24.0f, 0.0f, "%.0f", "Pitchbend Down", -2.0f, 0, g, 4);
  p[kPitchbendUp].init(Param::kStepped, -24.0f, 24.0f, 0.0f, "%.0f", "Pitchbend Up", 2.0f, 0, g, 4);
}

}  // namespace

void BandSynth::declareEffectParams(int32_t slot, int32_t type) {
  const std::vector<FxBase*>& list = effectList(slot);
  if (type < 0 || type >= static_cast<int32_t>(list.size())) return;
  // A throwaway instance declares the records, so the shared prototypes are never written to
  // from whichever thread is loading a state.
  const std::unique_ptr<FxBase> declarer(list[static_cast<size_t>(type)]->create());
  declarer->setup(&params[static_cast<size_t>(slotParam(slot, SlotParam::kEffect0))]);
  mEffectParamTypes[slot] = type;
}

void BandSynth::declareParams() {
  // Effect slots first: members 0 and 1 are the sends, 2 and 3 the main bus.
  for (int32_t s = 0; s < kSlotCount; ++s) {
    Param* p = &params[static_cast<size_t>(slotParam(s, 0))];
    const bool first = (s % 2) == 0;
    const std::vector<const char*>& names = effectNames(s);
    const int32_t count = static_cast<int32_t>(names.size());
    p[SlotParam::kPower].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "off|on", "Power", first ? 1.0f : 0.0f);
    p[SlotParam::kType].init(Param::kStepped, 0.0f, static_cast<float>(count > 0 ? count - 1 : 0), 0.0f, "%.0f",
                             "Type", first ? 0.0f : 1.0f);
    p[SlotParam::kType].setValueNames(const_cast<const char**>(names.data()), count);
    declareEffectParams(s, first ? 0 : 1);
  }
  declareGlobal(&params[kGlobalParamsStart]);
  declareSynth(&params[kSynthParamsStart]);
  for (int32_t t = 0; t < kTrackCount; ++t) {
    Param* p = &params[static_cast<size_t>(trackParam(t, 0))];
    declareTrack(p);
    for (int32_t k = 0; k < TrackParam::kCount; ++k) p[k].groupPrefix = trackPrefix(t);
  }
  for (int32_t e = 0; e < ModSourceState::kEnvelopeCount; ++e) {
    initEnvelopeParams(&params[static_cast<size_t>(envParam(e, 0))], envPrefix(e), e);
  }
  for (int32_t l = 0; l < ModSourceState::kLfoCount; ++l) {
    initLfoParams(&params[static_cast<size_t>(lfoParam(l, 0))], lfoPrefix(l));
  }
}
