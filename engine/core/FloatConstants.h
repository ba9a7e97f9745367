#pragma once

#include <array>
#include <bit>
#include <cstdint>

// Constants shared by the engine's and the effects' gain arithmetic.

// Decibels to base-2 units: 1 / (20 log10 2).
inline constexpr float kDecibelsToLog2 = 0.16609640474436813f;
// Decibels to natural-log units: ln 10 / 20.
inline constexpr float kDecibelsToNatural = 0.11512925464970229f;

// Entry i has the bit pattern i << 23: 2^(i - 127) for 1 <= i <= 254, 0 for i = 0. Indexed
// by a biased exponent, it turns an integer power of two into a float without a library call.
inline constexpr std::array<float, 256> kExponentSteps = [] {
  std::array<float, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) table[i] = std::bit_cast<float>(i << 23);
  return table;
}();
