#include "engine/voice/BandLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/dsp/Fft.h"

namespace {

constexpr int32_t kN = BandLayout::kFftSize;
constexpr int32_t kHalf = kN / 2;
// A band narrower than this many bins is synthesised as a resonator spread into two bins.
constexpr float kNarrowBandBins = 1.3f;
constexpr float kNoisePeak = 0.0169f;
constexpr float kSynthPeak = 45.589f;
constexpr uint32_t kNoiseSeed = 12345u;
constexpr float kTwoToMinus32 = 2.3283064e-10f;

// Blackman, periodic over N, scaled to `peak` at the centre and 0 at entry 0.
std::array<float, kN> blackman(float peak) {
  std::array<float, kN> w{};
  for (int32_t k = 0; k < kN; ++k) {
    const double phase = 2.0 * std::numbers::pi * k / kN;
    w[static_cast<size_t>(k)] =
        static_cast<float>(peak * (0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase)));
  }
  w[0] = 0.0f;
  return w;
}

const std::array<float, kN>& noiseWindow() {
  static const std::array<float, kN> window = blackman(kNoisePeak);
  return window;
}

}  // namespace

SharedLcg& sharedNoiseGenerator() {
  static SharedLcg generator(kNoiseSeed);
  return generator;
}

const std::array<float, BandLayout::kFftSize>& synthWindow() {
  static const std::array<float, kN> window = blackman(kSynthPeak);
  return window;
}

