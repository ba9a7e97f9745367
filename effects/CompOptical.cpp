#include "effects/CompOptical.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

void CompOptical::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 48.0f, 0.0f, "%.0f dB", "Gain", 12.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Speed", 50.0f);
  FxBase::setup(p);
}

namespace {
// The negative half-wave weighs 0.8.
inline float rectify(float x) { return x >= 0.0f ? x : -0.8f * x; }
}  // namespace

void CompOptical::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float gainDb = paramValue(0);
  const float speed = paramValue(1) / 100.0f;

  const float releaseSamples = (400.0f - 395.0f * speed) * 0.001f * sampleRate;
  const float attackSamples = (8.0f - 6.0f * speed) * 0.001f * sampleRate;
  const float release = 1.0f / (releaseSamples + 1.0f);
  const float attack = 1.0f / (attackSamples + 1.0f);
  const float hi = fastPow2(gainDb * kDecibelsToLog2);
  const float lo = fastPow2(-0.25f * gainDb * kDecibelsToLog2);
  const float q = lo / hi;

  float det = detector;
  float g = gain;
  for (int i = 0; i < nFrames; ++i) {
    const float l = guardSample(in[0][i]);
    const float r = guardSample(in[1][i]);
    const float d = std::max(rectify(r), rectify(l)) + 0.0001f;
    det += (d > det ? 0.11f : 0.01f) * (d - det);
    const float delta = lo / (det + q) - g;
    // The rate grows with the error. Held at one whole step, it lands on the target at most:
    // beyond that a loud hit after a quiet, high-gain stretch would overshoot, flip the
    // gain's sign or run away altogether.
    const float rate = (std::fabs(delta) + 0.1f) * (delta < 0.0f ? attack : release);
    g += std::min(rate, 1.0f) * delta;
    out[0][i] = g * l;
    out[1][i] = g * r;
  }
  detector = det;
  gain = g;
}
