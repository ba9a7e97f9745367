#include "engine/dsp/KnotIntegrator.h"

#include <cmath>
#include <vector>

#include "engine/core/Clamp.h"
#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/VoiceFrameKernels.h"

namespace {

// Also turns a NaN width (damaged knots) into the floor.
inline float floorWidth(float w) { return w > KnotIntegrator::kMinWidth ? w : KnotIntegrator::kMinWidth; }

// The segment's mean density, width·c + a, formed without subtracting: next to a much
// narrower neighbour a is huge and width·c almost -a, and their sum would keep only rounding
// noise (F would jump by tens and run backwards at coinciding knots). The virtual segment
// before the first knot is not fitted to its ends: there a = c = 0 and F stays 0.
inline float meanDensity(const KnotIntegrator& k) {
  return k.segment >= 0 ? (k.a + k.b) / (k.d + 2.0f) : k.width * k.c + k.a;
}

// The virtual segment before the first knot: as wide as the first gap and ending at 0, with
// zero density at its start and shape term 0, so F is exactly 0 there.
void beginAtFirstKnot(KnotIntegrator& k, float firstWidth) {
  k.segment = -1;
  k.a = 0.0f;
  k.b = 1.0f / firstWidth;
  k.c = 0.0f;
  k.d = 0.0f;
  k.width = firstWidth;
  k.prevWidth = firstWidth;
  k.nextWidth = firstWidth;
  k.base = 0.0f;
  k.start = -firstWidth;
  k.mean = meanDensity(k);
}

// (u·c + a)·width. Inside the segment it is written as a blend of the start density and the
// mean density, whose terms are both non-negative; past the last knot, where the two densities
// are all but equal, as the start density plus the small change.
inline float linearTerm(const KnotIntegrator& k, float u) {
  const float mean = k.mean;
  return u <= k.width ? k.a * (k.width - u) + mean * u : k.a * k.width + (mean - k.a) * u;
}

// Moves to the segment holding t. The segment index stops at count - 1, so past the last knot
// the last segment goes on; nextWidthAt(j) gives the (floored) width between knots j and j + 1.
template <typename NextWidthAt>
inline void advanceTo(KnotIntegrator& k, float t, NextWidthAt nextWidthAt) {
  while (k.segment < k.count - 1 && t >= k.start + k.width) {
    k.base += k.mean * k.width;  // F at the end of the segment being left
    k.segment += 1;
    k.start += k.width;
    k.prevWidth = k.width;
    k.a = k.b;
    k.width = k.nextWidth;
    const int32_t j = k.segment + 1 < k.count - 2 ? k.segment + 1 : k.count - 2;
    k.nextWidth = nextWidthAt(j);
    const float w = k.width;
    const float nw = k.nextWidth;
    // End density: between 1/w and 1/nw, weighted toward the narrower side.
    k.b = (w * w + nw * nw) / (nw * w * (nw + w));
    // The shape term bends a segment that is wider (d > 0) or narrower (d < 0) than its
    // neighbours, so the density stays smooth across knots; c then fits the slope to both ends.
    const float e = (0.5f / k.prevWidth + 0.5f / nw) * w;
    k.d = (e * e - 1.0f) * 0.2f;
    k.c = (k.b - (k.d + 1.0f) * k.a) / ((k.d + 2.0f) * w);
    k.mean = meanDensity(k);
  }
}

// Position within the current segment. A t behind the segment start (a caller that stepped
// back, or a NaN) is held at the start: F never runs backwards or through the shape's pole.
inline float offsetIn(const KnotIntegrator& k, float t) {
  const float u = t - k.start;
  return u > 0.0f ? u : 0.0f;
}

}  // namespace

void KnotIntegrator::init(const float* knotList, int32_t n) {
  knots = knotList;
  knotsB = nullptr;
  count = n;
  beginAtFirstKnot(*this, n >= 2 ? floorWidth(knotList[1] - knotList[0]) : 1.0f);
}

void KnotIntegrator::initBlend(const float* listA, const float* listB, int32_t n, float m) {
  knots = listA;
  knotsB = listB != nullptr ? listB : listA;
  count = n;
  float w0 = 1.0f;
  if (n >= 2) w0 = floorWidth((1.0f - m) * (listA[1] - listA[0]) + m * (knotsB[1] - knotsB[0]));
  beginAtFirstKnot(*this, w0);
}

