#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/AnalysisStages.h"

namespace {

// The two-way smoother in closed form: the forward pass is a geometric sum over the input plus
// the decayed start value; the backward pass the same over the forward output.
std::vector<double> referenceSmooth(const std::vector<float>& x, double a) {
  const size_t n = x.size();
  std::vector<double> forward(n);
  for (size_t i = 0; i < n; ++i) {
    double v = std::pow(a, i + 1) * x[0];
    for (size_t j = 0; j <= i; ++j) v += (1 - a) * std::pow(a, i - j) * x[j];
    forward[i] = v;
  }
  std::vector<double> y(n);
  y[n - 1] = forward[n - 1];
  for (size_t i = 0; i + 1 < n; ++i) {
    double v = std::pow(a, n - 1 - i) * forward[n - 1];
    for (size_t j = i; j + 1 < n; ++j) v += (1 - a) * std::pow(a, j - i) * forward[j];
    y[i] = v;
  }
  return y;
}

// A positive, smooth rank-1 picture: a decaying envelope over rows times a spectral bump.
FloatGrid rankOnePicture(size_t rows, size_t columns) {
  FloatGrid v(rows, std::vector<float>(columns));
  for (size_t r = 0; r < rows; ++r)
    for (size_t c = 0; c < columns; ++c)
      v[r][c] = static_cast<float>((0.2 + std::exp(-0.05 * r)) * (0.3 + std::exp(-0.002 * (c - 25.0) * (c - 25.0))));
  return v;
}

}  // namespace

TEST(BlobAnalysisStages, SmoothTwoWay) {
  std::vector<float> y;
  smoothTwoWay(std::vector<float>(40, 2.5f), y, 0.9f, 3);
  ASSERT_EQ(y.size(), 40u);
  for (float v : y) EXPECT_NEAR(v, 2.5f, 1e-5);

  blob_test::Noise noise;
  std::vector<float> x(60);
  for (float& v : x) v = 1.0f + noise.next();
  for (float pole : {0.73f, 0.95f}) {
    smoothTwoWay(x, y, pole, 1);
    const std::vector<double> ref = referenceSmooth(x, pole);
    for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(y[i], ref[i], 1e-5) << pole << " " << i;
  }
  // In place works the same.
  std::vector<float> same = x;
  smoothTwoWay(same, same, 0.73f, 1);
  smoothTwoWay(x, y, 0.73f, 1);
  EXPECT_EQ(same, y);

  std::vector<float> untouched = {7, 8};
  smoothTwoWay(x, untouched, 0.5f, 0);
  EXPECT_EQ(untouched.size(), x.size());
  smoothTwoWay({}, untouched, 0.5f, 1);
  EXPECT_TRUE(untouched.empty());
}

TEST(BlobAnalysisStages, SpectralFloorGate) {
  std::vector<float> powers(129, 0.0f);
  powers[40] = 1.0f;  // an isolated peak over silence
  std::vector<float> bins(258, 0.0f);
  bins[80] = 0.6f;
  bins[81] = 0.8f;
  spectralFloorGate(powers, bins.data());
  for (size_t i = 0; i < powers.size(); ++i) {
    if (i == 40) continue;
    EXPECT_EQ(powers[i], 0.0f);
  }
  EXPECT_NEAR(powers[40], 1.0f, 0.01f);
  EXPECT_NEAR(bins[80], 0.6f, 0.005f);
  EXPECT_NEAR(bins[81], 0.8f, 0.005f);

  // A value far below its smoothed neighbourhood is removed with its bin.
  std::vector<float> loud(129, 1000.0f);
  loud[60] = 0.1f;
  std::vector<float> loudBins(258, 1.0f);
  spectralFloorGate(loud, loudBins.data());
  EXPECT_EQ(loud[60], 0.0f);
  EXPECT_EQ(loudBins[120], 0.0f);
  EXPECT_EQ(loudBins[121], 0.0f);
  // The flat loud part keeps nearly its level: the floor lies 500 times lower.
  const double floor = 1000.0 * 0.002 + 1000.0 * 5e-8;
  const double gain = std::pow((1000.0 - floor) / 1000.0, 2);
  EXPECT_NEAR(loud[10], gain * gain * 1000.0, 0.5);
  EXPECT_NEAR(loudBins[20], gain, 1e-3);

  // Huge powers (whose squares overflow) give gains, not NaN.
  std::vector<float> huge(16, 1e25f);
  spectralFloorGate(huge);
  for (float v : huge) EXPECT_TRUE(std::isfinite(v));
}

