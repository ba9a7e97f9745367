#include "engine/blob/Blob.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kSevenSeventeenths = Blob::kSevenSeventeenths;
constexpr float kTimeBaseline = Blob::kTimeDensityBaseline;
constexpr float kFrequencyBaseline = Blob::kFrequencyDensityBaseline;
// A time curve counts as dense where a gap is below 0.99 x the ramp's gap x 17/7.
constexpr float kDenseGap = 5.6295476f;
constexpr float kWarpStart = 25.0f;
constexpr float kWarpGrowth = 1.04f;

std::vector<float> makeRamp(int32_t n, float lo, float hi) {
  std::vector<float> ramp(static_cast<size_t>(n));
  const float step = (hi - lo) / static_cast<float>(n - 1);
  for (int32_t i = 0; i < n; ++i) ramp[static_cast<size_t>(i)] = static_cast<float>(i) * step + lo;
  return ramp;
}

// The clear form of a ramp: the product is formed before the division.
void fillRamp(FloatGrid& grid, float range) {
  const float last = static_cast<float>(grid[0].size() - 1);
  for (auto& curve : grid)
    for (size_t j = 0; j < curve.size(); ++j) curve[j] = static_cast<float>(j) * range / last;
}

void reverseCurves(FloatGrid& grid) {
  const size_t count = grid.size();
  for (size_t i = 0; i < count / 2; ++i) {
    std::vector<float>& a = grid[i];
    std::vector<float>& b = grid[count - 1 - i];
    for (size_t j = 0; j < a.size() && j < b.size(); ++j) std::swap(a[j], b[j]);
  }
}

// Reflects the first m points of a curve about the middle of its first and m-th point.
void reflectPoints(std::vector<float>& p, int64_t requested) {
  const int64_t m = std::min<int64_t>(requested, static_cast<int64_t>(p.size()));
  if (m < 2) return;
  const float s = p[static_cast<size_t>(m - 1)] + p[0];
  for (int64_t i = 1; i <= (m + 1) / 2 - 1; ++i) {
    const size_t lo = static_cast<size_t>(i);
    const size_t hi = static_cast<size_t>(m - 1 - i);
    const float oldLo = p[lo];
    const float oldHi = p[hi];
    p[lo] = s - oldHi;
    p[hi] = s - oldLo;
  }
}

// Spaces the inner points of every curve between minGap and maxGap as far as the fixed end
// points allow: the mean of a forward and a backward pass. Returns the total change.
float smoothGrid(FloatGrid& grid, float range, std::vector<float>& forward, std::vector<float>& backward) {
  if (grid.empty() || grid[0].empty()) return 0.0f;
  const float n0 = static_cast<float>(grid[0].size());
  const float minGap = Blob::minimumGap(static_cast<int32_t>(grid[0].size()));
  const float maxGap = range * 1.15f / n0 / kSevenSeventeenths;
  float change = 0.0f;
  for (auto& p : grid) {
    const size_t n = p.size();
    if (n < 3) continue;
    if (forward.size() < n) forward.resize(n);
    if (backward.size() < n) backward.resize(n);
    float* f = forward.data();
    float* b = backward.data();
    const float last = p[n - 1];
    f[0] = p[0];
    for (size_t i = 1; i + 1 < n; ++i) {
      float c = p[i];
      if (p[i] > f[i - 1] + maxGap) {
        c = f[i - 1] + maxGap;
      } else if (f[i - 1] + minGap > p[i]) {
        c = f[i - 1] + minGap;
      }
      f[i] = std::min(last - static_cast<float>(n - 1 - i) * minGap, c);
    }
    b[n - 1] = last;
    for (size_t i = n - 2; i >= 1; --i) {
      float c = p[i];
      if (p[i] > b[i + 1] - minGap) {
        c = b[i + 1] - minGap;
      } else if (b[i + 1] - maxGap > p[i]) {
        c = b[i + 1] - maxGap;
      }
      b[i] = std::max(static_cast<float>(i) * minGap, c);
      const float next = (f[i] + b[i]) * 0.5f;
      change += std::fabs(p[i] - next);
      p[i] = next;
    }
  }
  return change;
}

// max(1 / width - baseline, 0); a width of 0 or less has no density.
float spanDensity(float width, float baseline) {
  return width > 0.0f ? std::max(1.0f / width - baseline, 0.0f) : 0.0f;
}

}  // namespace

float blobTimeToFrames(float blobTime) {
  if (blobTime < kWarpStart) return blobTime;
  return std::exp(std::log(kWarpGrowth) * blobTime) * (std::pow(kWarpGrowth, -kWarpStart) * kWarpStart);
}

float framesToBlobTime(float frames) {
  if (frames < kWarpStart) return frames;
  return std::log(frames / (std::pow(kWarpGrowth, -kWarpStart) * kWarpStart)) / std::log(kWarpGrowth);
}

float Blob::timeFromSeconds(float seconds) { return framesToBlobTime(seconds * kFramesPerSecond); }

float Blob::secondsFromTime(float normalisedTime) {
  return blobTimeToFrames(normalisedTime * kTimeRange) / kFramesPerSecond;
}

float sampleGridBilinear(const FloatGrid& grid, float curveIndex, float pointIndex) {
  const int32_t curves = static_cast<int32_t>(grid.size());
  if (curves < 2) return 0.0f;
  const int32_t k = truncClamped(curveIndex, 0, curves - 2);
  float v[2];
  for (int32_t side = 0; side < 2; ++side) {
    const std::vector<float>& p = grid[static_cast<size_t>(k + side)];
    const int32_t points = static_cast<int32_t>(p.size());
    if (points < 2) return 0.0f;
    const int32_t j = truncClamped(pointIndex, 0, points - 2);
    const float f = pointIndex - static_cast<float>(j);
    v[side] = (1.0f - f) * p[static_cast<size_t>(j)] + f * p[static_cast<size_t>(j) + 1];
  }
  const float g = curveIndex - static_cast<float>(k);
  return (1.0f - g) * v[0] + g * v[1];
}

