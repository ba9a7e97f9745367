#include "effects/FxChorus.h"

#include <algorithm>
#include <cmath>

#include "effects/PolySine.h"
#include "effects/SampleCount.h"
#include "effects/SampleGuard.h"
#include "engine/core/WrapPhase.h"

namespace {

constexpr float kCrossFeedback = 0.15f;
constexpr float kDiffusion = -0.618f;
constexpr float kVoiceOffset = 0.35f;  // LFO phase of the second voice

}  // namespace

void FxChorus::setup(Param* p) {
  p[0].init(Param::kExponential, 1.0f, 100.0f, 0.0f, "%.1f cent", "Depth", 10.0f);
  p[1].init(Param::kPower, 0.5f, 10.0f, 2.0f, "%.2f Hz", "Rate", 2.0f);
  FxBase::setup(p);
}

void FxChorus::setSampleRate(float rate) {
  if (!isUsableSampleRate(rate)) return;
  sampleRate = rate;
  for (DelayLine& line : voiceLines) line.init(std::max(sampleCount(0.25f * rate), 512));
  for (int i = 0; i < 3; ++i)
    rotationLines[i].init(sampleCount(std::exp2(-0.3f * static_cast<float>(i)) * 0.01f * rate));
  for (int i = 0; i < 2; ++i)
    diffusionLines[i].init(sampleCount(std::exp2(-static_cast<float>(i) / 7.0f) * 0.012f * rate));
}

void FxChorus::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  if (voiceLines[0].buffer.empty()) {
    std::fill_n(out[0], nFrames, 0.0f);
    std::fill_n(out[1], nFrames, 0.0f);
    return;
  }
  // Voice delays swing between base + 0.33 and base + 2.38 widths; slow rates swing wider so
  // the pitch deviation stays near "Depth", and the deepest swing stays inside the lines.
  const float depth = paramValue(0);
  const float rate = paramValue(1);
  const float base = std::max(0.01f * sampleRate, 36.0f);
  const float width =
      std::min((1.0f / (rate * 1.5f * 3.14f + 0.01f) + 0.1f) * sampleRate * depth / 1700.0f,
               static_cast<float>(voiceLines[0].length() / 3) - base);
  for (int done = 0; done < nFrames; done += kChunk) {
    const int n = std::min(kChunk, nFrames - done);
    processChunk(in[0] + done, in[1] + done, out[0] + done, out[1] + done, n, rate, base, width);
  }
}

void FxChorus::processChunk(const float* inL, const float* inR, float* outL, float* outR, int n,
                            float rate, float base, float width) {
  float dry[2][kChunk], wet[2][kChunk];
  for (int k = 0; k < n; ++k) {
    dry[0][k] = guardSample(inL[k]);
    dry[1][k] = guardSample(inR[k]);
  }
  phase = wrapPhase(phase + static_cast<float>(n) * rate / sampleRate);
  for (int i = 0; i < 2; ++i) {
    const float s = polySine(wrapPhase(phase + kVoiceOffset * static_cast<float>(i)));
    const float delay = (s + 0.05f * static_cast<float>(i) + 1.33f) * width + base;
    voiceLines[i].readModulated(wet[i], n, delay);
    diffusionLines[i].allpass(wet[i], n, diffusionLines[i].length(), kDiffusion, 0.0f);
  }
  float* const pair[2] = {wet[0], wet[1]};
  for (DelayLine& line : rotationLines) line.rotate(pair, n, line.length(), 0.0f);
  for (int i = 0; i < 2; ++i) {
    for (int k = 0; k < n; ++k) dry[i][k] += kCrossFeedback * wet[1 - i][k];
    voiceLines[i].write(dry[i], n);
  }
  std::copy_n(wet[0], n, outL);
  std::copy_n(wet[1], n, outR);
}
