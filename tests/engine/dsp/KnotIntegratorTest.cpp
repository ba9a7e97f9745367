#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/dsp/KnotIntegrator.h"

namespace {

using Floats = std::vector<float>;

// Increasing knots from 0 with random gaps in lo..hi.
Floats randomKnots(std::mt19937& rng, int n, float lo, float hi) {
  std::uniform_real_distribution<float> gap(lo, hi);
  Floats k(static_cast<size_t>(n), 0.0f);
  for (size_t i = 1; i < k.size(); ++i) k[i] = k[i - 1] + gap(rng);
  return k;
}

// F over `steps` + 1 even points of t0..t1, in increasing order as the engine asks for them.
Floats integralOverGrid(const Floats& knots, float t0, float t1, int steps) {
  KnotIntegrator integrator;
  integrator.init(knots.data(), static_cast<int32_t>(knots.size()));
  Floats f;
  for (int i = 0; i <= steps; ++i) f.push_back(integrator.integral(t0 + (t1 - t0) * static_cast<float>(i) / static_cast<float>(steps)));
  return f;
}

float integralAt(const Floats& knots, float t) { return integralOverGrid(knots, t, t, 1).back(); }

// Finite and non-decreasing up to float rounding of the value itself.
void expectFiniteNonDecreasing(const Floats& f) {
  for (size_t i = 0; i < f.size(); ++i) {
    ASSERT_TRUE(std::isfinite(f[i])) << i;
    ASSERT_TRUE(i == 0 || f[i] >= f[i - 1] - 2e-7f * std::fabs(f[i - 1])) << i << ": " << f[i];
  }
}

}  // namespace

TEST(KnotIntegrator, CountsOnePerGapAndNothingBeforeTheFirstKnot) {
  // Equal gaps: one per gap, linear in between and on past the last knot.
  for (float w : {1.0f, 2.5f}) {
    const Floats knots = {0.0f, w, 2 * w, 3 * w};
    const Floats f = integralOverGrid(knots, -2.0f, 5 * w, 700);
    for (int i = 0; i <= 700; ++i) {
      const float t = -2.0f + (5 * w + 2.0f) * static_cast<float>(i) / 700.0f;
      EXPECT_NEAR(f[static_cast<size_t>(i)], std::max(t, 0.0f) / w, 1e-5f) << w << " " << t;
    }
  }
  // Uneven gaps: 0 up to the first knot; past the last the end density 1 / (last gap) goes on.
  std::mt19937 rng(7);
  const Floats knots = randomKnots(rng, 12, 0.3f, 3.0f);
  const float lastWidth = knots[11] - knots[10];
  const Floats before = integralOverGrid(knots, -100.0f, 0.0f, 50);
  EXPECT_EQ(*std::max_element(before.begin(), before.end()), 0.0f);
  EXPECT_GT(integralAt(knots, 0.01f), 0.0f);
  const Floats after = integralOverGrid(knots, knots.back(), knots.back() + 25.0f * lastWidth, 50);
  for (size_t i = 1; i < after.size(); ++i) EXPECT_NEAR(after[i] - after[i - 1], 0.5f, 1e-3f) << i;

  KnotIntegrator blend;  // the blending form clamps its numerator to 1e-30: effectively 0
  blend.initBlend(knots.data(), knots.data(), 12, 0.3f);
  EXPECT_NEAR(blend.integralBlend(-2.0f, 0.3f), 0.0f, 1e-12f);
  EXPECT_NEAR(blend.integralBlend(0.0f, 0.3f), 0.0f, 1e-12f);
}

