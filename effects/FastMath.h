#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "engine/core/Clamp.h"
#include "engine/core/FloatConstants.h"

// Numeric helpers shared by the dynamics and saturation effects: decibel conversion, a fast
// base-2 logarithm and power of two (no library calls in the sample loops), a soft clipper and
// the one-pole smoothing coefficient.

// log2 |x| from the exponent bits and a quartic in the mantissa. Exact enough for gain
// computers (about 1e-4); x = 0 gives about -127.
inline float fastLog2(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  const float e = static_cast<float>(static_cast<int32_t>((bits >> 23) & 0xFFu) - 127);
  const float m = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);
  return ((((0.64802337f - 0.08193954f * m) * m - 2.1291816f) * m + 4.080474f) * m - 2.5173764f) + e;
}

// 2^y from the exponent table and a quartic in the fraction. Arguments are held to the
// table's range first, so that neither an extreme value nor a NaN (which fails both tests and
// gives 0) can index outside it.
inline float fastPow2(float y) {
  if (!(y > -127.0f)) y = -127.0f;
  if (!(y < 127.99f)) y = 127.99f;
  const float z = y + 127.0f;
  const int32_t i = static_cast<int32_t>(z);
  const float f = z - static_cast<float>(i);
  return ((((0.013686472f * f + 0.051752277f) * f + 0.2415656f) * f + 0.69299567f) * f + 1.0f) *
         kExponentSteps[static_cast<uint32_t>(i)];
}

// y (1 + a + a^2) / (1 + a + a^2 + a^3) with a = |y|: linear near 0, approaching +-1. Beyond a
// million the curve is 1 to float precision; holding y there keeps a^3 finite.
inline float softClip(float y) {
  y = clamp(y, -1.0e6f, 1.0e6f);
  const float a = std::fabs(y);
  const float n = 1.0f + a + a * a;
  return y * n / (n + a * a * a);
}

// The detector level of a stereo-linked compressor: the larger magnitude of the two
// channels, never below -80 dB so that silence has a finite logarithm.
inline float linkedPeak(float l, float r) {
  const float a = std::fabs(l), b = std::fabs(r);
  const float p = a > 0.0001f ? a : 0.0001f;
  return b > p ? b : p;
}

// condition ? a : b without a branch: for the followers' choice between attack and release,
// which a branch would guess wrong about half the time.
inline float selectFloat(bool condition, float a, float b) {
  const uint32_t mask = 0u - static_cast<uint32_t>(condition);
  return std::bit_cast<float>((std::bit_cast<uint32_t>(a) & mask) | (std::bit_cast<uint32_t>(b) & ~mask));
}

// One-pole coefficient for a time constant of t samples: 1 - t^2 / (1 + t + t^2), close to 1/t
// for long times and 1 for t = 0.
inline float smoothingCoefficient(float t) { return 1.0f - t * t / (1.0f + t + t * t); }
