#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <vector>

#include "engine/dsp/PanWidth.h"
#include "engine/dsp/TrackClip.h"
#include "support/AllocationCounter.h"

namespace {

constexpr double kPi = std::numbers::pi;

std::vector<float> sine(int n, double cycles, float amplitude) {
  std::vector<float> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) x[size_t(i)] = amplitude * static_cast<float>(std::sin(2 * kPi * cycles * i));
  return x;
}

TEST(TrackClip, FullAmountHoldsPositivePeaksNearPointTwoAndNegativeNearPointThree) {
  for (float rate : {22050.0f, 44100.0f, 192000.0f}) {
    ClipState state;
    state.sampleRate = rate;
    // Around the crests of a slow loud sine the gain has settled, so the output shows the held
    // levels (F + 0.3)/1.5 and F + 0.3 with F = 0.005.
    const auto input = sine(20000, 50.0 / rate, 2.0f);
    auto x = input;
    for (int i = 0; i < 20000; i += 64) processClip(state, x.data() + i, std::min(64, 20000 - i), 1.0f);
    float top = 0.0f, bottom = 0.0f;
    for (size_t i = 5000; i < x.size(); ++i) {
      if (input[i] > 1.99f) top = std::max(top, x[i]);
      if (input[i] < -1.99f) bottom = std::min(bottom, x[i]);
    }
    EXPECT_NEAR(top, 0.305f / 1.5f, 0.005f) << rate;
    EXPECT_NEAR(bottom, -0.305f, 0.005f) << rate;
  }
}

TEST(TrackClip, GainGlidesBackThenTheStageLeavesBlocksBitForBit) {
  ClipState state;
  auto loud = sine(2048, 0.01, 4.0f);
  loud[10] = NAN;  // does not poison the gain
  processClip(state, loud.data(), 2048, 1.0f);
  ASSERT_LT(state.g, 0.5f);
  EXPECT_TRUE(std::all_of(loud.begin() + 11, loud.end(), [](float v) { return std::isfinite(v); }));
  std::vector<float> quiet(64, 0.0f);
  for (int blocks = 0; std::fabs(state.g - 1.0f) >= 0.00001f; ++blocks) {
    ASSERT_LT(blocks, 100);
    processClip(state, quiet.data(), 64, 0.0f);
  }
  auto x = sine(64, 0.05, 10.0f);
  x[7] = NAN;
  const auto original = x;
  processClip(state, x.data(), 64, 0.0f);
  EXPECT_EQ(std::memcmp(x.data(), original.data(), 64 * sizeof(float)), 0);
}

struct Stereo {
  std::vector<float> left, right;
  float* ptrs[2];
  explicit Stereo(int n) : left(size_t(n)), right(size_t(n)), ptrs{left.data(), right.data()} {}
};

TEST(PanWidth, PanGainsAndTheirGlide) {
  for (const auto& [pan, left, right] : {std::tuple{0.0f, 1.0f, 1.0f}, {1.0f, 0.0f, 1.0f}, {-0.5f, 1.0f, 0.5f}}) {
    PanWidthState state;
    std::vector<float> mono(64, 0.0f);
    mono[0] = 1.0f;
    Stereo s(64);
    processPanWidth(state, mono.data(), s.ptrs, 64, 1.0f, pan, 0.0f);
    // Width 0: each chain is two plain delays, so the impulse arrives two samples late.
    EXPECT_TRUE(s.left[0] == 0.0f && s.left[1] == 0.0f) << pan;
    EXPECT_FLOAT_EQ(s.left[2], left) << pan;
    EXPECT_FLOAT_EQ(s.right[2], right) << pan;
  }
  // The first call jumps; then each 64-frame chunk covers a quarter of what is left, ramping
  // within the chunk.
  PanWidthState state;
  std::vector<float> mono(512, 1.0f);
  Stereo s(512);
  processPanWidth(state, mono.data(), s.ptrs, 64, 0.0f, 0.0f, 0.0f);
  processPanWidth(state, mono.data(), s.ptrs, 64, 1.0f, 0.0f, 0.0f);
  EXPECT_NEAR(state.rightGain, 0.25f, 1e-6f);
  processPanWidth(state, mono.data(), s.ptrs, 512, 1.0f, 0.0f, 0.0f);
  EXPECT_NEAR(state.leftGain, 1.0f - std::pow(0.75f, 9.0f), 1e-5f);
  EXPECT_LT(s.left[10], s.left[60]);
}

