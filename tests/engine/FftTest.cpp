#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/Fft.h"
#include "engine/FftSetup.h"
#include "support/AllocationCounter.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The canonical layout computed directly from the definition in double precision.
std::vector<double> naiveSpectrum(const std::vector<float>& x) {
  const size_t n = x.size();
  std::vector<double> cosTable(n), sinTable(n);
  for (size_t i = 0; i < n; ++i) {
    cosTable[i] = std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n));
    sinTable[i] = std::sin(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n));
  }
  std::vector<double> out(n);
  for (size_t k = 0; k <= n / 2; ++k) {
    double re = 0.0, im = 0.0;
    for (size_t t = 0; t < n; ++t) {
      const size_t phase = (k * t) % n;
      re += x[t] * cosTable[phase];
      im -= x[t] * sinTable[phase];
    }
    if (k == 0) {
      out[0] = re;
    } else if (k == n / 2) {
      out[1] = re;
    } else {
      out[2 * k] = re;
      out[2 * k + 1] = im;
    }
  }
  return out;
}

// N times the inverse transform of a canonical spectrum, from the definition.
std::vector<double> naiveInverse(const std::vector<float>& spectrum) {
  const size_t n = spectrum.size();
  std::vector<double> out(n);
  for (size_t t = 0; t < n; ++t) {
    double v = spectrum[0] + ((t % 2) ? -spectrum[1] : spectrum[1]);
    for (size_t k = 1; k < n / 2; ++k) {
      const double a = 2.0 * kPi * static_cast<double>((k * t) % n) / static_cast<double>(n);
      v += 2.0 * (spectrum[2 * k] * std::cos(a) - spectrum[2 * k + 1] * std::sin(a));
    }
    out[t] = v;
  }
  return out;
}

std::vector<float> randomSignal(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = dist(gen);
  return x;
}

double maxAbs(const std::vector<double>& v) {
  double m = 0.0;
  for (double x : v) m = std::max(m, std::fabs(x));
  return m;
}

// Largest difference relative to the reference's largest magnitude.
double relativeError(const std::vector<float>& got, const std::vector<double>& want) {
  double err = 0.0;
  for (size_t i = 0; i < want.size(); ++i) err = std::max(err, std::fabs(got[i] - want[i]));
  return err / std::max(maxAbs(want), 1e-30);
}

Fft makeFft(int32_t n) {
  Fft fft;
  EXPECT_TRUE(fft.init(log2OfPowerOfTwo(n), Fft::kInterleaved));
  return fft;
}

// Forward transform of a plan of any accepted size, through the plan directly.
std::vector<float> planForward(const FftSetup* setup, const std::vector<float>& x) {
  std::vector<float> out(x.size()), scratch(x.size());
  EXPECT_TRUE(fftTransformInternal(setup, x.data(), out.data(), scratch.data(), kFftForward, 1));
  return out;
}

std::vector<float> planBackward(const FftSetup* setup, const std::vector<float>& spectrum) {
  std::vector<float> out(spectrum.size()), scratch(spectrum.size());
  EXPECT_TRUE(fftTransformInternal(setup, spectrum.data(), out.data(), scratch.data(), kFftBackward, 1));
  return out;
}

std::vector<int32_t> factorList(const FftSetup* setup) {
  return std::vector<int32_t>(setup->factors + 2, setup->factors + 2 + setup->factors[1]);
}

}  // namespace

TEST(Fft, Log2OfPowerOfTwo) {
  EXPECT_EQ(log2OfPowerOfTwo(1), 0);
  EXPECT_EQ(log2OfPowerOfTwo(2), 1);
  EXPECT_EQ(log2OfPowerOfTwo(256), 8);
  EXPECT_EQ(log2OfPowerOfTwo(1 << 30), 30);
  EXPECT_EQ(log2OfPowerOfTwo(0), -1);
  EXPECT_EQ(log2OfPowerOfTwo(3), -1);
  EXPECT_EQ(log2OfPowerOfTwo(96), -1);
  EXPECT_EQ(log2OfPowerOfTwo(-4), -1);
  EXPECT_EQ(log2OfPowerOfTwo(INT32_MIN), -1);
}

