#pragma once

#include "effects/FxBase.h"

// "Chorus" on a send: two modulated voices with diffusion and cross-feedback. Returns only
// the wet signal.
class FxChorus : public FxBase {
 public:
  const char* name() override { return "Chorus"; }
  void setup(Param* p) override;
  FxBase* create() override { return new FxChorus(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float sampleRate = 0.0f;
};
