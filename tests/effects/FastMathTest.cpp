#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "effects/FastMath.h"
#include "effects/SampleGuard.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(FastMath, LogAndPowerFollowTheLibrary) {
  EXPECT_NEAR(kDecibelsToLog2, 1.0 / (20.0 * std::log10(2.0)), 1e-8);
  EXPECT_NEAR(kDecibelsToNatural, std::log(10.0) / 20.0, 1e-8);
  double worstLog = 0.0, worstPow = 0.0;
  for (double x = 1e-4; x < 1e4; x *= 1.0007) {
    const float xf = static_cast<float>(x);
    worstLog = std::max(worstLog, std::fabs(fastLog2(xf) - std::log2(static_cast<double>(xf))));
  }
  EXPECT_LT(worstLog, 2e-4);
  EXPECT_FLOAT_EQ(fastLog2(-8.0f), fastLog2(8.0f));  // magnitudes: the sign bit is ignored
  // The whole exponent range, so every entry of the exponent table is used.
  for (double y = -126.0; y < 127.9; y += 0.0037) {
    const float yf = static_cast<float>(y);
    worstPow = std::max(worstPow, std::fabs(fastPow2(yf) / std::exp2(static_cast<double>(yf)) - 1.0));
  }
  EXPECT_LT(worstPow, 2e-5);
}

// Out-of-range and non-finite arguments stay inside the table (the sanitizer build would
// report a read outside it) and give finite, non-negative factors.
TEST(FastMath, PowerOfTwoIsSafeForAnyArgument) {
  for (float y : {kNaN, -kNaN, kInf, -kInf, -200.0f, 200.0f, -127.0f, -126.5f, 127.99f, 127.999f, 127.99999f,
                  128.0f, 1e30f, -1e30f}) {
    EXPECT_TRUE(std::isfinite(fastPow2(y)) && fastPow2(y) >= 0.0f) << y;
  }
  EXPECT_EQ(fastPow2(kNaN), 0.0f);
  EXPECT_EQ(fastPow2(-kInf), 0.0f);
  EXPECT_GT(fastPow2(kInf), 1e38f);
}

// The soft clipper: odd, rising, transparent for small values and never reaching full scale
// (huge arguments come out at full scale, not as inf / inf).
TEST(FastMath, SoftClipperCurve) {
  float previous = -1.0f;
  for (float y = -50.0f; y <= 50.0f; y += 0.01f) {
    EXPECT_EQ(softClip(-y), -softClip(y)) << y;
    EXPECT_GE(softClip(y), previous - 1e-6f) << y;  // flat to rounding near full scale
    EXPECT_LT(std::fabs(softClip(y)), 1.0f) << y;
    previous = softClip(y);
  }
  EXPECT_NEAR(softClip(1e-3f), 1e-3f, 1e-8f);
  EXPECT_NEAR(softClip(1.0f), 0.75f, 1e-6f);
  EXPECT_NEAR(softClip(1e20f), 1.0f, 1e-5f);
  EXPECT_NEAR(softClip(-1e38f), -1.0f, 1e-5f);
}

TEST(FastMath, SmoothingCoefficientAndLinkedPeak) {
  EXPECT_FLOAT_EQ(smoothingCoefficient(0.0f), 1.0f);
  EXPECT_FLOAT_EQ(smoothingCoefficient(1.0f), 2.0f / 3.0f);
  // Cancellation in single precision costs a fraction of a percent for long times.
  for (float t : {100.0f, 1000.0f, 48000.0f}) EXPECT_NEAR(smoothingCoefficient(t) * t, 1.0f, 0.005f);
  EXPECT_EQ(linkedPeak(0.0f, 0.0f), 0.0001f);
  EXPECT_EQ(linkedPeak(-0.5f, 0.2f), 0.5f);
  EXPECT_EQ(linkedPeak(0.1f, -0.7f), 0.7f);
  EXPECT_EQ(linkedPeak(-1e-6f, 1e-5f), 0.0001f);
}

TEST(SampleGuard, KeepsBrokenSamplesOutOfEffects) {
  const std::pair<float, float> cases[] = {{0.25f, 0.25f},        {-kSampleLimit, -kSampleLimit}, {kNaN, 0.0f},
                                           {-kNaN, 0.0f},         {kInf, kSampleLimit},          {-kInf, -kSampleLimit},
                                           {3e30f, kSampleLimit}, {1e-40f, 1e-40f}};
  for (const auto& [in, out] : cases) EXPECT_EQ(guardSample(in), out) << in;
}

}  // namespace