TEST(FftSetup, FactorsPutTwoFirstAndEvenRadicesBeforeOdd) {
  const struct {
    uint32_t n;
    std::vector<int32_t> factors;
  } cases[] = {
      {32, {2, 4}},       {64, {4, 4}},          {256, {4, 4, 4}},    {512, {2, 4, 4, 4}},
      {4096, {4, 4, 4, 4, 4}}, {96, {2, 4, 3}}, {160, {2, 4, 5}},    {480, {2, 4, 3, 5}},
      {192, {4, 4, 3}},   {800, {2, 4, 5, 5}},
  };
  for (const auto& c : cases) {
    FftSetup* setup = fftNewSetup(c.n, kFftRealKind);
    ASSERT_NE(setup, nullptr) << c.n;
    EXPECT_EQ(setup->N, static_cast<int32_t>(c.n));
    EXPECT_EQ(setup->Ncvec, static_cast<int32_t>(c.n / 8));
    EXPECT_EQ(setup->factors[0], static_cast<int32_t>(c.n / 4));
    EXPECT_EQ(factorList(setup), c.factors) << c.n;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(setup->data) % 64, 0u);
    EXPECT_EQ(setup->e, setup->data);
    EXPECT_EQ(setup->twiddle, setup->data + 6 * setup->Ncvec);
    fftDestroySetup(setup);
  }
}

TEST(FftSetup, RefusedSizesGiveNoPlanAtOnce) {
  // Too small, not a multiple of 32, a prime factor of 7 or 11 in N/4, or above 2^26 (tested
  // as an unsigned number). Zero must not hang in the factorisation.
  const uint32_t refused[] = {0,   1,   4,   16,  31,   33,  48,  100, 224, 352,
                              (1u << 26) + 32, (1u << 26) + 1, 1u << 27, 0x80000000u, 0xFFFFFFE0u};
  for (uint32_t n : refused) EXPECT_EQ(fftNewSetup(n, kFftRealKind), nullptr) << n;
  // Only the real kind is built.
  EXPECT_EQ(fftNewSetup(256, 1), nullptr);
  fftDestroySetup(nullptr);
}

TEST(FftSetup, TwiddleTablesHoldTheirAngles) {
  FftSetup* setup = fftNewSetup(256, kFftRealKind);
  ASSERT_NE(setup, nullptr);
  const int32_t n = 256;
  for (int32_t k = 0; k < setup->Ncvec; ++k) {
    for (int32_t r = 0; r < 3; ++r) {
      const double a = -2.0 * kPi * (r + 1) * k / n;
      const int32_t at = 24 * (k / 4) + 8 * r + k % 4;
      EXPECT_NEAR(setup->e[at], std::cos(a), 1e-6);
      EXPECT_NEAR(setup->e[at + 4], std::sin(a), 1e-6);
    }
  }
  // m = 64 as 4, 4, 4: the first radix-4 stage has blocks of 16, so its multiplier j holds
  // cos and sin of 2 pi j f / 64 for f = 1..7 at (j-1)*16 + 2f - 2.
  for (int32_t j = 1; j < 4; ++j) {
    for (int32_t f = 1; f <= 7; ++f) {
      const double a = 2.0 * kPi * j * f / 64.0;
      EXPECT_NEAR(setup->twiddle[(j - 1) * 16 + 2 * f - 2], std::cos(a), 1e-6);
      EXPECT_NEAR(setup->twiddle[(j - 1) * 16 + 2 * f - 1], std::sin(a), 1e-6);
    }
  }
  fftDestroySetup(setup);
}

TEST(Fft, InitRefusesBadSizesAndKinds) {
  Fft fft;
  EXPECT_FALSE(fft.init(-1, Fft::kInterleaved));  // what log2OfPowerOfTwo gives for a non-power
  EXPECT_FALSE(fft.init(4, Fft::kInterleaved));
  EXPECT_FALSE(fft.init(27, Fft::kInterleaved));
  EXPECT_FALSE(fft.init(31, Fft::kInterleaved));
  EXPECT_FALSE(fft.init(8, 0));
  EXPECT_FALSE(fft.valid());
  EXPECT_EQ(fft.setup, nullptr);
  EXPECT_EQ(fft.work, nullptr);

  ASSERT_TRUE(fft.init(8, Fft::kInterleaved));
  EXPECT_EQ(fft.size(), 256);
  EXPECT_EQ(fft.log2N, 8);
  EXPECT_EQ(fft.kind, Fft::kInterleaved);
  EXPECT_EQ(fft.forwardScale, 1.0f / 256);
  EXPECT_EQ(fft.inverseScale, 1.0f / 256);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(fft.work) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(fft.work2) % 16, 0u);

  // A refused re-init leaves nothing half-built behind.
  EXPECT_FALSE(fft.init(3, Fft::kInterleaved));
  EXPECT_FALSE(fft.valid());
  fft.destroy();
  fft.destroy();
}

