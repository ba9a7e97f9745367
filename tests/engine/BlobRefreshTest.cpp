#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/Blob.h"
#include "support/AllocationCounter.h"

using blob_test::rampPoint;

namespace {

// Smallest spacing refresh keeps between neighbouring points: 7.5 / n x 7/17.
double minGap(int32_t n) { return 7.5 / n * 7.0 / 17.0; }

// The warp in double, with the growth factor as the float32 1.04 the engine stores.
double warpDouble(double x) { return x < 25 ? x : 25.0 * std::pow(static_cast<double>(1.04f), x - 25.0); }

// The energy measure written with hat functions instead of a table of interpolation cells: a
// frequency curve's point j feeds time-curve column a with weight max(0, 1 - |pos(j) - a|).
double referenceEnergy(const Blob& blob) {
  const double timeBase = 7.0 / 17.0 * 41.0 / 96.0;
  const double bandBase = 7.0 / 17.0 * 49.0 / 80.0;
  auto pos = [](int32_t j) { return (j - 0.5) / 8.0; };
  auto hat = [](double d) { return std::fmax(0.0, 1.0 - std::fabs(d)); };
  double total = 0;
  for (int32_t a = 0; a < 7; ++a) {
    double sum = 0;
    for (int32_t j = 1; j <= 39; ++j) {
      const auto& p = blob.gridA[a];
      const double w = (p[j + 1] - p[j - 1]) * 0.5;
      const double d = std::fmax(1.0 / w - timeBase, 0.0);
      double loudness = 0;
      for (int32_t b = 0; b < 6; ++b) {
        const double rowWeight = hat(pos(j) - b);
        if (rowWeight == 0) continue;
        for (int32_t jb = 1; jb <= 47; ++jb) {
          const auto& q = blob.gridB[b];
          const double wb = (q[jb + 1] - q[jb - 1]) * 0.5;
          const double db = std::fmax(1.0 / wb - bandBase, 0.0);
          const double u = 0.63 - q[jb] / 80.0;
          const double v = std::pow(db, 4) * wb / std::pow(u * u * 8 + 1, 2);
          loudness += rowWeight * hat(pos(jb) - a) * v;
        }
      }
      sum += loudness * std::pow(d, 4) * w;
    }
    total += std::sqrt(sum);
  }
  return total;
}

void expectMonotoneWithEnds(const Blob& before, const Blob& after) {
  for (int32_t g = 0; g < 2; ++g) {
    const FloatGrid& a = g == 0 ? before.gridA : before.gridB;
    const FloatGrid& b = g == 0 ? after.gridA : after.gridB;
    const int32_t n = static_cast<int32_t>(b[0].size());
    for (size_t k = 0; k < b.size(); ++k) {
      EXPECT_EQ(b[k].front(), a[k].front());
      EXPECT_EQ(b[k].back(), a[k].back());
      for (int32_t i = 1; i < n; ++i) EXPECT_GE(b[k][i] - b[k][i - 1], minGap(n) * (1 - 1e-3)) << g << k << i;
    }
  }
}

}  // namespace

TEST(BlobRefresh, FreshBlobIsUnrefreshedRamps) {
  const Blob blob;
  ASSERT_EQ(blob.gridA.size(), 7u);
  ASSERT_EQ(blob.gridB.size(), 6u);
  for (const auto& curve : blob.gridA) {
    ASSERT_EQ(curve.size(), 41u);
    for (int32_t i = 0; i < 41; ++i) EXPECT_NEAR(curve[i], rampPoint(i, 41, 96), 1e-5);
  }
  for (const auto& curve : blob.gridB) {
    ASSERT_EQ(curve.size(), 49u);
    for (int32_t i = 0; i < 49; ++i) EXPECT_NEAR(curve[i], rampPoint(i, 49, 80), 1e-5);
  }
  EXPECT_EQ(blob.energy, 1e30f);
  EXPECT_EQ(blob.tailPosition, -1.0f);
  EXPECT_EQ(blob.activePoints, -1);
  for (float h : blob.decayHalfLife) EXPECT_EQ(h, 0.0f);  // copied before any refresh: defined
  EXPECT_EQ(blob.present, 1u);
  EXPECT_EQ(blob.revision, 0u);
  EXPECT_EQ(blob.modified, 0);
  EXPECT_EQ(blob.workForward.size(), 98u);
  EXPECT_EQ(blob.workBackward.size(), 98u);
  EXPECT_TRUE(blob.name.empty());
}