float KnotIntegrator::integral(float t) {
  if (count < 2) return 0.0f;
  const float* k = knots;
  advanceTo(*this, t, [k](int32_t j) { return floorWidth(k[j + 1] - k[j]); });
  const float u = offsetIn(*this, t);
  return base + linearTerm(*this, u) * width * u / (u * d * (width - u) + width * width);
}

float KnotIntegrator::integralBlend(float t, float m) {
  if (count < 2) return 0.0f;
  const float* ka = knots;
  const float* kb = knotsB != nullptr ? knotsB : knots;
  // The floor matters here too: where the two lists cross, a blended gap can be 0 or negative.
  advanceTo(*this, t, [ka, kb, m](int32_t j) {
    return floorWidth((ka[j + 1] - ka[j]) * (1.0f - m) + (kb[j + 1] - kb[j]) * m);
  });
  const float u = offsetIn(*this, t);
  float num = linearTerm(*this, u) * width * u;
  if (!(num > 1e-30f)) num = 1e-30f;
  float den = u * d * (width - u) + width * width;
  if (!(den > 0.5f * num)) den = 0.5f * num;
  return base + num / den;
}

void resampleKnotDensity(const float* knots, int32_t n, float* out, int32_t bins, float scale, float t0,
                         float step) {
  if (bins <= 0) return;
  if (n < 2) {
    for (int32_t i = 0; i < bins; ++i) out[i] = 0.0f;
    return;
  }
  if (n <= KnotSegments::kMaxKnots && bins <= VoiceFrameKernels::kMaxDensityBins) {
    voiceFrameKernels().knotDensity(knots, n, out, bins, scale, t0, step);
    return;
  }
  // Long lists or grids: the walk itself.
  KnotIntegrator integrator;
  integrator.init(knots, n);
  float t = t0;
  float f0 = integrator.integral(t);
  for (int32_t i = 0; i < bins; ++i) {
    t += step;
    const float f1 = integrator.integral(t);
    out[i] = (f1 - f0) * scale;
    f0 = f1;
  }
}

float knotsFromDensity(const float* density, int32_t n, float* knots, int32_t m, float share) {
  if (m < 2 || n < 1) return 0.0f;
  if (share == 0.0f) {
    float sum = 0.0f;
    for (int32_t j = 0; j < n; ++j) sum += density[j];
    share = sum / static_cast<float>(m - 1);
  }
  knots[m - 1] = static_cast<float>(n);

  // Within cell j the mass up to position j + x is (left·x + slope·x²) / (1 + shape·x·(1 - x)):
  // it starts with the end density of the cell before (left) and holds the cell's own mass at
  // x = 1, so the density runs on smoothly from cell to cell. A knot is the x at which that
  // mass reaches the target, taken in the form that stays finite when slope and shape vanish.
  int32_t j = -1;
  float cellStart = 0.0f;
  float cellEnd = 0.0f;  // cumulative mass at the end of the current cell
  float left = density[0];
  float slope = 0.0f;
  float shape = 0.0f;
  float prevRight = density[0];
  float prevSlope = 0.0f;
  for (int32_t k = 0; k < m - 1; ++k) {
    const float target = static_cast<float>(k) * share;
    // The first cell is always entered, so even a NaN target (damaged density) has a cell.
    while ((j < 0 || target >= cellEnd) && j < n - 1) {
      ++j;
      cellStart = cellEnd;
      cellEnd = cellStart + density[j];
      left = prevRight;
      slope = prevSlope;
      const float v = density[j];
      const float r = density[j + 1 < n ? j + 1 : n - 1];
      const float s = (density[j + 2 < n ? j + 2 : n - 1] + density[j > 0 ? j - 1 : 0]) * 0.1f;
      const float twiceMin = 2.0f * (v < r ? v : r);
      const float damped = 0.6f * (v + r) - s;
      const float right = twiceMin < damped ? twiceMin : damped;
      prevSlope = r - right;
      prevRight = right;
      shape = (right - left - 2.0f * slope) / (slope + left + 1e-30f);
    }
    const float p = target - cellStart;
    float disc = (((shape + 4.0f) * p - 2.0f * left) * shape + 4.0f * slope) * p + left * left;
    const bool noRoot = disc < 0.0f;
    if (noRoot) disc = 0.0f;
    float knot = static_cast<float>(j) + 2.0f * p / (std::sqrt(disc) + left - p * shape + 1e-30f);
    // Without a real root (or with damaged input) the knot stays inside its cell.
    if (noRoot || !std::isfinite(knot)) {
      const float lo = static_cast<float>(j);
      knot = knot > lo + 1.0f ? lo + 1.0f : (knot > lo ? knot : lo);
    }
    knots[k] = knot;
  }

  // Smoothing against both original neighbours; a knot whose neighbours coincide (an empty
  // stretch of density) has nothing to be smoothed between and is left alone.
  float prevOriginal = knots[0];
  for (int32_t i = 1; i < m - 1; ++i) {
    const float original = knots[i];
    const float span = knots[i + 1] - prevOriginal;
    if (span > 0.0f) {
      const float u = (original - prevOriginal) / span;
      knots[i] = original - 20.78f * u * (u - 0.5f) * (u - 1.0f) * 0.04f * span;
    }
    prevOriginal = original;
  }
  return share;
}

