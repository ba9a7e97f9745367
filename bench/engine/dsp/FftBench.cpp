#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/dsp/Fft.h"

#ifdef OSKRA_HAVE_FFTW
#include <fftw3.h>
#endif

// Real transforms at the sizes the engine uses on the audio thread (256 points per hop for
// every track and the spectral delay) and the next size up, next to FFTW as a yardstick.

namespace {

std::vector<float> testSignal(int32_t n) {
  std::vector<float> x(static_cast<size_t>(n));
  uint32_t state = 12345u;
  for (float& v : x) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<float>(state) * 2.3283064e-10f - 0.5f;
  }
  return x;
}

// Times run(fft, input, output, n) on a plan of state.range(0) points.
template <typename Run>
void timeOurs(benchmark::State& state, Run run) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  Fft fft;
  if (!fft.init(log2OfPowerOfTwo(n), Fft::kInterleaved)) {
    state.SkipWithError("plan refused");
    return;
  }
  const std::vector<float> x = testSignal(n);
  std::vector<float> out(static_cast<size_t>(n));
  for (auto _ : state) {
    run(fft, x.data(), out.data(), n);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_FftForward(benchmark::State& state) {
  timeOurs(state, [](Fft& fft, const float* x, float* out, int32_t n) { fft.forward(x, out, n); });
}

void BM_FftInverse(benchmark::State& state) {
  timeOurs(state, [](Fft& fft, const float* x, float* out, int32_t) { fft.inverse(x, out); });
}

void BM_FftInverseFromSplit(benchmark::State& state) {
  timeOurs(state, [](Fft& fft, const float* x, float* out, int32_t n) {
    fft.inverseFromSplit(x, x + n / 2, out);
  });
}

BENCHMARK(BM_FftForward)->Arg(256)->Arg(512);
BENCHMARK(BM_FftInverse)->Arg(256)->Arg(512);
BENCHMARK(BM_FftInverseFromSplit)->Arg(256);

#ifdef OSKRA_HAVE_FFTW

// FFTW's real-to-complex and complex-to-real plans over separate aligned buffers.
struct FftwReal {
  int32_t n;
  float* real = nullptr;
  fftwf_complex* spectrum = nullptr;
  fftwf_plan forward = nullptr;
  fftwf_plan backward = nullptr;

  FftwReal(int32_t size, unsigned backwardFlags) : n(size) {
    real = fftwf_alloc_real(static_cast<size_t>(n));
    spectrum = fftwf_alloc_complex(static_cast<size_t>(n / 2 + 1));
    forward = fftwf_plan_dft_r2c_1d(n, real, spectrum, FFTW_MEASURE);
    backward = fftwf_plan_dft_c2r_1d(n, spectrum, real, FFTW_MEASURE | backwardFlags);
    const std::vector<float> x = testSignal(n);
    for (int32_t i = 0; i < n; ++i) real[i] = x[static_cast<size_t>(i)];
    fftwf_execute(forward);
  }
  ~FftwReal() {
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(backward);
    fftwf_free(real);
    fftwf_free(spectrum);
  }
};

// Times one plan execution per run, with an optional refill of the spectrum before it.
void timeFftw(benchmark::State& state, unsigned backwardFlags, bool backward, bool refill) {
  FftwReal fftw(static_cast<int32_t>(state.range(0)), backwardFlags);
  const size_t bytes = sizeof(fftwf_complex) * static_cast<size_t>(fftw.n / 2 + 1);
  std::vector<float> saved(static_cast<size_t>(fftw.n + 2));
  std::memcpy(saved.data(), fftw.spectrum, bytes);
  for (auto _ : state) {
    if (refill) std::memcpy(fftw.spectrum, saved.data(), bytes);
    if (backward) fftwf_execute(fftw.backward);
    benchmark::DoNotOptimize(fftw.real);
    benchmark::DoNotOptimize(fftw.spectrum);
    benchmark::ClobberMemory();
  }
}

void BM_FftwForward(benchmark::State& state) {
  FftwReal fftw(static_cast<int32_t>(state.range(0)), 0);
  for (auto _ : state) {
    fftwf_execute(fftw.forward);
    benchmark::DoNotOptimize(fftw.spectrum);
    benchmark::ClobberMemory();
  }
}

// FFTW's fastest complex-to-real plan destroys its input, so each run starts from a fresh copy
// (the copy is timed too; BM_FftwSpectrumCopy measures it alone).
void BM_FftwInverse(benchmark::State& state) { timeFftw(state, 0, true, true); }
// The same contract as ours: the spectrum is left as it was.
void BM_FftwInversePreserve(benchmark::State& state) { timeFftw(state, FFTW_PRESERVE_INPUT, true, false); }
void BM_FftwSpectrumCopy(benchmark::State& state) { timeFftw(state, 0, false, true); }

BENCHMARK(BM_FftwForward)->Arg(256)->Arg(512);
BENCHMARK(BM_FftwInverse)->Arg(256)->Arg(512);
BENCHMARK(BM_FftwInversePreserve)->Arg(256)->Arg(512);
BENCHMARK(BM_FftwSpectrumCopy)->Arg(256)->Arg(512);

#endif

}  // namespace
