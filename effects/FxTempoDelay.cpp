#include "effects/FxTempoDelay.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/FastMathLanes.h"
#include "effects/PolySine.h"
#include "effects/SampleCount.h"
#include "effects/SampleGuard.h"
#include "engine/core/Clamp.h"
#include "engine/core/WrapPhase.h"

namespace {

constexpr float kWobbleHz = 0.66f;
constexpr float kWobbleSeconds = 0.003f;  // the taps' delay swing
constexpr float kLengthGlide = 0.05f;     // steps per chunk
constexpr float kFeedbackGlide = 0.01f;   // per sample
// A tap reads at least this far behind the writer: a chunk read at twice the speed plus the
// interpolator's reach, so it never reads samples the chunk has not written yet.
constexpr float kShortestTap = 2.0f * FxTempoDelay::kChunk + 4.0f;
// ...and at most this far short of the line's end: the read head's own headroom plus a chunk
// at double speed, so a head gliding to the longest tap never laps the writer.
constexpr float kLineMargin = DelayLine::kHeadroom + 2.0f * FxTempoDelay::kChunk;

// The weight of the tap of step j when the length stands at x steps: 1 on the step, falling
// to 0 at 5/6 of a step away, bulged so two neighbours halfway sum to more than 1.
float stepWeight(float x, int j) {
  const float v = std::max(1.0f - 1.2f * std::fabs(x - static_cast<float>(j)), 0.0f);
  return v * (1.0f + 0.83f * (1.0f - v));
}

}  // namespace

void FxTempoDelay::setup(Param* p) {
  p[0].init(Param::kLinear, 1.0f, 8.0f, 0.0f, "%.1f", "Length", 2.7f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Feedback", 50.0f);
  FxBase::setup(p);
}

void FxTempoDelay::setSampleRate(float rate) {
  if (!isUsableSampleRate(rate)) return;
  sampleRate = rate;
  for (DelayLine& line : lines) line.init(sampleCount(kLineSeconds * rate));
  for (DelayReadHead& h : stepHeads) h = DelayReadHead{};
  for (int i = 0; i < 2; ++i)
    rotationLines[i].init(sampleCount(std::exp2(-0.3f * static_cast<float>(i)) * 0.02f * rate));
}

void FxTempoDelay::reset() {
  for (DelayLine& line : lines) line.clear();
  for (DelayLine& line : rotationLines) line.clear();
}

// A tempo no host can mean leaves the last one in place.
void FxTempoDelay::setTempo(float bpm) {
  if (std::isfinite(bpm) && bpm > 0.0f) tempo = bpm;
}

void FxTempoDelay::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  if (lines[0].buffer.empty()) {
    std::fill_n(out[0], nFrames, 0.0f);
    std::fill_n(out[1], nFrames, 0.0f);
    return;
  }
  const float stepSamples = sampleRate * 60.0f / (4.0f * tempo);
  // At most the steps of one second; below 15 beats per minute that would be none, so one
  // step is always allowed (the taps are held inside the line further down).
  const float mostSteps = std::max(std::floor(tempo * 4.0f / 60.0f), 1.0f);
  const float wantedLength = std::min(paramValue(0), mostSteps);
  const float wantedFeedback = paramValue(1) / 100.0f;
  for (int done = 0; done < nFrames; done += kChunk) {
    const int n = std::min(kChunk, nFrames - done);
    processChunk(in[0] + done, in[1] + done, out[0] + done, out[1] + done, n, stepSamples,
                 wantedLength, wantedFeedback);
  }
}

void FxTempoDelay::addStep(float* const wet[2], int n, int j, float w0, float w1,
                           float stepSamples) {
  const int parity = j & 1;
  if (w0 == 0.0f && w1 == 0.0f) {
    // Silent taps let go of their heads, so the next step of this parity starts at its own
    // delay instead of gliding there from far away.
    stepHeads[parity] = DelayReadHead{};
    stepHeads[2 + parity] = DelayReadHead{};
    return;
  }
  const float longest = static_cast<float>(lines[0].length()) - kLineMargin;
  const float weightStep = (w1 - w0) / static_cast<float>(n);
  float weights[kChunk];
  float w = w0;
  for (int k = 0; k < n; ++k) {
    weights[k] = w;
    w += weightStep;
  }
  float tap[kChunk];
  for (int i = 0; i < 2; ++i) {
    const float s = polySine(wrapPhase(phase + 0.25f * static_cast<float>(i) + 0.5f * static_cast<float>(parity)));
    const float delay = clamp(static_cast<float>(j) * stepSamples + s * kWobbleSeconds * sampleRate,
                              kShortestTap, longest);
    lines[i].readModulated(tap, n, delay, &stepHeads[2 * i + parity]);
    for (int k = 0; k < n; ++k) wet[i][k] += weights[k] * tap[k];
  }
}

void FxTempoDelay::processChunk(const float* inL, const float* inR, float* outL, float* outR,
                                int n, float stepSamples, float wantedLength,
                                float wantedFeedback) {
  float dry[2][kChunk], wetL[kChunk], wetR[kChunk];
  // The taps are added into silence; cleared in lanes (an initialiser becomes a string store
  // whose start-up costs more than the clearing).
  static_assert(kChunk % 4 == 0, "whole lane groups");
  for (int k = 0; k < kChunk; k += 4) {
    lanesStore(wetL + k, lanesZero());
    lanesStore(wetR + k, lanesZero());
  }
  for (int k = 0; k < n; ++k) {
    dry[0][k] = guardSample(inL[k]);
    dry[1][k] = guardSample(inR[k]);
  }
  float* const wet[2] = {wetL, wetR};

  phase = wrapPhase(phase + kWobbleHz * static_cast<float>(n) / sampleRate);
  const float next = length + clamp(wantedLength - length, -kLengthGlide, kLengthGlide);
  const int first = static_cast<int>(std::floor(length));
  for (int j = first; j <= first + 1; ++j)
    addStep(wet, n, j, stepWeight(length, j), stepWeight(next, j), stepSamples);
  length = next;

  for (DelayLine& line : rotationLines) line.rotate(wet, n, line.length(), 0.0f);

  const float gainStep =
      clamp((wantedFeedback - feedback) / static_cast<float>(n), -kFeedbackGlide, kFeedbackGlide);
  // Take out the top (a) and the lows (b) before the echo goes round again: the two filters of
  // both sides wait on their last samples; the soft clipping of what goes round does not and
  // runs four samples at a time afterwards.
  float gains[kChunk];
  float g = feedback;
  for (int k = 0; k < n; ++k) {
    gains[k] = g;
    g += gainStep;
  }
  float a[2] = {fast[0], fast[1]};
  float b[2] = {slow[0], slow[1]};
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < 2; ++i) {
      const float x = wet[i][k];
      a[i] = 0.2f * x - 0.8f * a[i];
      b[i] += 0.01f * (x - b[i]);
      wet[i][k] = x - (a[i] + b[i]);
    }
  }
  for (int i = 0; i < 2; ++i) {
    fast[i] = a[i];
    slow[i] = b[i];
    int k = 0;
    for (; k + 4 <= n; k += 4) {
      lanesStore(dry[i] + k, lanesLoad(dry[i] + k) + softClipLanes(lanesLoad(wet[i] + k) * lanesLoad(gains + k)));
    }
    for (; k < n; ++k) dry[i][k] += softClip(wet[i][k] * gains[k]);
    lines[i].write(dry[i], n);
  }
  feedback += static_cast<float>(n) * gainStep;
  std::copy_n(wetL, n, outL);
  std::copy_n(wetR, n, outR);
}
