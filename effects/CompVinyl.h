#pragma once

#include "effects/FxWithRate.h"

// "Upward Compressor": raises quiet passages towards a threshold, never lifting the held peak
// above full scale. For the main bus.
class CompVinyl : public FxWithRate {
 public:
  const char* name() override { return "Upward Compressor"; }
  void setup(Param* p) override;
  FxBase* create() override { return new CompVinyl(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  void reset() override;

  float gainLevel = 0.0f;  // base-2 units
  float heldPeak = 0.0f;
};
