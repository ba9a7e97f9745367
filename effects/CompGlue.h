#pragma once

#include "effects/FxWithRate.h"

// "Sticky Compressor": 3:1 compression with makeup gain into a soft clipper, stereo-linked,
// for the main bus.
class CompGlue : public FxWithRate {
 public:
  const char* name() override { return "Sticky Compressor"; }
  void setup(Param* p) override;
  FxBase* create() override { return new CompGlue(); }
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  float gainLevel = 0.0f;  // base-2 units
};
