#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/CurvePoint.h"

// An editable curve over 0..1 made of points joined by bent segments: the LFO wave shapes and
// each track's velocity curve. The editor edits it while the audio thread evaluates it without
// a lock, so the point storage is sized once at construction and never reallocated, and the
// fields the audio thread reads (count and the point coordinates) are written with relaxed
// atomic stores. During an edit the audio thread may see a half-edited curve for one block;
// evaluate stays in bounds and finite whatever it sees.
//
// After every edit points[count] is the closing point (1, y of point 0 when looping, else y of
// the last point, 0); with no points in use, point 0 is (0, emptyY, 0).
class PointCurve {
 public:
  static constexpr float kMinSpacing = 0.01f;
  static constexpr float kLoopLastMaxX = 0.99f;
  static constexpr int32_t kPointBytes = 12;

  int32_t loopMode = 0;  // 1: the closing point repeats point 0's y, so the shape loops
  std::vector<CurvePoint> points;
  int32_t count = 0;  // points in use, not counting the closing point
  float emptyY = 0.5f;
  int32_t dirty = 1;  // set by every edit and load; consumers clear it

  // Room for maxPoints points (at least 2) plus the closing point. Starts as (0, 0, 0),
  // (random x, 1, small random bend), (1, 0, 0), or (0, 0, 0), (1, 0, 0) with room for 2.
  explicit PointCurve(int32_t maxPoints);

  int32_t maxPoints() const { return static_cast<int32_t>(points.size()) - 1; }

  // Audio thread: returns the segment position (segment index + fraction) and, when y is not
  // null, the curve's value at t. Writes nothing, allocates nothing.
  float evaluate(float t, float* y) const;

  void insertPoint(CurvePoint p);
  void removePoint(int32_t index);
  void setPoint(int32_t index, CurvePoint p);
  void updateEndPoint();

  // u8 count (unless omitted), then x, y, curve as little-endian floats per point in use.
  // Returns the bytes written (or measured, with a null buffer).
  int32_t serialize(uint8_t* buffer, int32_t* pos, int32_t size, bool omitCount) const;
  // Returns the bytes consumed. A stored count beyond the room loads as many points as fit and
  // skips the rest, so whatever follows in the stream is still read from the right place.
  int32_t deserialize(const uint8_t* buffer, int32_t* pos, int32_t size, bool keepCount);

 private:
  void storePoint(int32_t index, CurvePoint p);
  void storeCount(int32_t n);
};
