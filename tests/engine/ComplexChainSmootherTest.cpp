#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "engine/ComplexChainSmoother.h"
#include "support/AllocationCounter.h"

namespace {

using cf = std::complex<float>;
using cd = std::complex<double>;

struct Chain {
  std::vector<cf> x;
  std::vector<float> w;
  std::vector<cf> c;
  std::vector<float> a;
  std::vector<float> s;
};

std::vector<cf> smooth(const Chain& ch) {
  const int32_t n = static_cast<int32_t>(ch.x.size());
  std::vector<cf> z(ch.x.size(), cf(-99.0f, -99.0f));
  std::vector<float> den(ch.x.size(), -99.0f);
  smoothComplexChain(ch.x.data(), n, ch.w.data(), ch.c.data(), ch.a.data(), ch.s.data(), z.data(),
                     den.data());
  return z;
}

Chain uniformChain(std::vector<float> data, float w, float s) {
  Chain ch;
  for (float v : data) ch.x.emplace_back(v, 0.0f);
  const size_t n = data.size();
  ch.w.assign(n, w);
  ch.c.assign(n - 1, cf(1.0f, 0.0f));
  ch.a.assign(n - 1, 1.0f);
  ch.s.assign(n - 1, s);
  return ch;
}

// The minimiser of sum w_i |z_i - x_i|^2 + sum s_i |z_{i+1} - c_i z_i|^2, solved densely in
// double: every term is a row r of a weighted least-squares system (sqrt(weight)·(r·z - y)),
// whose normal equations M^H M z = M^H y are solved by Gaussian elimination with pivoting.
std::vector<cd> denseLeastSquares(const Chain& ch) {
  const size_t n = ch.x.size();
  std::vector<std::vector<cd>> rows;
  std::vector<cd> rhs;
  for (size_t i = 0; i < n; ++i) {
    std::vector<cd> r(n, 0.0);
    const double sw = std::sqrt(static_cast<double>(ch.w[i]));
    r[i] = sw;
    rows.push_back(r);
    rhs.push_back(sw * cd(ch.x[i].real(), ch.x[i].imag()));
  }
  for (size_t i = 0; i + 1 < n; ++i) {
    std::vector<cd> r(n, 0.0);
    const double ss = std::sqrt(static_cast<double>(ch.s[i]));
    r[i + 1] = ss;
    r[i] = -ss * cd(ch.c[i].real(), ch.c[i].imag());
    rows.push_back(r);
    rhs.push_back(0.0);
  }
  std::vector<std::vector<cd>> m(n, std::vector<cd>(n + 1, 0.0));
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j)
      for (size_t k = 0; k < rows.size(); ++k) m[i][j] += std::conj(rows[k][i]) * rows[k][j];
    for (size_t k = 0; k < rows.size(); ++k) m[i][n] += std::conj(rows[k][i]) * rhs[k];
  }
  for (size_t col = 0; col < n; ++col) {
    size_t pivot = col;
    for (size_t r = col + 1; r < n; ++r)
      if (std::abs(m[r][col]) > std::abs(m[pivot][col])) pivot = r;
    std::swap(m[col], m[pivot]);
    for (size_t r = col + 1; r < n; ++r) {
      const cd f = m[r][col] / m[col][col];
      for (size_t j = col; j <= n; ++j) m[r][j] -= f * m[col][j];
    }
  }
  std::vector<cd> z(n);
  for (size_t i = n; i-- > 0;) {
    cd v = m[i][n];
    for (size_t j = i + 1; j < n; ++j) v -= m[i][j] * z[j];
    z[i] = v / m[i][i];
  }
  return z;
}

