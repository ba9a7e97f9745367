#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "effects/DecayGain.h"
#include "effects/DelayLine.h"
#include "effects/DelayTestSignals.h"
#include "support/AllocationCounter.h"

namespace {

// The textbook Catmull-Rom polynomial (value at fraction f between y1 and y2), in double.
double catmullRomReference(double y0, double y1, double y2, double y3, double f) {
  return 0.5 * (2.0 * y1 + (y2 - y0) * f + (2.0 * y0 - 5.0 * y1 + 4.0 * y2 - y3) * f * f +
                (3.0 * y1 - y0 - 3.0 * y2 + y3) * f * f * f);
}

// The input as it was `t` samples into the run; silence before it started.
double at(const std::vector<float>& x, int64_t t) {
  return t >= 0 && t < static_cast<int64_t>(x.size()) ? x[static_cast<size_t>(t)] : 0.0;
}

// Reading at fixed delay D, output sample t interpolates at input time t - D + 1: the read
// position stands D behind the writer and the four points straddle the next sample.
double expectedRead(const std::vector<float>& x, int64_t t, double delay) {
  const double p = static_cast<double>(t) - delay;
  const double fl = std::floor(p);
  const int64_t i = static_cast<int64_t>(fl);
  return catmullRomReference(at(x, i), at(x, i + 1), at(x, i + 2), at(x, i + 3), p - fl);
}

// Runs `input` through a fresh line the way the effects do: read a block, then write it.
std::vector<float> readThrough(DelayLine& line, const std::vector<float>& input, int block,
                               float delay) {
  std::vector<float> out(input.size());
  for (size_t pos = 0; pos < input.size(); pos += static_cast<size_t>(block)) {
    const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), input.size() - pos));
    line.readModulated(out.data() + pos, n, delay);
    line.write(input.data() + pos, n);
  }
  return out;
}

TEST(DelayLine, WriteWrapsAndMirrorsTheFirstFourSamplesIntoTheGuards) {
  DelayLine line;
  line.init(100);
  ASSERT_EQ(line.length(), 100);
  ASSERT_EQ(line.buffer.size(), 104u);
  std::vector<float> in(102);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(i + 1);
  line.write(in.data(), 102);
  EXPECT_EQ(line.writePos, 2);
  // Samples 101 and 102 overwrote indices 0 and 1; the rest still hold 3..100.
  EXPECT_EQ(line.buffer[0], 101.0f);
  EXPECT_EQ(line.buffer[1], 102.0f);
  for (int i = 2; i < 100; ++i) EXPECT_EQ(line.buffer[i], static_cast<float>(i + 1));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(line.buffer[100 + i], line.buffer[i]);

  // A block far longer than the line keeps its last N samples, and the writer moves by all of it.
  std::vector<float> lots(1050);
  for (size_t i = 0; i < lots.size(); ++i) lots[i] = static_cast<float>(1000 + i);
  line.write(lots.data(), 1050);
  EXPECT_EQ(line.writePos, (2 + 1050) % 100);
  for (int k = 1; k <= 100; ++k)
    EXPECT_EQ(line.buffer[(line.writePos - k + 100) % 100], lots[1050 - k]);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(line.buffer[100 + i], line.buffer[i]);
}

TEST(DelayLine, InitGivesAFreshLineAndClearKeepsThePositions) {
  DelayLine line;
  line.init(2);  // shorter than the guards: raised so the mirror stays inside the line
  EXPECT_EQ(line.length(), DelayLine::kGuard);
  line.init(500);
  const std::vector<float> in = noise(300);
  std::vector<float> out(300);
  line.readModulated(out.data(), 64, 100.0f, nullptr, 0.001f);
  line.write(in.data(), 300);
  EXPECT_NE(line.gain, 1.0f);
  const DelayReadHead before = line.head;

  line.clear();
  EXPECT_EQ(line.writePos, 300);
  EXPECT_EQ(line.head.position, before.position);
  EXPECT_EQ(line.head.expectedWritePos, before.expectedWritePos);
  for (float v : line.buffer) EXPECT_EQ(v, 0.0f);

  line.init(700);
  EXPECT_EQ(line.length(), 700);
  EXPECT_EQ(line.writePos, 0);
  EXPECT_EQ(line.gain, 1.0f);
  EXPECT_LT(line.head.position, 0.0);
  EXPECT_EQ(line.head.expectedWritePos, -1);
  EXPECT_EQ(line.head.speed, 1.0f);
  for (float v : line.buffer) EXPECT_EQ(v, 0.0f);
}

