#include "engine/dsp/ShelfFilter.h"

#include <cmath>
#include <numbers>

namespace {

// A rational stand-in for exp near 0, the pole and zero positions of the shelf.
inline float poleFromFrequency(float x) { return (1.0f / (1.0f - 0.75f * x + 0.375f * x * x) - 1.0f) * 1.25f + 1.0f; }

}  // namespace

void designShelf(ShelfCoefficients* shelf, float fc, float g) {
  *shelf = ShelfCoefficients{};
  // A corner at or below 0, or a gain at or below 0, has no shelf: keep the plain pass-through
  // rather than coefficients of 0 / 0.
  if (!(fc > 0.0f) || !(g > 0.0f) || !std::isfinite(fc) || !std::isfinite(g)) return;
  const float w = -std::numbers::pi_v<float> * fc / std::sqrt(g);
  const float p = poleFromFrequency(w);
  const float z = poleFromFrequency(w * g);
  const float b0 = (1.0f - p) * g / (1.0f - z);
  if (!std::isfinite(b0) || !std::isfinite(p)) return;
  shelf->a = -p;
  shelf->b0 = b0;
  shelf->b1 = -z * b0;
}

void shelfProcessMono(const ShelfCoefficients& shelf, float& state, float* samples, int32_t n) {
  for (int32_t i = 0; i < n; ++i) samples[i] = shelfProcessSample(shelf, state, samples[i]);
}
