#include "effects/CompVinyl.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

void CompVinyl::setup(Param* p) {
  p[0].init(Param::kLinear, 0.1f, 10.0f, 0.0f, "%.1f", "Ratio", 2.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Speed", 50.0f);
  FxBase::setup(p);
}

void CompVinyl::setSampleRate(float rate) {
  FxWithRate::setSampleRate(rate);
  gainLevel = 0.0f;
}

void CompVinyl::reset() {
  gainLevel = 0.0f;
  heldPeak = 0.0f;
}

void CompVinyl::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float ratio = paramValue(0);
  const float speed = paramValue(1) / 100.0f;

  const float k = 1.0f - 1.0f / ratio;
  const float time = (1.0f - speed) * 0.2f * sampleRate;
  // Raising the level is the slow side when compressing; below 1:1 the roles swap.
  const float attackTime = k >= 0.0f ? 0.1f * time + 3.0f : time + 3.0f;
  const float releaseTime = k >= 0.0f ? time + 3.0f : 0.1f * time + 3.0f;
  const float attack = smoothingCoefficient(attackTime);
  const float release = smoothingCoefficient(releaseTime);
  const float threshold = (std::min(-10.0f * k, 0.0f) - 12.0f) * kDecibelsToLog2;
  const float offset = std::max(1.0f - ratio, 0.0f);

  float g = gainLevel;
  float h = heldPeak;
  for (int i = 0; i < nFrames; ++i) {
    const float l = guardSample(in[0][i]);
    const float r = guardSample(in[1][i]);
    h = std::max(0.99f * h, linkedPeak(l, r));
    const float level = fastLog2(h);
    const float target = std::max(threshold - offset - level, 0.0f) * k + offset;
    g += (target < g ? attack : release) * (target - g);
    g = std::min(g, -level);
    const float gain = fastPow2(g);
    out[0][i] = gain * l;
    out[1][i] = gain * r;
  }
  gainLevel = g;
  heldPeak = h;
}
