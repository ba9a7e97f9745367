#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

#include "engine/dsp/BandScale.h"
#include "engine/dsp/SpectralSynth.h"

namespace {

using cf = std::complex<float>;
constexpr double kPi = std::numbers::pi;
constexpr int kN = 256;
constexpr int kHop = 64;

// The engine's order: what the voices added is synthesised at the hop boundary, then the hop's
// frames are read.
std::vector<float> runHops(SpectralSynth& synth, int hops, const std::function<void(int)>& add, bool* silent = nullptr) {
  std::vector<float> out(static_cast<size_t>(hops * kHop), 0.0f);
  for (int h = 0; h < hops; ++h) {
    add(h);
    synth.synthesizeFrame(1);
    float* channel = out.data() + h * kHop;
    EXPECT_EQ(synth.read(&channel, 0, kHop, 1, silent != nullptr ? silent + h : nullptr), kHop);
  }
  return out;
}

void addBin(SpectralSynth& synth, int bin, cf value) {
  const cf* values[1] = {&value};
  synth.addBins(values, bin, 1, 1);
}

// Least-squares fit of a·cos + b·sin at a known frequency (cycles per sample) over
// x[from..from + n), in double: the amplitude, and the largest deviation from the fit.
std::pair<double, double> fitSinusoid(const std::vector<float>& x, int from, int n, double cycles) {
  double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
  for (int i = from; i < from + n; ++i) {
    const double c = std::cos(2 * kPi * cycles * i), s = std::sin(2 * kPi * cycles * i);
    cc += c * c, ss += s * s, cs += c * s, xc += x[size_t(i)] * c, xs += x[size_t(i)] * s;
  }
  const double a = (xc * ss - xs * cs) / (cc * ss - cs * cs), b = (xs * cc - xc * cs) / (cc * ss - cs * cs);
  double residual = 0;
  for (int i = from; i < from + n; ++i)
    residual = std::max(residual, std::fabs(x[size_t(i)] - a * std::cos(2 * kPi * cycles * i) - b * std::sin(2 * kPi * cycles * i)));
  return {std::hypot(a, b), residual};
}

// Magnitude of the plain DFT of x[from..from + n) at a frequency, per unit amplitude.
double dftMagnitude(const std::vector<float>& x, int from, int n, double cycles) {
  std::complex<double> sum = 0;
  for (int i = 0; i < n; ++i) sum += double(x[size_t(from + i)]) * std::polar(1.0, -2 * kPi * cycles * i);
  return 2.0 * std::abs(sum) / n;
}

TEST(SpectralSynth, WindowsAddToOneAndABinRotatingEachHopIsAPureSinusoid) {
  SpectralSynth synth(kN, 1, kHop);
  for (int i = 0; i < kHop; ++i) {  // four overlapping windows add to exactly 1
    double sum = 0;
    for (int m = 0; m < kN / kHop; ++m) sum += synth.window[size_t(i + m * kHop)];
    EXPECT_NEAR(sum, 1.0, 1e-6) << i;
  }
  EXPECT_EQ(SpectralSynth(kN, 1, 0).hop(), kN / 2);
  for (int bin : {4, 37, 100}) {
    SpectralSynth s(kN, 1, kHop);
    s.setSampleRate(44100.0f, 2.0f, 1.0f);
    // A steady tone of `bin` cycles per N samples turns by bin·hop/N cycles per hop.
    const auto out = runHops(s, 16 + 2048 / kHop, [&](int h) { addBin(s, bin, std::polar(0.3f, 0.7f + float(kPi * bin * h / 2))); });
    const auto [amplitude, residual] = fitSinusoid(out, 4 * kN, 2048, double(bin) / kN);
    EXPECT_NEAR(amplitude, 0.6, 1e-4) << bin;  // twice the value's magnitude
    EXPECT_LT(residual, 5e-4) << bin;
  }
}

TEST(SpectralSynth, PartialAtABandCentreSoundsAtThatFrequency) {
  const float rate = 44100.0f;
  for (int band : {20, 40, 55}) {
    SpectralSynth synth(kN, 1, kHop);
    synth.setSampleRate(rate, 2.0f, 1.0f);
    const float hz = kBandCentreHz[size_t(band)];
    const double x = hz * kN / rate;  // in bins
    const auto out = runHops(synth, 32 + 4096 / kHop, [&](int h) {
      const cf v = cf(0.25f, 0.0f) * std::polar(1.0f, static_cast<float>(kPi * x * h / 2.0));
      synth.addPartials(&hz, &v, 1, 0);
    });
    // The bin weights keep the level near 2|v|; the DFT peaks at the tone, not half a bin off.
    const double at = dftMagnitude(out, 8 * kN, 4096, hz / rate);
    EXPECT_NEAR(fitSinusoid(out, 8 * kN, 4096, hz / rate).first, 0.5, 0.05) << band;
    EXPECT_GT(at, 1.5 * dftMagnitude(out, 8 * kN, 4096, (x - 0.5) / kN)) << band;
    EXPECT_GT(at, 1.5 * dftMagnitude(out, 8 * kN, 4096, (x + 0.5) / kN)) << band;
  }
}

TEST(SpectralSynth, SilenceIsExactAndReportedOnlyOnceTheTailHasDiedAway) {
  for (float shelfGain : {1.0f, 10.0f}) {
    SpectralSynth synth(kN, 1, kHop);
    synth.setSampleRate(48000.0f, 2.0f, shelfGain);
    EXPECT_EQ(synth.shelfOn(), shelfGain != 1.0f);
    bool silent[2000] = {};
    auto out = runHops(synth, 50, [](int) {}, silent);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::all_of(silent + 8, silent + 50, [](bool s) { return s; }));
    out = runHops(synth, 2000, [&](int h) { if (h < 10) addBin(synth, 9, cf(0.5f, 0.1f)); }, silent);
    for (int h = 0; h < 2000; ++h) {
      EXPECT_TRUE(h >= 10 || !silent[h]) << h;
      for (int i = 0; i < kHop && silent[h]; ++i) ASSERT_LT(std::fabs(out[size_t(h * kHop + i)]), 1e-6f) << h;
    }
    EXPECT_TRUE(silent[1999]) << shelfGain;
  }
  SpectralSynth off(kN, 1, kHop);
  off.setSampleRate(0.0f, 2.0f, 10.0f);  // no shelf without a rate
  EXPECT_FALSE(off.shelfOn());
}

