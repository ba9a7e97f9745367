#include "effects/ParaDist.h"

#include <algorithm>

#include "effects/SampleGuard.h"

void ParaDist::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Drive", 50.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Color", 50.0f);
  FxBase::setup(p);
}

void ParaDist::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float dry = 1.0f - 0.92f * (paramValue(0) / 100.0f);
  const float color = paramValue(1) / 100.0f;
  const float shade = 0.7f * color + 0.3f;
  // Below about 6.7 kHz the frequency is held where the filter stays stable.
  const float f = std::min(shade * shade * shade * 3000.0f / sampleRate, 0.45f);

  const float hardScale = 1.0f / (dry * dry + 0.1f);
  const float softTerm = dry * dry / (0.5f * color + 0.2f);
  const float cutoffTarget = f * f / (0.5f * f * f + 0.025f);
  const float dampingTarget = 1.0f - f / (f + 0.1f);
  // The coefficients glide over 10 ms, or over the whole call when it is longer.
  const float span = std::max(0.01f * sampleRate, static_cast<float>(nFrames));
  const float cutoffStep = (cutoffTarget - cutoff) / span;
  const float dampingStep = (dampingTarget - damping) / span;

  float g1 = cutoff;
  float g2 = damping;
  float lp0 = channels[0].lowpass, hp0 = channels[0].highpass;
  float lp1 = channels[1].lowpass, hp1 = channels[1].highpass;
  for (int i = 0; i < nFrames; ++i) {
    const float x0 = guardSample(in[0][i]);
    const float x1 = guardSample(in[1][i]);
    hp0 = g2 * hp0 + x0 - lp0;
    lp0 += hp0 * g1;
    hp1 = g2 * hp1 + x1 - lp1;
    lp1 += hp1 * g1;
    const float w0 = hp0 > 0.0f ? 2.0f * hardScale : -hardScale;
    const float w1 = hp1 > 0.0f ? 2.0f * hardScale : -hardScale;
    out[0][i] = hp0 / (w0 * hp0 + softTerm);
    out[1][i] = hp1 / (w1 * hp1 + softTerm);
    g1 += cutoffStep;
    g2 += dampingStep;
  }
  channels[0] = {lp0, hp0};
  channels[1] = {lp1, hp1};
  cutoff = g1;
  damping = g2;
}
