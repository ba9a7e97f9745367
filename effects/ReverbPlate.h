#pragma once

#include <cstdint>
#include <vector>

#include "effects/DelayLine.h"
#include "effects/FxBase.h"

// "Plate Reverb" on a send: a feedback delay network of four lines mixed by a scaled Hadamard
// matrix, with eight short rotations inside the loop for density. Each line's loop gain is set
// so that every line loses the same level per second ("Length"), and a one-pole low-pass per
// line darkens the tail ("Brightness"). Returns only the wet signal.
class ReverbPlate : public FxBase {
 public:
  static constexpr int kChunk = 64;
  static constexpr int kLines = 4;
  static constexpr int kRotations = 8;

  // A plain circular buffer read one chunk before it is written, so its delay is its length.
  struct FeedbackLine {
    std::vector<float> buffer;
    int32_t readPos = 0;
    int32_t writePos = 0;
  };

  const char* name() override { return "Plate Reverb"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbPlate(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  void reset() override;

  float sampleRate = 0.0f;
  float inputGain = 0.0f;
  float lowPass[kLines] = {};
  float lineGain[kLines] = {};
  float damping[kLines] = {};  // one-pole coefficient, 1 = no damping
  float matrix[kLines][kLines] = {};
  FeedbackLine feedbackLines[kLines];
  DelayLine rotationLines[kRotations];

 private:
  void processChunk(const float* inL, const float* inR, float* outL, float* outR, int n,
                    const float* gainTarget, const float* dampingTarget, float inputTarget);
};
