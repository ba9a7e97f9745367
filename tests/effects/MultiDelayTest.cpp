#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "effects/MultiDelay.h"
#include "effects/DelayTestSignals.h"
#include "support/AllocationCounter.h"

namespace {

double at(const std::vector<float>& x, int64_t t) {
  return t >= 0 && t < static_cast<int64_t>(x.size()) ? x[static_cast<size_t>(t)] : 0.0;
}

// Drives a two-channel delay the way its owners do (write, then read the same block), asking
// for delayFor(t) at the start of each block that begins at sample t.
template <typename DelayFor>
void run(MultiDelay& d, const std::vector<float>& l, const std::vector<float>& r, int block,
         DelayFor delayFor, std::vector<float>& outL, std::vector<float>& outR) {
  outL.assign(l.size(), 0.0f);
  outR.assign(r.size(), 0.0f);
  for (size_t p = 0; p < l.size(); p += block) {
    const int n = static_cast<int>(std::min<size_t>(block, l.size() - p));
    const float* in[2] = {l.data() + p, r.data() + p};
    float* out[2] = {outL.data() + p, outR.data() + p};
    d.write(in, n);
    d.read(out, n, delayFor(static_cast<int64_t>(p)));
  }
}

TEST(MultiDelay, ZeroDelayIsTheIdentityAndAFixedDelayAShift) {
  const std::vector<float> l = noise(3000, 1), r = noise(3000, 2);
  std::vector<float> outL, outR;
  for (int block : {1, 16, 37, 64}) {
    MultiDelay d;
    d.init(512, 2, 64);
    run(d, l, r, block, [](int64_t) { return 0; }, outL, outR);
    EXPECT_EQ(outL, l);
    EXPECT_EQ(outR, r);

    d.init(512, 2, 64);
    run(d, l, r, block, [](int64_t) { return 300; }, outL, outR);
    for (int64_t t = 0; t < 3000; ++t) {
      ASSERT_EQ(outL[t], at(l, t - 300)) << block << " " << t;
      ASSERT_EQ(outR[t], at(r, t - 300)) << block << " " << t;
    }
  }
}

TEST(MultiDelay, ADelayChangeCrossfadesLinearlyOverSixtyFourSamples) {
  const std::vector<float> l = noise(2000, 3), r = noise(2000, 4);
  std::vector<float> outL, outR;
  for (int block : {16, 37, 64, 1}) {
    // The change is asked for at the first block boundary at or after sample 640.
    const int64_t change = (640 + block - 1) / block * block;
    MultiDelay d;
    d.init(1024, 2, 64);
    run(d, l, r, block, [&](int64_t t) { return t < change ? 100 : 250; }, outL, outR);
    for (int64_t t = 0; t < 2000; ++t) {
      double expected;
      if (t < change) {
        expected = at(l, t - 100);
      } else if (t < change + 63 || (t == change + 63 && block != 1)) {
        // Read one sample at a time, the fade ends as soon as one step is left, so the last
        // sample already takes the new tap whole.
        const double w = static_cast<double>(t - change) / 64.0;
        expected = (1.0 - w) * at(l, t - 100) + w * at(l, t - 250);
      } else {
        expected = at(l, t - 250);
      }
      ASSERT_NEAR(outL[t], expected, 1e-6) << "block " << block << " t " << t;
    }
    EXPECT_EQ(d.currentDelay, 250);
    EXPECT_EQ(d.nextDelay, -1);
  }
}

TEST(MultiDelay, CrossfadesStayContinuous) {
  // A slow sine: each sample moves by at most `slope`, and two taps differ by at most 2.
  std::vector<float> sine(6000);
  const double w = 2.0 * M_PI * 200.0 / 48000.0;
  for (size_t i = 0; i < sine.size(); ++i) sine[i] = static_cast<float>(std::sin(w * i));
  const double slope = w;
  std::vector<float> outL, outR;
  MultiDelay d;
  d.init(2048, 2, 64);
  // The delay jumps every few blocks to far-apart values; requests made during a running
  // crossfade wait for it to end.
  run(d, sine, sine, 16,
      [](int64_t t) { return static_cast<int>((t / 48) % 5) * 397; }, outL, outR);
  double worst = 0.0;
  for (size_t t = 1; t < outL.size(); ++t)
    worst = std::max(worst, std::fabs(double(outL[t]) - outL[t - 1]));
  EXPECT_LE(worst, slope + 2.0 / 64.0 + 1e-5);
}

TEST(MultiDelay, ARequestDuringACrossfadeWaitsForItsEnd) {
  MultiDelay d;
  d.init(256, 1, 64);
  std::vector<float> in(16, 0.0f), out(16);
  const float* i[1] = {in.data()};
  float* o[1] = {out.data()};
  d.write(i, 16);
  d.read(o, 16, 10);
  d.write(i, 16);
  d.read(o, 16, 20);  // crossfade to 20 starts
  EXPECT_EQ(d.nextDelay, 20);
  d.write(i, 16);
  d.read(o, 16, 30);  // ignored while fading
  EXPECT_EQ(d.currentDelay, 10);
  EXPECT_EQ(d.nextDelay, 20);
  for (int k = 0; k < 2; ++k) {
    d.write(i, 16);
    d.read(o, 16, 30);
  }
  EXPECT_EQ(d.currentDelay, 20);
  EXPECT_EQ(d.nextDelay, -1);
  d.write(i, 16);
  d.read(o, 16, 30);  // asked again after the fade: now taken
  EXPECT_EQ(d.nextDelay, 30);
}

TEST(MultiDelay, ClearKeepsTheDelayInForce) {
  const std::vector<float> l = noise(4000, 5), r = noise(4000, 6);
  MultiDelay d;
  d.init(1000, 2, 64);
  std::vector<float> outL, outR;
  // Leave writer and reader somewhere in the middle of the buffer, then clear.
  run(d, l, r, 64, [](int64_t) { return 200; }, outL, outR);
  d.clear();
  EXPECT_EQ(d.writePos, 0);
  EXPECT_EQ(d.readCursor, 0);
  run(d, l, r, 16, [](int64_t) { return 200; }, outL, outR);
  for (int64_t t = 0; t < 4000; ++t) {
    ASSERT_EQ(outL[t], at(l, t - 200)) << t;  // silence first: nothing old survives
    ASSERT_EQ(outR[t], at(r, t - 200)) << t;
  }
  // A clear in the middle of a crossfade lands on the delay that was asked for.
  std::vector<float> a(64, 1.0f), out(64);
  const float* in[2] = {a.data(), a.data()};
  float* o[2] = {out.data(), out.data()};
  d.write(in, 16);
  d.read(o, 16, 300);
  d.clear();
  EXPECT_EQ(d.currentDelay, 300);
  EXPECT_EQ(d.nextDelay, -1);
}

TEST(MultiDelay, OddInputsStaySafe) {
  MultiDelay d;
  d.init(100, 7, 0);  // channels and crossfade raised or lowered to what works
  EXPECT_EQ(d.channels, 2);
  std::vector<float> in(500), outL(500), outR(500);
  for (size_t k = 0; k < in.size(); ++k) in[k] = static_cast<float>(k);
  const float* i[2] = {in.data(), in.data()};
  float* o[2] = {outL.data(), outR.data()};
  // A block longer than the buffer keeps its last 100 samples.
  d.write(i, 500);
  EXPECT_EQ(d.writePos, 0);
  EXPECT_EQ(d.buffers[0][99], 499.0f);
  EXPECT_EQ(d.buffers[0][0], 400.0f);
  // Empty blocks change nothing; delays outside the buffer are held inside it.
  const MultiDelay before = d;
  d.write(i, 0);
  d.read(o, 0, 5);
  d.read(o, -3, 5);
  EXPECT_EQ(d.currentDelay, before.currentDelay);
  EXPECT_EQ(d.readCursor, before.readCursor);
  EXPECT_EQ(d.writePos, before.writePos);
  for (int delay : {-50, 5000, 99, 0}) {
    d.write(i, 20);
    d.read(o, 20, delay);
    for (int k = 0; k < 20; ++k) ASSERT_TRUE(std::isfinite(outL[k]));
  }
}

TEST(MultiDelay, NoOperationAllocates) {
  MultiDelay d;
  d.init(4096, 2, 64);
  std::vector<float> a(64, 0.5f), b(64);
  const float* in[2] = {a.data(), a.data()};
  float* out[2] = {b.data(), b.data()};
  AllocationCounter counter;
  for (int k = 0; k < 200; ++k) {
    d.write(in, 64);
    d.read(out, 64, (k / 10) * 37);
    if (k % 50 == 0) d.clear();
  }
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
