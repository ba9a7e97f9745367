#pragma once

#include "effects/FxWithRate.h"

// "Transformer Amp": an asymmetric, level-dependent gain into a soft clipper; "Bias" makes one
// half-wave saturate harder than the other. For the main bus.
class Distorter : public FxWithRate {
 public:
  const char* name() override { return "Transformer Amp"; }
  void setup(Param* p) override;
  FxBase* create() override { return new Distorter(); }
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float gainState[2] = {1.0f, 0.0f};  // smoothed gain per channel
};
