#pragma once

#include <cstdint>

// A two-channel first-order filter y = a·x + s, s := b·x - c·y whose coefficients glide to
// their targets by at most 0.001 per sample, so a retuned filter never clicks.
struct RampedFilter {
  static constexpr float kMaxStep = 0.001f;

  float targetA = 0.0f;
  float targetB = 0.0f;
  float targetC = 0.0f;
  float a = 0.0f;
  float b = 0.0f;
  float c = 0.0f;
  float state0 = 0.0f;
  float state1 = 0.0f;

  // Filters both channels in place over n samples.
  void process(float* ch0, float* ch1, int32_t n);
};
