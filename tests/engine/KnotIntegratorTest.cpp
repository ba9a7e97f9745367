#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/KnotIntegrator.h"
#include "support/AllocationCounter.h"

namespace {

std::vector<float> identityKnots(int n) {
  std::vector<float> k(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) k[static_cast<size_t>(i)] = static_cast<float>(i);
  return k;
}

// Increasing knots from 0 with random gaps in lo..hi.
std::vector<float> randomKnots(std::mt19937& rng, int n, float lo, float hi) {
  std::uniform_real_distribution<float> gap(lo, hi);
  std::vector<float> k(static_cast<size_t>(n));
  k[0] = 0.0f;
  for (size_t i = 1; i < k.size(); ++i) k[i] = k[i - 1] + gap(rng);
  return k;
}

std::vector<float> integralOverGrid(const std::vector<float>& knots, float t0, float t1, int steps) {
  KnotIntegrator integrator;
  integrator.init(knots.data(), static_cast<int32_t>(knots.size()));
  std::vector<float> f;
  for (int i = 0; i <= steps; ++i)
    f.push_back(integrator.integral(t0 + (t1 - t0) * static_cast<float>(i) / static_cast<float>(steps)));
  return f;
}

void expectFiniteNonDecreasing(const std::vector<float>& f) {
  for (size_t i = 0; i < f.size(); ++i) {
    ASSERT_TRUE(std::isfinite(f[i])) << "at " << i;
    // Non-decreasing up to float rounding of the value itself.
    if (i > 0) {
      ASSERT_GE(f[i], f[i - 1] - 2e-7f * std::fabs(f[i - 1])) << "at " << i;
    }
  }
}

TEST(KnotIntegrator, EqualWidthsCountOnePerUnit) {
  const std::vector<float> knots = identityKnots(4);  // 0, 1, 2, 3
  KnotIntegrator integrator;
  integrator.init(knots.data(), 4);
  for (int i = 0; i <= 300; ++i) {
    const float t = static_cast<float>(i) * 0.01f;
    EXPECT_NEAR(integrator.integral(t), t, 1e-5f) << t;
  }
  // Past the last knot the last segment goes on with density 1.
  EXPECT_NEAR(integrator.integral(4.5f), 4.5f, 1e-5f);
  EXPECT_NEAR(integrator.integral(10.0f), 10.0f, 1e-4f);
  EXPECT_EQ(integrator.segment, 3);

  // Equal widths other than 1: one per knot, linear in between.
  const std::vector<float> wide = {0.0f, 2.5f, 5.0f, 7.5f, 10.0f};
  integrator.init(wide.data(), 5);
  for (float t : {0.0f, 1.0f, 2.5f, 6.0f, 10.0f, 12.5f}) EXPECT_NEAR(integrator.integral(t), t / 2.5f, 1e-5f);
}

TEST(KnotIntegrator, ZeroBeforeTheFirstKnot) {
  const std::vector<float> knots = {0.0f, 0.5f, 2.0f, 2.2f, 5.0f};
  KnotIntegrator integrator;
  integrator.init(knots.data(), 5);
  EXPECT_EQ(integrator.integral(-100.0f), 0.0f);
  EXPECT_EQ(integrator.integral(-0.4f), 0.0f);
  EXPECT_EQ(integrator.integral(-0.0001f), 0.0f);
  EXPECT_EQ(integrator.integral(0.0f), 0.0f);
  EXPECT_GT(integrator.integral(0.01f), 0.0f);

  // The blending form clamps its numerator to 1e-30: effectively 0.
  KnotIntegrator blend;
  blend.initBlend(knots.data(), knots.data(), 5, 0.3f);
  EXPECT_NEAR(blend.integralBlend(-2.0f, 0.3f), 0.0f, 1e-12f);
  EXPECT_NEAR(blend.integralBlend(0.0f, 0.3f), 0.0f, 1e-12f);
}

TEST(KnotIntegrator, KeepsGrowingPastTheLastKnot) {
  std::mt19937 rng(7);
  const std::vector<float> knots = randomKnots(rng, 12, 0.3f, 3.0f);
  const float last = knots.back();
  const float lastWidth = knots[11] - knots[10];
  KnotIntegrator integrator;
  integrator.init(knots.data(), 12);
  float prev = integrator.integral(last);
  for (int i = 1; i <= 50; ++i) {
    const float t = last + static_cast<float>(i) * lastWidth * 0.5f;
    const float f = integrator.integral(t);
    // The last segment continues with the end density of the last gap, 1 / lastWidth.
    EXPECT_NEAR(f - prev, 0.5f, 1e-3f) << i;
    prev = f;
  }
  EXPECT_EQ(integrator.segment, 11);
}

// Next to a gap far narrower than itself a segment's start density is huge and its linear
// term almost cancels it; F must still neither jump nor run backwards there.
TEST(KnotIntegrator, CoincidingKnotsStayFinite) {
  const std::vector<std::vector<float>> lists = {
      {0.0f, 1e-5f, 2.0f, 3.0f},                      // gaps 1e-5 and 2
      {0.0f, 0.0f, 1.0f, 2.0f},                       // first gap zero
      {0.0f, 1.0f, 1.0f, 1.0f, 2.0f, 3.0f},           // a run of equal knots
      {0.0f, 1.0f, 1.0f + 1e-12f, 2.0f, 3.0f, 3.0f},  // closer than the floor, and at the end
      {0.0f, 1.0f, 0.5f, 2.0f, 3.0f},                 // out of order
  };
  for (const auto& knots : lists) {
    const std::vector<float> f = integralOverGrid(knots, -1.0f, 5.0f, 6000);
    expectFiniteNonDecreasing(f);
    // Each gap counts as about one knot, however narrow.
    const float atEnd = integralOverGrid(knots, knots.back(), knots.back(), 1).back();
    EXPECT_NEAR(atEnd, static_cast<float>(knots.size() - 1), 0.75f * static_cast<float>(knots.size() - 1));
  }
  // All at one place: the gaps of 1e-9 are passed at once, about one per knot.
  const std::vector<float> same = {0.0f, 0.0f, 0.0f, 0.0f};
  expectFiniteNonDecreasing(integralOverGrid(same, -1.0f, 1e-8f, 100));
  EXPECT_NEAR(integralOverGrid(same, 3.5e-9f, 3.5e-9f, 1).back(), 3.5f, 0.1f);

  // Fewer than two knots: nothing to count.
  const float one = 3.0f;
  KnotIntegrator integrator;
  integrator.init(&one, 1);
  EXPECT_EQ(integrator.integral(5.0f), 0.0f);
  integrator.init(nullptr, 0);
  EXPECT_EQ(integrator.integral(5.0f), 0.0f);
}

// F is smooth across knots: the slope just left of a knot matches the slope just right of it,
// and F itself has no jump. Between knots it never falls.
TEST(KnotIntegrator, ContinuousAndMonotoneOnRandomKnots) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 2 + trial * 2;
    const std::vector<float> knots = randomKnots(rng, n, 0.2f, 5.0f);
    const std::vector<float> f = integralOverGrid(knots, -1.0f, knots.back() + 3.0f, 20000);
    expectFiniteNonDecreasing(f);

