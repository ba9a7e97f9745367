#pragma once

#include "effects/FxWithRate.h"

// "Compressor" on a send: compression around a fixed threshold with boost below it, into a
// soft clipper, for parallel compression.
class ParaCompress : public FxWithRate {
 public:
  const char* name() override { return "Compressor"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ParaCompress(); }
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float gainLevel = 0.0f;  // base-2 units
};
