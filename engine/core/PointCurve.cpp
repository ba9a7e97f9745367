#include "engine/core/PointCurve.h"

#include <atomic>
#include <cmath>

#include "engine/core/ByteStream.h"
#include "engine/core/ShapeCurve.h"
#include "platform/RuntimeRandom.h"

namespace {

// Keeps a zero-width segment (two points on one x) from dividing by zero.
constexpr float kWidthFloor = 1e-20f;

// The audio thread reads count and the coordinates while the editor writes them; relaxed
// atomic access makes that well defined and costs nothing over a plain load or store.
float loadRelaxed(const float& f) {
  return std::atomic_ref<float>(const_cast<float&>(f)).load(std::memory_order_relaxed);
}

int32_t loadRelaxed(const int32_t& v) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(v)).load(std::memory_order_relaxed);
}

float clampUnit(float v, float lo, float hi) {
  if (!std::isfinite(v)) return 0.0f;
  return v < lo ? lo : (v > hi ? hi : v);
}

// Values from the editor or from a file: non-finite ones become 0, the rest their range.
CurvePoint sanitize(CurvePoint p) {
  return {clampUnit(p.x, 0.0f, 1.0f), clampUnit(p.y, 0.0f, 1.0f), clampUnit(p.curve, -1.0f, 1.0f)};
}

float randomUnit() { return static_cast<float>(crtRand()) / static_cast<float>(kCrtRandMax); }

}  // namespace

PointCurve::PointCurve(int32_t maxPoints) {
  // Fewer than two points cannot describe a curve; the room is raised so the start shape fits.
  const int32_t room = maxPoints < 2 ? 2 : maxPoints;
  points.assign(static_cast<size_t>(room) + 1, CurvePoint{});
  count = room < 3 ? room : 3;
  points[0] = {0.0f, 0.0f, 0.0f};
  const float bend = randomUnit();  // drawn first
  const float where = randomUnit();
  points[1] = {0.1f + 0.8f * where, 1.0f, 0.2f * (bend - 0.5f)};
  points[static_cast<size_t>(count) - 1] = {1.0f, points[0].y, 0.0f};
  updateEndPoint();
}

float PointCurve::evaluate(float t, float* y) const {
  int32_t n = loadRelaxed(count);
  const int32_t room = maxPoints();
  if (n > room) n = room;
  if (n < 2) {
    if (y != nullptr) *y = loadRelaxed(points[0].y);
    return 0.0f;
  }
  if (!(t >= 0.0f)) t = 0.0f;  // also a NaN
  if (t > 1.0f) t = 1.0f;

  int32_t i = 1;
  while (i < n && loadRelaxed(points[static_cast<size_t>(i)].x) < t) ++i;
  const CurvePoint& a = points[static_cast<size_t>(i) - 1];
  const CurvePoint& b = points[static_cast<size_t>(i)];
  const float ax = loadRelaxed(a.x);
  float u = (t - ax) / (std::fabs(loadRelaxed(b.x) - ax) + kWidthFloor);
  // Only a damaged or half-edited curve puts t outside its segment; holding u to the segment
  // keeps the bend finite.
  if (!(u >= 0.0f)) u = 0.0f;
  if (u > 1.0f) u = 1.0f;
  if (y != nullptr) {
    const float ay = loadRelaxed(a.y);
    *y = ay + shapeCurve(u, loadRelaxed(a.curve)) * (loadRelaxed(b.y) - ay);
  }
  return static_cast<float>(i - 1) + u;
}

void PointCurve::insertPoint(CurvePoint p) {
  p = sanitize(p);
  int32_t index = 0;
  while (index < count && points[static_cast<size_t>(index)].x < p.x) ++index;
  const int32_t room = maxPoints();
  const int32_t newCount = count + 1 < room ? count + 1 : room;
  // A full curve drops its last point; the closing point is rebuilt by setPoint.
  for (int32_t j = newCount - 1; j > index; --j) storePoint(j, points[static_cast<size_t>(j) - 1]);
  storeCount(newCount);
  setPoint(index, p);
}

