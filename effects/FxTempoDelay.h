#pragma once

#include "effects/FxBase.h"

// "Tempo Delay" on a send: a stereo delay whose length is counted in sixteenth notes of the
// engine's tempo. Returns only the wet signal.
class FxTempoDelay : public FxBase {
 public:
  const char* name() override { return "Tempo Delay"; }
  void setup(Param* p) override;
  FxBase* create() override { return new FxTempoDelay(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  void setTempo(float bpm) override;

  float sampleRate = 0.0f;
  float tempo = 120.0f;  // beats per minute
};
