#include "effects/ResonantHighpass.h"

#include "effects/GlideStep.h"

void resonantHighpass(ResonantHighpassState& state, const float* const in[2], float* const out[2],
                      int n, float frequency, float dampingTarget) {
  if (n <= 0) return;
  if (dampingTarget < 0.001f && in[0] == out[0] && in[1] == out[1]) return;
  const float f2 = frequency * frequency;
  const float cutoffTarget = 3.0f * f2 / (f2 + 0.077f);
  const float invN = 1.0f / static_cast<float>(n);
  const float cutoffStep = glideStep(cutoffTarget, state.cutoff, invN);
  const float dampingStep = glideStep(dampingTarget, state.damping, invN);
  float g = state.cutoff, r = state.damping;
  float lpL = state.lowLeft, lpR = state.lowRight, hpL = state.highLeft, hpR = state.highRight;
  for (int i = 0; i < n; ++i) {
    const float pass = 1.0f - r * r;
    hpL = pass * in[0][i] + r * hpL - lpL;
    lpL += g * hpL;
    hpR = pass * in[1][i] + r * hpR - lpR;
    lpR += g * hpR;
    out[0][i] = hpL;
    out[1][i] = hpR;
    g += cutoffStep;
    r += dampingStep;
  }
  state.cutoff = g;
  state.damping = r;
  state.lowLeft = lpL;
  state.lowRight = lpR;
  state.highLeft = hpL;
  state.highRight = hpR;
}
