#include "engine/voice/OscillatorTables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace {

using Table = std::array<float, OscillatorTables::kPartials>;
constexpr int32_t kPartials = OscillatorTables::kPartials;
constexpr float kPi = std::numbers::pi_v<float>;

constexpr float kDrawBarRatios[9] = {1.0f, 1.99966f, 2.9979f, 3.99941f, 5.99625f, 8.00062f, 10.0812f, 11.9921f, 16.0182f};
constexpr int32_t kFadeLength = 16;

// Fibonacci numbers as partials: 1, 2, 3, 5, 8, ..., held at 1000 once they reach it.
void fillFibonacci(Table& steps) {
  float a = 1.0f;
  float b = 1.0f;
  float c = 0.0f;
  for (float& step : steps) {
    step = b - c;
    c = b;
    const float sum = a + b;
    a = b;
    b = std::min(sum, 1000.0f);
  }
}

// Three harmonic-like series (1, 2, ..., 9, 11, ... growing by about 8 %) on the chord's
// three notes, merged in ascending order; a tie goes to the lower note.
void fillChord(Table& steps, int32_t thirdSemitones) {
  const float scales[3] = {1.0f, std::exp2(static_cast<float>(thirdSemitones) / 12.0f), std::exp2(7.0f / 12.0f)};
  float x[3] = {0.0f, 0.0f, 0.0f};
  float previous = 0.0f;
  for (int32_t k = 0; k < kPartials; ++k) {
    int32_t pick = 0;
    float best = 0.0f;
    float bestNext = 0.0f;
    for (int32_t s = 0; s < 3; ++s) {
      const float next = std::ceil(1.0833f * x[s] + 0.33f);
      const float value = next * scales[s];
      if (s == 0 || value < best) {
        pick = s;
        best = value;
        bestNext = next;
      }
    }
    x[pick] = bestNext;
    steps[static_cast<size_t>(k)] = best - previous;
    previous = best;
    if (best > 1e6f) break;
  }
}

OscillatorTables build() {
  OscillatorTables t;
  for (auto& table : t.steps) table.fill(1.0f);
  for (auto& table : t.levels) table.fill(1.0f);

  for (int32_t k = 1; k < kPartials; ++k) t.steps[OscillatorTables::kSquare][static_cast<size_t>(k)] = 2.0f;

  for (int32_t k = 0; k < kPartials; ++k) {
    const size_t i = static_cast<size_t>(k);
    const float kf = static_cast<float>(k);
    t.levels[OscillatorTables::kPulse1][i] = 1.4f * std::sin((kf + 1.0f) * 0.27f * kPi);
    t.levels[OscillatorTables::kPulse2][i] = 1.4f * std::sin((kf + 1.0f) * 0.12f * kPi);
    t.steps[OscillatorTables::kOctaves][i] = std::exp2(static_cast<float>(std::clamp(k - 1, 0, 12)));
    const float metallic = 0.5f * std::sin(kf) * kf / (kf + 20.0f) + 1.0f;
    t.steps[OscillatorTables::kMetallic][i] = metallic;
    t.levels[OscillatorTables::kMetallic][i] = metallic;
    t.steps[OscillatorTables::kRoundRobin][i] = std::exp2(static_cast<float>((k + 1) % 3 - 1));
    if (k > 0) {
      t.steps[OscillatorTables::kSevenths][i] =
          std::exp2(std::min(0.5833333f * kf, 50.0f)) - std::exp2(std::min(0.5833333f * (kf - 1.0f), 50.0f));
    }
  }

  fillFibonacci(t.steps[OscillatorTables::kFibonacci]);

  Table& drawBar = t.steps[OscillatorTables::kDrawBar];
  drawBar[0] = 1.0f;
  for (size_t k = 1; k < 9; ++k) drawBar[k] = kDrawBarRatios[k] - kDrawBarRatios[k - 1];
  for (size_t k = 9; k < drawBar.size(); ++k) drawBar[k] = OscillatorTables::kEndStep;

  fillChord(t.steps[OscillatorTables::kMajorChord], 4);
  fillChord(t.steps[OscillatorTables::kMinorChord], 3);

  for (auto& table : t.levels) {
    for (int32_t i = 0; i < kFadeLength; ++i) {
      const float x = (static_cast<float>(i) + 0.5f) * 0.0625f;
      table[static_cast<size_t>(kPartials - 1 - i)] *= (3.0f - 2.0f * x) * x * x;
    }
  }
  return t;
}

// Built at load, before any voice can ask for it.
[[maybe_unused]] const OscillatorTables& kBuiltAtLoad = oscillatorTables();

}  // namespace

const OscillatorTables& oscillatorTables() {
  static const OscillatorTables tables = build();
  return tables;
}
