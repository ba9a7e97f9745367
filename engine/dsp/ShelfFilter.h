#pragma once

#include <cstdint>

// A first-order shelf: gain g at DC, close to 1 well above the corner. One set of coefficients
// can serve several channels, each with its own state value.
struct ShelfCoefficients {
  float a = 0.0f;
  float b0 = 1.0f;
  float b1 = 0.0f;
};

// Designs the shelf for a corner fc in cycles per sample and a DC gain g (> 0). g = 1 gives a
// pass-through (b0 = 1, b1 = a).
void designShelf(ShelfCoefficients* shelf, float fc, float g);

inline float shelfProcessSample(const ShelfCoefficients& shelf, float& state, float x) {
  const float v = x - shelf.a * state;
  const float y = shelf.b0 * v + shelf.b1 * state;
  state = v;
  return y;
}

// Runs the shelf in place over n samples, carrying state across calls.
void shelfProcessMono(const ShelfCoefficients& shelf, float& state, float* samples, int32_t n);
