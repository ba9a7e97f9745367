#pragma once

#include <cstdint>

#include "engine/dsp/KnotIntegrator.h"

// A voice's cursor on one time curve: the running state of the blending knot integral over the
// curve of blob A and the same curve of blob B, mixed by a morph fixed when the note starts.
// Read with rising t, rowAt gives the fractional point index at which the mixed curve reaches
// t (0 before its first point).
//
// The integrator carries the cursor: knots / knotsB point at the two curves, count is their
// point count, segment the current point index (-1 before the first), width the span of the
// current gap (the first gap, morphed, after begin), b its inverse and start its negative.
struct VoiceCurve {
  KnotIntegrator cursor;
  float morph = 0.0f;

  // Before any note: no curves, so rowAt gives 0.
  VoiceCurve();

  // Starts at the first gap of the two curves (count points each) mixed by morph.
  void begin(const float* pointsA, const float* pointsB, int32_t count, float morph);
  // Points the cursor at fresh copies of the same curves; the walk goes on where it is.
  void repoint(const float* pointsA, const float* pointsB);

  float rowAt(float t) { return cursor.integralBlend(t, morph); }
};
