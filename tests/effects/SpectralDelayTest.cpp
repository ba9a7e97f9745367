#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "effects/SpectralDelay.h"
#include "effects/DelayTestSignals.h"
#include "support/AllocationCounter.h"

namespace {

constexpr int kN = 256;
constexpr int kHop = kN / 4;

std::vector<float> sine(size_t n, double cyclesPerSample, double amplitude = 0.5) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * cyclesPerSample * i + 0.3));
  return v;
}

std::vector<float> run(SpectralDelay& d, const std::vector<float>& in, int block) {
  std::vector<float> out(in.size());
  for (size_t p = 0; p < in.size(); p += block)
    d.process(in.data() + p, out.data() + p,
              static_cast<int>(std::min<size_t>(block, in.size() - p)));
  return out;
}

SpectralDelay make(int history, const std::vector<float>& delay, const std::vector<float>& gain) {
  SpectralDelay d;
  EXPECT_TRUE(d.init(kN, history));
  d.setDelays(delay.data(), gain.data(), static_cast<int>(delay.size()));
  return d;
}

SpectralDelay uniform(float delay, int history = 16) {
  return make(history, std::vector<float>(kN / 2, delay), std::vector<float>(kN / 2, 1.0f));
}

// The whole short-time processor written out plainly in double precision: a direct DFT of each
// windowed frame, the per-bin mix of two past frames with the processor's own weights, a direct
// inverse DFT and overlap-add. A frame is taken at every multiple of the hop (time 0 included),
// from the N samples before it.
std::vector<double> reference(const SpectralDelay& d, const std::vector<float>& in) {
  const int n = kN, bins = kN / 2;
  std::vector<double> window(n), synthesis(n);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double x = 2.0 * M_PI * (i - n / 2 + 0.5) / n;
    window[i] = std::sqrt((0.428 + 0.5 * std::cos(x) + 0.072 * std::cos(2 * x)) *
                          (0.5 + 0.5 * std::cos(x)));
    sum += window[i] * window[i];
  }
  for (int i = 0; i < n; ++i) synthesis[i] = window[i] * kHop / (n * sum);
  std::vector<std::complex<double>> twiddle(n);
  for (int i = 0; i < n; ++i) twiddle[i] = std::polar(1.0, -2.0 * M_PI * i / n);

  using Spectrum = std::vector<std::complex<double>>;  // pair 0 holds (DC, Nyquist)
  std::vector<Spectrum> frames;
  std::vector<double> out(in.size(), 0.0);
  for (size_t t = 0; t < in.size(); t += kHop) {
    Spectrum x(bins);
    std::vector<double> seg(n);
    for (int i = 0; i < n; ++i) {
      const int64_t s = static_cast<int64_t>(t) - n + i;
      seg[i] = (s >= 0 ? in[static_cast<size_t>(s)] : 0.0) * window[i];
    }
    double dc = 0.0, nyquist = 0.0;
    for (int i = 0; i < n; ++i) {
      dc += seg[i];
      nyquist += (i % 2 ? -seg[i] : seg[i]);
    }
    x[0] = {dc, nyquist};
    for (int k = 1; k < bins; ++k)
      for (int i = 0; i < n; ++i) x[k] += seg[i] * twiddle[(k * i) % n];
    frames.push_back(x);

    const int64_t f = static_cast<int64_t>(frames.size()) - 1;
    auto past = [&](int64_t back, int k) {
      return f - back >= 0 ? frames[static_cast<size_t>(f - back)][k] : std::complex<double>();
    };
    Spectrum y(bins);
    for (int k = 0; k < bins; ++k) {
      const std::complex<double> c0(d.coefficients0[k].re, d.coefficients0[k].im);
      const std::complex<double> c1(d.coefficients1[k].re, d.coefficients1[k].im);
      y[k] = past(d.binDelays[k] + 1, k) * c1 + past(d.binDelays[k], k) * c0;
    }
    for (int i = 0; i < n && t + i < in.size(); ++i) {
      double v = y[0].real();  // the Nyquist value is dropped
      for (int k = 1; k < bins; ++k) v += 2.0 * (y[k] * std::conj(twiddle[(k * i) % n])).real();
      out[t + i] += v * synthesis[i];
    }
  }
  return out;
}

