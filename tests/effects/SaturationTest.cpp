#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "effects/CompTape.h"
#include "effects/ParaDist.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

// A tiny sine sees the tape's linear part: the resonant input filter (cutoff c = 5000 / rate,
// damping 1 / (4c + 1), band weight 1/4 without "Age"), the saturator's small-signal gain 1 / B
// twice (saturator and gain follower) and the de-emphasis, whose response is worked out here
// from its difference equations in the z domain.
TEST(Tape, SmallSignalsFollowTheLinearResponse) {
  for (double rate : {22050.0, 48000.0, 192000.0}) {
    for (double drive : {0.0, 100.0}) {
      for (double hz : {100.0, 2000.0, 7000.0}) {
        const double c = std::min(5000.0 / rate, 1.0), rho = 1.0 / (4.0 * c + 1.0), b = 0.25, B = 1.0 - 0.009 * drive;
        const double E = 1.0 / (4.0 * c + 1.0), F = 1.0 / (c + 0.25), w = 2.0 * M_PI * hz / rate;
        const std::complex<double> u = std::polar(1.0, -w);
        const std::complex<double> hp = 1.0 / (1.0 - rho * u + c * u / (1.0 - u));
        const std::complex<double> z = (b + c / (1.0 - u)) * hp / B;
        const std::complex<double> s = F * z * (1.0 - u) / (1.0 - 0.25 * F * u);
        const std::complex<double> h = (u * (z - 0.25 * s) + s - E * u * s) / B;

        Rig rig = Rig::of<CompTape>(static_cast<float>(rate));
        rig.set(static_cast<float>(drive), 0.0f);
        const float a = 1e-6f;
        const Stereo out = rig.run(fxtest::sine(fxtest::frames(0.3, rate), hz, rate, a));
        double worst = 0.0;
        for (size_t i = fxtest::frames(0.25, rate); i < out.size(); ++i)
          worst = std::max(worst, std::fabs(out.l[i] - a * std::abs(h) * std::sin(w * i + std::arg(h))));
        EXPECT_LT(worst, 0.005 * a * std::abs(h)) << rate << " Hz, drive " << drive << ", " << hz << " Hz";
      }
    }
  }
}

// The wobble of the cutoff and the band weight: a smooth curve through its random points that
// stays within them, centred on one half.
TEST(Tape, WobbleIsASmoothCurveThroughRandomPoints) {
  SharedLcg random(99u);
  CompTape::Wobble wobble;
  double previous = wobble.value(), sum = 0.0;
  const int steps = 200000;
  for (int i = 0; i < steps; ++i) {
    wobble.advance(0.01f, random);
    const double v = wobble.value();
    ASSERT_LE(std::fabs(v - previous), 0.0101) << i;
    ASSERT_TRUE(v >= 0.0 && v <= 1.0) << i;
    previous = v;
    sum += v;
  }
  EXPECT_NEAR(sum / steps, 0.5, 0.03);
}

// All instances draw from one generator, in processing order. At 192 Hz every 64-frame chunk
// takes a new point in each of the four sources: left cutoff, left band, right cutoff, right band.
// (Without "Age" the draws change nothing: the small-signal response above holds whatever they
// are.)
TEST(Tape, InstancesShareOneRandomSequence) {
  CompTape::sharedRandom().reseed(4242u);
  Rig first = Rig::of<CompTape>(192.0f), second = Rig::of<CompTape>(192.0f);
  first.run(Stereo(64));
  second.run(Stereo(64));
  uint32_t x = 4242u;
  for (Rig* rig : {&first, &second}) {
    for (const CompTape::Channel& ch : rig->as<CompTape>().channels) {
      for (const CompTape::Wobble* wobble : {&ch.cutoffWobble, &ch.bandWobble}) {
        x = x * 1664525u + 1013904223u;
        EXPECT_EQ(wobble->points[2], static_cast<float>(x) * 2.3283e-10f);
      }
    }
  }
}

struct FuzzShape {
  double hard, soft;
  FuzzShape(double drive, double color) {
    const double d = 1.0 - 0.92 * drive / 100.0;
    hard = 1.0 / (d * d + 0.1);
    soft = d * d / (0.5 * color / 100.0 + 0.2);
  }
  double operator()(double hp) const { return hp / ((hp > 0 ? 2.0 * hard : -hard) * hp + soft); }
};

// The whole fuzz in double precision: a resonant filter into the fuzz curve. The filter's
// coefficients glide over 10 ms from where each call finds them (over the whole call when it is
// longer), so the block size matters.
TEST(Fuzz, KnownResponse) {
  // The darkest colours integrate the input to hundreds of times its level at high rates,
  // where single and double precision part ways; they are checked at the lowest rate only.
  const struct {
    double drive, rate, color;
    int block;
  } cases[] = {{70, 22050, 0, 64},  {0, 22050, 100, 64}, {100, 48000, 60, 64}, {70, 48000, 100, 1},
               {0, 48000, 0, 37},   {70, 48000, 60, 4096}, {100, 192000, 60, 64}, {70, 192000, 100, 64},
               {100, 44100, 0, 64}, {0, 44100, 50, 64},  {50, 44100, 100, 64}};
  for (const auto& c : cases) {
    Rig rig = Rig::of<ParaDist>(static_cast<float>(c.rate));
    rig.set(static_cast<float>(c.drive), static_cast<float>(c.color));
    const Stereo in = fxtest::sine(fxtest::frames(0.2, c.rate), 110.0, c.rate, 0.7f);
    const Stereo out = rig.run(in, c.block);

    const FuzzShape shape(c.drive, c.color);
    const double f = std::pow(0.7 * c.color / 100.0 + 0.3, 3.0) * 3000.0 / c.rate;
    const double g1Target = f * f / (0.5 * f * f + 0.025), g2Target = 1.0 - f / (f + 0.1);
    double g1 = 0, g2 = 0, lp = 0, hp = 0;
    std::vector<double> expected;
    for (size_t pos = 0; pos < in.size(); pos += static_cast<size_t>(c.block)) {
      const size_t n = std::min<size_t>(static_cast<size_t>(c.block), in.size() - pos);
      const double span = std::max(0.01 * c.rate, static_cast<double>(n));
      const double d1 = (g1Target - g1) / span, d2 = (g2Target - g2) / span;
      for (size_t i = pos; i < pos + n; ++i, g1 += d1, g2 += d2) {
        hp = g2 * hp + in.l[i] - lp;
        lp += hp * g1;
        expected.push_back(shape(hp));
      }
    }
    // Rounding moves the zero crossings, where the fuzz is steepest, by a hair: a shift of up
    // to half a sample is allowed.
    for (size_t i = 1; i + 1 < in.size(); ++i) {
      const double slope = std::max(std::fabs(expected[i] - expected[i - 1]), std::fabs(expected[i + 1] - expected[i]));
      ASSERT_NEAR(out.l[i], expected[i], 1e-4 + 1e-3 * std::fabs(expected[i]) + 0.5 * slope)
          << c.drive << " " << c.rate << " " << c.color << " block " << c.block << " at " << i;
    }
  }
}

}  // namespace
