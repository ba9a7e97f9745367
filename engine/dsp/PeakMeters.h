#pragma once

#include <cstdint>

// Peak followers, one meter per channel: a meter jumps up to a block's peak at once and falls
// towards a lower peak with the time constant of a tenth of a second (per block of
// nFrames / sampleRate seconds); a meter at or below 1e-9 rests at 0.
void updatePeakMeters(float meters[], const float* const channels[], int32_t nFrames, int32_t nChannels,
                      float sampleRate);