TEST(Fft, TransformsWithoutPlanLeaveOutputAlone) {
  Fft fft;
  std::vector<float> in(64, 1.0f), out(64, 7.0f);
  fft.forward(in.data(), out.data(), -1);
  fft.inverse(in.data(), out.data());
  fft.inverseFromSplit(in.data(), in.data() + 32, out.data());
  EXPECT_EQ(out, std::vector<float>(64, 7.0f));
}

TEST(Fft, MovedObjectOwnsThePlan) {
  Fft a = makeFft(64);
  Fft b(std::move(a));
  EXPECT_FALSE(a.valid());
  ASSERT_TRUE(b.valid());
  Fft c;
  c = std::move(b);
  EXPECT_FALSE(b.valid());
  std::vector<float> x(64, 1.0f), y(64);
  c.forward(x.data(), y.data(), -1);
  EXPECT_FLOAT_EQ(y[0], 64.0f);
}

TEST(Fft, ForwardMatchesNaiveDftForPowersOfTwo) {
  for (int32_t n : {32, 64, 256, 1024, 4096}) {
    Fft fft = makeFft(n);
    std::vector<std::vector<float>> signals;
    std::vector<float> impulse(n, 0.0f);
    impulse[0] = 1.0f;
    std::vector<float> shifted(n, 0.0f);
    shifted[n / 2 + 3] = -2.5f;
    std::vector<float> alternating(n);
    for (int32_t i = 0; i < n; ++i) alternating[i] = (i % 2) ? -0.75f : 0.75f;
    std::vector<float> tone(n);
    for (int32_t i = 0; i < n; ++i) tone[i] = static_cast<float>(std::cos(2.0 * kPi * 5.3 * i / n) + 0.25);
    signals = {impulse, shifted, std::vector<float>(n, 0.3f), alternating, tone,
               randomSignal(n, 17u + n)};
    for (size_t s = 0; s < signals.size(); ++s) {
      std::vector<float> out(n, -99.0f);
      fft.forward(signals[s].data(), out.data(), n);
      EXPECT_LT(relativeError(out, naiveSpectrum(signals[s])), 1e-5) << "N=" << n << " signal " << s;
    }
  }
}

TEST(Fft, SimpleSignalsGiveExactSpectra) {
  const int32_t n = 256;
  Fft fft = makeFft(n);
  std::vector<float> x(n, 0.0f), out(n);

  x[0] = 1.0f;
  fft.forward(x.data(), out.data(), -1);
  EXPECT_FLOAT_EQ(out[0], 1.0f);
  EXPECT_FLOAT_EQ(out[1], 1.0f);
  for (int32_t k = 1; k < n / 2; ++k) {
    EXPECT_NEAR(out[2 * k], 1.0f, 1e-6) << k;
    EXPECT_NEAR(out[2 * k + 1], 0.0f, 1e-6) << k;
  }

  std::fill(x.begin(), x.end(), 0.5f);
  fft.forward(x.data(), out.data(), -1);
  EXPECT_FLOAT_EQ(out[0], 128.0f);
  for (int32_t i = 1; i < n; ++i) EXPECT_NEAR(out[i], 0.0f, 1e-4) << i;

  for (int32_t i = 0; i < n; ++i) x[i] = (i % 2) ? -0.5f : 0.5f;
  fft.forward(x.data(), out.data(), -1);
  EXPECT_FLOAT_EQ(out[1], 128.0f);
  for (int32_t i = 0; i < n; ++i) {
    if (i != 1) {
      EXPECT_NEAR(out[i], 0.0f, 1e-4) << i;
    }
  }
}