TEST(SpectralSynth, BinsBelowZeroFoldBackConjugatedAndDcCountsTwice) {
  // Bin -1 with (0.3, 0.4) gives the same frame as bin 1 with (0.3, -0.4).
  SpectralSynth folded(kN, 1, kHop), direct(kN, 1, kHop), dc(kN, 1, kHop);
  addBin(folded, -1, cf(0.3f, 0.4f));
  addBin(direct, 1, cf(0.3f, -0.4f));
  addBin(dc, 0, cf(0.5f, 0.7f));  // a constant 2·0.5 under the window; the imaginary part dropped
  for (SpectralSynth* s : {&folded, &direct, &dc}) s->synthesizeFrame(1);
  double energy = 0;
  for (int i = 0; i < kN; ++i) {
    EXPECT_NEAR(folded.ring(0)[i], direct.ring(0)[i], 1e-7f) << i;
    EXPECT_NEAR(dc.ring(0)[i], dc.window[size_t(i)], 1e-6f) << i;
    energy += double(direct.ring(0)[i]) * direct.ring(0)[i];
  }
  EXPECT_GT(energy, 1e-4);

  // Band spread: value·w0 to the bin, value·w1 to the next.
  SpectralSynth bands(kN, 1, kHop);
  bands.setSampleRate(44100.0f, 2.0f, 1.0f);
  const int32_t bins[2] = {0, 20};
  const float w0[2] = {0.6f, 1.0f}, w1[2] = {0.4f, 0.0f};
  const cf values[2] = {{1.0f, 2.0f}, {3.0f, 0.0f}};
  const cf* channel[1] = {values};
  bands.addBands(bins, w0, w1, channel, 2, 1);
  EXPECT_TRUE(bands.re(0)[0] == 0.6f && bands.re(0)[1] == 0.4f && bands.im(0)[1] == 0.8f && bands.re(0)[20] == 3.0f);
  // Out of range or non-finite partial frequencies are dropped.
  const float bad[3] = {1e9f, std::numeric_limits<float>::quiet_NaN(), -1e9f};
  const cf ones[3] = {1.0f, 1.0f, 1.0f};
  bands.addPartials(bad, ones, 3, 0);
  bands.synthesizeFrame(1);
  for (int i = 0; i < kN; ++i) ASSERT_TRUE(std::isfinite(bands.ring(0)[i]));
}

TEST(SpectralSynth, ReadWrapsAroundTheRingAndStereoKeepsChannelsApart) {
  SpectralSynth synth(kN, 2, kHop);
  const cf l(0.5f, 0.0f), r(0.0f, 0.0f);
  const cf* values[2] = {&l, &r};
  synth.addBins(values, 8, 1, 2);
  synth.synthesizeFrame(2);
  std::vector<float> left(300, 9.0f), right(300, 9.0f);
  float* out[2] = {left.data(), right.data()};
  EXPECT_EQ(synth.read(out, 0, 200, 2, nullptr), 200);
  EXPECT_EQ(synth.read(out, 200, 100, 2, nullptr), 100);  // wraps at the ring's end
  EXPECT_EQ(synth.readPosition(), 300 % kN);
  double leftEnergy = 0;
  for (int i = 0; i < 300; ++i) leftEnergy += left[size_t(i)] * left[size_t(i)];
  EXPECT_GT(leftEnergy, 1.0);
  EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::all_of(synth.ring(0), synth.ring(0) + kN, [](float v) { return v == 0.0f; }));  // consumed
  EXPECT_EQ(synth.read(out, 0, 1000, 2, nullptr), kN);  // at most N at once
}

TEST(SpectralSynth, NonFiniteInputDoesNotStickInTheShelf) {
  SpectralSynth synth(kN, 1, kHop);
  synth.setSampleRate(44100.0f, 2.0f, 10.0f);
  const auto out = runHops(synth, 20, [&](int h) { addBin(synth, 12, cf(h == 2 ? std::nanf("") : 0.1f, 0.0f)); });
  for (size_t i = 8 * kHop; i < out.size(); ++i) ASSERT_TRUE(std::isfinite(out[i])) << i;

}

}  // namespace
