#include "engine/core/ParamFormatters.h"

#include <cmath>
#include <cstdio>

void formatGain(float gain, char* buffer) {
  std::snprintf(buffer, kFormatterBytes, "%+.0f dB", static_cast<double>(20.0f * std::log10(gain)));
}

void formatPan(float pan, char* buffer) {
  const char side = pan < 0.0f ? 'L' : (pan > 0.0f ? 'R' : ' ');
  std::snprintf(buffer, kFormatterBytes, "%.0f %c", static_cast<double>(std::fabs(pan)), side);
}

float decibelsToGain(float decibels) { return std::pow(10.0f, 0.05f * decibels); }