// Width spreads a mono track with two chains of allpasses: at every width each side keeps the
// level of every frequency, and the wider, the more the two sides differ. A NaN width is none.
TEST(PanWidth, WidthChainsAreAllpassesThatSpreadTheSides) {
  const int n = 4096;
  double previousCorrelation = 1.1;
  for (float width : {0.0f, 0.3f, 0.7f, 1.0f, NAN}) {
    PanWidthState state;
    std::vector<float> mono(size_t(n), 0.0f);
    Stereo s(n);
    processPanWidth(state, mono.data(), s.ptrs, 64, 1.0f, 0.0f, width);  // settle the coefficients
    mono[0] = 1.0f;
    processPanWidth(state, mono.data(), s.ptrs, n, 1.0f, 0.0f, width);
    for (double f : {0.01, 0.1, 0.3, 0.45}) {
      std::complex<double> l = 0, r = 0;
      for (int i = 0; i < n; ++i) {
        l += double(s.left[size_t(i)]) * std::polar(1.0, -2 * kPi * f * i);
        r += double(s.right[size_t(i)]) * std::polar(1.0, -2 * kPi * f * i);
      }
      EXPECT_NEAR(std::abs(l), 1.0, 1e-3) << width << " " << f;
      EXPECT_NEAR(std::abs(r), 1.0, 1e-3) << width << " " << f;
    }
    double lr = 0.0;
    for (int i = 0; i < n; ++i) lr += double(s.left[size_t(i)]) * s.right[size_t(i)];
    if (std::isnan(width)) {
      EXPECT_NEAR(lr, 1.0, 1e-6);
    } else {
      EXPECT_LT(lr, previousCorrelation - 0.05) << width;
      previousCorrelation = lr;
    }
  }
}

// Tracks side by side (one or two tracks share a lane group chain by chain, three to eight run
// a lane per track) give every track, bit for bit, what the single-track stage gives it:
// samples, coefficients, gains and their steps, over blocks of changing length and settings.
TEST(PanWidth, TracksSideBySideGiveWhatEachGivesAlone) {
  for (int count : {1, 2, 3, 4, 5, 8}) {
    std::vector<PanWidthState> together(static_cast<size_t>(count)), alone(static_cast<size_t>(count));
    std::vector<std::vector<float>> mono;
    std::vector<Stereo> outTogether, outAlone;
    for (int k = 0; k < count; ++k) {
      mono.push_back(sine(200, 0.013 * (k + 1), 0.9f - 0.1f * float(k)));
      outTogether.emplace_back(200);
      outAlone.emplace_back(200);
    }
    int block = 0;
    for (int n : {64, 37, 128, 1, 200, 64}) {
      std::vector<PanWidthState*> states;
      std::vector<const float*> in;
      std::vector<float*> left, right;
      std::vector<float> gain, pan, width;
      for (int k = 0; k < count; ++k) {
        states.push_back(&together[size_t(k)]);
        in.push_back(mono[size_t(k)].data());
        left.push_back(outTogether[size_t(k)].left.data());
        right.push_back(outTogether[size_t(k)].right.data());
        gain.push_back(0.5f + 0.1f * float(k + block));
        pan.push_back(std::sin(float(3 * k + block)));
        width.push_back(0.5f + 0.5f * std::cos(float(k * block + 1)));
        processPanWidth(alone[size_t(k)], in.back(), outAlone[size_t(k)].ptrs, n, gain.back(), pan.back(),
                        width.back());
      }
      processPanWidthTracks(states.data(), in.data(), left.data(), right.data(), count, n, gain.data(), pan.data(),
                            width.data());
      for (int k = 0; k < count; ++k) {
        const PanWidthState& a = together[size_t(k)];
        const PanWidthState& b = alone[size_t(k)];
        EXPECT_EQ(0, std::memcmp(left[size_t(k)], outAlone[size_t(k)].left.data(), sizeof(float) * size_t(n)))
            << count << " " << k << " " << n;
        EXPECT_EQ(0, std::memcmp(right[size_t(k)], outAlone[size_t(k)].right.data(), sizeof(float) * size_t(n)))
            << count << " " << k << " " << n;
        EXPECT_TRUE(a.leftGain == b.leftGain && a.rightGain == b.rightGain) << count << " " << k << " " << n;
        for (int st = 0; st < 4; ++st) {
          EXPECT_TRUE(a.stages[st].state == b.stages[st].state && a.stages[st].coefficient == b.stages[st].coefficient &&
                      a.stages[st].step == b.stages[st].step)
              << count << " " << k << " " << n << " stage " << st;
        }
      }
      ++block;
    }
  }
}

// The single-track stage runs on the audio thread for stretches of their own length.
TEST(PanWidth, WarmUpAndNoAllocation) {
  EXPECT_EQ(warmUpPanWidth(), 1);
  PanWidthState state;
  std::vector<float> mono = sine(4096, 0.01, 1.0f);
  Stereo s(4096);
  AllocationCounter counter;
  for (int n : {1, 63, 64, 65, 4096}) processPanWidth(state, mono.data(), s.ptrs, n, 0.7f, 0.3f, 0.8f);
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
