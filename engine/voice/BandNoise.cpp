#include "engine/voice/BandNoise.h"

#include <cstddef>

namespace {

// sqrt(0.5): a complex value with independent parts of unit variance keeps unit variance.
constexpr float kNoiseScale = 0.70710677f;
constexpr uint32_t kFirstSeed = 12345u;
constexpr float kKernel[5] = {0.0320486f, 0.4298786f, 0.7926882f, 0.4298786f, 0.0320486f};

// A uniform -1..1 value from a 32-bit state read as signed.
constexpr float signedUnit(uint32_t x) { return static_cast<float>(static_cast<int32_t>(x)) * (1.0f / 2147483648.0f); }

// Pushes values towards the ends of -1..1 a little, for a peakier noise.
constexpr float shape(float t) { return (1.264f - t * t) * t / (1.0f - 0.92f * t * t); }

constexpr std::array<std::complex<float>, kBandNoiseSize> makeTable() {
  std::array<std::complex<float>, kBandNoiseSize> table{};
  // Two generators of different kinds for the two parts; the second is seeded from the
  // first's starting state.
  uint32_t first = kFirstSeed;
  uint32_t second = kFirstSeed * 123u - 456u;
  for (int32_t k = -2; k <= kBandNoiseSize + 1; ++k) {
    first = first * 1664525u + 1013904223u;
    second = second * 214013u + 2531011u;
    const float u = shape(signedUnit(first)) * kNoiseScale;
    const float v = shape(signedUnit(second)) * kNoiseScale;
    for (int32_t tap = 0; tap < 5; ++tap) {
      const int32_t i = k - 2 + tap;
      if (i < 0 || i >= kBandNoiseSize) continue;
      table[static_cast<size_t>(i)] += std::complex<float>(u * kKernel[tap], v * kKernel[tap]);
    }
  }
  return table;
}

}  // namespace

constexpr std::array<std::complex<float>, kBandNoiseSize> bandNoise = makeTable();
