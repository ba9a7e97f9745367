#pragma once

// A stereo high-pass with a resonant edge, used as the reverbs' last tone stage. Its cutoff
// and damping glide to their targets by at most 0.01 per sample, so parameter moves never
// click.
struct ResonantHighpassState {
  float lowLeft = 0.0f;
  float lowRight = 0.0f;
  float highLeft = 0.0f;
  float highRight = 0.0f;
  float cutoff = 0.0f;   // g, the integrator's coefficient
  float damping = 0.0f;  // r, the feedback of the high-pass state
};

// `frequency` in cycles per sample (up to 0.45); a damping target below 0.001 leaves an
// in-place call untouched. in and out may be the same pair.
void resonantHighpass(ResonantHighpassState& state, const float* const in[2], float* const out[2],
                      int n, float frequency, float dampingTarget);
