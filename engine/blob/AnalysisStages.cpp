#include "engine/blob/AnalysisStages.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// 7/17 as the float32 the stored sounds were made with (one step below 7.f / 17.f).
constexpr float kSevenSeventeenths = 0.41176468f;
constexpr int32_t kMaxDecomposeRounds = 20;

size_t columnCount(const FloatGrid& grid) { return grid.empty() ? 0 : grid[0].size(); }

void resizeLike(FloatGrid& grid, const FloatGrid& shape) {
  grid.resize(shape.size());
  for (size_t r = 0; r < shape.size(); ++r) grid[r].resize(shape[r].size());
}

}  // namespace

void smoothTwoWay(const std::vector<float>& x, std::vector<float>& y, float pole, int32_t passes) {
  const size_t n = x.size();
  const float start = n > 0 ? x[0] : 0.0f;
  y.resize(n);
  if (n == 0) return;
  const float k = 1.0f - pole;
  for (int32_t pass = 0; pass < passes; ++pass) {
    const std::vector<float>& src = pass == 0 ? x : y;
    float s = start;
    for (size_t i = 0; i < n; ++i) {
      s = s + (src[i] - s) * k;
      y[i] = s;
    }
    for (size_t i = n - 1; i-- > 0;) {
      s = s + (y[i] - s) * k;
      y[i] = s;
    }
  }
}

void spectralFloorGate(std::vector<float>& powers, float* complexBins) {
  std::vector<float> fast;
  std::vector<float> slow;
  smoothTwoWay(powers, fast, 0.73f, 1);
  smoothTwoWay(powers, slow, 0.95f, 1);
  for (size_t i = 0; i < powers.size(); ++i) {
    const float p = powers[i];
    const float floor = fast[i] * 0.002f + slow[i] * 5e-8f;
    const float d = std::max(p - floor, 0.0f);
    const float den = p * p + 1e-35f;
    // Above ~1.8e19 the square overflows; the ratio then no longer needs the tiny offset.
    const float g = std::isfinite(den) ? d * d / den : (d / p) * (d / p);
    powers[i] = g * g * p;
    if (complexBins != nullptr) {
      complexBins[2 * i] *= g;
      complexBins[2 * i + 1] *= g;
    }
  }
}

float gridMean(const FloatGrid& grid) {
  const size_t columns = columnCount(grid);
  if (columns == 0) return 0.0f;
  float sum = 0.0f;
  for (const auto& row : grid)
    for (float v : row) sum += v;
  return sum / (static_cast<float>(columns) * static_cast<float>(grid.size()));
}

std::vector<float>& gridSums(std::vector<float>& out, const FloatGrid& grid, int32_t axis) {
  if (axis == 0) {
    const size_t columns = columnCount(grid);
    out.assign(columns, 0.0f);
    for (const auto& row : grid)
      for (size_t c = 0; c < columns && c < row.size(); ++c) out[c] += row[c];
  } else {
    out.assign(grid.size(), 0.0f);
    for (size_t r = 0; r < grid.size(); ++r)
      for (float v : grid[r]) out[r] += v;
  }
  return out;
}

void scaleGrid(FloatGrid& grid, float factor) {
  for (auto& row : grid)
    for (float& v : row) v *= factor;
}

void solveAlongAxis(const FloatGrid& v, const FloatGrid& w, FloatGrid& out, int32_t axis) {
  resizeLike(out, v);
  FloatGrid work = w;
  const size_t rows = v.size();
  const size_t columns = columnCount(v);
  if (rows == 0 || columns == 0 || work.size() < rows) return;
  for (const auto& row : work)
    if (row.size() < columns) return;
  if (axis != 0) {
    for (size_t r = 0; r < rows; ++r) {
      std::vector<float>& x = out[r];
      std::vector<float>& d = work[r];
      x[0] = v[r][0];
      for (size_t c = 1; c < columns; ++c) {
        const float q = 1.0f / (d[c - 1] + 1.0f);
        x[c] = q * x[c - 1] + v[r][c];
        d[c] = q * d[c - 1] + d[c];
      }
      x[columns - 1] = x[columns - 1] / (d[columns - 1] + 1e-30f);
      for (size_t c = columns - 1; c-- > 0;) x[c] = (x[c + 1] + x[c]) / (d[c] + 1.0f);
    }
  } else {
    for (size_t c = 0; c < columns; ++c) out[0][c] = v[0][c];
    for (size_t r = 1; r < rows; ++r) {
      for (size_t c = 0; c < columns; ++c) {
        const float q = 1.0f / (work[r - 1][c] + 1.0f);
        out[r][c] = q * out[r - 1][c] + v[r][c];
        work[r][c] = q * work[r - 1][c] + work[r][c];
      }
    }
    for (size_t c = 0; c < columns; ++c) out[rows - 1][c] /= (work[rows - 1][c] + 1e-30f);
    for (size_t r = rows - 1; r-- > 0;) {
      for (size_t c = 0; c < columns; ++c)
        out[r][c] = (out[r + 1][c] + out[r][c]) / (work[r][c] + 1.0f);
    }
  }
}

