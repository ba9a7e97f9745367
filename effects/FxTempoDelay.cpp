#include "effects/FxTempoDelay.h"

#include <algorithm>
#include <cmath>

void FxTempoDelay::setup(Param* p) {
  p[0].init(Param::kLinear, 1.0f, 8.0f, 0.0f, "%.1f", "Length", 2.7f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Feedback", 50.0f);
  FxBase::setup(p);
}

void FxTempoDelay::setSampleRate(float rate) {
  if (isUsableSampleRate(rate)) sampleRate = rate;
}

// A tempo no host can mean leaves the last one in place.
void FxTempoDelay::setTempo(float bpm) {
  if (std::isfinite(bpm) && bpm > 0.0f) tempo = bpm;
}

// A send returns only its wet signal, so until the echoes are built the wet path is
// silent and the slot adds nothing to the main bus.
void FxTempoDelay::process(const float* const /*in*/[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  std::fill_n(out[0], nFrames, 0.0f);
  std::fill_n(out[1], nFrames, 0.0f);
}
