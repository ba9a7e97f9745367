#pragma once

#include <cstdint>

// Plan of a single-precision transform of N real samples. The samples are read as N/4 vectors
// of four floats; lane j of vector q holds x(4q + j), so the four decimated signals x(4q + j)
// are transformed together by radix passes over m = N/4 points, and a last radix-4 step across
// the lanes completes the N-point spectrum. A plan is built once and is read-only afterwards:
// any number of threads may transform with it at the same time.
struct FftSetup {
  int32_t N = 0;
  int32_t Ncvec = 0;  // complex four-lane vectors of the spectrum: N/8
  // [0] = m, [1] = number of radix factors nf, [2 .. 2+nf-1] = the radices in plan order.
  int32_t factors[25] = {};
  int32_t kind = 0;
  float* data = nullptr;     // one 64-byte aligned block holding both tables
  float* e = nullptr;        // lane-combination twiddles, 6*Ncvec floats
  float* twiddle = nullptr;  // radix-pass twiddles of the m-point transform
};

constexpr int32_t kFftRealKind = 0;
constexpr uint32_t kFftMinSize = 32;
constexpr uint32_t kFftMaxSize = 1u << 26;
constexpr int32_t kFftForward = 0;
constexpr int32_t kFftBackward = 1;

// A new plan, or null when N is refused: N below 32 or not a multiple of 32 (the lane step works
// on whole groups of four vectors), N above 2^26, N/4 with a prime factor other than 2, 3 and 5,
// or a kind other than the real kind.
FftSetup* fftNewSetup(uint32_t N, int32_t kind);
// Frees the plan and its tables; null is ignored.
void fftDestroySetup(FftSetup* setup);

// The transform proper. Forward (direction 0) turns N samples into the spectrum; backward
// (direction 1) turns a spectrum into N times the samples. With ordered set the spectrum is in
// the canonical layout [X(0), X(N/2), Re X(1), Im X(1), ..., Re X(N/2-1), Im X(N/2-1)];
// otherwise it is in the internal arrangement that fftReorder converts. scratch (N floats) is
// required and must differ from output; input may equal output or scratch. Nothing is
// allocated. Returns false, leaving output alone, when the plan or scratch is missing.
bool fftTransformInternal(const FftSetup* setup, const float* input, float* output, float* scratch,
                          int32_t direction, int32_t ordered);

// Direction 0: internal arrangement to canonical layout; 1: back. input and output must be
// different buffers of N floats; returns false (output untouched) otherwise.
bool fftReorder(const FftSetup* setup, const float* input, float* output, int32_t direction);
