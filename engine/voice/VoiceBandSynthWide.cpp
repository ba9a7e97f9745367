// The eight-lane instantiation of the voice pass's band arithmetic. Everything the kernel
// headers include is included first, under the default target, so that only the kernel's own
// templates are compiled for AVX2: an inline function shared with the rest of the program must
// never be emitted here with wide instructions.
#include <complex>
#include <cstdint>

#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/WideLanes.h"

#if OSKRA_HAVE_WIDE_LANES

#pragma GCC push_options
// Fused multiply-adds would round differently from the four-lane kernels.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("avx2")
#include "engine/dsp/ComplexChainLanes.h"
#include "engine/voice/BandHopKernel.h"

void runBandHopSingleWide(const BandHopTables& tables, const BandHopSingle& work) {
  bandhop::runSingle<WideLanes>(tables, work);
}

void runBandHopsWide(const BandHopTables& tables, const BandHopWork& work, const int32_t* groupLanes,
                     int32_t groupCount, uint64_t voiceLanes) {
  constexpr int32_t kEveryGroup = bandhop::kLanes / WideLanes::kWidth;
  if (groupCount == 1) {
    bandhop::run<WideLanes, 1>(tables, work, groupLanes, 1, voiceLanes);
  } else if (groupCount == kEveryGroup) {
    // Groups come in rising order without repeats: this many of them are every group.
    bandhop::run<WideLanes, kEveryGroup>(tables, work, groupLanes, kEveryGroup, voiceLanes);
  } else {
    bandhop::run<WideLanes>(tables, work, groupLanes, groupCount, voiceLanes);
  }
}

namespace {

// Rows become columns: afterwards r[k] holds the old lane k of every row.
OSKRA_WIDE_TARGET inline void transpose8(__m256 (&r)[8]) {
  __m256 t[8];
  for (int32_t k = 0; k < 8; k += 2) {
    t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
    t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
  }
  __m256 u[8];
  for (int32_t k = 0; k < 8; k += 4) {
    u[k] = _mm256_shuffle_ps(t[k], t[k + 2], _MM_SHUFFLE(1, 0, 1, 0));
    u[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], _MM_SHUFFLE(3, 2, 3, 2));
    u[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], _MM_SHUFFLE(1, 0, 1, 0));
    u[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], _MM_SHUFFLE(3, 2, 3, 2));
  }
  for (int32_t k = 0; k < 4; ++k) {
    r[k] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x20);
    r[k + 4] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x31);
  }
}

// Eight sums' values, real and imaginary parts in turn, into total[e ..] (fewer past n).
OSKRA_WIDE_TARGET inline void storeTotals(__m256 r, __m256 i, std::complex<float>* total, int32_t e, int32_t n) {
  const __m256 low = _mm256_unpacklo_ps(r, i);
  const __m256 high = _mm256_unpackhi_ps(r, i);
  float pairs[16];
  _mm256_storeu_ps(pairs, _mm256_permute2f128_ps(low, high, 0x20));
  _mm256_storeu_ps(pairs + 8, _mm256_permute2f128_ps(low, high, 0x31));
  if (e + 8 <= n) {
    _mm256_storeu_ps(reinterpret_cast<float*>(total + e), _mm256_loadu_ps(pairs));
    _mm256_storeu_ps(reinterpret_cast<float*>(total + e) + 8, _mm256_loadu_ps(pairs + 8));
  } else {
    for (int32_t k = 0; e + k < n; ++k) total[e + k] = {pairs[2 * k], pairs[2 * k + 1]};
  }
}