float decomposePicture(FloatGrid& picture, FloatGrid& p1, FloatGrid& p2, float smoothness,
                       int32_t* rounds) {
  const size_t rows = picture.size();
  const size_t columns = columnCount(picture);
  if (rounds != nullptr) *rounds = 0;
  for (FloatGrid* p : {&p1, &p2}) {
    if (p->size() != rows) p->assign(rows, std::vector<float>(columns, 0.0f));
    for (auto& row : *p) row.resize(columns);
  }
  std::vector<float> colSum;
  std::vector<float> rowSum;
  gridSums(colSum, picture, 0);
  gridSums(rowSum, picture, 1);
  float total = 0.0f;
  for (float s : colSum) total += s;
  if (!(total > 0.0f) || !std::isfinite(total)) {
    // Nothing to factorise: an empty or silent picture has no shape to follow.
    for (FloatGrid* p : {&p1, &p2})
      for (auto& row : *p) std::fill(row.begin(), row.end(), 0.0f);
    return 0.0f;
  }
  float start = 1.0f / std::sqrt(total);
  const float lambda = smoothness;
  float scale = 1.0f;
  if (lambda > 0.0f) {
    // Working at a mean of lambda makes the smoothness weight independent of the level.
    scale = static_cast<float>(rows) * lambda * static_cast<float>(columns) / total;
    scaleGrid(picture, scale);
    start *= scale;
  }
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < columns; ++c) {
      p1[r][c] = start * rowSum[r];
      p2[r][c] = start * colSum[c];
    }
  }

  std::array<float, kMaxDecomposeRounds> history{};
  std::vector<float> sums;
  float cost = 0.0f;
  for (int32_t i = 0; i < kMaxDecomposeRounds; ++i) {
    solveAlongAxis(picture, p2, p1, 1);
    gridSums(sums, p1, 0);
    float mean = 0.0f;
    for (float s : sums) mean += s;
    mean /= static_cast<float>(columns);
    for (auto& row : p1) {
      for (size_t c = 0; c < columns; ++c) {
        const float den = sums[c] * 1.1f;
        if (den != 0.0f) row[c] *= (sums[c] * 0.1f + mean) / den;
      }
    }

    solveAlongAxis(picture, p1, p2, 0);
    gridSums(sums, p2, 1);
    float mean2 = 0.0f;
    for (float s : sums) mean2 += s;
    mean2 /= static_cast<float>(rows);
    for (size_t r = 0; r < rows; ++r) {
      const float den = sums[r] * 1.1f;
      if (den == 0.0f) continue;
      const float factor = (sums[r] * 0.1f + mean2) / den;
      for (float& x : p2[r]) x *= factor;
    }

    float error = 0.0f;
    float rough1 = 0.0f;
    float rough2 = 0.0f;
    for (size_t r = 0; r < rows; ++r) {
      for (size_t c = 0; c < columns; ++c) {
        const float e = picture[r][c] - p1[r][c] * p2[r][c];
        error += e * e;
        if (r >= 1) {
          const float d = p1[r][c] - p1[r - 1][c];
          rough1 += d * d;
        }
        if (c >= 1) {
          const float d = p2[r][c] - p2[r][c - 1];
          rough2 += d * d;
        }
      }
    }
    rough1 *= lambda;
    rough2 *= lambda;

    // Share the smoothness cost evenly between the factors; the product is unchanged.
    const float k = std::sqrt((rough2 + 1e-30f) / (rough1 + 1e-30f));
    const float rootK = std::sqrt(k);
    scaleGrid(p1, rootK);
    scaleGrid(p2, 1.0f / rootK);

    cost = k * rough1 + error + rough2 / k;
    history[static_cast<size_t>(i)] = cost;
    if (rounds != nullptr) *rounds = i + 1;
    if (i > 3 && cost > 0.9999f * history[static_cast<size_t>(i - 2)]) break;
  }

  if (lambda > 0.0f) {
    const float inverse = 1.0f / scale;
    scaleGrid(picture, inverse);
    const float rootInverse = std::sqrt(inverse);
    scaleGrid(p1, rootInverse);
    scaleGrid(p2, rootInverse);
  }
  return cost;
}

