#pragma once

// Eight float lanes processed as one value (an AVX register), with the same operations as the
// four-lane Lanes, so a kernel written once for Lanes can be instantiated for either width.
// Every operation gives in each lane exactly what Lanes gives (no fused multiply-add is
// enabled), so the two widths produce the same bits.
//
// The processor may lack AVX: everything here is compiled for AVX2 alone and may only run
// after wideLanesEnabled() (LaneWidth.h) said yes. Code that uses WideLanes must itself be
// compiled for that target (see the kernels' wide translation units).

#if defined(__x86_64__) && !defined(OSKRA_SCALAR_LANES)
#define OSKRA_HAVE_WIDE_LANES 1
#define OSKRA_WIDE_TARGET __attribute__((target("avx2")))

#include <immintrin.h>

struct WideLanes {
  static constexpr int kWidth = 8;
  __m256 v;
  OSKRA_WIDE_TARGET static WideLanes load(const float* p) { return {_mm256_loadu_ps(p)}; }
  OSKRA_WIDE_TARGET static WideLanes splat(float x) { return {_mm256_set1_ps(x)}; }
  OSKRA_WIDE_TARGET static WideLanes zero() { return {_mm256_setzero_ps()}; }
};

OSKRA_WIDE_TARGET inline void lanesStore(float* p, WideLanes a) { _mm256_storeu_ps(p, a.v); }
OSKRA_WIDE_TARGET inline WideLanes operator+(WideLanes a, WideLanes b) { return {_mm256_add_ps(a.v, b.v)}; }
OSKRA_WIDE_TARGET inline WideLanes operator-(WideLanes a, WideLanes b) { return {_mm256_sub_ps(a.v, b.v)}; }
OSKRA_WIDE_TARGET inline WideLanes operator*(WideLanes a, WideLanes b) { return {_mm256_mul_ps(a.v, b.v)}; }
OSKRA_WIDE_TARGET inline WideLanes operator/(WideLanes a, WideLanes b) { return {_mm256_div_ps(a.v, b.v)}; }
OSKRA_WIDE_TARGET inline WideLanes operator-(WideLanes a) { return {_mm256_xor_ps(a.v, _mm256_set1_ps(-0.0f))}; }
OSKRA_WIDE_TARGET inline WideLanes lanesSqrt(WideLanes a) { return {_mm256_sqrt_ps(a.v)}; }
// std::min(a, b): b < a ? b : a.
OSKRA_WIDE_TARGET inline WideLanes lanesMin(WideLanes a, WideLanes b) { return {_mm256_min_ps(b.v, a.v)}; }
// std::max(a, b): a < b ? b : a.
OSKRA_WIDE_TARGET inline WideLanes lanesMax(WideLanes a, WideLanes b) { return {_mm256_max_ps(b.v, a.v)}; }
OSKRA_WIDE_TARGET inline WideLanes lanesAbs(WideLanes a) { return {_mm256_andnot_ps(_mm256_set1_ps(-0.0f), a.v)}; }
// x - floor(x); 0 for NaN, infinities and magnitudes from 2^23 up.
OSKRA_WIDE_TARGET inline WideLanes lanesWrap(WideLanes x) {
  const __m256 inRange = _mm256_cmp_ps(lanesAbs(x).v, _mm256_set1_ps(8388608.0f), _CMP_LT_OQ);
  __m256 t = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(x.v));
  t = _mm256_sub_ps(t, _mm256_and_ps(_mm256_cmp_ps(t, x.v, _CMP_GT_OQ), _mm256_set1_ps(1.0f)));
  return {_mm256_and_ps(inRange, _mm256_sub_ps(x.v, t))};
}

#else
#define OSKRA_HAVE_WIDE_LANES 0
#endif
