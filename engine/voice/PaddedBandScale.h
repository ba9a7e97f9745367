#pragma once

#include <array>
#include <cstdint>

#include "engine/dsp/BandScale.h"

// The band centres with four extra entries at each end, continued along the end spacings, and
// the inverse spacing of every band, padded the same way with copies of the end values. A
// cursor that walks a frequency through the bands may step a little past either end without a
// range check. Index with band + kBandPadding (entries for bands -4..83).
constexpr int32_t kBandPadding = 4;
constexpr int32_t kPaddedBandCount = kBandCount + 2 * kBandPadding;

namespace band_scale_detail {

// The spacing above the top band: the width between bands 78 and 79.
constexpr float kTopSpacing = 1091.65625f;

constexpr std::array<float, kPaddedBandCount> makePaddedCentres() {
  std::array<float, kPaddedBandCount> c{};
  const float low = kBandCentreHz[0];
  const float d0 = kBandCentreHz[1] - kBandCentreHz[0];
  for (int32_t k = 1; k <= kBandPadding; ++k) {
    c[static_cast<std::size_t>(kBandPadding - k)] = low - static_cast<float>(k) * d0;
    c[static_cast<std::size_t>(kBandPadding + kBandCount - 1 + k)] =
        kBandCentreHz[kBandCount - 1] + static_cast<float>(k) * kTopSpacing;
  }
  for (int32_t b = 0; b < kBandCount; ++b) c[static_cast<std::size_t>(b + kBandPadding)] = kBandCentreHz[static_cast<std::size_t>(b)];
  return c;
}

constexpr std::array<float, kPaddedBandCount> makePaddedInverseSpacings() {
  std::array<float, kPaddedBandCount> s{};
  for (int32_t b = 0; b < kBandCount; ++b) {
    const int32_t lo = b < kBandCount - 1 ? b : kBandCount - 2;
    s[static_cast<std::size_t>(b + kBandPadding)] =
        1.0f / (kBandCentreHz[static_cast<std::size_t>(lo) + 1] - kBandCentreHz[static_cast<std::size_t>(lo)]);
  }
  for (int32_t k = 0; k < kBandPadding; ++k) {
    s[static_cast<std::size_t>(k)] = s[kBandPadding];
    s[static_cast<std::size_t>(kBandPadding + kBandCount + k)] = s[kBandPadding + kBandCount - 1];
  }
  return s;
}

}  // namespace band_scale_detail

inline constexpr std::array<float, kPaddedBandCount> kPaddedBandCentreHz = band_scale_detail::makePaddedCentres();
inline constexpr std::array<float, kPaddedBandCount> kPaddedBandInverseSpacing =
    band_scale_detail::makePaddedInverseSpacings();