// Next to a gap far narrower than itself a segment's start density is huge and its linear term
// almost cancels it; F must still neither jump nor run backwards there.
TEST(KnotIntegrator, CoincidingKnotsStayFinite) {
  const std::vector<Floats> lists = {
      {0.0f, 1e-5f, 2.0f, 3.0f},                      // gaps 1e-5 and 2
      {0.0f, 0.0f, 1.0f, 2.0f},                       // first gap zero
      {0.0f, 1.0f, 1.0f, 1.0f, 2.0f, 3.0f},           // a run of equal knots
      {0.0f, 1.0f, 1.0f + 1e-12f, 2.0f, 3.0f, 3.0f},  // closer than the floor, and at the end
      {0.0f, 1.0f, 0.5f, 2.0f, 3.0f},                 // out of order
  };
  for (const Floats& knots : lists) {
    expectFiniteNonDecreasing(integralOverGrid(knots, -1.0f, 5.0f, 6000));
    const float gaps = static_cast<float>(knots.size() - 1);  // each counts as about one, however narrow
    EXPECT_NEAR(integralAt(knots, knots.back()), gaps, 0.75f * gaps);
  }
  const Floats same = {0.0f, 0.0f, 0.0f, 0.0f};  // gaps of 1e-9, passed at once
  expectFiniteNonDecreasing(integralOverGrid(same, -1.0f, 1e-8f, 100));
  EXPECT_NEAR(integralAt(same, 3.5e-9f), 3.5f, 0.1f);
  EXPECT_EQ(integralAt({3.0f}, 5.0f), 0.0f);  // fewer than two knots: nothing to count
  EXPECT_EQ(integralAt({}, 5.0f), 0.0f);
}

// F is smooth across knots: no jump, and the one-sided slopes either side of a knot agree.
// Between knots it never falls, and it rises by about one per gap.
TEST(KnotIntegrator, ContinuousAndMonotoneOnRandomKnots) {
  std::mt19937 rng(11);
  for (int n = 2; n < 42; n += 4) {
    const Floats knots = randomKnots(rng, n, 0.2f, 5.0f);
    expectFiniteNonDecreasing(integralOverGrid(knots, -1.0f, knots.back() + 3.0f, 20000));
    EXPECT_NEAR(integralAt(knots, knots.back()), n - 1.0f, 0.3f * (n - 1.0f) + 0.5f);
    const float h = 1e-3f;
    for (int i = 1; i + 1 < n; ++i) {
      const float k = knots[static_cast<size_t>(i)];
      const Floats f = integralOverGrid(knots, k - 2 * h, k + 2 * h, 4);  // second-order slopes
      const double left = (3.0 * f[2] - 4.0 * f[1] + f[0]) / (2 * h), right = (-3.0 * f[2] + 4.0 * f[3] - f[4]) / (2 * h);
      EXPECT_NEAR(f[2] - f[1], f[3] - f[2], 0.02 * std::fabs(f[3] - f[2]) + 2e-5) << "knot " << i << " of " << n;
      EXPECT_NEAR(left, right, 0.03 * std::fabs(right) + 0.03) << "knot " << i << " of " << n;
      EXPECT_GT(right, 0.0);
    }
  }
}

TEST(KnotIntegrator, BlendEqualsTheSingleListAtItsEnds) {
  std::mt19937 rng(5);
  const Floats a = randomKnots(rng, 41, 0.1f, 4.0f), b = randomKnots(rng, 41, 0.1f, 4.0f);
  Floats mean(41);
  for (size_t i = 0; i < mean.size(); ++i) mean[i] = 0.5f * a[i] + 0.5f * b[i];
  for (auto [m, single, other] : {std::tuple{0.0f, &a, &b}, {1.0f, &b, &b}, {0.5f, &mean, &b}, {0.7f, &a, nullptr}}) {
    KnotIntegrator blend;  // no second list: the first one alone
    blend.initBlend(a.data(), other ? b.data() : nullptr, 41, m);
    // Up to one gap past the last knot (further on the blending form's clamps cap F, below).
    const float end = 2 * single->back() - (*single)[39];
    const Floats f = integralOverGrid(*single, -1.0f, end, 4000);
    for (int i = 0; i <= 4000; ++i) {
      const float t = -1.0f + static_cast<float>(i) * (end + 1.0f) / 4000.0f;
      const float expected = f[static_cast<size_t>(i)];
      ASSERT_NEAR(blend.integralBlend(t, m), expected, 2e-4f * std::fabs(expected) + 1e-6f) << m << " " << t;
    }
  }
  KnotIntegrator tail;  // past the last knot the clamps cap the rise of the last segment at 2
  tail.initBlend(a.data(), b.data(), 41, 0.5f);
  const float atLast = tail.integralBlend(mean[40], 0.5f), farOut = tail.integralBlend(mean[40] + 1000.0f, 0.5f);
  EXPECT_GT(farOut, atLast + 1.0f);
  EXPECT_LE(farOut, atLast + 2.0f + 1e-4f);
}

