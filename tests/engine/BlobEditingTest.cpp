#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/Blob.h"

namespace {

Blob refreshedRamp() {
  Blob blob;
  blob.refresh();
  return blob;
}

void expectEndsKept(const Blob& blob) {
  for (const auto& curve : blob.gridA) {
    EXPECT_EQ(curve.front(), 0.0f);
    EXPECT_EQ(curve.back(), 96.0f);
  }
  for (const auto& curve : blob.gridB) {
    EXPECT_EQ(curve.front(), 0.0f);
    EXPECT_EQ(curve.back(), 80.0f);
  }
}

}  // namespace

TEST(BlobEditing, AxisGating) {
  const Blob ramp = refreshedRamp();

  Blob timeOnly = ramp;
  timeOnly.attract(0.4f, 0.3f, 10.0f, 0.1f, 0.5f);
  EXPECT_EQ(timeOnly.gridB, ramp.gridB);
  EXPECT_GT(blob_test::maxDifference(timeOnly.gridA, ramp.gridA), 0.05f);

  Blob frequencyOnly = ramp;
  frequencyOnly.attract(0.4f, 0.3f, 0.1f, 10.0f, 0.5f);
  EXPECT_EQ(frequencyOnly.gridA, ramp.gridA);
  EXPECT_GT(blob_test::maxDifference(frequencyOnly.gridB, ramp.gridB), 0.05f);

  Blob neither = ramp;
  neither.attract(0.4f, 0.3f, 1e30f, 1e30f, 0.5f);
  EXPECT_EQ(neither.gridA, ramp.gridA);
  EXPECT_EQ(neither.gridB, ramp.gridB);
  EXPECT_EQ(neither.modified, ramp.modified + 1);
  EXPECT_EQ(neither.revision, ramp.revision + 1);

  // A zero strength or motion changes no value but still counts as an edit.
  Blob still = ramp;
  still.attract(0.5f, 0.5f, 0.2f, 0.2f, 0.0f);
  still.drag(0.5f, 0.5f, 0.0f, 0.0f, 0.2f, 0.2f);
  EXPECT_EQ(still.gridA, ramp.gridA);
  EXPECT_EQ(still.gridB, ramp.gridB);
  EXPECT_EQ(still.modified, ramp.modified + 2);
  EXPECT_EQ(still.revision, ramp.revision + 2);

  // Drag moves only the axes with motion: a vertical motion below 0.0001 units is none.
  Blob sideways = ramp;
  sideways.drag(0.5f, 0.5f, 0.05f, 0.99e-4f / 96.0f, 0.2f, 0.2f);
  EXPECT_EQ(sideways.gridA, ramp.gridA);
  EXPECT_GT(blob_test::maxDifference(sideways.gridB, ramp.gridB), 0.05f);
}

TEST(BlobEditing, AttractPullsAndRepelPushes) {
  const Blob ramp = refreshedRamp();
  Blob pulled = ramp;
  pulled.attract(0.5f, 0.5f, 0.3f, 0.3f, 0.8f);
  Blob pushed = ramp;
  pushed.attract(0.5f, 0.5f, 0.3f, 0.3f, -0.8f);
  // Points of the middle time curve just before the pointer's time (48) move towards it when
  // attracted and away when repelled.
  EXPECT_GT(pulled.gridA[3][18], ramp.gridA[3][18]);
  EXPECT_LT(pushed.gridA[3][18], ramp.gridA[3][18]);
  // Likewise the middle frequency curve's points just below the pointer's band (40).
  EXPECT_GT(pulled.gridB[2][22], ramp.gridB[2][22]);
  EXPECT_LT(pushed.gridB[2][22], ramp.gridB[2][22]);
  expectEndsKept(pulled);
  expectEndsKept(pushed);
}

