#include "engine/dsp/VectorOps.h"

#include <cstdint>

#include "engine/dsp/SimdLanes.h"

namespace {

// Whether [a, a+n) and [b, b+n) share an element while being different arrays. Element-wise
// kernels may take four at a time only when they do not, or when they coincide exactly.
bool partlyOverlap(const float* a, const float* b, int32_t n) {
  const auto pa = reinterpret_cast<uintptr_t>(a);
  const auto pb = reinterpret_cast<uintptr_t>(b);
  const uintptr_t bytes = sizeof(float) * static_cast<uintptr_t>(n);
  return pa != pb && pa < pb + bytes && pb < pa + bytes;
}

}  // namespace

void vecAdd(float* dst, const float* src, int32_t n) {
  int32_t i = 0;
  if (!partlyOverlap(dst, src, n)) {
    for (; i + 4 <= n; i += 4) lanesStore(dst + i, lanesLoad(dst + i) + lanesLoad(src + i));
  }
  for (; i < n; ++i) dst[i] += src[i];
}

void vecCopy(const float* src, float* dst, int32_t n) {
  int32_t i = 0;
  if (!partlyOverlap(dst, src, n)) {
    for (; i + 4 <= n; i += 4) lanesStore(dst + i, lanesLoad(src + i));
  }
  for (; i < n; ++i) dst[i] = src[i];
}

float vecDot(const float* a, const float* b, int32_t n) {
  float sum = 0.0f;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    sum += a[i] * b[i];
    sum += a[i + 1] * b[i + 1];
    sum += a[i + 2] * b[i + 2];
    sum += a[i + 3] * b[i + 3];
  }
  for (; i < n; ++i) sum += a[i] * b[i];
  return sum;
}

void vecScale(float* x, float s, int32_t n) {
  const Lanes factor = lanesSplat(s);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) lanesStore(x + i, lanesLoad(x + i) * factor);
  for (; i < n; ++i) x[i] *= s;
}

void vecFillStrided(float* x, int32_t stride, int32_t n, float value) {
  for (int32_t i = 0; i < n; ++i) x[static_cast<int64_t>(i) * stride] = value;
}

float vecSumSquares(const float* x, int32_t n, int32_t stride) {
  if (static_cast<int64_t>(n) * stride < 1) return 0.0f;
  float sum = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float v = x[static_cast<int64_t>(i) * stride];
    sum += v * v;
  }
  return sum;
}

float vecMaxIndex(const float* x, int32_t n, int32_t* index) {
  if (n < 1) {
    if (index != nullptr) *index = -1;
    return 0.0f;
  }
  float best = x[0];
  int32_t bestIndex = 0;
  for (int32_t i = 1; i < n; ++i) {
    if (x[i] > best) {
      best = x[i];
      bestIndex = i;
    }
  }
  if (index != nullptr) *index = bestIndex;
  return best;
}

void vecMulAddStrided(const float* a, int32_t aStride, const float* b, int32_t bStride, const float* c,
                      int32_t cStride, float* out, int32_t outStride, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const int64_t k = i;
    out[k * outStride] = a[k * aStride] * b[k * bStride] + c[k * cStride];
  }
}

void powerSpectrum(const float* spectrum, float* out, int32_t nBins, bool dcOnly) {
  if (nBins < 1) return;
  out[0] = spectrum[0] * spectrum[0] + (dcOnly ? 0.0f : spectrum[1] * spectrum[1]);
  for (int32_t k = 1; k < nBins; ++k) {
    const float re = spectrum[2 * k], im = spectrum[2 * k + 1];
    out[k] = re * re + im * im;
  }
}

void splitToInterleaved(const float* re, const float* im, float* out, int32_t N) {
  const int32_t half = N / 2;
  int32_t i = 0;
  for (; i + 4 <= half; i += 4) {
    const Lanes r = lanesLoad(re + i), m = lanesLoad(im + i);
    lanesStore(out + 2 * i, lanesInterleaveLow(r, m));
    lanesStore(out + 2 * i + 4, lanesInterleaveHigh(r, m));
  }
  for (; i < half; ++i) {
    out[2 * i] = re[i];
    out[2 * i + 1] = im[i];
  }
}