// The common case: the voices sit in rising lanes of one octet (a track's voices in their
// own lanes). The lanes of the octet are then taken in turn by their place, not looked up;
// a full octet (every voice of the track sounding) goes without the test per lane.
template <bool kFull>
OSKRA_WIDE_TARGET void octetRunningSums(const float* re, const float* im, int32_t octet, uint32_t present,
                                        int32_t n, std::complex<float>* total) {
  constexpr int32_t kLanes = bandhop::kLanes;
  for (int32_t e = 0; e < n; e += 8) {
    __m256 r[8];
    __m256 i[8];
    for (int32_t k = 0; k < 8; ++k) {
      r[k] = _mm256_loadu_ps(re + kLanes * (e + k) + 8 * octet);
      i[k] = _mm256_loadu_ps(im + kLanes * (e + k) + 8 * octet);
    }
    transpose8(r);
    transpose8(i);
    __m256 sumRe = _mm256_setzero_ps();
    __m256 sumIm = _mm256_setzero_ps();
    __m256 totalRe = _mm256_setzero_ps();
    __m256 totalIm = _mm256_setzero_ps();
    for (int32_t k = 0; k < 8; ++k) {
      if (!kFull && ((present >> k) & 1u) == 0) continue;
      sumRe = _mm256_add_ps(sumRe, r[k]);
      sumIm = _mm256_add_ps(sumIm, i[k]);
      totalRe = _mm256_add_ps(totalRe, sumRe);
      totalIm = _mm256_add_ps(totalIm, sumIm);
    }
    storeTotals(_mm256_add_ps(totalRe, sumRe), _mm256_add_ps(totalIm, sumIm), total, e, n);
  }
}

}  // namespace

void laneRunningSumsWide(const float* re, const float* im, const int32_t* lanes, int32_t count, int32_t n,
                         std::complex<float>* total) {
  constexpr int32_t kLanes = bandhop::kLanes;
  if (count > 0) {
    const int32_t octet = lanes[0] / 8;
    uint32_t present = 0;
    bool rising = true;
    for (int32_t v = 0; v < count; ++v) {
      rising = rising && lanes[v] / 8 == octet && (v == 0 || lanes[v] > lanes[v - 1]);
      present |= 1u << (lanes[v] % 8);
    }
    if (rising) {
      if (present == 0xFFu) {
        octetRunningSums<true>(re, im, octet, present, n, total);
      } else {
        octetRunningSums<false>(re, im, octet, present, n, total);
      }
      return;
    }
  }
  for (int32_t e = 0; e < n; e += 8) {
    // Each lane's eight values come out of an 8 x 8 transpose of its lane octet.
    __m256 sumRe = _mm256_setzero_ps();
    __m256 sumIm = _mm256_setzero_ps();
    __m256 totalRe = _mm256_setzero_ps();
    __m256 totalIm = _mm256_setzero_ps();
    int32_t octet = -1;
    __m256 octetRe[8];
    __m256 octetIm[8];
    for (int32_t v = 0; v < count; ++v) {
      const int32_t l = lanes[v];
      if (l / 8 != octet) {
        octet = l / 8;
        for (int32_t k = 0; k < 8; ++k) {
          octetRe[k] = _mm256_loadu_ps(re + kLanes * (e + k) + 8 * octet);
          octetIm[k] = _mm256_loadu_ps(im + kLanes * (e + k) + 8 * octet);
        }
        transpose8(octetRe);
        transpose8(octetIm);
      }
      sumRe = _mm256_add_ps(sumRe, octetRe[l % 8]);
      sumIm = _mm256_add_ps(sumIm, octetIm[l % 8]);
      totalRe = _mm256_add_ps(totalRe, sumRe);
      totalIm = _mm256_add_ps(totalIm, sumIm);
    }
    storeTotals(_mm256_add_ps(totalRe, sumRe), _mm256_add_ps(totalIm, sumIm), total, e, n);
  }
}

void interleaveComplexOctet(const std::complex<float>* const* source, float* dstRe, float* dstIm, int32_t n) {
  constexpr int32_t kLanes = bandhop::kLanes;
  // Four entries of eight lanes at a time: each lane's re, im pairs become rows of one 8 x 8
  // transpose, whose rows are then the entries' real and imaginary parts in turn.
  auto octet = [&](const float* const* from, int32_t e) OSKRA_WIDE_TARGET {
    __m256 r[8];
    for (int32_t k = 0; k < 8; ++k) r[k] = _mm256_loadu_ps(from[k]);
    transpose8(r);
    for (int32_t k = 0; k < 4; ++k) {
      _mm256_storeu_ps(dstRe + kLanes * (e + k), r[2 * k]);
      _mm256_storeu_ps(dstIm + kLanes * (e + k), r[2 * k + 1]);
    }
  };
  float tail[8][8];
  for (int32_t e = 0; e < n; e += 4) {
    const float* from[8];
    complexGroupSources(source, e, n, tail, from);
    octet(from, e);
  }
}

#pragma GCC pop_options

#endif
