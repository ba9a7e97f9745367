#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

#include "effects/DelayLine.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::noiseVector;
using fxtest::sampleAt;

// Reading at fixed delay D, output sample t is the textbook Catmull-Rom polynomial at input time
// t - D + 1: the read position stands D behind the writer and the four points straddle the next
// sample.
double expectedRead(const std::vector<float>& x, int64_t t, double delay) {
  const double p = static_cast<double>(t) - delay, f = p - std::floor(p);
  const int64_t i = static_cast<int64_t>(std::floor(p));
  const double y0 = sampleAt(x, i), y1 = sampleAt(x, i + 1), y2 = sampleAt(x, i + 2), y3 = sampleAt(x, i + 3);
  return 0.5 * (2.0 * y1 + (y2 - y0) * f + (2.0 * y0 - 5.0 * y1 + 4.0 * y2 - y3) * f * f +
                (3.0 * y1 - y0 - 3.0 * y2 + y3) * f * f * f);
}

// Runs `input` through the line the way the effects do: read a block, then write it.
std::vector<float> readThrough(DelayLine& line, const std::vector<float>& input, int block, float delay) {
  std::vector<float> out(input.size());
  for (size_t pos = 0; pos < input.size(); pos += static_cast<size_t>(block)) {
    const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), input.size() - pos));
    line.readModulated(out.data() + pos, n, delay);
    line.write(input.data() + pos, n);
  }
  return out;
}

double delayOf(const DelayLine& line) {
  return std::fmod(line.head.expectedWritePos - line.head.position + line.length(), double(line.length()));
}

// 102 samples, then a block far longer than the line: the line keeps the last 100 samples, the
// writer moves by all of them, and the guards mirror indices 0..3.
TEST(DelayLine, WriteWrapsAndMirrorsTheFirstSamplesIntoTheGuards) {
  DelayLine line;
  line.init(100);
  ASSERT_EQ(line.buffer.size(), 104u);
  for (int n : {102, 1050}) {
    std::vector<float> in(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) in[static_cast<size_t>(i)] = static_cast<float>(1000 * (n > 200) + i + 1);
    const int start = line.writePos;
    line.write(in.data(), n);
    EXPECT_EQ(line.writePos, (start + n) % 100);
    for (int k = 1; k <= 100; ++k) EXPECT_EQ(line.buffer[(line.writePos - k + 100) % 100], in[n - k]) << n;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(line.buffer[100 + i], line.buffer[i]) << n;
  }
}

// Clearing silences the line and keeps every head's delay; init gives a fresh line.
TEST(DelayLine, InitGivesAFreshLineAndClearKeepsThePositions) {
  DelayLine line;
  line.init(2);  // shorter than the guards: raised so the mirror stays inside the line
  EXPECT_EQ(line.length(), DelayLine::kGuard);
  line.init(500);
  std::vector<float> io = noiseVector(300);
  line.readModulated(io.data(), 64, 100.0f, nullptr, 0.001f);
  line.write(io.data(), 300);
  const DelayLine before = line;
  line.clear();
  EXPECT_TRUE(line.writePos == before.writePos && line.head.position == before.head.position &&
              line.head.expectedWritePos == before.head.expectedWritePos && line.buffer == std::vector<float>(504));
  line.init(700);
  EXPECT_TRUE(line.writePos == 0 && line.buffer == std::vector<float>(704, 0.0f));
}

TEST(DelayLine, ReadsIntegerAndFractionalDelaysWithCubicInterpolation) {
  const std::vector<float> in = noiseVector(5000);
  for (int block : {64, 37, 1}) {
    for (float delay : {70.0f, 100.5f, 333.25f, 479.875f}) {
      DelayLine line;
      line.init(512);
      const std::vector<float> out = readThrough(line, in, block, delay);
      for (int64_t t = 0; t < static_cast<int64_t>(in.size()); ++t)
        ASSERT_NEAR(out[static_cast<size_t>(t)], expectedRead(in, t, delay), 2e-6) << block << " " << delay << " " << t;
      EXPECT_EQ(line.head.speed, 1.0f);  // never off the wanted delay, so never faster or slower
    }
  }
  // A whole delay D returns the input D - 1 samples late, untouched.
  DelayLine line;
  line.init(256);
  const std::vector<float> out = readThrough(line, in, 64, 80.0f);
  for (size_t t = 79; t < in.size(); ++t) ASSERT_EQ(out[t], in[t - 79]) << t;
}

