#pragma once

// One point of a PointCurve: where it sits (x, 0..1, strictly increasing along the curve),
// its value (y, 0..1) and the bend of the segment that starts at it (curve, -1..1).
struct CurvePoint {
  float x = 0.0f;
  float y = 0.0f;
  float curve = 0.0f;
};
