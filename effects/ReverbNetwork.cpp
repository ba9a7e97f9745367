#include "effects/ReverbNetwork.h"

#include <algorithm>
#include <cmath>

#include "effects/DecayGain.h"
#include "effects/PolySine.h"
#include "effects/SampleCount.h"
#include "effects/SampleGuard.h"
#include "engine/core/Clamp.h"
#include "engine/core/WrapPhase.h"

namespace {

constexpr float kDiffusion = -0.618f;
constexpr float kWobbleHz = 0.5f;
constexpr float kTankDelay[2] = {700.0f, 5700.0f};
constexpr float kTankPhase = 0.33f;  // wobble phase offset of the second tank read

// Aims a first-order filter y = a x + s, s := b x - c y at the shelf described by (a, b, c):
// a a quarter of the pole's distance from 1, b the gain at DC and c the gain at the top.
void designTone(RampedFilter& f, float a, float b, float c) {
  const float d = std::max(b, 0.001f * c + 1e-35f);
  const float u = 1.0f - 4.0f * clamp(a, 0.0001f, 0.495f);
  const float v = (c / d) * (u + 1.0f);
  const float p = (v - (1.0f - u)) / ((1.0f - u) + v);
  f.targetA = (1.0f - u) * d / (1.0f - p);
  f.targetB = -f.targetA * p;
  f.targetC = -u;
}

}  // namespace

void ReverbNetwork::init(float rate, float baseSeconds, float ratio) {
  reset();
  sampleRate = rate;
  preDelay.init(sampleCount(0.3f * rate + 16.0f), 2, 64);
  for (DelayLine& line : tank) line.init(kTankLength);
  totalLength = 0.1f * rate;
  lineLengthSum = 0.0f;
  for (int i = 0; i < 2 * kGroupLines; ++i) {
    const float samples = std::pow(ratio, static_cast<float>(i)) * baseSeconds * rate;
    DelayLine& line = i < kGroupLines ? groupA[i] : groupB[i - kGroupLines];
    line.init(sampleCount(samples));
    lineLengthSum += samples;
  }
  totalLength += lineLengthSum;
}

void ReverbNetwork::reset() {
  preDelay.clear();
  for (DelayLine& line : tank) line.clear();
  for (DelayLine& line : groupA) line.clear();
  for (DelayLine& line : groupB) line.clear();
  lfoPhase = 0.0f;
}

void ReverbNetwork::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  if (tank[0].buffer.empty() || !(decayTime > 0.0f)) {
    std::fill_n(out[0], nFrames, 0.0f);
    std::fill_n(out[1], nFrames, 0.0f);
    return;
  }
  // Every tap of d samples gets E(d * rate): about 30 dB down after decayTime seconds.
  const float decayRate = 3.45f / (sampleRate * decayTime);

  // The tone filter loses more at the top the longer the loop and the darker the setting; its
  // DC gain stays 1, so the lows decay at the loop's own rate.
  const float halfLength = 0.5f * totalLength;
  const float dark = damping * 0.01f;
  const float e = decayGain(dark * dark * 2.0f * (decayRate + 0.0001f) * halfLength);
  designTone(tone, 0.5f * e, 1.0f, e * e);

  // Input gain: what the loop loses per pass is fed in, with a little more drive when the decay
  // is short against the lines.
  const float lambda = 1.0f / (0.5f * lineLengthSum * decayRate);
  const float kept = decayGain(halfLength * decayRate);
  const float inputGain = std::sqrt(std::max(1.0f - kept * kept, 0.0f)) * 1.3f * (lambda + 0.3f) /
                          (lambda + 0.0001f);

  for (int done = 0; done < nFrames; done += kChunk) {
    const int n = std::min(kChunk, nFrames - done);
    processChunk(in[0] + done, in[1] + done, out[0] + done, out[1] + done, n, decayRate,
                 inputGain);
  }
}

void ReverbNetwork::processChunk(const float* inL, const float* inR, float* outL, float* outR,
                                 int n, float decayRate, float inputGain) {
  float dryL[kChunk], dryR[kChunk], preL[kChunk], preR[kChunk], workL[kChunk], workR[kChunk];
  for (int k = 0; k < n; ++k) {
    dryL[k] = guardSample(inL[k]);
    dryR[k] = guardSample(inR[k]);
  }
  lfoPhase = wrapPhase(lfoPhase + kWobbleHz * static_cast<float>(n) / sampleRate);

  // The pre-delay never comes closer to the line's end than a chunk, so what it reads has
  // always been written.
  const float longest = static_cast<float>(preDelay.length - kChunk);
  const int pre = static_cast<int>(
      std::min(std::min(preDelayMs, kMaxPreDelayMs) * sampleRate * 0.001f + 0.5f, longest));
  const float* dry[2] = {dryL, dryR};
  if (pre >= 1) {
    float* const delayed[2] = {preL, preR};
    preDelay.write(dry, n);
    preDelay.read(delayed, n, pre);
    dry[0] = preL;
    dry[1] = preR;
  }

  float* const work[2] = {workL, workR};
  const float wobble = modDepth * 1.28f;
  for (int t = 0; t < 2; ++t) {
    const float s = polySine(wrapPhase(lfoPhase + kTankPhase * static_cast<float>(t)));
    tank[t].readModulated(work[t], n, kTankDelay[t] + wobble * s, nullptr, decayRate);
  }
  tone.process(workL, workR, n);
  for (int t = 0; t < 2; ++t)
    for (int k = 0; k < n; ++k) work[t][k] += inputGain * dry[t][k];

  for (int i = 0; i < 3; ++i) groupA[i].rotate(work, n, groupA[i].length(), decayRate);
  for (int j = 0; j < kGroupLines; ++j)
    groupB[j].allpass(work[j % 2], n, groupB[j].length(), kDiffusion, decayRate);
  for (int i = 3; i < kGroupLines; ++i) groupA[i].rotate(work, n, groupA[i].length(), decayRate);
  for (int t = 0; t < 2; ++t) tank[t].write(work[t], n);

  const float frequency = std::min(toneKHz * 1000.0f / sampleRate, 0.45f);
  resonantHighpass(highpass, work, work, n, frequency, (1.0f - toneDamping / 100.0f) * 0.995f);
  bassToMono(bass, work, work, n, std::min((1.0f - monoBass / 100.0f) * 25000.0f / sampleRate, 1.0f));
  std::copy_n(workL, n, outL);
  std::copy_n(workR, n, outR);
}
