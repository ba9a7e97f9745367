// What the editor draws of a blob: the mesh as a picture of node positions and densities, and
// the amplitude envelope of a slot pair at the track's morph.
#include "engine/blob/Blob.h"

#include <algorithm>
#include <cmath>

#include "engine/blob/AnalysisStages.h"
#include "engine/dsp/ContrastCurve.h"
#include "engine/dsp/BandScale.h"
#include "engine/dsp/KnotIntegrator.h"

namespace {

constexpr float kFrequencyBaseline = Blob::kFrequencyDensityBaseline;
// Rows a ramp advances per time unit, times 7/17 (41 x 7/17): what the waveform subtracts per
// output point, spread over the whole axis.
constexpr float kRowBaseline = 16.882353f;
constexpr float kWaveformSpan = 95.0f;
constexpr float kLowWeightHz2 = 19600.0f;  // 140 Hz squared: below it a band weighs fully
constexpr float kEdgeLow = -0.001f;
constexpr float kEdgeHigh = 1.001f;

void fitRows(FloatGrid& grid, size_t rows, size_t columns) {
  if (grid.size() != rows) grid.assign(rows, std::vector<float>(columns, 0.0f));
  for (auto& row : grid) row.resize(columns);
}

// Damps both ends of every row's energy distribution; the first entry of each row goes to 0.
// Returns the total of the map before the fade.
float fadeRows(FloatGrid& map) {
  const size_t rows = map.size();
  std::vector<float> rowSums;
  gridSums(rowSums, map, 1);
  float total = 0.0f;
  for (float s : rowSums) total += s;
  const float columns = map.empty() ? 1.0f : static_cast<float>(map[0].size());
  for (size_t r = 0; r < rows; ++r) {
    const float sum = rowSums[r];
    const float m = 0.1f * sum + 0.05f * total / columns;
    float before = 0.0f;
    for (float& x : map[r]) {
      const float original = x;
      const float after = sum - before;
      x = x * (after * before + 1e-30f) / ((after + m) * (m + before) + 1e-30f);
      before += original;
    }
  }
  return total;
}

// The same down every column, against the column sums left by the row fade. The offset in the
// divisor keeps an all-zero map (a plain blob at full contrast) at 0 instead of 0 / 0.
void fadeColumns(FloatGrid& map, float total) {
  const size_t rows = map.size();
  std::vector<float> columnSums;
  gridSums(columnSums, map, 0);
  const float u = 0.03f * total / static_cast<float>(rows) + 1e-30f;
  for (size_t c = 0; c < columnSums.size(); ++c) {
    const float sum = columnSums[c];
    const float m = 0.1f * sum + u;
    float before = 0.0f;
    for (size_t r = 0; r < rows; ++r) {
      float& x = map[r][c];
      const float original = x;
      const float after = sum - before;
      x = x * (after * before) / ((0.3f * m + after) * (m + before) + 1e-30f);
      before += original;
    }
  }
}

// Point j of curve k of the pair mixed by morph.
float mixed(const Blob& a, const Blob& b, float morph, const FloatGrid Blob::*grid, size_t k, size_t j) {
  return (1.0f - morph) * (a.*grid)[k][j] + morph * (b.*grid)[k][j];
}

}  // namespace

void Blob::getGridSizes(int32_t& rows, int32_t& columns) {
  rows = kMeshRows;
  columns = kMeshColumns;
}

