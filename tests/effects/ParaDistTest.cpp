#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "effects/ParaDist.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

struct Shape {
  double hard, soft;
};

Shape shapeFor(double drive, double color) {
  const double d = 1.0 - 0.92 * drive / 100.0, c = color / 100.0;
  return {1.0 / (d * d + 0.1), d * d / (0.5 * c + 0.2)};
}

double fuzz(double hp, const Shape& s) {
  const double w = hp > 0 ? 2.0 * s.hard : -s.hard;
  return hp / (w * hp + s.soft);
}

// A fresh instance's filter passes its first sample untouched, so the first output is the
// fuzz curve itself.
TEST(ParaDist, FirstSampleFollowsTheFuzzCurve) {
  for (float drive : {0.0f, 50.0f, 100.0f}) {
    for (float color : {0.0f, 50.0f, 100.0f}) {
      for (double x : {0.001, 0.1, 0.5, 1.0, 3.0, -0.001, -0.1, -0.5, -1.0, -3.0}) {
        Rig rig = Rig::of<ParaDist>(44100.0f);
        rig.set(drive, color);
        const Stereo out = rig.run(Stereo(1, static_cast<float>(x)));
        const double expected = fuzz(x, shapeFor(drive, color));
        EXPECT_NEAR(out.l[0], expected, 1e-6 * std::fabs(expected) + 1e-9) << drive << " " << color << " " << x;
      }
    }
  }
}

TEST(ParaDist, SilenceGivesSilence) {
  Rig rig = Rig::of<ParaDist>(48000.0f);
  const Stereo out = rig.run(Stereo(48000));
  EXPECT_EQ(fxtest::peakOf(out), 0.0f);
}

// The whole effect in double precision, block by block.
std::vector<double> model(const Stereo& in, double drive, double color, double rate, int block) {
  const Shape s = shapeFor(drive, color);
  const double c = color / 100.0, f = std::pow(0.7 * c + 0.3, 3.0) * 3000.0 / rate;
  const double g1Target = f * f / (0.5 * f * f + 0.025), g2Target = 1.0 - f / (f + 0.1);
  double g1 = 0, g2 = 0, lp = 0, hp = 0;
  std::vector<double> out;
  for (size_t pos = 0; pos < in.size(); pos += static_cast<size_t>(block)) {
    const size_t n = std::min<size_t>(static_cast<size_t>(block), in.size() - pos);
    const double span = std::max(0.01 * rate, static_cast<double>(n));
    const double d1 = (g1Target - g1) / span, d2 = (g2Target - g2) / span;
    for (size_t i = pos; i < pos + n; ++i) {
      hp = g2 * hp + in.l[i] - lp;
      lp += hp * g1;
      out.push_back(fuzz(hp, s));
      g1 += d1;
      g2 += d2;
    }
  }
  return out;
}

TEST(ParaDist, KnownResponse) {
  // The darkest colours integrate the input to hundreds of times its level at high rates,
  // where single and double precision part ways; they are checked at the lowest rate only.
  const struct {
    float rate, color;
  } cases[] = {{22050, 0}, {22050, 100}, {48000, 60}, {48000, 100}, {192000, 60}, {192000, 100}};
  for (const auto& c : cases) {
    Rig rig = Rig::of<ParaDist>(c.rate);
    rig.set(70.0f, c.color);
    Stereo in = fxtest::sine(static_cast<size_t>(c.rate * 0.2), 110.0, c.rate, 0.7f);
    const Stereo out = rig.run(in);
    const std::vector<double> expected = model(in, 70.0, c.color, c.rate, 64);
    // Rounding moves the zero crossings, where the fuzz is steepest, by a hair: a shift of
    // up to half a sample is allowed.
    for (size_t i = 1; i + 1 < in.size(); ++i) {
      const double slope = std::max(std::fabs(expected[i] - expected[i - 1]), std::fabs(expected[i + 1] - expected[i]));
      ASSERT_NEAR(out.l[i], expected[i], 1e-4 + 1e-3 * std::fabs(expected[i]) + 0.5 * slope)
          << c.rate << " " << c.color << " " << i;
    }
  }
}

// The coefficients glide over 10 ms from where each call finds them: a call of 10 ms or more
// lands on the targets, shorter calls move part of the way.
TEST(ParaDist, CoefficientsGlideOverTenMilliseconds) {
  const double f = std::pow(0.65, 3.0) * 3000.0 / 48000.0;
  const double g1Target = f * f / (0.5 * f * f + 0.025);
  {
    Rig rig = Rig::of<ParaDist>(48000.0f);
    rig.run(Stereo(480), 480);
    const auto& fx = static_cast<ParaDist&>(*rig.fx);
    EXPECT_NEAR(fx.cutoff, g1Target, 5e-6);
    EXPECT_NEAR(fx.damping, 1.0 - f / (f + 0.1), 5e-6);
  }
  for (int block : {1, 37, 64}) {
    Rig rig = Rig::of<ParaDist>(48000.0f);
    rig.run(Stereo(static_cast<size_t>(block) * 10), block);
    const double left = std::pow(1.0 - block / 480.0, 10.0);
    EXPECT_NEAR(static_cast<ParaDist&>(*rig.fx).cutoff, g1Target * (1.0 - left), 1e-5) << block;
  }
}

}  // namespace
