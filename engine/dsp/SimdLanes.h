#pragma once

// Four float lanes processed as one value. On x86-64 a lane group is an SSE register; elsewhere
// it is a plain array handled by scalar loops, so the numerical kernels are written once and read
// the same on every target. Loads and stores accept any float address: buffers from callers
// need no particular alignment. Defining OSKRA_SCALAR_LANES forces the portable version (used
// to check it on x86-64).

#include <cstdint>

#if !defined(OSKRA_SCALAR_LANES) && (defined(__SSE__) || defined(__x86_64__) || defined(_M_X64))
#define OSKRA_LANES_SSE 1
#include <xmmintrin.h>
#else
#define OSKRA_LANES_SSE 0
#endif

struct LanesTable;

#if OSKRA_LANES_SSE

struct Lanes {
  static constexpr int kWidth = 4;
  // Tables read at a position per lane; see LanesTable.
  using Table = LanesTable;
  using SmallTable = LanesTable;
  __m128 v;
  static Lanes load(const float* p) { return {_mm_loadu_ps(p)}; }
  static Lanes splat(float x) { return {_mm_set1_ps(x)}; }
  static Lanes zero() { return {_mm_setzero_ps()}; }
};

inline Lanes lanesLoad(const float* p) { return {_mm_loadu_ps(p)}; }
inline void lanesStore(float* p, Lanes a) { _mm_storeu_ps(p, a.v); }
// Stores lanes 0 and 1 only.
inline void lanesStoreLow2(float* p, Lanes a) { _mm_storel_pi(reinterpret_cast<__m64*>(p), a.v); }
// Lanes 0 and 1 from p, lanes 2 and 3 zero.
inline Lanes lanesLoadLow2(const float* p) {
  return {_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p))};
}
inline Lanes lanesSplat(float x) { return {_mm_set1_ps(x)}; }
inline Lanes lanesZero() { return {_mm_setzero_ps()}; }
inline Lanes operator+(Lanes a, Lanes b) { return {_mm_add_ps(a.v, b.v)}; }
inline Lanes operator-(Lanes a, Lanes b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Lanes operator*(Lanes a, Lanes b) { return {_mm_mul_ps(a.v, b.v)}; }
inline Lanes operator-(Lanes a) { return {_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))}; }
// Rows become columns: afterwards a holds the old lane 0 of a, b, c, d, and so on.
inline void lanesTranspose(Lanes& a, Lanes& b, Lanes& c, Lanes& d) { _MM_TRANSPOSE4_PS(a.v, b.v, c.v, d.v); }
// [a0 b0 a1 b1] and [a2 b2 a3 b3].
inline Lanes lanesInterleaveLow(Lanes a, Lanes b) { return {_mm_unpacklo_ps(a.v, b.v)}; }
inline Lanes lanesInterleaveHigh(Lanes a, Lanes b) { return {_mm_unpackhi_ps(a.v, b.v)}; }
// [a0 a2 b0 b2] and [a1 a3 b1 b3]: undoes the interleave of a pair.
inline Lanes lanesEven(Lanes a, Lanes b) { return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(2, 0, 2, 0))}; }
inline Lanes lanesOdd(Lanes a, Lanes b) { return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(3, 1, 3, 1))}; }
inline Lanes lanesReverse(Lanes a) { return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(0, 1, 2, 3))}; }
inline Lanes lanesWithLane0(Lanes a, float x) { return {_mm_move_ss(a.v, _mm_set_ss(x))}; }
inline float lanesFirst(Lanes a) { return _mm_cvtss_f32(a.v); }

#else

struct Lanes {
  static constexpr int kWidth = 4;
  using Table = LanesTable;
  using SmallTable = LanesTable;
  float v[4];
  static Lanes load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
  static Lanes splat(float x) { return {{x, x, x, x}}; }
  static Lanes zero() { return {{0.0f, 0.0f, 0.0f, 0.0f}}; }
};