TEST(DelayLine, ReadsIntegerAndFractionalDelaysWithCubicInterpolation) {
  const std::vector<float> in = noise(5000);
  for (int block : {64, 37, 1}) {
    for (float delay : {70.0f, 100.5f, 333.25f, 479.875f}) {
      DelayLine line;
      line.init(512);
      const std::vector<float> out = readThrough(line, in, block, delay);
      double worst = 0.0;
      for (int64_t t = 0; t < static_cast<int64_t>(in.size()); ++t)
        worst = std::max(worst, std::fabs(out[static_cast<size_t>(t)] - expectedRead(in, t, delay)));
      EXPECT_LT(worst, 2e-6) << "block " << block << " delay " << delay;
      // The head never moved off the wanted delay, so it never changed speed.
      EXPECT_EQ(line.head.speed, 1.0f);
    }
  }
  // A whole delay D returns the input D - 1 samples late, untouched.
  DelayLine line;
  line.init(256);
  const std::vector<float> out = readThrough(line, in, 64, 80.0f);
  for (size_t t = 79; t < in.size(); ++t) ASSERT_EQ(out[t], in[t - 79]) << t;
}

TEST(DelayLine, FirstReadNeverStartsBeforeTheBuffer) {
  // With the writer at w, delays just above w once put the start at -0.5 or -1: an
  // extrapolating read and a read before the buffer.
  for (float extra : {0.5f, 1.0f, 0.001f, 0.0f}) {
    DelayLine line;
    line.init(256);
    const std::vector<float> in = noise(1000);
    line.write(in.data(), 10);  // writer at 10, line full of the past
    const float delay = 10.0f + extra;
    std::vector<float> out(64);
    line.readModulated(out.data(), 64, delay);
    EXPECT_GE(line.head.position, 0.0);
    EXPECT_LT(line.head.position, 256.0);
    // Reading behind index 0 reaches the line's old (silent) end, then the ten written samples.
    std::vector<float> past(in.begin(), in.begin() + 10);
    for (int k = 0; k < 64; ++k) {
      // Output k interpolates at input time k + 10 - delay + 1 of a history that started
      // 10 samples ago.
      const double expected = expectedRead(past, k + 10, delay);
      EXPECT_NEAR(out[k], expected, 2e-6) << "extra " << extra << " k " << k;
    }
  }
}

TEST(DelayLine, AHeadGlidesToANewDelayAtTheLimitedRate) {
  const int n = 64;
  DelayLine line;
  line.init(4096);
  const std::vector<float> in = noise(64 * 400);
  std::vector<float> out(n);
  // Settle at 1000, then ask for 1200, later for 900.
  double modelDelay = 1000.0, modelSpeed = 1.0;
  double maxSpeedChange = 0.0;
  for (int b = 0; b < 400; ++b) {
    const float delay = b < 10 ? 1000.0f : (b < 200 ? 1200.0f : 900.0f);
    const float speedBefore = line.head.speed;
    line.readModulated(out.data(), n, delay);
    line.write(in.data() + b * n, n);
    if (b > 0) {
      // Reference: the delay grows by n(1 - speed) per block; the speed eases towards
      // 1 - (wanted - current) / 1000, limited to 0.5..2 and to 0.001 per sample.
      const double wanted = std::clamp(1.0 - (delay - modelDelay) * 0.001, 0.5, 2.0);
      const double step = std::clamp((wanted - modelSpeed) / (1.5 * n), -0.001, 0.001);
      modelDelay += n * (1.0 - modelSpeed);
      modelSpeed += n * step;
    }
    maxSpeedChange = std::max(maxSpeedChange, std::fabs(double(line.head.speed) - speedBefore));
    const double actual = std::fmod(line.head.expectedWritePos - line.head.position + 4096, 4096.0);
    ASSERT_NEAR(actual, modelDelay, 1e-3) << b;
    ASSERT_NEAR(line.head.speed, modelSpeed, 1e-5) << b;
    ASSERT_GE(line.head.speed, 0.5f);
    ASSERT_LE(line.head.speed, 2.0f);
    ASSERT_GE(line.head.position, 0.0);
    ASSERT_LT(line.head.position, 4096.0);
    for (float v : out) ASSERT_TRUE(std::isfinite(v));
  }
  EXPECT_LE(maxSpeedChange, n * 0.001 + 1e-6);
  EXPECT_GT(maxSpeedChange, n * 0.001 * 0.5);  // the glide did run at its limit for a while
  // By the end the head sits at 900 again at speed 1.
  const double finalDelay = std::fmod(line.head.expectedWritePos - line.head.position + 4096, 4096.0);
  EXPECT_NEAR(finalDelay, 900.0, 0.5);
  EXPECT_NEAR(line.head.speed, 1.0f, 2e-3);
}

