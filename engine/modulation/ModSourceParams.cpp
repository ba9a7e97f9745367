#include "engine/modulation/ModSourceParams.h"

#include <cstdio>

#include "engine/core/Param.h"

const BeatDivision kBeatDivisions[kBeatDivisionCount] = {
    {4, 1}, {3, 1}, {2, 1},  {3, 2},  {1, 1},  {6, 8},  {1, 2}, {1, 4},
    {3, 16}, {1, 6}, {1, 8}, {1, 12}, {1, 16}, {1, 24}, {1, 32}};

const char** beatDivisionNames() {
  static char texts[kBeatDivisionCount][8];
  static const char* names[kBeatDivisionCount];
  static const bool filled = [] {
    for (int32_t i = 0; i < kBeatDivisionCount; ++i) {
      std::snprintf(texts[i], sizeof texts[i], "%d/%d", kBeatDivisions[i].numerator, kBeatDivisions[i].denominator);
      names[i] = texts[i];
    }
    return true;
  }();
  (void)filled;
  return names;
}

void initEnvelopeParams(Param* p, const char* prefix, int32_t index) {
  const float decayDefault = static_cast<float>(index + 1) * 0.3f;
  p[EnvParam::kInitial].init(Param::kLinear, 0.0f, 1.0f, 0.0f, "%.3f", "Initial", 0.2f, 0, prefix);
  p[EnvParam::kAttack].init(Param::kPower, 0.0f, 5000.0f, 4.0f, "%.0f ms", "Attack", 10.0f, 0, prefix);
  p[EnvParam::kDecay].init(Param::kPower, 0.01f, 10.0f, 3.0f, "%.2f s", "Decay", decayDefault, 0, prefix);
  p[EnvParam::kSustain].init(Param::kLinear, 0.0f, 1.0f, 0.0f, "%.3f", "Sustain", 0.5f, 0, prefix);
  p[EnvParam::kRelease].init(Param::kPower, 0.01f, 10.0f, 3.0f, "%.2f s", "Release", 0.2f, 0, prefix);
  p[EnvParam::kAttackShape].init(Param::kLinear, -1.0f, 1.0f, 0.0f, "%.2f", "Attack Shape", -0.5f, 0, prefix);
  p[EnvParam::kDecayShape].init(Param::kLinear, -1.0f, 1.0f, 0.0f, "%.2f", "Decay Shape", 0.3f, 0, prefix);
  p[EnvParam::kReleaseShape].init(Param::kLinear, -1.0f, 1.0f, 0.0f, "%.2f", "Release Shape", 0.5f, 0, prefix);
}

void initLfoParams(Param* p, const char* prefix) {
  p[LfoParam::kBeatsync].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "off|on", "Beatsync", 0.0f, 0, prefix);
  p[LfoParam::kRate].init(Param::kPower, 0.01f, 20.0f, 2.0f, "%3.2f Hz", "Rate", 0.25f, 0, prefix);
  p[LfoParam::kBeatRate].init(Param::kStepped, 0.0f, static_cast<float>(kBeatDivisionCount - 1), 0.0f,
                              "%.0f", "Beat Rate", 7.0f, 0, prefix);
  p[LfoParam::kBeatRate].setValueNames(beatDivisionNames(), kBeatDivisionCount);
  p[LfoParam::kLoop].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "off|on", "Loop", 1.0f, 0, prefix);
  p[LfoParam::kRetrigger].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "off|on", "Retrigger", 0.0f, 0, prefix);
  p[LfoParam::kPerVoice].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "off|on", "Per Voice", 0.0f, 0, prefix);
}
