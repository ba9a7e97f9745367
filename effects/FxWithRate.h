#pragma once

#include "effects/FxBase.h"

// The base of the effects that need nothing from a new sample rate but the rate itself, so
// that they share one setSampleRate.
class FxWithRate : public FxBase {
 public:
  void setSampleRate(float rate) override {
    if (isUsableSampleRate(rate)) sampleRate = rate;
  }

  float sampleRate = 0.0f;
};
