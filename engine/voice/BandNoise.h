#pragma once

#include <array>
#include <complex>
#include <cstdint>

// 2048 complex values of smooth, slightly peaky noise that the voices read at random offsets
// as the noise part of their bands. Built by the compiler from fixed seeds, so every run and
// every instance hears the same table, and it is ready before any initialiser runs.
constexpr int32_t kBandNoiseSize = 2048;

extern const std::array<std::complex<float>, kBandNoiseSize> bandNoise;