void Blob::renderMap(FloatGrid& positions, FloatGrid& densities, float contrast, bool fadeEdges) const {
  FloatGrid timeDensity;
  FloatGrid frequencyDensity;
  curveDensity(timeDensity, gridA, 1.0f);
  curveDensity(frequencyDensity, gridB, 1.0f);
  fitRows(positions, kMeshRows, 2 * kMeshColumns);
  fitRows(densities, kMeshRows, kMeshColumns);

  const float toCurve = 1.0f / static_cast<float>(kCurveSpacing);
  for (int32_t r = 0; r < kMeshRows; ++r) {
    std::vector<float>& position = positions[r];
    std::vector<float>& density = densities[r];
    for (int32_t c = 0; c < kMeshColumns; ++c) {
      const float timeCurve = static_cast<float>(c) * toCurve;
      const float frequencyCurve = static_cast<float>(r) * toCurve;
      const float t = kernelSampleColumn(gridA, timeCurve, r);
      const float f = kernelSampleColumn(gridB, frequencyCurve, c);
      position[2 * c] = t * 0.010416667f;
      position[2 * c + 1] = f * 0.0125f;
      density[c] = kernelSampleColumn(timeDensity, timeCurve, r) *
                       kernelSampleColumn(frequencyDensity, frequencyCurve, c) +
                   1e-30f;
    }
    applyContrast(density.data(), kMeshColumns, contrast);
  }

  // The mesh edges lie just outside the unit square, so the shader's border is never drawn
  // over a node.
  for (int32_t r = 0; r < kMeshRows; ++r) {
    positions[r][1] = kEdgeLow;
    positions[r][2 * (kMeshColumns - 1) + 1] = kEdgeHigh;
  }
  for (int32_t c = 0; c < kMeshColumns; ++c) {
    positions[0][2 * c] = kEdgeLow;
    positions[kMeshRows - 1][2 * c] = kEdgeHigh;
  }

  if (fadeEdges) {
    const float total = fadeRows(densities);
    fadeColumns(densities, total);
  }
}

void Blob::renderWaveform(const Blob* a, const Blob* b, float morph, std::vector<float>& out) {
  const size_t n = out.size();
  if (n == 0 || a == nullptr) return;
  if (b == nullptr) b = a;
  const float x = morph;

  // Mean time of every mesh row over the time curves: where the sound is at each row.
  std::vector<float> rowTimes(kMeshRows, 0.0f);
  for (size_t i = 0; i < kMeshRows; ++i) {
    float sum = 0.0f;
    for (size_t k = 0; k < kTimeCurves; ++k) sum += mixed(*a, *b, x, &Blob::gridA, k, i);
    rowTimes[i] = sum / static_cast<float>(kTimeCurves);
  }

  // Loudness of every frequency curve, low bands weighing most.
  float loudness[kFrequencyCurves];
  for (size_t m = 0; m < kFrequencyCurves; ++m) {
    float sum = 0.0f;
    for (size_t j = 1; j + 1 < kFrequencyPoints; ++j) {
      const float next = mixed(*a, *b, x, &Blob::gridB, m, j + 1);
      const float prev = mixed(*a, *b, x, &Blob::gridB, m, j - 1);
      const float here = mixed(*a, *b, x, &Blob::gridB, m, j);
      const float s = std::max(next - prev, 0.001f) * 0.5f;
      const float d = std::max(1.0f / s - kFrequencyBaseline, 0.0f);
      const float hz = bandPositionToHz(std::min(std::max(here, 0.0f), 78.999f));
      const float w = kLowWeightHz2 / (hz * hz + kLowWeightHz2) + 0.01f;
      sum += w * std::max(d * d * d * d * s, 0.0f);
    }
    loudness[m] = std::sqrt(std::sqrt(std::max(sum, 0.0f)));
  }

  // Rows passed per output point: faster than a ramp is loud.
  KnotIntegrator rows;
  rows.init(rowTimes.data(), kMeshRows);
  const float count = static_cast<float>(n);
  const float baseline = kRowBaseline / count;
  float previous = 0.0f;
  for (size_t i = 1; i <= n; ++i) {
    const float tau = static_cast<float>(i) * kWaveformSpan / count;
    const float rho = rows.integral(tau);
    const float mid = std::min(std::max((rho / 8.0f + previous / 8.0f) / 2.0f, 0.0f), 4.999f);
    const int32_t m = truncClamped(mid, 0, kFrequencyCurves - 2);
    const float frac = mid - static_cast<float>(m);
    const float rate = std::max(rho - previous - baseline, 0.0f);
    const float v = ((1.0f - frac) * loudness[m] + frac * loudness[m + 1]) * rate;
    out[i - 1] = v * v;
    previous = rho;
  }

  float sumSquares = 0.0f;
  float peak = 0.0f;
  for (float v : out) {
    sumSquares += v * v;
    peak = std::max(peak, v);
  }
  const float rms = std::sqrt(sumSquares / count);
  const float divisor = std::max(2.0f * rms, peak);
  // An all-zero envelope has nothing to normalise and stays zero.
  if (divisor > 0.0f)
    for (float& v : out) v /= divisor;
}
