#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "engine/dsp/Fft.h"
#include "engine/dsp/FftSetup.h"

namespace {

using Floats = std::vector<float>;
constexpr double kTwoPi = 6.283185307179586;

// e^(2 pi i j / n) for j = 0 .. n-1, in double.
std::vector<std::complex<double>> roots(size_t n) {
  std::vector<std::complex<double>> w(n);
  for (size_t j = 0; j < n; ++j) w[j] = std::polar(1.0, kTwoPi * static_cast<double>(j) / static_cast<double>(n));
  return w;
}

// The canonical layout from the definition, in double: DC, Nyquist, then re/im of bins 1..N/2-1.
std::vector<double> naiveSpectrum(const Floats& x) {
  const size_t n = x.size();
  const auto w = roots(n);
  std::vector<double> out(n);
  for (size_t k = 0; k <= n / 2; ++k) {
    std::complex<double> sum = 0.0;
    for (size_t t = 0; t < n; ++t) sum += static_cast<double>(x[t]) * std::conj(w[(k * t) % n]);
    if (k == 0 || k == n / 2) {
      out[k == 0 ? 0 : 1] = sum.real();
    } else {
      out[2 * k] = sum.real();
      out[2 * k + 1] = sum.imag();
    }
  }
  return out;
}

// N times the inverse transform of a canonical spectrum, from the definition.
std::vector<double> naiveInverse(const Floats& s) {
  const size_t n = s.size();
  const auto w = roots(n);
  std::vector<double> out(n);
  for (size_t t = 0; t < n; ++t) {
    out[t] = s[0] + (t % 2 ? -s[1] : s[1]);
    for (size_t k = 1; k < n / 2; ++k) out[t] += 2.0 * (std::complex<double>(s[2 * k], s[2 * k + 1]) * w[(k * t) % n]).real();
  }
  return out;
}

Floats randomSignal(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  Floats x(n);
  for (float& v : x) v = dist(gen);
  return x;
}

// Largest difference relative to the reference's largest magnitude.
double relativeError(const Floats& got, const std::vector<double>& want) {
  double err = 0.0, scale = 1e-30;
  for (size_t i = 0; i < want.size(); ++i) {
    err = std::max(err, std::fabs(got[i] - want[i]));
    scale = std::max(scale, std::fabs(want[i]));
  }
  return err / scale;
}

Fft makeFft(int32_t n) {
  Fft fft;
  EXPECT_TRUE(fft.init(log2OfPowerOfTwo(n), Fft::kInterleaved));
  return fft;
}

using Plan = std::unique_ptr<FftSetup, decltype(&fftDestroySetup)>;
Plan makePlan(uint32_t n) { return Plan(fftNewSetup(n, kFftRealKind), &fftDestroySetup); }

// A transform of any accepted size through the plan directly, canonical order.
Floats planTransform(const FftSetup* setup, const Floats& x, int32_t direction) {
  Floats out(x.size()), scratch(x.size());
  EXPECT_TRUE(fftTransformInternal(setup, x.data(), out.data(), scratch.data(), direction, 1));
  return out;
}

}  // namespace

// Too small, not a multiple of 32, a factor of 7 or 11 in N/4, or above 2^26 as an unsigned
// number. Zero must not hang in the factorisation; only the real kind is built.
TEST(FftSetup, RefusedSizes) {
  for (uint32_t n : {0u, 1u, 16u, 31u, 33u, 48u, 100u, 224u, 352u, (1u << 26) + 32, 1u << 27, 0x80000000u, 0xFFFFFFE0u})
    EXPECT_EQ(fftNewSetup(n, kFftRealKind), nullptr) << n;
  EXPECT_EQ(fftNewSetup(256, 1), nullptr);
  fftDestroySetup(nullptr);
  for (auto [v, log2] : {std::pair{1, 0}, {256, 8}, {1 << 30, 30}, {0, -1}, {96, -1}, {-4, -1}, {INT32_MIN, -1}})
    EXPECT_EQ(log2OfPowerOfTwo(v), log2) << v;
}

TEST(Fft, InitMoveAndTransformsWithoutAPlan) {
  Fft fft;
  for (auto [log2, kind] : {std::pair{-1, 1}, {4, 1}, {27, 1}, {8, 0}}) EXPECT_FALSE(fft.init(log2, kind)) << log2;
  EXPECT_EQ(fft.work, nullptr);
  Floats in(64, 1.0f), out(64, 7.0f);
  fft.forward(in.data(), out.data(), -1);
  fft.inverse(in.data(), out.data());
  fft.inverseFromSplit(in.data(), in.data() + 32, out.data());
  EXPECT_EQ(out, Floats(64, 7.0f));  // no plan: the output is left alone

  ASSERT_TRUE(fft.init(8, Fft::kInterleaved));
  EXPECT_EQ(fft.size(), 256);
  EXPECT_EQ(fft.forwardScale, 1.0f / 256);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(fft.work) % 16 + reinterpret_cast<uintptr_t>(fft.work2) % 16, 0u);
  EXPECT_FALSE(fft.init(3, Fft::kInterleaved));  // a refused re-init leaves nothing half-built
  EXPECT_FALSE(fft.valid());
  fft.destroy();

  Fft a = makeFft(64), b(std::move(a)), c;
  c = std::move(b);
  EXPECT_FALSE(a.valid() || b.valid());
  c.forward(in.data(), out.data(), -1);
  EXPECT_FLOAT_EQ(out[0], 64.0f);
}

