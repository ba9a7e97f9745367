#pragma once

#include <cstdint>

// A blob's curves are increasing lists of knot positions. These tools convert between such
// knot lists and densities.
//
// KnotIntegrator walks the knots segment by segment for increasing positions t and returns a
// smooth rational-quadratic running integral F(t) that rises by about 1 per knot, so that
// differences of F over a grid give a knot density per bin. The first knot is taken to lie at
// 0: F is 0 before it. Past the last knot F keeps growing with the last segment's shape.
//
// The blending form integrates over widths blended between two knot lists of equal length
// (knots = list A, knotsB = list B); a voice keeps one integrator per curve as its cursor. The
// list pointers may be re-pointed between calls (to a fresh copy of the same curves): the walk
// goes on from where it is.
//
// integral, integralBlend and resampleKnotDensity never allocate (they run on the audio thread).
// knotsFromDensity, transposeTable and intersectKnotGrids are for the analysis side.
struct KnotIntegrator {
  // Widths below this (coinciding or out-of-order knots) are taken as this, so every segment
  // has a finite density.
  static constexpr float kMinWidth = 1e-9f;

  const float* knots = nullptr;   // knot positions, increasing (list A)
  const float* knotsB = nullptr;  // second list, read only by integralBlend
  int32_t count = 0;              // number of knots n
  int32_t segment = -1;           // current segment; -1 before the first knot
  float a = 0.0f;                 // density at the start of the current segment
  float b = 1.0f;                 // density at its end
  float c = 0.0f;                 // linear correction term (width·c + a: the mean density)
  float d = 0.0f;                 // rational shape term
  float width = 1.0f;             // width of the current segment
  float prevWidth = 1.0f;
  float nextWidth = 1.0f;
  float mean = 0.0f;    // the current segment's mean density, made when the segment is entered
  float base = 0.0f;    // F at the start of the current segment
  float start = -1.0f;  // position of the start of the current segment

  // Starting state for one knot list: the virtual segment before the first knot, as wide as
  // the first gap, so the first advance starts segment 0 at position 0. Fewer than two knots
  // give an integrator whose F is always 0.
  void init(const float* knotList, int32_t n);

  // Starting state for the blending form, the first gap blended with morph m (0 = A, 1 = B).
  void initBlend(const float* listA, const float* listB, int32_t n, float m);

  // F(t); t must not decrease between calls (a t before the current segment counts as its
  // start, so F never runs backwards through an earlier segment).
  float integral(float t);

  // F(t) over widths blended between the two lists: m = 0 is list A, m = 1 list B. Its rise
  // within one segment is capped at 2 (the rational form's denominator is held at no less than
  // half its numerator), so past the last knot F rises by at most 2 more.
  float integralBlend(float t, float m);
};

// out[i] = (F(t0 + (i + 1)·step) - F(t0 + i·step))·scale for i = 0..bins - 1, F over the knots
// as KnotIntegrator::init starts it. Fewer than two knots give zeros.
void resampleKnotDensity(const float* knots, int32_t n, float* out, int32_t bins, float scale, float t0,
                         float step);

// Places m knots so that equal shares of the density's mass lie between neighbours; the
// density has n cells of width 1 on 0..n and the last knot is n. share = 0 computes the
// share from the mass. Returns the share; m < 2 or n < 1 are refused (knots untouched, 0).
float knotsFromDensity(const float* density, int32_t n, float* knots, int32_t m, float share);

// dst (cols × rows) = src (rows × cols) with rows and columns exchanged; both row-major, not
// overlapping.
void transposeTable(const float* src, int32_t rows, int32_t cols, float* dst);

// From tables a and b (rows × cols each, row-major): family 1 places p knots down every column
// of a, family 2 places q knots along every row of b, and for each pair (i, j) the crossing of
// curve i of family 1 with curve j of family 2 is stored as y[i·q + j] (row position) and
// x[i·q + j] (column position). Tables smaller than 2 × 2 or fewer than 2 knots per family are
// refused: the outputs are zeroed and false is returned.
bool intersectKnotGrids(const float* a, const float* b, int32_t rows, int32_t cols, float* y, float* x,
                        int32_t p, int32_t q);
