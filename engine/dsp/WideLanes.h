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

#include <cstdint>

struct WideTable;
struct WideSmallTable;
struct WideWindow;

struct WideLanes {
  static constexpr int kWidth = 8;
  using Table = WideTable;
  using SmallTable = WideSmallTable;
  using Window = WideWindow;
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
  // The floor; adding 0 turns a -0 into +0, as the four-lane form's truncation does.
  const __m256 t =
      _mm256_add_ps(_mm256_round_ps(x.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC), _mm256_setzero_ps());
  return {_mm256_and_ps(inRange, _mm256_sub_ps(x.v, t))};
}
// Comparisons give masks (all bits set where true); lanesSelect takes a where the mask is set.
OSKRA_WIDE_TARGET inline WideLanes lanesLess(WideLanes a, WideLanes b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
OSKRA_WIDE_TARGET inline WideLanes lanesLessEqual(WideLanes a, WideLanes b) {
  return {_mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ)};
}
OSKRA_WIDE_TARGET inline WideLanes lanesSelect(WideLanes mask, WideLanes a, WideLanes b) {
  return {_mm256_blendv_ps(b.v, a.v, mask.v)};
}
// Truncation toward zero, kept as floats (the value must fit an integer).
OSKRA_WIDE_TARGET inline WideLanes lanesTruncate(WideLanes a) { return {_mm256_cvtepi32_ps(_mm256_cvttps_epi32(a.v))}; }
// The floor, for values that fit an integer.
OSKRA_WIDE_TARGET inline WideLanes lanesFloor(WideLanes a) {
  return {_mm256_round_ps(a.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
}
// Lane i: the largest of lanes 0 .. i, for values of at least 0.
OSKRA_WIDE_TARGET inline WideLanes lanesRunningMax(WideLanes a) {
  __m256 x = a.v;
  x = _mm256_max_ps(x, _mm256_castsi256_ps(_mm256_slli_si256(_mm256_castps_si256(x), 4)));
  x = _mm256_max_ps(x, _mm256_castsi256_ps(_mm256_slli_si256(_mm256_castps_si256(x), 8)));
  // The upper half goes on from the lower half's last lane.
  const __m256 low = _mm256_permutevar8x32_ps(x, _mm256_set1_epi32(3));
  return {_mm256_max_ps(x, _mm256_blend_ps(_mm256_setzero_ps(), low, 0xF0))};
}
// Every lane: the last lane.
OSKRA_WIDE_TARGET inline WideLanes lanesLast(WideLanes a) {
  return {_mm256_permutevar8x32_ps(a.v, _mm256_set1_epi32(7))};
}

// Tables read at a position per lane (whole numbers inside the table), as LanesTable. Up to
// eight values fit a register and are picked by one permutation; longer tables are read one
// value at a time, which beats the gather instruction on current processors.
struct WideSmallTable {
  static constexpr bool kInRegisters = true;
  __m256 values;
  OSKRA_WIDE_TARGET WideSmallTable(const float* tableValues, int32_t size) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    values = _mm256_maskload_ps(tableValues, _mm256_cmpgt_epi32(_mm256_set1_epi32(size), lane));
  }
  OSKRA_WIDE_TARGET WideLanes at(WideLanes index) const {
    return {_mm256_permutevar8x32_ps(values, _mm256_cvttps_epi32(index.v))};
  }
};

struct WideTable {
  static constexpr bool kInRegisters = false;
  const float* values;
  OSKRA_WIDE_TARGET WideTable(const float* tableValues, int32_t /*size*/) : values(tableValues) {}
  OSKRA_WIDE_TARGET WideLanes at(WideLanes index) const {
    alignas(32) int32_t i[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(i), _mm256_cvttps_epi32(index.v));
    return {_mm256_setr_ps(values[i[0]], values[i[1]], values[i[2]], values[i[3]], values[i[4]], values[i[5]],
                           values[i[6]], values[i[7]])};
  }
};

// Reads of tables at positions per lane that all lie within kReach entries from a base, as the
// rising positions of a lane group mostly do: two loads and two permutations per table in place
// of eight single reads. Every table read must have kReach readable values from the base on.
struct WideWindow {
  static constexpr int32_t kReach = 16;
  __m256i offset;  // the positions less the base
  __m256 upper;    // sign bit set where the offset lies in the second eight
  int32_t base;
  OSKRA_WIDE_TARGET WideWindow(WideLanes positions, int32_t from)
      : offset(_mm256_sub_epi32(_mm256_cvttps_epi32(positions.v), _mm256_set1_epi32(from))),
        upper(_mm256_castsi256_ps(_mm256_slli_epi32(offset, 28))),
        base(from) {}
  OSKRA_WIDE_TARGET WideLanes at(const float* values) const {
    const __m256 low = _mm256_permutevar8x32_ps(_mm256_loadu_ps(values + base), offset);
    const __m256 high = _mm256_permutevar8x32_ps(_mm256_loadu_ps(values + base + 8), offset);
    return {_mm256_blendv_ps(low, high, upper)};
  }
  // The same where every position lies within kNearReach of the base: one load and one
  // permutation.
  static constexpr int32_t kNearReach = 8;
  OSKRA_WIDE_TARGET WideLanes atNear(const float* values) const {
    return {_mm256_permutevar8x32_ps(_mm256_loadu_ps(values + base), offset)};
  }
};

OSKRA_WIDE_TARGET inline uint32_t lanesBitsLess(WideLanes a, WideLanes b) {
  return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)));
}
OSKRA_WIDE_TARGET inline uint32_t lanesBitsLessEqual(WideLanes a, WideLanes b) {
  return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ)));
}