inline Lanes lanesLoad(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
inline void lanesStore(float* p, Lanes a) {
  for (int i = 0; i < 4; ++i) p[i] = a.v[i];
}
inline void lanesStoreLow2(float* p, Lanes a) {
  p[0] = a.v[0];
  p[1] = a.v[1];
}
inline Lanes lanesLoadLow2(const float* p) { return {{p[0], p[1], 0.0f, 0.0f}}; }
inline Lanes lanesSplat(float x) { return {{x, x, x, x}}; }
inline Lanes lanesZero() { return {{0.0f, 0.0f, 0.0f, 0.0f}}; }
inline Lanes operator+(Lanes a, Lanes b) {
  return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
}
inline Lanes operator-(Lanes a, Lanes b) {
  return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}};
}
inline Lanes operator*(Lanes a, Lanes b) {
  return {{a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]}};
}
inline Lanes operator-(Lanes a) { return {{-a.v[0], -a.v[1], -a.v[2], -a.v[3]}}; }
inline void lanesTranspose(Lanes& a, Lanes& b, Lanes& c, Lanes& d) {
  const Lanes r[4] = {a, b, c, d};
  a = {{r[0].v[0], r[1].v[0], r[2].v[0], r[3].v[0]}};
  b = {{r[0].v[1], r[1].v[1], r[2].v[1], r[3].v[1]}};
  c = {{r[0].v[2], r[1].v[2], r[2].v[2], r[3].v[2]}};
  d = {{r[0].v[3], r[1].v[3], r[2].v[3], r[3].v[3]}};
}
inline Lanes lanesInterleaveLow(Lanes a, Lanes b) { return {{a.v[0], b.v[0], a.v[1], b.v[1]}}; }
inline Lanes lanesInterleaveHigh(Lanes a, Lanes b) { return {{a.v[2], b.v[2], a.v[3], b.v[3]}}; }
inline Lanes lanesEven(Lanes a, Lanes b) { return {{a.v[0], a.v[2], b.v[0], b.v[2]}}; }
inline Lanes lanesOdd(Lanes a, Lanes b) { return {{a.v[1], a.v[3], b.v[1], b.v[3]}}; }
inline Lanes lanesReverse(Lanes a) { return {{a.v[3], a.v[2], a.v[1], a.v[0]}}; }
inline Lanes lanesWithLane0(Lanes a, float x) { return {{x, a.v[1], a.v[2], a.v[3]}}; }
inline float lanesFirst(Lanes a) { return a.v[0]; }

#endif

// Division, square root and the comparisons of the per-band arithmetic. Each gives in every
// lane exactly what the scalar expression in its comment gives, so a kernel run four voices
// at a time matches the same kernel run on one.
#if OSKRA_LANES_SSE

#include <emmintrin.h>

inline Lanes operator/(Lanes a, Lanes b) { return {_mm_div_ps(a.v, b.v)}; }
inline Lanes lanesSqrt(Lanes a) { return {_mm_sqrt_ps(a.v)}; }
// std::min(a, b): b < a ? b : a.
inline Lanes lanesMin(Lanes a, Lanes b) { return {_mm_min_ps(b.v, a.v)}; }
// std::max(a, b): a < b ? b : a.
inline Lanes lanesMax(Lanes a, Lanes b) { return {_mm_max_ps(b.v, a.v)}; }
inline Lanes lanesAbs(Lanes a) { return {_mm_andnot_ps(_mm_set1_ps(-0.0f), a.v)}; }
// x - floor(x); 0 for NaN, infinities and magnitudes from 2^23 up.
inline Lanes lanesWrap(Lanes x) {
  const __m128 inRange = _mm_cmplt_ps(lanesAbs(x).v, _mm_set1_ps(8388608.0f));
  __m128 t = _mm_cvtepi32_ps(_mm_cvttps_epi32(x.v));
  t = _mm_sub_ps(t, _mm_and_ps(_mm_cmpgt_ps(t, x.v), _mm_set1_ps(1.0f)));
  return {_mm_and_ps(inRange, _mm_sub_ps(x.v, t))};
}

// Comparisons give masks (all bits set where true); lanesSelect takes a where the mask is set.
inline Lanes lanesLess(Lanes a, Lanes b) { return {_mm_cmplt_ps(a.v, b.v)}; }
inline Lanes lanesLessEqual(Lanes a, Lanes b) { return {_mm_cmple_ps(a.v, b.v)}; }
inline Lanes lanesSelect(Lanes mask, Lanes a, Lanes b) {
  return {_mm_or_ps(_mm_and_ps(mask.v, a.v), _mm_andnot_ps(mask.v, b.v))};
}
// The same comparisons as bits, lane i in bit i: for picking out the few lanes that need
// scalar work. NaN compares false.
inline uint32_t lanesBitsLess(Lanes a, Lanes b) {
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_cmplt_ps(a.v, b.v)));
}
inline uint32_t lanesBitsLessEqual(Lanes a, Lanes b) {
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_cmple_ps(a.v, b.v)));
}
// Truncation toward zero into four integers (the value must fit), and back.
inline void lanesStoreInt(int32_t* p, Lanes a) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_cvttps_epi32(a.v));
}
inline Lanes lanesFromInt(const int32_t* p) {
  return {_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))};
}
// Truncation toward zero, kept as floats (the value must fit an integer).
inline Lanes lanesTruncate(Lanes a) { return {_mm_cvtepi32_ps(_mm_cvttps_epi32(a.v))}; }
// The floor, for values that fit an integer.
inline Lanes lanesFloor(Lanes a) {
  const __m128 t = _mm_cvtepi32_ps(_mm_cvttps_epi32(a.v));
  return {_mm_sub_ps(t, _mm_and_ps(_mm_cmpgt_ps(t, a.v), _mm_set1_ps(1.0f)))};
}
// Lane i: the largest of lanes 0 .. i, for values of at least 0.
inline Lanes lanesRunningMax(Lanes a) {
  __m128 x = a.v;
  x = _mm_max_ps(x, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(x), 4)));
  x = _mm_max_ps(x, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(x), 8)));
  return {x};
}
// Every lane: the last lane.
inline Lanes lanesLast(Lanes a) { return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(3, 3, 3, 3))}; }

