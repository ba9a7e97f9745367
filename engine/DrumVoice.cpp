#include "engine/DrumVoice.h"

#include <algorithm>

void DrumVoice::clearSpectra() {
  std::fill(bandStates.begin(), bandStates.end(), std::complex<float>(0.0f, 0.0f));
  std::fill(noiseStates.begin(), noiseStates.end(), std::complex<float>(0.0f, 0.0f));
}

void DrumVoice::goIdle() {
  state = kIdle;
  newNote = 0;
  elapsed = 0.0f;
  releaseProgress = 0.0f;
  damping = 0.0f;
  fillCount = 0;
  ringIndex = 0;
  for (EnvelopeState& e : sources.envelopes) e = EnvelopeState();
  clearSpectra();
}

void DrumVoice::release() {
  for (EnvelopeState& e : sources.envelopes) e.startRelease();
  state = kReleased;
}