TEST(BlobRefresh, RampDerivedValues) {
  Blob blob;
  EXPECT_EQ(blob.refresh(), 0.0f);
  EXPECT_EQ(blob.revision, 1u);
  EXPECT_EQ(blob.activePoints, 41);
  EXPECT_FLOAT_EQ(blob.tailPosition, 97.0f);
  // Both end spans are as dense as each other, so the ratio takes its floor of 1.01.
  const double rate = 2.0 / 4.8 - 7.0 / 17.0 * 41.0 / 96.0;
  ASSERT_GT(rate, 0.0);
  const double t0 = warpDouble((91.2 + 96.0) / 2) / 689.0625;
  const double t1 = warpDouble((81.6 + 86.4) / 2) / 689.0625;
  const double halfLife = (t0 - t1) / std::log2(1.01);
  for (float h : blob.decayHalfLife) EXPECT_NEAR(h, halfLife, halfLife * 1e-4);
  EXPECT_NEAR(halfLife, 11.69, 0.01);
  EXPECT_NEAR(blob.energy, referenceEnergy(blob), referenceEnergy(blob) * 1e-4);
  EXPECT_GT(blob.energy, 0.0f);

  // clear gives the same ramps (up to the last bit) and the same derived values.
  Blob cleared;
  blob_test::perturb(cleared, 3.0f, 5);
  EXPECT_EQ(cleared.clear(), 0.0f);
  EXPECT_LT(blob_test::maxDifference(cleared.gridA, Blob().gridA), 2e-5f);
  EXPECT_LT(blob_test::maxDifference(cleared.gridB, Blob().gridB), 2e-5f);
  EXPECT_EQ(cleared.activePoints, 41);
  EXPECT_FLOAT_EQ(cleared.energy, blob.energy);
}

TEST(BlobRefresh, PerturbedCurvesBecomeMonotone) {
  for (float amount : {0.5f, 4.0f, 30.0f}) {
    Blob blob;
    blob_test::perturb(blob, amount, 321);
    const Blob before = blob;
    const float change = blob.refresh();
    // Small moves keep every gap within the allowed spacing: nothing to do then.
    if (amount > 1.0f) {
      EXPECT_GT(change, 0.0f);
    } else {
      EXPECT_GE(change, 0.0f);
    }
    expectMonotoneWithEnds(before, blob);
    EXPECT_TRUE(std::isfinite(blob.energy));
    EXPECT_NEAR(blob.energy, referenceEnergy(blob), referenceEnergy(blob) * 1e-3 + 1e-6) << amount;
    // The returned change is the total movement of the points.
    double moved = 0;
    for (size_t k = 0; k < 7; ++k)
      for (size_t i = 0; i < 41; ++i) moved += std::fabs(blob.gridA[k][i] - before.gridA[k][i]);
    for (size_t k = 0; k < 6; ++k)
      for (size_t i = 0; i < 49; ++i) moved += std::fabs(blob.gridB[k][i] - before.gridB[k][i]);
    EXPECT_NEAR(change, moved, moved * 1e-3);
  }
}

