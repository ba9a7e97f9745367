#include "engine/dsp/TrackClip.h"

namespace {

constexpr float kOffThreshold = 0.00001f;
// At full amount the gain settles where positive peaks sit near 0.2 and negative peaks
// near 0.3 (positive levels count 1.5 times).
constexpr float kHeadroom = 0.3f;
constexpr float kPositiveWeight = 1.5f;
// Follower time constants: 20 µs rising, 10 µs falling.
constexpr float kRiseSeconds = 0.00002f;
constexpr float kFallSeconds = 0.00001f;

}  // namespace

void processClip(ClipState& state, float* block, int32_t n, float amount) {
  const float dg = state.g - 1.0f;
  if (amount < kOffThreshold && dg < kOffThreshold && dg > -kOffThreshold) return;
  // The floor makes the stage inert at amount 0: the level never rises above it, so the gain
  // heads back to 1.
  const float floor = (1.0f - 0.95f * amount) * 0.1f / (amount + 1e-9f);
  const float k1 = 1.0f / (state.sampleRate * kRiseSeconds + 1.0f);
  const float k2 = 1.0f / (state.sampleRate * kFallSeconds + 1.0f) - k1;
  float g = state.g;
  for (int32_t i = 0; i < n; ++i) {
    const float x = block[i];
    float level = x >= 0.0f ? kPositiveWeight * x : -x;
    // Written so that a NaN sample counts as the floor and cannot poison the gain.
    if (!(level >= floor)) level = floor;
    const float target = (floor + kHeadroom) / level;
    g += (k1 + (g > target ? k2 : 0.0f)) * (target - g);
    block[i] = x * g;
  }
  state.g = g;
}