TEST(SpectralDelay, InitSizesEverythingAndRefusesWhatCannotBeTransformed) {
  SpectralDelay d;
  ASSERT_TRUE(d.init(kN, 100));
  EXPECT_EQ(d.size, kN);
  EXPECT_EQ(d.hop, kHop);
  EXPECT_EQ(d.frameSize, kN);
  EXPECT_EQ(d.historySize, 128);  // raised to a power of two
  EXPECT_EQ(d.history.size(), 128u * kN);
  EXPECT_EQ(d.binDelays.size(), static_cast<size_t>(kN / 2));
  EXPECT_EQ(d.writeIndex, 0);
  EXPECT_EQ(d.nextFrame, 0);
  EXPECT_EQ(d.centred, 0);
  // Both windows are symmetric, and the synthesis one is the analysis one scaled.
  for (int i = 0; i < kN; ++i) {
    EXPECT_FLOAT_EQ(d.analysisWindow[i], d.analysisWindow[kN - 1 - i]);
    EXPECT_NEAR(d.synthesisWindow[i] / d.analysisWindow[i],
                d.synthesisWindow[kN / 2] / d.analysisWindow[kN / 2], 1e-9);
  }
  EXPECT_TRUE(d.init(kN, 1 << 20));
  EXPECT_EQ(d.historySize, SpectralDelay::kMaxHistory);
  EXPECT_TRUE(d.init(kN, 0));
  EXPECT_EQ(d.historySize, 2);

  SpectralDelay bad;
  EXPECT_FALSE(bad.init(100, 8));
  EXPECT_FALSE(bad.init(0, 8));
  std::vector<float> in(64, 1.0f), out(64, 5.0f);
  bad.process(in.data(), out.data(), 64);  // silent, not a crash
  for (float v : out) EXPECT_EQ(v, 0.0f);
  std::vector<float> ones(kN / 2, 1.0f);
  bad.setDelays(ones.data(), ones.data(), kN / 2);
  bad.reset();
}

TEST(SpectralDelay, WeightsMixTheTwoFramesAroundEachDelayWithTheRunningPhase) {
  std::vector<float> delay(kN / 2), gain(kN / 2);
  for (int i = 0; i < kN / 2; ++i) {
    delay[i] = 4.0f + 3.5f * std::sin(i * 0.05f) + 0.37f * (i % 3);
    gain[i] = 1.0f - i / 200.0f;
  }
  SpectralDelay d = make(32, delay, gain);
  // Independently: the weights in double with the true cosine and sine (the processor's own
  // polynomial is within 0.9 % of them).
  double phase = 0.0;
  for (int i = 0; i < kN / 2; ++i) {
    const int whole = static_cast<int>(delay[i]);
    const double fraction = delay[i] - whole;
    EXPECT_EQ(d.binDelays[i], whole);
    for (int k = 0; k < 2; ++k) {
      const double t = k - fraction;
      const double v = std::max(1.0 - std::fabs(t), 0.0);
      const double s = (3.0 - 2.0 * v) * v * v * gain[i];
      const std::complex<double> expected = std::polar(s, 2.0 * M_PI * (i * t * 0.25 + phase));
      const SpectralDelay::Complex c = k == 0 ? d.coefficients0[i] : d.coefficients1[i];
      EXPECT_NEAR(c.re, expected.real(), 1e-2 * std::max(s, 1e-3)) << i << " " << k;
      EXPECT_NEAR(c.im, expected.imag(), 1e-2 * std::max(s, 1e-3)) << i << " " << k;
    }
    if (i + 1 < kN / 2) phase += (delay[i + 1] - delay[i]) * (i + 0.5) * 0.25;
  }

  // Half way between two frames: each gets half the weight.
  SpectralDelay half = uniform(2.5f);
  EXPECT_EQ(half.binDelays[0], 2);
  EXPECT_NEAR(half.coefficients0[0].re, 0.5f, 1e-6);
  EXPECT_NEAR(half.coefficients1[0].re, 0.5f, 1e-6);
  for (int i = 0; i < kN / 2; ++i) {
    EXPECT_NEAR(std::hypot(half.coefficients0[i].re, half.coefficients0[i].im), 0.5, 3e-3);
    EXPECT_NEAR(std::hypot(half.coefficients1[i].re, half.coefficients1[i].im), 0.5, 3e-3);
  }
  // No delay and unit gain: the current frame as it is.
  SpectralDelay none = uniform(0.0f);
  for (int i = 0; i < kN / 2; ++i) {
    EXPECT_EQ(none.coefficients0[i].re, 1.0f);
    EXPECT_EQ(none.coefficients0[i].im, 0.0f);
    EXPECT_EQ(none.coefficients1[i].re, 0.0f);
    EXPECT_EQ(none.coefficients1[i].im, 0.0f);
  }
}

