#include "effects/CompTape.h"

#include <algorithm>
#include <cmath>

#include "effects/SampleGuard.h"
#include "engine/core/WrapPhase.h"

namespace {

constinit SharedLcg gTapeRandom(12345u);

// Parameters and wobble are updated once per chunk and ramped inside it.
constexpr int kChunk = 64;

// The follower's fast side, 0.6 + 0.1 as single-precision sums give it.
constexpr float kFollowDown = 0.59999996f + 0.1f;
constexpr float kFollowUp = 0.1f;

}  // namespace

SharedLcg& CompTape::sharedRandom() { return gTapeRandom; }

void CompTape::Wobble::advance(float step, SharedLcg& random) {
  phase += step;
  if (phase >= 1.0f) {
    points[0] = points[1];
    points[1] = points[2];
    points[2] = static_cast<float>(random.next()) * 2.3283e-10f;
    phase = wrapPhase(phase);
  }
}

float CompTape::Wobble::value() const {
  const float p = phase;
  return 0.5f * ((1.0f - p) * (1.0f - p) * points[0] + (1.0f + 2.0f * p - 2.0f * p * p) * points[1] +
                 p * p * points[2]);
}

void CompTape::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Drive", 50.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Age", 50.0f);
  FxBase::setup(p);
}

void CompTape::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float drive = paramValue(0) / 100.0f;
  const float age = paramValue(1) / 100.0f;
  const float c = std::min(5000.0f / sampleRate, 1.0f);

  const float shapeLinear = 2.0f * drive + 0.5f;
  const float shapeConstant = 1.0f - 0.9f * drive;
  const float shapeSquare = age * age * drive;
  const float slopeFeedback = 1.0f / (4.0f * c + 1.0f);
  const float slopeGain = 1.0f / (c + 0.25f);

  SharedLcg& random = gTapeRandom;
  for (int start = 0; start < nFrames; start += kChunk) {
    const int n = std::min(kChunk, nFrames - start);
    const float step = std::min(3.0f * static_cast<float>(n) / sampleRate, 1.0f);
    for (Channel& ch : channels) {
      ch.cutoffWobble.advance(step, random);
      ch.bandWobble.advance(step, random);
    }

    const float inverseN = 1.0f / static_cast<float>(n);
    // Both sides in one pass: each side's filters and follower wait on their own previous
    // sample, so the two run side by side. A side reads its sample before writing it, and the
    // left side goes first at every sample, as when the sides ran one after the other.
    struct Side {
      float lp, hp, y, m, g, k, rho, b;
      float cutoffStep, dampingStep, bandStep;
      const float* src;
      float* dst;
    };
    Side sides[2];
    for (int side = 0; side < 2; ++side) {
      Channel& ch = channels[side];
      const float cutoffTarget = c + (ch.cutoffWobble.value() - 0.5f) * c * age;
      const float dampingTarget = 1.0f / (4.0f * cutoffTarget + 1.0f);
      const float bandTarget = 0.25f + (ch.bandWobble.value() - 0.8f) * 0.25f * age;
      sides[side] = {ch.lowpass,
                     ch.highpass,
                     ch.emphasis,
                     ch.slope,
                     ch.gain,
                     ch.cutoff,
                     ch.damping,
                     ch.bandGain,
                     (cutoffTarget - ch.cutoff) * inverseN,
                     (dampingTarget - ch.damping) * inverseN,
                     (bandTarget - ch.bandGain) * inverseN,
                     in[side] + start,
                     out[side] + start};
    }
    for (int i = 0; i < n; ++i) {
      for (Side& sd : sides) {
        const float x = guardSample(sd.src[i]);
        sd.hp = sd.rho * sd.hp + x - sd.lp;
        sd.lp = sd.lp + sd.k * sd.hp;
        const float w = sd.b * sd.hp + sd.lp;
        const float z = w / (std::fabs(w) * shapeLinear + shapeConstant + w * w * shapeSquare);
        const float slopeNew = (z - sd.y) * slopeGain;
        const float v = sd.y + slopeNew - slopeFeedback * sd.m;
        sd.m = slopeNew;
        sd.y = z - 0.25f * slopeNew;
        const float t = 1.0f / (std::fabs(v) * shapeLinear + shapeConstant);
        sd.g += (t < sd.g ? kFollowDown : kFollowUp) * (t - sd.g);
        sd.dst[i] = sd.g * v;
        sd.k += sd.cutoffStep;
        sd.rho += sd.dampingStep;
        sd.b += sd.bandStep;
      }
    }
    for (int side = 0; side < 2; ++side) {
      Channel& ch = channels[side];
      const Side& sd = sides[side];
      ch.lowpass = sd.lp;
      ch.highpass = sd.hp;
      ch.emphasis = sd.y;
      ch.slope = sd.m;
      ch.gain = sd.g;
      ch.cutoff = sd.k;
      ch.damping = sd.rho;
      ch.bandGain = sd.b;
    }
  }
}
