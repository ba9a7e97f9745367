#pragma once

#include "effects/FxBase.h"

// "Spring Reverb" on a send: a dispersive feedback loop that smears a click into a sweep.
// Takes the room reverb's "Length" and "Color". Returns only the wet signal.
class ReverbSpring : public FxBase {
 public:
  const char* name() override { return "Spring Reverb"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbSpring(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float sampleRate = 0.0f;
};
