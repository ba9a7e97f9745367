#include "effects/CompGlue.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

void CompGlue::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 48.0f, 0.0f, "%.0f dB", "Gain", 6.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Speed", 50.0f);
  FxBase::setup(p);
}

void CompGlue::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float gainDb = paramValue(0);
  const float speed = paramValue(1) / 100.0f;

  const float u = (1.0f - 0.98f * speed) * (1.0f - 0.98f * speed);
  const float attack = smoothingCoefficient(sampleRate * (0.0005f + 0.02f * u));
  const float release = smoothingCoefficient(sampleRate * (0.0005f + 0.2f * u));
  const float makeup = gainDb * kDecibelsToLog2;
  const float threshold = (-10.0f - 1.333f * gainDb) * kDecibelsToLog2;

  float g = gainLevel;
  for (int i = 0; i < nFrames; ++i) {
    const float l = guardSample(in[0][i]);
    const float r = guardSample(in[1][i]);
    const float level = fastLog2(linkedPeak(l, r));
    const float target = std::min(threshold - level, 0.0f) * 0.6666666f + makeup;
    g += (target < g ? attack : release) * (target - g);
    const float gain = fastPow2(g);
    out[0][i] = softClip(gain * l);
    out[1][i] = softClip(gain * r);
  }
  gainLevel = g;
}
