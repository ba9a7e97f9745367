#pragma once

#include <cstdint>
#include <vector>

// Reproducible white noise in -1..1 for the delay tests, from a seed.
inline std::vector<float> noise(size_t n, uint32_t seed = 12345) {
  std::vector<float> v(n);
  for (float& x : v) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<float>(seed >> 8) * (2.0f / 16777216.0f) - 1.0f;
  }
  return v;
}
