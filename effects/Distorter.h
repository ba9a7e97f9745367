#pragma once

#include "effects/FxBase.h"

// "Transformer Amp": an asymmetric, level-dependent gain into a soft clipper; "Bias" makes one
// half-wave saturate harder than the other. For the main bus.
class Distorter : public FxBase {
 public:
  const char* name() override { return "Transformer Amp"; }
  void setup(Param* p) override;
  FxBase* create() override { return new Distorter(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float sampleRate = 0.0f;
  float gainState[2] = {1.0f, 0.0f};  // smoothed gain per channel
};
