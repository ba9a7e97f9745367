#include "engine/blob/AnalysisFilterBank.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using Bank = AnalysisFilterBank;
constexpr double kPi = std::numbers::pi;

// Kernel half-lengths: about as many frames as it takes to tell a band from its neighbours.
constexpr std::array<int32_t, kBandCount> kHalfLengths = {
    31, 30, 28, 27, 25, 24, 23, 21, 20, 19, 18, 17, 16, 15, 15, 14, 13, 12, 12, 11,
    11, 10, 10, 9,  9,  8,  8,  7,  7,  7,  6,  6,  6,  5,  5,  5,  5,  4,  4,  4,
    4,  4,  3,  3,  3,  3,  3,  3,  3,  3,  2,  2,  2,  2,  2,  2,  2,  2,  2,  2,
    2,  2,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1};

// Bins per high-band record plus its two header floats; the power span grows with the band's
// width (about five widths of integer bins) and the top band's is cut at the Nyquist bin.
constexpr std::array<int32_t, kBandCount - Bank::kFirstHighBand> kHighCounts = {
    9, 10, 9, 10, 11, 11, 12, 12, 12, 13, 14, 15, 15, 15, 17, 18, 18, 19, 20, 21,
    23, 23, 25, 26, 28, 29, 31, 32, 34, 31};

// Power spans reach this many band widths either side of the centre.
constexpr double kPowerSpanWidths = 2.6;
// Share of the coherent (kernel) energy in the high bands: all of it just below the first
// high band, falling linearly to 0.3 at the top, where bands are far wider than the bins the
// coherent sum covers.
constexpr double kTopKernelShare = 0.3;

double centreBin(int32_t b) { return kBandCentreHz[static_cast<size_t>(b)] / Bank::kBinHz; }

// Width of band b in bins: the mean of its spacings to the neighbouring centres.
double widthBins(int32_t b) {
  const int32_t lo = std::max(b - 1, 0);
  const int32_t hi = std::min(b + 1, kBandCount - 1);
  return (centreBin(hi) - centreBin(lo)) / (hi - lo);
}

// w[n] = peak * sin^(2q)(pi n / 256): q is found by bisection so that the sum comes out right;
// the sum falls as q grows.
void buildWindow(std::array<float, Bank::kFrameSize>& window) {
  const double target = Bank::kWindowSum / static_cast<double>(Bank::kWindowPeak);
  auto sumFor = [](double q) {
    double sum = 0.0;
    for (int32_t n = 0; n < Bank::kFrameSize; ++n)
      sum += std::pow(std::sin(kPi * std::min(n, Bank::kFrameSize - n) / Bank::kFrameSize), 2.0 * q);
    return sum;
  };
  double lo = 0.5;
  double hi = 4.0;
  for (int32_t i = 0; i < 60; ++i) {
    const double mid = 0.5 * (lo + hi);
    (sumFor(mid) > target ? lo : hi) = mid;
  }
  const double q = 0.5 * (lo + hi);
  for (int32_t n = 0; n < Bank::kFrameSize; ++n) {
    // Folding the index keeps the two halves bit-identical.
    const double s = std::sin(kPi * std::min(n, Bank::kFrameSize - n) / Bank::kFrameSize);
    window[static_cast<size_t>(n)] = static_cast<float>(Bank::kWindowPeak * std::pow(s, 2.0 * q));
  }
  window[Bank::kFrameSize / 2] = Bank::kWindowPeak;
}

