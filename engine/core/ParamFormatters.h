#pragma once

// Display callbacks and value transforms of the engine's parameters. The callbacks write at
// most kFormatterBytes bytes, terminator included.
constexpr int kFormatterBytes = 10;

// "%+.0f dB" of the gain in decibels: "+0 dB" for 1, "-inf dB" for 0.
void formatGain(float gain, char* buffer);
// The amount and the side: "25 L", "25 R", and "0" with two blanks for the centre.
void formatPan(float pan, char* buffer);
// 10^(0.05 x): decibels to a gain factor.
float decibelsToGain(float decibels);
