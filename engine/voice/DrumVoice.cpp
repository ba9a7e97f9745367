#include "engine/voice/DrumVoice.h"

#include <algorithm>

void DrumVoice::sizeSpectra(int32_t n) {
  const size_t padded = static_cast<size_t>((std::max(n, 0) + 3) & ~3);
  for (std::vector<float>* v : {&stateRe, &stateIm, &noiseRe, &noiseIm}) v->assign(padded, 0.0f);
}

void DrumVoice::clearSpectra() {
  for (std::vector<float>* v : {&stateRe, &stateIm, &noiseRe, &noiseIm}) std::fill(v->begin(), v->end(), 0.0f);
  statesCleared = true;
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
