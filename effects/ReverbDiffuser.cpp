#include "effects/ReverbDiffuser.h"

#include <algorithm>

void ReverbDiffuser::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f);
  p[1].init(Param::kPower, 0.0f, 300.0f, 2.0f, "%.0f ms", "Pre-delay", 10.0f);
  FxBase::setup(p);
}

void ReverbDiffuser::setSampleRate(float rate) {
  if (isUsableSampleRate(rate)) sampleRate = rate;
}

// A send returns only its wet signal, so until the diffusion chain is built the wet path is
// silent and the slot adds nothing to the main bus.
void ReverbDiffuser::process(const float* const /*in*/[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  std::fill_n(out[0], nFrames, 0.0f);
  std::fill_n(out[1], nFrames, 0.0f);
}
