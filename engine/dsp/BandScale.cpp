#include "engine/dsp/BandScale.h"

#include "engine/core/FloatGrid.h"

float bandPositionToHz(float position) {
  const int32_t i = truncClamped(position, 0, kBandCount - 2);
  const float lo = kBandCentreHz[static_cast<std::size_t>(i)];
  const float hi = kBandCentreHz[static_cast<std::size_t>(i) + 1];
  return lo + (hi - lo) * (position - static_cast<float>(i));
}
