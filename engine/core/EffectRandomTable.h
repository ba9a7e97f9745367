#pragma once

#include <array>

// 99 random values in -0.3..0.7 drawn from the runtime generator when the module loads, for
// the effects that want fixed per-module randomness.
constexpr int kEffectRandomCount = 99;

const std::array<float, kEffectRandomCount>& effectRandomTable();