Chain randomChain(std::mt19937& rng, int n) {
  std::uniform_real_distribution<float> u01(0.0f, 1.0f);
  Chain ch;
  for (int i = 0; i < n; ++i) {
    ch.x.emplace_back(4.0f * u01(rng) - 2.0f, 4.0f * u01(rng) - 2.0f);
    // Now and then an element with no data of its own, filled in from its neighbours.
    ch.w.push_back(u01(rng) < 0.1f ? 0.0f : 0.1f + u01(rng));
  }
  for (int i = 0; i + 1 < n; ++i) {
    const float magnitude = 0.5f + u01(rng);
    const float angle = 6.2831853f * u01(rng);
    ch.c.push_back(std::polar(magnitude, angle));
    ch.a.push_back(std::norm(ch.c.back()));
    ch.s.push_back(u01(rng) < 0.1f ? 0.0f : 3.0f * u01(rng));
  }
  ch.w[0] = 0.5f;  // keeps the system regular even when the couplings around a w = 0 are 0
  for (int i = 1; i < n; ++i)
    if (ch.w[static_cast<size_t>(i)] == 0.0f && ch.s[static_cast<size_t>(i - 1)] == 0.0f)
      ch.w[static_cast<size_t>(i)] = 0.3f;
  return ch;
}

TEST(ComplexChainSmoother, SingleElementAndNoCoupling) {
  Chain one;
  one.x = {cf(2.0f, -4.0f)};
  one.w = {0.5f};
  std::vector<cf> z = smooth(one);
  EXPECT_NEAR(z[0].real(), 2.0f, 1e-6f);
  EXPECT_NEAR(z[0].imag(), -4.0f, 1e-6f);
  one.w = {0.0f};  // no weight: 0 rather than 0/0
  z = smooth(one);
  EXPECT_EQ(z[0], cf(0.0f, 0.0f));

  // No coupling: every element returns its own data; a zero-weight element returns 0.
  Chain free = uniformChain({1.0f, -2.0f, 3.5f, 0.25f, 7.0f}, 0.7f, 0.0f);
  free.x[2] = cf(3.5f, -1.5f);
  free.w[3] = 0.0f;
  z = smooth(free);
  for (size_t i = 0; i < 5; ++i) {
    const cf expected = i == 3 ? cf(0.0f, 0.0f) : free.x[i];
    EXPECT_NEAR(z[i].real(), expected.real(), 1e-6f) << i;
    EXPECT_NEAR(z[i].imag(), expected.imag(), 1e-6f) << i;
  }
}

TEST(ComplexChainSmoother, ThreeElementExamples) {
  std::vector<cf> z = smooth(uniformChain({1.0f, 2.0f, 3.0f}, 1.0f, 1.0f));
  EXPECT_NEAR(z[0].real(), 1.5f, 1e-6f);
  EXPECT_NEAR(z[1].real(), 2.0f, 1e-6f);
  EXPECT_NEAR(z[2].real(), 2.5f, 1e-6f);
  for (const cf& v : z) EXPECT_EQ(v.imag(), 0.0f);

  // Strong coupling pulls every element to the mean.
  z = smooth(uniformChain({1.0f, 2.0f, 3.0f}, 1.0f, 1e6f));
  for (const cf& v : z) EXPECT_NEAR(v.real(), 2.0f, 1e-5f);

  // The pivots are left in den: 1, 1.5, 1.6 for the first example.
  const Chain ch = uniformChain({1.0f, 2.0f, 3.0f}, 1.0f, 1.0f);
  std::vector<cf> out(3);
  std::vector<float> den(3);
  smoothComplexChain(ch.x.data(), 3, ch.w.data(), ch.c.data(), ch.a.data(), ch.s.data(), out.data(),
                     den.data());
  EXPECT_NEAR(den[0], 1.0f, 1e-6f);
  EXPECT_NEAR(den[1], 1.5f, 1e-6f);
  EXPECT_NEAR(den[2], 1.6f, 1e-6f);
}

TEST(ComplexChainSmoother, MatchesDenseLeastSquares) {
  std::mt19937 rng(17);
  for (int n : {2, 3, 4, 5, 7, 16, 33, 80, 112}) {
    for (int trial = 0; trial < 3; ++trial) {
      const Chain ch = randomChain(rng, n);
      const std::vector<cf> z = smooth(ch);
      const std::vector<cd> ref = denseLeastSquares(ch);
      for (size_t i = 0; i < ref.size(); ++i) {
        EXPECT_NEAR(z[i].real(), ref[i].real(), 1e-4) << n << " " << i;
        EXPECT_NEAR(z[i].imag(), ref[i].imag(), 1e-4) << n << " " << i;
      }
    }
  }
}

