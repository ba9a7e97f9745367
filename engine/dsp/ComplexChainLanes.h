#pragma once

#include <cstdint>

// The chain smoother run on many independent chains side by side, written once for any lane
// type L (Lanes, WideLanes): every array holds value i of the chain group starting at offset o
// at [stride·i + o], one chain per lane, complex values split into real and imaginary arrays.
// Each lane gets exactly the arithmetic of smoothComplexChain, in the same order.
//
// Only templates live here: a wide translation unit includes this header under its own target,
// and each lane type gets its own instantiation.
namespace chainlanes {

// The C groups at offsets[0 .. C - 1] at once: their chains are independent, so the divisions
// of one wait while the others' run, and C = 4 keeps the elimination from waiting on its own
// latency. Stride > 0 states the stride at compile time; Adjacent states that group g lies at
// offsets[0] + g·L::kWidth, so each group's values are a constant distance from the first's.
template <class L, int C, int Stride = 0, bool Adjacent = false>
void smoothGroups(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe, const float* cIm,
                  const float* a, const float* s, float* zRe, float* zIm, float* den, int32_t stride,
                  const int32_t* offsets) {
  const int32_t step = Stride > 0 ? Stride : stride;
  int32_t o[C];
  for (int32_t g = 0; g < C; ++g) o[g] = Adjacent ? offsets[0] + g * L::kWidth : offsets[g];
  const L eps = L::splat(1e-30f);
  const L one = L::splat(1.0f);
  auto at = [step, &o](const float* p, int32_t i, int32_t g) { return L::load(p + step * i + o[g]); };
  auto put = [step, &o](float* p, int32_t i, int32_t g, L x) { lanesStore(p + step * i + o[g], x); };

  L zr[C];
  L zi[C];
  L d[C];
  for (int32_t g = 0; g < C; ++g) {
    const L w0 = at(w, 0, g);
    zr[g] = w0 * at(xRe, 0, g);
    zi[g] = w0 * at(xIm, 0, g);
    d[g] = w0;
    put(den, 0, g, d[g]);
    put(zRe, 0, g, zr[g]);
    put(zIm, 0, g, zi[g]);
  }
  for (int32_t i = 1; i < n; ++i) {
    for (int32_t g = 0; g < C; ++g) {
      const L si = at(s, i - 1, g);
      const L k = si / (si * at(a, i - 1, g) + d[g] + eps);
      const L wi = at(w, i, g);
      d[g] = k * d[g] + wi;
      put(den, i, g, d[g]);
      const L cr = at(cRe, i - 1, g);
      const L ci = at(cIm, i - 1, g);
      const L pr = cr * zr[g] - ci * zi[g];
      const L pi = cr * zi[g] + ci * zr[g];
      zr[g] = k * pr + wi * at(xRe, i, g);
      zi[g] = k * pi + wi * at(xIm, i, g);
      put(zRe, i, g, zr[g]);
      put(zIm, i, g, zi[g]);
    }
  }

  for (int32_t g = 0; g < C; ++g) {
    const L last = one / (at(den, n - 1, g) + eps);
    zr[g] = zr[g] * last;
    zi[g] = zi[g] * last;
    put(zRe, n - 1, g, zr[g]);
    put(zIm, n - 1, g, zi[g]);
  }
  for (int32_t i = n - 2; i >= 0; --i) {
    for (int32_t g = 0; g < C; ++g) {
      const L cr = at(cRe, i, g);
      const L ci = at(cIm, i, g);
      const L pr = cr * zr[g] + ci * zi[g];
      const L pi = cr * zi[g] - ci * zr[g];
      const L si = at(s, i, g);
      const L inv = one / (si * at(a, i, g) + at(den, i, g) + eps);
      zr[g] = (at(zRe, i, g) + si * pr) * inv;
      zi[g] = (at(zIm, i, g) + si * pi) * inv;
      put(zRe, i, g, zr[g]);
      put(zIm, i, g, zi[g]);
    }
  }
}

// Any number of groups, four at a time.
template <class L, int Stride = 0, bool Adjacent = false>
void smoothChains(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe, const float* cIm,
                  const float* a, const float* s, float* zRe, float* zIm, float* den, int32_t stride,
                  const int32_t* offsets, int32_t groups) {
  if (n <= 0) return;
  constexpr int32_t kTogether = 4;
  for (int32_t g0 = 0; g0 < groups; g0 += kTogether) {
    const int32_t* o = offsets + g0;
    switch (groups - g0 < kTogether ? groups - g0 : kTogether) {
      case 1:
        smoothGroups<L, 1, Stride, Adjacent>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, stride, o);
        break;
      case 2:
        smoothGroups<L, 2, Stride, Adjacent>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, stride, o);
        break;
      case 3:
        smoothGroups<L, 3, Stride, Adjacent>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, stride, o);
        break;
      default:
        smoothGroups<L, 4, Stride, Adjacent>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, stride, o);
        break;
    }
  }
}

}  // namespace chainlanes