TEST(BlobRefresh, SparseTailAndWideGaps) {
  Blob blob;
  // Time curve 0: dense up to point 30 (a gentle curve), then ten gaps of 6 units (sparse, yet
  // within the largest spacing refresh allows).
  for (auto& curve : blob.gridA) {
    for (int32_t i = 0; i <= 30; ++i) curve[i] = 36.0f * std::pow(i / 30.0f, 1.5f);
    for (int32_t i = 31; i <= 40; ++i) curve[i] = 36.0f + 6.0f * (i - 30);
  }
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

TEST(BlobRefresh, WarpRoundTripAndScale) {
  EXPECT_EQ(blobTimeToFrames(25.0f), 25.0f);
  EXPECT_EQ(blobTimeToFrames(10.5f), 10.5f);
  EXPECT_EQ(framesToBlobTime(24.0f), 24.0f);
  for (float x = 0.0f; x <= 96.0f; x += 0.125f) {
    EXPECT_NEAR(blobTimeToFrames(x), warpDouble(x), warpDouble(x) * 1e-6);
    EXPECT_NEAR(framesToBlobTime(blobTimeToFrames(x)), x, 1e-4) << x;
  }
  EXPECT_NEAR(blobTimeToFrames(96.0f), 404.86, 0.01);
  EXPECT_NEAR(Blob::secondsFromTime(1.0f), warpDouble(96) / 689.0625, 1e-6);
  EXPECT_NEAR(Blob::timeFromSeconds(0.1f), 25 + std::log(68.90625 / 25) / std::log(1.04), 1e-4);
  EXPECT_NEAR(Blob::timeFromSeconds(Blob::secondsFromTime(0.6f)), 57.6f, 1e-4);
}

TEST(BlobRefresh, MirrorTwiceRestores) {
  Blob blob;
  blob_test::perturb(blob, 2.0f, 77);
  for (int32_t i = 0; i < 20; ++i) blob.refresh();  // settle, so refresh moves nothing more
  ASSERT_LT(blob.refresh(), 1e-3f);
  for (int32_t axis : {0, 1}) {
    Blob mirrored = blob;
    mirrored.mirror(axis);
    EXPECT_GT(blob_test::maxDifference(mirrored.gridA, blob.gridA), 0.1f);
    mirrored.mirror(axis);
    EXPECT_LT(blob_test::maxDifference(mirrored.gridA, blob.gridA), 1e-3f) << axis;
    EXPECT_LT(blob_test::maxDifference(mirrored.gridB, blob.gridB), 1e-3f) << axis;
    EXPECT_EQ(mirrored.revision, blob.revision + 2);
  }

  // Along the frequency axis the time curves swap places and each frequency curve is reflected
  // over its whole length.
  Blob once = blob;
  once.mirror(1);
  for (size_t k = 0; k < 7; ++k)
    for (size_t i = 0; i < 41; ++i) EXPECT_NEAR(once.gridA[k][i], blob.gridA[6 - k][i], 1e-3);
  for (size_t k = 0; k < 6; ++k)
    for (size_t i = 0; i < 49; ++i) EXPECT_NEAR(once.gridB[k][i], 80.0f - blob.gridB[k][48 - i], 1e-3);
}

TEST(BlobRefresh, MirrorInTimeReflectsOnlyTheActivePart) {
  Blob blob;
  for (auto& curve : blob.gridA) {
    for (int32_t i = 0; i <= 30; ++i) curve[i] = 36.0f * std::pow(i / 30.0f, 1.5f);
    for (int32_t i = 31; i <= 40; ++i) curve[i] = 36.0f + 6.0f * (i - 30);
  }
  blob.gridB[0][10] += 1.0f;  // tells the frequency curves apart
  blob.refresh();
  ASSERT_EQ(blob.activePoints, 31);
  const Blob before = blob;
  blob.mirror(0);
  const float s = before.gridA[0][30] + before.gridA[0][0];
  for (int32_t i = 0; i <= 30; ++i) EXPECT_NEAR(blob.gridA[0][i], s - before.gridA[0][30 - i], 1e-4) << i;
  for (int32_t i = 31; i <= 40; ++i) EXPECT_EQ(blob.gridA[0][i], before.gridA[0][i]);
  for (size_t k = 0; k < 6; ++k) EXPECT_EQ(blob.gridB[k], before.gridB[5 - k]);
  blob.mirror(0);
  EXPECT_LT(blob_test::maxDifference(blob.gridA, before.gridA), 1e-4f);

  // Before any refresh there is no active part: the time curves stay as they are.
  Blob fresh;
  fresh.gridA[0][3] = 5.0f;
  const Blob unrefreshed = fresh;
  fresh.mirror(0);
  EXPECT_NEAR(fresh.gridA[0][3], unrefreshed.gridA[0][3], 0.2f);
  EXPECT_EQ(fresh.gridA[0][40], 96.0f);
}

TEST(BlobRefresh, RefreshWarpAndHandOverCopyDoNotAllocate) {
  Blob blob;
  blob_test::perturb(blob, 3.0f, 11);
  Blob copy;
  float sink = 0.0f;
  AllocationCounter counter;
  sink += blob.refresh();
  sink += blob.clear();
  blob.mirror(0);
  blob.mirror(1);
  copy.assign(blob, false);
  for (float x = 0.0f; x < 96.0f; x += 7.0f) sink += framesToBlobTime(blobTimeToFrames(x));
  EXPECT_EQ(counter.count(), 0);
  EXPECT_TRUE(std::isfinite(sink));
}