TEST(ComplexChainSmoother, InPlaceEqualsSeparateBuffers) {
  std::mt19937 rng(23);
  const Chain ch = randomChain(rng, 80);
  const std::vector<cf> separate = smooth(ch);
  std::vector<cf> inPlace = ch.x;
  std::vector<float> den(80);
  smoothComplexChain(inPlace.data(), 80, ch.w.data(), ch.c.data(), ch.a.data(), ch.s.data(), inPlace.data(),
                     den.data());
  EXPECT_EQ(inPlace, separate);
}

TEST(ComplexChainSmoother, EmptyChainTouchesNothingAndNothingAllocates) {
  cf x(1.0f, 1.0f), z(5.0f, 5.0f);
  float w = 1.0f, den = 7.0f;
  smoothComplexChain(&x, 0, &w, nullptr, nullptr, nullptr, &z, &den);
  smoothComplexChain(&x, -3, &w, nullptr, nullptr, nullptr, &z, &den);
  EXPECT_EQ(z, cf(5.0f, 5.0f));
  EXPECT_EQ(den, 7.0f);

  std::mt19937 rng(29);
  Chain ch = randomChain(rng, 112);
  std::vector<float> work(112);
  AllocationCounter counter;
  for (int pass = 0; pass < 4; ++pass)
    smoothComplexChain(ch.x.data(), 112, ch.w.data(), ch.c.data(), ch.a.data(), ch.s.data(), ch.x.data(),
                       work.data());
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace

namespace {

// Chains side by side in lanes give, lane by lane, exactly the single chain's result.
TEST(ComplexChainSmoother, LanesMatchSingleChainsExactly) {
  std::mt19937 rng(5);
  for (int groups : {1, 2}) {
    for (int n : {1, 2, 7, 150}) {
      const int lanes = 4 * groups;
      std::vector<Chain> chains;
      for (int l = 0; l < lanes; ++l) chains.push_back(randomChain(rng, n));
      const size_t size = static_cast<size_t>(4 * groups * n);
      std::vector<float> xr(size), xi(size), w(size), cr(size), ci(size), a(size), s(size), den(size);
      for (int l = 0; l < lanes; ++l) {
        const Chain& ch = chains[static_cast<size_t>(l)];
        for (int i = 0; i < n; ++i) {
          const size_t at = static_cast<size_t>(4 * (groups * i + l / 4) + l % 4);
          xr[at] = ch.x[static_cast<size_t>(i)].real();
          xi[at] = ch.x[static_cast<size_t>(i)].imag();
          w[at] = ch.w[static_cast<size_t>(i)];
          if (i + 1 < n) {
            cr[at] = ch.c[static_cast<size_t>(i)].real();
            ci[at] = ch.c[static_cast<size_t>(i)].imag();
            a[at] = ch.a[static_cast<size_t>(i)];
            s[at] = ch.s[static_cast<size_t>(i)];
          }
        }
      }
      smoothComplexChainLanes(xr.data(), xi.data(), n, w.data(), cr.data(), ci.data(), a.data(), s.data(), xr.data(),
                              xi.data(), den.data(), groups);
      for (int l = 0; l < lanes; ++l) {
        const std::vector<cf> want = smooth(chains[static_cast<size_t>(l)]);
        for (int i = 0; i < n; ++i) {
          const size_t at = static_cast<size_t>(4 * (groups * i + l / 4) + l % 4);
          ASSERT_EQ(xr[at], want[static_cast<size_t>(i)].real()) << groups << " " << n << " " << l << " " << i;
          ASSERT_EQ(xi[at], want[static_cast<size_t>(i)].imag()) << groups << " " << n << " " << l << " " << i;
        }
      }
    }
  }
}

}  // namespace
