#pragma once

#include <array>
#include <cstdint>

#include "engine/dsp/BandScale.h"

// The fixed filter bank through which a recorded hit is measured in the 80 bands.
//
// Frames of 256 samples, one every 64, pass the analysis window and a 256-point FFT (129
// bins, 44100 / 256 Hz apart). Each band then takes
//  - a weighted complex sum over a few neighbouring bins (the bin-weight record), which picks
//    out the band coarsely;
//  - a complex time kernel across frames, which sharpens it: a tone of f bins turns by
//    pi f / 2 per frame, and the kernel passes the rotation of the band's centre. The low bands
//    are narrower than a bin and get their resolution from their long kernels;
//  - from band 50 up, where bands grow wider than the window's main lobe, a share of plain bin
//    powers over a wider span (the high-band record), so that a whole band is heard.
//
// The tables are laid out as flat records, band after band, and are built once on first use.
// All weights are positive, and every band is scaled so that a steady sine at its centre gives
// a band energy equal to its squared amplitude.
struct AnalysisFilterBank {
  static constexpr int32_t kFrameSize = 256;
  static constexpr int32_t kHop = 64;
  static constexpr int32_t kBins = kFrameSize / 2 + 1;
  static constexpr double kBinHz = 44100.0 / kFrameSize;
  static constexpr float kWindowPeak = 0.016874f;  // at the window's centre
  static constexpr float kWindowSum = 2.0f;        // a sine of amplitude A peaks at A in its bin
  static constexpr float kBinWeightSum = 1.63f;    // per band
  static constexpr int32_t kKernelTaps = 601;      // sum of the half-lengths
  static constexpr int32_t kBinWeightFloats = 391;
  static constexpr int32_t kHighBandFloats = 563;
  static constexpr int32_t kFirstHighBand = 50;

  // Symmetric bell, 0 at index 0, peak kWindowPeak at index 128, summing to kWindowSum.
  std::array<float, kFrameSize> window{};
  // L(b): band b's kernel has 2L - 1 taps.
  std::array<int32_t, kBandCount> kernelHalfLengths{};
  // Per band, L(b) complex coefficients c(0..L-1) as (re, im) pairs; the taps are c(k) on one
  // side of the centre and conj(c(k)) on the other.
  std::array<float, 2 * kKernelTaps> bandKernels{};
  // Per band, W(b) floats: the first bin (as a float), then W(b) - 1 weights.
  std::array<float, kBinWeightFloats> binWeights{};
  std::array<int32_t, kBandCount> binWeightCounts{};
  // Per band from kFirstHighBand, H(b) floats: the first power bin (as a float), the weight of
  // the kernel energy, then H(b) - 2 power weights. H(b) = 0 below.
  std::array<float, kHighBandFloats> highBandRecords{};
  std::array<int32_t, kBandCount> highBandCounts{};
};

const AnalysisFilterBank& analysisFilterBank();

// Real response of the analysis window, rotated so that its centre is sample 0, to a complex
// sine lying `offsetBins` bins away from the bin: 2.0 at offset 0.
double analysisWindowResponse(const std::array<float, AnalysisFilterBank::kFrameSize>& window, double offsetBins);
