#include <gtest/gtest.h>

#include "engine/blob/BlobTestSupport.h"
#include "support/AllocationCounter.h"

namespace {

// Dense up to point 30 (a gentle curve), then ten gaps of 6 units: sparse, yet within the
// largest spacing refresh allows.
Blob sparseTail() {
  Blob blob;
  for (auto& curve : blob.gridA)
    for (int32_t i = 0; i <= 40; ++i) curve[i] = i <= 30 ? 36.0f * std::pow(i / 30.0f, 1.5f) : 36.0f + 6.0f * (i - 30);
  return blob;
}

}  // namespace

TEST(BlobRefresh, RampsAndTheirDerivedValues) {
  // A constructed blob carries the derived values of its ramps from the start (counting no
  // change): a refresh moves nothing and finds the same values.
  Blob constructed;
  Blob blob;
  EXPECT_EQ(blob.refresh(), 0.0f);
  EXPECT_EQ(constructed.revision, 0u);
  EXPECT_EQ(blob.revision, 1u);
  EXPECT_EQ(constructed.activePoints, 41);
  EXPECT_FLOAT_EQ(constructed.tailPosition, 97.0f);
  EXPECT_TRUE(constructed.energy > 0.0f && constructed.energy < 1e6f);
  EXPECT_EQ(constructed.energy, blob.energy);
  EXPECT_EQ(constructed.decayHalfLife, blob.decayHalfLife);
  EXPECT_GT(blob.decayHalfLife[0], 0.0f);

  Blob cleared;
  blob_test::perturb(cleared, 3.0f, 5);
  EXPECT_EQ(cleared.clear(), 0.0f);
  EXPECT_LT(blob_test::maxDifference(cleared.gridA, Blob().gridA) + blob_test::maxDifference(cleared.gridB, Blob().gridB), 2e-5f);
  EXPECT_NEAR(cleared.energy, blob.energy, 1e-5f * blob.energy);
}

TEST(BlobRefresh, PerturbedCurvesBecomeMonotone) {
  for (float amount : {0.5f, 4.0f, 30.0f}) {
    Blob blob;
    blob_test::perturb(blob, amount, 321);
    const Blob before = blob;
    const float change = blob.refresh();
    double moved = 0;
    for (int32_t g = 0; g < 2; ++g) {
      const FloatGrid& a = g == 0 ? before.gridA : before.gridB;
      const FloatGrid& b = g == 0 ? blob.gridA : blob.gridB;
      const int32_t n = static_cast<int32_t>(b[0].size());
      for (size_t k = 0; k < b.size(); ++k) {
        EXPECT_TRUE(b[k].front() == a[k].front() && b[k].back() == a[k].back());
        for (int32_t i = 1; i < n; ++i) {
          // The smallest spacing refresh keeps: 7.5 / n x 7/17.
          EXPECT_GE(b[k][i] - b[k][i - 1], 7.5 / n * 7.0 / 17.0 * (1 - 1e-3)) << g << k << i;
          moved += std::fabs(b[k][i] - a[k][i]);
        }
      }
    }
    EXPECT_NEAR(change, moved, moved * 1e-3);  // the returned change is the total movement
    EXPECT_TRUE(std::isfinite(blob.energy) && blob.energy > 0.0f) << amount;
  }
}

TEST(BlobRefresh, SparseTailAndWideGaps) {
  Blob blob = sparseTail();
  const Blob before = blob;
  blob.refresh();
  EXPECT_LT(blob_test::maxDifference(blob.gridA, before.gridA), 1e-4f);
  EXPECT_EQ(blob.activePoints, 31);
  EXPECT_FLOAT_EQ(blob.tailPosition, blob.gridA[0][30] + 1.0f);
  for (float h : blob.decayHalfLife) EXPECT_EQ(h, 0.0f);

  // A gap wider than the largest spacing is pulled in; one point alone is spread out.
  Blob gaps;
  std::vector<float>& p = gaps.gridA[0];
  for (int32_t i = 1; i < 40; ++i) p[i] = i < 20 ? 0.0f : 96.0f;
  gaps.refresh();
  for (int32_t i = 1; i <= 40; ++i) EXPECT_LE(p[i] - p[i - 1], 96.0 * 1.15 / 41 / (7.0 / 17.0) + 1e-3);
}

