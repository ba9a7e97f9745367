#include <gtest/gtest.h>

#include <functional>

#include "engine/blob/BlobTestSupport.h"

namespace {

Blob refreshedRamp() {
  Blob blob;
  blob.refresh();
  return blob;
}

}  // namespace

TEST(BlobEditing, AxisGatingEmptyAndDroppedEdits) {
  const Blob ramp = refreshedRamp();
  const float nan = std::nanf("");
  const struct {
    std::function<void(Blob&)> edit;
    bool timeMoves, frequencyMoves;
    uint32_t edits;
  } cases[] = {
      {[](Blob& b) { b.attract(0.4f, 0.3f, 10.0f, 0.1f, 0.5f); }, true, false, 1},
      {[](Blob& b) { b.attract(0.4f, 0.3f, 0.1f, 10.0f, 0.5f); }, false, true, 1},
      {[](Blob& b) { b.attract(0.4f, 0.3f, 1e30f, 1e30f, 0.5f); }, false, false, 1},
      {[](Blob& b) { b.attract(0.5f, 0.5f, INFINITY, 0.2f, 1.0f); }, true, false, 1},
      // A zero strength or motion changes no value but still counts as an edit.
      {[](Blob& b) { b.attract(0.5f, 0.5f, 0.2f, 0.2f, 0.0f); b.drag(0.5f, 0.5f, 0, 0, 0.2f, 0.2f); }, false, false, 2},
      // A vertical motion below 0.0001 units is none.
      {[](Blob& b) { b.drag(0.5f, 0.5f, 0.05f, 0.99e-4f / 96.0f, 0.2f, 0.2f); }, false, true, 1},
      // A NaN or infinite position or amount, or a NaN radius, drops the edit.
      {[=](Blob& b) {
         b.attract(nan, 0.5f, 0.2f, 0.2f, 1.0f);
         b.attract(0.5f, INFINITY, 0.2f, 0.2f, 1.0f);
         b.attract(0.5f, 0.5f, nan, 0.2f, 1.0f);
         b.attract(0.5f, 0.5f, 0.2f, 0.2f, nan);
         b.drag(0.5f, 0.5f, nan, 0.0f, 0.2f, 0.2f);
         b.drag(0.5f, 0.5f, 0.0f, -INFINITY, 0.2f, 0.2f);
       }, false, false, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    Blob blob = ramp;
    cases[i].edit(blob);
    const auto moved = [&](const FloatGrid& a, const FloatGrid& b, bool moves) {
      return moves ? blob_test::maxDifference(a, b) > 0.05f && blob_test::allFinite(a) : a == b;
    };
    EXPECT_TRUE(moved(blob.gridA, ramp.gridA, cases[i].timeMoves)) << i;
    EXPECT_TRUE(moved(blob.gridB, ramp.gridB, cases[i].frequencyMoves)) << i;
    EXPECT_TRUE(blob.modified == ramp.modified + static_cast<int32_t>(cases[i].edits) && blob.revision == ramp.revision + cases[i].edits) << i;
  }
}

TEST(BlobEditing, ToolsMoveNearbyPointsTheRightWay) {
  const Blob ramp = refreshedRamp();
  Blob pulled = ramp, pushed = ramp, dragged = ramp;
  pulled.attract(0.5f, 0.5f, 0.3f, 0.3f, 0.8f);
  pushed.attract(0.5f, 0.5f, 0.3f, 0.3f, -0.8f);
  // Points just before the pointer (time 48, band 40) move towards it or away from it.
  EXPECT_TRUE(pulled.gridA[3][18] > ramp.gridA[3][18] && pushed.gridA[3][18] < ramp.gridA[3][18]);
  EXPECT_TRUE(pulled.gridB[2][22] > ramp.gridB[2][22] && pushed.gridB[2][22] < ramp.gridB[2][22]);
  // Drag moves the curve through the pointer most around the pointer.
  dragged.drag(0.5f, 0.5f, 0.0f, 0.02f, 0.15f, 0.15f);
  const auto moved = [&](size_t k, size_t i) { return dragged.gridA[k][i] - ramp.gridA[k][i]; };
  EXPECT_GT(moved(3, 20), 0.1f);
  EXPECT_GT(moved(3, 20), std::fmax(moved(3, 30), moved(0, 20)));
  EXPECT_GE(moved(3, 30), 0.0f);
}

TEST(BlobEditing, EndpointsNeverMoveAndOrderHolds) {
  Blob blob = refreshedRamp();
  for (float x : {-0.5f, 0.0f, 0.3f, 1.0f, 1.7f}) {
    for (float y : {-0.2f, 0.0f, 0.6f, 1.0f, 2.0f}) {
      blob.attract(x, y, 0.0f, 0.5f, 5.0f);
      blob.attract(x, y, 0.5f, 0.0f, -5.0f);
      blob.drag(x, y, 0.3f, -0.4f, 0.3f, 0.3f);
      blob.drag(x, y, -2.0f, 2.0f, 0.0f, 0.0f);
    }
  }
  for (const auto& [grid, range] : {std::pair{&blob.gridA, 96.0f}, std::pair{&blob.gridB, 80.0f}}) {
    for (const auto& curve : *grid) {
      EXPECT_TRUE(curve.front() == 0.0f && curve.back() == range);
      for (size_t i = 1; i < curve.size(); ++i) EXPECT_GT(curve[i], curve[i - 1]);  // also false for NaN
    }
  }
}

TEST(BlobEditing, LocateInvertsTheGrids) {
  // On ramps the first step lands within 1/2304 of a column per column of the node.
  Blob blob = refreshedRamp();
  float column = 0.0f, row = 0.0f;
  for (int32_t r : {0, 7, 20, 40}) {
    for (int32_t c : {0, 9, 24, 48}) {
      blob.locate(c * 80.0f / 48.0f, r * 96.0f / 40.0f, column, row, 1);
      EXPECT_TRUE(std::fabs(column - c) < c / 2304.0 + 1e-4 && std::fabs(row - r) < r / 1600.0 + 1e-4) << r << " " << c;
    }
  }
  // On an edited blob the grids sampled at the result give the point back.
  blob.attract(0.4f, 0.35f, 0.25f, 0.25f, 0.9f);
  blob.drag(0.6f, 0.6f, 0.03f, -0.03f, 0.2f, 0.2f);
  for (float f : {12.0f, 33.0f, 50.0f, 71.0f}) {
    for (float t : {5.0f, 30.0f, 47.0f, 88.0f}) {
      blob.locate(f, t, column, row, 10);
      EXPECT_NEAR(sampleGridBilinear(blob.gridB, row / 8.0f, column), f, 2e-2) << f << " " << t;
      EXPECT_NEAR(sampleGridBilinear(blob.gridA, column / 8.0f, row), t, 2e-2) << f << " " << t;
    }
  }
  // Cells clamp to the grid, so positions outside it extrapolate the border cells.
  const FloatGrid grid = {{0, 10, 20}, {100, 110, 120}, {200, 230, 260}};
  EXPECT_FLOAT_EQ(sampleGridBilinear(grid, 0.5f, 0.5f), 55.0f);
  EXPECT_FLOAT_EQ(sampleGridBilinear(grid, 2.0f, 2.0f), 260.0f);
  EXPECT_FLOAT_EQ(sampleGridBilinear(grid, -1.0f, 0.0f), -100.0f);
}

TEST(BlobEditing, AssignAndCopyGridValues) {
  Blob source;
  blob_test::perturb(source, 1.5f, 4242);
  source.refresh();
  source.name = "Snare 2";
  source.present = 0;
  source.modified = 3;
  Blob plain;
  plain.name = "Kick";
  const float* row = plain.gridA[2].data();
  plain.assign(source, false);  // the points and derived fields, no refresh needed
  EXPECT_TRUE(plain.gridA == source.gridA && plain.gridB == source.gridB && plain.energy == source.energy);
  EXPECT_TRUE(plain.activePoints == source.activePoints && plain.decayHalfLife == source.decayHalfLife);
  EXPECT_TRUE(plain.name == "Kick" && plain.present == 1u && plain.modified == 0 && plain.revision == 1u);
  plain.assign(source, true);
  EXPECT_TRUE(plain.name == "Snare 2" && plain.present == 0u && plain.modified == 3);
  EXPECT_EQ(plain.gridA[2].data(), row);  // filled in place: pointers into the grids stay valid

  FloatGrid destination = {{1, 1, 1}, {2, 2}};
  copyGridValues(destination, {{5, 6}, {7, 8, 9}, {10}});
  EXPECT_EQ(destination, (FloatGrid{{5, 6, 1}, {7, 8}}));
}