TEST(BlobAnalysisStages, GridHelpers) {
  FloatGrid grid = {{1, 2, 3}, {4, 5, 6}};
  EXPECT_FLOAT_EQ(gridMean(grid), 3.5f);
  std::vector<float> sums;
  EXPECT_EQ(gridSums(sums, grid, 0), (std::vector<float>{5, 7, 9}));
  EXPECT_EQ(gridSums(sums, grid, 1), (std::vector<float>{6, 15}));
  scaleGrid(grid, 2.0f);
  EXPECT_EQ(grid, (FloatGrid{{2, 4, 6}, {8, 10, 12}}));
  EXPECT_EQ(gridMean(FloatGrid{}), 0.0f);
}

TEST(BlobAnalysisStages, SolveAlongAxisSatisfiesTheChainSystem) {
  blob_test::Noise noise;
  const size_t rows = 9;
  const size_t columns = 13;
  FloatGrid v(rows, std::vector<float>(columns));
  FloatGrid w(rows, std::vector<float>(columns));
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < columns; ++c) {
      v[r][c] = 2.0f + noise.next();
      w[r][c] = 0.5f + 0.4f * noise.next();
    }
  }
  const FloatGrid wBefore = w;
  for (int32_t axis : {0, 1}) {
    FloatGrid x;
    solveAlongAxis(v, w, x, axis);
    EXPECT_EQ(w, wBefore);  // the weights are only read
    ASSERT_EQ(x.size(), rows);
    // W x + sum over neighbours (x - neighbour) = V, checked in double.
    for (size_t r = 0; r < rows; ++r) {
      for (size_t c = 0; c < columns; ++c) {
        double lhs = static_cast<double>(w[r][c]) * x[r][c];
        if (axis != 0) {
          if (c > 0) lhs += x[r][c] - x[r][c - 1];
          if (c + 1 < columns) lhs += x[r][c] - x[r][c + 1];
        } else {
          if (r > 0) lhs += x[r][c] - x[r - 1][c];
          if (r + 1 < rows) lhs += x[r][c] - x[r + 1][c];
        }
        EXPECT_NEAR(lhs, v[r][c], 1e-4) << axis << " " << r << " " << c;
      }
    }
  }
}

TEST(BlobAnalysisStages, DecomposeRankOnePicture) {
  FloatGrid picture = rankOnePicture(96, 80);
  const FloatGrid original = picture;
  FloatGrid p1;
  FloatGrid p2;
  int32_t rounds = 0;
  const float cost = decomposePicture(picture, p1, p2, 0.005f, &rounds);
  EXPECT_TRUE(std::isfinite(cost));
  EXPECT_GE(rounds, 5);
  EXPECT_LE(rounds, 20);
  ASSERT_EQ(p1.size(), 96u);
  ASSERT_EQ(p2.size(), 96u);
  double worst = 0;
  for (size_t r = 0; r < 96; ++r) {
    for (size_t c = 0; c < 80; ++c) {
      EXPECT_NEAR(picture[r][c], original[r][c], original[r][c] * 1e-6);
      const double product = static_cast<double>(p1[r][c]) * p2[r][c];
      worst = std::fmax(worst, std::fabs(product - original[r][c]) / original[r][c]);
    }
  }
  EXPECT_LT(worst, 0.05);

  // Without smoothness the picture is used as it stands and nothing is rescaled.
  FloatGrid raw = rankOnePicture(20, 16);
  const FloatGrid rawOriginal = raw;
  decomposePicture(raw, p1, p2, 0.0f, &rounds);
  EXPECT_EQ(raw, rawOriginal);
  EXPECT_GE(rounds, 5);

  // A silent picture has nothing to factorise.
  FloatGrid silent(8, std::vector<float>(6, 0.0f));
  EXPECT_EQ(decomposePicture(silent, p1, p2, 0.005f, &rounds), 0.0f);
  ASSERT_EQ(p1.size(), 8u);
  for (const auto& row : p1)
    for (float v : row) EXPECT_EQ(v, 0.0f);
}

