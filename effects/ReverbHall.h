#pragma once

#include "effects/FxBase.h"

// "Room Reverb" on a send: a diffusing tank network driven by "Length" and "Color". Returns
// only the wet signal.
class ReverbHall : public FxBase {
 public:
  const char* name() override { return "Room Reverb"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbHall(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  // Declares "Length" and "Color", the parameters the spring reverb shares.
  static void declareLengthColor(Param* p);

  float sampleRate = 0.0f;
};