// With the writer at w, a first read at a delay just above w starts behind index 0: it
// reaches the line's silent end, then the w samples written, and never reads before the buffer
// or extrapolates.
TEST(DelayLine, FirstReadNeverStartsBeforeTheBuffer) {
  const std::vector<float> in = noiseVector(10);
  for (float extra : {0.5f, 1.0f, 0.001f, 0.0f}) {
    DelayLine line;
    line.init(256);
    line.write(in.data(), 10);
    std::vector<float> out(64);
    line.readModulated(out.data(), 64, 10.0f + extra);
    EXPECT_TRUE(line.head.position >= 0.0 && line.head.position < 256.0) << extra;
    for (int k = 0; k < 64; ++k) EXPECT_NEAR(out[k], expectedRead(in, k + 10, 10.0f + extra), 2e-6) << extra;
  }
}

// A new delay is reached by gliding: the speed stays within 0.5..2, changes by at most 0.001 per
// sample, and comes back to 1 once the head stands at the new delay.
TEST(DelayLine, AHeadGlidesToANewDelayAtTheLimitedRate) {
  DelayLine line;
  line.init(4096);
  const std::vector<float> in = noiseVector(64);
  std::vector<float> out(64);
  double maxSpeedChange = 0.0;
  for (int b = 0; b < 400; ++b) {
    const float speedBefore = line.head.speed;
    line.readModulated(out.data(), 64, b < 10 ? 1000.0f : (b < 200 ? 1200.0f : 900.0f));
    line.write(in.data(), 64);
    maxSpeedChange = std::max(maxSpeedChange, std::fabs(double(line.head.speed) - speedBefore));
    ASSERT_TRUE(line.head.speed >= 0.5f && line.head.speed <= 2.0f) << b;
    ASSERT_TRUE(line.head.position >= 0.0 && line.head.position < 4096.0) << b;
    if (b == 199 || b == 399) {
      EXPECT_NEAR(delayOf(line), b == 199 ? 1200.0 : 900.0, 0.5);
      EXPECT_NEAR(line.head.speed, 1.0f, 2e-3);
    }
  }
  EXPECT_LE(maxSpeedChange, 64 * 0.001 + 1e-6);
  EXPECT_GT(maxSpeedChange, 64 * 0.001 * 0.5);  // the glide did run at its limit for a while
}

// Whatever the target, the head stays on the line; a far one settles at the longest delay the
// headroom allows.
TEST(DelayLine, TargetsOutsideTheLineAreHeldInside) {
  DelayLine line;
  line.init(1000);
  const std::vector<float> in = noiseVector(64);
  std::vector<float> out(64);
  for (float target : {5000.0f, -300.0f, std::nanf(""), std::numeric_limits<float>::infinity(), 1e9f}) {
    for (int b = 0; b < 400; ++b) {
      line.readModulated(out.data(), 64, target);
      line.write(in.data(), 64);
      ASSERT_TRUE(line.head.position >= 0.0 && line.head.position < 1000.0 && std::isfinite(line.head.speed)) << target;
      for (float v : out) ASSERT_TRUE(std::isfinite(v));
    }
  }
  EXPECT_NEAR(delayOf(line), 1000.0 - DelayLine::kHeadroom, 1.0);
}

// Ten seconds at 192 kHz, where a float index near the end of the line has steps of 1/8 sample:
// through a sawtooth (locally linear) a gliding head's output steps follow its speed closely,
// with no quantised jumps, all the way round the wrap of the line.
TEST(DelayLine, LongLinesKeepTheirFractionalReadPosition) {
  const int len = 10 * 192000;
  DelayLine line;
  line.init(len);
  std::vector<float> chunk(64), out(64);
  int written = 0;
  auto writeSaw = [&] {
    for (int k = 0; k < 64; ++k) chunk[k] = static_cast<float>((written + k) % 1000) * 0.001f;
    line.write(chunk.data(), 64);
    written += 64;
  };
  while (written < len - 5000) writeSaw();
  double worstStep = 0.0;
  float last = 0.0f, lastSpeed = 1.0f;
  for (int b = 0; b < 420; ++b) {
    const float speed = line.head.speed;
    const double start = line.head.position;
    line.readModulated(out.data(), 64, 1200.0f + 500.0f * std::sin(b * 0.05f));
    for (int k = 0; k < 64 && b >= 20; ++k) {
      // Index i holds phase i mod 1000; reads that straddle the saw's jump are skipped. The step
      // into a block is the one the head took at the end of the block before.
      const double phase = std::fmod(start + k * double(speed) + 1.0, 1000.0);
      const double step = (k ? out[k - 1] : last) + (k ? speed : lastSpeed) * 0.001;
      if (phase > 4.0 && phase < 996.0) worstStep = std::max(worstStep, std::fabs(out[k] - step));
    }
    last = out[63];
    lastSpeed = speed;
    writeSaw();
  }
  EXPECT_LT(worstStep, 2e-6);
}

