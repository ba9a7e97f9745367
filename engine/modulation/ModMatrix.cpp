#include "engine/modulation/ModMatrix.h"

#include <cmath>
#include <cstdio>

#include "engine/core/Lcg.h"
#include "engine/core/NumberedTexts.h"
#include "engine/core/Param.h"
#include "engine/core/PointCurve.h"
#include "engine/modulation/ModSourceParams.h"

namespace {

constexpr float kMinAmount = 0.001f;
// Scales a generator state, read as a signed 32-bit number, to about -0.5..0.5.
constexpr float kNoiseScale = 2.328e-10f;
// Smoothing of the white noise per second of step; pink and brown are these slower.
constexpr float kWhiteRate = 500.0f;
constexpr float kPinkDivisor = 11.0f;
constexpr float kBrownDivisor = 41.0f;
constexpr float kRestartPhase = 10.0f;
constexpr double kOneShotEnd = 0.99;  // a one-shot LFO stops just short of the end

// Truncation toward zero of a value that may lie anywhere; NaN and huge values give `bad`.
int32_t truncOr(float v, int32_t bad) {
  if (!(v > -2147483520.0f && v < 2147483520.0f)) return bad;
  return static_cast<int32_t>(v);
}

const char* rowPrefix(int32_t row) {
  static const NumberedTexts<ModMatrix::kMaxRows, 8> prefixes("Mod%d");
  return prefixes.texts[row];
}

// One draw of the source's generator, blended in by c (1: the draw itself).
void noiseStep(NoiseSource& n, float c) {
  n.generator = lcgStep(n.generator);
  const float r = static_cast<float>(static_cast<int32_t>(n.generator)) * kNoiseScale;
  n.output = (1.0f - c * c) * n.output + c * r;
}

float smoothing(float seconds, float divisor) {
  const float c = seconds * kWhiteRate / divisor;
  if (!(c >= 0.0f)) return 0.0f;  // a NaN or negative step moves nothing
  return c < 1.0f ? c : 1.0f;
}

}  // namespace

const char** ModMatrix::sourceNames() {
  static const NumberedTexts<ModSourceState::kEnvelopeCount, 16> envs("Env %d");
  static const NumberedTexts<ModSourceState::kLfoCount, 16> lfos("LFO %d");
  static const char* names[ModSource::kCount] = {
      "-",           envs.texts[0], envs.texts[1], envs.texts[2], envs.texts[3],
      lfos.texts[0], lfos.texts[1], lfos.texts[2], lfos.texts[3], "Constant",
      "BPM Octave",  "Noise White", "Noise Pink",  "Noise Brown", "Noise Hold"};
  return names;
}

const char** ModMatrix::scalerNames() {
  static const char* names[ModScaler::kCount] = {"-",         "Velocity",   "Mod Wheel",
                                                 "Pitchbend", "Aftertouch", "Note Octave"};
  return names;
}

void ModMatrix::init(Param* params_, Param* rowParams_, int32_t rowCount_, Param* envParams_,
                     int32_t envCount_, Param* lfoParams_, int32_t lfoCount_, PointCurve* lfoShapes_) {
  params = params_;
  rowParams = rowParams_;
  rowCount = rowCount_ < 0 ? 0 : (rowCount_ > kMaxRows ? kMaxRows : rowCount_);
  envParams = envParams_;
  envCount = envCount_ < 0 ? 0 : (envCount_ > ModSourceState::kEnvelopeCount ? ModSourceState::kEnvelopeCount : envCount_);
  lfoParams = lfoParams_;
  lfoCount = lfoCount_ < 0 ? 0 : (lfoCount_ > ModSourceState::kLfoCount ? ModSourceState::kLfoCount : lfoCount_);
  lfoShapes = lfoShapes_;

  const size_t n = exposedParams.size();
  mTargetNames.assign(n, {});
  mTargetNamePointers.assign(n, nullptr);
  for (size_t i = 0; i < n; ++i) {
    const Param& p = params[exposedParams[i]];
    const bool hasPrefix = p.groupPrefix != nullptr && p.groupPrefix[0] != '\0';
    std::snprintf(mTargetNames[i].data(), kTargetNameRoom, "%s%s%s", hasPrefix ? p.groupPrefix : "",
                  hasPrefix ? "|" : "", p.label != nullptr ? p.label : "");
    mTargetNamePointers[i] = mTargetNames[i].data();
  }

  const int32_t targetCount = static_cast<int32_t>(n);
  const float lastTarget = static_cast<float>(targetCount > 0 ? targetCount - 1 : 0);
  for (int32_t r = 0; r < rowCount; ++r) {
    Param* row = rowParams + r * paramsPerRow;
    const char* prefix = rowPrefix(r);
    row[ModRowParam::kSource].init(Param::kStepped, 0.0f, static_cast<float>(ModSource::kCount - 1), 0.0f,
                                   "%.0f", "Source", 0.0f, 0, prefix);
    row[ModRowParam::kSource].setValueNames(sourceNames(), ModSource::kCount);
    row[ModRowParam::kAmount].init(Param::kLinear, -1.0f, 1.0f, 2.0f, "%+.3f", "Amount", 0.0f, 1, prefix);
    row[ModRowParam::kAmount].setSnapValues(0.0f);
    row[ModRowParam::kScaler].init(Param::kStepped, 0.0f, static_cast<float>(ModScaler::kCount - 1), 0.0f,
                                   "%.0f", "Scaler", 0.0f, 0, prefix);
    row[ModRowParam::kScaler].setValueNames(scalerNames(), ModScaler::kCount);
    const float targetDefault = static_cast<float>(targetCount > 0 ? r % targetCount : 0);
    row[ModRowParam::kTarget].init(Param::kStepped, 0.0f, lastTarget, 0.0f, "%.0f", "Target", targetDefault, 0,
                                   prefix);
    row[ModRowParam::kTarget].setValueNames(targetNames(), targetCount);
  }
}