Bank build() {
  Bank bank;
  buildWindow(bank.window);
  auto response = [&](double offset) { return analysisWindowResponse(bank.window, offset); };

  size_t kernelAt = 0;
  size_t weightAt = 0;
  size_t highAt = 0;
  for (int32_t b = 0; b < kBandCount; ++b) {
    const double centre = centreBin(b);

    // Bin weights: the window's own response around the centre (a matched filter), all
    // positive since the record stays inside the main lobe.
    const int32_t count = b < 9 ? 4 : 5;
    bank.binWeightCounts[static_cast<size_t>(b)] = count;
    const int32_t first = std::max(0, static_cast<int32_t>(centre - 1.0));
    float* weights = &bank.binWeights[weightAt];
    weights[0] = static_cast<float>(first);
    double sum = 0.0;
    for (int32_t i = 1; i < count; ++i) sum += std::max(response(first + i - 1 - centre), 0.0);
    double toneGain = 0.0;  // |band sum| for a complex sine of amplitude 1 at the centre
    for (int32_t i = 1; i < count; ++i) {
      const double offset = first + i - 1 - centre;
      const double w = std::max(response(offset), 0.0) * Bank::kBinWeightSum / sum;
      weights[i] = static_cast<float>(w);
      toneGain += weights[i] * response(offset) * 0.5;
    }
    weightAt += static_cast<size_t>(count);

    // Time kernel: a raised-cosine half of L taps turning at the centre's rotation per frame,
    // scaled so the whole chain passes a centred sine at unit gain.
    const int32_t halfLength = kHalfLengths[static_cast<size_t>(b)];
    bank.kernelHalfLengths[static_cast<size_t>(b)] = halfLength;
    const double rotation = 0.5 * kPi * centre;
    double tapSum = 0.0;
    for (int32_t k = 0; k < halfLength; ++k) {
      const double c = std::cos(0.5 * kPi * k / halfLength);
      tapSum += (k == 0 ? 1.0 : 2.0) * c * c;
    }
    for (int32_t k = 0; k < halfLength; ++k) {
      const double c = std::cos(0.5 * kPi * k / halfLength);
      const double a = c * c / (tapSum * toneGain);
      bank.bandKernels[kernelAt++] = static_cast<float>(a * std::cos(rotation * k));
      bank.bandKernels[kernelAt++] = static_cast<float>(a * std::sin(rotation * k));
    }

    // High bands: the kernel energy's share and bell-weighted bin powers, which together give
    // a centred sine its squared amplitude again.
    const int32_t high = b < Bank::kFirstHighBand ? 0 : kHighCounts[static_cast<size_t>(b - Bank::kFirstHighBand)];
    bank.highBandCounts[static_cast<size_t>(b)] = high;
    if (high == 0) continue;
    const int32_t bins = high - 2;
    const double kernelShare =
        1.0 - (1.0 - kTopKernelShare) * (b - Bank::kFirstHighBand + 1) / (kBandCount - Bank::kFirstHighBand);
    const int32_t firstPower = std::clamp(static_cast<int32_t>(std::lround(centre - 0.5 * (bins - 1))), 0,
                                          Bank::kBins - bins);
    const double span = kPowerSpanWidths * widthBins(b);
    float* record = &bank.highBandRecords[highAt];
    record[0] = static_cast<float>(firstPower);
    record[1] = static_cast<float>(kernelShare);
    double toneEnergy = 0.0;
    std::array<double, 40> bell{};
    for (int32_t i = 0; i < bins; ++i) {
      const double offset = firstPower + i - centre;
      const double c = std::fabs(offset) < span ? std::cos(0.5 * kPi * offset / span) : 0.0;
      bell[static_cast<size_t>(i)] = c * c;
      const double amplitude = 0.5 * response(offset);
      toneEnergy += c * c * amplitude * amplitude;
    }
    for (int32_t i = 0; i < bins; ++i)
      record[2 + i] = static_cast<float>(bell[static_cast<size_t>(i)] * (1.0 - kernelShare) / toneEnergy);
    highAt += static_cast<size_t>(high);
  }
  return bank;
}

}  // namespace

double analysisWindowResponse(const std::array<float, AnalysisFilterBank::kFrameSize>& window, double offsetBins) {
  double sum = 0.0;
  for (int32_t n = 0; n < AnalysisFilterBank::kFrameSize; ++n) {
    const int32_t t = n - AnalysisFilterBank::kFrameSize / 2;
    sum += window[static_cast<size_t>(n)] * std::cos(2.0 * kPi * offsetBins * t / AnalysisFilterBank::kFrameSize);
  }
  return sum;
}

const AnalysisFilterBank& analysisFilterBank() {
  static const AnalysisFilterBank bank = build();
  return bank;
}