// y[n] = -c x[n] + g x[n-M] + c g y[n-M] and the delayed rotation ((x0 + g x1[n-M]),
// (x0 - g x1[n-M])) / sqrt 2, with the decay g = E(M rate) reached over the first block.
TEST(DelayLine, AllpassAndRotationMatchTheDirectForms) {
  const std::vector<float> a = noiseVector(3000, 99), b = noiseVector(3000, 98);
  const struct {
    int length, delay;
    float coefficient, decayRate;
  } cases[] = {{200, 37, -0.618f, 0.0f}, {200, 150, 0.5f, 0.0f}, {64, 0, -0.618f, 0.0f}, {300, 211, -0.61f, 0.0005f}};
  for (const auto& c : cases) {
    for (int block : {64, 16, 5}) {
      DelayLine allpass, rotation;
      allpass.init(c.length);
      rotation.init(c.length);
      std::vector<float> y = a, x0 = a, x1 = b;
      for (size_t p = 0; p < a.size(); p += block) {
        const int n = static_cast<int>(std::min<size_t>(block, a.size() - p));
        allpass.allpass(y.data() + p, n, c.delay, c.coefficient, c.decayRate);
        float* pair[2] = {x0.data() + p, x1.data() + p};
        rotation.rotate(pair, n, c.delay, c.decayRate);
      }
      const size_t m = c.delay == 0 ? c.length : c.delay;  // a delay of 0 is a whole line
      const double x = c.delay * double(c.decayRate), g = 1.0 / (1.0 + x + x * x / 2.0 + 0.1666 * x * x * x * x);
      std::vector<double> ref(a.size());
      for (size_t n = 0; n < a.size(); ++n) {
        const double gn = 1.0 + (g - 1.0) * std::min(1.0, double(n) / block), t = n >= m ? gn * b[n - m] : 0.0;
        ref[n] = -c.coefficient * a[n] + (n >= m ? gn * (a[n - m] + c.coefficient * ref[n - m]) : 0.0);
        ASSERT_NEAR(y[n], ref[n], 1e-5) << c.length << " " << c.delay << " block " << block << " at " << n;
        ASSERT_NEAR(x0[n], (a[n] + t) * M_SQRT1_2, 1e-5) << c.length << " " << c.delay << " block " << block;
        ASSERT_NEAR(x1[n], (a[n] - t) * M_SQRT1_2, 1e-5) << c.length << " " << c.delay << " block " << block;
      }
    }
  }
}

TEST(DelayLine, EmptyBlocksChangeNothing) {
  DelayLine line;
  line.init(400);
  const std::vector<float> in = noiseVector(64);
  std::vector<float> out(64);
  line.readModulated(out.data(), 64, 150.0f, nullptr, 0.001f);
  line.write(in.data(), 64);
  auto state = [](const DelayLine& d) {
    return std::tuple(d.head.position, d.head.speed, d.head.expectedWritePos, d.gain, d.writePos, d.buffer);
  };
  const auto before = state(line);
  float* pair[2] = {out.data(), out.data()};
  for (int n : {0, -5}) {
    line.readModulated(out.data(), n, 300.0f, nullptr, 0.01f);
    line.write(in.data(), n);
    line.allpass(out.data(), n, 20, 0.5f, 0.01f);
    line.rotate(pair, n, 20, 0.01f);
  }
  EXPECT_TRUE(state(line) == before);
  // An unsized line is silent and safe.
  DelayLine unsized;
  unsized.readModulated(out.data(), -5, 10.0f);
  unsized.readModulated(out.data(), 64, 10.0f);
  EXPECT_EQ(out, std::vector<float>(64, 0.0f));
  unsized.write(in.data(), 64);
  unsized.allpass(out.data(), 64, 3, 0.5f, 0.0f);
}

TEST(DelayLine, LongBlocksEqualConsecutiveShortOnes) {
  const std::vector<float> in = noiseVector(4096, 3);
  std::vector<float> outs[2];
  for (int block : {4096, 64}) {
    DelayLine line;
    line.init(6000);
    for (int round = 0; round < 3; ++round) {
      std::vector<float> read(4096), mixed = in, other = in;
      for (int p = 0; p < 4096; p += block)
        line.readModulated(read.data() + p, block, 4500.0f - 700.0f * round, nullptr, 0.0001f);
      line.write(in.data(), 4096);
      for (int p = 0; p < 4096; p += block) line.allpass(mixed.data() + p, block, 300, -0.6f, 0.0001f);
      for (int p = 0; p < 4096; p += block) {
        float* pair[2] = {mixed.data() + p, other.data() + p};
        line.rotate(pair, block, 1000, 0.0001f);
      }
      outs[block == 64].insert(outs[block == 64].end(), read.begin(), read.end());
      outs[block == 64].insert(outs[block == 64].end(), other.begin(), other.end());
    }
  }
  EXPECT_EQ(outs[0], outs[1]);
}

}  // namespace
