#include "engine/dsp/RampedFilter.h"

#include "engine/core/Clamp.h"

namespace {

// The per-sample step that covers the remaining distance within the block, at most kMaxStep.
inline float rampStep(float target, float current, int32_t n) {
  const float step = clamp((target - current) / static_cast<float>(n), -RampedFilter::kMaxStep, RampedFilter::kMaxStep);
  return step == step ? step : 0.0f;  // a NaN target leaves the coefficient where it is
}

}  // namespace

void RampedFilter::process(float* ch0, float* ch1, int32_t n) {
  if (n <= 0) return;
  const float stepA = rampStep(targetA, a, n);
  const float stepB = rampStep(targetB, b, n);
  const float stepC = rampStep(targetC, c, n);
  for (int32_t i = 0; i < n; ++i) {
    const float x0 = ch0[i];
    const float y0 = a * x0 + state0;
    state0 = b * x0 - c * y0;
    ch0[i] = y0;
    const float x1 = ch1[i];
    const float y1 = a * x1 + state1;
    state1 = b * x1 - c * y1;
    ch1[i] = y1;
    a += stepA;
    b += stepB;
    c += stepC;
  }
}