// Blob time is linear up to 25 units and grows geometrically after: frames and seconds rise
// with it, faster past 25, and convert back.
TEST(BlobRefresh, WarpRoundTripAndScale) {
  double previous = -1.0, previousStep = 0.0;
  for (float x = 0.0f; x <= 96.0f; x += 0.125f) {
    const double frames = blobTimeToFrames(x), step = frames - previous;
    EXPECT_TRUE(x > 25.2f ? step > previousStep : x > 25.0f || std::fabs(frames - x) < 1e-4) << x;
    EXPECT_NEAR(framesToBlobTime(blobTimeToFrames(x)), x, 1e-4) << x;
    EXPECT_NEAR(Blob::timeFromSeconds(Blob::secondsFromTime(x / 96.0f)), x, 1e-3) << x;
    previous = frames;
    previousStep = step;
  }
}

TEST(BlobRefresh, MirrorTwiceRestores) {
  Blob blob;
  blob_test::perturb(blob, 2.0f, 77);
  for (int32_t i = 0; i < 20; ++i) blob.refresh();  // settle, so refresh moves nothing more
  for (int32_t axis : {0, 1}) {
    Blob twice = blob;
    twice.mirror(axis);
    twice.mirror(axis);
    EXPECT_LT(blob_test::maxDifference(twice.gridA, blob.gridA) + blob_test::maxDifference(twice.gridB, blob.gridB), 2e-3f);
  }
  // Along the frequency axis the time curves swap places and each frequency curve is reflected.
  Blob once = blob;
  once.mirror(1);
  for (size_t k = 0; k < 7; ++k)
    for (size_t i = 0; i < 41; ++i) EXPECT_NEAR(once.gridA[k][i], blob.gridA[6 - k][i], 1e-3);
  for (size_t k = 0; k < 6; ++k)
    for (size_t i = 0; i < 49; ++i) EXPECT_NEAR(once.gridB[k][i], 80.0f - blob.gridB[k][48 - i], 1e-3);

  // In time only the active part of the time curves is reflected.
  Blob tail = sparseTail();
  tail.gridB[0][10] += 1.0f;  // tells the frequency curves apart
  tail.refresh();
  const Blob before = tail;
  tail.mirror(0);
  const float s = before.gridA[0][30] + before.gridA[0][0];
  for (int32_t i = 0; i <= 30; ++i) EXPECT_NEAR(tail.gridA[0][i], s - before.gridA[0][30 - i], 1e-4) << i;
  for (int32_t i = 31; i <= 40; ++i) EXPECT_EQ(tail.gridA[0][i], before.gridA[0][i]);
  for (size_t k = 0; k < 6; ++k) EXPECT_EQ(tail.gridB[k], before.gridB[5 - k]);
  // A constructed blob is active over its whole ramp, like a cleared one.
  Blob fresh;
  Blob cleared;
  cleared.clear();
  for (Blob* b : {&fresh, &cleared}) {
    b->gridA[0][3] = 5.0f;
    b->mirror(0);
  }
  EXPECT_LT(blob_test::maxDifference(fresh.gridA, cleared.gridA), 1e-4f);
  EXPECT_NEAR(fresh.gridA[0][37], 91.0f, 0.2f);
}

TEST(BlobRefresh, RefreshMirrorAndHandOverCopyDoNotAllocate) {
  Blob blob;
  Blob copy;
  blob_test::perturb(blob, 3.0f, 11);
  AllocationCounter counter;
  blob.refresh();
  blob.mirror(0);
  blob.mirror(1);
  blob.clear();
  copy.assign(blob, false);
  EXPECT_EQ(counter.count(), 0);
}