// fitKnots in dense form: the knots are the tent-weighted first guess plus the correction that
// solves the weighted least-squares normal equations of the broken line through the knots (its
// last segment extended over any values past the last knot), with their diagonal raised by
// (1 + smoothing). Solved here by Gaussian elimination in double.
static std::vector<double> referenceKnots(const std::vector<float>& y, const std::vector<float>& w, int32_t s,
                                   double smoothing) {
  const int32_t n = static_cast<int32_t>(y.size());
  const int32_t count = (n - 1 + s) / s;
  auto hat = [&](int32_t i, int32_t j) { return std::fmax(0.0, 1.0 - std::fabs(static_cast<double>(i) / s - j)); };
  std::vector<double> guess(static_cast<size_t>(count));
  for (int32_t j = 0; j < count; ++j) {
    double sum = 0;
    double weight = 0;
    for (int32_t i = 0; i < n; ++i) {
      sum += hat(i, j) * w[i] * y[i];
      weight += hat(i, j) * w[i];
    }
    guess[j] = sum / weight;
  }
  auto basis = [&](int32_t i, int32_t j) {
    const double pos = static_cast<double>(i) / s;
    const int32_t cell = std::min(static_cast<int32_t>(pos), count - 2);
    const double f = pos - cell;
    return j == cell ? 1 - f : (j == cell + 1 ? f : 0.0);
  };
  std::vector<double> a(static_cast<size_t>(count * count), 0.0);
  std::vector<double> b(static_cast<size_t>(count), 0.0);
  for (int32_t i = 0; i < n; ++i) {
    double fit = 0;
    for (int32_t j = 0; j < count; ++j) fit += basis(i, j) * guess[j];
    for (int32_t j = 0; j < count; ++j) {
      b[j] += w[i] * basis(i, j) * (y[i] - fit);
      for (int32_t k = 0; k < count; ++k) a[j * count + k] += w[i] * basis(i, j) * basis(i, k);
    }
  }
  for (int32_t j = 0; j < count; ++j) a[j * count + j] *= 1 + smoothing;
  for (int32_t p = 0; p < count; ++p) {
    for (int32_t r = p + 1; r < count; ++r) {
      const double f = a[r * count + p] / a[p * count + p];
      for (int32_t c = p; c < count; ++c) a[r * count + c] -= f * a[p * count + c];
      b[r] -= f * b[p];
    }
  }
  std::vector<double> knots(static_cast<size_t>(count));
  for (int32_t p = count - 1; p >= 0; --p) {
    double v = b[p];
    for (int32_t c = p + 1; c < count; ++c) v -= a[p * count + c] * (knots[c] - guess[c]);
    knots[p] = guess[p] + v / a[p * count + p];
  }
  return knots;
}

TEST(BlobAnalysisStages, FitKnotsOnStraightLines) {
  for (int32_t n : {49, 41}) {
    const std::vector<float> weights(static_cast<size_t>(n), 1.0f);
    std::vector<float> line(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) line[i] = 3.0f + 0.75f * i;
    std::vector<float> knots;
    // Without smoothing the least-squares correction puts the knots on the line.
    fitKnots(knots, line, weights, 8, 0.0f);
    ASSERT_EQ(knots.size(), static_cast<size_t>((n - 1 + 8) / 8));
    for (size_t j = 0; j < knots.size(); ++j) EXPECT_NEAR(knots[j], 3.0f + 0.75f * 8 * j, 1e-3) << n << " " << j;
    // The analysis's smoothing shrinks the correction: the end knots keep part of the
    // one-sided first guess (1.75 units inside the line), the inner ones stay close.
    fitKnots(knots, line, weights, 8, 0.33f);
    const std::vector<double> ref = referenceKnots(line, weights, 8, 0.33);
    for (size_t j = 0; j < knots.size(); ++j) {
      EXPECT_NEAR(knots[j], ref[j], 1e-3) << n << " " << j;
      EXPECT_NEAR(knots[j], 3.0f + 0.75f * 8 * j, j == 0 || j + 1 == knots.size() ? 0.6 : 0.1);
    }
  }
}

