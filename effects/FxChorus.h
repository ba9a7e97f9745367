#pragma once

#include "effects/DelayLine.h"
#include "effects/FxBase.h"

// "Chorus" on a send: two voices read from gliding delays under one LFO (0.35 of a cycle
// apart), diffused, turned through three short rotations and fed back crosswise. Returns only
// the wet signal. The lines are never cleared between uses: switching the slot on again lets
// the last notes ring out under its fade-in.
class FxChorus : public FxBase {
 public:
  static constexpr int kChunk = 32;

  const char* name() override { return "Chorus"; }
  void setup(Param* p) override;
  FxBase* create() override { return new FxChorus(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  DelayLine voiceLines[2];
  DelayLine rotationLines[3];
  DelayLine diffusionLines[2];
  float phase = 0.0f;  // LFO, 0..1
  float sampleRate = 0.0f;

 private:
  void processChunk(const float* inL, const float* inR, float* outL, float* outR, int n,
                    float rate, float base, float width);
};
