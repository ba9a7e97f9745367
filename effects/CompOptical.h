#pragma once

#include "effects/FxWithRate.h"

// "L.A. Optical": a program-dependent leveller whose gain moves faster the further it is from
// where it should be, like a photo-cell. For the main bus.
class CompOptical : public FxWithRate {
 public:
  const char* name() override { return "L.A. Optical"; }
  void setup(Param* p) override;
  FxBase* create() override { return new CompOptical(); }
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float detector = 1.0f;
  float gain = 1.0f;  // linear
};
