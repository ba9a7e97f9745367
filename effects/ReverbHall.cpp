#include "effects/ReverbHall.h"

#include <algorithm>

void ReverbHall::declareLengthColor(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Color", 50.0f);
}

void ReverbHall::setup(Param* p) {
  declareLengthColor(p);
  FxBase::setup(p);
}

void ReverbHall::setSampleRate(float rate) {
  if (isUsableSampleRate(rate)) sampleRate = rate;
}

// A send returns only its wet signal, so until the network is built the wet path is
// silent and the slot adds nothing to the main bus.
void ReverbHall::process(const float* const /*in*/[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  std::fill_n(out[0], nFrames, 0.0f);
  std::fill_n(out[1], nFrames, 0.0f);
}
