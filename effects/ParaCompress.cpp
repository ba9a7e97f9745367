#include "effects/ParaCompress.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

void ParaCompress::setup(Param* p) {
  p[0].init(Param::kLinear, 0.1f, 10.0f, 0.0f, "%.1f", "Ratio", 3.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Speed", 50.0f);
  FxBase::setup(p);
}

void ParaCompress::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float ratio = paramValue(0);
  const float speed = paramValue(1) / 100.0f;

  const float v = 1.0f - 0.9f * speed;
  const float releaseTime = v * v * 0.2f * sampleRate;
  const float attackTime = 0.05f * releaseTime + 0.0005f * sampleRate;
  const float release = smoothingCoefficient(releaseTime);
  const float attack = smoothingCoefficient(attackTime);
  const float threshold = -15.0f * kDecibelsToLog2;
  const float slope = 1.0f - 1.0f / ratio;

  float g = gainLevel;
  for (int i = 0; i < nFrames; ++i) {
    const float l = guardSample(in[0][i]);
    const float r = guardSample(in[1][i]);
    const float level = fastLog2(linkedPeak(l, r));
    const float target = (threshold - level) * slope;
    // Never more gain than lifts the peak to full scale.
    g = std::min(-level, g + (g > target ? attack : release) * (target - g));
    const float gain = fastPow2(g);
    out[0][i] = softClip(gain * l);
    out[1][i] = softClip(gain * r);
  }
  gainLevel = g;
}
