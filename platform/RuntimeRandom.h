#pragma once

#include <cstdint>

// The pseudo-random generator of the Windows C runtime, reproduced exactly so that shapes and
// choices drawn from it come out the same on every platform. glibc's rand() has another
// range (up to 2^31 - 1), so it is never used.
//   x := x * 214013 + 2531011, result (x >> 16) & 0x7FFF, one state per thread.
constexpr int kCrtRandMax = 0x7FFF;

int crtRand();

// Seeds the calling thread's generator (the runtime starts every thread at 1).
void crtSrand(uint32_t seed);
