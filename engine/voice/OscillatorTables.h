#pragma once

#include <array>
#include <cstdint>

// The synth track's oscillator shapes as series of partials. For each "Oscillator" value,
// steps[o][k] is the distance from partial k - 1 to partial k in harmonic numbers (partial k
// sits at the running sum; a step of kEndStep or more ends the series) and levels[o][k] the
// level of partial k. The last 16 levels of every shape fade out smoothly.
struct OscillatorTables {
  static constexpr int32_t kShapes = 12;
  static constexpr int32_t kPartials = 512;
  static constexpr float kEndStep = 1e6f;

  enum Shape : int32_t {
    kSaw,
    kSquare,
    kPulse1,
    kPulse2,
    kOctaves,
    kFibonacci,
    kMetallic,
    kRoundRobin,
    kDrawBar,
    kSevenths,
    kMajorChord,
    kMinorChord,
  };

  std::array<std::array<float, kPartials>, kShapes> steps;
  std::array<std::array<float, kPartials>, kShapes> levels;
};

// Built when the module loads.
const OscillatorTables& oscillatorTables();
