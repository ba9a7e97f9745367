#include "effects/FxChorus.h"

#include <algorithm>

void FxChorus::setup(Param* p) {
  p[0].init(Param::kExponential, 1.0f, 100.0f, 0.0f, "%.1f cent", "Depth", 10.0f);
  p[1].init(Param::kPower, 0.5f, 10.0f, 2.0f, "%.2f Hz", "Rate", 2.0f);
  FxBase::setup(p);
}

void FxChorus::setSampleRate(float rate) {
  if (isUsableSampleRate(rate)) sampleRate = rate;
}

// A send returns only its wet signal, so until the voices are built the wet path is
// silent and the slot adds nothing to the main bus.
void FxChorus::process(const float* const /*in*/[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  std::fill_n(out[0], nFrames, 0.0f);
  std::fill_n(out[1], nFrames, 0.0f);
}