// Lists whose gaps cancel at the blend point give a zero blended width; it is floored like the
// single-list widths instead of turning every later value into NaN.
TEST(KnotIntegrator, BlendWithCancellingGapsStaysFinite) {
  const Floats a = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  for (const Floats& b : {Floats{0.0f, 2.0f, 1.0f, 3.0f, 4.0f, 5.0f}, Floats{0.0f, -1.0f, 1.0f, 2.0f, 4.0f, 5.0f}}) {
    for (float m : {0.5f, 0.25f, 1.0f}) {
      KnotIntegrator blend;
      blend.initBlend(a.data(), b.data(), 6, m);
      Floats f;
      for (int i = -50; i <= 800; ++i) f.push_back(blend.integralBlend(static_cast<float>(i) * 0.01f, m));
      expectFiniteNonDecreasing(f);
    }
  }
}

TEST(KnotIntegrator, ResamplesToDensityPerBin) {
  Floats ones(49), out(80, -1.0f);
  for (size_t i = 0; i < ones.size(); ++i) ones[i] = static_cast<float>(i);
  resampleKnotDensity(ones.data(), 49, out.data(), 80, 1.0f, 0.0f, 1.0f);
  for (float v : out) EXPECT_NEAR(v, 1.0f, 1e-4f);
  // A bin straddling the first knot counts only its part after it; the scale applies.
  resampleKnotDensity(ones.data(), 49, out.data(), 3, 2.0f, -0.25f, 0.5f);
  EXPECT_NEAR(out[0], 0.5f, 1e-5f);
  EXPECT_NEAR(out[1], 1.0f, 1e-5f);

  // The bins telescope to the integral over their whole span.
  std::mt19937 rng(3);
  const Floats r = randomKnots(rng, 49, 0.5f, 2.5f), b = randomKnots(rng, 49, 0.5f, 2.5f);
  resampleKnotDensity(r.data(), 49, out.data(), 80, 1.0f, -3.3f, 1.0f);
  double sum = 0.0;
  for (float v : out) sum += v;
  EXPECT_GE(*std::min_element(out.begin(), out.end()), 0.0f);
  EXPECT_NEAR(sum, integralAt(r, -3.3f + 80.0f) - integralAt(r, -3.3f), 1e-3);

  std::fill(out.begin(), out.end(), 5.0f);  // fewer than two knots: zeros
  resampleKnotDensity(ones.data(), 1, out.data(), 80, 1.0f, 0.0f, 1.0f);
  EXPECT_EQ(out, Floats(80, 0.0f));
}

// Cumulative mass of piecewise-constant cells, inverted by linear interpolation: an
// independent, cruder placement to compare against.
double piecewiseInverse(const Floats& density, double target) {
  double mass = 0.0;
  for (size_t j = 0; j < density.size(); ++j) {
    if (target <= mass + density[j] && density[j] > 0) return static_cast<double>(j) + (target - mass) / density[j];
    mass += density[j];
  }
  return static_cast<double>(density.size());
}

TEST(KnotsFromDensity, UniformDensityGivesEqualSpacing) {
  for (auto [n, m, level] : {std::tuple{96, 41, 1.0f}, {80, 49, 2.0f}}) {
    const Floats density(static_cast<size_t>(n), level);
    Floats knots(static_cast<size_t>(m), -1.0f);
    EXPECT_FLOAT_EQ(knotsFromDensity(density.data(), n, knots.data(), m, 0.0f), n * level / (m - 1));
    EXPECT_EQ(knots.front(), 0.0f);
    EXPECT_EQ(knots.back(), static_cast<float>(n));
    for (int k = 0; k < m; ++k) EXPECT_NEAR(knots[static_cast<size_t>(k)], static_cast<float>(n) * k / (m - 1), 1e-4f) << k;
  }
  // A share given is used as given: targets 0, 4, 8 land at 0, 2, 4.
  Floats knots(5);
  EXPECT_EQ(knotsFromDensity(Floats(80, 2.0f).data(), 80, knots.data(), 5, 4.0f), 4.0f);
  EXPECT_NEAR(knots[2], 4.0f, 1e-5f);
}

