// The editor's paint tools on a blob: finding the mesh node under a point, pulling nodes
// towards or pushing them away from it, dragging them, and taking another blob's points.
#include "engine/blob/Blob.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t kLocateIterations = 10;
constexpr float kLocateTolerance = 0.001f;
// A radius this large (10 in normalised units) switches an axis off.
constexpr float kTimeRadiusOff = 960.0f;
constexpr float kFrequencyRadiusOff = 800.0f;
constexpr float kDragThreshold = 0.0001f;

// Zero at both ends of a curve and largest in its middle, so end points never move.
float edgeTaper(float s) { return (1.0f - s) * s / (s + 0.1f) / (1.1f - s); }

// A NaN or infinite position or amount would spread NaN over the curves: such an edit is
// dropped. Radii may be huge (that switches an axis off) but not NaN.
bool editInputUsable(float x, float y, float radiusX, float radiusY, float amount) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(amount) && !std::isnan(radiusX) &&
         !std::isnan(radiusY);
}

}  // namespace

void copyGridValues(FloatGrid& destination, const FloatGrid& source) {
  const size_t curves = std::min(destination.size(), source.size());
  for (size_t k = 0; k < curves; ++k) {
    const size_t points = std::min(destination[k].size(), source[k].size());
    std::copy_n(source[k].begin(), points, destination[k].begin());
  }
}

void Blob::locate(float frequency, float time, float& column, float& row, int32_t maxIterations) const {
  const float columns = static_cast<float>(kMeshColumns);
  const float rows = static_cast<float>(kMeshRows);
  float c = frequency * columns / kFrequencyRange;
  float r = time * rows / kTimeRange;
  const float toCurve = 1.0f / static_cast<float>(kCurveSpacing);
  for (int32_t i = 0; i < maxIterations; ++i) {
    const float f = sampleGridBilinear(gridB, r * toCurve, c);
    const float t = sampleGridBilinear(gridA, c * toCurve, r);
    const float dc = (frequency - f) * columns / kFrequencyRange;
    const float dr = (time - t) * rows / kTimeRange;
    c += dc;
    r += dr;
    if (std::fabs(dc) + std::fabs(dr) < kLocateTolerance) break;
  }
  column = c;
  row = r;
}

// Walks the inner points of the time curves (when editTime) and then of the frequency curves
// (when editFrequency) and moves each by update(value, pointer coordinate on the curve's axis,
// falloff, taper, whether it is a time curve).
// The falloff is 1 at the pointer and shrinks with the distance in units of the radius: along
// the curve's own axis by the point's distance, across it by the nearer of the curve's mesh
// distance (squared) and its picture distance.
template <typename Update>
void Blob::editNear(float frequency, float time, float radiusF, float radiusT, bool editTime,
                    bool editFrequency, Update update) {
  float column = 0.0f;
  float row = 0.0f;
  locate(frequency, time, column, row, kLocateIterations);
  const float toCurve = 1.0f / static_cast<float>(kCurveSpacing);
  const float cu = column * toCurve;
  const float rv = row * toCurve;
  const float kf = 1.0f / (radiusF + 1e-9f);
  const float kt = 1.0f / (radiusT + 1e-9f);

  // One pass over the inner points of a grid's curves. A point's position across its curve
  // comes from the other grid (linear between that grid's curves at the point's mesh line).
  const auto pass = [&](FloatGrid& curves, const FloatGrid& cross, float meshPosition, float centre,
                        float kAlong, float crossCentre, float kAcross, bool timeCurves) {
    const int32_t lastCross = static_cast<int32_t>(cross.size()) - 2;
    for (size_t k = 0; k < curves.size(); ++k) {
      std::vector<float>& p = curves[k];
      const int32_t n = static_cast<int32_t>(p.size());
      const size_t node = k * kCurveSpacing;
      const float across = meshPosition - static_cast<float>(k);
      for (int32_t i = 1; i < n - 1; ++i) {
        const float pos = static_cast<float>(i) * toCurve;
        const int32_t m = std::min(static_cast<int32_t>(pos), lastCross);
        const float u = pos - static_cast<float>(m);
        const float crossValue = (1.0f - u) * cross[m][node] + u * cross[m + 1][node];
        const float a = std::min(across * across, std::fabs((crossValue - crossCentre) * kAcross));
        const float b = (p[i] - centre) * kAlong;
        const float taper = edgeTaper(static_cast<float>(i) / static_cast<float>(n - 1));
        p[i] = update(p[i], centre, a * a + b * b + 1.0f, taper, timeCurves);
      }
    }
  };
  // The time curves go first; the frequency pass then sees the edited time curves.
  if (editTime) pass(gridA, gridB, cu, time, kt, frequency, kf, true);
  if (editFrequency) pass(gridB, gridA, rv, frequency, kf, time, kt, false);
}

void Blob::attract(float x, float y, float radiusX, float radiusY, float strength) {
  if (!editInputUsable(x, y, radiusX, radiusY, strength)) return;
  const float radiusF = radiusX * kFrequencyRange;
  const float radiusT = radiusY * kTimeRange;
  editNear(x * kFrequencyRange, y * kTimeRange, radiusF, radiusT, radiusT < kTimeRadiusOff,
           radiusF < kFrequencyRadiusOff, [strength](float v, float centre, float falloff, float taper, bool) {
             return v + taper * (-strength * (v - centre)) / falloff;
           });
  modified += 1;
  refresh();
}

void Blob::drag(float x, float y, float dx, float dy, float radiusX, float radiusY) {
  if (!editInputUsable(x, y, radiusX, radiusY, dx) || !std::isfinite(dy)) return;
  const float moveF = dx * kFrequencyRange;
  const float moveT = dy * kTimeRange;
  const bool editTime = std::fabs(moveT) > kDragThreshold;
  const bool editFrequency = std::fabs(moveF) > kDragThreshold;
  editNear(x * kFrequencyRange, y * kTimeRange, radiusX * kFrequencyRange, radiusY * kTimeRange,
           editTime, editFrequency, [moveF, moveT](float v, float, float falloff, float taper, bool timeCurve) {
             return v + taper * (timeCurve ? moveT : moveF) * 0.5f / falloff;
           });
  modified += 1;
  refresh();
}

void Blob::assign(const Blob& source, bool withName) {
  copyGridValues(gridB, source.gridB);
  copyGridValues(gridA, source.gridA);
  energy = source.energy;
  tailPosition = source.tailPosition;
  activePoints = source.activePoints;
  decayHalfLife = source.decayHalfLife;
  if (withName) {
    name = source.name;
    present = source.present;
    modified = source.modified;
  }
  revision += 1;
}
