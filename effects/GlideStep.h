#pragma once

#include "engine/core/Clamp.h"

// The most a gliding coefficient of the reverbs moves per sample.
inline constexpr float kMaxGlideStep = 0.01f;

// The per-sample step that takes `current` to `target` within a block (invN = 1 / its length),
// at most kMaxGlideStep either way, so a retuned coefficient glides instead of jumping.
inline float glideStep(float target, float current, float invN) {
  return clamp((target - current) * invN, -kMaxGlideStep, kMaxGlideStep);
}