void PointCurve::removePoint(int32_t index) {
  if (index < 0 || index >= count) return;
  const int32_t newCount = count - 1;
  for (int32_t j = index; j <= newCount; ++j) storePoint(j, points[static_cast<size_t>(j) + 1]);
  storeCount(newCount);
  // The first point always sits at x = 0, also when its predecessor was removed.
  if (index == 0 && newCount > 0) {
    CurvePoint first = points[0];
    first.x = 0.0f;
    storePoint(0, first);
  }
  updateEndPoint();
}

void PointCurve::setPoint(int32_t index, CurvePoint p) {
  if (index < 0 || index > count) return;
  p = sanitize(p);
  const size_t i = static_cast<size_t>(index);
  float x = p.x;
  if (index > 0 && x < points[i - 1].x + kMinSpacing) x = points[i - 1].x + kMinSpacing;
  if (index < count - 1 && x > points[i + 1].x - kMinSpacing) x = points[i + 1].x - kMinSpacing;
  if (loopMode != 0 && index == count - 1 && x > kLoopLastMaxX) x = kLoopLastMaxX;
  if (index == 0) x = 0.0f;
  p.x = x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x);
  storePoint(index, p);
  updateEndPoint();
}

void PointCurve::updateEndPoint() {
  int32_t n = count;
  const int32_t room = maxPoints();
  if (n > room) n = room;
  if (n <= 0) {
    storePoint(0, {0.0f, emptyY, 0.0f});
  } else {
    const float y = loopMode != 0 ? points[0].y : points[static_cast<size_t>(n) - 1].y;
    storePoint(n, {1.0f, y, 0.0f});
  }
  dirty = 1;
}

int32_t PointCurve::serialize(uint8_t* buffer, int32_t* pos, int32_t size, bool omitCount) const {
  const int32_t start = *pos;
  if (!omitCount) streamWriteInt(buffer, pos, size, count, 1);
  for (int32_t i = 0; i < count; ++i) {
    const CurvePoint& p = points[static_cast<size_t>(i)];
    streamWriteFloat(buffer, pos, size, p.x);
    streamWriteFloat(buffer, pos, size, p.y);
    streamWriteFloat(buffer, pos, size, p.curve);
  }
  return *pos - start;
}

int32_t PointCurve::deserialize(const uint8_t* buffer, int32_t* pos, int32_t size, bool keepCount) {
  const int32_t start = *pos;
  const int32_t stored = keepCount ? count : streamReadInt(buffer, pos, size, 1, 0);
  const int32_t room = maxPoints();
  const int32_t n = stored < 0 ? 0 : (stored > room ? room : stored);
  for (int32_t i = 0; i < n; ++i) {
    CurvePoint p;
    p.x = streamReadFloat(buffer, pos, size);
    p.y = streamReadFloat(buffer, pos, size);
    p.curve = streamReadFloat(buffer, pos, size);
    storePoint(i, sanitize(p));
  }
  // Points beyond the room are stepped over, not left for the next field to misread.
  for (int32_t i = n; i < stored; ++i) {
    for (int32_t k = 0; k < kPointBytes / 4; ++k) streamReadFloat(buffer, pos, size);
  }
  storeCount(n);
  updateEndPoint();
  dirty = 1;
  return *pos - start;
}

void PointCurve::storePoint(int32_t index, CurvePoint p) {
  CurvePoint& q = points[static_cast<size_t>(index)];
  std::atomic_ref<float>(q.x).store(p.x, std::memory_order_relaxed);
  std::atomic_ref<float>(q.y).store(p.y, std::memory_order_relaxed);
  std::atomic_ref<float>(q.curve).store(p.curve, std::memory_order_relaxed);
}

void PointCurve::storeCount(int32_t n) {
  std::atomic_ref<int32_t>(count).store(n, std::memory_order_relaxed);
}
