#include "effects/CompTape.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"
#include "engine/dsp/SimdLanes.h"
#include "engine/core/WrapPhase.h"

namespace {

constinit SharedLcg gTapeRandom(12345u);

// Parameters and wobble are updated once per chunk and ramped inside it.
constexpr int kChunk = 64;

// The follower's fast side, 0.6 + 0.1 as single-precision sums give it.
constexpr float kFollowDown = 0.59999996f + 0.1f;
constexpr float kFollowUp = 0.1f;

// One side's running values over a chunk, its parameter ramps and its samples.
struct Side {
  float lp, hp, y, m, g, k, rho, b;
  float cutoffStep, dampingStep, bandStep;
  const float* src;
  float* dst;
};

// The shaping constants of one call.
struct Shape {
  float linear, constant, square, slopeFeedback, slopeGain;
};

// Sample i of one side: filters, saturation, emphasis and follower.
inline void stepSide(Side& sd, int i, const Shape& sh) {
  const float x = guardSample(sd.src[i]);
  sd.hp = sd.rho * sd.hp + x - sd.lp;
  sd.lp = sd.lp + sd.k * sd.hp;
  const float w = sd.b * sd.hp + sd.lp;
  const float z = w / (std::fabs(w) * sh.linear + sh.constant + w * w * sh.square);
  const float slopeNew = (z - sd.y) * sh.slopeGain;
  const float v = sd.y + slopeNew - sh.slopeFeedback * sd.m;
  sd.m = slopeNew;
  sd.y = z - 0.25f * slopeNew;
  const float t = 1.0f / (std::fabs(v) * sh.linear + sh.constant);
  sd.g += selectFloat(t < sd.g, kFollowDown, kFollowUp) * (t - sd.g);
  sd.dst[i] = sd.g * v;
  sd.k += sd.cutoffStep;
  sd.rho += sd.dampingStep;
  sd.b += sd.bandStep;
}

// The same for a whole chunk of both sides, with the same arithmetic taken in stages: only the
// filters, the emphasis and the follower wait on the sample before, so the two divisions of
// every sample run four samples to a step in between. The three waiting stages are skewed by a
// group of four samples each (the filters of group j beside the emphasis of group j - 1 and the
// follower of group j - 2), so their chains run at the same time rather than one after the
// other. A sample is written only after both sides have read it.
void processSides(Side (&sides)[2], int n, const Shape& sh) {
  constexpr int kMax = 64;
  constexpr int kGroup = 4;
  // The running values are copied out of the sides for the loops, so that the stores of the
  // samples cannot be taken for stores into them. The arrays are padded to whole groups; the
  // padding (zeros) goes through the divisions only.
  alignas(16) float w[2][kMax];
  alignas(16) float z[2][kMax];
  alignas(16) float v[2][kMax];
  alignas(16) float t[2][kMax];
  float hp[2] = {sides[0].hp, sides[1].hp};
  float lp[2] = {sides[0].lp, sides[1].lp};
  float k[2] = {sides[0].k, sides[1].k};
  float rho[2] = {sides[0].rho, sides[1].rho};
  float b[2] = {sides[0].b, sides[1].b};
  float y[2] = {sides[0].y, sides[1].y};
  float m[2] = {sides[0].m, sides[1].m};
  // The followers in lanes (all four alike), so that the choice between their two speeds is a
  // mask made beside the difference, and both products wait only on the difference.
  Lanes follower[2] = {lanesSplat(sides[0].g), lanesSplat(sides[1].g)};
  const Lanes followDown = lanesSplat(kFollowDown);
  const Lanes followUp = lanesSplat(kFollowUp);
  const float cutoffStep[2] = {sides[0].cutoffStep, sides[1].cutoffStep};
  const float dampingStep[2] = {sides[0].dampingStep, sides[1].dampingStep};
  const float bandStep[2] = {sides[0].bandStep, sides[1].bandStep};
  const float* src[2] = {sides[0].src, sides[1].src};
  float* dst[2] = {sides[0].dst, sides[1].dst};
  const Lanes linear = lanesSplat(sh.linear);
  const Lanes constant = lanesSplat(sh.constant);
  const Lanes square = lanesSplat(sh.square);
  const Lanes one = lanesSplat(1.0f);
  const int groups = (n + kGroup - 1) / kGroup;

  for (int step = 0; step < groups + 2; ++step) {
    if (step < groups) {
      // Filters, then the saturator's division.
      const int from = kGroup * step;
      const int to = std::min(from + kGroup, n);
      for (int i = from; i < to; ++i) {
        for (int s = 0; s < 2; ++s) {
          const float x = guardSample(src[s][i]);
          hp[s] = rho[s] * hp[s] + x - lp[s];
          lp[s] = lp[s] + k[s] * hp[s];
          w[s][i] = b[s] * hp[s] + lp[s];
          k[s] += cutoffStep[s];
          rho[s] += dampingStep[s];
          b[s] += bandStep[s];
        }
      }
      for (int s = 0; s < 2; ++s) {
        for (int i = to; i < from + kGroup; ++i) w[s][i] = 0.0f;
        const Lanes x = lanesLoad(w[s] + from);
        lanesStore(z[s] + from, x / (lanesAbs(x) * linear + constant + x * x * square));
      }
    }
    if (step >= 1 && step <= groups) {
      // Emphasis, then the follower's division.
      const int from = kGroup * (step - 1);
      const int to = std::min(from + kGroup, n);
      for (int i = from; i < to; ++i) {
        for (int s = 0; s < 2; ++s) {
          const float slopeNew = (z[s][i] - y[s]) * sh.slopeGain;
          v[s][i] = y[s] + slopeNew - sh.slopeFeedback * m[s];
          m[s] = slopeNew;
          y[s] = z[s][i] - 0.25f * slopeNew;
        }
      }
      for (int s = 0; s < 2; ++s) {
        for (int i = to; i < from + kGroup; ++i) v[s][i] = 0.0f;
        lanesStore(t[s] + from, one / (lanesAbs(lanesLoad(v[s] + from)) * linear + constant));
      }
    }
    if (step >= 2) {
      // The follower and the output.
      const int from = kGroup * (step - 2);
      const int to = std::min(from + kGroup, n);
      for (int i = from; i < to; ++i) {
        for (int s = 0; s < 2; ++s) {
          const Lanes target = lanesSplat(t[s][i]);
          const Lanes d = target - follower[s];
          follower[s] = follower[s] + lanesSelect(lanesLess(target, follower[s]), followDown * d, followUp * d);
          dst[s][i] = lanesFirst(follower[s]) * v[s][i];
        }
      }
    }
  }
  for (int s = 0; s < 2; ++s) {
    sides[s].hp = hp[s];
    sides[s].lp = lp[s];
    sides[s].k = k[s];
    sides[s].rho = rho[s];
    sides[s].b = b[s];
    sides[s].y = y[s];
    sides[s].m = m[s];
    sides[s].g = lanesFirst(follower[s]);
  }
}

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
  const Shape shape = {shapeLinear, shapeConstant, shapeSquare, slopeFeedback, slopeGain};

  SharedLcg& random = gTapeRandom;
  for (int start = 0; start < nFrames; start += kChunk) {
    const int n = std::min(kChunk, nFrames - start);
    const float step = std::min(3.0f * static_cast<float>(n) / sampleRate, 1.0f);
    for (Channel& ch : channels) {
      ch.cutoffWobble.advance(step, random);
      ch.bandWobble.advance(step, random);
    }

    const float inverseN = 1.0f / static_cast<float>(n);
    // Each side's filters and follower wait on their own previous sample, so the two run side
    // by side. A side reads its sample before writing it, and the left side goes first at
    // every sample, as when the sides ran one after the other.
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
    if (in[1] != out[0]) {
      processSides(sides, n, shape);
    } else {
      // The left side writes where the right side reads (one buffer for both): sample by
      // sample.
      for (int i = 0; i < n; ++i) {
        for (Side& sd : sides) stepSide(sd, i, shape);
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
