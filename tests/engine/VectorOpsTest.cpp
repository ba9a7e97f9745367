#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/VectorOps.h"

namespace {

std::vector<float> randomValues(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
  std::vector<float> v(n);
  for (float& x : v) x = dist(gen);
  return v;
}

}  // namespace

TEST(VectorOps, AddAndCopyEqualPlainLoopsAlsoWhenOverlapping) {
  for (int32_t n = 0; n <= 13; ++n) {
    const std::vector<float> base = randomValues(32, 100u + n);
    for (int32_t dstOffset : {0, 1, 3, 8, 16}) {
      for (int32_t srcOffset : {0, 2, 16}) {
        std::vector<float> want = base, got = base;
        for (int32_t i = 0; i < n; ++i) want[dstOffset + i] += want[srcOffset + i];
        vecAdd(got.data() + dstOffset, got.data() + srcOffset, n);
        EXPECT_EQ(got, want) << "add n=" << n << " dst=" << dstOffset << " src=" << srcOffset;

        want = base;
        got = base;
        for (int32_t i = 0; i < n; ++i) want[dstOffset + i] = want[srcOffset + i];
        vecCopy(got.data() + srcOffset, got.data() + dstOffset, n);
        EXPECT_EQ(got, want) << "copy n=" << n << " dst=" << dstOffset << " src=" << srcOffset;
      }
    }
  }
}

TEST(VectorOps, DotAndSumSquaresSumInIndexOrder) {
  for (int32_t n : {0, 1, 3, 4, 7, 64, 129}) {
    const std::vector<float> a = randomValues(static_cast<size_t>(n) * 3 + 1, 7u + n);
    const std::vector<float> b = randomValues(static_cast<size_t>(n) + 1, 9u + n);
    float dot = 0.0f;
    for (int32_t i = 0; i < n; ++i) dot += a[i] * b[i];
    EXPECT_EQ(vecDot(a.data(), b.data(), n), dot) << n;

    for (int32_t stride : {1, 3}) {
      float squares = 0.0f;
      for (int32_t i = 0; i < n; ++i) squares += a[i * stride] * a[i * stride];
      EXPECT_EQ(vecSumSquares(a.data(), n, stride), squares) << n << " stride " << stride;
    }
  }
  const float x[4] = {1.0f, 2.0f, 3.0f, 4.0f};
  EXPECT_EQ(vecSumSquares(x, 2, 2), 10.0f);  // x[0] and x[2]
  EXPECT_EQ(vecSumSquares(x, 0, 1), 0.0f);
  EXPECT_EQ(vecSumSquares(x, 4, 0), 0.0f);
  EXPECT_EQ(vecSumSquares(x, 2, -1), 0.0f);
  EXPECT_EQ(vecDot(x, x, 0), 0.0f);
}

TEST(VectorOps, ScaleFillAndMulAdd) {
  for (int32_t n : {0, 1, 5, 8, 11}) {
    std::vector<float> x = randomValues(static_cast<size_t>(n), 3u + n), want = x;
    for (float& v : want) v *= -0.37f;
    vecScale(x.data(), -0.37f, n);
    EXPECT_EQ(x, want) << n;
  }

  std::vector<float> filled(12, 1.0f);
  vecFillStrided(filled.data(), 3, 4, -5.0f);
  EXPECT_EQ(filled, (std::vector<float>{-5, 1, 1, -5, 1, 1, -5, 1, 1, -5, 1, 1}));
  vecFillStrided(filled.data(), 1, 0, 9.0f);
  EXPECT_EQ(filled[0], -5.0f);

  const std::vector<float> a = randomValues(20, 1u), b = randomValues(20, 2u), c = randomValues(20, 3u);
  std::vector<float> out(20, 0.0f), want(20, 0.0f);
  for (int32_t i = 0; i < 5; ++i) want[i * 4] = a[i * 2] * b[i * 3] + c[i];
  vecMulAddStrided(a.data(), 2, b.data(), 3, c.data(), 1, out.data(), 4, 5);
  EXPECT_EQ(out, want);
}

TEST(VectorOps, MaxIndexTakesTheFirstOfEqualMaxima) {
  const float x[3] = {1.0f, 3.0f, 3.0f};
  int32_t index = -7;
  EXPECT_EQ(vecMaxIndex(x, 3, &index), 3.0f);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(vecMaxIndex(x, 1, &index), 1.0f);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(vecMaxIndex(x, 3, nullptr), 3.0f);

  const float negative[4] = {-4.0f, -1.5f, -9.0f, -1.5f};
  EXPECT_EQ(vecMaxIndex(negative, 4, &index), -1.5f);
  EXPECT_EQ(index, 1);

  // No element: nothing is read.
  EXPECT_EQ(vecMaxIndex(nullptr, 0, &index), 0.0f);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(vecMaxIndex(nullptr, -3, nullptr), 0.0f);
}

TEST(VectorOps, PowerSpectrumAndInterleave) {
  const float spectrum[8] = {2.0f, 3.0f, 1.0f, -1.0f, 0.5f, 2.0f, -3.0f, 4.0f};
  float out[4] = {-1, -1, -1, -1};
  powerSpectrum(spectrum, out, 4, false);
  EXPECT_EQ(out[0], 13.0f);  // DC and Nyquist together
  EXPECT_EQ(out[1], 2.0f);
  EXPECT_EQ(out[2], 4.25f);
  EXPECT_EQ(out[3], 25.0f);
  powerSpectrum(spectrum, out, 1, true);
  EXPECT_EQ(out[0], 4.0f);  // DC alone
  EXPECT_EQ(out[1], 2.0f);
  powerSpectrum(spectrum, out, 0, false);
  EXPECT_EQ(out[0], 4.0f);

  for (int32_t n : {0, 2, 8, 10, 22}) {
    const std::vector<float> re = randomValues(static_cast<size_t>(n / 2), 5u);
    const std::vector<float> im = randomValues(static_cast<size_t>(n / 2), 6u);
    std::vector<float> got(static_cast<size_t>(n) + 1, 42.0f), want(static_cast<size_t>(n) + 1, 42.0f);
    for (int32_t i = 0; i < n / 2; ++i) {
      want[2 * i] = re[i];
      want[2 * i + 1] = im[i];
    }
    splitToInterleaved(re.data(), im.data(), got.data(), n);
    EXPECT_EQ(got, want) << n;
  }
}
