#pragma once

#include <cstdint>

#include "engine/VoiceFrameKernels.h"

// The arithmetic of VoiceFrameKernels, written once for any lane type L (Lanes, WideLanes,
// WiderLanes). Every lane gets exactly the arithmetic of the scalar expression it replaces, so
// every width gives the same bits.
//
// Only templates and plain records live here: a wide translation unit includes this header
// under its own target, and each lane type gets its own instantiation.
namespace voiceframe {

// Per column: the time curve at or below it, and how far it lies towards the next one.
struct ColumnPlaces {
  float curve[kMixedColumns];
  float fraction[kMixedColumns];
  constexpr ColumnPlaces() : curve(), fraction() {
    for (int32_t j = 0; j < kMixedColumns; ++j) {
      curve[j] = static_cast<float>(j / kCurveSpacing);
      fraction[j] = static_cast<float>(j % kCurveSpacing) / static_cast<float>(kCurveSpacing);
    }
  }
};
inline constexpr ColumnPlaces kColumnPlaces{};

template <class L>
void columnFrequencies(const float* const* rowsA, const float* const* rowsB, const float* reached, float x,
                       float* columns) {
  constexpr int32_t W = L::kWidth;
  static_assert(kMixedColumns % W == 0, "whole lane groups");
  const L one = L::splat(1.0f);
  const L zero = L::zero();
  const L topPair = L::splat(static_cast<float>(kFrequencyRows - 2));
  const L weightA = L::splat(1.0f - x);
  const L weightB = L::splat(x);
  const typename L::SmallTable reachedAt(reached, kCurves);
  for (int32_t j = 0; j < kMixedColumns; j += W) {
    const L curve = L::load(kColumnPlaces.curve + j);
    const L u = L::load(kColumnPlaces.fraction + j);
    const L rho = (one - u) * reachedAt.at(curve) + u * reachedAt.at(curve + one);
    // The pair of frequency rows around rho, held inside the rows (a NaN takes the first).
    L pair = lanesSelect(lanesLess(zero, rho), rho, zero);
    pair = lanesTruncate(lanesSelect(lanesLessEqual(topPair, pair), topPair, pair));
    const L g = rho - pair;
    // Every row mixed at these columns; each lane then keeps the two rows of its pair.
    L mixed[kFrequencyRows];
    for (int32_t r = 0; r < kFrequencyRows; ++r) mixed[r] = weightA * L::load(rowsA[r] + j) + weightB * L::load(rowsB[r] + j);
    L below = mixed[0];
    L above = mixed[1];
    for (int32_t r = 1; r + 1 < kFrequencyRows; ++r) {
      const auto reachesRow = lanesLessEqual(L::splat(static_cast<float>(r)), pair);
      below = lanesSelect(reachesRow, mixed[r], below);
      above = lanesSelect(reachesRow, mixed[r + 1], above);
    }
    lanesStore(columns + j, (one - g) * below + g * above);
  }
}

template <class L>
constexpr VoiceFrameKernels kernelsFor() {
  return {&columnFrequencies<L>};
}

}  // namespace voiceframe
