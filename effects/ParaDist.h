#pragma once

#include "effects/FxWithRate.h"

// "Stereo Fuzz" on a send: a resonant filter into an asymmetric rational fuzz whose positive
// half saturates twice as fast.
class ParaDist : public FxWithRate {
 public:
  struct Channel {
    float lowpass = 0.0f;
    float highpass = 0.0f;
  };

  const char* name() override { return "Stereo Fuzz"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ParaDist(); }
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  Channel channels[2];
  float cutoff = 0.0f;   // ramped, shared by both channels
  float damping = 0.0f;  // ramped, shared by both channels
};
