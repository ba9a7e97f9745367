#pragma once

#include "effects/DelayLine.h"

// A length or delay in samples, truncated toward zero and held to what a line can hold, so
// that no sample rate, however absurd, sizes a line out of range or overflows the conversion.
inline int sampleCount(float samples) {
  if (!(samples > 0.0f)) return 0;
  if (samples >= static_cast<float>(DelayLine::kMaxLength)) return DelayLine::kMaxLength;
  return static_cast<int>(samples);
}