#else

#include <cmath>
#include <cstdint>

inline Lanes operator/(Lanes a, Lanes b) {
  return {{a.v[0] / b.v[0], a.v[1] / b.v[1], a.v[2] / b.v[2], a.v[3] / b.v[3]}};
}
inline Lanes lanesSqrt(Lanes a) {
  return {{std::sqrt(a.v[0]), std::sqrt(a.v[1]), std::sqrt(a.v[2]), std::sqrt(a.v[3])}};
}
inline Lanes lanesMin(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 4; ++i) r.v[i] = b.v[i] < a.v[i] ? b.v[i] : a.v[i];
  return r;
}
inline Lanes lanesMax(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] < b.v[i] ? b.v[i] : a.v[i];
  return r;
}
inline Lanes lanesAbs(Lanes a) {
  return {{std::fabs(a.v[0]), std::fabs(a.v[1]), std::fabs(a.v[2]), std::fabs(a.v[3])}};
}
inline Lanes lanesWrap(Lanes x) {
  Lanes r;
  for (int i = 0; i < 4; ++i) {
    const float v = x.v[i];
    if (!(v < 8388608.0f && v > -8388608.0f)) {
      r.v[i] = 0.0f;
      continue;
    }
    float t = static_cast<float>(static_cast<int32_t>(v));
    if (t > v) t -= 1.0f;
    r.v[i] = v - t;
  }
  return r;
}

inline Lanes lanesLess(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] < b.v[i] ? 1.0f : 0.0f;
  return r;
}
inline Lanes lanesLessEqual(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] <= b.v[i] ? 1.0f : 0.0f;
  return r;
}
inline Lanes lanesSelect(Lanes mask, Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 4; ++i) r.v[i] = mask.v[i] != 0.0f ? a.v[i] : b.v[i];
  return r;
}
inline uint32_t lanesBitsLess(Lanes a, Lanes b) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= a.v[i] < b.v[i] ? 1u << i : 0u;
  return bits;
}
inline uint32_t lanesBitsLessEqual(Lanes a, Lanes b) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= a.v[i] <= b.v[i] ? 1u << i : 0u;
  return bits;
}
inline void lanesStoreInt(int32_t* p, Lanes a) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<int32_t>(a.v[i]);
}
inline Lanes lanesFromInt(const int32_t* p) {
  return {{static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]), static_cast<float>(p[3])}};
}
inline Lanes lanesTruncate(Lanes a) {
  Lanes r;
  for (int i = 0; i < 4; ++i) r.v[i] = static_cast<float>(static_cast<int32_t>(a.v[i]));
  return r;
}
inline Lanes lanesFloor(Lanes a) {
  Lanes r = lanesTruncate(a);
  for (int i = 0; i < 4; ++i) r.v[i] -= r.v[i] > a.v[i] ? 1.0f : 0.0f;
  return r;
}
inline Lanes lanesRunningMax(Lanes a) {
  for (int i = 1; i < 4; ++i) a.v[i] = a.v[i] > a.v[i - 1] ? a.v[i] : a.v[i - 1];
  return a;
}
inline Lanes lanesLast(Lanes a) { return {{a.v[3], a.v[3], a.v[3], a.v[3]}}; }

#endif

// A table of values read at a position per lane: lane i of at(index) is values[index lane i].
// The positions are whole numbers inside the table. Four lanes have no lookup instruction, so
// the values are read one by one; the wider lane types hold small tables in registers.
struct LanesTable {
  // Read one value at a time: kernels do better to copy the values in plain loops.
  static constexpr bool kInRegisters = false;
  const float* values;
  LanesTable(const float* tableValues, int32_t /*size*/) : values(tableValues) {}
  Lanes at(Lanes index) const {
    int32_t i[4];
    lanesStoreInt(i, index);
#if OSKRA_LANES_SSE
    return {_mm_setr_ps(values[i[0]], values[i[1]], values[i[2]], values[i[3]])};
#else
    return {{values[i[0]], values[i[1]], values[i[2]], values[i[3]]}};
#endif
  }
};
