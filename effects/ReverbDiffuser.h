#pragma once

#include "effects/FxBase.h"

// "Diffuser" on a send: a chain of delayed rotations behind a pre-delay. Returns only the wet
// signal.
class ReverbDiffuser : public FxBase {
 public:
  const char* name() override { return "Diffuser"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbDiffuser(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float sampleRate = 0.0f;
};