TEST(BlobEditing, EndpointsNeverMove) {
  Blob blob = refreshedRamp();
  for (float x : {-0.5f, 0.0f, 0.3f, 1.0f, 1.7f}) {
    for (float y : {-0.2f, 0.0f, 0.6f, 1.0f, 2.0f}) {
      blob.attract(x, y, 0.0f, 0.5f, 5.0f);
      blob.attract(x, y, 0.5f, 0.0f, -5.0f);
      blob.drag(x, y, 0.3f, -0.4f, 0.3f, 0.3f);
      blob.drag(x, y, -2.0f, 2.0f, 0.0f, 0.0f);
    }
  }
  expectEndsKept(blob);
  EXPECT_TRUE(blob_test::allFinite(blob.gridA));
  EXPECT_TRUE(blob_test::allFinite(blob.gridB));
  for (const FloatGrid* grid : {&blob.gridA, &blob.gridB})
    for (const auto& curve : *grid)
      for (size_t i = 1; i < curve.size(); ++i) EXPECT_GT(curve[i], curve[i - 1]);
  EXPECT_EQ(blob.modified, 100);
}

TEST(BlobEditing, DragMovesNearbyPointsMost) {
  const Blob ramp = refreshedRamp();
  Blob blob = ramp;
  blob.drag(0.5f, 0.5f, 0.0f, 0.02f, 0.15f, 0.15f);
  EXPECT_EQ(blob.gridB, ramp.gridB);
  // The time curve through the pointer moves up most around its middle rows, and more than a
  // curve further away.
  const auto moved = [&](size_t k, size_t i) { return blob.gridA[k][i] - ramp.gridA[k][i]; };
  EXPECT_GT(moved(3, 20), 0.1f);
  EXPECT_GT(moved(3, 20), moved(3, 30));
  EXPECT_GT(moved(3, 20), moved(0, 20));
  EXPECT_GE(moved(3, 30), 0.0f);
}

TEST(BlobEditing, LocateInvertsTheGrids) {
  // On ramps the first step lands within 1/2304 of a column per column of the node.
  const Blob ramp = refreshedRamp();
  for (int32_t r : {0, 7, 20, 40}) {
    for (int32_t c : {0, 9, 24, 48}) {
      const float f = c * 80.0f / 48.0f;
      const float t = r * 96.0f / 40.0f;
      float column = -1.0f;
      float row = -1.0f;
      ramp.locate(f, t, column, row, 1);
      EXPECT_NEAR(column, c, c / 2304.0 + 1e-4);
      EXPECT_NEAR(row, r, r / 1600.0 + 1e-4);
      ramp.locate(f, t, column, row, 10);
      EXPECT_NEAR(column, c, 1e-3);
      EXPECT_NEAR(row, r, 1e-3);
    }
  }
  // Fewer than one step: the starting estimate.
  float column = 0.0f;
  float row = 0.0f;
  ramp.locate(40.0f, 48.0f, column, row, 0);
  EXPECT_FLOAT_EQ(column, 40.0f * 49.0f / 80.0f);
  EXPECT_FLOAT_EQ(row, 48.0f * 41.0f / 96.0f);

  // On an edited blob the grids sampled at the result give the point back (within the ten
  // steps the tools use, convergence is slowest where an edit bent the curves most).
  Blob edited = ramp;
  edited.attract(0.4f, 0.35f, 0.25f, 0.25f, 0.9f);
  edited.drag(0.6f, 0.6f, 0.03f, -0.03f, 0.2f, 0.2f);
  for (float f : {12.0f, 33.0f, 50.0f, 71.0f}) {
    for (float t : {5.0f, 30.0f, 47.0f, 88.0f}) {
      edited.locate(f, t, column, row, 10);
      EXPECT_NEAR(sampleGridBilinear(edited.gridB, row / 8.0f, column), f, 2e-2) << f << " " << t;
      EXPECT_NEAR(sampleGridBilinear(edited.gridA, column / 8.0f, row), t, 2e-2) << f << " " << t;
    }
  }
}

