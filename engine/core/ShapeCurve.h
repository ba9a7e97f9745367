#pragma once

// Bends a 0..1 ramp u by c (-1..1). Up to |c| = 0.5 it is the quadratic bend
// w = ((1 - u) k + 1) u with k = 2c; beyond that a rational term takes over and steepens the
// bend further. shapeCurve(0, c) = 0 and shapeCurve(1, c) = 1 for every c; the 1.02 keeps the
// denominator at least 0.02 away from zero at the extremes c = -1 and c = 1.
inline float shapeCurve(float u, float c) {
  const float twoC = 2.0f * c;
  const float k = twoC > 1.0f ? 1.0f : (twoC < -1.0f ? -1.0f : twoC);
  const float d = twoC - k;
  const float w = ((1.0f - u) * k + 1.0f) * u;
  return (d + 1.02f) * w / ((2.0f * w - 1.0f) * d + 1.02f);
}
