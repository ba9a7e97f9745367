#pragma once

#include "effects/FxBase.h"

// "Plate Reverb" on a send: a four-line feedback delay network. Returns only the wet signal.
class ReverbPlate : public FxBase {
 public:
  const char* name() override { return "Plate Reverb"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbPlate(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float sampleRate = 0.0f;
};