    // Rises by about one per knot (not exactly: uneven widths bend the segments).
    const float total = integralOverGrid(knots, knots.back(), knots.back(), 1).back();
    EXPECT_NEAR(total, static_cast<float>(n - 1), 0.3f * static_cast<float>(n - 1) + 0.5f);

    const double h = 1e-3;
    for (int i = 1; i + 1 < n; ++i) {
      const float k = knots[static_cast<size_t>(i)];
      KnotIntegrator integrator;
      integrator.init(knots.data(), n);
      const double fl2 = integrator.integral(static_cast<float>(k - 2 * h));
      const double fl1 = integrator.integral(static_cast<float>(k - h));
      const double f0 = integrator.integral(k);
      const double fr1 = integrator.integral(static_cast<float>(k + h));
      const double fr2 = integrator.integral(static_cast<float>(k + 2 * h));
      // Second-order one-sided slopes on either side.
      const double left = (3 * f0 - 4 * fl1 + fl2) / (2 * h);
      const double right = (-3 * f0 + 4 * fr1 - fr2) / (2 * h);
      EXPECT_NEAR(f0 - fl1, fr1 - f0, 0.02 * std::fabs(fr1 - f0) + 2e-5) << "knot " << i;
      EXPECT_NEAR(left, right, 0.03 * std::fabs(right) + 0.03) << "knot " << i << " of " << n;
      EXPECT_GT(right, 0.0);
    }
  }
}

