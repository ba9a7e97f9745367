#pragma once

#include <cmath>
#include <cstdint>

#include "engine/Blob.h"

// Helpers shared by the blob tests.
namespace blob_test {

// Deterministic noise in -1..1 from the engine's LCG recurrence.
struct Noise {
  uint32_t state = 12345u;
  float next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<int32_t>(state)) * (1.0f / 2147483648.0f);
  }
};

// Every inner point moved by up to +-amount (endpoints kept), without refreshing.
inline void perturb(Blob& blob, float amount, uint32_t seed) {
  Noise noise{seed};
  for (FloatGrid* grid : {&blob.gridA, &blob.gridB})
    for (auto& curve : *grid)
      for (size_t i = 1; i + 1 < curve.size(); ++i) curve[i] += amount * noise.next();
}

inline bool allFinite(const FloatGrid& grid) {
  for (const auto& row : grid)
    for (float v : row)
      if (!std::isfinite(v)) return false;
  return true;
}

inline float maxDifference(const FloatGrid& a, const FloatGrid& b) {
  float worst = 0.0f;
  for (size_t k = 0; k < a.size(); ++k)
    for (size_t i = 0; i < a[k].size(); ++i) worst = std::fmax(worst, std::fabs(a[k][i] - b[k][i]));
  return worst;
}

}  // namespace blob_test
