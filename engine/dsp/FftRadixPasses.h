#pragma once

#include <cstdint>

// One radix pass of a real-input transform, run on four independent signals at once (one per
// lane of each four-float vector). Offsets and lengths below count vectors, not floats.
//
// A forward pass of radix ip joins ip half-complex spectra of length ido into l1 half-complex
// spectra of length ip*ido: input block (k, j) starts at vector ido*(k + l1*j), output block
// (t, k) at vector ido*(t + ip*k). A backward pass undoes it with the opposite layout, leaving
// ip times the original values. Half-complex order of a length-L spectrum Y: Y(0), then
// Re Y(s), Im Y(s) for s = 1 .. (L-1)/2, then Y(L/2) when L is even.
//
// wa holds the pass's twiddles as (cos, sin) pairs of 2*pi*j*f/(ip*ido): the pairs of
// multiplier j (1 .. ip-1) start at wa + (j-1)*ido. Input and output must not overlap.
// Radix 3 and 5 expect an odd ido, which the factor order of the plan guarantees.
void fftRealPassForward(int32_t ip, int32_t ido, int32_t l1, const float* in, float* out, const float* wa);
void fftRealPassBackward(int32_t ip, int32_t ido, int32_t l1, const float* in, float* out, const float* wa);
