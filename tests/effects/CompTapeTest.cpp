#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "effects/CompTape.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

// The tape chain in double precision: wobble sources, ramped filter, saturator,
// de-emphasis, gain follower. Draws from its own copy of the generator.
struct TapeModel {
  struct Source {
    double phase = 0, p[3] = {0, 0, 0};
  };
  struct Channel {
    double lp = 0, hp = 0, y = 0, m = 0, g = 1, rho = 0, k = 0, b = 0;
    Source a, b2;
  };
  Channel ch[2];
  uint32_t random;

  explicit TapeModel(uint32_t seed) : random(seed) {}

  void advance(Source& s, double h) {
    s.phase += h;
    if (s.phase >= 1.0) {
      s.p[0] = s.p[1];
      s.p[1] = s.p[2];
      random = random * 1664525u + 1013904223u;
      s.p[2] = static_cast<double>(random) * 2.3283e-10;
      s.phase -= std::floor(s.phase);
    }
  }
  static double value(const Source& s) {
    const double p = s.phase;
    return 0.5 * ((1 - p) * (1 - p) * s.p[0] + (1 + 2 * p - 2 * p * p) * s.p[1] + p * p * s.p[2]);
  }

  Stereo run(const Stereo& in, double drivePercent, double agePercent, double rate) {
    const double d = drivePercent / 100.0, a = agePercent / 100.0, c = std::min(5000.0 / rate, 1.0);
    const double A = 2 * d + 0.5, B = 1 - 0.9 * d, C = a * a * d, E = 1 / (4 * c + 1), F = 1 / (c + 0.25);
    Stereo out(in.size());
    for (size_t pos = 0; pos < in.size(); pos += 64) {
      const size_t n = std::min<size_t>(64, in.size() - pos);
      const double h = std::min(3.0 * static_cast<double>(n) / rate, 1.0);
      for (Channel& s : ch) {
        advance(s.a, h);
        advance(s.b2, h);
      }
      for (int side = 0; side < 2; ++side) {
        Channel& s = ch[side];
        const double k = c + (value(s.a) - 0.5) * c * a;
        const double rho = 1 / (4 * k + 1), b = 0.25 + (value(s.b2) - 0.8) * 0.25 * a;
        const double dk = (k - s.k) / n, drho = (rho - s.rho) / n, db = (b - s.b) / n;
        const std::vector<float>& x = side ? in.r : in.l;
        std::vector<float>& o = side ? out.r : out.l;
        for (size_t i = pos; i < pos + n; ++i) {
          s.hp = s.rho * s.hp + x[i] - s.lp;
          s.lp += s.k * s.hp;
          const double w = s.b * s.hp + s.lp;
          const double z = w / (std::fabs(w) * A + B + w * w * C);
          const double m2 = (z - s.y) * F;
          const double v = s.y + m2 - E * s.m;
          s.m = m2;
          s.y = z - 0.25 * m2;
          const double t = 1 / (std::fabs(v) * A + B);
          s.g += (t < s.g ? 0.7 : 0.1) * (t - s.g);
          o[i] = static_cast<float>(s.g * v);
          s.k += dk;
          s.rho += drho;
          s.b += db;
        }
      }
    }
    return out;
  }
};

Stereo program(double rate, size_t n) {
  Stereo s = fxtest::sine(n, 180.0, rate, 0.7f);
  const Stereo hi = fxtest::sine(n, 2500.0, rate, 0.3f);
  for (size_t i = 0; i < n; ++i) {
    s.l[i] += hi.l[i];
    s.r[i] = -0.5f * s.l[i] + 0.2f * hi.l[i];
  }
  return s;
}

void expectClose(const Stereo& a, const Stereo& b, double tol) {
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_NEAR(a.l[i], b.l[i], tol) << "left " << i;
    ASSERT_NEAR(a.r[i], b.r[i], tol) << "right " << i;
  }
}

TEST(CompTape, KnownResponseWithoutAge) {
  for (float rate : {22050.0f, 44100.0f, 192000.0f}) {
    for (float drive : {0.0f, 50.0f, 100.0f}) {
      Rig rig = Rig::of<CompTape>(rate);
      rig.set(drive, 0.0f);
      const Stereo in = program(rate, static_cast<size_t>(rate * 0.25));
      TapeModel model(0);
      expectClose(rig.run(in), model.run(in, drive, 0.0, rate), 2e-4);
    }
  }
}

TEST(CompTape, KnownResponseWithAge) {
  const float rate = 8000.0f;  // a new random point every 42 frames
  for (float age : {50.0f, 100.0f}) {
    CompTape::sharedRandom().reseed(777u);
    Rig rig = Rig::of<CompTape>(rate);
    rig.set(80.0f, age);
    const Stereo in = program(rate, 7000);
    TapeModel model(777u);
    expectClose(rig.run(in), model.run(in, 80.0, age, rate), 5e-4);
    EXPECT_EQ(CompTape::sharedRandom().peek(), model.random);
  }
}

// With "Age" 0 the random points still move on but change nothing.
TEST(CompTape, NoAgeIsIndependentOfTheRandomState) {
  const Stereo in = program(48000.0, 48000);
  CompTape::sharedRandom().reseed(1u);
  Rig a = Rig::of<CompTape>(48000.0f);
  a.set(70.0f, 0.0f);
  const Stereo outA = a.run(in);
  const uint32_t after = CompTape::sharedRandom().peek();
  EXPECT_NE(after, 1u);
  CompTape::sharedRandom().reseed(99u);
  Rig b = Rig::of<CompTape>(48000.0f);
  b.set(70.0f, 0.0f);
  const Stereo outB = b.run(in);
  EXPECT_EQ(outA.l, outB.l);
  EXPECT_EQ(outA.r, outB.r);
}

// At 192 Hz every 64-frame chunk takes a new point in each of the four sources: left
// cutoff, left band, right cutoff, right band. The instance processed first takes the
// earlier numbers.
TEST(CompTape, InstancesShareOneRandomSequence) {
  CompTape::sharedRandom().reseed(4242u);
  Rig first = Rig::of<CompTape>(192.0f), second = Rig::of<CompTape>(192.0f);
  first.run(Stereo(64));
  second.run(Stereo(64));
  uint32_t x = 4242u;
  auto draw = [&x] {
    x = x * 1664525u + 1013904223u;
    return static_cast<float>(x) * 2.3283e-10f;
  };
  for (Rig* rig : {&first, &second}) {
    const auto& tape = static_cast<CompTape&>(*rig->fx);
    EXPECT_EQ(tape.channels[0].cutoffWobble.points[2], draw());
    EXPECT_EQ(tape.channels[0].bandWobble.points[2], draw());
    EXPECT_EQ(tape.channels[1].cutoffWobble.points[2], draw());
    EXPECT_EQ(tape.channels[1].bandWobble.points[2], draw());
  }
}

TEST(CompTape, BoundedForHotInput) {
  for (float age : {0.0f, 100.0f}) {
    Rig rig = Rig::of<CompTape>(44100.0f);
    rig.set(100.0f, age);
    const Stereo out = rig.run(fxtest::noise(44100, 10.0f, 8));
    EXPECT_TRUE(fxtest::allFinite(out));
    EXPECT_LT(fxtest::peakOf(out), 4.0f);
  }
}

}  // namespace
