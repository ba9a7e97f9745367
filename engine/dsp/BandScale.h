#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The 80 frequency bands every sound is analysed, drawn and synthesised in. Band b's centre
// runs from 24 Hz (band 0) to 20000 Hz (band 79); the widths between neighbouring centres grow
// by one constant ratio, chosen so that the top width is exactly 1091.65625 Hz. The table is
// built at compile time, so it is usable from any initialiser.
constexpr int32_t kBandCount = 80;

namespace band_scale_detail {

constexpr double kLowHz = 24.0;
constexpr double kHighHz = 20000.0;
// Ratio between neighbouring widths: the value that puts band 78 at 20000 - 1091.65625 Hz.
constexpr double kWidthRatio = 1.0570441313996661;

constexpr std::array<float, kBandCount> makeBandCentres() {
  std::array<double, kBandCount> power{};
  double p = 1.0;
  for (int32_t b = 0; b < kBandCount; ++b) {
    power[static_cast<std::size_t>(b)] = p;
    p *= kWidthRatio;
  }
  const double span = power[kBandCount - 1] - 1.0;
  std::array<float, kBandCount> hz{};
  for (int32_t b = 0; b < kBandCount; ++b) {
    hz[static_cast<std::size_t>(b)] =
        static_cast<float>(kLowHz + (kHighHz - kLowHz) * (power[static_cast<std::size_t>(b)] - 1.0) / span);
  }
  hz[0] = static_cast<float>(kLowHz);
  hz[kBandCount - 1] = static_cast<float>(kHighHz);
  return hz;
}

}  // namespace band_scale_detail

inline constexpr std::array<float, kBandCount> kBandCentreHz = band_scale_detail::makeBandCentres();

namespace band_scale_detail {

// Band widths grow geometrically from 14.02 Hz to 1122.217 Hz, so that the top centre plus the
// top width is 21122.217 Hz, the upper end of the synthesised range. Neighbouring bands tile
// the spectrum: (width[i] + width[i + 1]) / 2 matches the distance of their centres to within
// 0.03 %.
constexpr double kLowWidthHz = 14.02;
constexpr double kBandWidthRatio = 1.057043280971998;  // (1122.217 / 14.02)^(1/79)

constexpr std::array<float, kBandCount> makeBandWidths() {
  std::array<float, kBandCount> hz{};
  double w = kLowWidthHz;
  for (int32_t b = 0; b < kBandCount; ++b) {
    hz[static_cast<std::size_t>(b)] = static_cast<float>(w);
    w *= kBandWidthRatio;
  }
  return hz;
}

}  // namespace band_scale_detail

inline constexpr std::array<float, kBandCount> kBandWidthHz = band_scale_detail::makeBandWidths();
// The top centre plus the top width: nothing above it is synthesised.
inline constexpr float kSynthesisTopHz = 21122.217f;

// Hz at a fractional band position: linear between the two neighbouring centres, the lower one
// at most band 78, so positions past either end extrapolate along the end widths.
float bandPositionToHz(float position);
