#include "engine/PanWidth.h"

#include <algorithm>

namespace {

constexpr int32_t kChunk = 64;
constexpr float kGlide = 1.0f / 256.0f;

// Allpass coefficients per width step (0 = none, 5 = widest): c1, c2 for the left chain,
// c3, c4 for the right chain.
constexpr float kWidthTable[6][4] = {
    {0.0f, 0.0f, 0.0f, 0.0f},
    {-0.888528f, 0.078202f, -0.80963f, 0.333651f},
    {-0.921241f, 0.002597f, -0.759299f, 0.521939f},
    {-0.948597f, 0.000243f, -0.65207f, 0.728178f},
    {-0.984422f, 0.00017f, -0.465777f, 0.86723f},
    {-0.99076f, 0.109618f, -0.000365f, 0.505633f},
};

inline float allpass(PanWidthState::AllpassStage& stage, float x) {
  const float w = x - stage.coefficient * stage.state;
  const float y = stage.coefficient * w + stage.state;
  stage.state = w;
  return y;
}

}  // namespace

void processPanWidth(PanWidthState& state, const float* mono, float* const out[2], int32_t n, float gain, float pan,
                     float width) {
  // Written so that a NaN width is no width rather than a table index.
  const float w = width > 0.0f ? std::min(width, 1.0f) * 5.0f : 0.0f;
  const int32_t row = std::min(static_cast<int32_t>(w), 4);
  const float f = w - static_cast<float>(row);
  float targets[4];
  for (int32_t s = 0; s < 4; ++s) targets[s] = (1.0f - f) * kWidthTable[row][s] + f * kWidthTable[row + 1][s];
  const float targetLeft = std::min(1.0f - pan, 1.0f) * gain;
  const float targetRight = std::min(1.0f + pan, 1.0f) * gain;

  if (state.firstCall) {
    state.leftGain = targetLeft;
    state.rightGain = targetRight;
    for (int32_t s = 0; s < 4; ++s) state.stages[s].coefficient = targets[s];
    state.firstCall = false;
  }

  float* left = out[0];
  float* right = out[1];
  for (int32_t begin = 0; begin < n; begin += kChunk) {
    const int32_t end = std::min(begin + kChunk, n);
    for (int32_t s = 0; s < 4; ++s) state.stages[s].step = (targets[s] - state.stages[s].coefficient) * kGlide;
    const float leftStep = (targetLeft - state.leftGain) * kGlide;
    const float rightStep = (targetRight - state.rightGain) * kGlide;
    for (int32_t i = begin; i < end; ++i) {
      const float x = mono[i];
      const float l = allpass(state.stages[1], allpass(state.stages[0], x));
      const float r = allpass(state.stages[3], allpass(state.stages[2], x));
      left[i] = l * state.leftGain;
      right[i] = r * state.rightGain;
      for (PanWidthState::AllpassStage& stage : state.stages) stage.coefficient += stage.step;
      state.leftGain += leftStep;
      state.rightGain += rightStep;
    }
  }
}

int32_t warmUpPanWidth() {
  PanWidthState state;
  float impulse[512] = {1.0f};
  float left[512];
  float right[512];
  float* const out[2] = {left, right};
  for (int32_t pass = 0; pass < 2; ++pass) processPanWidth(state, impulse, out, 512, 1.0f, 0.0f, 0.5f);
  return 1;
}
