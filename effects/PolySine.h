#pragma once

// sin(2 pi p) for a phase p in 0..1 from a polynomial in q = p (1 - p): smooth, exact at the
// zeros and within about 0.1 % at the peaks, and cheap enough for a per-chunk LFO.
inline float polySine(float p) {
  const float q = (1.0f - p) * p;
  return ((56.164032f * q + 35.870132f) * q + 12.638167f) * (0.5f - p) * q;
}
