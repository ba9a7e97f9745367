#include "effects/CompLimiter.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

namespace {

// 1 / (1 + x + x^2/2 + 0.17 x^4): a gentle stand-in for e^-x.
constexpr float decay(float x) { return 1.0f / (1.0f + x + 0.5f * x * x + 0.17f * x * x * x * x); }

constexpr float kCeiling = decay(0.2f * kDecibelsToNatural);  // about -0.2 dB
constexpr float kRange = decay(5.0f * kDecibelsToNatural);    // about -4.9 dB
constexpr float kKneeWidth = 1.0f - kRange;

}  // namespace

void CompLimiter::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 48.0f, 0.0f, "%.0f dB", "Gain", 0.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Speed", 50.0f);
  FxBase::setup(p);
}

void CompLimiter::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float inputGain = fastPow2(paramValue(0) * kDecibelsToLog2);
  const float speed = paramValue(1) / 100.0f;

  const float attackTime = sampleRate * 0.003f * (1.2f - speed);
  const float releaseTime = sampleRate * 0.12f * (1.1f - speed);
  const float attack1 = 1.0f / (attackTime + 1.0f);
  const float release1 = 1.0f / (releaseTime + 1.0f);
  const float attack2 = 1.0f / (0.5f * attackTime + 1.0f);
  const float release2 = 1.0f / (0.5f * releaseTime + 1.0f);

  float e1 = stage1;
  float e2 = stage2;
  for (int i = 0; i < nFrames; ++i) {
    const float l = inputGain * guardSample(in[0][i]);
    const float r = inputGain * guardSample(in[1][i]);
    const float t = kCeiling / (std::max(std::fabs(l), std::fabs(r)) + 0.001f);
    const float u = std::min(t * kRange, 1.0f);
    e1 += (e1 > u ? attack1 : release1) * (u - e1);
    e2 += (e2 > e1 ? attack2 : release2) * (e1 - e2);
    const float w = e2 * kKneeWidth;
    const float d = std::max(w - std::fabs(e2 - t), 0.0f);
    // d > 0 implies w > 0; testing it keeps a fully closed follower from dividing 0 by 0.
    const float gain = std::min(t, e2) - (d > 0.0f ? 0.25f * d * d / w : 0.0f);
    out[0][i] = gain * l;
    out[1][i] = gain * r;
  }
  stage1 = e1;
  stage2 = e2;
}
