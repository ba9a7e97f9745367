#pragma once

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"
#include "engine/dsp/SimdLanes.h"

// guardSample, linkedPeak and the helpers of FastMath.h for four samples at once: every lane
// gets exactly the arithmetic of the scalar function, so a loop may take its samples either
// way.

#if OSKRA_LANES_SSE

inline Lanes guardSampleLanes(Lanes x) {
  const Lanes limit = lanesSplat(kSampleLimit);
  const Lanes held = lanesSelect(lanesLess(lanesZero(), x), limit,
                                 lanesSelect(lanesLess(x, lanesZero()), -limit, lanesZero()));
  return lanesSelect(lanesLessEqual(lanesAbs(x), limit), x, held);
}

inline Lanes linkedPeakLanes(Lanes l, Lanes r) {
  const Lanes a = lanesAbs(l);
  const Lanes b = lanesAbs(r);
  const Lanes floor = lanesSplat(0.0001f);
  const Lanes p = lanesSelect(lanesLess(floor, a), a, floor);
  return lanesSelect(lanesLess(p, b), b, p);
}

inline Lanes fastLog2Lanes(Lanes x) {
  const __m128i bits = _mm_castps_si128(x.v);
  const __m128i biased = _mm_and_si128(_mm_srli_epi32(bits, 23), _mm_set1_epi32(0xFF));
  const Lanes e = {_mm_cvtepi32_ps(_mm_sub_epi32(biased, _mm_set1_epi32(127)))};
  const Lanes m = {_mm_castsi128_ps(
      _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007FFFFF)), _mm_set1_epi32(0x3F800000)))};
  return ((((lanesSplat(0.64802337f) - lanesSplat(0.08193954f) * m) * m - lanesSplat(2.1291816f)) * m +
           lanesSplat(4.080474f)) * m -
          lanesSplat(2.5173764f)) +
         e;
}

inline Lanes fastPow2Lanes(Lanes y) {
  const Lanes lowest = lanesSplat(-127.0f);
  const Lanes highest = lanesSplat(127.99f);
  y = lanesSelect(lanesLess(lowest, y), y, lowest);
  y = lanesSelect(lanesLess(y, highest), y, highest);
  const Lanes z = y + lanesSplat(127.0f);
  const __m128i i = _mm_cvttps_epi32(z.v);
  const Lanes f = z - Lanes{_mm_cvtepi32_ps(i)};
  // kExponentSteps[i] is the float with the bit pattern i << 23.
  const Lanes step = {_mm_castsi128_ps(_mm_slli_epi32(i, 23))};
  return ((((lanesSplat(0.013686472f) * f + lanesSplat(0.051752277f)) * f + lanesSplat(0.2415656f)) * f +
           lanesSplat(0.69299567f)) * f +
          lanesSplat(1.0f)) *
         step;
}

inline Lanes softClipLanes(Lanes y) {
  const Lanes hi = lanesSplat(1.0e6f);
  const Lanes lo = lanesSplat(-1.0e6f);
  y = lanesSelect(lanesLess(hi, y), hi, lanesSelect(lanesLess(y, lo), lo, y));
  const Lanes a = lanesAbs(y);
  const Lanes n = (lanesSplat(1.0f) + a) + a * a;
  return (y * n) / (n + a * a * a);
}

#else

namespace fastmathlanes {
template <typename F>
inline Lanes each(Lanes x, F f) {
  float v[4];
  lanesStore(v, x);
  for (float& e : v) e = f(e);
  return lanesLoad(v);
}
}  // namespace fastmathlanes

inline Lanes guardSampleLanes(Lanes x) { return fastmathlanes::each(x, guardSample); }
inline Lanes linkedPeakLanes(Lanes l, Lanes r) {
  float a[4];
  float b[4];
  lanesStore(a, l);
  lanesStore(b, r);
  for (int i = 0; i < 4; ++i) a[i] = linkedPeak(a[i], b[i]);
  return lanesLoad(a);
}
inline Lanes fastLog2Lanes(Lanes x) { return fastmathlanes::each(x, fastLog2); }
inline Lanes fastPow2Lanes(Lanes y) { return fastmathlanes::each(y, fastPow2); }
inline Lanes softClipLanes(Lanes y) { return fastmathlanes::each(y, softClip); }

#endif
