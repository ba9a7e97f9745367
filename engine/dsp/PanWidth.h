#pragma once

#include <cstdint>

// A track's mono-to-stereo stage: gain and pan, and a stereo width made by two chains of two
// first-order allpasses whose phase responses drift apart as the width grows. Gains and
// coefficients glide: each 64-frame chunk covers a quarter of the remaining distance.
struct PanWidthState {
  struct AllpassStage {
    float state = 0.0f;
    float coefficient = 0.0f;
    float step = 0.0f;  // per sample
  };

  float leftGain = 0.0f;
  float rightGain = 0.0f;
  AllpassStage stages[4];  // 0 and 1 form the left chain, 2 and 3 the right chain
  bool firstCall = true;   // the first block jumps to its targets
};

// mono -> out[0] (left), out[1] (right), n frames. pan -1..1, width 0..1.
void processPanWidth(PanWidthState& state, const float* mono, float* const out[2], int32_t n, float gain, float pan,
                     float width);

// Several tracks at once (count <= kPanWidthTracks), each in its own lane (one or two tracks:
// each chain in its own lane) and exactly as processPanWidth would run it alone: track k takes
// mono[k] (n frames) into left[k] and right[k] with gain[k], pan[k] and width[k]. The stages' feedback makes one track wait on
// its own last sample; side by side the tracks wait together.
constexpr int32_t kPanWidthTracks = 8;
void processPanWidthTracks(PanWidthState* const* states, const float* const* mono, float* const* left,
                           float* const* right, int32_t count, int32_t n, const float* gain, const float* pan,
                           const float* width);

// Runs a fresh stage over an impulse twice and discards the result; returns 1.
int32_t warmUpPanWidth();
