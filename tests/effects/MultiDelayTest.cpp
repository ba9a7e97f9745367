#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

#include "effects/MultiDelay.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::sampleAt;

// Drives a two-channel delay the way its owners do (write, then read the same block), asking
// for delayFor(t) at the start of each block that begins at sample t. The right channel gets
// the left one reversed; its output lands in *right.
template <typename DelayFor>
std::vector<float> run(MultiDelay& d, const std::vector<float>& l, int block, DelayFor delayFor,
                       std::vector<float>* right = nullptr) {
  const std::vector<float> r(l.rbegin(), l.rend());
  std::vector<float> outL(l.size()), outR(l.size());
  for (size_t p = 0; p < l.size(); p += block) {
    const int n = static_cast<int>(std::min<size_t>(block, l.size() - p));
    const float* in[2] = {l.data() + p, r.data() + p};
    float* out[2] = {outL.data() + p, outR.data() + p};
    d.write(in, n);
    d.read(out, n, delayFor(static_cast<int64_t>(p)));
  }
  if (right) *right = outR;
  return outL;
}

TEST(MultiDelay, ZeroDelayIsTheIdentityAndAFixedDelayAShift) {
  const std::vector<float> l = fxtest::noiseVector(3000, 1);
  for (int block : {1, 16, 37, 64}) {
    for (int delay : {0, 300}) {
      MultiDelay d;
      d.init(512, 2, 64);
      std::vector<float> outR;
      const std::vector<float> out = run(d, l, block, [&](int64_t) { return delay; }, &outR);
      const std::vector<float> r(l.rbegin(), l.rend());
      for (int64_t t = 0; t < 3000; ++t) {
        ASSERT_EQ(out[t], sampleAt(l, t - delay)) << block << " " << delay << " " << t;
        ASSERT_EQ(outR[t], sampleAt(r, t - delay)) << block << " " << delay << " " << t;
      }
    }
  }
}

// Read one sample at a time, the fade ends as soon as one step is left, so the last sample
// already takes the new tap whole.
TEST(MultiDelay, ADelayChangeCrossfadesLinearlyOverSixtyFourSamples) {
  const std::vector<float> l = fxtest::noiseVector(2000, 3);
  for (int block : {16, 37, 64, 1}) {
    // The change is asked for at the first block boundary at or after sample 640.
    const int64_t change = (640 + block - 1) / block * block, fadeEnd = change + (block == 1 ? 63 : 64);
    MultiDelay d;
    d.init(1024, 2, 64);
    const std::vector<float> out = run(d, l, block, [&](int64_t t) { return t < change ? 100 : 250; });
    for (int64_t t = 0; t < 2000; ++t) {
      const double w = std::clamp(static_cast<double>(t - change) / 64.0, 0.0, 1.0);
      const double expected = t >= fadeEnd ? sampleAt(l, t - 250)
                                            : (1.0 - w) * sampleAt(l, t - 100) + w * sampleAt(l, t - 250);
      ASSERT_NEAR(out[t], expected, 1e-6) << "block " << block << " t " << t;
    }
    EXPECT_EQ(d.currentDelay, 250);
    EXPECT_EQ(d.nextDelay, -1);
  }
}

// The delay jumps every few blocks to far-apart values, and requests made during a running
// crossfade wait for its end: through a slow sine each sample moves by at most the sine's
// slope plus one crossfade step between two taps.
TEST(MultiDelay, CrossfadesStayContinuous) {
  const double w = 2.0 * M_PI * 200.0 / 48000.0;
  std::vector<float> sine(6000);
  for (size_t i = 0; i < sine.size(); ++i) sine[i] = static_cast<float>(std::sin(w * i));
  MultiDelay d;
  d.init(2048, 2, 64);
  const std::vector<float> out = run(d, sine, 16, [](int64_t t) { return static_cast<int>((t / 48) % 5) * 397; });
  double worst = 0.0;
  for (size_t t = 1; t < out.size(); ++t) worst = std::max(worst, std::fabs(double(out[t]) - out[t - 1]));
  EXPECT_LE(worst, w + 2.0 / 64.0 + 1e-5);
}

// Clearing puts writer and reader back together wherever they stood: the delay in force stays
// the one heard, and a clear in the middle of a crossfade lands on the delay asked for.
TEST(MultiDelay, ClearKeepsTheDelayInForce) {
  const std::vector<float> l = fxtest::noiseVector(4000, 5);
  MultiDelay d;
  d.init(1000, 2, 64);
  run(d, std::vector<float>(l.begin(), l.begin() + 3737), 64, [](int64_t) { return 200; });
  d.clear();
  const std::vector<float> out = run(d, l, 16, [](int64_t) { return 200; });
  for (int64_t t = 0; t < 4000; ++t) ASSERT_EQ(out[t], sampleAt(l, t - 200)) << t;  // nothing old comes back
  run(d, std::vector<float>(16), 16, [](int64_t) { return 300; });
  EXPECT_EQ(d.nextDelay, 300);
  d.clear();
  EXPECT_EQ(d.currentDelay, 300);
  EXPECT_EQ(d.nextDelay, -1);
}

// Channels and crossfade are raised or lowered to what works, a block longer than the buffer
// keeps its last samples, empty blocks change nothing, and delays outside the buffer are held
// inside it.
TEST(MultiDelay, OddInputsStaySafe) {
  MultiDelay d;
  d.init(100, 7, 0);
  EXPECT_EQ(d.channels, 2);
  std::vector<float> in(500), out(500);
  for (size_t k = 0; k < in.size(); ++k) in[k] = static_cast<float>(k);
  const float* i[2] = {in.data(), in.data()};
  float* o[2] = {out.data(), out.data()};
  d.write(i, 500);
  EXPECT_TRUE(d.writePos == 0 && d.buffers[0][99] == 499.0f && d.buffers[0][0] == 400.0f);
  const auto state = [&d] { return std::tuple(d.currentDelay, d.nextDelay, d.readCursor, d.writePos); };
  const auto before = state();
  d.write(i, 0);
  d.read(o, 0, 5);
  d.read(o, -3, 5);
  EXPECT_TRUE(state() == before);
  for (int delay : {-50, 5000, 99, 0}) {
    d.write(i, 20);
    d.read(o, 20, delay);
    for (int k = 0; k < 20; ++k) ASSERT_TRUE(std::isfinite(out[k])) << delay;
  }
}

}  // namespace