Blob::Blob() {
  gridB.assign(kFrequencyCurves, makeRamp(kFrequencyPoints, 0.0f, kFrequencyRange));
  gridA.assign(kTimeCurves, makeRamp(kTimePoints, 0.0f, kTimeRange));
  workForward.assign(kWorkSize, 0.0f);
  workBackward.assign(kWorkSize, 0.0f);
  // Refresh moves no point of a ramp; it only fills the derived fields, which the voices and the
  // hand-over read as soon as the blob exists.
  refresh();
  revision = 0;
}

float Blob::minimumGap(int32_t points) { return (7.5f / static_cast<float>(points)) * kSevenSeventeenths; }

float Blob::clear() {
  fillRamp(gridA, kTimeRange);
  fillRamp(gridB, kFrequencyRange);
  return refresh();
}

void Blob::mirror(int32_t axis) {
  if (axis != 0) {
    reverseCurves(gridA);
    for (auto& curve : gridB) reflectPoints(curve, int64_t{1} << 30);
  } else {
    reverseCurves(gridB);
    const int32_t m = truncClamped(static_cast<float>(activePoints) + 0.999f, 0, 1 << 30);
    for (auto& curve : gridA) reflectPoints(curve, m);
  }
  refresh();
}

float Blob::refresh() {
  float change = smoothGrid(gridA, kTimeRange, workForward, workBackward);
  change += smoothGrid(gridB, kFrequencyRange, workForward, workBackward);

  float tail = 0.0f;
  int32_t active = 0;
  for (size_t a = 0; a < gridA.size(); ++a) {
    const std::vector<float>& p = gridA[a];
    const int32_t n = static_cast<int32_t>(p.size());
    int32_t k = n - 1;
    while (k >= 1 && !(p[k] - p[k - 1] < kDenseGap)) --k;
    if (k >= 1) {
      tail = std::max(tail, p[k] + 1.0f);
      active = std::max(active, k + 1);
    } else {
      k = n;
    }
    float halfLife = 0.0f;
    if (k >= n - 2 && n >= 7) {
      // Dense to the end (or nowhere): how fast the density of the last two spans falls.
      float seconds[2];
      float rate[2];
      for (int32_t i = 0; i < 2; ++i) {
        const float lo = p[n - 3 - 4 * i];
        const float hi = p[n - 1 - 4 * i];
        float mid = (lo + hi) * 0.5f;
        if (mid >= kWarpStart) mid = blobTimeToFrames(mid);
        seconds[i] = mid / kFramesPerSecond;
        rate[i] = std::max(static_cast<float>(i) * 0.001f + 1e-9f, 2.0f / (hi - lo) - kTimeBaseline);
      }
      float ratio = rate[1] / rate[0];
      if (!(ratio >= 1.01f)) ratio = 1.01f;
      halfLife = (seconds[0] - seconds[1]) / std::log2(ratio);
    }
    if (a < decayHalfLife.size()) decayHalfLife[a] = halfLife;
  }
  tailPosition = tail;
  activePoints = active;
  energy = computeEnergy();
  revision += 1;
  return change;
}

float Blob::computeEnergy() const {
  if (gridA.empty() || gridB.empty()) return 0.0f;
  // Frequency loudness of every span between neighbouring time curves, per frequency curve.
  // A fixed table keeps refresh free of allocation.
  const size_t rows = std::min<size_t>(gridB.size(), kFrequencyCurves);
  const size_t columns = std::min<size_t>(gridA.size(), kTimeCurves);
  std::array<float, kFrequencyCurves * kTimeCurves> table{};
  const int32_t lastB = static_cast<int32_t>(gridB[0].size()) - 1;
  for (size_t b = 0; b < rows; ++b) {
    const std::vector<float>& p = gridB[b];
    for (int32_t j = 1; j < lastB && j + 1 < static_cast<int32_t>(p.size()); ++j) {
      const float w = (p[j + 1] - p[j - 1]) * 0.5f;
      const float d = spanDensity(w, kFrequencyBaseline);
      const float u = 0.63f - p[j] / kFrequencyRange;
      const float tilt = u * u * 8.0f + 1.0f;
      const float v = d * d * d * d * w / (tilt * tilt);
      const float pos = (static_cast<float>(j) - 0.5f) * 0.125f;
      const size_t col = static_cast<size_t>(pos);
      const float fr = pos - static_cast<float>(col);
      if (col + 1 >= columns) continue;
      table[b * columns + col] += (1.0f - fr) * v;
      table[b * columns + col + 1] += fr * v;
    }
  }
  float total = 0.0f;
  const int32_t lastA = static_cast<int32_t>(gridA[0].size()) - 1;
  for (size_t a = 0; a < columns; ++a) {
    const std::vector<float>& p = gridA[a];
    float sum = 0.0f;
    for (int32_t j = 1; j < lastA && j + 1 < static_cast<int32_t>(p.size()); ++j) {
      const float pos = (static_cast<float>(j) - 0.5f) * 0.125f;
      const size_t row = static_cast<size_t>(pos);
      const float fr = pos - static_cast<float>(row);
      if (row + 1 >= rows) continue;
      const float w = (p[j + 1] - p[j - 1]) * 0.5f;
      const float d = spanDensity(w, kTimeBaseline);
      sum += ((1.0f - fr) * table[row * columns + a] + fr * table[(row + 1) * columns + a]) * d * d * d * d * w;
    }
    total += std::sqrt(sum);
  }
  return total;
}