void transposeTable(const float* src, int32_t rows, int32_t cols, float* dst) {
  constexpr int32_t kTile = 8;  // keeps both the rows read and the rows written in cache
  for (int32_t r0 = 0; r0 < rows; r0 += kTile) {
    const int32_t rEnd = r0 + kTile < rows ? r0 + kTile : rows;
    for (int32_t c0 = 0; c0 < cols; c0 += kTile) {
      const int32_t cEnd = c0 + kTile < cols ? c0 + kTile : cols;
      for (int32_t r = r0; r < rEnd; ++r)
        for (int32_t c = c0; c < cEnd; ++c) dst[c * rows + r] = src[r * cols + c];
    }
  }
}

namespace {

// Linear interpolation along a curve of len >= 2 values, the position held inside the curve.
float readCurve(const float* curve, int32_t len, float pos) {
  pos = clamp(pos, 0.0f, static_cast<float>(len) - 1.0001f);
  if (!(pos >= 0.0f)) pos = 0.0f;
  const int32_t i = static_cast<int32_t>(pos);
  const float f = pos - static_cast<float>(i);
  return (1.0f - f) * curve[i] + f * curve[i + 1];
}

}  // namespace

bool intersectKnotGrids(const float* a, const float* b, int32_t rows, int32_t cols, float* y, float* x,
                        int32_t p, int32_t q) {
  if (rows < 2 || cols < 2 || p < 2 || q < 2) {
    for (int32_t i = 0; p > 0 && q > 0 && i < p * q; ++i) y[i] = x[i] = 0.0f;
    return false;
  }
  const size_t cells = static_cast<size_t>(rows) * static_cast<size_t>(cols);

  // Family 1: p knots down each column of a; curve i holds knot i of every column, a row
  // position as a function of the column position.
  std::vector<float> columns(cells);
  transposeTable(a, rows, cols, columns.data());
  std::vector<float> perColumn(static_cast<size_t>(cols) * static_cast<size_t>(p));
  for (int32_t c = 0; c < cols; ++c)
    knotsFromDensity(&columns[static_cast<size_t>(c) * rows], rows, &perColumn[static_cast<size_t>(c) * p], p,
                     0.0f);
  std::vector<float> family1(perColumn.size());
  transposeTable(perColumn.data(), cols, p, family1.data());

  // Family 2: q knots along each row of b; curve j is a column position as a function of the
  // row position.
  std::vector<float> perRow(static_cast<size_t>(rows) * static_cast<size_t>(q));
  for (int32_t r = 0; r < rows; ++r)
    knotsFromDensity(&b[static_cast<size_t>(r) * cols], cols, &perRow[static_cast<size_t>(r) * q], q, 0.0f);
  std::vector<float> family2(perRow.size());
  transposeTable(perRow.data(), rows, q, family2.data());

  // Each crossing by fixed-point iteration, started a little to the right of the previous
  // crossing on the same curve (the curves of family 2 advance by about cols / q).
  const float stepGuess = static_cast<float>(cols) / (static_cast<float>(q) + 0.5f);
  for (int32_t i = 0; i < p; ++i) {
    const float* curve1 = &family1[static_cast<size_t>(i) * cols];
    for (int32_t j = 0; j < q; ++j) {
      const float* curve2 = &family2[static_cast<size_t>(j) * rows];
      const size_t at = static_cast<size_t>(i) * q + j;
      float xv = j == 0 ? 0.0f : x[at - 1] + stepGuess;
      float yv = 0.0f;
      for (int32_t iteration = 0; iteration < 10; ++iteration) {
        yv = readCurve(curve1, cols, xv);
        const float xNext = readCurve(curve2, rows, yv);
        if (std::fabs(xv - xNext) < 0.001f) break;
        xv = xNext;
      }
      y[at] = yv;
      x[at] = xv;
    }
  }
  return true;
}
