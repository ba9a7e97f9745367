#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

#include "engine/core/Lcg.h"
#include "engine/core/WrapPhase.h"
#include "engine/dsp/BandScale.h"

// How the 80 bands map onto the 256-point track synthesisers at one sample rate. The narrow
// low bands are each spread into two FFT bins; above them the synthesis runs bin by bin, each
// bin reading the two bands around its frequency. Everything here depends only on the rate
// and is rebuilt when the engine is prepared.
struct BandLayout {
  static constexpr int32_t kFftSize = 256;
  static constexpr int32_t kHop = 64;
  static constexpr int32_t kMaxBins = kFftSize / 2;

  // A synthesis bin above the low bands: the band below its frequency, the two
  // interpolation weights and the amplitude normalisation for the bin's share of the band.
  struct HighBin {
    int32_t band = 0;
    float weightLow = 0.0f;
    float weightHigh = 0.0f;
    float norm = 0.0f;
  };

  float sampleRate = 0.0f;
  // Per band the quadratic c0 + c1·x + c2·x² giving the frequency in cycles per hop at a
  // fractional offset x from the band.
  std::array<std::array<float, 3>, kBandCount> bandCurve{};
  int32_t lowBandCount = 0;
  int32_t topBin = 0;
  int32_t firstHighBin = 0;
  int32_t highBinCount = 0;
  int32_t bandCount = 0;
  std::vector<int32_t> lowBandBin;
  std::vector<float> lowBandWeight0;
  std::vector<float> lowBandWeight1;
  std::vector<float> lowBandHop;       // centre, cycles per hop
  std::vector<float> lowBandHopWidth;  // width, cycles per hop
  std::vector<std::complex<float>> lowBandRotation;
  std::vector<float> lowBandNoiseGain;
  std::vector<HighBin> highBinMap;
  // A fixed noise spectrum sampled at every band and bin: the noise a new voice starts from.
  std::vector<std::complex<float>> noiseSpectrum;

  // Rebuilds everything for the rate (finite and above 0). Allocates.
  void build(float rate);
};

// The generator behind the noise spectrum and the synth track's unison drift. It is shared by
// every engine in the process and keeps its state from one preparation to the next.
SharedLcg& sharedNoiseGenerator();

// The synthesis window of every track synthesiser, before its scaling by 1/256: zero at the
// ends, 45.589 at the centre.
const std::array<float, BandLayout::kFftSize>& synthWindow();

// A cheap cosine and sine of 2π·p for p in 0..1: polynomials in 4p(1 - p), each within 0.009
// of the true value.
inline void approxCosSin(float p, float& c, float& s) {
  const float q = 4.0f * p * (1.0f - p);
  const float q2 = q * q;
  c = 1.0f - (0.5268947f * q2 + 1.4731053f) * q2;
  s = (0.5f - p) * q * ((1.2080399f * q + 1.7851804f) * q + 3.320247f);
}
