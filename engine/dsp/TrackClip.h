#pragma once

#include <cstdint>

// A track's smoothed, asymmetric level clipper. Its gain g follows the level each sample
// needs, falling faster than it rises; positive peaks are held lower than negative ones.
struct ClipState {
  float g = 1.0f;
  float follower = 0.0f;  // kept beside g; the stage itself does not use it
  float sampleRate = 44100.0f;
};

// amount 0..1 (the normalised "Clip" value), in place on n samples. With amount 0 the gain
// glides back to 1, after which the stage leaves blocks untouched.
void processClip(ClipState& state, float* block, int32_t n, float amount);