TEST(SpectralDelay, DelaysBeyondTheHistoryAreHeldWithinIt) {
  std::vector<float> delay(kN / 2, 100.0f), gain(kN / 2, 1.0f);
  delay[3] = std::nanf("");
  delay[4] = -2.0f;
  gain[5] = std::nanf("");
  SpectralDelay d = make(8, delay, gain);
  EXPECT_EQ(d.binDelays[0], 7);
  EXPECT_EQ(d.binDelays[3], 0);
  EXPECT_EQ(d.binDelays[4], 0);
  EXPECT_EQ(d.coefficients0[5].re, 0.0f);
  for (int i = 0; i < kN / 2; ++i) {
    ASSERT_TRUE(std::isfinite(d.coefficients0[i].re) && std::isfinite(d.coefficients0[i].im));
    ASSERT_TRUE(std::isfinite(d.coefficients1[i].re) && std::isfinite(d.coefficients1[i].im));
  }
  const std::vector<float> in = noise(3000, 5);
  const std::vector<float> out = run(d, in, 64);
  for (float v : out) ASSERT_TRUE(std::isfinite(v));
}

TEST(SpectralDelay, WithoutDelayASinePassesAtUnityGainAfterOneFrame) {
  for (double cycles : {1000.0 / 48000.0, 31.5 / kN, 0.3}) {
    SpectralDelay d = uniform(0.0f);
    const std::vector<float> in = sine(4000, cycles);
    const std::vector<float> out = run(d, in, 64);
    double worst = 0.0, early = 0.0;
    for (size_t t = 2 * kN; t < in.size(); ++t)
      worst = std::max(worst, std::fabs(double(out[t]) - in[t - kN]));
    for (int t = 0; t < kN; ++t) early = std::max(early, double(std::fabs(out[t])));
    EXPECT_LT(worst, 1e-4) << cycles;
    // One frame of latency: before it, only the spread of each frame's dropped Nyquist value.
    EXPECT_LT(early, 2e-3) << cycles;
  }
}

TEST(SpectralDelay, MatchesAPlainDoublePrecisionShortTimeProcessor) {
  const std::vector<float> in = noise(2500, 9);
  std::vector<float> delay(kN / 2), gain(kN / 2);
  for (int i = 0; i < kN / 2; ++i) {
    delay[i] = 1.0f + 9.0f * std::exp(-std::fabs(40.0f - i) / 15.0f) + 0.31f * (i % 4);
    gain[i] = 0.4f + 0.6f * std::cos(i * 0.07f) * std::cos(i * 0.07f);
  }
  for (const auto& [d, g] : {std::pair(delay, gain),
                             std::pair(std::vector<float>(kN / 2, 0.0f),
                                       std::vector<float>(kN / 2, 1.0f))}) {
    SpectralDelay sd = make(16, d, g);
    const std::vector<double> expected = reference(sd, in);
    const std::vector<float> out = run(sd, in, 64);
    double worst = 0.0, peak = 0.0;
    for (size_t t = 0; t < in.size(); ++t) {
      worst = std::max(worst, std::fabs(out[t] - expected[t]));
      peak = std::max(peak, std::fabs(expected[t]));
    }
    EXPECT_GT(peak, 0.3);
    EXPECT_LT(worst, 2e-5 * peak);
  }
}