#else
#define OSKRA_HAVE_WIDE_LANES 0
#endif

// Sixteen lanes (an AVX-512 register), the same operations again. Compiled for AVX-512F and
// only run after wideLanesEnabled() chose this width.
#if OSKRA_HAVE_WIDE_LANES
#define OSKRA_WIDER_TARGET __attribute__((target("avx512f")))

struct WiderTable;
struct WiderSmallTable;

struct WiderLanes {
  static constexpr int kWidth = 16;
  using Table = WiderTable;
  using SmallTable = WiderSmallTable;
  // A voice's knot segments (about fifty) are laid out eight lanes at a time: sixteen would
  // work mostly past their end, at twice the cost of a division.
  using SegmentLanes = WideLanes;
  __m512 v;
  OSKRA_WIDER_TARGET static WiderLanes load(const float* p) { return {_mm512_loadu_ps(p)}; }
  OSKRA_WIDER_TARGET static WiderLanes splat(float x) { return {_mm512_set1_ps(x)}; }
  OSKRA_WIDER_TARGET static WiderLanes zero() { return {_mm512_setzero_ps()}; }
};

OSKRA_WIDER_TARGET inline void lanesStore(float* p, WiderLanes a) { _mm512_storeu_ps(p, a.v); }
OSKRA_WIDER_TARGET inline WiderLanes operator+(WiderLanes a, WiderLanes b) { return {_mm512_add_ps(a.v, b.v)}; }
OSKRA_WIDER_TARGET inline WiderLanes operator-(WiderLanes a, WiderLanes b) { return {_mm512_sub_ps(a.v, b.v)}; }
OSKRA_WIDER_TARGET inline WiderLanes operator*(WiderLanes a, WiderLanes b) { return {_mm512_mul_ps(a.v, b.v)}; }
OSKRA_WIDER_TARGET inline WiderLanes operator/(WiderLanes a, WiderLanes b) { return {_mm512_div_ps(a.v, b.v)}; }
OSKRA_WIDER_TARGET inline WiderLanes operator-(WiderLanes a) {
  return {_mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(a.v), _mm512_set1_epi32(INT32_MIN)))};
}
// The all-lanes masked forms: the plain ones are written with a formally undefined register
// that the compiler warns about.
constexpr __mmask16 kAllWiderLanes = 0xFFFF;
OSKRA_WIDER_TARGET inline WiderLanes lanesSqrt(WiderLanes a) { return {_mm512_maskz_sqrt_ps(kAllWiderLanes, a.v)}; }
OSKRA_WIDER_TARGET inline WiderLanes lanesMin(WiderLanes a, WiderLanes b) {
  return {_mm512_maskz_min_ps(kAllWiderLanes, b.v, a.v)};
}
OSKRA_WIDER_TARGET inline WiderLanes lanesMax(WiderLanes a, WiderLanes b) {
  return {_mm512_maskz_max_ps(kAllWiderLanes, b.v, a.v)};
}
OSKRA_WIDER_TARGET inline WiderLanes lanesAbs(WiderLanes a) {
  return {_mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(a.v), _mm512_set1_epi32(INT32_MAX)))};
}
OSKRA_WIDER_TARGET inline WiderLanes lanesWrap(WiderLanes x) {
  const __mmask16 inRange = _mm512_cmp_ps_mask(lanesAbs(x).v, _mm512_set1_ps(8388608.0f), _CMP_LT_OQ);
  // The floor; adding 0 turns a -0 into +0, as the four-lane form's truncation does.
  const __m512 t =
      _mm512_add_ps(_mm512_maskz_roundscale_ps(kAllWiderLanes, x.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC),
                    _mm512_setzero_ps());
  return {_mm512_maskz_sub_ps(inRange, x.v, t)};
}
// Comparisons give a lane mask; lanesSelect takes a where it is set.
struct WiderMask {
  __mmask16 bits;
};
OSKRA_WIDER_TARGET inline WiderMask lanesLess(WiderLanes a, WiderLanes b) {
  return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_LT_OQ)};
}
OSKRA_WIDER_TARGET inline WiderMask lanesLessEqual(WiderLanes a, WiderLanes b) {
  return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_LE_OQ)};
}
OSKRA_WIDER_TARGET inline WiderLanes lanesSelect(WiderMask mask, WiderLanes a, WiderLanes b) {
  return {_mm512_mask_blend_ps(mask.bits, b.v, a.v)};
}
OSKRA_WIDER_TARGET inline __m512i widerIndex(WiderLanes index) {
  return _mm512_maskz_cvttps_epi32(kAllWiderLanes, index.v);
}
OSKRA_WIDER_TARGET inline WiderLanes lanesTruncate(WiderLanes a) {
  return {_mm512_maskz_cvtepi32_ps(kAllWiderLanes, widerIndex(a))};
}
OSKRA_WIDER_TARGET inline WiderLanes lanesFloor(WiderLanes a) {
  return {_mm512_maskz_roundscale_ps(kAllWiderLanes, a.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
}
// Lane i: the largest of lanes 0 .. i, for values of at least 0 (compared as integers, which
// orders them alike). Each step moves the lanes up by 1, 2, 4 and 8, zeros coming in below.
OSKRA_WIDER_TARGET inline WiderLanes lanesRunningMax(WiderLanes a) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i x = _mm512_castps_si512(a.v);
  x = _mm512_maskz_max_epi32(kAllWiderLanes, x, _mm512_maskz_alignr_epi32(kAllWiderLanes, x, zero, 15));
  x = _mm512_maskz_max_epi32(kAllWiderLanes, x, _mm512_maskz_alignr_epi32(kAllWiderLanes, x, zero, 14));
  x = _mm512_maskz_max_epi32(kAllWiderLanes, x, _mm512_maskz_alignr_epi32(kAllWiderLanes, x, zero, 12));
  x = _mm512_maskz_max_epi32(kAllWiderLanes, x, _mm512_maskz_alignr_epi32(kAllWiderLanes, x, zero, 8));
  return {_mm512_castsi512_ps(x)};
}
OSKRA_WIDER_TARGET inline WiderLanes lanesLast(WiderLanes a) {
  return {_mm512_maskz_permutexvar_ps(kAllWiderLanes, _mm512_set1_epi32(15), a.v)};
}

// Tables read at a position per lane (whole numbers inside the table), as LanesTable, held in
// registers: up to 16 values are picked by one permutation, up to 64 by two and a blend.
struct WiderSmallTable {
  static constexpr bool kInRegisters = true;
  __m512 values;
  OSKRA_WIDER_TARGET WiderSmallTable(const float* tableValues, int32_t size) {
    values = _mm512_maskz_loadu_ps(static_cast<__mmask16>((1u << (size < 16 ? size : 16)) - 1u), tableValues);
  }
  OSKRA_WIDER_TARGET WiderLanes at(WiderLanes index) const {
    return {_mm512_maskz_permutexvar_ps(kAllWiderLanes, widerIndex(index), values)};
  }
};

struct WiderTable {
  static constexpr bool kInRegisters = true;
  __m512 part[4];
  OSKRA_WIDER_TARGET WiderTable(const float* tableValues, int32_t size) {
    for (int32_t k = 0; k < 4; ++k) {
      const int32_t left = size - 16 * k;
      const uint32_t bits = left >= 16 ? 0xFFFFu : (left > 0 ? (1u << left) - 1u : 0u);
      part[k] = bits != 0 ? _mm512_maskz_loadu_ps(static_cast<__mmask16>(bits), tableValues + 16 * k)
                          : _mm512_setzero_ps();
    }
  }
  OSKRA_WIDER_TARGET WiderLanes at(WiderLanes index) const {
    const __m512i i = widerIndex(index);
    const __m512 low = _mm512_permutex2var_ps(part[0], i, part[1]);
    const __m512 high = _mm512_permutex2var_ps(part[2], i, part[3]);
    return {_mm512_mask_blend_ps(_mm512_test_epi32_mask(i, _mm512_set1_epi32(32)), low, high)};
  }
};

OSKRA_WIDER_TARGET inline uint32_t lanesBitsLess(WiderLanes a, WiderLanes b) {
  return _mm512_cmp_ps_mask(a.v, b.v, _CMP_LT_OQ);
}
OSKRA_WIDER_TARGET inline uint32_t lanesBitsLessEqual(WiderLanes a, WiderLanes b) {
  return _mm512_cmp_ps_mask(a.v, b.v, _CMP_LE_OQ);
}
#endif
