#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "engine/dsp/ComplexChainSmoother.h"

namespace {

using cf = std::complex<float>;
using cd = std::complex<double>;

struct Chain {
  std::vector<cf> x, c;
  std::vector<float> w, a, s;
  std::vector<float> den;

  std::vector<cf> smooth() {
    std::vector<cf> z(x.size(), cf(-99.0f, -99.0f));
    den.assign(x.size(), -99.0f);
    smoothComplexChain(x.data(), static_cast<int32_t>(x.size()), w.data(), c.data(), a.data(), s.data(), z.data(),
                       den.data());
    return z;
  }
};

// Real data, equal weights, couplings s with step factor 1.
Chain uniformChain(std::vector<float> data, float w, float s) {
  Chain ch;
  for (float v : data) ch.x.emplace_back(v, 0.0f);
  ch.w.assign(data.size(), w);
  ch.c.assign(data.size() - 1, cf(1.0f, 0.0f));
  ch.a.assign(data.size() - 1, 1.0f);
  ch.s.assign(data.size() - 1, s);
  return ch;
}

// The minimiser in double: the energy's gradient set to zero as a dense Hermitian positive
// definite system, solved by plain Gaussian elimination.
std::vector<cd> denseSolve(const Chain& ch) {
  const size_t n = ch.x.size();
  std::vector<std::vector<cd>> m(n, std::vector<cd>(n + 1, 0.0));
  for (size_t i = 0; i < n; ++i) {
    m[i][i] += ch.w[i];
    m[i][n] += static_cast<double>(ch.w[i]) * cd(ch.x[i]);
  }
  for (size_t i = 0; i + 1 < n; ++i) {
    const cd c(ch.c[i]);
    const double s = ch.s[i];
    m[i][i] += s * std::norm(c);
    m[i + 1][i + 1] += s;
    m[i][i + 1] -= s * std::conj(c);
    m[i + 1][i] -= s * c;
  }
  for (size_t col = 0; col < n; ++col) {
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

// Random data, weights and couplings; now and then an element with no data of its own or a
// link with no coupling, but never both around one element (the system stays regular).
Chain randomChain(std::mt19937& rng, int n) {
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  Chain ch;
  for (int i = 0; i < n; ++i) {
    ch.x.emplace_back(4.0f * u(rng) - 2.0f, 4.0f * u(rng) - 2.0f);
    ch.w.push_back(u(rng) < 0.1f ? 0.0f : 0.1f + u(rng));
  }
  for (int i = 0; i + 1 < n; ++i) {
    const float magnitude = 0.5f + u(rng);
    ch.c.push_back(std::polar(magnitude, 6.2831853f * u(rng)));
    ch.a.push_back(std::norm(ch.c.back()));
    ch.s.push_back(u(rng) < 0.1f ? 0.0f : 3.0f * u(rng));
    if (ch.w[i + 1] == 0.0f && ch.s[i] == 0.0f) ch.w[i + 1] = 0.3f;
  }
  ch.w[0] = 0.5f;
  return ch;
}

void expectNear(const std::vector<cf>& got, const std::vector<cf>& want, float tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_NEAR(got[i].real(), want[i].real(), tolerance) << i;
    EXPECT_NEAR(got[i].imag(), want[i].imag(), tolerance) << i;
  }
}

}  // namespace

TEST(ComplexChainSmoother, EdgeValues) {
  Chain one{{cf(2.0f, -4.0f)}, {}, {0.5f}, {}, {}, {}};
  expectNear(one.smooth(), {cf(2.0f, -4.0f)}, 1e-6f);
  one.w = {0.0f};  // no weight: 0 rather than 0/0
  EXPECT_EQ(one.smooth()[0], cf(0.0f, 0.0f));

  // No coupling: every element keeps its own data; one with no weight becomes 0.
  Chain free = uniformChain({1.0f, -2.0f, 3.5f, 0.25f, 7.0f}, 0.7f, 0.0f);
  free.x[2] = cf(3.5f, -1.5f);
  free.w[3] = 0.0f;
  expectNear(free.smooth(), {1.0f, -2.0f, cf(3.5f, -1.5f), 0.0f, 7.0f}, 1e-6f);

  Chain three = uniformChain({1.0f, 2.0f, 3.0f}, 1.0f, 1.0f);
  expectNear(three.smooth(), {1.5f, 2.0f, 2.5f}, 1e-6f);
  expectNear({three.den[0], three.den[1], three.den[2]}, {1.0f, 1.5f, 1.6f}, 1e-6f);  // the pivots
  expectNear(uniformChain({1.0f, 2.0f, 3.0f}, 1.0f, 1e6f).smooth(), {2.0f, 2.0f, 2.0f}, 1e-5f);
}

TEST(ComplexChainSmoother, MatchesDenseSolveOnRandomChains) {
  std::mt19937 rng(17);
  for (int n : {2, 3, 4, 7, 16, 33, 112}) {
    for (int trial = 0; trial < 3; ++trial) {
      Chain ch = randomChain(rng, n);
      const std::vector<cd> ref = denseSolve(ch);
      expectNear(ch.smooth(), std::vector<cf>(ref.begin(), ref.end()), 1e-4f);
    }
  }
}

TEST(ComplexChainSmoother, InPlaceAndEmpty) {
  std::mt19937 rng(23);
  Chain ch = randomChain(rng, 112);
  const std::vector<cf> separate = ch.smooth();
  std::vector<cf> inPlace = ch.x;
  smoothComplexChain(inPlace.data(), 112, ch.w.data(), ch.c.data(), ch.a.data(), ch.s.data(), inPlace.data(),
                     ch.den.data());
  EXPECT_EQ(inPlace, separate);

  cf x(1.0f, 1.0f), z(5.0f, 5.0f);
  float w = 1.0f, den = 7.0f;
  smoothComplexChain(&x, 0, &w, nullptr, nullptr, nullptr, &z, &den);
  smoothComplexChain(&x, -3, &w, nullptr, nullptr, nullptr, &z, &den);
  EXPECT_EQ(z, cf(5.0f, 5.0f));
  EXPECT_EQ(den, 7.0f);
}

namespace {

// Chains side by side in lanes give, lane by lane, exactly the single chain's result.
TEST(ComplexChainSmoother, LanesMatchSingleChainsExactly) {
  std::mt19937 rng(5);
  for (int groups : {1, 2, 5}) {
    for (int n : {1, 2, 7, 150}) {
      const int lanes = 4 * groups;
      std::vector<Chain> chains;
      for (int l = 0; l < lanes; ++l) chains.push_back(randomChain(rng, n));
      const size_t size = static_cast<size_t>(4 * groups * n);
      std::vector<float> xr(size), xi(size), w(size), cr(size), ci(size), a(size), s(size), den(size);
      auto at = [&](int l, int i) { return static_cast<size_t>(4 * (groups * i + l / 4) + l % 4); };
      for (int l = 0; l < lanes; ++l) {
        const Chain& ch = chains[static_cast<size_t>(l)];
        for (int i = 0; i < n; ++i) {
          const size_t k = static_cast<size_t>(i);
          xr[at(l, i)] = ch.x[k].real();
          xi[at(l, i)] = ch.x[k].imag();
          w[at(l, i)] = ch.w[k];
          if (i + 1 == n) continue;
          cr[at(l, i)] = ch.c[k].real();
          ci[at(l, i)] = ch.c[k].imag();
          a[at(l, i)] = ch.a[k];
          s[at(l, i)] = ch.s[k];
        }
      }
      smoothComplexChainLanes(xr.data(), xi.data(), n, w.data(), cr.data(), ci.data(), a.data(), s.data(), xr.data(),
                              xi.data(), den.data(), groups);
      for (int l = 0; l < lanes; ++l) {
        const std::vector<cf> want = chains[static_cast<size_t>(l)].smooth();
        for (int i = 0; i < n; ++i) {
          ASSERT_EQ(xr[at(l, i)], want[static_cast<size_t>(i)].real()) << groups << " " << n << " " << l << " " << i;
          ASSERT_EQ(xi[at(l, i)], want[static_cast<size_t>(i)].imag()) << groups << " " << n << " " << l << " " << i;
        }
      }
    }
  }
}

}  // namespace