TEST(KnotIntegrator, BlendEndsEqualSingleLists) {
  std::mt19937 rng(5);
  const std::vector<float> a = randomKnots(rng, 41, 0.1f, 4.0f);
  const std::vector<float> b = randomKnots(rng, 41, 0.1f, 4.0f);
  std::vector<float> mean(41);
  for (size_t i = 0; i < mean.size(); ++i) mean[i] = 0.5f * a[i] + 0.5f * b[i];

  const struct {
    float m;
    const std::vector<float>* single;
  } cases[] = {{0.0f, &a}, {1.0f, &b}, {0.5f, &mean}};
  for (const auto& cs : cases) {
    KnotIntegrator blend;
    blend.initBlend(a.data(), b.data(), 41, cs.m);
    KnotIntegrator single;
    single.init(cs.single->data(), 41);
    // Up to one gap past the last knot (further on the blending form's clamps cap F, below).
    const float end = cs.single->back() + ((*cs.single)[40] - (*cs.single)[39]);
    for (int i = 0; i <= 4000; ++i) {
      const float t = -1.0f + static_cast<float>(i) * (end + 1.0f) / 4000.0f;
      const float expected = single.integral(t);
      EXPECT_NEAR(blend.integralBlend(t, cs.m), expected, 2e-4f * std::fabs(expected) + 1e-6f)
          << cs.m << " " << t;
    }
  }

  // Past the last knot the blending form's clamps cap the rise of its last segment at 2.
  KnotIntegrator tail;
  tail.initBlend(a.data(), b.data(), 41, 0.5f);
  const float atLast = tail.integralBlend(mean[40], 0.5f);
  const float farOut = tail.integralBlend(mean[40] + 1000.0f, 0.5f);
  EXPECT_GT(farOut, atLast + 1.0f);
  EXPECT_LE(farOut, atLast + 2.0f + 1e-4f);

  // No second list: the first one alone.
  KnotIntegrator alone;
  alone.initBlend(a.data(), nullptr, 41, 0.7f);
  KnotIntegrator single;
  single.init(a.data(), 41);
  for (float t : {0.5f, 3.0f, 20.0f, a[40]})
    EXPECT_NEAR(alone.integralBlend(t, 0.7f), single.integral(t), 1e-4f);
}

// Two lists whose gaps cancel at the blend point give a zero blended width; it is floored like
// the single-list widths instead of turning every later value into NaN.
TEST(KnotIntegrator, BlendWithCancellingGapsStaysFinite) {
  const std::vector<float> a = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  const std::vector<float> b = {0.0f, 2.0f, 1.0f, 3.0f, 4.0f, 5.0f};  // second gap -1
  for (float m : {0.5f, 0.25f, 1.0f}) {
    KnotIntegrator blend;
    blend.initBlend(a.data(), b.data(), 6, m);
    float prev = 0.0f;
    for (int i = 0; i <= 800; ++i) {
      const float f = blend.integralBlend(static_cast<float>(i) * 0.01f, m);
      ASSERT_TRUE(std::isfinite(f)) << m << " " << i;
      ASSERT_GE(f, prev - 2e-7f * prev);
      prev = f;
    }
  }
  // Crossing first gaps as well.
  const std::vector<float> c = {0.0f, -1.0f, 1.0f, 2.0f};
  KnotIntegrator blend;
  blend.initBlend(a.data(), c.data(), 4, 0.5f);
  for (float t : {-0.5f, 0.0f, 0.5f, 3.0f}) EXPECT_TRUE(std::isfinite(blend.integralBlend(t, 0.5f)));
}

