#pragma once

#include <cstdint>

#include "engine/modulation/EnvelopeState.h"
#include "engine/modulation/LfoState.h"

// One noise source: its smoothed output and its own generator state.
struct NoiseSource {
  float output = 0.0f;
  uint32_t generator = 0;
};

// The running state of the modulation sources: one record for the whole engine and one per
// voice.
struct ModSourceState {
  static constexpr int32_t kLfoCount = 4;
  static constexpr int32_t kEnvelopeCount = 4;
  static constexpr int32_t kNoiseCount = 4;
  enum Noise : int32_t { kWhite = 0, kPink = 1, kBrown = 2, kHold = 3 };

  LfoState lfos[kLfoCount];
  EnvelopeState envelopes[kEnvelopeCount];
  NoiseSource noises[kNoiseCount];
};
