#include "engine/dsp/ComplexChainSmoother.h"

#include "engine/dsp/ComplexChainLanes.h"
#include "engine/dsp/SimdLanes.h"

// The complex products are written out on real and imaginary parts: it fixes the rounding
// order and keeps the library's NaN-recovering complex multiply out of the audio path.
void smoothComplexChain(const std::complex<float>* x, int32_t n, const float* w, const std::complex<float>* c,
                        const float* a, const float* s, std::complex<float>* z, float* den) {
  if (n <= 0) return;
  constexpr float kEps = 1e-30f;  // keeps zero weights from dividing by zero

  float zr = w[0] * x[0].real();
  float zi = w[0] * x[0].imag();
  den[0] = w[0];
  z[0] = {zr, zi};
  for (int32_t i = 1; i < n; ++i) {
    const float k = s[i - 1] / (s[i - 1] * a[i - 1] + den[i - 1] + kEps);
    den[i] = k * den[i - 1] + w[i];
    const float cr = c[i - 1].real();
    const float ci = c[i - 1].imag();
    const float pr = cr * zr - ci * zi;
    const float pi = cr * zi + ci * zr;
    const float xr = x[i].real();
    const float xi = x[i].imag();
    zr = k * pr + w[i] * xr;
    zi = k * pi + w[i] * xi;
    z[i] = {zr, zi};
  }

  const float last = 1.0f / (den[n - 1] + kEps);
  zr *= last;
  zi *= last;
  z[n - 1] = {zr, zi};
  for (int32_t i = n - 2; i >= 0; --i) {
    // conj(c_i)·z_{i+1}
    const float cr = c[i].real();
    const float ci = c[i].imag();
    const float pr = cr * zr + ci * zi;
    const float pi = cr * zi - ci * zr;
    const float inv = 1.0f / (s[i] * a[i] + den[i] + kEps);
    zr = (z[i].real() + s[i] * pr) * inv;
    zi = (z[i].imag() + s[i] * pi) * inv;
    z[i] = {zr, zi};
  }
}

void smoothComplexChainLanes(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe,
                             const float* cIm, const float* a, const float* s, float* zRe, float* zIm, float* den,
                             int32_t groups) {
  // Group g starts at 4·g; the offsets are made four groups at a time, so nothing allocates.
  constexpr int32_t kBatch = 4;
  for (int32_t g0 = 0; g0 < groups; g0 += kBatch) {
    int32_t offsets[kBatch];
    const int32_t count = groups - g0 < kBatch ? groups - g0 : kBatch;
    for (int32_t g = 0; g < count; ++g) offsets[g] = Lanes::kWidth * (g0 + g);
    chainlanes::smoothChains<Lanes>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, Lanes::kWidth * groups, offsets,
                                    count);
  }
}
