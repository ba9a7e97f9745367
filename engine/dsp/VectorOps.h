#pragma once

#include <cstdint>

// Small float-array kernels beside the FFT. None allocates; every one gives exactly the result
// of the plain loop it describes (sums are taken in index order). Counts below 1 do nothing.
// Mind the argument orders: they differ from one helper to the next.

// dst[i] += src[i], i < n. Overlapping arrays behave like the plain loop.
void vecAdd(float* dst, const float* src, int32_t n);
// dst[i] = src[i], i < n. Overlapping arrays behave like the plain loop.
void vecCopy(const float* src, float* dst, int32_t n);
// Sum of a[i]*b[i], i < n; 0 for n < 1.
float vecDot(const float* a, const float* b, int32_t n);
// x[i] *= s, i < n.
void vecScale(float* x, float s, int32_t n);
// x[i*stride] = value, i < n.
void vecFillStrided(float* x, int32_t stride, int32_t n, float value);
// Sum of x[i*stride]^2, i < n; 0 when n*stride < 1.
float vecSumSquares(const float* x, int32_t n, int32_t stride);
// The largest of x[0..n-1]; index (may be null) := the first position holding it. For n < 1
// there is no element: returns 0 and index := -1.
float vecMaxIndex(const float* x, int32_t n, int32_t* index);
// out[i*outStride] = a[i*aStride] * b[i*bStride] + c[i*cStride], i < n.
void vecMulAddStrided(const float* a, int32_t aStride, const float* b, int32_t bStride, const float* c,
                      int32_t cStride, float* out, int32_t outStride, int32_t n);
// Powers of a canonical spectrum: out[0] = s[0]^2 + (dcOnly ? 0 : s[1]^2), and
// out[k] = s[2k]^2 + s[2k+1]^2 for 1 <= k < nBins. Reads 2*nBins floats.
void powerSpectrum(const float* spectrum, float* out, int32_t nBins, bool dcOnly);
// out[2i] = re[i], out[2i+1] = im[i], i < N/2. out must not overlap re or im.
void splitToInterleaved(const float* re, const float* im, float* out, int32_t N);
