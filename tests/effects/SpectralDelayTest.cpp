#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <vector>

#include "effects/SpectralDelay.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::noiseVector;
using Spectrum = std::vector<std::complex<double>>;

constexpr int kN = 256, kBins = kN / 2, kHop = kN / 4;

std::vector<float> sine(size_t n, double cyclesPerSample) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * cyclesPerSample * i + 0.3));
  return v;
}

std::vector<float> run(SpectralDelay& d, const std::vector<float>& in, int block) {
  std::vector<float> out(in.size());
  for (size_t p = 0; p < in.size(); p += block)
    d.process(in.data() + p, out.data() + p, static_cast<int>(std::min<size_t>(block, in.size() - p)));
  return out;
}

SpectralDelay make(int history, const std::vector<float>& delay, std::vector<float> gain = {}) {
  if (gain.empty()) gain.assign(kBins, 1.0f);
  SpectralDelay d;
  EXPECT_TRUE(d.init(kN, history));
  d.setDelays(delay.data(), gain.data(), static_cast<int>(delay.size()));
  return d;
}

SpectralDelay uniform(float delay) { return make(16, std::vector<float>(kBins, delay)); }

double worstDifference(const std::vector<float>& out, const std::vector<float>& expected, size_t shift, size_t from) {
  double worst = 0.0;
  for (size_t t = from; t < out.size(); ++t) worst = std::max(worst, std::fabs(double(out[t]) - expected[t - shift]));
  return worst;
}

// The whole short-time processor written out plainly in double precision: a direct DFT of each
// windowed frame, the per-bin mix of two past frames with the processor's own weights, a direct
// inverse DFT and overlap-add. A frame is taken at every multiple of the hop (time 0 included),
// from the N samples before it.
std::vector<double> reference(const SpectralDelay& d, const std::vector<float>& in) {
  std::vector<double> window(kN);
  double sum = 0.0;
  for (int i = 0; i < kN; ++i) {
    const double x = 2.0 * M_PI * (i - kN / 2 + 0.5) / kN;
    window[i] = std::sqrt((0.428 + 0.5 * std::cos(x) + 0.072 * std::cos(2 * x)) * (0.5 + 0.5 * std::cos(x)));
    sum += window[i] * window[i];
  }
  Spectrum turns(kN);
  for (int i = 0; i < kN; ++i) turns[i] = std::polar(1.0, -2.0 * M_PI * i / kN);
  auto twiddle = [&turns](int k, int i) { return turns[(k * i) % kN]; };
  std::vector<Spectrum> frames;
  std::vector<double> out(in.size(), 0.0);
  for (size_t t = 0; t < in.size(); t += kHop) {
    Spectrum x(kBins);  // bin 0 holds (DC, Nyquist)
    for (int i = 0; i < kN; ++i) {
      const int64_t s = static_cast<int64_t>(t) - kN + i;
      const double v = (s >= 0 ? in[static_cast<size_t>(s)] : 0.0) * window[i];
      x[0] += std::complex<double>(v, i % 2 ? -v : v);
      for (int k = 1; k < kBins; ++k) x[k] += v * twiddle(k, i);
    }
    frames.push_back(x);
    auto past = [&](int64_t back, int k) {
      const int64_t f = static_cast<int64_t>(frames.size()) - 1 - back;
      return f >= 0 ? frames[static_cast<size_t>(f)][k] : std::complex<double>();
    };
    Spectrum y(kBins);
    for (int k = 0; k < kBins; ++k)
      y[k] = past(d.binDelays[k] + 1, k) * std::complex<double>(d.coefficients1[k].re, d.coefficients1[k].im) +
             past(d.binDelays[k], k) * std::complex<double>(d.coefficients0[k].re, d.coefficients0[k].im);
    for (int i = 0; i < kN && t + i < in.size(); ++i) {
      double v = y[0].real();  // the Nyquist value is dropped
      for (int k = 1; k < kBins; ++k) v += 2.0 * (y[k] * std::conj(twiddle(k, i))).real();
      out[t + i] += v * window[i] * kHop / (kN * sum);
    }
  }
  return out;
}

TEST(SpectralDelay, InitRefusesWhatCannotBeTransformedAndBoundsTheHistory) {
  SpectralDelay d;
  for (const auto& [asked, given] : {std::pair(100, 128), {1 << 20, SpectralDelay::kMaxHistory},
                                     {std::numeric_limits<int>::max(), SpectralDelay::kMaxHistory}, {0, 2}}) {
    ASSERT_TRUE(d.init(kN, asked));
    EXPECT_EQ(d.historySize, given);
    EXPECT_EQ(d.history.size(), static_cast<size_t>(given * kN));
  }
  SpectralDelay bad;
  EXPECT_FALSE(bad.init(100, 8));
  EXPECT_FALSE(bad.init(0, 8));
  std::vector<float> in(64, 1.0f), out(64, 5.0f), ones(kBins, 1.0f);
  bad.process(in.data(), out.data(), 64);  // silent, not a crash
  EXPECT_EQ(out, std::vector<float>(64, 0.0f));
  bad.setDelays(ones.data(), ones.data(), kBins);
  bad.reset();
}