TEST(KnotsFromDensity, RandomDensitiesAreMonotoneAndFollowTheMass) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<float> level(0.2f, 3.0f);
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 8 + trial * 5, m = 3 + trial * 2;
    // Slowly varying, so the smooth model and the piecewise-constant inverse roughly agree.
    Floats density(static_cast<size_t>(n));
    const float phase = level(rng);
    for (int j = 0; j < n; ++j) density[static_cast<size_t>(j)] = 1.5f + std::sin(0.2f * j + phase) + 0.1f * level(rng);
    Floats knots(static_cast<size_t>(m));
    const float share = knotsFromDensity(density.data(), n, knots.data(), m, 0.0f);
    EXPECT_EQ(knots.front(), 0.0f);
    EXPECT_EQ(knots.back(), static_cast<float>(n));
    for (int k = 1; k < m; ++k) EXPECT_GT(knots[static_cast<size_t>(k)], knots[static_cast<size_t>(k - 1)]) << trial;
    for (int k = 1; k + 1 < m; ++k) EXPECT_NEAR(knots[static_cast<size_t>(k)], piecewiseInverse(density, share * k), 0.35) << trial;
  }
  for (int trial = 0; trial < 50; ++trial) {  // rough ones: still monotone, from 0 up
    Floats density(96), knots(41);
    for (float& v : density) v = level(rng) * level(rng) * level(rng);
    knotsFromDensity(density.data(), 96, knots.data(), 41, 0.0f);
    EXPECT_GE(knots[0], 0.0f);
    EXPECT_TRUE(std::is_sorted(knots.begin(), knots.end())) << trial;
  }
}

TEST(KnotsFromDensity, EmptyAndDamagedDensities) {
  // All zero: every share is empty; the knots collect at the last cell and stay finite
  // (neighbours that coincide are not smoothed against each other).
  Floats knots(5, -1.0f);
  EXPECT_EQ(knotsFromDensity(Floats(8, 0.0f).data(), 8, knots.data(), 5, 0.0f), 0.0f);
  for (float k : knots) EXPECT_TRUE(k >= 0.0f && k <= 8.0f) << k;
  EXPECT_EQ(knots[4], 8.0f);
  const Floats late = {0, 0, 1, 3, 5, 2, 0, 0};  // leading empty cells: knot 0 where the mass begins
  knotsFromDensity(late.data(), 8, knots.data(), 5, 0.0f);
  EXPECT_FLOAT_EQ(knots[0], 2.0f);
  EXPECT_TRUE(std::is_sorted(knots.begin(), knots.end()));

  const float nan = std::nanf(""), inf = INFINITY;
  for (const Floats& d : {Floats{1, 2, nan, 1, 1, 1}, Floats{1, inf, 1, 1, 1, 1}, Floats(6, nan), Floats{1, -5, 2, -1, 3, 1},
                          Floats{1e38f, 1e38f, 1e38f, 1, 1, 1}}) {
    knotsFromDensity(d.data(), 6, knots.data(), 5, 0.0f);
    for (float k : knots) EXPECT_TRUE(std::isfinite(k));
  }
  knots.assign(5, -7.0f);  // refused: fewer than two knots or no cells
  EXPECT_EQ(knotsFromDensity(late.data(), 8, knots.data(), 1, 0.0f), 0.0f);
  EXPECT_EQ(knotsFromDensity(late.data(), 0, knots.data(), 5, 0.0f), 0.0f);
  EXPECT_EQ(knots, Floats(5, -7.0f));
  EXPECT_FLOAT_EQ(knotsFromDensity(late.data(), 8, knots.data(), 2, 0.0f), 11.0f);  // two knots: the ends
  EXPECT_EQ(knots[1], 8.0f);
}

