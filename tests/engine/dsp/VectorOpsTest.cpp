#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/dsp/VectorOps.h"

namespace {

std::vector<float> randomValues(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
  std::vector<float> v(n);
  for (float& x : v) x = dist(gen);
  return v;
}

}  // namespace

// Plain loops in index order are the reference: the results must match them bit for bit,
// also when source and destination overlap.
TEST(VectorOps, MatchPlainLoops) {
  for (int32_t n : {0, 1, 3, 4, 7, 13}) {
    const std::vector<float> base = randomValues(32, 100u + n);
    for (auto [dst, src] : {std::pair{0, 0}, {1, 0}, {3, 2}, {16, 2}, {0, 16}, {8, 16}}) {
      std::vector<float> want = base, got = base;
      for (int32_t i = 0; i < n; ++i) want[dst + i] += want[src + i];
      vecAdd(got.data() + dst, got.data() + src, n);
      EXPECT_EQ(got, want) << "add " << n << " " << dst << " " << src;
      want = got = base;
      for (int32_t i = 0; i < n; ++i) want[dst + i] = want[src + i];
      vecCopy(got.data() + src, got.data() + dst, n);
      EXPECT_EQ(got, want) << "copy " << n << " " << dst << " " << src;
    }
    float dot = 0.0f, squares = 0.0f;
    for (int32_t i = 0; i < n; ++i) dot += base[i] * base[i + 1];
    for (int32_t i = 0; i < n; ++i) squares += base[2 * i] * base[2 * i];
    EXPECT_EQ(vecDot(base.data(), base.data() + 1, n), dot) << n;
    EXPECT_EQ(vecSumSquares(base.data(), n, 2), squares) << n;
    std::vector<float> scaled = base, want = base;
    for (int32_t i = 0; i < n; ++i) want[i] *= -0.37f;
    vecScale(scaled.data(), -0.37f, n);
    EXPECT_EQ(scaled, want);
  }
  const float x[4] = {1.0f, 2.0f, 3.0f, 4.0f};
  EXPECT_EQ(vecSumSquares(x, 4, 0) + vecSumSquares(x, 2, -1), 0.0f);  // no stride: nothing

  std::vector<float> filled(12, 1.0f);
  vecFillStrided(filled.data(), 3, 4, -5.0f);
  EXPECT_EQ(filled, (std::vector<float>{-5, 1, 1, -5, 1, 1, -5, 1, 1, -5, 1, 1}));
  const std::vector<float> a = randomValues(20, 1u), b = randomValues(20, 2u), c = randomValues(20, 3u);
  std::vector<float> out(20, 0.0f), want(20, 0.0f);
  for (int32_t i = 0; i < 5; ++i) want[i * 4] = a[i * 2] * b[i * 3] + c[i];
  vecMulAddStrided(a.data(), 2, b.data(), 3, c.data(), 1, out.data(), 4, 5);
  EXPECT_EQ(out, want);
}

TEST(VectorOps, MaxIndexTakesTheFirstOfEqualMaxima) {
  const float x[4] = {-4.0f, -1.5f, -9.0f, -1.5f};
  int32_t index = -7;
  EXPECT_EQ(vecMaxIndex(x, 4, &index), -1.5f);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(vecMaxIndex(x, 1, nullptr), -4.0f);
  EXPECT_EQ(vecMaxIndex(nullptr, 0, &index), 0.0f);  // no element: nothing is read
  EXPECT_EQ(index, -1);
  EXPECT_EQ(vecMaxIndex(nullptr, -3, nullptr), 0.0f);
}

TEST(VectorOps, PowerSpectrumAndInterleave) {
  const float spectrum[8] = {2.0f, 3.0f, 1.0f, -1.0f, 0.5f, 2.0f, -3.0f, 4.0f};
  float out[4] = {-1, -1, -1, -1};
  powerSpectrum(spectrum, out, 4, false);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{13.0f, 2.0f, 4.25f, 25.0f}));  // DC + Nyquist
  powerSpectrum(spectrum, out, 1, true);
  EXPECT_EQ(out[0], 4.0f);  // DC alone
  EXPECT_EQ(out[1], 2.0f);
  powerSpectrum(spectrum, out, 0, false);
  EXPECT_EQ(out[0], 4.0f);

  const float re[5] = {1, 2, 3, 4, 5}, im[5] = {6, 7, 8, 9, 10};
  std::vector<float> got(11, 42.0f);
  splitToInterleaved(re, im, got.data(), 10);
  EXPECT_EQ(got, (std::vector<float>{1, 6, 2, 7, 3, 8, 4, 9, 5, 10, 42}));
  std::vector<float> none(1, 42.0f);
  splitToInterleaved(re, im, none.data(), 0);
  EXPECT_EQ(none[0], 42.0f);
}