TEST(KnotIntegrator, ResamplesToDensityPerBin) {
  const std::vector<float> knots = identityKnots(49);
  std::vector<float> out(80, -1.0f);
  resampleKnotDensity(knots.data(), 49, out.data(), 80, 1.0f, 0.0f, 1.0f);
  for (int i = 0; i < 80; ++i) EXPECT_NEAR(out[static_cast<size_t>(i)], 1.0f, 1e-4f) << i;

  // A bin straddling the first knot counts only its part after it; scale applies.
  resampleKnotDensity(knots.data(), 49, out.data(), 3, 2.0f, -0.25f, 0.5f);
  EXPECT_NEAR(out[0], 0.5f, 1e-5f);  // F(0.25) - F(-0.25) = 0.25, times 2
  EXPECT_NEAR(out[1], 1.0f, 1e-5f);
  EXPECT_NEAR(out[2], 1.0f, 1e-5f);

  // Denser knots give more per bin: gaps of 0.25 give 4 per unit.
  std::vector<float> dense(41);
  for (int i = 0; i < 41; ++i) dense[static_cast<size_t>(i)] = 0.25f * static_cast<float>(i);
  resampleKnotDensity(dense.data(), 41, out.data(), 10, 1.0f, 0.0f, 1.0f);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(out[static_cast<size_t>(i)], 4.0f, 1e-4f) << i;

  // The bins telescope to the integral over their whole span.
  std::mt19937 rng(3);
  const std::vector<float> r = randomKnots(rng, 49, 0.5f, 2.5f);
  resampleKnotDensity(r.data(), 49, out.data(), 80, 1.0f, -3.3f, 1.0f);
  KnotIntegrator integrator;
  integrator.init(r.data(), 49);
  const float f0 = integrator.integral(-3.3f);
  const float f1 = integrator.integral(-3.3f + 80.0f);
  double sum = 0.0;
  for (float v : out) {
    EXPECT_GE(v, 0.0f);
    sum += v;
  }
  EXPECT_NEAR(sum, f1 - f0, 1e-3);

  // Fewer than two knots: zeros.
  std::fill(out.begin(), out.end(), 5.0f);
  resampleKnotDensity(knots.data(), 1, out.data(), 80, 1.0f, 0.0f, 1.0f);
  for (float v : out) EXPECT_EQ(v, 0.0f);
}

// The resampling is exactly the integrator's walk, bit for bit, for any knot list: spread,
// crowded, coinciding or out of order, short or long, and any start and step.
TEST(KnotIntegrator, ResamplingMatchesTheWalkExactly) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 2 + trial % 70;
    std::vector<float> knots = randomKnots(rng, n, trial % 3 == 0 ? 0.0f : 0.05f, 3.0f);
    if (trial % 5 == 0) std::swap(knots[static_cast<size_t>(n / 2)], knots[static_cast<size_t>(n - 1)]);
    const int bins = 1 + trial % 90;
    const float t0 = -5.0f + 10.0f * unit(rng);
    const float step = 0.1f + 2.0f * unit(rng);
    std::vector<float> out(static_cast<size_t>(bins));
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

