#pragma once

#include <cstdint>

// x - floor(x), in 0..1; 0 for NaN, infinities and magnitudes from 2^23 up (which have no
// fraction), so a damaged phase can never reach an integer conversion out of range.
inline float wrapPhase(float x) {
  if (!(x < 8388608.0f && x > -8388608.0f)) return 0.0f;
  float t = static_cast<float>(static_cast<int32_t>(x));
  if (t > x) t -= 1.0f;
  return x - t;
}
