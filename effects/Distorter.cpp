#include "effects/Distorter.h"

#include <cmath>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

void Distorter::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 48.0f, 0.0f, "%.0f dB", "Gain", 12.0f);
  p[1].init(Param::kLinear, -100.0f, 100.0f, 0.0f, "%.0f", "Bias", 20.0f);
  FxBase::setup(p);
}

void Distorter::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float drive = fastPow2(paramValue(0) * kDecibelsToLog2);
  const float bias = paramValue(1) / 100.0f;

  const float h = 0.5f * drive / (0.25f * drive + 1.0f) + 0.5f;
  const float soft = (1.0f - 0.6f * std::fabs(bias)) * h;
  const float hard = h / (1.05f - std::fabs(bias));
  const float positiveSlope = bias >= 0.0f ? hard : soft;
  const float negativeSlope = bias >= 0.0f ? soft : hard;
  const float floor = 1.0f / drive;

  for (int side = 0; side < 2; ++side) {
    float q = gainState[side];
    const float* src = in[side];
    float* dst = out[side];
    for (int i = 0; i < nFrames; ++i) {
      const float x = guardSample(src[i]);
      const float d = (x > 0.0f ? positiveSlope : negativeSlope) * std::fabs(x) + floor;
      q += 0.5f * (1.0f / d - q);
      dst[i] = softClip(q * x);
    }
    gainState[side] = q;
  }
}