TEST(BlobEditing, SampleGridBilinear) {
  FloatGrid grid = {{0, 10, 20}, {100, 110, 120}, {200, 230, 260}};
  EXPECT_FLOAT_EQ(sampleGridBilinear(grid, 0.5f, 0.5f), 0.25f * (0 + 10 + 100 + 110));
  EXPECT_FLOAT_EQ(sampleGridBilinear(grid, 2.0f, 2.0f), 260.0f);  // cells clamp to the last one
  EXPECT_FLOAT_EQ(sampleGridBilinear(grid, 1.5f, 1.0f), 0.5f * (110 + 230));
  EXPECT_FLOAT_EQ(sampleGridBilinear(grid, -1.0f, 0.0f), -100.0f);  // extrapolates the first cell
}

TEST(BlobEditing, AssignWithAndWithoutName) {
  Blob source;
  blob_test::perturb(source, 1.5f, 4242);
  source.refresh();
  source.name = "Snare 2";
  source.present = 0;
  source.modified = 3;

  Blob plain;
  plain.name = "Kick";
  const uint32_t revision = plain.revision;
  plain.assign(source, false);
  EXPECT_EQ(plain.gridA, source.gridA);
  EXPECT_EQ(plain.gridB, source.gridB);
  EXPECT_EQ(plain.energy, source.energy);
  EXPECT_EQ(plain.tailPosition, source.tailPosition);
  EXPECT_EQ(plain.activePoints, source.activePoints);
  EXPECT_EQ(plain.decayHalfLife, source.decayHalfLife);
  EXPECT_EQ(plain.name, "Kick");
  EXPECT_EQ(plain.present, 1u);
  EXPECT_EQ(plain.modified, 0);
  EXPECT_EQ(plain.revision, revision + 1);

  // The grids are filled in place: pointers into them stay valid.
  const float* row = plain.gridA[2].data();
  Blob named;
  const float* namedRow = named.gridB[5].data();
  named.assign(source, true);
  EXPECT_EQ(named.name, "Snare 2");
  EXPECT_EQ(named.present, 0u);
  EXPECT_EQ(named.modified, 3);
  EXPECT_EQ(named.gridB[5].data(), namedRow);
  plain.assign(named, true);
  EXPECT_EQ(plain.gridA[2].data(), row);
}

TEST(BlobEditing, CopyGridValuesKeepsTheDestinationShape) {
  FloatGrid destination = {{1, 1, 1}, {2, 2}};
  const FloatGrid source = {{5, 6}, {7, 8, 9}, {10}};
  copyGridValues(destination, source);
  EXPECT_EQ(destination, (FloatGrid{{5, 6, 1}, {7, 8}}));
}

TEST(BlobEditing, NonFiniteInputIsDropped) {
  const Blob ramp = refreshedRamp();
  Blob blob = ramp;
  const float nan = std::nanf("");
  blob.attract(nan, 0.5f, 0.2f, 0.2f, 1.0f);
  blob.attract(0.5f, INFINITY, 0.2f, 0.2f, 1.0f);
  blob.attract(0.5f, 0.5f, nan, 0.2f, 1.0f);
  blob.attract(0.5f, 0.5f, 0.2f, 0.2f, nan);
  blob.drag(0.5f, 0.5f, nan, 0.0f, 0.2f, 0.2f);
  blob.drag(0.5f, 0.5f, 0.0f, -INFINITY, 0.2f, 0.2f);
  EXPECT_EQ(blob.gridA, ramp.gridA);
  EXPECT_EQ(blob.gridB, ramp.gridB);
  EXPECT_EQ(blob.revision, ramp.revision);
  // An infinite radius is the same as a huge one: that axis is left alone.
  blob.attract(0.5f, 0.5f, INFINITY, 0.2f, 1.0f);
  EXPECT_EQ(blob.gridB, ramp.gridB);
  EXPECT_TRUE(blob_test::allFinite(blob.gridA));
}
