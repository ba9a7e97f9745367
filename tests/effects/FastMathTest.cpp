#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(FastMath, DecibelConstants) {
  EXPECT_NEAR(kDecibelsToLog2, 1.0 / (20.0 * std::log10(2.0)), 1e-8);
  EXPECT_NEAR(kDecibelsToNatural, std::log(10.0) / 20.0, 1e-8);
  // 6.0206 dB is a factor of 2: one base-2 unit.
  EXPECT_NEAR(20.0 * std::log10(2.0) * kDecibelsToLog2, 1.0, 1e-6);
}

TEST(FastMath, ExponentTableHoldsPowersOfTwo) {
  EXPECT_EQ(kExponentSteps[0], 0.0f);
  for (int i = 1; i <= 254; ++i) EXPECT_EQ(kExponentSteps[i], std::ldexp(1.0f, i - 127)) << i;
  EXPECT_TRUE(std::isinf(kExponentSteps[255]));
}

TEST(FastMath, LogAndPowerFollowTheLibrary) {
  double worstLog = 0.0;
  for (double x = 1e-4; x < 1e4; x *= 1.0007) {
    const float xf = static_cast<float>(x);
    worstLog = std::max(worstLog, std::fabs(fastLog2(xf) - std::log2(static_cast<double>(xf))));
  }
  EXPECT_LT(worstLog, 2e-4);
  // The sign bit is ignored: the detectors feed magnitudes anyway.
  EXPECT_FLOAT_EQ(fastLog2(-8.0f), fastLog2(8.0f));

  double worstPow = 0.0;
  for (double y = -30.0; y < 30.0; y += 0.0013) {
    const float yf = static_cast<float>(y);
    worstPow = std::max(worstPow, std::fabs(fastPow2(yf) / std::exp2(static_cast<double>(yf)) - 1.0));
  }
  EXPECT_LT(worstPow, 2e-5);
  EXPECT_NEAR(fastPow2(0.0f), 1.0f, 1e-6f);
  EXPECT_NEAR(fastPow2(-1.0f), 0.5f, 1e-6f);
}

// Out-of-range and non-finite arguments stay inside the table (the sanitizer build would
// report a read outside it) and give finite, non-negative factors.
TEST(FastMath, PowerOfTwoIsSafeForAnyArgument) {
  for (float y : {kNaN, -kNaN, kInf, -kInf, -200.0f, 200.0f, -127.0f, -126.5f, 127.99f, 127.999f,
                  127.99999f, 128.0f, 1e30f, -1e30f}) {
    const float v = fastPow2(y);
    EXPECT_TRUE(std::isfinite(v)) << y;
    EXPECT_GE(v, 0.0f) << y;
  }
  EXPECT_EQ(fastPow2(kNaN), 0.0f);
  EXPECT_EQ(fastPow2(-kInf), 0.0f);
  EXPECT_GT(fastPow2(kInf), 1e38f);
}

TEST(FastMath, SoftClipperCurve) {
  // y (1 + a + a^2) / (1 + a + a^2 + a^3), evaluated in double.
  auto reference = [](double y) {
    const double a = std::fabs(y);
    return y * (1 + a + a * a) / (1 + a + a * a + a * a * a);
  };
  for (double y : {0.0, 1e-3, 0.1, 0.5, 1.0, 2.0, 5.0, 40.0, 1000.0}) {
    EXPECT_NEAR(softClip(static_cast<float>(y)), reference(y), 1e-6) << y;
    EXPECT_EQ(softClip(static_cast<float>(-y)), -softClip(static_cast<float>(y))) << y;
  }
  EXPECT_FLOAT_EQ(softClip(1.0f), 0.75f);
  float previous = -1.0f;
  for (float y = -50.0f; y <= 50.0f; y += 0.01f) {
    const float s = softClip(y);
    EXPECT_GE(s, previous - 1e-6f) << y;  // flat to rounding near full scale
    EXPECT_LT(std::fabs(s), 1.0f) << y;
    previous = s;
  }
  // Huge arguments come out at full scale, not as inf / inf.
  EXPECT_NEAR(softClip(1e20f), 1.0f, 1e-5f);
  EXPECT_NEAR(softClip(-1e38f), -1.0f, 1e-5f);
}

TEST(FastMath, SmoothingCoefficient) {
  EXPECT_FLOAT_EQ(smoothingCoefficient(0.0f), 1.0f);
  EXPECT_FLOAT_EQ(smoothingCoefficient(1.0f), 2.0f / 3.0f);
  // 1 - t^2 / (1 + t + t^2) loses digits to cancellation in single precision for long times,
  // a fraction of a percent of the time constant.
  for (float t : {100.0f, 1000.0f, 48000.0f}) EXPECT_NEAR(smoothingCoefficient(t) * t, 1.0f, 0.005f);
}

TEST(FastMath, LinkedPeakHasAFloor) {
  EXPECT_EQ(linkedPeak(0.0f, 0.0f), 0.0001f);
  EXPECT_EQ(linkedPeak(-0.5f, 0.2f), 0.5f);
  EXPECT_EQ(linkedPeak(0.1f, -0.7f), 0.7f);
  EXPECT_EQ(linkedPeak(-1e-6f, 1e-5f), 0.0001f);
}

TEST(SampleGuard, KeepsBrokenSamplesOutOfEffects) {
  EXPECT_EQ(guardSample(0.25f), 0.25f);
  EXPECT_EQ(guardSample(-kSampleLimit), -kSampleLimit);
  EXPECT_EQ(guardSample(kNaN), 0.0f);
  EXPECT_EQ(guardSample(-kNaN), 0.0f);
  EXPECT_EQ(guardSample(kInf), kSampleLimit);
  EXPECT_EQ(guardSample(-kInf), -kSampleLimit);
  EXPECT_EQ(guardSample(3e30f), kSampleLimit);
  EXPECT_EQ(guardSample(1e-40f), 1e-40f);
}

}  // namespace