TEST(DelayLine, TargetsOutsideTheLineAreHeldInside) {
  DelayLine line;
  line.init(1000);
  const std::vector<float> in = noise(64 * 300);
  std::vector<float> out(64);
  const float targets[] = {5000.0f, -300.0f, std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity()};
  for (float target : targets) {
    for (int b = 0; b < 75; ++b) {
      line.readModulated(out.data(), 64, target);
      line.write(in.data() + b * 64, 64);
      ASSERT_GE(line.head.position, 0.0);
      ASSERT_LT(line.head.position, 1000.0);
      ASSERT_TRUE(std::isfinite(line.head.speed));
      for (float v : out) ASSERT_TRUE(std::isfinite(v));
    }
  }
  // A far target settles at the longest delay the headroom allows.
  for (int b = 0; b < 400; ++b) {
    line.readModulated(out.data(), 64, 1e9f);
    line.write(in.data() + (b % 300) * 64, 64);
  }
  const double d = std::fmod(line.head.expectedWritePos - line.head.position + 1000, 1000.0);
  EXPECT_NEAR(d, 1000.0 - DelayLine::kHeadroom, 1.0);
}

TEST(DelayLine, LongLinesKeepTheirFractionalReadPosition) {
  // Ten seconds at 192 kHz: a float index near the end of the line has steps of 1/8 sample.
  const int len = 10 * 192000;
  DelayLine line;
  line.init(len);
  // A sawtooth of period 1000: locally linear, so an interpolated read gives its position back.
  std::vector<float> chunk(4096);
  int64_t written = 0;
  auto saw = [](int64_t t) { return static_cast<float>(t % 1000) * 0.001f; };
  auto writeUpTo = [&](int64_t end) {
    while (written < end) {
      const int n = static_cast<int>(std::min<int64_t>(4096, end - written));
      for (int k = 0; k < n; ++k) chunk[k] = saw(written + k);
      line.write(chunk.data(), n);
      written += n;
    }
  };
  writeUpTo(len - 5000);

  // A fixed fractional delay reads exactly where it should.
  const float delay = 1200.31f;
  std::vector<float> out(64);
  double worstStatic = 0.0;
  for (int b = 0; b < 20; ++b) {
    line.readModulated(out.data(), 64, delay);
    for (int k = 0; k < 64; ++k) {
      const double p = static_cast<double>(written + k) - static_cast<double>(delay) + 1.0;
      const double expected = std::fmod(p, 1000.0) * 0.001;
      if (std::fmod(p, 1000.0) < 3.0 || std::fmod(p, 1000.0) > 997.0) continue;  // saw's jump
      worstStatic = std::max(worstStatic, std::fabs(out[k] - expected));
    }
    writeUpTo(written + 64);
  }
  EXPECT_LT(worstStatic, 1e-5);

  // A gliding head: the read step per sample follows the head's speed closely, with no
  // quantised jumps, all the way round the wrap of the line.
  double worstStep = 0.0;
  for (int b = 0; b < 400; ++b) {
    const float wobble = 1200.0f + 500.0f * std::sin(b * 0.05f);
    const float speed = line.head.speed;
    const double start = line.head.position;
    line.readModulated(out.data(), 64, wobble);
    for (int k = 1; k < 64; ++k) {
      // The line is a whole number of saw periods long, so index i holds phase i mod 1000;
      // reads that straddle the saw's jump are skipped.
      const double phase = std::fmod(start + k * double(speed) + 1.0, 1000.0);
      if (phase < 4.0 || phase > 996.0) continue;
      const float step = out[k] - out[k - 1];
      worstStep = std::max(worstStep, std::fabs(step - speed * 0.001f) / 0.001);
    }
    writeUpTo(written + 64);
  }
  EXPECT_LT(worstStep, 2e-3);
}

