#pragma once

#include "effects/FxBase.h"

// "Compressor" on a send: compression around a fixed threshold with boost below it, into a
// soft clipper, for parallel compression.
class ParaCompress : public FxBase {
 public:
  const char* name() override { return "Compressor"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ParaCompress(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float sampleRate = 0.0f;
  float gainLevel = 0.0f;  // base-2 units
};
