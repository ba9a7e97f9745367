#include "effects/BassToMono.h"

void bassToMono(BassToMonoState& state, const float* const in[2], float* const out[2], int n,
                float coefficient) {
  if (n <= 0) return;
  if (coefficient < 0.00001f && in[0] == out[0] && in[1] == out[1]) return;
  const float half = 0.5f * state.mix;
  float lpL = state.lowLeft, lpR = state.lowRight;
  for (int i = 0; i < n; ++i) {
    const float l = in[0][i], r = in[1][i];
    lpL += coefficient * (l - lpL);
    lpR += coefficient * (r - lpR);
    const float mono = (lpL + lpR) * half;
    out[0][i] = l - lpL + mono;
    out[1][i] = r - lpR + mono;
  }
  state.lowLeft = lpL;
  state.lowRight = lpR;
}