TEST(Fft, MixedRadixPlansMatchNaiveDft) {
  // Sizes whose N/4 has factors 3 and 5; no user asks for them, but the plan accepts them.
  for (uint32_t n : {96u, 160u, 192u, 288u, 480u, 800u, 1440u}) {
    FftSetup* setup = fftNewSetup(n, kFftRealKind);
    ASSERT_NE(setup, nullptr) << n;
    for (uint32_t seed : {1u, 2u}) {
      const std::vector<float> x = randomSignal(n, seed * 1000 + n);
      const std::vector<float> spectrum = planForward(setup, x);
      EXPECT_LT(relativeError(spectrum, naiveSpectrum(x)), 1e-5) << "N=" << n;
      const std::vector<float> back = planBackward(setup, spectrum);
      const std::vector<double> want = naiveInverse(spectrum);
      EXPECT_LT(relativeError(back, want), 1e-5) << "N=" << n;
      for (uint32_t i = 0; i < n; ++i) ASSERT_NEAR(back[i], n * x[i], 1e-4 * n) << "N=" << n << " i=" << i;
    }
    fftDestroySetup(setup);
  }
}

TEST(Fft, InverseOfForwardGivesNTimesTheInput) {
  for (int32_t n : {32, 64, 128, 256, 512, 2048, 8192}) {
    Fft fft = makeFft(n);
    const std::vector<float> x = randomSignal(n, 5u + n);
    std::vector<float> spectrum(n), back(n);
    fft.forward(x.data(), spectrum.data(), -1);
    fft.inverse(spectrum.data(), back.data());
    for (int32_t i = 0; i < n; ++i) {
      ASSERT_NEAR(back[i] * fft.inverseScale, x[i], 2e-6f) << "N=" << n << " i=" << i;
    }
  }
}

TEST(Fft, InverseMatchesNaiveInverse) {
  for (int32_t n : {32, 256, 1024}) {
    Fft fft = makeFft(n);
    const std::vector<float> spectrum = randomSignal(n, 99u + n);  // any canonical spectrum
    std::vector<float> out(n);
    fft.inverse(spectrum.data(), out.data());
    EXPECT_LT(relativeError(out, naiveInverse(spectrum)), 1e-5) << n;
  }
}

TEST(Fft, InverseFromSplitEqualsInverseOfInterleavedWithNyquistInIm0) {
  for (int32_t n : {32, 256, 512}) {
    Fft fft = makeFft(n);
    const std::vector<float> re = randomSignal(n / 2, 7u + n);
    std::vector<float> im = randomSignal(n / 2, 8u + n);
    im[0] = 3.0f;  // the Nyquist value
    std::vector<float> interleaved(n);
    for (int32_t i = 0; i < n / 2; ++i) {
      interleaved[2 * i] = re[i];
      interleaved[2 * i + 1] = im[i];
    }
    std::vector<float> fromSplit(n), fromInterleaved(n);
    fft.inverseFromSplit(re.data(), im.data(), fromSplit.data());
    fft.inverse(interleaved.data(), fromInterleaved.data());
    EXPECT_EQ(fromSplit, fromInterleaved);
    EXPECT_LT(relativeError(fromSplit, naiveInverse(interleaved)), 1e-5);

    // A pure Nyquist value alone gives an alternating signal.
    std::vector<float> zeros(n / 2, 0.0f), nyquist(n / 2, 0.0f), out(n);
    nyquist[0] = 1.0f;
    fft.inverseFromSplit(zeros.data(), nyquist.data(), out.data());
    for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(out[i], (i % 2) ? -1.0f : 1.0f, 1e-5) << i;
  }
}

TEST(Fft, InPlaceEqualsOutOfPlace) {
  for (int32_t n : {32, 64, 256, 512, 1024}) {
    Fft fft = makeFft(n);
    const std::vector<float> x = randomSignal(n, 3u + n);
    std::vector<float> separate(n);
    fft.forward(x.data(), separate.data(), -1);
    std::vector<float> inPlace = x;
    fft.forward(inPlace.data(), inPlace.data(), -1);
    EXPECT_EQ(inPlace, separate) << n;

    std::vector<float> back(n);
    fft.inverse(separate.data(), back.data());
    fft.inverse(inPlace.data(), inPlace.data());
    EXPECT_EQ(inPlace, back) << n;
  }
}

