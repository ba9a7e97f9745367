#include "effects/ReverbHall.h"

#include <algorithm>
#include <cmath>

#include "engine/core/Clamp.h"
#include "platform/RuntimeRandom.h"

namespace {

// The network's twelve lines: the shortest 1.6 ms, each next one 1.49 times longer.
constexpr float kBaseSeconds = 0.0016f;
constexpr float kLineRatio = 1.49f;

}  // namespace

void ReverbHall::declareLengthColor(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Color", 50.0f);
}

void ReverbHall::setup(Param* p) {
  declareLengthColor(p);
  FxBase::setup(p);
}

void ReverbHall::setSampleRate(float rate) {
  if (!isUsableSampleRate(rate)) return;
  sampleRate = rate;
  network.init(rate, kBaseSeconds, kLineRatio);
}

int ReverbHall::nextRandom() {
  randomState = randomState * 214013u + 2531011u;
  return static_cast<int>((randomState >> 16) & 0x7FFFu);
}

void ReverbHall::reset() {
  network.reset();
  network.lfoPhase = static_cast<float>(nextRandom()) / static_cast<float>(kCrtRandMax);
}

void ReverbHall::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float length = paramValue(0) / 100.0f + 0.5f;
  const float l2 = length * length;
  network.decayTime = 0.6f * l2 * l2;
  // "Color" takes the loop from fully damped (below 3/8) to undamped (above 5/8); the
  // high-pass rises from 50 Hz to 4.3 kHz and resonates only around the middle.
  const float c = paramValue(1) / 100.0f;
  network.damping = clamp(2.5f - 4.0f * c, 0.0f, 1.0f) * 100.0f;
  const float bright = std::max(4.0f * c - 3.0f, 0.0f);
  network.toneKHz = 4.0f * bright * bright + 0.3f - 0.25f * std::max(1.0f - 4.0f * c, 0.0f);
  network.toneDamping = (2.0f * std::fabs(c - 0.5f) + 1.0f) * 60.0f + 20.0f;
  network.process(in, out, nFrames);
}