TEST(KnotIntegrator, AudioThreadFormsDoNotAllocate) {
  std::mt19937 rng(9);
  const std::vector<float> a = randomKnots(rng, 41, 0.1f, 4.0f);
  const std::vector<float> b = randomKnots(rng, 41, 0.1f, 4.0f);
  std::vector<float> out(80);
  KnotIntegrator single;
  KnotIntegrator blend;
  float sink = 0.0f;
  AllocationCounter counter;
  single.init(a.data(), 41);
  blend.initBlend(a.data(), b.data(), 41, 0.4f);
  for (int i = 0; i < 200; ++i) {
    sink += single.integral(static_cast<float>(i));
    sink += blend.integralBlend(static_cast<float>(i), 0.4f);
  }
  resampleKnotDensity(a.data(), 41, out.data(), 80, 1.0f, 0.0f, 1.0f);
  EXPECT_EQ(counter.count(), 0);
  EXPECT_TRUE(std::isfinite(sink));
}

// Cumulative mass of piecewise-constant cells, inverted by linear interpolation: an
// independent, cruder placement to compare against.
double piecewiseInverse(const std::vector<float>& density, double target) {
  double mass = 0.0;
  for (size_t j = 0; j < density.size(); ++j) {
    const double next = mass + density[j];
    if (target <= next && density[j] > 0) return static_cast<double>(j) + (target - mass) / density[j];
    mass = next;
  }
  return static_cast<double>(density.size());
}

TEST(KnotsFromDensity, UniformDensityGivesEqualSpacing) {
  const std::vector<float> density(96, 1.0f);
  std::vector<float> knots(41, -1.0f);
  const float share = knotsFromDensity(density.data(), 96, knots.data(), 41, 0.0f);
  EXPECT_FLOAT_EQ(share, 96.0f / 40.0f);
  EXPECT_EQ(knots[0], 0.0f);
  EXPECT_EQ(knots[40], 96.0f);
  for (int k = 0; k < 41; ++k)
    EXPECT_NEAR(knots[static_cast<size_t>(k)], 2.4f * static_cast<float>(k), 1e-4f) << k;

  // Scale does not matter, a given share is used as given.
  const std::vector<float> doubled(80, 2.0f);
  std::vector<float> k2(49);
  EXPECT_FLOAT_EQ(knotsFromDensity(doubled.data(), 80, k2.data(), 49, 0.0f), 160.0f / 48.0f);
  for (int k = 0; k < 49; ++k)
    EXPECT_NEAR(k2[static_cast<size_t>(k)], 80.0f / 48.0f * static_cast<float>(k), 1e-4f);
  // Targets 0, 4, 8, 12 land at 0, 2, 4, 6; the smoothing then pulls knot 3 toward its far
  // right neighbour 80: u = (6 - 4) / (80 - 4), moved by 20.78·u·(u - 0.5)·(u - 1)·0.04·76.
  EXPECT_EQ(knotsFromDensity(doubled.data(), 80, k2.data(), 5, 4.0f), 4.0f);
  EXPECT_NEAR(k2[0], 0.0f, 1e-6f);
  EXPECT_NEAR(k2[1], 2.0f, 1e-5f);
  EXPECT_NEAR(k2[2], 4.0f, 1e-5f);
  const double u = 2.0 / 76.0;
  EXPECT_NEAR(k2[3], 6.0 - 20.78 * u * (u - 0.5) * (u - 1.0) * 0.04 * 76.0, 1e-4);
  EXPECT_EQ(k2[4], 80.0f);
}

TEST(KnotsFromDensity, RandomDensityIsMonotoneAndFollowsTheMass) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<float> level(0.2f, 3.0f);
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 8 + trial * 5;
    const int m = 3 + trial * 2;
    // Slowly varying, so the smooth model and the piecewise-constant inverse roughly agree.
    std::vector<float> density(static_cast<size_t>(n));
    const float phase = level(rng);
    for (int j = 0; j < n; ++j)
      density[static_cast<size_t>(j)] =
          1.5f + std::sin(0.2f * static_cast<float>(j) + phase) + 0.1f * level(rng);
    std::vector<float> knots(static_cast<size_t>(m));
    const float share = knotsFromDensity(density.data(), n, knots.data(), m, 0.0f);
    EXPECT_EQ(knots[0], 0.0f);
    EXPECT_EQ(knots.back(), static_cast<float>(n));
    for (int k = 1; k < m; ++k)
      EXPECT_GT(knots[static_cast<size_t>(k)], knots[static_cast<size_t>(k - 1)]) << trial;
    for (int k = 1; k + 1 < m; ++k)
      EXPECT_NEAR(knots[static_cast<size_t>(k)], piecewiseInverse(density, share * k), 0.35)
          << trial << " " << k;
  }

  // Rough random densities: still monotone and inside 0..n.
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<float> density(96);
    for (float& v : density) v = level(rng) * level(rng) * level(rng);
    std::vector<float> knots(41);
    knotsFromDensity(density.data(), 96, knots.data(), 41, 0.0f);
    for (int k = 1; k < 41; ++k)
      ASSERT_GE(knots[static_cast<size_t>(k)], knots[static_cast<size_t>(k - 1)]) << trial;
    EXPECT_GE(knots[0], 0.0f);
  }
}

