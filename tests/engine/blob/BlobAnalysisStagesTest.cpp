#include <gtest/gtest.h>

#include "engine/blob/AnalysisStages.h"
#include "engine/blob/BlobTestSupport.h"

namespace {

// The two-way smoother in closed form: geometric sums over the input (forward) and over the
// forward output (backward), plus the decayed start values.
std::vector<double> referenceSmooth(const std::vector<float>& x, double a) {
  const size_t n = x.size();
  std::vector<double> forward(n);
  std::vector<double> y(n);
  for (size_t i = 0; i < n; ++i) {
    forward[i] = std::pow(a, i + 1) * x[0];
    for (size_t j = 0; j <= i; ++j) forward[i] += (1 - a) * std::pow(a, i - j) * x[j];
  }
  for (size_t i = 0; i < n; ++i) {
    y[i] = std::pow(a, n - 1 - i) * forward[n - 1];
    for (size_t j = i; j + 1 < n; ++j) y[i] += (1 - a) * std::pow(a, j - i) * forward[j];
  }
  return y;
}

// fitKnots in dense form: the knots are the tent-weighted first guess plus a correction that
// solves the weighted least-squares normal equations of the broken line through the knots (its
// last segment extended past the last knot), diagonal raised by (1 + smoothing). Checked in
// double by putting the knots into those equations.
void expectKnotsSolveTheNormalEquations(const std::vector<float>& knots, const std::vector<float>& y,
                                        const std::vector<float>& w, int32_t s, double smoothing) {
  const int32_t n = static_cast<int32_t>(y.size());
  const int32_t count = (n - 1 + s) / s;
  ASSERT_EQ(knots.size(), static_cast<size_t>(count));
  auto hat = [&](int32_t i, int32_t j) { return std::fmax(0.0, 1.0 - std::fabs(static_cast<double>(i) / s - j)); };
  auto basis = [&](int32_t i, int32_t j) {
    const double pos = static_cast<double>(i) / s;
    const int32_t cell = std::min(static_cast<int32_t>(pos), count - 2);
    return j == cell ? 1 - (pos - cell) : (j == cell + 1 ? pos - cell : 0.0);
  };
  std::vector<double> guess(count);
  for (int32_t j = 0; j < count; ++j) {
    double sum = 0, weight = 0;
    for (int32_t i = 0; i < n; ++i) sum += hat(i, j) * w[i] * y[i], weight += hat(i, j) * w[i];
    guess[j] = sum / weight;
  }
  for (int32_t j = 0; j < count; ++j) {
    double lhs = 0, rhs = 0;
    for (int32_t i = 0; i < n; ++i) {
      double fit = 0, correction = 0;
      for (int32_t k = 0; k < count; ++k) fit += basis(i, k) * guess[k], correction += basis(i, k) * (knots[k] - guess[k]);
      rhs += w[i] * basis(i, j) * (y[i] - fit);
      lhs += w[i] * basis(i, j) * (correction + smoothing * basis(i, j) * (knots[j] - guess[j]));
    }
    EXPECT_NEAR(lhs, rhs, 1e-3) << n << " " << j;
  }
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
  smoothTwoWay(x, x, 0.95f, 1);  // in place works the same
  EXPECT_EQ(x, y);
  smoothTwoWay({}, x, 0.5f, 1);
  EXPECT_TRUE(x.empty());
}

TEST(BlobAnalysisStages, SpectralFloorGate) {
  std::vector<float> powers(129, 0.0f);
  powers[40] = 1.0f;  // an isolated peak over silence keeps itself and its bin
  std::vector<float> bins(258, 0.0f);
  bins[81] = 0.8f;
  spectralFloorGate(powers, bins.data());
  for (size_t i = 0; i < powers.size(); ++i) EXPECT_NEAR(powers[i], i == 40 ? 1.0f : 0.0f, 0.01f) << i;
  EXPECT_NEAR(bins[81], 0.8f, 0.005f);

  // A value far below its smoothed neighbourhood is removed with its bin; the flat loud part
  // keeps nearly its level, the floor lying 500 times lower.
  std::vector<float> loud(129, 1000.0f);
  loud[60] = 0.1f;
  std::vector<float> loudBins(258, 1.0f);
  spectralFloorGate(loud, loudBins.data());
  EXPECT_EQ(loud[60], 0.0f);
  EXPECT_EQ(loudBins[121], 0.0f);
  EXPECT_NEAR(loud[10], 1000.0f, 10.0f);
  EXPECT_NEAR(loudBins[20], 1.0f, 0.005f);

  std::vector<float> huge(16, 1e25f);  // squares overflow: gains, not NaN
  spectralFloorGate(huge);
  for (float v : huge) EXPECT_TRUE(std::isfinite(v));
}

TEST(BlobAnalysisStages, SolveAlongAxisSatisfiesTheChainSystem) {
  blob_test::Noise noise;
  const size_t rows = 9;
  const size_t columns = 13;
  FloatGrid v(rows, std::vector<float>(columns));
  FloatGrid w = v;
  for (size_t r = 0; r < rows; ++r)
    for (size_t c = 0; c < columns; ++c) v[r][c] = 2.0f + noise.next(), w[r][c] = 0.5f + 0.4f * noise.next();
  for (int32_t axis : {0, 1}) {
    FloatGrid x;
    solveAlongAxis(v, w, x, axis);
    ASSERT_EQ(x.size(), rows);
    // W x + sum over neighbours (x - neighbour) = V, in double.
    auto at = [&](size_t r, size_t c, int32_t d) { return axis != 0 ? x[r][c + d] : x[r + d][c]; };
    const size_t length = axis != 0 ? columns : rows;
    for (size_t r = 0; r < rows; ++r) {
      for (size_t c = 0; c < columns; ++c) {
        const size_t i = axis != 0 ? c : r;
        double lhs = static_cast<double>(w[r][c]) * x[r][c];
        if (i > 0) lhs += x[r][c] - at(r, c, -1);
        if (i + 1 < length) lhs += x[r][c] - at(r, c, 1);
        EXPECT_NEAR(lhs, v[r][c], 1e-4) << axis << " " << r << " " << c;
      }
    }
  }
}

TEST(BlobAnalysisStages, DecomposeRankOnePicture) {
  // A positive, smooth rank-1 picture: a decaying envelope times a spectral bump.
  const auto rankOne = [](size_t rows, size_t columns) {
    FloatGrid v(rows, std::vector<float>(columns));
    for (size_t r = 0; r < rows; ++r)
      for (size_t c = 0; c < columns; ++c)
        v[r][c] = static_cast<float>((0.2 + std::exp(-0.05 * r)) * (0.3 + std::exp(-0.002 * (c - 25.0) * (c - 25.0))));
    return v;
  };
  FloatGrid picture = rankOne(96, 80);
  const FloatGrid original = picture;
  FloatGrid p1, p2;
  int32_t rounds = 0;
  EXPECT_TRUE(std::isfinite(decomposePicture(picture, p1, p2, 0.005f, &rounds)));
  EXPECT_TRUE(rounds >= 5 && rounds <= 20) << rounds;
  ASSERT_EQ(p1.size() + p2.size(), 192u);
  for (size_t r = 0; r < 96; ++r) {
    for (size_t c = 0; c < 80; ++c) {
      ASSERT_NEAR(picture[r][c], original[r][c], original[r][c] * 1e-6);  // restored
      ASSERT_NEAR(static_cast<double>(p1[r][c]) * p2[r][c], original[r][c], original[r][c] * 0.05) << r << " " << c;
    }
  }
  FloatGrid silent(8, std::vector<float>(6, 0.0f));  // nothing to factorise
  EXPECT_EQ(decomposePicture(silent, p1, p2, 0.005f, &rounds), 0.0f);
  EXPECT_TRUE(p1 == silent && p2 == silent);
}

TEST(BlobAnalysisStages, FitKnots) {
  for (int32_t n : {49, 41, 20}) {
    blob_test::Noise noise;
    std::vector<float> line(n), y(n), w(n), ones(n, 1.0f);
    for (int32_t i = 0; i < n; ++i) {
      line[i] = 3.0f + 0.75f * i;
      y[i] = std::sin(i * 0.3f) * 5.0f + noise.next();
      w[i] = 1.0f + 0.9f * noise.next();
    }
    std::vector<float> knots;
    for (const auto& [values, weights] : {std::pair{&line, &ones}, std::pair{&y, &w}}) {
      for (float smoothing : {0.0f, 0.33f}) {
        fitKnots(knots, *values, *weights, 8, smoothing);
        expectKnotsSolveTheNormalEquations(knots, *values, *weights, 8, smoothing);
      }
    }
  }
  std::vector<float> knots = {1.0f};
  fitKnots(knots, {}, {}, 8, 0.33f);
  EXPECT_TRUE(knots.empty());
  fitKnots(knots, {2.0f}, {1.0f}, 8, 0.33f);
  EXPECT_EQ(knots, std::vector<float>{2.0f});
}

TEST(BlobAnalysisStages, MonotoneSpacingDensityAndKernel) {
  blob_test::Noise noise;
  std::vector<float> p(41);
  for (size_t i = 0; i < p.size(); ++i) p[i] = 2.0f * i + 6.0f * noise.next();
  const float last = p.back();
  monotoneSpacing(p, 0.5f);
  EXPECT_EQ(p.back(), last);
  for (size_t i = 1; i + 1 < p.size(); ++i) EXPECT_GE(p[i] - p[i - 1], 0.5f - 1e-4f) << i;

  // Equal spacing gives one density everywhere; a crowded stretch is denser than the rest, and
  // smearing spreads it to its neighbours.
  const Blob ramp;
  FloatGrid density;
  curveDensity(density, ramp.gridA, 1.0f);
  ASSERT_EQ(density.size(), 7u);
  for (const auto& row : density)
    for (float d : row) EXPECT_NEAR(d, density[0][0], 1e-5f);
  const FloatGrid curve = {{0, 4, 8, 8.5f, 9, 13, 17, 21}};
  curveDensity(density, curve, 0.0f);
  EXPECT_GT(density[0][3], 4.0f * density[0][0]);
  FloatGrid smeared;
  curveDensity(smeared, curve, 1.0f);
  EXPECT_GT(smeared[0][2], density[0][2]);

  // The kernel is a weighted mean around the row that falls with distance: a constant or a
  // straight line comes back, the nearest rows weigh most, and rows far off or NaN give 0.
  const FloatGrid constant = {{3.0f}, {3.0f}, {3.0f}, {3.0f}}, line = {{0.0f}, {1.0f}, {2.0f}, {3.0f}};
  const FloatGrid column = {{1.0f}, {2.0f}, {4.0f}, {8.0f}};
  EXPECT_NEAR(kernelSampleColumn(constant, 0.7f, 0), 3.0f, 1e-6f);
  EXPECT_NEAR(kernelSampleColumn(line, 1.5f, 0), 1.5f, 1e-6f);
  const float atOne = kernelSampleColumn(column, 1.0f, 0);
  EXPECT_TRUE(atOne > 2.0f && atOne < 3.0f) << atOne;
  EXPECT_LT(kernelSampleColumn(column, 0.0f, 0), atOne);
  EXPECT_EQ(kernelSampleColumn(column, 1e30f, 0), 0.0f);
  EXPECT_EQ(kernelSampleColumn(column, std::nanf(""), 0), 0.0f);
}