TEST(SpectralDelay, EachBinArrivesAfterItsOwnDelay) {
  // Bins up to 40 wait 2 frames, the rest 10. The step of 8 frames turns the running phase by
  // a whole number of turns, so each band comes out as a plain delayed copy.
  std::vector<float> delay(kN / 2), gain(kN / 2, 1.0f);
  for (int i = 0; i < kN / 2; ++i) delay[i] = i <= 40 ? 2.0f : 10.0f;
  for (const auto& [bin, frames] : {std::pair(10, 2), std::pair(80, 10), std::pair(25, 2)}) {
    SpectralDelay d = make(16, delay, gain);
    const std::vector<float> in = sine(6000, static_cast<double>(bin) / kN);
    const std::vector<float> out = run(d, in, 37);
    const int lag = kN + frames * kHop;
    // The sine's onset is broadband: its other band arrives up to 10 frames late. Past that,
    // the band holds nothing but the delayed sine.
    double worst = 0.0;
    for (size_t t = 2 * kN + 10 * kHop; t < in.size(); ++t)
      worst = std::max(worst, std::fabs(double(out[t]) - in[t - lag]));
    EXPECT_LT(worst, 1e-4) << "bin " << bin;
  }
  // A uniform whole delay of d frames is the same signal d hops later.
  SpectralDelay three = uniform(3.0f);
  const std::vector<float> in = noise(4000, 11);
  const std::vector<float> out3 = run(three, in, 64);
  SpectralDelay zero = uniform(0.0f);
  const std::vector<float> out0 = run(zero, in, 64);
  for (size_t t = 3 * kHop; t < in.size(); ++t) ASSERT_NEAR(out3[t], out0[t - 3 * kHop], 1e-6);
}

TEST(SpectralDelay, BlockSizeAndInPlaceProcessingDoNotChangeTheOutput) {
  std::vector<float> delay(kN / 2), gain(kN / 2);
  for (int i = 0; i < kN / 2; ++i) {
    delay[i] = 2.0f + 0.05f * i;
    gain[i] = 1.0f;
  }
  const std::vector<float> in = noise(9000, 13);
  SpectralDelay ref = make(16, delay, gain);
  const std::vector<float> expected = run(ref, in, 64);
  for (int block : {1, 63, 65, 4096}) {
    SpectralDelay d = make(16, delay, gain);
    EXPECT_EQ(run(d, in, block), expected) << block;
  }
  SpectralDelay d = make(16, delay, gain);
  std::vector<float> buf = in;
  for (size_t p = 0; p < buf.size(); p += 100) {
    const int n = static_cast<int>(std::min<size_t>(100, buf.size() - p));
    d.process(buf.data() + p, buf.data() + p, n);
    d.process(buf.data() + p, buf.data() + p, 0);  // empty blocks in between change nothing
  }
  EXPECT_EQ(buf, expected);
}

// The delays and gains of a dispersive spring at a given rate: delay rising from about 20 ms to
// 80 ms just below 6 kHz, then falling; gains notched around 6 kHz and rolled off above 8 kHz.
void springCurve(float rate, std::vector<float>& delay, std::vector<float>& gain, int& history) {
  delay.assign(kN / 2, 0.0f);
  gain.assign(kN / 2, 0.0f);
  const float framesPerMs = rate / 64000.0f;
  float largest = 0.0f, longest = 0.0f;
  for (int i = 0; i < kN / 2; ++i) {
    const float f = i * rate / kN;
    const float ms = f < 6000.0f ? 60.0f * std::exp(-std::fabs(6000.0f - f) / 1200.0f) + 20.0f
                                 : 50.0f / ((f - 4000.0f) / 2000.0f + 1.0f) + 4.0f;
    delay[i] = framesPerMs * ms;
    gain[i] = (f + 6.0f) / ((1.0f + std::pow(f / 8000.0f, 3.0f)) * (f + 8.0f)) *
              std::min(std::fabs(f - 6000.0f) / 400.0f, 1.0f);
    largest = std::max(largest, gain[i]);
    longest = std::max(longest, delay[i]);
  }
  for (float& g : gain) g /= largest;
  history = 1 << static_cast<int>(std::log2(longest + 4.0f) + 1.0f);
}