TEST(SpectralDelay, DelaysBeyondTheHistoryAreHeldWithinIt) {
  std::vector<float> delay(kBins, 100.0f), gain(kBins, 1.0f);
  delay[3] = std::nanf("");
  delay[4] = -2.0f;
  gain[5] = std::nanf("");
  SpectralDelay d = make(8, delay, gain);
  EXPECT_EQ(d.binDelays[0], 7);
  EXPECT_EQ(d.binDelays[3], 0);
  EXPECT_EQ(d.binDelays[4], 0);
  EXPECT_EQ(d.coefficients0[5].re, 0.0f);
  for (float v : run(d, noiseVector(3000, 5), 64)) ASSERT_TRUE(std::isfinite(v));
}

// Without delay the overlap-add gives the input back one frame late; before that comes only the
// spread of each frame's dropped Nyquist value.
TEST(SpectralDelay, WithoutDelayASinePassesAtUnityGainAfterOneFrame) {
  for (double cycles : {1000.0 / 48000.0, 31.5 / kN, 0.3}) {
    SpectralDelay d = uniform(0.0f);
    const std::vector<float> in = sine(4000, cycles), out = run(d, in, 64);
    EXPECT_LT(worstDifference(out, in, kN, 2 * kN), 1e-4) << cycles;
    EXPECT_LT(worstDifference(std::vector<float>(out.begin(), out.begin() + kN), std::vector<float>(kN), 0, 0), 2e-3);
  }
}

TEST(SpectralDelay, MatchesAPlainDoublePrecisionShortTimeProcessor) {
  const std::vector<float> in = noiseVector(2500, 9);
  std::vector<float> delay(kBins), gain(kBins);
  for (int i = 0; i < kBins; ++i) {
    delay[i] = 1.0f + 9.0f * std::exp(-std::fabs(40.0f - i) / 15.0f) + 0.31f * (i % 4);
    gain[i] = 0.4f + 0.6f * std::cos(i * 0.07f) * std::cos(i * 0.07f);
  }
  SpectralDelay sd = make(16, delay, gain);
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

// Bins up to 40 wait 2 frames, the rest 10. The step of 8 frames turns the running phase by a
// whole number of turns, so each band comes out as a plain delayed copy once the other band's
// share of the sine's broadband onset has passed; a uniform whole delay is a plain shift.
TEST(SpectralDelay, EachBinArrivesAfterItsOwnDelay) {
  std::vector<float> delay(kBins);
  for (int i = 0; i < kBins; ++i) delay[i] = i <= 40 ? 2.0f : 10.0f;
  for (const auto& [bin, frames] : {std::pair(10, 2), std::pair(80, 10), std::pair(25, 2)}) {
    SpectralDelay d = make(16, delay);
    const std::vector<float> in = sine(6000, static_cast<double>(bin) / kN);
    EXPECT_LT(worstDifference(run(d, in, 37), in, kN + frames * kHop, 2 * kN + 10 * kHop), 1e-4) << "bin " << bin;
  }
  const std::vector<float> in = noiseVector(4000, 11);
  SpectralDelay three = uniform(3.0f), zero = uniform(0.0f);
  const std::vector<float> out0 = run(zero, in, 64);
  EXPECT_LT(worstDifference(run(three, in, 64), out0, 3 * kHop, 3 * kHop), 1e-6);
}

TEST(SpectralDelay, BlockSizeAndInPlaceProcessingDoNotChangeTheOutput) {
  std::vector<float> delay(kBins);
  for (int i = 0; i < kBins; ++i) delay[i] = 2.0f + 0.05f * i;
  const std::vector<float> in = noiseVector(9000, 13);
  SpectralDelay ref = make(16, delay);
  const std::vector<float> expected = run(ref, in, 64);
  for (int block : {1, 63, 65, 4096}) {
    SpectralDelay d = make(16, delay);
    EXPECT_EQ(run(d, in, block), expected) << block;
  }
  SpectralDelay d = make(16, delay);
  std::vector<float> buf = in;
  for (size_t p = 0; p < buf.size(); p += 100) {
    d.process(buf.data() + p, buf.data() + p, static_cast<int>(std::min<size_t>(100, buf.size() - p)));
    d.process(buf.data() + p, buf.data() + p, 0);  // empty blocks in between change nothing
  }
  EXPECT_EQ(buf, expected);
}

// Reset forgets the past spectra and keeps the rings: in silence the output first plays out
// what the rings held, then the frames still holding old input once their delay has passed,
// and then stays exactly silent.
TEST(SpectralDelay, ResetForgetsThePastSpectraButKeepsTheRings) {
  SpectralDelay d = uniform(5.0f);
  run(d, noiseVector(3000, 19), 64);
  const std::vector<float> inputRing = d.inputRing, outputRing = d.outputRing;
  const int32_t writeIndex = d.writeIndex, nextFrame = d.nextFrame;
  d.reset();
  EXPECT_EQ(d.history, std::vector<float>(d.history.size(), 0.0f));
  EXPECT_TRUE(d.inputRing == inputRing && d.outputRing == outputRing);
  EXPECT_TRUE(d.writeIndex == writeIndex && d.nextFrame == nextFrame);
  const std::vector<float> out = run(d, std::vector<float>(3000), 64);
  EXPECT_NE(out[0], 0.0f);
  for (size_t t = kN + 6 * kHop + kN; t < out.size(); ++t) ASSERT_EQ(out[t], 0.0f) << t;
}

}  // namespace
