#pragma once

#include "effects/FxWithRate.h"
#include "engine/core/Lcg.h"

// "Tape Simulator": an input filter whose cutoff and band weight wander slowly at random,
// a rational saturator, de-emphasis and an output gain follower; each channel on its own.
// For the main bus.
class CompTape : public FxWithRate {
 public:
  // A slow random curve: a quadratic B-spline through random points, one new point per unit
  // of phase.
  struct Wobble {
    float phase = 0.0f;
    float points[3] = {0.0f, 0.0f, 0.0f};

    void advance(float step, SharedLcg& random);
    float value() const;
  };

  struct Channel {
    float lowpass = 0.0f;
    float highpass = 0.0f;
    float emphasis = 0.0f;  // previous de-emphasised value
    float slope = 0.0f;     // previous slope term
    float gain = 1.0f;      // output gain follower
    float damping = 0.0f;   // ramped filter coefficients
    float cutoff = 0.0f;
    float bandGain = 0.0f;
    Wobble cutoffWobble;
    Wobble bandWobble;
  };

  const char* name() override { return "Tape Simulator"; }
  void setup(Param* p) override;
  FxBase* create() override { return new CompTape(); }
  void process(const float* const in[2], float* const out[2], int nFrames) override;

  // The random state that every instance draws from, in processing order; it lives as long
  // as the module. Tests reseed it to replay a sequence.
  static SharedLcg& sharedRandom();

  Channel channels[2];
};