TEST(KnotsFromDensity, EmptyAndDamagedDensities) {
  // All zero: every share is empty; the knots collect at the last cell and stay finite
  // (neighbours that coincide are not smoothed against each other).
  const std::vector<float> zeros(8, 0.0f);
  std::vector<float> knots(5, -1.0f);
  EXPECT_EQ(knotsFromDensity(zeros.data(), 8, knots.data(), 5, 0.0f), 0.0f);
  for (float k : knots) {
    EXPECT_TRUE(std::isfinite(k));
    EXPECT_GE(k, 0.0f);
    EXPECT_LE(k, 8.0f);
  }
  EXPECT_EQ(knots[4], 8.0f);

  // Leading empty cells: the first knot sits where the mass begins.
  const std::vector<float> late = {0, 0, 1, 3, 5, 2, 0, 0};
  knotsFromDensity(late.data(), 8, knots.data(), 5, 0.0f);
  EXPECT_FLOAT_EQ(knots[0], 2.0f);
  for (int k = 1; k < 5; ++k) EXPECT_GE(knots[static_cast<size_t>(k)], knots[static_cast<size_t>(k - 1)]);

  // Non-finite and negative cells give finite knots.
  const float nan = std::nanf("");
  const float inf = INFINITY;
  const std::vector<std::vector<float>> damaged = {{1, 2, nan, 1, 1, 1},
                                                   {1, inf, 1, 1, 1, 1},
                                                   {nan, nan, nan, nan, nan, nan},
                                                   {1, -5, 2, -1, 3, 1},
                                                   {1e38f, 1e38f, 1e38f, 1, 1, 1}};
  for (const auto& d : damaged) {
    knotsFromDensity(d.data(), 6, knots.data(), 5, 0.0f);
    for (float k : knots) EXPECT_TRUE(std::isfinite(k));
  }

  // Refused: fewer than two knots or no cells.
  knots.assign(5, -7.0f);
  EXPECT_EQ(knotsFromDensity(late.data(), 8, knots.data(), 1, 0.0f), 0.0f);
  EXPECT_EQ(knotsFromDensity(late.data(), 0, knots.data(), 5, 0.0f), 0.0f);
  for (float k : knots) EXPECT_EQ(k, -7.0f);

  // Two knots: just the ends.
  std::vector<float> two(2);
  EXPECT_FLOAT_EQ(knotsFromDensity(late.data(), 8, two.data(), 2, 0.0f), 11.0f);
  EXPECT_EQ(two[1], 8.0f);
}

TEST(TransposeTable, RoundTripAndTileEdges) {
  for (auto [rows, cols] :
       {std::pair{41, 49}, {96, 80}, {1, 1}, {1, 13}, {13, 1}, {8, 8}, {9, 17}, {7, 16}}) {
    std::vector<float> src(static_cast<size_t>(rows * cols));
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<float>(i) + 0.5f;
    std::vector<float> t(src.size(), -1.0f);
    std::vector<float> back(src.size(), -1.0f);
    transposeTable(src.data(), rows, cols, t.data());
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c)
        ASSERT_EQ(t[static_cast<size_t>(c * rows + r)], src[static_cast<size_t>(r * cols + c)])
            << rows << "x" << cols;
    transposeTable(t.data(), cols, rows, back.data());
    EXPECT_EQ(back, src) << rows << "x" << cols;
  }
}