TEST(TransposeTable, RoundTripAndTileEdges) {
  for (auto [rows, cols] : {std::pair{41, 49}, {96, 80}, {1, 1}, {1, 13}, {13, 1}, {8, 8}, {9, 17}, {7, 16}}) {
    Floats src(static_cast<size_t>(rows * cols)), t(src.size(), -1.0f), back(src.size(), -1.0f);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<float>(i) + 0.5f;
    transposeTable(src.data(), rows, cols, t.data());
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) ASSERT_EQ(t[static_cast<size_t>(c * rows + r)], src[static_cast<size_t>(r * cols + c)]);
    transposeTable(t.data(), cols, rows, back.data());
    EXPECT_EQ(back, src) << rows << "x" << cols;
  }
}

namespace {

constexpr int kRows = 96, kCols = 80, kP = 41, kQ = 49;

// A picture like the analysis hands over: a spectrum shape times a decay whose rate varies
// across the columns, a little noise, everything raised by 0.7 of the mean.
Floats pictureTable(std::mt19937& rng) {
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  const float decay = 0.01f + 0.05f * u(rng), shapeFreq = 0.15f * u(rng), shapePhase = 6.28f * u(rng);
  const float decayFreq = 0.1f * u(rng), decayPhase = 6.28f * u(rng);
  Floats t(static_cast<size_t>(kRows * kCols));
  double sum = 0.0;
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) {
      const float shape = 1.0f + 0.8f * std::sin(shapeFreq * c + shapePhase);
      const float rate = decay * (1.0f + 0.7f * std::sin(decayFreq * c + decayPhase));
      sum += t[static_cast<size_t>(r * kCols + c)] = shape * std::exp(-rate * r) + 0.02f * u(rng) + 0.01f;
    }
  for (float& v : t) v += 0.7f * static_cast<float>(sum / static_cast<double>(t.size()));
  return t;
}

// Reads a knot curve between its samples, in double.
double lerpAt(const Floats& curve, double pos) {
  pos = std::clamp(pos, 0.0, static_cast<double>(curve.size()) - 1.0001);
  const size_t i = static_cast<size_t>(pos);
  return (1 - (pos - i)) * curve[i] + (pos - i) * curve[i + 1];
}

// The crossings of two tables; checks they lie on the tables' ranges, ordered if asked.
struct Crossings {
  Floats y = Floats(kP * kQ), x = Floats(kP * kQ);
  Crossings(const Floats& a, const Floats& b, bool ordered) {
    EXPECT_TRUE(intersectKnotGrids(a.data(), b.data(), kRows, kCols, y.data(), x.data(), kP, kQ));
    for (int i = 0; i < kP; ++i)
      for (int j = 0; j < kQ; ++j) {
        EXPECT_TRUE(Y(i, j) >= 0.0f && Y(i, j) <= kRows && X(i, j) >= 0.0f && X(i, j) <= kCols) << i << " " << j;
        EXPECT_TRUE(!ordered || i == 0 || Y(i, j) >= Y(i - 1, j)) << i << " " << j;
        EXPECT_TRUE(!ordered || j == 0 || X(i, j) >= X(i, j - 1)) << i << " " << j;
      }
    EXPECT_NEAR(Y(0, 0), 0.0f, 1e-4f);  // the outermost curves are the table's edges
    EXPECT_NEAR(Y(kP - 1, kQ - 1), static_cast<float>(kRows), 1e-4f);
    EXPECT_NEAR(X(0, kQ - 1), static_cast<float>(kCols), 1e-4f);
  }
  float Y(int i, int j) const { return y[static_cast<size_t>(i * kQ + j)]; }
  float X(int i, int j) const { return x[static_cast<size_t>(i * kQ + j)]; }
};

}  // namespace

TEST(IntersectKnotGrids, UniformTablesGiveARegularGrid) {
  const Crossings g(Floats(kRows * kCols, 1.0f), Floats(kRows * kCols, 1.0f), true);
  for (int i = 0; i < kP; ++i)
    for (int j = 0; j < kQ; ++j) {
      EXPECT_NEAR(g.Y(i, j), 2.4f * i, 2e-3f) << i << " " << j;
      EXPECT_NEAR(g.X(i, j), 80.0f / 48.0f * j, 2e-3f) << i << " " << j;
    }
}