std::vector<float>& fitKnots(std::vector<float>& knots, const std::vector<float>& values,
                             const std::vector<float>& weights, int32_t spacing, float smoothing) {
  const int32_t n = static_cast<int32_t>(std::min(values.size(), weights.size()));
  if (spacing < 1 || n < 1) {
    knots.clear();
    return knots;
  }
  const int32_t count = (n - 1 + spacing) / spacing;
  const float s = static_cast<float>(spacing);
  std::vector<float> initial(static_cast<size_t>(count), 0.0f);
  for (int32_t j = 0; j < count; ++j) {
    float sum = 0.0f;
    float weightSum = 0.0f;
    const int32_t first = std::max((j - 1) * spacing + 1, 0);
    const int32_t end = std::min((j + 1) * spacing, n);
    for (int32_t i = first; i < end; ++i) {
      const float h = (1.0f - std::fabs(static_cast<float>(j) - static_cast<float>(i) / s)) * weights[i];
      sum += h * values[i];
      weightSum += h;
    }
    initial[j] = sum / (1e-30f + weightSum);
  }
  knots = initial;
  if (count < 2) return knots;

  // Normal equations of the piecewise-linear correction: a tridiagonal system.
  std::vector<float> diag(static_cast<size_t>(count), 1e-30f);
  std::vector<float> off(static_cast<size_t>(count - 1), 0.0f);
  std::vector<float> rhs(static_cast<size_t>(count), 0.0f);
  for (int32_t i = 0; i < n; ++i) {
    const float pos = static_cast<float>(i) / s;
    const int32_t j = std::min(static_cast<int32_t>(pos), count - 2);
    const float f = pos - static_cast<float>(j);
    const float residual = values[i] - (initial[j] + (initial[j + 1] - initial[j]) * f);
    const float w = weights[i];
    diag[j] += (1.0f - f) * (1.0f - f) * w;
    diag[j + 1] += f * f * w;
    off[j] += (1.0f - f) * f * w;
    rhs[j] += (1.0f - f) * w * residual;
    rhs[j + 1] += f * w * residual;
  }
  for (float& d : diag) d *= 1.0f + smoothing;
  for (int32_t j = 1; j < count; ++j) {
    diag[j] -= off[j - 1] * off[j - 1] / diag[j - 1];
    rhs[j] -= rhs[j - 1] * off[j - 1] / diag[j - 1];
  }
  knots[count - 1] = rhs[count - 1] / diag[count - 1];
  for (int32_t j = count - 2; j >= 0; --j) knots[j] = (rhs[j] - off[j] * knots[j + 1]) / diag[j];
  for (int32_t j = 0; j < count; ++j) knots[j] += initial[j];
  return knots;
}

void monotoneSpacing(std::vector<float>& points, float gap) {
  const size_t n = points.size();
  if (n == 0) return;
  std::vector<float> rising = points;
  for (size_t i = 1; i < n; ++i) rising[i] = std::max(rising[i - 1] + gap, points[i]);
  float b = points[n - 1];
  for (size_t i = n - 1; i-- > 0;) {
    b = std::min(b - gap, points[i]);
    points[i] = (b + rising[i]) * 0.5f;
  }
}

FloatGrid& curveDensity(FloatGrid& out, const FloatGrid& curves, float length) {
  resizeLike(out, curves);
  if (curves.empty()) return out;
  float lastSum = 0.0f;
  for (const auto& p : curves) lastSum += p.empty() ? 0.0f : p.back();
  const float meanLast = lastSum / static_cast<float>(curves.size());
  const float n = static_cast<float>(curves[0].size());
  const float baseline = (n - 1.0f) * kSevenSeventeenths / meanLast;
  for (size_t k = 0; k < curves.size(); ++k) {
    const std::vector<float>& p = curves[k];
    std::vector<float>& d = out[k];
    const size_t points = p.size();
    for (size_t i = 0; i < points; ++i) {
      const size_t lo = i > 0 ? i - 1 : 0;
      const size_t hi = std::min(i + 1, points - 1);
      const float width = std::max(p[hi] - p[lo], 1e-9f);
      d[i] = std::max(static_cast<float>(hi - lo) / width - baseline, 0.0f);
    }
    if (length > 0.0f && points > 1) {
      for (int32_t round = 0; round < 2; ++round) {
        for (size_t i = 1; i < points; ++i)
          d[i] += std::max(1.0f - (p[i] - p[i - 1]) / length, 0.0f) * (d[i - 1] - d[i]);
        for (size_t i = points - 1; i-- > 0;)
          d[i] += std::max(1.0f - (p[i + 1] - p[i]) / length, 0.0f) * (d[i + 1] - d[i]);
      }
    }
  }
  return out;
}

float kernelSampleColumn(const FloatGrid& grid, float row, int32_t column) {
  const int32_t rows = static_cast<int32_t>(grid.size());
  const int32_t centre = truncClamped(row + 0.5f, -2, rows + 1);
  const int32_t first = std::max(centre - 1, 0);
  const int32_t end = std::min(rows, centre + 2);
  float sum = 0.0f;
  float weightSum = 0.0f;
  for (int32_t r = first; r < end; ++r) {
    if (column < 0 || static_cast<size_t>(column) >= grid[r].size()) continue;
    const float d = static_cast<float>(r) - row;
    const float base = 1.0f - d * d * 0.44444f;
    const float weight = base * base * base;
    sum += weight * grid[r][column];
    weightSum += weight;
  }
  return sum / (1e-30f + weightSum);
}
