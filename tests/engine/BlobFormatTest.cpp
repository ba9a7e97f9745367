#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/Blob.h"

using blob_test::rampPoint;

namespace {

uint16_t codeAt(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// Byte offset of the stored point k (1-based) of a curve.
size_t timeCode(int32_t curve, int32_t k) { return 1 + 80 * curve + 2 * (k - 1); }
size_t frequencyCode(int32_t curve, int32_t k) { return 561 + 96 * curve + 2 * (k - 1); }

std::vector<uint8_t> bytesOf(const Blob& blob) {
  std::vector<uint8_t> out;
  blob.toBytes(out);
  return out;
}

// A file of 1137 bytes with every code set to the given value.
std::vector<uint8_t> craftedFile(uint16_t code) {
  std::vector<uint8_t> bytes(Blob::kByteSize);
  bytes[0] = 1;
  for (size_t i = 1; i < bytes.size(); i += 2) {
    bytes[i] = static_cast<uint8_t>(code & 0xFF);
    bytes[i + 1] = static_cast<uint8_t>(code >> 8);
  }
  return bytes;
}

// What a reader should find for the curves of a blob once written: each point where it was,
// except that a step can neither fall nor rise by 64 units or more, and nothing lies above the
// range. Follows the points in double, independently of the writer's integer bookkeeping.
void expectFaithfulBytes(const Blob& blob, const std::vector<uint8_t>& bytes) {
  const double unit = 64.0 / 65535.0;
  for (int32_t g = 0; g < 2; ++g) {
    const FloatGrid& grid = g == 0 ? blob.gridA : blob.gridB;
    const double range = g == 0 ? 96.0 : 80.0;
    for (int32_t k = 0; k < static_cast<int32_t>(grid.size()); ++k) {
      double written = 0;   // what the codes add up to
      double expected = 0;  // the reachable point nearest to the curve's
      for (int32_t i = 1; i < static_cast<int32_t>(grid[k].size()); ++i) {
        const size_t offset = g == 0 ? timeCode(k, i) : frequencyCode(k, i);
        written += codeAt(bytes, offset) * unit;
        expected = std::fmin(std::fmax(static_cast<double>(grid[k][i]), expected), expected + 65535 * unit);
        ASSERT_NEAR(written, expected, unit) << g << " " << k << " " << i;
        ASSERT_LE(std::fmin(written, range), range);
      }
    }
  }
}

}  // namespace

TEST(BlobFormat, FreshBlobBytesAndCodes) {
  const Blob blob;
  const std::vector<uint8_t> bytes = bytesOf(blob);
  ASSERT_EQ(bytes.size(), 1137u);
  EXPECT_EQ(blob.serialize(nullptr, 0, nullptr), 1137);
  EXPECT_EQ(bytes[0], 1);
  // Steps of 2.4 and 80/48 units in codes of 64/65535, rounded against the running sum.
  const uint16_t timeCodes[] = {2458, 2457, 2458, 2457, 2458};
  const uint16_t frequencyCodes[] = {1707, 1706, 1707, 1707, 1706};
  for (int32_t curve = 0; curve < 7; ++curve)
    for (int32_t k = 1; k <= 5; ++k) EXPECT_EQ(codeAt(bytes, timeCode(curve, k)), timeCodes[k - 1]) << curve;
  for (int32_t curve = 0; curve < 6; ++curve)
    for (int32_t k = 1; k <= 5; ++k)
      EXPECT_EQ(codeAt(bytes, frequencyCode(curve, k)), frequencyCodes[k - 1]) << curve;
  // The running sum keeps every decoded point within one code of the ramp.
  for (int32_t curve = 0; curve < 7; ++curve) {
    double sum = 0;
    for (int32_t k = 1; k <= 40; ++k) {
      sum += codeAt(bytes, timeCode(curve, k)) * 64.0 / 65535.0;
      EXPECT_NEAR(sum, rampPoint(k, 41, 96), 64.0 / 65535.0);
    }
  }
}

TEST(BlobFormat, ReadBackWithinOneStep) {
  Blob source;
  blob_test::perturb(source, 0.8f, 99);
  source.refresh();
  const std::vector<uint8_t> bytes = bytesOf(source);

  Blob copy;
  int32_t pos = 0;
  EXPECT_EQ(copy.deserialize(bytes.data(), static_cast<int32_t>(bytes.size()), &pos), 1137);
  EXPECT_EQ(pos, 1137);
  EXPECT_EQ(copy.revision, 1u);  // the read ends with a refresh
  for (int32_t g = 0; g < 2; ++g) {
    const FloatGrid& a = g == 0 ? source.gridA : source.gridB;
    const FloatGrid& b = g == 0 ? copy.gridA : copy.gridB;
    for (size_t k = 0; k < a.size(); ++k)
      for (size_t i = 0; i < a[k].size(); ++i) EXPECT_NEAR(b[k][i], a[k][i], 1.0 / 1023.98) << g << k << i;
  }

  // A fresh blob reads back as its ramps.
  Blob ramp;
  const std::vector<uint8_t> rampBytes = bytesOf(Blob());
  ramp.deserialize(rampBytes.data(), static_cast<int32_t>(rampBytes.size()), nullptr);
  for (size_t k = 0; k < 7; ++k)
    for (int32_t i = 0; i < 41; ++i) EXPECT_NEAR(ramp.gridA[k][i], rampPoint(i, 41, 96), 1.0 / 1023.98);
  for (size_t k = 0; k < 6; ++k)
    for (int32_t i = 0; i < 49; ++i) EXPECT_NEAR(ramp.gridB[k][i], rampPoint(i, 49, 80), 1.0 / 1023.98);

  // Version 0 is read like version 1; reading continues at a given position.
  std::vector<uint8_t> shifted(3, 0xEE);
  shifted.insert(shifted.end(), rampBytes.begin(), rampBytes.end());
  shifted[3] = 0;
  pos = 3;
  EXPECT_EQ(ramp.deserialize(shifted.data(), static_cast<int32_t>(shifted.size()), &pos), 1137);
  EXPECT_EQ(pos, 1140);
}

TEST(BlobFormat, RefusesUnknownVersionsAndShortBuffers) {
  Blob reference;
  blob_test::perturb(reference, 0.5f, 7);
  reference.refresh();
  std::vector<uint8_t> bytes = bytesOf(Blob());

  for (uint8_t version : {uint8_t{2}, uint8_t{0x80}, uint8_t{0xFF}}) {
    Blob blob = reference;
    bytes[0] = version;
    int32_t pos = 0;
    EXPECT_EQ(blob.deserialize(bytes.data(), static_cast<int32_t>(bytes.size()), &pos), 0) << int(version);
    EXPECT_EQ(pos, 1);
    EXPECT_EQ(blob.revision, reference.revision);
    EXPECT_EQ(blob.gridA, reference.gridA);
    EXPECT_EQ(blob.gridB, reference.gridB);
  }

  bytes[0] = 1;
  Blob blob = reference;
  EXPECT_EQ(blob.deserialize(bytes.data(), 1136, nullptr), 1);
  EXPECT_EQ(blob.revision, reference.revision);
  EXPECT_EQ(blob.gridA, reference.gridA);
  EXPECT_EQ(blob.gridB, reference.gridB);

  // An empty buffer reads as version 0 and then lacks the curves.
  EXPECT_EQ(blob.deserialize(nullptr, 0, nullptr), 1);
  EXPECT_EQ(blob.deserialize(bytes.data(), 0, nullptr), 1);
  EXPECT_EQ(blob.revision, reference.revision);
  EXPECT_EQ(blob.gridA, reference.gridA);
}

TEST(BlobFormat, WriterMeasuresAndNeverWritesPastCapacity) {
  const Blob blob;
  std::vector<uint8_t> buffer(1200, 0xAB);
  int32_t pos = 0;
  EXPECT_EQ(blob.serialize(buffer.data(), 100, &pos), 1137);
  EXPECT_EQ(pos, 1137);
  for (size_t i = 100; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << i;
}

TEST(BlobFormat, WriterClampsStepsThatHaveNoCode) {
  Blob blob;
  // A falling step and a step of more than 64 units, set directly (no refresh).
  std::vector<float>& curve = blob.gridA[2];
  curve[5] = curve[4] - 1.0f;
  std::vector<float>& steep = blob.gridA[3];
  steep[1] = 70.0f;
  steep[2] = 71.0f;
  const std::vector<uint8_t> bytes = bytesOf(blob);
  EXPECT_EQ(codeAt(bytes, timeCode(2, 5)), 0);  // not 65535 - 1023: a wrapped code reads as +63
  EXPECT_EQ(codeAt(bytes, timeCode(3, 1)), 65535);
  // The running sum follows the clamped code, so the next point is exact again.
  const double first = 65535 * 64.0 / 65535.0;
  EXPECT_NEAR(first + codeAt(bytes, timeCode(3, 2)) * 64.0 / 65535.0, 71.0, 64.0 / 65535.0);
  // After the falling step the curve catches up with the next point.
  double sum = 0;
  for (int32_t k = 1; k <= 6; ++k) sum += codeAt(bytes, timeCode(2, k)) * 64.0 / 65535.0;
  EXPECT_NEAR(sum, curve[6], 64.0 / 65535.0);

  // A non-finite point writes code 0 instead of an undefined conversion.
  Blob broken;
  broken.gridB[0][3] = std::nanf("");
  broken.gridB[1][3] = INFINITY;
  const std::vector<uint8_t> brokenBytes = bytesOf(broken);
  EXPECT_EQ(codeAt(brokenBytes, frequencyCode(0, 3)), 0);
  EXPECT_EQ(codeAt(brokenBytes, frequencyCode(1, 3)), 65535);
}

TEST(BlobFormat, CraftedFilesLoadRefreshAndSaveCleanly) {
  for (uint16_t code : {uint16_t{65535}, uint16_t{0}, uint16_t{40000}, uint16_t{1}}) {
    const std::vector<uint8_t> crafted = craftedFile(code);
    Blob blob;
    for (int32_t round = 0; round < 3; ++round) {
      const std::vector<uint8_t>& input = round == 0 ? crafted : bytesOf(blob);
      ASSERT_EQ(blob.deserialize(input.data(), static_cast<int32_t>(input.size()), nullptr), 1137);
      ASSERT_TRUE(std::isfinite(blob.energy)) << code;
      ASSERT_TRUE(std::isfinite(blob.tailPosition));
      for (float h : blob.decayHalfLife) ASSERT_TRUE(std::isfinite(h));
      ASSERT_TRUE(blob_test::allFinite(blob.gridA));
      ASSERT_TRUE(blob_test::allFinite(blob.gridB));
      for (const auto& curve : blob.gridA) EXPECT_LE(curve.back(), 96.0f);
      for (const auto& curve : blob.gridB) EXPECT_LE(curve.back(), 80.0f);
      const std::vector<uint8_t> saved = bytesOf(blob);
      ASSERT_EQ(saved.size(), 1137u);
      expectFaithfulBytes(blob, saved);
    }
  }

  // All-zero codes: refresh spreads the collapsed curves around 0, so they dip below 0 and end
  // below their neighbours. Saved again, the falling steps become code 0 rather than wrapping
  // to a step of about +63 units.
  const std::vector<uint8_t> zeros = craftedFile(0);
  Blob blob;
  blob.deserialize(zeros.data(), 1137, nullptr);
  EXPECT_LT(blob.gridA[0][1], 0.0f);
  EXPECT_LT(blob.gridA[0][40], blob.gridA[0][39]);
  const std::vector<uint8_t> saved = bytesOf(blob);
  for (int32_t k = 1; k <= 40; ++k) EXPECT_LT(codeAt(saved, timeCode(0, k)), 200) << k;

  // Codes that add up past the range read as the range end.
  const std::vector<uint8_t> steep = craftedFile(65535);
  Blob top;
  top.deserialize(steep.data(), 1137, nullptr);
  EXPECT_EQ(top.gridA[3].back(), 96.0f);
  EXPECT_EQ(top.gridB[3].back(), 80.0f);
}

TEST(BlobFormat, RandomBytesNeverBreakABlob) {
  blob_test::Noise noise;
  std::vector<uint8_t> bytes;
  for (int32_t trial = 0; trial < 200; ++trial) {
    const size_t size = trial % 4 == 0 ? static_cast<size_t>(noise.next() * 600.0f + 600.0f) : 1137 + trial % 3;
    bytes.resize(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(noise.next() * 127.0f + 128.0f);
    bytes[0] = static_cast<uint8_t>(trial % 5 == 0 ? 7 : trial % 2);
    Blob blob;
    const int32_t read = blob.deserialize(bytes.data(), static_cast<int32_t>(size), nullptr);
    ASSERT_TRUE(read == 0 || read == 1 || read == 1137) << read;
    ASSERT_TRUE(blob_test::allFinite(blob.gridA));
    ASSERT_TRUE(blob_test::allFinite(blob.gridB));
    if (read == 1137) {
      ASSERT_TRUE(std::isfinite(blob.energy));
      expectFaithfulBytes(blob, bytesOf(blob));
    }
  }
}