// Every crossing lies on curve i of the first family and on curve j of the second, both rebuilt
// here from the tables' columns and rows.
TEST(IntersectKnotGrids, PictureTablesGiveCrossingsOnBothFamilies) {
  for (uint32_t seed : {2u, 5u, 7u}) {
    std::mt19937 rng(seed);
    const Floats a = pictureTable(rng), b = pictureTable(rng);
    const Crossings g(a, b, true);
    std::vector<Floats> family1(kP, Floats(kCols)), family2(kQ, Floats(kRows));
    Floats column(kRows), knots1(kP), knots2(kQ);
    for (int c = 0; c < kCols; ++c) {
      for (int r = 0; r < kRows; ++r) column[static_cast<size_t>(r)] = a[static_cast<size_t>(r * kCols + c)];
      knotsFromDensity(column.data(), kRows, knots1.data(), kP, 0.0f);
      for (int i = 0; i < kP; ++i) family1[static_cast<size_t>(i)][static_cast<size_t>(c)] = knots1[static_cast<size_t>(i)];
    }
    for (int r = 0; r < kRows; ++r) {
      knotsFromDensity(&b[static_cast<size_t>(r * kCols)], kCols, knots2.data(), kQ, 0.0f);
      for (int j = 0; j < kQ; ++j) family2[static_cast<size_t>(j)][static_cast<size_t>(r)] = knots2[static_cast<size_t>(j)];
    }
    for (int i = 0; i < kP; ++i)
      for (int j = 0; j < kQ; ++j) {
        EXPECT_NEAR(g.Y(i, j), lerpAt(family1[static_cast<size_t>(i)], g.X(i, j)), 1e-3) << seed << ": " << i << " " << j;
        EXPECT_NEAR(g.X(i, j), lerpAt(family2[static_cast<size_t>(j)], g.Y(i, j)), 2e-3) << seed << ": " << i << " " << j;
      }
  }
}

// On white noise the ten fixed-point steps need not settle, but the results stay in range.
TEST(IntersectKnotGrids, NoiseTablesStayInRangeAndDegenerateSizesAreRefused) {
  std::mt19937 rng(33);
  std::uniform_real_distribution<float> level(0.5f, 1.5f);
  Floats a(kRows * kCols), b(a.size());
  for (float& v : a) v = level(rng);
  for (float& v : b) v = level(rng);
  const Crossings g(a, b, false);

  const Floats ones(16, 1.0f);
  Floats y(6, 9.0f), x(6, 9.0f);
  EXPECT_FALSE(intersectKnotGrids(ones.data(), ones.data(), 1, 16, y.data(), x.data(), 2, 3));
  EXPECT_EQ(y, Floats(6, 0.0f));
  EXPECT_EQ(x, Floats(6, 0.0f));
  EXPECT_FALSE(intersectKnotGrids(ones.data(), ones.data(), 4, 4, y.data(), x.data(), 1, 6));
  EXPECT_TRUE(intersectKnotGrids(ones.data(), ones.data(), 4, 4, y.data(), x.data(), 2, 3));
}

namespace {

// The resampling is exactly the integrator's walk, bit for bit, for any knot list: spread,
// crowded, coinciding or out of order, short or long, and any start and step.
TEST(KnotIntegrator, ResamplingMatchesTheWalkExactly) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 2 + trial % 70;
    Floats knots = randomKnots(rng, n, trial % 3 == 0 ? 0.0f : 0.05f, 3.0f);
    if (trial % 5 == 0) std::swap(knots[static_cast<size_t>(n / 2)], knots[static_cast<size_t>(n - 1)]);
    const int bins = 1 + trial % 90;
    const float t0 = -5.0f + 10.0f * unit(rng);
    const float step = 0.1f + 2.0f * unit(rng);
    Floats out(static_cast<size_t>(bins));
    resampleKnotDensity(knots.data(), n, out.data(), bins, 1.5f, t0, step);
    KnotIntegrator walk;
    walk.init(knots.data(), n);
    float t = t0;
    float f0 = walk.integral(t);
    for (int i = 0; i < bins; ++i) {
      t += step;
      const float f1 = walk.integral(t);
      ASSERT_EQ(out[static_cast<size_t>(i)], (f1 - f0) * 1.5f) << "trial " << trial << " bin " << i;
      f0 = f1;
    }
  }
}

}  // namespace
