#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "engine/dsp/RampedFilter.h"
#include "engine/dsp/ShelfFilter.h"

namespace {

constexpr double kPi = std::numbers::pi;
using cd = std::complex<double>;

// (n0 + n1·z^-1) / (1 + d1·z^-1) in double: its response at f (cycles per sample) and sample n
// of its impulse response.
cd firstOrder(double n0, double n1, double d1, double f) {
  const cd zi = std::polar(1.0, -2 * kPi * f);
  return (n0 + n1 * zi) / (1.0 + d1 * zi);
}
double impulse(double n0, double n1, double d1, int n) { return n == 0 ? n0 : (n1 - d1 * n0) * std::pow(-d1, n - 1); }

TEST(ShelfFilter, ResponseFollowsTheFirstOrderShelf) {
  for (const auto& [fc, g] : {std::pair{2.0 / 44100, 10.0}, {0.0031746032, 0.1}, {0.011337869, 100.0}, {0.011337869, 0.01}}) {
    ShelfCoefficients s;
    designShelf(&s, static_cast<float>(fc), static_cast<float>(g));
    const auto h = [&](double f) { return std::abs(firstOrder(s.b0, s.b1, s.a, f)); };
    EXPECT_NEAR(h(0.0), g, 2e-3 * g) << fc << " " << g;  // g at DC, about 1 far above the corner
    EXPECT_NEAR(h(0.25), 1.0, 0.05) << fc << " " << g;
    // The analog shelf (s + wz)/(s + wp)·wp/wz·g, pole and zero a factor sqrt(g) below and
    // above the corner; the design's exponential stand-in puts the corner at about 0.94·pi·fc
    // rad per sample. Below a tenth of the sample rate the two agree closely.
    const double wc = 0.9375 * kPi * fc, wp = wc / std::sqrt(g), wz = wc * std::sqrt(g);
    for (double w : {0.1 * wc, 0.5 * wc, wc, 2 * wc, 10 * wc}) {
      const double analog = std::abs(cd(wz, w) / cd(wp, w)) * wp / wz * g;
      EXPECT_NEAR(h(w / (2 * kPi)), analog, 0.04 * analog) << fc << " " << g << " " << w;
    }
    // The recurrence realises that transfer function.
    std::vector<float> x(64, 0.0f);
    x[0] = 1.0f;
    float state = 0.0f;
    shelfProcessMono(s, state, x.data(), 64);
    for (int n = 0; n < 64; ++n) EXPECT_NEAR(x[size_t(n)], impulse(s.b0, s.b1, s.a, n), 1e-5 * (1 + std::fabs(s.b0))) << n;
  }
  // Unity gain passes the signal; so does a corner or gain at or below 0 or not finite.
  ShelfCoefficients s;
  designShelf(&s, 0.001f, 1.0f);
  EXPECT_TRUE(s.b0 == 1.0f && s.b1 == s.a);
  const ShelfCoefficients plain;
  for (const auto& [fc, g] : {std::pair{0.0f, 10.0f}, {-1.0f, 10.0f}, {NAN, 10.0f}, {0.01f, 0.0f}, {0.01f, -3.0f}, {INFINITY, 2.0f}}) {
    designShelf(&s, fc, g);
    EXPECT_TRUE(s.a == plain.a && s.b0 == plain.b0 && s.b1 == plain.b1) << fc << " " << g;
  }
}

// y = a·x + s, s := b·x - c·y is (a + b·z^-1) / (1 + c·z^-1), each channel with its own state,
// kept from call to call.
TEST(RampedFilter, SettledResponseAndChannelsApart) {
  RampedFilter whole, single;
  for (RampedFilter* f : {&whole, &single}) {
    f->a = f->targetA = 0.18f;
    f->b = f->targetB = 0.02f;
    f->c = f->targetC = -0.6f;
  }
  std::vector<float> l(256, 0.0f), r(256, 0.0f);
  l[0] = 1.0f;
  r[5] = -2.0f;
  std::vector<float> l1 = l, r1 = r;
  whole.process(l.data(), r.data(), 256);
  for (int i = 0; i < 256; ++i) single.process(&l1[size_t(i)], &r1[size_t(i)], 1);
  EXPECT_TRUE(l == l1 && r == r1);
  for (int n = 0; n < 40; ++n) {
    EXPECT_NEAR(l[size_t(n)], impulse(0.18f, 0.02f, -0.6f, n), 1e-6) << n;
    EXPECT_NEAR(r[size_t(n + 5)], -2.0 * impulse(0.18f, 0.02f, -0.6f, n), 2e-6) << n;
  }
}

TEST(RampedFilter, CoefficientsGlideAtMostOneThousandthPerSample) {
  // 0.5 away: one block of 500 samples gets there at 0.001 per sample, not sooner.
  RampedFilter filter;
  filter.targetA = 0.5f;
  filter.targetB = -0.5f;
  std::vector<float> l(1000, 0.0f), r(1000, 0.0f);
  filter.process(l.data(), r.data(), 250);
  EXPECT_TRUE(std::fabs(filter.a - 0.25f) < 1e-4f && std::fabs(filter.b + 0.25f) < 1e-4f);
  filter.process(l.data(), r.data(), 250);
  EXPECT_TRUE(std::fabs(filter.a - 0.5f) < 1e-4f && std::fabs(filter.b + 0.5f) < 1e-4f);
  // A long block covers the distance evenly over the whole block.
  RampedFilter slow;
  slow.targetC = 0.5f;
  slow.process(l.data(), r.data(), 1000);
  EXPECT_NEAR(slow.c, 0.5f, 1e-4f);
  // In 64-sample blocks the last blocks slow down: the target is reached after 512 samples.
  RampedFilter blocks;
  blocks.targetA = 0.5f;
  int samples = 0;
  for (; blocks.a < 0.5f - 1e-5f && samples < 2000; samples += 64) blocks.process(l.data(), r.data(), 64);
  EXPECT_EQ(samples, 512);
}

}  // namespace