TEST(Fft, ForwardAndInverseMatchTheDefinition) {
  for (int32_t n : {32, 64, 256, 1024, 4096}) {
    Fft fft = makeFft(n);
    Floats impulse(n, 0.0f), shifted(n, 0.0f), alternating(n), tone(n);
    impulse[0] = 1.0f;
    shifted[n / 2 + 3] = -2.5f;
    for (int32_t i = 0; i < n; ++i) {
      alternating[i] = (i % 2) ? -0.75f : 0.75f;
      tone[i] = static_cast<float>(std::cos(kTwoPi * 5.3 * i / n) + 0.25);
    }
    for (const Floats& x : {impulse, shifted, Floats(n, 0.3f), alternating, tone, randomSignal(n, 17u + n)}) {
      Floats spectrum(n, -99.0f), back(n);
      fft.forward(x.data(), spectrum.data(), n);
      EXPECT_LT(relativeError(spectrum, naiveSpectrum(x)), 1e-5) << n;
      fft.inverse(spectrum.data(), back.data());
      for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(back[i] * fft.inverseScale, x[i], 2e-6f) << n << " " << i;
    }
    if (n > 1024) continue;
    const Floats spectrum = randomSignal(n, 99u + n);  // any canonical spectrum
    Floats out(n);
    fft.inverse(spectrum.data(), out.data());
    EXPECT_LT(relativeError(out, naiveInverse(spectrum)), 1e-5) << n;
  }
}

TEST(Fft, MixedRadixPlansMatchTheDefinition) {
  // Sizes whose N/4 has factors 3 and 5; no user asks for them, but the plan accepts them.
  for (uint32_t n : {96u, 160u, 192u, 288u, 480u, 800u, 1440u}) {
    const Plan setup = makePlan(n);
    ASSERT_NE(setup, nullptr) << n;
    const Floats x = randomSignal(n, 1000 + n);
    const Floats spectrum = planTransform(setup.get(), x, kFftForward);
    EXPECT_LT(relativeError(spectrum, naiveSpectrum(x)), 1e-5) << n;
    EXPECT_LT(relativeError(planTransform(setup.get(), spectrum, kFftBackward), naiveInverse(spectrum)), 1e-5) << n;
  }
}

TEST(Fft, SplitInPlaceUnalignedAndZeroPaddedInputsAgree) {
  for (int32_t n : {32, 256, 512}) {
    Fft fft = makeFft(n);
    const Floats x = randomSignal(n, 3u + n);
    Floats spectrum(n), inPlace = x, back(n);
    fft.forward(x.data(), spectrum.data(), -1);
    fft.forward(inPlace.data(), inPlace.data(), -1);
    EXPECT_EQ(inPlace, spectrum) << n;
    fft.inverse(spectrum.data(), back.data());
    fft.inverse(inPlace.data(), inPlace.data());
    EXPECT_EQ(inPlace, back) << n;

    // Split halves, the Nyquist value in im[0], give what the interleaved spectrum gives.
    Floats re(n / 2), im(n / 2), fromSplit(n);
    for (int32_t i = 0; i < n / 2; ++i) {
      re[i] = spectrum[2 * i];
      im[i] = spectrum[2 * i + 1];
    }
    fft.inverseFromSplit(re.data(), im.data(), fromSplit.data());
    EXPECT_EQ(fromSplit, back) << n;

    Floats in(n + 1), out(n + 3);  // buffers off the vector alignment
    std::copy(x.begin(), x.end(), in.begin() + 1);
    fft.forward(in.data() + 1, out.data() + 3, -1);
    EXPECT_TRUE(std::equal(spectrum.begin(), spectrum.end(), out.begin() + 3)) << n;

    for (int32_t used : {0, 1, 5, n / 2, n - 1, n + 100}) {  // short input is zero-extended
      Floats padded(n, 0.0f), want(n), got(n), inPlaceShort = x;
      std::copy(x.begin(), x.begin() + std::min(used, n), padded.begin());
      fft.forward(padded.data(), want.data(), n);
      fft.forward(x.data(), got.data(), used);
      fft.forward(inPlaceShort.data(), inPlaceShort.data(), used);
      EXPECT_EQ(got, want) << n << " " << used;
      EXPECT_EQ(inPlaceShort, want) << n << " " << used;
    }
  }
}
