#include <gtest/gtest.h>

#include <numeric>

#include "engine/blob/BlobTestSupport.h"

namespace {

using blob_test::bytesOf;
constexpr double kUnit = 64.0 / 65535.0;

// The code of stored point k (1-based) of a time (g 0) or frequency (g 1) curve.
uint16_t code(const std::vector<uint8_t>& bytes, int32_t g, int32_t curve, int32_t k) {
  const size_t at = g == 0 ? 1 + 80 * curve + 2 * (k - 1) : 561 + 96 * curve + 2 * (k - 1);
  return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Each written point lies where the curve's was, except that a step can neither fall nor reach
// 64 units. Followed in double, apart from the writer's integer bookkeeping.
void expectFaithfulBytes(const Blob& blob, const std::vector<uint8_t>& bytes) {
  for (int32_t g = 0; g < 2; ++g) {
    const FloatGrid& grid = g == 0 ? blob.gridA : blob.gridB;
    for (int32_t k = 0; k < static_cast<int32_t>(grid.size()); ++k) {
      double written = 0;
      double expected = 0;
      for (int32_t i = 1; i < static_cast<int32_t>(grid[k].size()); ++i) {
        written += code(bytes, g, k, i) * kUnit;
        expected = std::fmin(std::fmax(static_cast<double>(grid[k][i]), expected), expected + 65535 * kUnit);
        ASSERT_NEAR(written, expected, kUnit) << g << " " << k << " " << i;
      }
    }
  }
}

// Finite, every curve rising from 0 and staying in its range, and written back faithfully.
void expectSound(const Blob& blob) {
  const float derived = blob.energy + blob.tailPosition + std::accumulate(blob.decayHalfLife.begin(), blob.decayHalfLife.end(), 0.0f);
  ASSERT_TRUE(std::isfinite(derived));  // finite only when every term is
  ASSERT_TRUE(blob_test::allFinite(blob.gridA) && blob_test::allFinite(blob.gridB));
  for (const FloatGrid* grid : {&blob.gridA, &blob.gridB}) {
    const float range = grid == &blob.gridA ? 96.0f : 80.0f;
    for (const auto& curve : *grid) {
      ASSERT_EQ(curve[0], 0.0f);
      for (size_t i = 1; i < curve.size(); ++i) ASSERT_TRUE(curve[i] >= curve[i - 1] && curve[i] <= range) << i;
    }
  }
  expectFaithfulBytes(blob, bytesOf(blob));
}

}  // namespace

TEST(BlobFormat, FreshBlobBytesAndReadBack) {
  const std::vector<uint8_t> bytes = bytesOf(Blob());
  ASSERT_EQ(bytes.size(), 1137u);
  EXPECT_EQ(Blob().serialize(nullptr, 0, nullptr), 1137);
  EXPECT_EQ(bytes[0], 1);
  // Steps of 2.4 and 80/48 units, rounded against the running sum.
  const uint16_t first[2][5] = {{2458, 2457, 2458, 2457, 2458}, {1707, 1706, 1707, 1707, 1706}};
  for (int32_t g = 0; g < 2; ++g)
    for (int32_t curve = 0; curve < 6; ++curve)
      for (int32_t k = 1; k <= 5; ++k) EXPECT_EQ(code(bytes, g, curve, k), first[g][k - 1]);

  Blob source;
  blob_test::perturb(source, 0.8f, 99);
  source.refresh();
  const Blob fresh;
  std::vector<uint8_t> shifted(3, 0xEE);  // read from an offset
  for (uint8_t b : bytesOf(source)) shifted.push_back(b);
  // Version 0 is read like version 1; unknown versions, short and empty buffers, and negative
  // positions (which would read zeros) are refused.
  const struct {
    uint8_t version;
    int32_t size, read, start = 3;
  } cases[] = {{0, 1140, 1137}, {1, 1140, 1137}, {2, 1140, 0}, {0xFF, 1140, 0}, {1, 1139, 1}, {1, 0, 1},
               {1, 1140, 1, -1}, {1, 1140, 1, -1137}};
  for (const auto& c : cases) {
    Blob copy;
    shifted[3] = c.version;
    int32_t pos = c.start;
    EXPECT_EQ(copy.deserialize(c.size == 0 ? nullptr : shifted.data(), c.size, &pos), c.read) << int(c.version);
    EXPECT_EQ(pos, c.start + std::max(c.read, 1));
    const bool read = c.read == 1137;
    EXPECT_EQ(copy.revision, read ? 1u : 0u);  // a read ends with a refresh
    const Blob& expected = read ? source : fresh;
    const float error = std::fmax(blob_test::maxDifference(copy.gridA, expected.gridA), blob_test::maxDifference(copy.gridB, expected.gridB));
    EXPECT_LE(error, read ? 1.0 / 1023.98 : 0.0) << c.size;
  }
  std::vector<uint8_t> buffer(1200, 0xAB);
  EXPECT_EQ(Blob().serialize(buffer.data(), 100, nullptr), 1137);
  for (size_t i = 100; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << i;  // never past the capacity
}

TEST(BlobFormat, WriterClampsStepsThatHaveNoCode) {
  Blob blob;
  blob.gridA[2][5] = blob.gridA[2][4] - 1.0f;
  blob.gridA[3][1] = 70.0f;
  blob.gridB[0][3] = std::nanf("");
  blob.gridB[1][3] = INFINITY;
  const std::vector<uint8_t> bytes = bytesOf(blob);
  // Not a wrapped code that reads as +63; and the running sum follows the clamped codes.
  EXPECT_EQ(code(bytes, 0, 2, 5) + code(bytes, 1, 0, 3), 0);
  EXPECT_EQ(code(bytes, 0, 3, 1) & code(bytes, 1, 1, 3), 65535);
  expectFaithfulBytes(blob, bytes);
}

TEST(BlobFormat, CraftedAndRandomFilesLoadRefreshAndSaveCleanly) {
  // Every code the same: the extremes, a mid code, and spans (40 or 48 codes) of 10 units, then
  // of 3.0, 2.3 and 0.04 units, too little room for a curve's points at their closest spacing.
  for (uint16_t code : {65535, 0, 40092, 257, 76, 60, 1}) {
    SCOPED_TRACE(code);
    Blob blob;
    std::vector<uint8_t> input(1137);
    for (size_t i = 1; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i % 2 == 1 ? code & 0xFF : code >> 8);
    input[0] = 1;
    for (int32_t round = 0; round < 3; ++round, input = bytesOf(blob)) {
      ASSERT_EQ(blob.deserialize(input.data(), static_cast<int32_t>(input.size()), nullptr), 1137);
      expectSound(blob);
    }
  }
  blob_test::Noise noise;
  std::vector<uint8_t> bytes;
  for (int32_t trial = 0; trial < 200; ++trial) {
    const size_t size = trial % 4 == 0 ? static_cast<size_t>(noise.next() * 600.0f + 600.0f) : 1137 + trial % 3;
    bytes.resize(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(noise.next() * 127.0f + 128.0f);
    const uint32_t limit = 1u << (trial % 17);  // codes below 1, 2, 4, .. 65536: spans from 0 up
    for (size_t i = 1; i + 1 < size; i += 2) {
      const uint32_t code = (bytes[i] | (bytes[i + 1] << 8)) % limit;
      bytes[i] = static_cast<uint8_t>(code & 0xFF);
      bytes[i + 1] = static_cast<uint8_t>(code >> 8);
    }
    bytes[0] = static_cast<uint8_t>(trial % 5 == 0 ? 7 : trial % 2);
    Blob blob;
    const int32_t read = blob.deserialize(bytes.data(), static_cast<int32_t>(size), nullptr);
    ASSERT_TRUE(read == 0 || read == 1 || read == 1137) << read;
    SCOPED_TRACE(trial);
    if (read == 1137) expectSound(blob);
  }
}
