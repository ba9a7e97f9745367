#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/CompGlue.h"
#include "effects/CompOptical.h"
#include "effects/CompVinyl.h"
#include "tests/effects/EffectTestKit.h"

// The compressors, the limiter and the saturators against their settled curves, worked out
// here in double precision from the stated formulas, and against the ceilings they promise.
namespace {

using fxtest::kLog2PerDb;
using fxtest::Rig;
using fxtest::softClipRef;
using fxtest::Stereo;

// 1 / (1 + x + x^2/2 + 0.17 x^4) at 0.2 dB and 5 dB.
double limiterDecay(double db) {
  const double x = db * std::log(10.0) / 20.0;
  return 1.0 / (1.0 + x + 0.5 * x * x + 0.17 * std::pow(x, 4));
}

double opticalRectified(double x) { return x >= 0 ? x : -0.8 * x; }

// Settled output of one channel at the steady level x, `louder` being the level of the channel
// that drives a stereo-linked detector.
using Reference = double (*)(double x, double louder, double p0, double p1);

const Reference kGlue = [](double x, double louder, double gainDb, double) {
  const double threshold = (-10.0 - 1.333 * gainDb) * kLog2PerDb;
  const double over = threshold - std::log2(std::max(std::fabs(louder), 0.0001));
  return softClipRef(std::exp2(std::min(over, 0.0) * (2.0 / 3.0) + gainDb * kLog2PerDb) * x);
};
const Reference kLimiter = [](double x, double louder, double gainDb, double) {
  const double drive = std::pow(10.0, gainDb / 20.0);
  const double t = limiterDecay(0.2) / (drive * std::fabs(louder) + 0.001);
  return std::min(t * limiterDecay(5.0), 1.0) * drive * x;
};
const Reference kOptical = [](double x, double louder, double gainDb, double) {
  const double lo = std::pow(10.0, -gainDb / 80.0), q = lo / std::pow(10.0, gainDb / 20.0);
  return lo / (opticalRectified(louder) + 0.0001 + q) * x;
};
const Reference kUpward = [](double x, double louder, double ratio, double) {
  const double k = 1.0 - 1.0 / ratio, offset = std::max(1.0 - ratio, 0.0);
  const double threshold = (std::min(-10.0 * k, 0.0) - 12.0) * kLog2PerDb;
  const double level = std::log2(std::max(std::fabs(louder), 0.0001));
  return std::exp2(std::min(std::max(threshold - offset - level, 0.0) * k + offset, -level)) * x;
};
const Reference kParallel = [](double x, double louder, double ratio, double) {
  const double level = std::log2(std::max(std::fabs(louder), 0.0001));
  return softClipRef(std::exp2(std::min(-level, (-15.0 * kLog2PerDb - level) * (1.0 - 1.0 / ratio))) * x);
};
// Each channel on its own: the smoothed gain reaches 1 / (slope |x| + 1 / G), the slope
// depending on the half-wave and the bias.
const Reference kTransformer = [](double x, double, double gainDb, double biasPercent) {
  const double g = std::pow(10.0, gainDb / 20.0), b = biasPercent / 100.0;
  const double h = 0.5 * g / (0.25 * g + 1.0) + 0.5;
  const double slope = (x > 0) == (b >= 0) ? h / (1.05 - std::fabs(b)) : (1.0 - 0.6 * std::fabs(b)) * h;
  return softClipRef(x / (slope * std::fabs(x) + 1.0 / g));
};
// At a steady level the tape's filter passes the level, the slopes of the de-emphasis vanish,
// and the saturator and the gain follower are left.
const Reference kTape = [](double x, double, double drivePercent, double agePercent) {
  const double d = drivePercent / 100.0, a = agePercent / 100.0, A = 2 * d + 0.5, B = 1 - 0.9 * d;
  const double z = x / (std::fabs(x) * A + B + x * x * a * a * d);
  return z / (std::fabs(z) * A + B);
};

TEST(Dynamics, SettlesOnTheStaticCurves) {
  const struct {
    const char* name;
    std::vector<float> p0, p1;
    std::vector<double> levels;
    double seconds, tolerance;
    Reference reference;
  } curves[] = {
      {"Sticky Compressor", {0, 6, 24, 48}, {100}, {0.0003, 0.01, 0.1, 0.3, 0.7, 1, 2.5}, 2, 3e-4, kGlue},
      {"Limiter", {0, 12, 48}, {100}, {0.001, 0.05, 0.2, 0.5, 1, 4}, 2, 2e-4, kLimiter},
      {"L.A. Optical", {0, 12, 30}, {100}, {0.001, 0.05, 0.5, 1, -0.05, -0.5, -1}, 4, 2e-4, kOptical},
      {"Upward Compressor", {0.1f, 0.5f, 2, 4, 10}, {100}, {0.0002, 0.003, 0.05, 0.2, 0.6, 1, 3}, 2, 2e-3, kUpward},
      {"Compressor", {0.1f, 1, 3, 10}, {100}, {0.0005, 0.01, 0.1, 0.178, 0.5, 1, 2}, 4, 2e-3, kParallel},
      {"Transformer Amp", {0, 12, 48}, {-100, -60, 0, 20, 100}, {0.001, 0.05, 0.3, 1, 5, -0.001, -0.05, -0.3, -1, -5},
       0.01, 1e-4, kTransformer},
      {"Tape Simulator", {0, 50, 100}, {0, 100}, {0.001, 0.1, 0.5, 1, 3, -0.5}, 1, 2e-4, kTape},
  };
  for (const auto& c : curves) {
    for (float p0 : c.p0) {
      for (float p1 : c.p1) {
        for (double x : c.levels) {
          Rig rig(c.name, 48000.0f);
          rig.set(p0, p1);
          Stereo in(fxtest::frames(c.seconds, 48000.0), static_cast<float>(x));
          in.r.assign(in.size(), static_cast<float>(-0.5 * x));  // the left channel is the louder
          const Stereo out = rig.run(in);
          const double left = c.reference(x, x, p0, p1), right = c.reference(-0.5 * x, x, p0, p1);
          SCOPED_TRACE(testing::Message() << c.name << " " << p0 << ", " << p1 << " at " << x);
          EXPECT_NEAR(out.l.back(), left, c.tolerance * std::fabs(left) + 1e-7);
          EXPECT_NEAR(out.r.back(), right, c.tolerance * std::fabs(right) + 1e-7);
        }
      }
    }
  }
}

// Whatever the input does, the output stays under what each effect promises: the limiter its
// ceiling (without look-ahead), the upward compressor full scale, the parallel compressor what
// its clipper makes of full scale, the clippers full scale, the tape its saturation.
TEST(Dynamics, OutputStaysUnderItsCeiling) {
  const struct {
    const char* name;
    float p0[2], p1[2], amplitude;
    double ceiling;
  } cases[] = {{"Limiter", {0, 48}, {0, 100}, 1, limiterDecay(0.2)},
               {"Upward Compressor", {0.1f, 10}, {0, 100}, 1, 1.0002},
               {"Compressor", {0.1f, 0.1f}, {0, 100}, 1, 0.75 * 1.0002},
               {"Transformer Amp", {0, 48}, {-100, 100}, 100, 1.000001},
               {"Tape Simulator", {100, 100}, {0, 100}, 10, 4}};
  for (const auto& c : cases) {
    Stereo bursts = fxtest::noise(2 * 44100, c.amplitude, 21);
    for (size_t i = 0; i < bursts.size(); ++i) {
      bursts.l[i] *= (i / 3000) % 3 ? 0.02f : 4.0f;
      bursts.r[i] *= (i / 3000) % 3 ? 0.02f : 4.0f;
    }
    for (float p0 : c.p0) {
      for (float p1 : c.p1) {
        Rig rig(c.name, 44100.0f);
        rig.set(p0, p1);
        EXPECT_LT(fxtest::peakOf(rig.run(bursts)), c.ceiling) << c.name << " " << p0 << ", " << p1;
      }
    }
  }
}

// Settings at which an effect passes its input untouched.
TEST(Dynamics, TransparentSettings) {
  for (const auto& [name, p0, amplitude] : {std::tuple{"Upward Compressor", 1.0f, 1.0f}, {"Limiter", 0.0f, 0.01f}}) {
    Rig rig(name, 44100.0f);
    rig.set(p0, 50.0f);
    const Stereo in = fxtest::noise(44100, amplitude, 5);
    EXPECT_TRUE(fxtest::same(rig.run(in), in)) << name;
  }
}

// A new rate clears the upward compressor's gain, as a reset does.
TEST(Dynamics, UpwardCompressorStartsAgainAtANewRate) {
  Rig rig("Upward Compressor", 48000.0f);
  rig.run(fxtest::noise(48000, 0.01f));
  ASSERT_GT(rig.as<CompVinyl>().gainLevel, 1.0f);  // quiet input was raised
  rig.fx->setSampleRate(96000.0f);
  EXPECT_EQ(rig.as<CompVinyl>().gainLevel, 0.0f);
}

// Frames until the glue compressor's gain level, settled at one level, has covered 63 % of the
// way to where it settles at another.
int timeToSettle(Rig& rig, float from, float to, float rate) {
  rig.run(Stereo(fxtest::frames(3.0, rate), from));
  std::vector<float> g;
  Stereo in(fxtest::frames(1.5, rate), to), out(in.size());
  rig.process(in, out, 1, [&](size_t) { g.push_back(rig.as<CompGlue>().gainLevel); });
  const float mark = g[0] + 0.6321f * (rig.as<CompGlue>().gainLevel - g[0]);
  for (size_t n = 1; n < g.size(); ++n)
    if (to > from ? g[n] <= mark : g[n] >= mark) return static_cast<int>(n);
  return -1;
}

TEST(Dynamics, GlueAttackAndReleaseFollowTheSampleRate) {
  for (float speed : {0.0f, 50.0f, 100.0f}) {
    const double u = std::pow(1.0 - 0.98 * speed / 100.0, 2.0);
    const double attack = 0.0005 + 0.02 * u, release = 0.0005 + 0.2 * u;
    for (float rate : {22050.0f, 192000.0f}) {
      Rig rig = Rig::of<CompGlue>(rate);
      rig.set(0.0f, speed);
      EXPECT_NEAR(timeToSettle(rig, 0.01f, 1.0f, rate) / rate, attack, 0.05 * attack + 1.5 / rate) << rate << speed;
      EXPECT_NEAR(timeToSettle(rig, 1.0f, 0.01f, rate) / rate, release, 0.05 * release + 1.5 / rate) << rate << speed;
    }
  }
  // A new rate retimes a running instance.
  Rig rig = Rig::of<CompGlue>(22050.0f);
  rig.run(fxtest::noise(22050, 0.5f));
  rig.fx->setSampleRate(192000.0f);
  const double expected = (0.0005 + 0.02 * std::pow(1.0 - 0.49, 2.0)) * 192000.0;
  EXPECT_NEAR(timeToSettle(rig, 0.01f, 1.0f, 192000.0f), expected, 0.05 * expected);
}

// The optical gain computer in double precision: a detector that rises fast and falls slowly,
// and a gain that moves by a share of its error growing with the error, never beyond it.
TEST(Dynamics, OpticalFollowsItsGainComputerOnDrums) {
  const double rate = 48000.0, gainDb = 12.0;
  Stereo in(48000);
  fxtest::Noise noise(11);
  for (size_t i = 0; i < in.size(); ++i) {
    const double t = static_cast<double>(i % 12000) / rate, env = std::exp(-t * 30.0);
    in.l[i] = static_cast<float>(0.8 * env * std::sin(2 * 3.14159265 * 60.0 * t) + 0.05 * env * noise.next());
    in.r[i] = 0.9f * in.l[i];
  }
  for (float speed : {0.0f, 50.0f, 100.0f}) {
    Rig rig = Rig::of<CompOptical>(static_cast<float>(rate));
    rig.set(static_cast<float>(gainDb), speed);
    const Stereo out = rig.run(in);
    const double s = speed / 100.0, lo = std::pow(10.0, -gainDb / 80.0), q = lo / std::pow(10.0, gainDb / 20.0);
    const double release = 1.0 / ((400.0 - 395.0 * s) * 0.001 * rate + 1.0);
    const double attack = 1.0 / ((8.0 - 6.0 * s) * 0.001 * rate + 1.0);
    double det = 1.0, g = 1.0;
    for (size_t i = 0; i < in.size(); ++i) {
      const double d = std::max(opticalRectified(in.l[i]), opticalRectified(in.r[i])) + 0.0001;
      det += (d > det ? 0.11 : 0.01) * (d - det);
      const double delta = lo / (det + q) - g;
      g += std::min((std::fabs(delta) + 0.1) * (delta < 0 ? attack : release), 1.0) * delta;
      ASSERT_NEAR(out.l[i], g * in.l[i], 5e-4 * std::fabs(g * in.l[i]) + 1e-6) << i << " speed " << speed;
    }
  }
}

// With a high "Gain" and a fast "Speed", the first loud hit after silence asks for a step
// larger than the whole error; taken as it stands, the gain overshoots, turns negative or
// runs away to infinity (at 22050 Hz).
TEST(Dynamics, OpticalLoudHitAfterSilenceNeverOvershoots) {
  for (float rate : {22050.0f, 44100.0f, 192000.0f}) {
    for (float gainDb : {36.0f, 42.0f, 48.0f}) {
      for (float speed : {90.0f, 100.0f}) {
        Rig rig = Rig::of<CompOptical>(rate);
        rig.set(gainDb, speed);
        Stereo in(fxtest::frames(1.5, rate));
        for (size_t i = fxtest::frames(1.0, rate); i < in.size(); ++i)
          in.l[i] = in.r[i] = ((i / 50) % 2) ? 1.0f : -1.0f;  // full-scale square after 1 s
        const double most = std::pow(10.0, gainDb / 20.0) * 1.001;
        float lowest = 1e9f, highest = -1e9f;
        Stereo out(in.size());
        rig.process(in, out, 64, [&](size_t) {
          lowest = std::min(lowest, rig.as<CompOptical>().gain);
          highest = std::max(highest, rig.as<CompOptical>().gain);
        });
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << gainDb << " dB, speed " << speed);
        EXPECT_TRUE(fxtest::allFinite(out));
        EXPECT_LE(fxtest::peakOf(out), most);
        EXPECT_GT(lowest, 0.0f);
        EXPECT_LE(highest, most);
      }
    }
  }
}

}  // namespace