const ModRoute* ModMatrix::collectRoutes(int32_t track) {
  routeCount = 0;
  const bool globalPass = track < 0;
  const int32_t targetCount = static_cast<int32_t>(exposedParams.size());
  for (int32_t r = 0; r < rowCount; ++r) {
    const Param* row = rowParams + r * paramsPerRow;
    const float sourceValue = row[ModRowParam::kSource].effectiveValue();
    const float amount = row[ModRowParam::kAmount].effectiveValue();
    if (!(sourceValue > 0.5f) || amount == 0.0f || amount != amount) continue;
    const int32_t t = truncOr(row[ModRowParam::kTarget].effectiveValue(), -1);
    if (t < 0 || t >= targetCount) continue;
    const int32_t s = truncOr(sourceValue, -1);
    const int32_t c = truncOr(row[ModRowParam::kScaler].effectiveValue(), 0);
    if (s < 1 || std::fabs(amount) < kMinAmount) continue;

    bool perVoice = (s >= ModSource::kEnv1 && s < ModSource::kLfo1) || c > 0 ||
                    (s >= ModSource::kNoiseWhite && s < ModSource::kCount);
    const int32_t lfo = s - ModSource::kLfo1;
    if (lfo >= 0 && lfo < lfoCount &&
        lfoParams[lfo * paramsPerLfo + LfoParam::kPerVoice].effectiveValue() > 0.5f) {
      perVoice = true;
    }
    if (perVoice == globalPass) continue;
    routes[routeCount++] = {s, c, exposedParams[static_cast<size_t>(t)], amount};
  }
  return routes;
}

float ModMatrix::sourceValue(const ModSourceState& state, int32_t source) const {
  if (source >= ModSource::kEnv1 && source < ModSource::kLfo1) return state.envelopes[source - ModSource::kEnv1].output;
  if (source >= ModSource::kLfo1 && source < ModSource::kConstant) return state.lfos[source - ModSource::kLfo1].output;
  if (source == ModSource::kConstant) return 1.0f;
  if (source == ModSource::kBpmOctave) {
    // The tempo is held to a sane range upstream; a zero or damaged tempo means no octave.
    const float octave = std::log2(tempo / 120.0f);
    return std::isfinite(octave) ? octave : 0.0f;
  }
  if (source >= ModSource::kNoiseWhite && source < ModSource::kCount) {
    return state.noises[source - ModSource::kNoiseWhite].output;
  }
  return 0.0f;
}

ModMatrix::StepSettings ModMatrix::stepSettings(double seconds) const {
  StepSettings settings;
  for (int32_t e = 0; e < envCount; ++e) {
    settings.envelopes[e] = EnvelopeSettings::fromParams(envParams + e * paramsPerEnvelope);
  }
  const float dt = static_cast<float>(seconds);
  settings.smoothing[0] = smoothing(dt, 1.0f);
  settings.smoothing[1] = smoothing(dt, kPinkDivisor);
  settings.smoothing[2] = smoothing(dt, kBrownDivisor);
  return settings;
}

