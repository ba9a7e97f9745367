#pragma once

#include <cstdint>

#include "engine/dsp/FftSetup.h"

// The bit index b with 1 << b == v; -1 when v is not a power of two (0 and negatives included).
int32_t log2OfPowerOfTwo(int32_t v);

// Owning wrapper around a real-input plan, the way every spectrum user goes through it.
// Spectra are in the canonical layout [X(0), X(N/2), Re X(1), Im X(1), ..., Re X(N/2-1),
// Im X(N/2-1)], X(k) = sum_n x(n) exp(-2 pi i k n / N). Transforms are unscaled: forward then
// inverse gives N times the input; the two scale fields hold 1/N for the users to apply.
//
// All buffers are made by init, so the transforms never allocate and are safe on the audio
// thread. One object serves one thread at a time (the transforms use its work buffers).
// Transforms on an object without a plan (never initialised, or refused) do nothing.
struct Fft {
  static constexpr int32_t kInterleaved = 1;  // the canonical layout above
  static constexpr int32_t kMinLog2 = 5;
  static constexpr int32_t kMaxLog2 = 26;

  int32_t kind = 0;
  FftSetup* setup = nullptr;
  float* work = nullptr;   // N floats: scratch of the passes
  float* work2 = nullptr;  // N floats: zero-extended or interleaved input
  float forwardScale = 0.0f;
  float inverseScale = 0.0f;
  int32_t log2N = 0;

  Fft() = default;
  ~Fft();
  Fft(Fft&& other) noexcept;
  Fft& operator=(Fft&& other) noexcept;
  Fft(const Fft&) = delete;
  Fft& operator=(const Fft&) = delete;

  // Plans N = 1 << log2N points. Refuses (returns false, leaving the object empty) a log2N
  // outside 5..26, a kind other than kInterleaved, or a failed allocation. Replaces an
  // earlier plan.
  bool init(int32_t log2N, int32_t kind);
  void destroy();
  bool valid() const { return setup != nullptr; }
  int32_t size() const { return setup != nullptr ? setup->N : 0; }

  // Spectrum of the first n samples of input, zero-extended to N (n < 0 or n > N: all N).
  // Writes N floats to output, which may equal input.
  void forward(const float* input, float* output, int32_t n);
  // N unscaled samples from a canonical spectrum; output may equal input.
  void inverse(const float* input, float* output);
  // The same from separate halves: re and im hold N/2 floats each and interleave into the
  // canonical layout, so im[0] carries the Nyquist value.
  void inverseFromSplit(const float* re, const float* im, float* output);
};