TEST(Fft, ShortInputIsZeroExtended) {
  for (int32_t n : {32, 256, 512}) {
    Fft fft = makeFft(n);
    const std::vector<float> x = randomSignal(n, 11u + n);
    for (int32_t used : {0, 1, 5, n / 2, n - 1}) {
      std::vector<float> padded(n, 0.0f);
      std::copy(x.begin(), x.begin() + used, padded.begin());
      std::vector<float> want(n), got(n), inPlace = x;
      fft.forward(padded.data(), want.data(), n);
      fft.forward(x.data(), got.data(), used);
      EXPECT_EQ(got, want) << "N=" << n << " n=" << used;
      fft.forward(inPlace.data(), inPlace.data(), used);
      EXPECT_EQ(inPlace, want) << "N=" << n << " n=" << used << " in place";
    }
    // More than N reads only N.
    std::vector<float> all(n), over(n);
    fft.forward(x.data(), all.data(), -1);
    fft.forward(x.data(), over.data(), n + 100);
    EXPECT_EQ(over, all);
  }
}

TEST(Fft, UnalignedBuffersWork) {
  const int32_t n = 256;
  Fft fft = makeFft(n);
  const std::vector<float> x = randomSignal(n, 21u);
  std::vector<float> want(n);
  fft.forward(x.data(), want.data(), -1);
  std::vector<float> in(n + 1), out(n + 3);
  std::copy(x.begin(), x.end(), in.begin() + 1);
  fft.forward(in.data() + 1, out.data() + 3, -1);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin() + 3));
}

TEST(Fft, TransformsDoNotAllocate) {
  const int32_t n = 256;
  Fft fft = makeFft(n);
  std::vector<float> x = randomSignal(n, 4u), spectrum(n), back(n);
  AllocationCounter counter;
  fft.forward(x.data(), spectrum.data(), -1);
  fft.forward(x.data(), spectrum.data(), 100);
  fft.forward(x.data(), x.data(), -1);
  fft.inverse(spectrum.data(), back.data());
  fft.inverse(back.data(), back.data());
  fft.inverseFromSplit(spectrum.data(), spectrum.data() + n / 2, back.data());
  EXPECT_EQ(counter.count(), 0);
}

TEST(FftSetup, UnorderedRoundTripAndReorder) {
  for (uint32_t n : {32u, 256u, 480u}) {
    FftSetup* setup = fftNewSetup(n, kFftRealKind);
    ASSERT_NE(setup, nullptr);
    const std::vector<float> x = randomSignal(n, 31u + n);
    std::vector<float> internal(n), canonical(n), back(n), scratch(n), again(n);
    ASSERT_TRUE(fftTransformInternal(setup, x.data(), internal.data(), scratch.data(), kFftForward, 0));
    ASSERT_TRUE(fftReorder(setup, internal.data(), canonical.data(), kFftForward));
    EXPECT_EQ(canonical, planForward(setup, x));
    ASSERT_TRUE(fftReorder(setup, canonical.data(), again.data(), kFftBackward));
    EXPECT_EQ(again, internal);
    ASSERT_TRUE(fftTransformInternal(setup, internal.data(), back.data(), scratch.data(), kFftBackward, 0));
    EXPECT_EQ(back, planBackward(setup, canonical));
    EXPECT_FALSE(fftReorder(setup, canonical.data(), canonical.data(), kFftForward));
    fftDestroySetup(setup);
  }
}

TEST(FftSetup, TransformNeedsDistinctScratchButTakesAnyInput) {
  const uint32_t n = 64;
  FftSetup* setup = fftNewSetup(n, kFftRealKind);
  ASSERT_NE(setup, nullptr);
  const std::vector<float> x = randomSignal(n, 41u);
  const std::vector<float> want = planForward(setup, x);
  std::vector<float> out(n, 5.0f);
  EXPECT_FALSE(fftTransformInternal(setup, x.data(), out.data(), nullptr, kFftForward, 1));
  EXPECT_FALSE(fftTransformInternal(setup, x.data(), out.data(), out.data(), kFftForward, 1));
  EXPECT_FALSE(fftTransformInternal(nullptr, x.data(), out.data(), out.data(), kFftForward, 1));
  EXPECT_EQ(out, std::vector<float>(n, 5.0f));

  // Input in the scratch buffer: consumed by the first pass, the result still ends in output.
  for (int32_t ordered : {0, 1}) {
    std::vector<float> reference(n), scratch(n);
    ASSERT_TRUE(
        fftTransformInternal(setup, x.data(), reference.data(), scratch.data(), kFftForward, ordered));
    std::vector<float> inScratch = x;
    ASSERT_TRUE(
        fftTransformInternal(setup, inScratch.data(), out.data(), inScratch.data(), kFftForward, ordered));
    EXPECT_EQ(out, reference);
  }
  fftDestroySetup(setup);
}
