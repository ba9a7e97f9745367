#pragma once

#include <vector>

// The drum sounds of the start kit, synthesised from oscillators, noise and filters, so the kit
// is made on the user's machine instead of shipped as recordings.
namespace startkit {

enum class Drum { kKick, kRim, kSnare, kClap, kPercussion, kTom, kHihat, kCymbal };

// The rate the sounds are made at; the analysis takes any rate.
inline constexpr double kDrumSampleRate = 44100.0;
// Every sound peaks at this level.
inline constexpr float kDrumPeak = 0.9f;

// One hit of the drum, mono at kDrumSampleRate, the same samples on every run and machine.
std::vector<float> SynthesizeDrum(Drum drum);

}  // namespace startkit
