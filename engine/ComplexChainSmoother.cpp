#include "engine/ComplexChainSmoother.h"

#include "engine/SimdLanes.h"

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

namespace {

template <int G>
void smoothLanes(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe, const float* cIm,
                 const float* a, const float* s, float* zRe, float* zIm, float* den) {
  const Lanes eps = lanesSplat(1e-30f);
  const Lanes one = lanesSplat(1.0f);
  auto at = [](const float* p, int32_t i, int32_t g) { return lanesLoad(p + 4 * (G * i + g)); };
  auto put = [](float* p, int32_t i, int32_t g, Lanes x) { lanesStore(p + 4 * (G * i + g), x); };

  Lanes zr[G];
  Lanes zi[G];
  Lanes d[G];
  for (int32_t g = 0; g < G; ++g) {
    const Lanes w0 = at(w, 0, g);
    zr[g] = w0 * at(xRe, 0, g);
    zi[g] = w0 * at(xIm, 0, g);
    d[g] = w0;
    put(den, 0, g, d[g]);
    put(zRe, 0, g, zr[g]);
    put(zIm, 0, g, zi[g]);
  }
  for (int32_t i = 1; i < n; ++i) {
    for (int32_t g = 0; g < G; ++g) {
      const Lanes si = at(s, i - 1, g);
      const Lanes k = si / (si * at(a, i - 1, g) + d[g] + eps);
      const Lanes wi = at(w, i, g);
      d[g] = k * d[g] + wi;
      put(den, i, g, d[g]);
      const Lanes cr = at(cRe, i - 1, g);
      const Lanes ci = at(cIm, i - 1, g);
      const Lanes pr = cr * zr[g] - ci * zi[g];
      const Lanes pi = cr * zi[g] + ci * zr[g];
      zr[g] = k * pr + wi * at(xRe, i, g);
      zi[g] = k * pi + wi * at(xIm, i, g);
      put(zRe, i, g, zr[g]);
      put(zIm, i, g, zi[g]);
    }
  }

  for (int32_t g = 0; g < G; ++g) {
    const Lanes last = one / (at(den, n - 1, g) + eps);
    zr[g] = zr[g] * last;
    zi[g] = zi[g] * last;
    put(zRe, n - 1, g, zr[g]);
    put(zIm, n - 1, g, zi[g]);
  }
  for (int32_t i = n - 2; i >= 0; --i) {
    for (int32_t g = 0; g < G; ++g) {
      const Lanes cr = at(cRe, i, g);
      const Lanes ci = at(cIm, i, g);
      const Lanes pr = cr * zr[g] + ci * zi[g];
      const Lanes pi = cr * zi[g] - ci * zr[g];
      const Lanes si = at(s, i, g);
      const Lanes inv = one / (si * at(a, i, g) + at(den, i, g) + eps);
      zr[g] = (at(zRe, i, g) + si * pr) * inv;
      zi[g] = (at(zIm, i, g) + si * pi) * inv;
      put(zRe, i, g, zr[g]);
      put(zIm, i, g, zi[g]);
    }
  }
}

}  // namespace

void smoothComplexChainLanes(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe,
                             const float* cIm, const float* a, const float* s, float* zRe, float* zIm, float* den,
                             int32_t groups) {
  if (n <= 0) return;
  if (groups >= 2) {
    smoothLanes<2>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den);
  } else {
    smoothLanes<1>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den);
  }
}
