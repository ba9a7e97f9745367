#pragma once

// The stereo stage that makes the lows of a reverb mono: each channel's lows (a one-pole
// low-pass) are taken out and their mid sum is put back into both, so the bass stays centred
// while the highs keep their width.
struct BassToMonoState {
  float lowLeft = 0.0f;
  float lowRight = 0.0f;
  float mix = 1.0f;  // share of the mono lows put back
};

// `coefficient` is the low-pass's one-pole coefficient; below 0.00001 an in-place call does
// nothing. in and out may be the same pair.
void bassToMono(BassToMonoState& state, const float* const in[2], float* const out[2], int n,
                float coefficient);