// Reads a knot curve the way a crossing must satisfy it, in double.
double lerpAt(const std::vector<float>& curve, double pos) {
  pos = std::min(std::max(pos, 0.0), static_cast<double>(curve.size()) - 1.0001);
  const size_t i = static_cast<size_t>(pos);
  const double f = pos - static_cast<double>(i);
  return (1 - f) * curve[i] + f * curve[i + 1];
}

TEST(IntersectKnotGrids, UniformTablesGiveARegularGrid) {
  const int rows = 96, cols = 80, p = 41, q = 49;
  const std::vector<float> ones(static_cast<size_t>(rows * cols), 1.0f);
  std::vector<float> y(static_cast<size_t>(p * q)), x(y.size());
  ASSERT_TRUE(intersectKnotGrids(ones.data(), ones.data(), rows, cols, y.data(), x.data(), p, q));
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < q; ++j) {
      const size_t at = static_cast<size_t>(i * q + j);
      EXPECT_NEAR(y[at], 2.4f * static_cast<float>(i), 2e-3f) << i << " " << j;
      EXPECT_NEAR(x[at], 80.0f / 48.0f * static_cast<float>(j), 2e-3f) << i << " " << j;
    }
}

constexpr int kRows = 96, kCols = 80, kP = 41, kQ = 49;

// A picture like the analysis hands over: a spectrum shape times a decay whose rate varies
// across the columns, a little noise, everything raised by 0.7 of the mean.
std::vector<float> pictureTable(std::mt19937& rng) {
  std::uniform_real_distribution<float> u01(0.0f, 1.0f);
  const float decay = 0.01f + 0.05f * u01(rng), shapeFreq = 0.15f * u01(rng), shapePhase = 6.28f * u01(rng);
  const float decayFreq = 0.1f * u01(rng), decayPhase = 6.28f * u01(rng);
  std::vector<float> t(static_cast<size_t>(kRows * kCols));
  double sum = 0.0;
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) {
      const float shape = 1.0f + 0.8f * std::sin(shapeFreq * static_cast<float>(c) + shapePhase);
      const float rate = decay * (1.0f + 0.7f * std::sin(decayFreq * static_cast<float>(c) + decayPhase));
      const float v = shape * std::exp(-rate * static_cast<float>(r)) + 0.02f * u01(rng) + 0.01f;
      t[static_cast<size_t>(r * kCols + c)] = v;
      sum += v;
    }
  const float raise = 0.7f * static_cast<float>(sum / static_cast<double>(t.size()));
  for (float& v : t) v += raise;
  return t;
}

struct Crossings {
  std::vector<float> y = std::vector<float>(static_cast<size_t>(kP * kQ));
  std::vector<float> x = std::vector<float>(static_cast<size_t>(kP * kQ));
  float at(const std::vector<float>& v, int i, int j) const { return v[static_cast<size_t>(i * kQ + j)]; }
};

void expectInRangeAndOrdered(const Crossings& g, bool ordered) {
  for (int i = 0; i < kP; ++i)
    for (int j = 0; j < kQ; ++j) {
      ASSERT_GE(g.at(g.y, i, j), 0.0f);
      ASSERT_LE(g.at(g.y, i, j), static_cast<float>(kRows));
      ASSERT_GE(g.at(g.x, i, j), 0.0f);
      ASSERT_LE(g.at(g.x, i, j), static_cast<float>(kCols));
      if (ordered && i > 0) {
        EXPECT_GE(g.at(g.y, i, j), g.at(g.y, i - 1, j)) << i << " " << j;
      }
      if (ordered && j > 0) {
        EXPECT_GE(g.at(g.x, i, j), g.at(g.x, i, j - 1)) << i << " " << j;
      }
    }
  // The outermost curves are the table's edges.
  EXPECT_NEAR(g.at(g.y, 0, 0), 0.0f, 1e-4f);
  EXPECT_NEAR(g.at(g.y, kP - 1, kQ - 1), static_cast<float>(kRows), 1e-4f);
  EXPECT_NEAR(g.at(g.x, 0, kQ - 1), static_cast<float>(kCols), 1e-4f);
}

