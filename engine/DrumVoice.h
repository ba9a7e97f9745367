#pragma once

#include <cstdint>

#include "engine/ModSourceState.h"

// One voice of a drum track: the note it plays and the modulation sources that run per voice.
// The rendering state that note handling and the voice pass add lives here as well.
struct DrumVoice {
  static constexpr int32_t kPartialCount = 512;

  float velocity = 0.0f;      // 0..1
  float polyPressure = 0.0f;  // polyphonic pressure 0..1
  ModSourceState sources;     // the voice's own envelopes, LFOs and noises
  int32_t note = 0;
  int32_t channel = 0;
  int32_t track = -1;  // -1: free
  // The partial phase tables of the synth track's oscillator.
  float partialPhases[2][kPartialCount] = {};
};
