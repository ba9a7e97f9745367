#pragma once

#include <cstdint>
#include <vector>

// A grid of float32 values held as a list of rows of equal length. The blob's curve sets and
// the analysis pictures are both grids; blob grids are sized once and never reshaped, so
// readers may keep pointers into their rows.
using FloatGrid = std::vector<std::vector<float>>;

// Truncates toward zero and clamps to lo..hi; NaN gives lo. Safe for any float, where a plain
// cast of a huge or non-finite value would be undefined.
inline int32_t truncClamped(float x, int32_t lo, int32_t hi) {
  if (!(x > static_cast<float>(lo))) return lo;
  if (x >= static_cast<float>(hi)) return hi;
  return static_cast<int32_t>(x);
}
