#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/blob/Blob.h"

// Helpers shared by the blob tests.
namespace blob_test {

// Deterministic noise in -1..1 from the engine's LCG recurrence.
struct Noise {
  uint32_t state = 12345u;
  float next() { return static_cast<int32_t>(state = state * 1664525u + 1013904223u) * (1.0f / 2147483648.0f); }
};

// Every inner point moved by up to +-amount (endpoints kept), without refreshing.
inline void perturb(Blob& blob, float amount, uint32_t seed) {
  Noise noise{seed};
  for (FloatGrid* grid : {&blob.gridA, &blob.gridB})
    for (auto& curve : *grid)
      for (size_t i = 1; i + 1 < curve.size(); ++i) curve[i] += amount * noise.next();
}

inline bool allFinite(const FloatGrid& grid) {
  const auto finite = [](const std::vector<float>& row) { return std::all_of(row.begin(), row.end(), [](float v) { return std::isfinite(v); }); };
  return std::all_of(grid.begin(), grid.end(), finite);
}

inline float maxDifference(const FloatGrid& a, const FloatGrid& b) {
  float worst = 0.0f;
  for (size_t k = 0; k < a.size(); ++k)
    for (size_t i = 0; i < a[k].size(); ++i) worst = std::fmax(worst, std::fabs(a[k][i] - b[k][i]));
  return worst;
}

inline std::vector<uint8_t> bytesOf(const Blob& blob) {
  std::vector<uint8_t> out;
  return blob.toBytes(out);
}

}  // namespace blob_test