TEST(DelayLine, AllpassMatchesTheDirectForm) {
  const std::vector<float> in = noise(3000, 99);
  struct Case {
    int length, delay;
    float coefficient, decayRate;
  };
  for (const Case c : {Case{200, 37, -0.618f, 0.0f}, Case{200, 150, 0.5f, 0.0f},
                       Case{64, 0, -0.618f, 0.0f}, Case{300, 211, -0.61f, 0.0005f}}) {
    for (int block : {64, 16, 5}) {
      DelayLine line;
      line.init(c.length);
      // One silent block lets the tap gain ramp to its decay before the signal starts.
      std::vector<float> silence(64, 0.0f);
      line.allpass(silence.data(), 64, c.delay, c.coefficient, c.decayRate);
      std::vector<float> buf = in;
      for (size_t p = 0; p < buf.size(); p += block)
        line.allpass(buf.data() + p, static_cast<int>(std::min<size_t>(block, buf.size() - p)),
                     c.delay, c.coefficient, c.decayRate);
      // y[n] = -c x[n] + g x[n-M] + c g y[n-M], M the delay (a delay of 0 is a whole line).
      const int m = c.delay == 0 ? c.length : c.delay;
      const double x = static_cast<double>(c.delay) * c.decayRate;
      const double g = 1.0 / (1.0 + x + x * x / 2.0 + 0.1666 * x * x * x * x);
      std::vector<double> y(in.size());
      double worst = 0.0;
      for (size_t n = 0; n < in.size(); ++n) {
        const double past = n >= static_cast<size_t>(m) ? in[n - m] : 0.0;
        const double pastOut = n >= static_cast<size_t>(m) ? y[n - m] : 0.0;
        y[n] = -c.coefficient * in[n] + g * past + c.coefficient * g * pastOut;
        worst = std::max(worst, std::fabs(buf[n] - y[n]));
      }
      EXPECT_LT(worst, 1e-5) << c.length << " " << c.delay << " block " << block;
    }
  }
}

TEST(DelayLine, LosslessAllpassPassesConstantsAndEnergy) {
  DelayLine line;
  line.init(101);
  std::vector<float> buf(4096, 0.0f);
  buf[0] = 1.0f;
  for (size_t p = 0; p < buf.size(); p += 64) line.allpass(buf.data() + p, 64, 101, -0.618f, 0.0f);
  double energy = 0.0;
  for (float v : buf) energy += double(v) * v;
  EXPECT_NEAR(energy, 1.0, 1e-4);

  std::fill(buf.begin(), buf.end(), 0.25f);
  for (size_t p = 0; p < buf.size(); p += 64) line.allpass(buf.data() + p, 64, 101, 0.7f, 0.0f);
  for (size_t i = 3500; i < buf.size(); ++i) ASSERT_NEAR(buf[i], 0.25f, 1e-4);
}

TEST(DelayLine, RotationTurnsThePairAndDelaysTheSecondChannel) {
  const std::vector<float> a = noise(2000, 7), b = noise(2000, 8);
  const int delay = 123;
  const float rate = 0.0002f;
  DelayLine line;
  line.init(300);
  std::vector<float> x0 = a, x1 = b;
  for (size_t p = 0; p < a.size(); p += 40) {
    float* pair[2] = {x0.data() + p, x1.data() + p};
    line.rotate(pair, static_cast<int>(std::min<size_t>(40, a.size() - p)), delay, rate);
  }
  const double r = std::sqrt(0.5);
  const double xg = delay * rate;
  const double g = 1.0 / (1.0 + xg + xg * xg / 2.0 + 0.1666 * xg * xg * xg * xg);
  for (size_t n = 0; n < a.size(); ++n) {
    // The gain ramps from 1 to its decay over the first block, then holds it exactly.
    const double gn = n < 40 ? 1.0 + (g - 1.0) * n / 40.0 : g;
    const double t = n >= static_cast<size_t>(delay) ? gn * b[n - delay] : 0.0;
    ASSERT_NEAR(x0[n], (a[n] + t) * r, 1e-6) << n;
    ASSERT_NEAR(x1[n], (a[n] - t) * r, 1e-6) << n;
  }
  EXPECT_EQ(line.gain, decayGain(delay * rate));

  // With the line silent the pair (x0, x1) becomes (x0, x0) / sqrt 2, and x1 enters the line.
  DelayLine quiet;
  quiet.init(50);
  float p0[3] = {1.0f, -2.0f, 0.5f}, p1[3] = {7.0f, 8.0f, 9.0f};
  float* pair[2] = {p0, p1};
  quiet.rotate(pair, 3, 50, 0.0f);
  for (int k = 0; k < 3; ++k) {
    EXPECT_FLOAT_EQ(p0[k], 0.70710677f * (k == 0 ? 1.0f : k == 1 ? -2.0f : 0.5f));
    EXPECT_FLOAT_EQ(p1[k], p0[k]);
    EXPECT_EQ(quiet.buffer[k], 7.0f + k);
  }

  // Without decay the rotation keeps the pair's energy once the line has given back its content.
  DelayLine lossless;
  lossless.init(100);
  std::vector<float> e0(1000, 0.0f), e1(1000, 0.0f);
  for (int i = 0; i < 200; ++i) {
    e0[i] = a[i];
    e1[i] = b[i];
  }
  double before = 0.0, after = 0.0;
  for (int i = 0; i < 1000; ++i) before += double(e0[i]) * e0[i] + double(e1[i]) * e1[i];
  for (int p = 0; p < 1000; p += 64) {
    float* q[2] = {e0.data() + p, e1.data() + p};
    lossless.rotate(q, std::min(64, 1000 - p), 100, 0.0f);
  }
  for (int i = 0; i < 1000; ++i) after += double(e0[i]) * e0[i] + double(e1[i]) * e1[i];
  EXPECT_NEAR(after, before, before * 1e-5);
}