void BandLayout::build(float rate) {
  sampleRate = rate;
  const float k256 = static_cast<float>(kFftSize) / rate;
  const float k64 = static_cast<float>(kHop) / rate;
  const auto& centre = kBandCentreHz;
  const auto& width = kBandWidthHz;

  // Quadratic through the three band centres around band i (the end bands use the nearest
  // three), at offsets measured from band i.
  for (int32_t i = 0; i < kBandCount; ++i) {
    const int32_t j = std::clamp(i - 1, 0, kBandCount - 3);
    float x[3];
    float y[3];
    for (int32_t m = 0; m < 3; ++m) {
      x[m] = static_cast<float>(j - i + m);
      y[m] = k64 * centre[static_cast<size_t>(j + m)];
    }
    const float c2 = ((y[0] - y[2]) * x[1] + (y[2] - y[1]) * x[0] + (y[1] - y[0]) * x[2]) /
                     ((x[0] - x[2]) * (x[0] - x[1]) * (x[1] - x[2]));
    const float c1 = (y[1] - y[0]) / (x[1] - x[0]) - (x[1] + x[0]) * c2;
    const float c0 = y[0] - c2 * x[0] * x[0] - c1 * x[0];
    bandCurve[static_cast<size_t>(i)] = {c0, c1, c2};
  }

  lowBandCount = 0;
  while (lowBandCount < kBandCount && width[static_cast<size_t>(lowBandCount)] < kNarrowBandBins / k256 &&
         centre[static_cast<size_t>(lowBandCount)] < rate * 0.5f) {
    ++lowBandCount;
  }
  topBin = std::min(static_cast<int32_t>(kSynthesisTopHz * k256), kMaxBins);
  firstHighBin = lowBandCount < kBandCount
                     ? static_cast<int32_t>(k256 * centre[static_cast<size_t>(lowBandCount)] + 0.5f)
                     : topBin;
  // Only a rate far outside the audio range could put the first bin above the top one.
  highBinCount = std::max(topBin - firstHighBin, 0);
  bandCount = lowBandCount + highBinCount;

  const size_t low = static_cast<size_t>(lowBandCount);
  lowBandBin.assign(low, 0);
  lowBandWeight0.assign(low, 0.0f);
  lowBandWeight1.assign(low, 0.0f);
  lowBandHop.assign(low, 0.0f);
  lowBandHopWidth.assign(low, 0.0f);
  lowBandRotation.assign(low, {0.0f, 0.0f});
  lowBandNoiseGain.assign(low, 0.0f);
  for (size_t i = 0; i < low; ++i) {
    const float x = k256 * centre[i];
    const int32_t b = static_cast<int32_t>(x);
    const float d = x - static_cast<float>(b);
    const float e = 1.0f - d;
    const float g = std::pow(1.0f - (1.0f - width[i] * k256) * 0.66f, 0.22f);
    const float u0 = 1.0f - ((d - 1.0f) * 0.1f + 1.0f) * d * d;
    const float u1 = 1.0f - ((e - 1.0f) * 0.1f + 1.0f) * e * e;
    lowBandBin[i] = b;
    lowBandWeight0[i] = u0 * u0 * g;
    lowBandWeight1[i] = u1 * u1 * g;
    const float hop = k64 * centre[i];
    lowBandHop[i] = hop;
    lowBandHopWidth[i] = k64 * width[i];
    const float r = 0.5f * std::exp(-2.0f * std::numbers::pi_v<float> * width[i] * k64);
    float c;
    float s;
    approxCosSin(hop - std::floor(hop), c, s);
    const float scale = r / std::sqrt(c * c + s * s);
    lowBandRotation[i] = {c * scale, s * scale};
    lowBandNoiseGain[i] = std::sqrt(1.0f - r * r);
  }

  highBinMap.assign(static_cast<size_t>(highBinCount), HighBin{});
  int32_t b = std::max(lowBandCount - 1, 0);
  for (int32_t k = 0; k < highBinCount; ++k) {
    // A fixed jitter of at most 0.3 bin keeps the bins from sampling the bands in lockstep.
    const float kf = static_cast<float>(k);
    const float f = (0.3f * std::sin((0.01f * kf + 0.5f) * kf) + static_cast<float>(firstHighBin) + kf) / k256;
    while (b < kBandCount - 2 && f > centre[static_cast<size_t>(b) + 1]) ++b;
    const size_t lo = static_cast<size_t>(b);
    const float t = (f - centre[lo]) / (centre[lo + 1] - centre[lo]);
    HighBin& r = highBinMap[static_cast<size_t>(k)];
    r.band = b;
    r.weightLow = std::max(1.0f - std::fabs(t), 0.0f);
    r.weightHigh = std::max(1.0f - std::fabs(1.0f - t), 0.0f);
    r.norm = std::sqrt(1.0f / ((t * width[lo + 1] + (1.0f - t) * width[lo]) * k256));
  }

  // Windowed uniform noise, normalised to unit power, in the frequency domain.
  const std::array<float, kN>& window = noiseWindow();
  float sumSquares = 0.0f;
  for (int32_t k = 0; k < kHalf; ++k) sumSquares += window[static_cast<size_t>(k)] * window[static_cast<size_t>(k)];
  const float scale = std::sqrt(12.0f / sumSquares);
  std::array<float, kN> buffer{};
  SharedLcg& generator = sharedNoiseGenerator();
  for (int32_t k = 0; k < kHalf; ++k) {
    const float u = static_cast<float>(generator.next()) * kTwoToMinus32 - 0.5f;
    buffer[static_cast<size_t>(k)] = u * window[static_cast<size_t>(kHalf + k)] * scale;
  }
  Fft fft;
  fft.init(8, Fft::kInterleaved);
  fft.forward(buffer.data(), buffer.data(), kN);
  // Real parts of bins 0..127 and imaginary parts, the Nyquist value (which sits where bin 0's
  // imaginary part would) dropped.
  std::array<float, kHalf> re{};
  std::array<float, kHalf> im{};
  re[0] = buffer[0];
  for (int32_t k = 1; k < kHalf; ++k) {
    re[static_cast<size_t>(k)] = buffer[static_cast<size_t>(2 * k)];
    im[static_cast<size_t>(k)] = buffer[static_cast<size_t>(2 * k + 1)];
  }
  noiseSpectrum.assign(static_cast<size_t>(bandCount), {0.0f, 0.0f});
  for (size_t i = 0; i < low; ++i) {
    const float x = k256 * centre[i];
    const size_t j = std::min(static_cast<size_t>(x), static_cast<size_t>(kHalf - 2));
    const float f = x - static_cast<float>(j);
    noiseSpectrum[i] = {re[j] + (re[j + 1] - re[j]) * f, im[j] + (im[j + 1] - im[j]) * f};
  }
  for (int32_t k = 0; k < highBinCount; ++k) {
    const size_t j = static_cast<size_t>(std::min(firstHighBin + k, kHalf - 1));
    noiseSpectrum[low + static_cast<size_t>(k)] = {re[j], im[j]};
  }
}
