#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/FloatGrid.h"

// Numeric stages from which the sound analysis builds a blob, and which the blob map reuses.
// Everything works in float32 on the caller's data and keeps no state between calls. An axis
// argument of 0 means "down the columns", anything else "along the rows".

// y := x smoothed by a one-pole of the given pole, run forwards and then backwards, `passes`
// times (every pass restarts from x[0]). With passes below 1 y is only resized. x and y may be
// the same list.
void smoothTwoWay(const std::vector<float>& x, std::vector<float>& y, float pole, int32_t passes);

// Subtracts a smoothed floor from a spectrum of powers and scales each value by the square of
// its gain; when complexBins is given (2 floats per power), each bin is scaled by the gain.
void spectralFloorGate(std::vector<float>& powers, float* complexBins = nullptr);

// Sum of all elements over (first row length x row count); 0 for an empty grid.
float gridMean(const FloatGrid& grid);

// Axis 0: one sum per column (the first row's length); otherwise one sum per row.
std::vector<float>& gridSums(std::vector<float>& out, const FloatGrid& grid, int32_t axis);

void scaleGrid(FloatGrid& grid, float factor);

// Solves, along every row (axis not 0) or down every column (axis 0), the chain system
//   W[i] x[i] + sum over the chain neighbours n of (x[i] - x[n]) = V[i]
// by one elimination sweep and one back substitution. x is written to `out` (V's shape).
void solveAlongAxis(const FloatGrid& v, const FloatGrid& w, FloatGrid& out, int32_t axis);

// Factorises the picture into two smooth non-negative factors, picture ~ p1 * p2 elementwise,
// p1 smooth down the columns and p2 along the rows, by alternating chain solves (5 to 20
// rounds). The picture is rescaled while working and restored before the return. Returns the
// last cost. A picture whose total is not positive gives zero factors and 0. `rounds`, when
// given, receives the number of rounds run.
float decomposePicture(FloatGrid& picture, FloatGrid& p1, FloatGrid& p2, float smoothness,
                       int32_t* rounds = nullptr);

// Reduces n weighted values to K = (n - 1 + spacing) / spacing knots, one every `spacing`
// values, by a tent-weighted first guess and a regularised least-squares correction of the
// piecewise-linear fit. Returns `knots`.
std::vector<float>& fitKnots(std::vector<float>& knots, const std::vector<float>& values,
                             const std::vector<float>& weights, int32_t spacing, float smoothing);

// Makes the list rise by at least `gap` per step, meeting a forward and a backward sweep
// halfway. The last value stays.
void monotoneSpacing(std::vector<float>& points, float gap);

// Per point of every curve: how much denser than a straight ramp the curve is there (points per
// unit, less 7/17 of the ramp's density, at least 0), then smeared along the curve over
// `length` units when length > 0. `out` takes the curves' shape. Returns `out`.
FloatGrid& curveDensity(FloatGrid& out, const FloatGrid& curves, float length);

// A smooth sample of one column at a fractional row: a three-row bell kernel around the nearest
// row, normalised by its weights.
float kernelSampleColumn(const FloatGrid& grid, float row, int32_t column);
