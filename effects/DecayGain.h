#pragma once

// The loss every decaying tap shares: a tap of d samples at a decay rate of r per sample gets
// decayGain(d * r). The rational form stays close to exp(-x) where loops live (small x), never
// reaches zero or goes negative, and costs one division instead of an exp per block.
inline float decayGain(float x) {
  const float x2 = x * x;
  return 1.0f / (1.0f + x + 0.5f * x2 + 0.1666f * x2 * x2);
}
