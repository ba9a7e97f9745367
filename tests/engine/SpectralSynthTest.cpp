#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

#include "engine/BandScale.h"
#include "engine/SpectralSynth.h"
#include "support/AllocationCounter.h"

namespace {

using cf = std::complex<float>;
constexpr double kPi = std::numbers::pi;
constexpr int kN = 256;
constexpr int kHop = 64;

// The engine's order: what the voices added is synthesised at the hop boundary, then the hop's
// frames are read.
std::vector<float> runHops(SpectralSynth& synth, int hops, const std::function<void(int)>& add) {
  std::vector<float> out(static_cast<size_t>(hops * kHop), 0.0f);
  for (int h = 0; h < hops; ++h) {
    add(h);
    synth.synthesizeFrame(1);
    float* channel = out.data();
    EXPECT_EQ(synth.read(&channel, h * kHop, kHop, 1, nullptr), kHop);
  }
  return out;
}

// Least-squares fit of a·cos + b·sin at a known frequency (cycles per sample) over
// x[from..from + n), in double: the amplitude, and the largest deviation from the fit.
struct Fit {
  double amplitude;
  double residual;
};

Fit fitSinusoid(const std::vector<float>& x, int from, int n, double cycles) {
  double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
  for (int i = 0; i < n; ++i) {
    const double c = std::cos(2 * kPi * cycles * (from + i));
    const double s = std::sin(2 * kPi * cycles * (from + i));
    const double v = x[static_cast<size_t>(from + i)];
    cc += c * c;
    ss += s * s;
    cs += c * s;
    xc += v * c;
    xs += v * s;
  }
  const double det = cc * ss - cs * cs;
  const double a = (xc * ss - xs * cs) / det;
  const double b = (xs * cc - xc * cs) / det;
  double residual = 0;
  for (int i = 0; i < n; ++i) {
    const double t = 2 * kPi * cycles * (from + i);
    residual = std::max(residual, std::fabs(x[static_cast<size_t>(from + i)] - (a * std::cos(t) + b * std::sin(t))));
  }
  return {std::hypot(a, b), residual};
}

// Magnitude of the plain DFT of x[from..from + n) at a frequency, per unit amplitude.
double dftMagnitude(const std::vector<float>& x, int from, int n, double cycles) {
  std::complex<double> sum = 0;
  for (int i = 0; i < n; ++i) sum += double(x[static_cast<size_t>(from + i)]) * std::polar(1.0, -2 * kPi * cycles * i);
  return 2.0 * std::abs(sum) / n;
}

TEST(SpectralSynth, ConstructionWindowSumsToOneAcrossOverlaps) {
  SpectralSynth synth(kN, 1, kHop);
  ASSERT_EQ(synth.window.size(), size_t(kN));
  // Four windows overlap at every sample; their scaled Blackman shapes add to exactly 1.
  for (int i = 0; i < kHop; ++i) {
    double sum = 0;
    for (int m = 0; m < kN / kHop; ++m) sum += synth.window[size_t(i + m * kHop)];
    EXPECT_NEAR(sum, 1.0, 1e-6) << i;
  }
  EXPECT_EQ(SpectralSynth(kN, 1, 0).hop(), kN / 2);
  EXPECT_NEAR(synth.window[0], 0.0f, 1e-9f);
}

TEST(SpectralSynth, SingleBinRotatingEachHopGivesAPureSinusoidOfTwiceItsMagnitude) {
  for (int bin : {4, 10, 37, 100}) {
    SpectralSynth synth(kN, 1, kHop);
    synth.setSampleRate(44100.0f, 2.0f, 1.0f);
    const cf value = std::polar(0.3f, 0.7f);
    // A steady tone of `bin` cycles per N samples turns by bin·hop/N cycles per hop.
    const auto out = runHops(synth, 4 * 4 + 2048 / kHop, [&](int h) {
      const cf v = value * std::polar(1.0f, static_cast<float>(kPi * bin * h / 2.0));
      const cf* values[1] = {&v};
      synth.addBins(values, bin, 1, 1);
    });
    const Fit fit = fitSinusoid(out, 4 * kN, 2048, double(bin) / kN);
    EXPECT_NEAR(fit.amplitude, 0.6, 1e-4) << bin;
    EXPECT_LT(fit.residual, 5e-4) << bin;
  }
}

TEST(SpectralSynth, PartialAtABandCentreSoundsAtThatFrequency) {
  const float rate = 44100.0f;
  for (int band : {20, 40, 55}) {
    SpectralSynth synth(kN, 1, kHop);
    synth.setSampleRate(rate, 2.0f, 1.0f);
    const double hz = kBandCentreHz[size_t(band)];
    const double x = hz * kN / rate;  // frequency in bins
    const cf value(0.25f, 0.0f);
    const auto out = runHops(synth, 8 * 4 + 4096 / kHop, [&](int h) {
      const float f = static_cast<float>(hz);
      const cf v = value * std::polar(1.0f, static_cast<float>(kPi * x * h / 2.0));
      synth.addPartials(&f, &v, 1, 0);
    });
    // Expected: each frame holds the two bins' tones with their weights; seen from the tone's
    // frequency they beat slowly across the window, so the level is the window-weighted mean
    // of that beat (computed here term by term in double).
    const double d = x - std::floor(x);
    const double w0 = 1 - (0.27 * d + 0.73) * d;
    const double w1 = 1 - (0.27 * (1 - d) + 0.73) * (1 - d);
    double level = 0;
    for (int n = 0; n < kN; ++n) {
      const double m = n - kN / 2;
      const double win = (0.42 - 0.5 * std::cos(2 * kPi * n / kN) + 0.08 * std::cos(4 * kPi * n / kN)) / (kN * 0.42);
      level += win * (w0 * std::cos(2 * kPi * d * m / kN) + w1 * std::cos(2 * kPi * (1 - d) * m / kN));
    }
    const Fit fit = fitSinusoid(out, 8 * kN, 4096, hz / rate);
    EXPECT_NEAR(fit.amplitude, 2 * 0.25 * level, 0.01 * fit.amplitude) << band;
    EXPECT_NEAR(fit.amplitude, 0.5, 0.05) << band;  // the weights keep the level near 2|v|
    // The DFT peaks at the tone, not at its neighbouring bins.
    const double at = dftMagnitude(out, 8 * kN, 4096, hz / rate);
    EXPECT_GT(at, 1.5 * dftMagnitude(out, 8 * kN, 4096, (x - 0.5) / kN)) << band;
    EXPECT_GT(at, 1.5 * dftMagnitude(out, 8 * kN, 4096, (x + 0.5) / kN)) << band;
  }
}

TEST(SpectralSynth, SilenceStaysExactlySilentAndIsReported) {
  SpectralSynth synth(kN, 1, kHop);
  synth.setSampleRate(48000.0f, 2.0f, 10.0f);
  ASSERT_TRUE(synth.shelfOn());
  std::vector<float> out(kHop, 1.0f);
  float* channel = out.data();
  bool silent = false;
  for (int h = 0; h < 50; ++h) {
    synth.synthesizeFrame(1);
    std::fill(out.begin(), out.end(), 1.0f);
    synth.read(&channel, 0, kHop, 1, &silent);
    for (float v : out) {
      ASSERT_EQ(v, 0.0f);
    }
    if (h >= 3) {
      EXPECT_TRUE(silent) << h;
    }
  }
  EXPECT_EQ(synth.idleHops(), 50);
  EXPECT_EQ(synth.hopCount(), 50u);
}

TEST(SpectralSynth, SilentOnlyOnceTheTailHasDiedAway) {
  for (float shelfGain : {1.0f, 10.0f}) {
    SpectralSynth synth(kN, 1, kHop);
    synth.setSampleRate(44100.0f, 2.0f, shelfGain);
    std::vector<float> out(kHop);
    float* channel = out.data();
    bool silent = true;
    bool everSilent = false;
    for (int h = 0; h < 2000; ++h) {
      if (h < 10) {
        const cf v(0.5f, 0.1f);
        const cf* values[1] = {&v};
        synth.addBins(values, 9, 1, 1);
      }
      synth.synthesizeFrame(1);
      synth.read(&channel, 0, kHop, 1, &silent);
      if (h < 10) {
        EXPECT_FALSE(silent);
      }
      if (silent) {
        everSilent = true;
        for (float v : out) ASSERT_LT(std::fabs(v), 1e-6f) << h;
      }
    }
    EXPECT_TRUE(everSilent) << shelfGain;
  }
}

TEST(SpectralSynth, HopWithoutContentLeavesTheRingAloneAndAdvances) {
  SpectralSynth synth(kN, 1, kHop);
  synth.setSampleRate(44100.0f, 2.0f, 10.0f);
  const cf v(1.0f, -0.5f);
  const cf* values[1] = {&v};
  synth.addBins(values, 7, 1, 1);
  synth.synthesizeFrame(1);
  const std::vector<float> before(synth.ring(0), synth.ring(0) + kN);
  const int pos = synth.writePosition();
  synth.synthesizeFrame(1);
  EXPECT_EQ(std::vector<float>(synth.ring(0), synth.ring(0) + kN), before);
  EXPECT_EQ(synth.writePosition(), (pos + kHop) % kN);
  EXPECT_EQ(synth.idleHops(), 1);
}

TEST(SpectralSynth, BinsBelowZeroFoldBackConjugatedAndDcCountsTwice) {
  // Bin -1 with (0.3, 0.4) must give the same frame as bin 1 with (0.3, -0.4).
  SpectralSynth folded(kN, 1, kHop);
  SpectralSynth direct(kN, 1, kHop);
  for (SpectralSynth* s : {&folded, &direct}) s->setSampleRate(44100.0f, 2.0f, 1.0f);
  const cf a(0.3f, 0.4f);
  const cf b = std::conj(a);
  const cf* va[1] = {&a};
  const cf* vb[1] = {&b};
  folded.addBins(va, -1, 1, 1);
  EXPECT_FLOAT_EQ(folded.re(0)[-1], 0.3f);
  direct.addBins(vb, 1, 1, 1);
  folded.synthesizeFrame(1);
  direct.synthesizeFrame(1);
  for (int i = 0; i < kN; ++i) EXPECT_NEAR(folded.ring(0)[i], direct.ring(0)[i], 1e-7f) << i;
  double energy = 0;
  for (int i = 0; i < kN; ++i) energy += double(direct.ring(0)[i]) * direct.ring(0)[i];
  EXPECT_GT(energy, 1e-4);

  // DC: (0.5, 0.7) becomes a constant 2·0.5 under the window; the imaginary part is dropped.
  SpectralSynth dc(kN, 1, kHop);
  dc.setSampleRate(44100.0f, 2.0f, 1.0f);
  const cf d(0.5f, 0.7f);
  const cf* vd[1] = {&d};
  dc.addBins(vd, 0, 1, 1);
  dc.synthesizeFrame(1);
  for (int i = 0; i < kN; ++i) EXPECT_NEAR(dc.ring(0)[i], 1.0f * dc.window[size_t(i)], 1e-6f) << i;
}

TEST(SpectralSynth, BandSpreadAndPartialWeights) {
  SpectralSynth synth(kN, 1, kHop);
  synth.setSampleRate(44100.0f, 2.0f, 1.0f);
  const int32_t bins[2] = {0, 20};
  const float w0[2] = {0.6f, 1.0f};
  const float w1[2] = {0.4f, 0.0f};
  const cf values[2] = {{1.0f, 2.0f}, {3.0f, 0.0f}};
  const cf* channel[1] = {values};
  synth.addBands(bins, w0, w1, channel, 2, 1);
  EXPECT_FLOAT_EQ(synth.re(0)[0], 0.6f);
  EXPECT_FLOAT_EQ(synth.re(0)[1], 0.4f);
  EXPECT_FLOAT_EQ(synth.im(0)[1], 0.8f);
  EXPECT_FLOAT_EQ(synth.re(0)[20], 3.0f);
  EXPECT_TRUE(synth.hasContent());

  // A partial a quarter of the way from bin 10 to 11.
  SpectralSynth partials(kN, 1, kHop);
  partials.setSampleRate(25600.0f, 2.0f, 1.0f);  // 100 Hz per bin
  const float hz = 1025.0f;
  const cf v(1.0f, 0.0f);
  partials.addPartials(&hz, &v, 1, 0);
  EXPECT_NEAR(partials.re(0)[10], 1 - (0.27 * 0.25 + 0.73) * 0.25, 1e-6);
  EXPECT_NEAR(partials.re(0)[11], 1 - (0.27 * 0.75 + 0.73) * 0.75, 1e-6);
  // Out of range or non-finite frequencies are dropped.
  const float bad[3] = {1e9f, std::numeric_limits<float>::quiet_NaN(), -1e9f};
  const cf vs[3] = {v, v, v};
  partials.addPartials(bad, vs, 3, 0);
  partials.synthesizeFrame(1);
  for (int i = 0; i < kN; ++i) ASSERT_TRUE(std::isfinite(partials.ring(0)[i]));
}

TEST(SpectralSynth, ShelfSwitchesWithGainAndRate) {
  SpectralSynth synth(kN, 1, kHop);
  synth.setSampleRate(44100.0f, 2.0f, 1.0f);
  EXPECT_FALSE(synth.shelfOn());
  synth.setSampleRate(44100.0f, 2.0f, 10.0f);
  EXPECT_TRUE(synth.shelfOn());
  EXPECT_FLOAT_EQ(synth.binsPerHz(), 256.0f / 44100.0f);
  synth.setSampleRate(0.0f, 2.0f, 10.0f);
  EXPECT_FALSE(synth.shelfOn());
}

TEST(SpectralSynth, ReadWrapsAroundTheRingAndStereoKeepsChannelsApart) {
  SpectralSynth synth(kN, 2, kHop);
  synth.setSampleRate(44100.0f, 2.0f, 1.0f);
  const cf l(0.5f, 0.0f);
  const cf r(0.0f, 0.0f);
  const cf* values[2] = {&l, &r};
  synth.addBins(values, 8, 1, 2);
  synth.synthesizeFrame(2);
  std::vector<float> left(300, 9.0f);
  std::vector<float> right(300, 9.0f);
  float* out[2] = {left.data(), right.data()};
  // A read of 200 from position 0, then one of 100 that wraps at the ring's end.
  EXPECT_EQ(synth.read(out, 0, 200, 2, nullptr), 200);
  EXPECT_EQ(synth.read(out, 200, 100, 2, nullptr), 100);
  EXPECT_EQ(synth.readPosition(), 300 % kN);
  double leftEnergy = 0;
  for (int i = 0; i < 300; ++i) {
    leftEnergy += left[size_t(i)] * left[size_t(i)];
    EXPECT_EQ(right[size_t(i)], 0.0f);
  }
  EXPECT_GT(leftEnergy, 1.0);
  // Everything was consumed: the ring is empty now.
  for (int i = 0; i < kN; ++i) EXPECT_EQ(synth.ring(0)[i], 0.0f);
  // More than N frames at once delivers N.
  EXPECT_EQ(synth.read(out, 0, 1000, 2, nullptr), kN);
}

TEST(SpectralSynth, NonFiniteInputDoesNotStickInTheShelf) {
  SpectralSynth synth(kN, 1, kHop);
  synth.setSampleRate(44100.0f, 2.0f, 10.0f);
  std::vector<float> out(kHop);
  float* channel = out.data();
  for (int h = 0; h < 20; ++h) {
    const cf v = h == 2 ? cf(std::numeric_limits<float>::quiet_NaN(), 0.0f) : cf(0.1f, 0.0f);
    const cf* values[1] = {&v};
    synth.addBins(values, 12, 1, 1);
    synth.synthesizeFrame(1);
    synth.read(&channel, 0, kHop, 1, nullptr);
    if (h >= 8) {
      for (float x : out) {
        ASSERT_TRUE(std::isfinite(x)) << h;
      }
    }
  }
}

TEST(SpectralSynth, NoAllocationPerHop) {
  SpectralSynth synth(kN, 1, kHop);
  synth.setSampleRate(44100.0f, 2.0f, 10.0f);
  std::vector<float> out(kHop);
  float* channel = out.data();
  std::vector<int32_t> bins(40);
  std::vector<float> w0(40, 0.7f), w1(40, 0.3f);
  std::vector<cf> values(40, cf(0.01f, 0.02f));
  for (int k = 0; k < 40; ++k) bins[size_t(k)] = k - 2;
  const cf* bandValues[1] = {values.data()};
  const float hz[2] = {440.0f, 880.0f};
  bool silent = false;
  AllocationCounter counter;
  for (int h = 0; h < 64; ++h) {
    synth.addBands(bins.data(), w0.data(), w1.data(), bandValues, 40, 1);
    synth.addBins(bandValues, 50, 40, 1);
    synth.addPartials(hz, values.data(), 2, 0);
    synth.synthesizeFrame(1);
    synth.read(&channel, 0, kHop, 1, &silent);
  }
  EXPECT_EQ(counter.count(), 0);
}

}  // namespace