TEST(DelayLine, EmptyBlocksChangeNothing) {
  DelayLine line;
  line.init(400);
  const std::vector<float> in = noise(640);
  std::vector<float> out(64);
  for (int b = 0; b < 10; ++b) {
    line.readModulated(out.data(), 64, 150.0f + 20 * b, nullptr, 0.001f);
    line.write(in.data() + 64 * b, 64);
  }
  const DelayLine before = line;
  float dummy = 0.0f;
  float* pair[2] = {&dummy, &dummy};
  for (int n : {0, -5}) {
    line.readModulated(out.data(), n, 300.0f, nullptr, 0.01f);
    line.write(in.data(), n);
    line.allpass(out.data(), n, 20, 0.5f, 0.01f);
    line.rotate(pair, n, 20, 0.01f);
  }
  EXPECT_EQ(line.head.position, before.head.position);
  EXPECT_EQ(line.head.speed, before.head.speed);
  EXPECT_EQ(line.head.expectedWritePos, before.head.expectedWritePos);
  EXPECT_EQ(line.gain, before.gain);
  EXPECT_EQ(line.writePos, before.writePos);
  EXPECT_EQ(line.buffer, before.buffer);

  // An unsized line is silent and safe.
  DelayLine unsized;
  unsized.readModulated(out.data(), 64, 10.0f);
  for (float v : out) EXPECT_EQ(v, 0.0f);
  unsized.write(in.data(), 64);
  unsized.allpass(out.data(), 64, 3, 0.5f, 0.0f);
}

TEST(DelayLine, LongBlocksEqualConsecutiveShortOnes) {
  const std::vector<float> in = noise(4096, 3), in2 = noise(4096, 4);
  DelayLine whole, parts;
  whole.init(6000);
  parts.init(6000);
  std::vector<float> outWhole(4096), outParts(4096);
  for (int round = 0; round < 3; ++round) {
    const float delay = 4500.0f - 700.0f * round;
    whole.readModulated(outWhole.data(), 4096, delay, nullptr, 0.0001f);
    for (int p = 0; p < 4096; p += 64)
      parts.readModulated(outParts.data() + p, 64, delay, nullptr, 0.0001f);
    EXPECT_EQ(outWhole, outParts);
    whole.write(in.data(), 4096);
    parts.write(in.data(), 4096);

    std::vector<float> a = in2, b = in2, c = in, d = in;
    whole.allpass(a.data(), 4096, 300, -0.6f, 0.0001f);
    for (int p = 0; p < 4096; p += 64) parts.allpass(b.data() + p, 64, 300, -0.6f, 0.0001f);
    EXPECT_EQ(a, b);
    float* wp[2] = {a.data(), c.data()};
    float* pp[2] = {b.data(), d.data()};
    whole.rotate(wp, 4096, 1000, 0.0001f);
    for (int p = 0; p < 4096; p += 64) {
      float* q[2] = {pp[0] + p, pp[1] + p};
      parts.rotate(q, 64, 1000, 0.0001f);
    }
    EXPECT_EQ(a, b);
    EXPECT_EQ(c, d);
  }
}

TEST(DelayLine, NoOperationAllocates) {
  DelayLine line;
  line.init(10000);
  DelayReadHead other;
  const std::vector<float> in = noise(4096);
  std::vector<float> a(4096), b(4096);
  float* pair[2] = {a.data(), b.data()};
  AllocationCounter counter;
  for (int i = 0; i < 20; ++i) {
    line.readModulated(a.data(), 64, 3000.0f + i * 100);
    line.readModulated(b.data(), 4096, 2000.0f, &other, 0.001f);
    line.write(in.data(), 64);
    line.write(in.data(), 4096);
    line.allpass(a.data(), 64, 500, -0.618f, 0.001f);
    line.rotate(pair, 64, 700, 0.001f);
    line.clear();
  }
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
