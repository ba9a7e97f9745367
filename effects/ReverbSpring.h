#pragma once

#include <cstdint>

#include "effects/DelayLine.h"
#include "effects/FxBase.h"
#include "effects/ResonantHighpass.h"
#include "effects/SpectralDelay.h"

// "Spring Reverb" on a send: a mono feedback loop around a dispersive spring model (every
// frequency has its own delay, rising towards 6 kHz and falling above, so a click comes back
// as a sweep), with a short wobbling loop delay and a soft saturator; two allpasses make the
// stereo outputs and a resonant high-pass shapes them. Takes the room reverb's "Length" and
// "Color". Returns only the wet signal.
class ReverbSpring : public FxBase {
 public:
  static constexpr int kChunk = 64;
  static constexpr int kFrameSize = 256;  // the spring model's transform, hop 64
  static constexpr int kBins = kFrameSize / 2;

  const char* name() override { return "Spring Reverb"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbSpring(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  // Clears the loop, the decorrelators and the model's past spectra (not its sample rings).
  void reset() override;

  SpectralDelay spring;
  DelayLine decorrelators[2];
  DelayLine loop;
  int32_t decorrelatorDelays[2] = {0, 0};
  ResonantHighpassState highpass;
  float sampleRate = 0.0f;
  float wobblePhase = 0.0f;
  float meanDelay = 0.0f;  // samples: the model's delay averaged over bins by their gains

 private:
  void processChunk(const float* inL, const float* inR, float* outL, float* outR, int n,
                    float decayRate, float inputGain, float frequency, float damping);
};
