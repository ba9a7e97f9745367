#include "effects/ReverbSpring.h"

#include <algorithm>
#include <cmath>

#include "effects/PolySine.h"
#include "effects/ReverbHall.h"
#include "effects/SampleCount.h"
#include "effects/SampleGuard.h"
#include "engine/core/Clamp.h"
#include "engine/core/WrapPhase.h"

namespace {

constexpr float kWobbleHz = 2.5f;
constexpr float kDecorrelation = -0.61f;

// The spring's delay at f Hz in milliseconds: rising from about 20 ms towards 80 ms just below
// 6 kHz, then falling from 29 ms towards 4 ms.
float springDelayMs(float f) {
  if (f < 6000.0f) return 60.0f * std::exp(-std::fabs(6000.0f - f) / 1200.0f) + 20.0f;
  return 50.0f / ((f - 4000.0f) / 2000.0f + 1.0f) + 4.0f;
}

// Its gain: a notch of +-400 Hz around 6 kHz and a roll-off above 8 kHz (not yet normalised).
float springGain(float f) {
  const float r = f / 8000.0f;
  return (f + 6.0f) / ((1.0f + r * r * r) * (f + 8.0f)) * std::min(std::fabs(f - 6000.0f) / 400.0f, 1.0f);
}

}  // namespace

void ReverbSpring::setup(Param* p) {
  ReverbHall::declareLengthColor(p);
  FxBase::setup(p);
}

void ReverbSpring::setSampleRate(float rate) {
  if (!isUsableSampleRate(rate)) return;
  sampleRate = rate;
  const float framesPerMs = rate / 64000.0f;
  float delay[kBins], gain[kBins];
  float weighted = 0.0f, gainSum = 0.0f, loudest = 0.0f, longest = 0.0f;
  for (int i = 0; i < kBins; ++i) {
    const float f = static_cast<float>(i) * rate / static_cast<float>(kFrameSize);
    delay[i] = framesPerMs * springDelayMs(f);
    gain[i] = springGain(f);
    weighted += gain[i] * delay[i];
    gainSum += gain[i];
    loudest = std::max(loudest, gain[i]);
    longest = std::max(longest, delay[i]);
  }
  for (float& g : gain) g /= loudest;
  // A history of the next power of two above the longest delay and the two frames it mixes.
  const float exponent = std::trunc(std::log2(longest + 4.0f) + 1.0f);
  const int history = static_cast<int>(
      std::min(std::exp2(exponent), static_cast<float>(SpectralDelay::kMaxHistory)));
  spring.init(kFrameSize, history);
  spring.setDelays(delay, gain, kBins);
  meanDelay = 64.0f * weighted / gainSum;

  const int tenth = sampleCount(0.1f * rate);
  loop.init(std::max(tenth / 8 * 8, 256));
  for (int j = 0; j < 2; ++j) {
    decorrelators[j].init(tenth);
    decorrelatorDelays[j] =
        sampleCount(rate * 0.001f * 17.0f * std::exp2(5.0f * static_cast<float>(j) / 7.0f));
  }
}

void ReverbSpring::reset() {
  spring.reset();
  loop.clear();
  for (DelayLine& line : decorrelators) line.clear();
}

void ReverbSpring::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  if (loop.buffer.empty()) {
    std::fill_n(out[0], nFrames, 0.0f);
    std::fill_n(out[1], nFrames, 0.0f);
    return;
  }
  // "Length" 50 loses e^-1.5 per second, each further tenth of "Length" divides that rate by
  // 2^0.6, and longer springs take less of the input.
  const float length = paramValue(0) / 100.0f;
  const float c = paramValue(1) / 100.0f;
  const float decayRate = std::exp2(-6.0f * (length - 0.5f)) * 1.5f / sampleRate;
  const float inputGain = 1.0f - 0.75f * length;
  const float frequency = clamp((8000.0f * c * c * c + 100.0f) / sampleRate, 0.001f, 0.45f);
  const float off = (c - 0.66f) / 0.66f;
  const float damping = clamp(0.75f * off * off + 0.2f, 0.0f, 0.99f);
  for (int done = 0; done < nFrames; done += kChunk) {
    const int n = std::min(kChunk, nFrames - done);
    processChunk(in[0] + done, in[1] + done, out[0] + done, out[1] + done, n, decayRate,
                 inputGain, frequency, damping);
  }
}

void ReverbSpring::processChunk(const float* inL, const float* inR, float* outL, float* outR,
                                int n, float decayRate, float inputGain, float frequency,
                                float damping) {
  float w[kChunk], left[kChunk], right[kChunk];
  wobblePhase = wrapPhase(wobblePhase + kWobbleHz * static_cast<float>(n) / sampleRate);
  const float d = std::max((0.25f * polySine(wobblePhase) + 5.0f) * 0.001f * sampleRate, 2.0f);
  // One pass round the loop (the line and the model's mean delay) loses what that much time
  // at the decay rate does.
  loop.readModulated(w, n, d, nullptr, (d + meanDelay) * decayRate / d);
  for (int k = 0; k < n; ++k) {
    const float x = w[k] / (1.0f + 0.2f * std::fabs(w[k]));
    w[k] = x + inputGain * guardSample(inL[k]) + inputGain * guardSample(inR[k]);
  }
  spring.process(w, w, n);

  std::copy_n(w, n, left);
  std::copy_n(w, n, right);
  decorrelators[0].allpass(left, n, decorrelatorDelays[0], kDecorrelation, decayRate);
  decorrelators[1].allpass(right, n, decorrelatorDelays[1], kDecorrelation, decayRate);
  float* const pair[2] = {left, right};
  resonantHighpass(highpass, pair, pair, n, frequency, damping);
  loop.write(w, n);
  std::copy_n(left, n, outL);
  std::copy_n(right, n, outR);
}
