#pragma once

#include <array>
#include <cstdint>

// Bit patterns that add k to a float's binary exponent: entry k is k·2^23, so adding it to a
// positive normal float's bits multiplies the float by 2^k.
inline constexpr std::array<uint32_t, 256> kFloatExponentSteps = [] {
  std::array<uint32_t, 256> steps{};
  for (uint32_t k = 0; k < steps.size(); ++k) steps[k] = k << 23;
  return steps;
}();

// Decibels to a natural exponent: gain = exp(dB · kDecibelToNeper).
inline constexpr float kDecibelToNeper = 0.11512925464970228f;  // ln(10) / 20
// Decibels to octaves of gain: gain = 2^(dB · kDecibelToLog2).
inline constexpr float kDecibelToLog2 = 0.16609640474436813f;   // 1 / (20 · log10(2))
