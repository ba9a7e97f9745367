#pragma once

#include <cstdint>

// One active modulation row for the current pass.
struct ModRoute {
  int32_t source = 0;
  int32_t scaler = 0;
  int32_t target = 0;  // a parameter index
  float amount = 0.0f;
};
