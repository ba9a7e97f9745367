#include "engine/dsp/PanWidth.h"

#include <algorithm>

#include "engine/dsp/SimdLanes.h"

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

namespace {

// The coefficients and gains a block heads for; the first block starts there.
struct PanWidthTargets {
  float stage[4];
  float left;
  float right;
};

PanWidthTargets panWidthTargets(PanWidthState& state, float gain, float pan, float width) {
  PanWidthTargets t;
  // Written so that a NaN width is no width rather than a table index.
  const float w = width > 0.0f ? std::min(width, 1.0f) * 5.0f : 0.0f;
  const int32_t row = std::min(static_cast<int32_t>(w), 4);
  const float f = w - static_cast<float>(row);
  for (int32_t s = 0; s < 4; ++s) t.stage[s] = (1.0f - f) * kWidthTable[row][s] + f * kWidthTable[row + 1][s];
  t.left = std::min(1.0f - pan, 1.0f) * gain;
  t.right = std::min(1.0f + pan, 1.0f) * gain;
  if (state.firstCall) {
    state.leftGain = t.left;
    state.rightGain = t.right;
    for (int32_t s = 0; s < 4; ++s) state.stages[s].coefficient = t.stage[s];
    state.firstCall = false;
  }
  return t;
}

// One allpass stage in lanes, as allpass does it.
inline Lanes allpassLanes(Lanes& state, Lanes coefficient, Lanes x) {
  const Lanes w = x - coefficient * state;
  const Lanes y = coefficient * w + state;
  state = w;
  return y;
}

// Four tracks in the lanes of each of G groups.
template <int G>
void panWidthGroups(PanWidthState* const* states, const float* const* mono, float* const* left, float* const* right,
                    int32_t count, int32_t n, const float* gain, const float* pan, const float* width) {
  constexpr int32_t kLanes = 4 * G;
  // Tracks missing from the last group run a silent stand-in whose results are dropped.
  PanWidthState standIn[kLanes];
  PanWidthState* state[kLanes];
  float targets[6][kLanes];
  for (int32_t k = 0; k < kLanes; ++k) {
    state[k] = k < count ? states[k] : &standIn[k];
    const PanWidthTargets t = panWidthTargets(*state[k], k < count ? gain[k] : 0.0f, k < count ? pan[k] : 0.0f,
                                              k < count ? width[k] : 0.0f);
    for (int32_t s = 0; s < 4; ++s) targets[s][k] = t.stage[s];
    targets[4][k] = t.left;
    targets[5][k] = t.right;
  }
  Lanes stageState[4][G];
  Lanes coefficient[4][G];
  Lanes leftGain[G];
  Lanes rightGain[G];
  for (int32_t s = 0; s < 4; ++s) {
    float st[kLanes];
    float co[kLanes];
    for (int32_t k = 0; k < kLanes; ++k) {
      st[k] = state[k]->stages[s].state;
      co[k] = state[k]->stages[s].coefficient;
    }
    for (int32_t g = 0; g < G; ++g) {
      stageState[s][g] = lanesLoad(st + 4 * g);
      coefficient[s][g] = lanesLoad(co + 4 * g);
    }
  }
  {
    float l[kLanes];
    float r[kLanes];
    for (int32_t k = 0; k < kLanes; ++k) {
      l[k] = state[k]->leftGain;
      r[k] = state[k]->rightGain;
    }
    for (int32_t g = 0; g < G; ++g) {
      leftGain[g] = lanesLoad(l + 4 * g);
      rightGain[g] = lanesLoad(r + 4 * g);
    }
  }
  const Lanes glide = lanesSplat(kGlide);

  for (int32_t begin = 0; begin < n; begin += kChunk) {
    const int32_t end = std::min(begin + kChunk, n);
    Lanes step[4][G];
    Lanes leftStep[G];
    Lanes rightStep[G];
    for (int32_t g = 0; g < G; ++g) {
      for (int32_t s = 0; s < 4; ++s) step[s][g] = (lanesLoad(targets[s] + 4 * g) - coefficient[s][g]) * glide;
      leftStep[g] = (lanesLoad(targets[4] + 4 * g) - leftGain[g]) * glide;
      rightStep[g] = (lanesLoad(targets[5] + 4 * g) - rightGain[g]) * glide;
    }
    // The tracks' samples side by side, and back.
    float in[kChunk][kLanes];
    float outLeft[kChunk][kLanes];
    float outRight[kChunk][kLanes];
    for (int32_t k = 0; k < kLanes; ++k) {
      for (int32_t i = begin; i < end; ++i) in[i - begin][k] = k < count ? mono[k][i] : 0.0f;
    }
    for (int32_t i = 0; i < end - begin; ++i) {
      for (int32_t g = 0; g < G; ++g) {
        const Lanes x = lanesLoad(in[i] + 4 * g);
        const Lanes l = allpassLanes(stageState[1][g], coefficient[1][g],
                                     allpassLanes(stageState[0][g], coefficient[0][g], x));
        const Lanes r = allpassLanes(stageState[3][g], coefficient[3][g],
                                     allpassLanes(stageState[2][g], coefficient[2][g], x));
        lanesStore(outLeft[i] + 4 * g, l * leftGain[g]);
        lanesStore(outRight[i] + 4 * g, r * rightGain[g]);
        for (int32_t s = 0; s < 4; ++s) coefficient[s][g] = coefficient[s][g] + step[s][g];
        leftGain[g] = leftGain[g] + leftStep[g];
        rightGain[g] = rightGain[g] + rightStep[g];
      }
    }
    for (int32_t k = 0; k < count; ++k) {
      for (int32_t i = begin; i < end; ++i) {
        left[k][i] = outLeft[i - begin][k];
        right[k][i] = outRight[i - begin][k];
      }
    }
    for (int32_t s = 0; s < 4; ++s) {
      float st[kLanes];
      for (int32_t g = 0; g < G; ++g) lanesStore(st + 4 * g, step[s][g]);
      for (int32_t k = 0; k < kLanes; ++k) state[k]->stages[s].step = st[k];
    }
  }

  for (int32_t s = 0; s < 4; ++s) {
    float st[kLanes];
    float co[kLanes];
    for (int32_t g = 0; g < G; ++g) {
      lanesStore(st + 4 * g, stageState[s][g]);
      lanesStore(co + 4 * g, coefficient[s][g]);
    }
    for (int32_t k = 0; k < kLanes; ++k) {
      state[k]->stages[s].state = st[k];
      state[k]->stages[s].coefficient = co[k];
    }
  }
  float l[kLanes];
  float r[kLanes];
  for (int32_t g = 0; g < G; ++g) {
    lanesStore(l + 4 * g, leftGain[g]);
    lanesStore(r + 4 * g, rightGain[g]);
  }
  for (int32_t k = 0; k < kLanes; ++k) {
    state[k]->leftGain = l[k];
    state[k]->rightGain = r[k];
  }
}

// One or two tracks, each chain of a track in a lane of its own: lanes 0 and 1 run the left
// chains (stages 0 then 1) of tracks 0 and 1, lanes 2 and 3 their right chains (stages 2 then
// 3). Every lane does what its chain does alone, with half the lane work of a lane per track
// and few enough running values to stay in registers.
void panWidthPairs(PanWidthState* const* states, const float* const* mono, float* const* left, float* const* right,
                   int32_t count, int32_t n, const float* gain, const float* pan, const float* width) {
  PanWidthState standIn;
  PanWidthState* state[2] = {states[0], count > 1 ? states[1] : &standIn};
  // Lane l holds track l % 2, on the left (first stage s) or right (first stage s + 2) chain.
  float targets[3][4];
  float first[2][4];   // the first stage of each chain: state, coefficient
  float second[2][4];  // the second
  float gains[4];
  for (int32_t k = 0; k < 2; ++k) {
    const bool real = k < count;
    const PanWidthTargets t =
        panWidthTargets(*state[k], real ? gain[k] : 0.0f, real ? pan[k] : 0.0f, real ? width[k] : 0.0f);
    targets[0][k] = t.stage[0];
    targets[0][k + 2] = t.stage[2];
    targets[1][k] = t.stage[1];
    targets[1][k + 2] = t.stage[3];
    targets[2][k] = t.left;
    targets[2][k + 2] = t.right;
    for (int32_t side = 0; side < 2; ++side) {
      first[0][k + 2 * side] = state[k]->stages[2 * side].state;
      first[1][k + 2 * side] = state[k]->stages[2 * side].coefficient;
      second[0][k + 2 * side] = state[k]->stages[2 * side + 1].state;
      second[1][k + 2 * side] = state[k]->stages[2 * side + 1].coefficient;
    }
    gains[k] = state[k]->leftGain;
    gains[k + 2] = state[k]->rightGain;
  }
  Lanes firstState = lanesLoad(first[0]);
  Lanes firstCoefficient = lanesLoad(first[1]);
  Lanes secondState = lanesLoad(second[0]);
  Lanes secondCoefficient = lanesLoad(second[1]);
  Lanes sideGain = lanesLoad(gains);
  const Lanes glide = lanesSplat(kGlide);
  const float* x0 = mono[0];
  const float* x1 = count > 1 ? mono[1] : nullptr;

  for (int32_t begin = 0; begin < n; begin += kChunk) {
    const int32_t end = std::min(begin + kChunk, n);
    const Lanes firstStep = (lanesLoad(targets[0]) - firstCoefficient) * glide;
    const Lanes secondStep = (lanesLoad(targets[1]) - secondCoefficient) * glide;
    const Lanes gainStep = (lanesLoad(targets[2]) - sideGain) * glide;
    float in[kChunk][4];
    float out[kChunk][4];
    for (int32_t i = begin; i < end; ++i) {
      const float a = x0[i];
      const float b = x1 != nullptr ? x1[i] : 0.0f;
      in[i - begin][0] = a;
      in[i - begin][1] = b;
      in[i - begin][2] = a;
      in[i - begin][3] = b;
    }
    for (int32_t i = 0; i < end - begin; ++i) {
      const Lanes y = allpassLanes(secondState, secondCoefficient,
                                   allpassLanes(firstState, firstCoefficient, lanesLoad(in[i])));
      lanesStore(out[i], y * sideGain);
      firstCoefficient = firstCoefficient + firstStep;
      secondCoefficient = secondCoefficient + secondStep;
      sideGain = sideGain + gainStep;
    }
    for (int32_t k = 0; k < count; ++k) {
      for (int32_t i = begin; i < end; ++i) {
        left[k][i] = out[i - begin][k];
        right[k][i] = out[i - begin][k + 2];
      }
    }
    float steps[2][4];
    lanesStore(steps[0], firstStep);
    lanesStore(steps[1], secondStep);
    for (int32_t k = 0; k < 2; ++k)
      for (int32_t side = 0; side < 2; ++side) {
        state[k]->stages[2 * side].step = steps[0][k + 2 * side];
        state[k]->stages[2 * side + 1].step = steps[1][k + 2 * side];
      }
  }

  lanesStore(first[0], firstState);
  lanesStore(first[1], firstCoefficient);
  lanesStore(second[0], secondState);
  lanesStore(second[1], secondCoefficient);
  lanesStore(gains, sideGain);
  for (int32_t k = 0; k < 2; ++k) {
    for (int32_t side = 0; side < 2; ++side) {
      state[k]->stages[2 * side].state = first[0][k + 2 * side];
      state[k]->stages[2 * side].coefficient = first[1][k + 2 * side];
      state[k]->stages[2 * side + 1].state = second[0][k + 2 * side];
      state[k]->stages[2 * side + 1].coefficient = second[1][k + 2 * side];
    }
    state[k]->leftGain = gains[k];
    state[k]->rightGain = gains[k + 2];
  }
}

}  // namespace

void processPanWidthTracks(PanWidthState* const* states, const float* const* mono, float* const* left,
                           float* const* right, int32_t count, int32_t n, const float* gain, const float* pan,
                           const float* width) {
  if (count <= 0 || n <= 0) return;
  if (count > 4) {
    panWidthGroups<2>(states, mono, left, right, std::min(count, kPanWidthTracks), n, gain, pan, width);
  } else if (count > 2) {
    panWidthGroups<1>(states, mono, left, right, count, n, gain, pan, width);
  } else {
    panWidthPairs(states, mono, left, right, count, n, gain, pan, width);
  }
}

void processPanWidth(PanWidthState& state, const float* mono, float* const out[2], int32_t n, float gain, float pan,
                     float width) {
  const PanWidthTargets t = panWidthTargets(state, gain, pan, width);
  const float* targets = t.stage;
  const float targetLeft = t.left;
  const float targetRight = t.right;

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