TEST(BlobAnalysisStages, FitKnotsLeastSquares) {
  for (int32_t n : {41, 49, 20}) {
    blob_test::Noise noise;
    std::vector<float> y(static_cast<size_t>(n));
    std::vector<float> w(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
      y[i] = std::sin(i * 0.3f) * 5.0f + noise.next();
      w[i] = 1.0f + 0.9f * noise.next();
    }
    for (double smoothing : {0.0, 0.33}) {
      std::vector<float> knots;
      fitKnots(knots, y, w, 8, static_cast<float>(smoothing));
      const std::vector<double> ref = referenceKnots(y, w, 8, smoothing);
      ASSERT_EQ(knots.size(), ref.size());
      for (size_t j = 0; j < ref.size(); ++j) EXPECT_NEAR(knots[j], ref[j], 1e-3) << n << " " << j;
    }
  }
  std::vector<float> knots = {1.0f};
  fitKnots(knots, {}, {}, 8, 0.33f);
  EXPECT_TRUE(knots.empty());
  fitKnots(knots, {2.0f}, {1.0f}, 8, 0.33f);
  EXPECT_EQ(knots, std::vector<float>{2.0f});
}

TEST(BlobAnalysisStages, MonotoneSpacing) {
  std::vector<float> rising = {0.0f, 1.0f, 2.5f, 2.8f, 6.0f};
  const std::vector<float> before = rising;
  monotoneSpacing(rising, 0.25f);
  EXPECT_EQ(rising, before);

  blob_test::Noise noise;
  std::vector<float> p(41);
  for (size_t i = 0; i < p.size(); ++i) p[i] = 2.0f * i + 6.0f * noise.next();
  const float last = p.back();
  monotoneSpacing(p, 0.5f);
  EXPECT_EQ(p.back(), last);
  for (size_t i = 1; i + 1 < p.size(); ++i) EXPECT_GE(p[i] - p[i - 1], 0.5f - 1e-4f) << i;

  std::vector<float> empty;
  monotoneSpacing(empty, 1.0f);
  EXPECT_TRUE(empty.empty());
}

TEST(BlobAnalysisStages, CurveDensityAndKernelSample) {
  const Blob ramp;
  FloatGrid density;
  curveDensity(density, ramp.gridA, 1.0f);
  ASSERT_EQ(density.size(), 7u);
  for (const auto& row : density) {
    ASSERT_EQ(row.size(), 41u);
    for (float d : row) EXPECT_NEAR(d, 40.0 / 96.0 * (1 - 7.0 / 17.0), 1e-5);
  }
  curveDensity(density, ramp.gridB, 0.0f);
  for (const auto& row : density)
    for (float d : row) EXPECT_NEAR(d, 48.0 / 80.0 * (1 - 7.0 / 17.0), 1e-5);

  // A crowded stretch is denser than the rest, and smearing spreads it to its neighbours.
  FloatGrid curve = {{0, 4, 8, 8.5f, 9, 13, 17, 21}};
  curveDensity(density, curve, 0.0f);
  const double base = 7 * (7.0 / 17.0) / 21.0;
  EXPECT_NEAR(density[0][3], 2.0 / 1.0 - base, 1e-5);
  EXPECT_NEAR(density[0][0], std::fmax(1.0 / 4.0 - base, 0.0), 1e-5);
  FloatGrid smeared;
  curveDensity(smeared, curve, 1.0f);
  EXPECT_GT(smeared[0][2], density[0][2]);

  // The kernel: weight 1 at the row itself, (1 - 0.44444)^3 one row away.
  const FloatGrid column = {{1.0f}, {2.0f}, {4.0f}, {8.0f}};
  const double w1 = std::pow(1 - 0.44444, 3);
  EXPECT_NEAR(kernelSampleColumn(column, 1.0f, 0), (2 + w1 * (1 + 4)) / (1 + 2 * w1), 1e-6);
  EXPECT_NEAR(kernelSampleColumn(column, 0.0f, 0), (1 + w1 * 2) / (1 + w1), 1e-6);
  const double a = std::pow(1 - 0.25 * 0.44444, 3);
  const double b = std::pow(1 - 2.25 * 0.44444, 3);
  EXPECT_NEAR(kernelSampleColumn(column, 1.5f, 0), (a * 2 + a * 4 + b * 8) / (b + 2 * a), 1e-5);
  EXPECT_NEAR(kernelSampleColumn(column, 2.5f, 0), 6.0, 1e-5);  // rows 2 and 3 only, equally far
  EXPECT_EQ(kernelSampleColumn(column, 1e30f, 0), 0.0f);
  EXPECT_EQ(kernelSampleColumn(column, std::nanf(""), 0), 0.0f);
}
