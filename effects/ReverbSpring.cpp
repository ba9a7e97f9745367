#include "effects/ReverbSpring.h"

#include <algorithm>

#include "effects/ReverbHall.h"

void ReverbSpring::setup(Param* p) {
  ReverbHall::declareLengthColor(p);
  FxBase::setup(p);
}

void ReverbSpring::setSampleRate(float rate) {
  if (isUsableSampleRate(rate)) sampleRate = rate;
}

// A send returns only its wet signal, so until the spring model is built the wet path is
// silent and the slot adds nothing to the main bus.
void ReverbSpring::process(const float* const /*in*/[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  std::fill_n(out[0], nFrames, 0.0f);
  std::fill_n(out[1], nFrames, 0.0f);
}
