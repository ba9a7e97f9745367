#include "engine/dsp/ContrastCurve.h"

#include <algorithm>

void applyContrast(float* values, int32_t n, float amount) {
  if (values == nullptr) return;
  if (amount > 0.0f) {
    const float threshold = 0.1f * amount;
    for (int32_t i = 0; i < n; ++i) {
      const float x = values[i];
      const float y = std::max(x - threshold, 0.0f);
      const float knee = (0.1f * y + 1.0f) * y * y / ((0.4f * y + 0.4f) * y + 0.15f);
      values[i] = x + amount * (knee - x);
    }
  } else if (amount < 0.0f) {
    const float k = -amount;
    const float width = 0.1f - 0.08f * k;
    const float width2 = width * width;
    for (int32_t i = 0; i < n; ++i) {
      const float x = values[i];
      values[i] = x * (1.0f - k + 0.2f * k * x / (x * x + width2));
    }
  }
}
