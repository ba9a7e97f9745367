#pragma once

#include "effects/FxWithRate.h"

// "Limiter": a two-stage peak limiter with a soft knee and no look-ahead, for the main bus.
class CompLimiter : public FxWithRate {
 public:
  const char* name() override { return "Limiter"; }
  void setup(Param* p) override;
  FxBase* create() override { return new CompLimiter(); }
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float stage1 = 1.0f;  // gain of the fast follower
  float stage2 = 1.0f;  // gain of the follower that smooths stage1
};
