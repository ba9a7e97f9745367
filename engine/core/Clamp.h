#pragma once

#include <cstdint>

// hi when v > hi, else lo when v < lo, else v, tested in that order. A float NaN fails both
// comparisons and comes back unchanged: callers that take values from outside check
// finiteness themselves.
inline int32_t clamp(int32_t v, int32_t lo, int32_t hi) { return v > hi ? hi : (v < lo ? lo : v); }
inline float clamp(float v, float lo, float hi) { return v > hi ? hi : (v < lo ? lo : v); }

// hi when v > hi, lo when v is below lo or NaN, else v: for values that may come from outside.
inline float clampOrLow(float v, float lo, float hi) {
  if (!(v >= lo)) return lo;
  return v > hi ? hi : v;
}