TEST(SpectralDelay, StaysFiniteAndNeverGainsEnergyOnNoiseAtEveryRate) {
  for (float rate : {22050.0f, 44100.0f, 96000.0f, 192000.0f}) {
    std::vector<float> delay, gain;
    int history = 0;
    springCurve(rate, delay, gain, history);
    SpectralDelay d = make(history, delay, gain);
    const int samples = static_cast<int>(rate / 2);
    const std::vector<float> in = noise(samples, 17);
    std::vector<float> out = run(d, in, 64);
    // Let the longest delay come out as well.
    const std::vector<float> silence((history + 8) * kHop, 0.0f);
    const std::vector<float> tail = run(d, silence, 64);
    out.insert(out.end(), tail.begin(), tail.end());
    double inEnergy = 0.0, outEnergy = 0.0, peak = 0.0;
    for (float v : in) inEnergy += double(v) * v;
    for (float v : out) {
      ASSERT_TRUE(std::isfinite(v)) << rate;
      outEnergy += double(v) * v;
      peak = std::max(peak, double(std::fabs(v)));
    }
    EXPECT_LE(outEnergy, inEnergy * 1.01) << rate;
    EXPECT_GT(outEnergy, inEnergy * 0.01) << rate;
    EXPECT_LT(peak, 4.0) << rate;
  }
}

TEST(SpectralDelay, ResetForgetsThePastSpectraButKeepsTheRings) {
  SpectralDelay d = uniform(5.0f);
  const std::vector<float> in = noise(3000, 19);
  run(d, in, 64);
  const std::vector<float> inputRing = d.inputRing, outputRing = d.outputRing;
  const int writeIndex = d.writeIndex, nextFrame = d.nextFrame;
  d.reset();
  for (float v : d.history) ASSERT_EQ(v, 0.0f);
  EXPECT_EQ(d.inputRing, inputRing);
  EXPECT_EQ(d.outputRing, outputRing);
  EXPECT_EQ(d.writeIndex, writeIndex);
  EXPECT_EQ(d.nextFrame, nextFrame);

  // In silence the output first plays out what the rings held, then the frames still holding
  // old input once their delay has passed, and then stays exactly silent.
  const std::vector<float> silence(3000, 0.0f);
  const std::vector<float> out = run(d, silence, 64);
  EXPECT_NE(out[0], 0.0f);
  const size_t quiet = kN + 6 * kHop + kN;
  for (size_t t = 0; t < out.size(); ++t) {
    ASSERT_TRUE(std::isfinite(out[t]));
    if (t >= quiet) {
      ASSERT_EQ(out[t], 0.0f) << t;
    }
  }
}

TEST(SpectralDelay, ProcessingSettingDelaysAndResettingDoNotAllocate) {
  std::vector<float> delay, gain;
  int history = 0;
  springCurve(48000.0f, delay, gain, history);
  SpectralDelay d = make(history, delay, gain);
  const std::vector<float> in = noise(4096, 23);
  std::vector<float> out(4096);
  AllocationCounter counter;
  for (int k = 0; k < 4; ++k) {
    d.process(in.data(), out.data(), 64);
    d.process(in.data(), out.data(), 4096);
    d.process(in.data(), out.data(), 0);
    d.setDelays(delay.data(), gain.data(), kN / 2);
    d.reset();
  }
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
