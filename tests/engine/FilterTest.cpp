#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "engine/RampedFilter.h"
#include "engine/ShelfFilter.h"

namespace {

constexpr double kPi = std::numbers::pi;
using cd = std::complex<double>;

// (n0 + n1·z^-1) / (1 + d1·z^-1) at frequency f (cycles per sample), in double.
cd firstOrder(double n0, double n1, double d1, double f) {
  const cd zi = std::polar(1.0, -2 * kPi * f);
  return (n0 + n1 * zi) / (1.0 + d1 * zi);
}

// Steady-state gain of a per-sample process at frequency f, by a least-squares fit of the last
// part of a long sine response.
template <typename Process>
double measuredGain(double f, Process process) {
  const int n = 20000;
  const int from = 12000;
  std::vector<float> x(n);
  for (int i = 0; i < n; ++i) x[size_t(i)] = static_cast<float>(std::sin(2 * kPi * f * i));
  process(x.data(), n);
  double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
  for (int i = from; i < n; ++i) {
    const double c = std::cos(2 * kPi * f * i), s = std::sin(2 * kPi * f * i);
    cc += c * c;
    ss += s * s;
    cs += c * s;
    xc += x[size_t(i)] * c;
    xs += x[size_t(i)] * s;
  }
  const double det = cc * ss - cs * cs;
  return std::hypot((xc * ss - xs * cs) / det, (xs * cc - xc * cs) / det);
}

TEST(ShelfFilter, ResponseFollowsTheFirstOrderShelf) {
  struct Case {
    double fc;
    double g;
  };
  for (const Case c : {Case{2.0 / 44100, 10.0}, Case{0.0031746032, 0.1}, Case{0.011337869, 100.0},
                       Case{0.011337869, 0.01}}) {
    ShelfCoefficients s;
    designShelf(&s, static_cast<float>(c.fc), static_cast<float>(c.g));
    const auto h = [&](double f) { return std::abs(firstOrder(s.b0, s.b1, s.a, f)); };
    // Gain g at DC, about 1 far above the corner.
    EXPECT_NEAR(h(0.0), c.g, 2e-3 * c.g) << c.fc << " " << c.g;
    EXPECT_NEAR(h(0.25), 1.0, 0.05) << c.fc << " " << c.g;
    // The analog shelf (s + wz)/(s + wp)·wp/wz·g with its pole and zero a factor sqrt(g) below
    // and above the corner; the design's exponential stand-in puts the corner at about
    // 0.94·pi·fc rad per sample. Below a tenth of the sample rate the two agree closely.
    const double wc = 0.9375 * kPi * c.fc;
    const double wp = wc / std::sqrt(c.g);
    const double wz = wc * std::sqrt(c.g);
    for (double ratio : {0.1, 0.5, 1.0, 2.0, 10.0}) {
      const double w = wc * ratio;
      const double analog = std::abs(cd(wz, w) / cd(wp, w)) * wp / wz * c.g;
      EXPECT_NEAR(h(w / (2 * kPi)), analog, 0.04 * analog) << c.fc << " " << c.g << " " << ratio;
    }
    // The recurrence realises that transfer function.
    for (double f : {c.fc * 0.5, c.fc * 3, 0.1}) {
      const double expected = h(f);
      const double got = measuredGain(f, [&](float* x, int n) {
        float state = 0.0f;
        shelfProcessMono(s, state, x, n);
      });
      if (f * 12000 > 3) {
        EXPECT_NEAR(got, expected, 1e-3 * expected + 1e-5) << f;
      }
    }
  }
}

TEST(ShelfFilter, UnityGainIsAPassThroughAndBadArgumentsStayFinite) {
  ShelfCoefficients s;
  designShelf(&s, 0.001f, 1.0f);
  EXPECT_EQ(s.b0, 1.0f);
  EXPECT_EQ(s.b1, s.a);
  float state = 0.0f;
  std::vector<float> x = {1.0f, -0.5f, 0.25f, 3.0f, 0.0f};
  const std::vector<float> original = x;
  shelfProcessMono(s, state, x.data(), static_cast<int32_t>(x.size()));
  for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(x[i], original[i], 1e-6f);

  for (float fc : {0.0f, -1.0f, NAN}) {
    designShelf(&s, fc, 10.0f);
    EXPECT_TRUE(std::isfinite(s.a) && std::isfinite(s.b0) && std::isfinite(s.b1)) << fc;
  }
  designShelf(&s, 0.01f, 0.0f);
  EXPECT_TRUE(std::isfinite(s.a) && std::isfinite(s.b0) && std::isfinite(s.b1));
}

TEST(RampedFilter, SettledCoefficientsGiveTheFirstOrderResponse) {
  // y = a·x + s, s := b·x - c·y is (a + b·z^-1) / (1 + c·z^-1).
  const float a = 0.18f, b = 0.02f, c = -0.6f;
  for (double f : {0.002, 0.05, 0.2, 0.45}) {
    RampedFilter filter;
    filter.a = filter.targetA = a;
    filter.b = filter.targetB = b;
    filter.c = filter.targetC = c;
    std::vector<float> other(20000, 0.0f);
    const double got = measuredGain(f, [&](float* x, int n) {
      for (int i = 0; i < n; i += 64) filter.process(x + i, other.data() + i, std::min(64, n - i));
    });
    EXPECT_NEAR(got, std::abs(firstOrder(a, b, c, f)), 1e-4) << f;
  }
}

TEST(RampedFilter, CoefficientsGlideAtMostOneThousandthPerSample) {
  // 0.5 away: one block of 500 samples gets there at 0.001 per sample, not sooner.
  RampedFilter filter;
  filter.targetA = 0.5f;
  filter.targetB = -0.5f;
  std::vector<float> l(1000, 0.0f), r(1000, 0.0f);
  filter.process(l.data(), r.data(), 250);
  EXPECT_NEAR(filter.a, 0.25f, 1e-4f);
  EXPECT_NEAR(filter.b, -0.25f, 1e-4f);
  filter.process(l.data(), r.data(), 250);
  EXPECT_NEAR(filter.a, 0.5f, 1e-4f);
  EXPECT_NEAR(filter.b, -0.5f, 1e-4f);

  // A long block covers the distance evenly over the whole block.
  RampedFilter slow;
  slow.targetC = 0.5f;
  slow.process(l.data(), r.data(), 1000);
  EXPECT_NEAR(slow.c, 0.5f, 1e-4f);

  // In 64-sample blocks the last blocks slow down: the target is reached after 512 samples.
  RampedFilter blocks;
  blocks.targetA = 0.5f;
  int samples = 0;
  while (blocks.a < 0.5f - 1e-5f && samples < 2000) {
    blocks.process(l.data(), r.data(), 64);
    samples += 64;
  }
  EXPECT_EQ(samples, 512);
}

TEST(RampedFilter, ChannelsKeepTheirOwnState) {
  RampedFilter filter;
  filter.a = filter.targetA = 0.18f;
  filter.b = filter.targetB = 0.02f;
  filter.c = filter.targetC = -0.6f;
  std::vector<float> l(256, 0.0f), r(256, 0.0f);
  l[0] = 1.0f;
  filter.process(l.data(), r.data(), 256);
  for (float v : r) EXPECT_EQ(v, 0.0f);
  // Impulse response of (a + b z^-1)/(1 + c z^-1): a, then (b - c·a)·(-c)^(n-1).
  EXPECT_NEAR(l[0], 0.18f, 1e-7f);
  for (int n = 1; n < 20; ++n) EXPECT_NEAR(l[size_t(n)], (0.02 + 0.6 * 0.18) * std::pow(0.6, n - 1), 1e-6) << n;
}

}  // namespace
