#pragma once

#include <cmath>

// The loudest sample an effect takes in, 120 dB above full scale. Nothing musical comes near
// it; holding input there keeps squares and cubes in the effects' formulas finite.
inline constexpr float kSampleLimit = 1.0e6f;

// What an effect takes from its input: a NaN becomes silence and an infinity or an absurd
// level is held at the limit, so that a broken sample upstream never settles in an effect's
// filter or envelope memory for good.
inline float guardSample(float x) {
  if (std::fabs(x) <= kSampleLimit) return x;
  return x > 0.0f ? kSampleLimit : (x < 0.0f ? -kSampleLimit : 0.0f);
}