TEST(IntersectKnotGrids, PictureTablesGiveCrossings) {
  for (uint32_t seed : {2u, 5u, 7u}) {
    std::mt19937 rng(seed);
    const std::vector<float> a = pictureTable(rng);
    const std::vector<float> b = pictureTable(rng);
    Crossings g;
    ASSERT_TRUE(intersectKnotGrids(a.data(), b.data(), kRows, kCols, g.y.data(), g.x.data(), kP, kQ));
    expectInRangeAndOrdered(g, true);

    // The two families rebuilt here from the tables: every result lies on curve i of the
    // first and on curve j of the second.
    std::vector<std::vector<float>> family1(kP, std::vector<float>(kCols));
    std::vector<std::vector<float>> family2(kQ, std::vector<float>(kRows));
    std::vector<float> column(kRows), knots1(kP), knots2(kQ);
    for (int c = 0; c < kCols; ++c) {
      for (int r = 0; r < kRows; ++r) column[static_cast<size_t>(r)] = a[static_cast<size_t>(r * kCols + c)];
      knotsFromDensity(column.data(), kRows, knots1.data(), kP, 0.0f);
      for (int i = 0; i < kP; ++i)
        family1[static_cast<size_t>(i)][static_cast<size_t>(c)] = knots1[static_cast<size_t>(i)];
    }
    for (int r = 0; r < kRows; ++r) {
      knotsFromDensity(&b[static_cast<size_t>(r * kCols)], kCols, knots2.data(), kQ, 0.0f);
      for (int j = 0; j < kQ; ++j)
        family2[static_cast<size_t>(j)][static_cast<size_t>(r)] = knots2[static_cast<size_t>(j)];
    }
    for (int i = 0; i < kP; ++i)
      for (int j = 0; j < kQ; ++j) {
        const float y = g.at(g.y, i, j), x = g.at(g.x, i, j);
        EXPECT_NEAR(y, lerpAt(family1[static_cast<size_t>(i)], x), 1e-3) << seed << ": " << i << " " << j;
        EXPECT_NEAR(x, lerpAt(family2[static_cast<size_t>(j)], y), 2e-3) << seed << ": " << i << " " << j;
      }
  }
}

// On white noise the ten fixed-point steps need not settle, but the results stay on the curves'
// ranges.
TEST(IntersectKnotGrids, NoiseTablesStayInRange) {
  std::mt19937 rng(33);
  std::uniform_real_distribution<float> level(0.5f, 1.5f);
  std::vector<float> a(static_cast<size_t>(kRows * kCols)), b(a.size());
  for (float& v : a) v = level(rng);
  for (float& v : b) v = level(rng);
  Crossings g;
  ASSERT_TRUE(intersectKnotGrids(a.data(), b.data(), kRows, kCols, g.y.data(), g.x.data(), kP, kQ));
  expectInRangeAndOrdered(g, false);
}

TEST(IntersectKnotGrids, RefusesDegenerateSizes) {
  const std::vector<float> ones(16, 1.0f);
  std::vector<float> y(6, 9.0f), x(6, 9.0f);
  EXPECT_FALSE(intersectKnotGrids(ones.data(), ones.data(), 1, 16, y.data(), x.data(), 2, 3));
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(y[i] + x[i], 0.0f);
  EXPECT_FALSE(intersectKnotGrids(ones.data(), ones.data(), 4, 4, y.data(), x.data(), 1, 6));
  EXPECT_TRUE(intersectKnotGrids(ones.data(), ones.data(), 4, 4, y.data(), x.data(), 2, 3));
}

}  // namespace
