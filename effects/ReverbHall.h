#pragma once

#include <cstdint>

#include "effects/FxBase.h"
#include "effects/ReverbNetwork.h"

// "Room Reverb" on a send: the reverb network, its decay time set by "Length" and its tone
// (damping, high-pass and its resonance) by "Color". Returns only the wet signal.
class ReverbHall : public FxBase {
 public:
  const char* name() override { return "Room Reverb"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbHall(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  // Silences the network and starts its wobble at a random phase.
  void reset() override;
  // Declares "Length" and "Color", the parameters the spring reverb shares.
  static void declareLengthColor(Param* p);

  // The next value of the instance's own generator, 0..32767 (the runtime generator's law, so
  // every instance draws the same sequence from the same start, without touching any shared
  // state from the audio thread).
  int nextRandom();

  float sampleRate = 0.0f;
  ReverbNetwork network;
  uint32_t randomState = 1;
};