void ModMatrix::processLfos(ModSourceState& state, double seconds, double beats, double hostBeatPosition,
                            const ModSourceState* engineWide, bool noteOn) {
  processLfos(state, stepSettings(seconds), seconds, beats, hostBeatPosition, engineWide, noteOn, false);
}

void ModMatrix::processLfos(ModSourceState& state, const StepSettings& settings, double seconds, double beats,
                            double hostBeatPosition, const ModSourceState* engineWide, bool noteOn,
                            bool deferEnvelopes) {
  const bool hostPositionGiven = std::isfinite(hostBeatPosition) && std::fabs(hostBeatPosition) < kNoBeatPosition;
  for (int32_t i = 0; i < lfoCount; ++i) {
    const Param* p = lfoParams + i * paramsPerLfo;
    LfoState& lfo = state.lfos[i];
    if (engineWide != nullptr && p[LfoParam::kPerVoice].effectiveValue() < 0.5f) {
      lfo = engineWide->lfos[i];
      continue;
    }
    PointCurve& shape = lfoShapes[i];
    const int32_t loop = p[LfoParam::kLoop].effectiveValue() > 0.5f ? 1 : 0;
    if (loop != shape.loopMode) {
      shape.loopMode = loop;
      shape.updateEndPoint();
      shape.dirty = 1;
    }

    const bool retrigger = p[LfoParam::kRetrigger].effectiveValue() >= 0.5f;
    double x = lfo.phase;
    if (noteOn && retrigger) {
      x = 0.0;
      lfo.phase = kRestartPhase;
      lfo.previousPhase = kRestartPhase;
    }
    if (p[LfoParam::kBeatsync].effectiveValue() > 0.5f) {
      int32_t d = truncOr(p[LfoParam::kBeatRate].effectiveValue() + 0.1f, 0);
      d = d < 0 ? 0 : (d >= kBeatDivisionCount ? kBeatDivisionCount - 1 : d);
      const double cyclesPerBeat = static_cast<double>(kBeatDivisions[d].denominator) /
                                   static_cast<double>(kBeatDivisions[d].numerator) * 0.25;
      if (retrigger || !hostPositionGiven) {
        x += cyclesPerBeat * beats;
      } else {
        x = cyclesPerBeat * hostBeatPosition;
        if (loop != 0) x -= std::floor(x);
      }
    } else {
      x += static_cast<double>(p[LfoParam::kRate].effectiveValue()) * seconds;
    }
    // A NaN or infinite step leaves the LFO where it was.
    if (!std::isfinite(x)) x = lfo.phase < kRestartPhase ? lfo.phase : 0.0;
    if (loop != 0) {
      x -= std::floor(x);
    } else if (x > kOneShotEnd) {
      x = kOneShotEnd;
    }
    lfo.previousPhase = lfo.phase;
    lfo.phase = static_cast<float>(x - std::trunc(x));
    float y = 0.0f;
    shape.evaluate(lfo.phase, &y);
    lfo.output = 2.0f * y - 1.0f;
  }

  const float dt = static_cast<float>(seconds);
  for (int32_t e = 0; e < envCount; ++e) {
    EnvelopeState& env = state.envelopes[e];
    if (deferEnvelopes) {
      if (noteOn) env.restart();
      env.defer(dt, settings.envelopes[e]);
      continue;
    }
    env.settle();
    env.steady = false;
    if (noteOn) env.position = 0.0f;
    env.advance(dt, settings.envelopes[e]);
  }

  noiseStep(state.noises[ModSourceState::kWhite], settings.smoothing[0]);
  noiseStep(state.noises[ModSourceState::kPink], settings.smoothing[1]);
  noiseStep(state.noises[ModSourceState::kBrown], settings.smoothing[2]);
  if (noteOn) noiseStep(state.noises[ModSourceState::kHold], 1.0f);
}

void ModMatrix::retriggerLfos(ModSourceState& state, bool voiceCall) {
  for (int32_t i = 0; i < lfoCount; ++i) {
    const Param* p = lfoParams + i * paramsPerLfo;
    if (!(p[LfoParam::kRetrigger].effectiveValue() > 0.5f)) continue;
    if (voiceCall && !(p[LfoParam::kPerVoice].effectiveValue() < 0.5f)) continue;
    state.lfos[i].phase = 0.0f;
    state.lfos[i].previousPhase = kRestartPhase;
  }
  for (int32_t e = 0; e < ModSourceState::kEnvelopeCount; ++e) state.envelopes[e].retrigger();
}
