#pragma once

#include <cstdint>

// The chain smoother run on many independent chains side by side, written once for any lane
// type L (Lanes, WideLanes): every array holds value i of chain group g at
// [L::kWidth·(groups·i + g)], one chain per lane, complex values split into real and imaginary
// arrays. Each lane gets exactly the arithmetic of smoothComplexChain, in the same order.
//
// Only templates live here: a wide translation unit includes this header under its own target,
// and each lane type gets its own instantiation.
namespace chainlanes {

// Groups g0 .. g0 + C - 1 at once: their chains are independent, so the divisions of one wait
// while the others' run, and C = 4 keeps the elimination from waiting on its own latency.
// FixedGroups > 0 states the total group count at compile time, so the lane addresses need no
// multiplication.
template <class L, int C, int FixedGroups = 0>
void smoothGroups(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe, const float* cIm,
                  const float* a, const float* s, float* zRe, float* zIm, float* den, int32_t groupCount, int32_t g0) {
  constexpr int32_t W = L::kWidth;
  const int32_t groups = FixedGroups > 0 ? FixedGroups : groupCount;
  const L eps = L::splat(1e-30f);
  const L one = L::splat(1.0f);
  auto at = [groups, g0](const float* p, int32_t i, int32_t g) { return L::load(p + W * (groups * i + g0 + g)); };
  auto put = [groups, g0](float* p, int32_t i, int32_t g, L x) { lanesStore(p + W * (groups * i + g0 + g), x); };

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

template <class L>
void smoothChains(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe, const float* cIm,
                  const float* a, const float* s, float* zRe, float* zIm, float* den, int32_t groups) {
  if (n <= 0) return;
  constexpr int32_t kTogether = 4;
  for (int32_t g0 = 0; g0 < groups; g0 += kTogether) {
    switch (groups - g0 < kTogether ? groups - g0 : kTogether) {
      case 1:
        smoothGroups<L, 1>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, groups, g0);
        break;
      case 2:
        smoothGroups<L, 2>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, groups, g0);
        break;
      case 3:
        smoothGroups<L, 3>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, groups, g0);
        break;
      default:
        smoothGroups<L, 4>(xRe, xIm, n, w, cRe, cIm, a, s, zRe, zIm, den, groups, g0);
        break;
    }
  }
}

}  // namespace chainlanes
