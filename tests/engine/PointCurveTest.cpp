#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "engine/ByteStream.h"
#include "engine/PointCurve.h"
#include "engine/ShapeCurve.h"
#include "platform/RuntimeRandom.h"
#include "support/AllocationCounter.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The bytes of a stored curve: a count byte (unless omitted) and x, y, curve per point.
std::vector<uint8_t> curveBytes(const std::vector<CurvePoint>& pts, int storedCount = -1) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(storedCount < 0 ? pts.size() : storedCount));
  for (const CurvePoint& p : pts) {
    for (float f : {p.x, p.y, p.curve}) {
      uint8_t b[4];
      std::memcpy(b, &f, 4);
      out.insert(out.end(), b, b + 4);
    }
  }
  return out;
}

void load(PointCurve& c, const std::vector<CurvePoint>& pts) {
  const std::vector<uint8_t> bytes = curveBytes(pts);
  int32_t pos = 0;
  c.deserialize(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), false);
  ASSERT_EQ(c.count, static_cast<int32_t>(pts.size()));
}

// Independent reference of the bend in double precision.
double shapeReference(double u, double c) {
  const double k = std::max(-1.0, std::min(1.0, 2.0 * c));
  const double d = 2.0 * c - k;
  const double w = ((1.0 - u) * k + 1.0) * u;
  return (d + 1.02) * w / ((2.0 * w - 1.0) * d + 1.02);
}

// The Windows runtime generator, computed here on its own.
struct CrtModel {
  uint32_t x;
  int next() {
    x = x * 214013u + 2531011u;
    return static_cast<int>((x >> 16) & 0x7FFF);
  }
};

void expectPoint(const CurvePoint& p, float x, float y, float c) {
  EXPECT_FLOAT_EQ(p.x, x);
  EXPECT_FLOAT_EQ(p.y, y);
  EXPECT_FLOAT_EQ(p.curve, c);
}

}  // namespace

TEST(ShapeCurve, EndpointsMonotoneFiniteAndMatchingReference) {
  for (float c : {-1.0f, -0.75f, 0.0f, 0.5f, 1.0f}) {
    EXPECT_NEAR(shapeCurve(0.0f, c), 0.0f, 1e-6f) << c;
    EXPECT_NEAR(shapeCurve(1.0f, c), 1.0f, 1e-6f) << c;
    float previous = -1.0f;
    for (int i = 0; i <= 1000; ++i) {
      const float u = static_cast<float>(i) / 1000.0f;
      const float v = shapeCurve(u, c);
      ASSERT_TRUE(std::isfinite(v)) << c << " " << u;
      ASSERT_GE(v, previous - 1e-6f) << c << " " << u;
      ASSERT_NEAR(v, shapeReference(u, c), 2e-5) << c << " " << u;
      previous = v;
    }
  }
  // Up to half a bend the shape is the plain quadratic u + 2c u (1 - u).
  EXPECT_NEAR(shapeCurve(0.25f, 0.25f), 0.25 + 0.5 * 0.25 * 0.75, 1e-6);
  EXPECT_FLOAT_EQ(shapeCurve(0.3f, 0.0f), 0.3f);
  // Positive bends rise early, negative ones late.
  EXPECT_GT(shapeCurve(0.5f, 1.0f), 0.99f);
  EXPECT_LT(shapeCurve(0.5f, -1.0f), 0.01f);
}

TEST(PointCurve, ConstructorDrawsTheRuntimeGenerator) {
  crtSrand(4242);
  CrtModel model{4242};
  const float bend = static_cast<float>(model.next()) / 32767.0f;
  const float where = static_cast<float>(model.next()) / 32767.0f;

  PointCurve c(64);
  EXPECT_EQ(c.maxPoints(), 64);
  EXPECT_EQ(c.points.size(), 65u);
  EXPECT_EQ(c.count, 3);
  EXPECT_EQ(c.loopMode, 0);
  EXPECT_EQ(c.dirty, 1);
  EXPECT_FLOAT_EQ(c.emptyY, 0.5f);
  expectPoint(c.points[0], 0.0f, 0.0f, 0.0f);
  expectPoint(c.points[1], 0.1f + 0.8f * where, 1.0f, 0.2f * (bend - 0.5f));
  expectPoint(c.points[2], 1.0f, 0.0f, 0.0f);
  expectPoint(c.points[3], 1.0f, 0.0f, 0.0f);  // the closing point
  EXPECT_GE(c.points[1].x, 0.1f);
  EXPECT_LE(c.points[1].x, 0.9f);

  // A two-point curve still draws twice, then overwrites its second point.
  PointCurve two(2);
  model.next();
  model.next();
  EXPECT_EQ(two.count, 2);
  expectPoint(two.points[0], 0.0f, 0.0f, 0.0f);
  expectPoint(two.points[1], 1.0f, 0.0f, 0.0f);
  EXPECT_EQ(crtRand(), model.next());

  // Less room than two points is raised to two.
  for (int room : {1, 0, -7}) {
    PointCurve small(room);
    EXPECT_EQ(small.maxPoints(), 2);
    EXPECT_EQ(small.count, 2);
    EXPECT_FLOAT_EQ(small.points[1].x, 1.0f);
  }
}

TEST(PointCurve, EvaluateLinearBentAndDegenerate) {
  PointCurve c(2);
  c.setPoint(1, {1.0f, 1.0f, 0.0f});  // the engine's velocity curve: y = t
  for (int i = 0; i <= 20; ++i) {
    const float t = static_cast<float>(i) / 20.0f;
    float y = -1.0f;
    EXPECT_FLOAT_EQ(c.evaluate(t, &y), t);
    EXPECT_FLOAT_EQ(y, t);
  }
  float y = 0.0f;
  EXPECT_FLOAT_EQ(c.evaluate(0.25f, nullptr), 0.25f);
  c.setPoint(0, {0.0f, 0.0f, 0.5f});
  EXPECT_FLOAT_EQ(c.evaluate(0.25f, &y), 0.25f);
  EXPECT_FLOAT_EQ(y, 0.4375f);  // w = (0.75 + 1) * 0.25

  // Outside 0..1 the curve holds its ends; a NaN time is the start.
  c.evaluate(-3.0f, &y);
  EXPECT_FLOAT_EQ(y, 0.0f);
  c.evaluate(7.0f, &y);
  EXPECT_FLOAT_EQ(y, 1.0f);
  EXPECT_FLOAT_EQ(c.evaluate(kNaN, &y), 0.0f);
  EXPECT_FLOAT_EQ(y, 0.0f);

  // Three points: the position counts segments.
  PointCurve tri(8);
  load(tri, {{0.0f, 0.0f, 0.0f}, {0.5f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}});
  EXPECT_FLOAT_EQ(tri.evaluate(0.75f, &y), 1.5f);
  EXPECT_FLOAT_EQ(y, 0.5f);

  // Fewer than two points: point 0's y, position 0.
  PointCurve one(8);
  load(one, {{0.0f, 0.8f, 0.0f}});
  EXPECT_FLOAT_EQ(one.evaluate(0.6f, &y), 0.0f);
  EXPECT_FLOAT_EQ(y, 0.8f);

  // Reading never marks the curve dirty.
  c.dirty = 0;
  c.evaluate(0.5f, &y);
  EXPECT_EQ(c.dirty, 0);
}

TEST(PointCurve, LoopModeClosesOnTheFirstPoint) {
  PointCurve c(8);
  load(c, {{0.0f, 0.2f, 0.0f}, {0.5f, 0.9f, 0.0f}});
  float y = 0.0f;
  c.evaluate(1.0f, &y);
  EXPECT_FLOAT_EQ(y, 0.9f);  // closes on the last point's y
  c.loopMode = 1;
  c.updateEndPoint();
  c.evaluate(1.0f, &y);
  EXPECT_FLOAT_EQ(y, 0.2f);
  expectPoint(c.points[2], 1.0f, 0.2f, 0.0f);
}

TEST(PointCurve, SetPointKeepsSpacingAndRanges) {
  PointCurve c(8);
  load(c, {{0.0f, 0.0f, 0.0f}, {0.5f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}});
  c.dirty = 0;
  c.setPoint(1, {0.001f, 0.5f, 0.0f});
  EXPECT_FLOAT_EQ(c.points[1].x, 0.01f);
  EXPECT_EQ(c.dirty, 1);
  c.setPoint(1, {0.999f, 0.5f, 0.0f});
  EXPECT_FLOAT_EQ(c.points[1].x, 1.0f - 0.01f);
  c.setPoint(0, {0.4f, 0.3f, 0.0f});
  EXPECT_FLOAT_EQ(c.points[0].x, 0.0f);  // the first point stays at 0

  // The last point may reach 1 unless the shape loops, where it stops at 0.99.
  c.setPoint(2, {1.0f, 0.6f, 0.0f});
  EXPECT_FLOAT_EQ(c.points[2].x, 1.0f);
  c.loopMode = 1;
  c.setPoint(2, {1.0f, 0.6f, 0.0f});
  EXPECT_FLOAT_EQ(c.points[2].x, 0.99f);
  expectPoint(c.points[3], 1.0f, c.points[0].y, 0.0f);

  // Values beyond their ranges are held to them: a bend beyond +-1 could divide by zero.
  c.setPoint(1, {0.5f, 4.0f, 3.0f});
  EXPECT_FLOAT_EQ(c.points[1].y, 1.0f);
  EXPECT_FLOAT_EQ(c.points[1].curve, 1.0f);
  c.setPoint(1, {0.5f, -2.0f, -9.0f});
  EXPECT_FLOAT_EQ(c.points[1].y, 0.0f);
  EXPECT_FLOAT_EQ(c.points[1].curve, -1.0f);
  c.setPoint(1, {kNaN, kInf, kNaN});
  EXPECT_TRUE(std::isfinite(c.points[1].x));
  EXPECT_FLOAT_EQ(c.points[1].y, 0.0f);
  EXPECT_FLOAT_EQ(c.points[1].curve, 0.0f);
  for (int i = 0; i <= 100; ++i) {
    float y = 0.0f;
    c.evaluate(static_cast<float>(i) / 100.0f, &y);
    ASSERT_TRUE(std::isfinite(y));
  }

  // Out of range indices change nothing.
  const std::vector<CurvePoint> before = c.points;
  c.setPoint(-1, {0.3f, 0.3f, 0.0f});
  c.setPoint(c.count + 1, {0.3f, 0.3f, 0.0f});
  for (size_t i = 0; i < before.size(); ++i) EXPECT_FLOAT_EQ(c.points[i].x, before[i].x);
}

TEST(PointCurve, EditingAFullCurve) {
  // 64 points: 0..0.31 in steps of 0.01, then 0.5..0.81, leaving a gap to insert into.
  std::vector<CurvePoint> pts;
  for (int i = 0; i < 64; ++i) {
    const float x = i < 32 ? 0.01f * static_cast<float>(i) : 0.5f + 0.01f * static_cast<float>(i - 32);
    pts.push_back({x, static_cast<float>(i) / 64.0f, 0.0f});
  }
  PointCurve c(64);
  load(c, pts);

  c.insertPoint({0.4f, 0.9f, 0.25f});
  ASSERT_EQ(c.count, 64);
  for (int i = 0; i < 32; ++i) EXPECT_FLOAT_EQ(c.points[static_cast<size_t>(i)].x, pts[static_cast<size_t>(i)].x);
  expectPoint(c.points[32], 0.4f, 0.9f, 0.25f);
  // The rest moved one place right and the old last point fell off.
  for (int i = 33; i < 64; ++i) EXPECT_FLOAT_EQ(c.points[static_cast<size_t>(i)].x, pts[static_cast<size_t>(i) - 1].x);
  expectPoint(c.points[64], 1.0f, pts[62].y, 0.0f);

  // Past every point of a full curve there is no place left: nothing changes.
  c.insertPoint({0.95f, 0.1f, 0.0f});
  ASSERT_EQ(c.count, 64);
  EXPECT_FLOAT_EQ(c.points[63].x, pts[62].x);
  expectPoint(c.points[64], 1.0f, pts[62].y, 0.0f);

  // Inserting at or before 0 puts the new point first, at x = 0.
  PointCurve d(8);
  load(d, {{0.0f, 0.2f, 0.0f}, {0.5f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}});
  d.insertPoint({-0.3f, 0.7f, 0.0f});
  EXPECT_EQ(d.count, 4);
  expectPoint(d.points[0], 0.0f, 0.7f, 0.0f);
  EXPECT_FLOAT_EQ(d.points[1].y, 0.2f);
  float y = 0.0f;
  d.evaluate(0.0f, &y);
  EXPECT_TRUE(std::isfinite(y));
  // An ordinary insert lands between its neighbours.
  d.insertPoint({0.75f, 0.4f, 0.0f});
  EXPECT_EQ(d.count, 5);
  EXPECT_FLOAT_EQ(d.points[3].x, 0.75f);
  EXPECT_FLOAT_EQ(d.points[4].x, 1.0f);
}

TEST(PointCurve, RemovingDownToNothing) {
  PointCurve c(8);
  load(c, {{0.0f, 0.2f, 0.1f}, {0.3f, 0.6f, 0.0f}, {1.0f, 0.9f, 0.0f}});
  c.removePoint(0);
  EXPECT_EQ(c.count, 2);
  expectPoint(c.points[0], 0.0f, 0.6f, 0.0f);  // the new first point moves to x = 0
  expectPoint(c.points[2], 1.0f, 0.9f, 0.0f);
  c.removePoint(5);
  c.removePoint(-1);
  c.removePoint(2);  // the closing point is not a point in use
  EXPECT_EQ(c.count, 2);
  c.removePoint(1);
  c.removePoint(0);
  EXPECT_EQ(c.count, 0);
  expectPoint(c.points[0], 0.0f, 0.5f, 0.0f);
  c.removePoint(0);
  EXPECT_EQ(c.count, 0);
  float y = 0.0f;
  EXPECT_FLOAT_EQ(c.evaluate(0.7f, &y), 0.0f);
  EXPECT_FLOAT_EQ(y, 0.5f);
  // And it can grow again.
  c.insertPoint({0.0f, 0.3f, 0.0f});
  c.insertPoint({0.6f, 0.8f, 0.0f});
  EXPECT_EQ(c.count, 2);
  c.evaluate(0.3f, &y);
  EXPECT_NEAR(y, 0.3f + 0.5f * 0.5f, 1e-6f);
}

TEST(PointCurve, SerializeRoundTripAndLayout) {
  PointCurve a(16);
  load(a, {{0.0f, 0.25f, -0.5f}, {0.125f, 1.0f, 0.75f}, {0.625f, 0.5f, 0.0f}, {1.0f, 0.0f, 1.0f}});

  int32_t pos = 0;
  const int32_t measured = a.serialize(nullptr, &pos, 0, false);
  EXPECT_EQ(measured, 1 + 4 * 12);
  EXPECT_EQ(pos, measured);
  std::vector<uint8_t> bytes(static_cast<size_t>(measured));
  pos = 0;
  EXPECT_EQ(a.serialize(bytes.data(), &pos, measured, false), measured);
  EXPECT_EQ(bytes, curveBytes({{0.0f, 0.25f, -0.5f}, {0.125f, 1.0f, 0.75f}, {0.625f, 0.5f, 0.0f}, {1.0f, 0.0f, 1.0f}}));

  PointCurve b(16);
  pos = 0;
  EXPECT_EQ(b.deserialize(bytes.data(), &pos, measured, false), measured);
  ASSERT_EQ(b.count, 4);
  for (int i = 0; i < 5; ++i) {
    EXPECT_FLOAT_EQ(b.points[static_cast<size_t>(i)].x, a.points[static_cast<size_t>(i)].x);
    EXPECT_FLOAT_EQ(b.points[static_cast<size_t>(i)].y, a.points[static_cast<size_t>(i)].y);
    EXPECT_FLOAT_EQ(b.points[static_cast<size_t>(i)].curve, a.points[static_cast<size_t>(i)].curve);
  }

  // Without the count byte, the reader keeps its own count.
  pos = 0;
  std::vector<uint8_t> noCount(48);
  EXPECT_EQ(a.serialize(noCount.data(), &pos, 48, true), 48);
  EXPECT_TRUE(std::equal(noCount.begin(), noCount.end(), bytes.begin() + 1));
  PointCurve c(16);
  load(c, {{0.0f, 0.0f, 0.0f}, {0.2f, 0.0f, 0.0f}, {0.4f, 0.0f, 0.0f}, {0.6f, 0.0f, 0.0f}});
  c.dirty = 0;
  pos = 0;
  EXPECT_EQ(c.deserialize(noCount.data(), &pos, 48, true), 48);
  EXPECT_EQ(c.dirty, 1);
  EXPECT_FLOAT_EQ(c.points[1].curve, 0.75f);

  // A truncated stream reads zeros for what is missing and still moves past it.
  PointCurve d(16);
  pos = 0;
  EXPECT_EQ(d.deserialize(bytes.data(), &pos, 20, false), measured);
  EXPECT_EQ(d.count, 4);
  EXPECT_FLOAT_EQ(d.points[3].x, 0.0f);
}

TEST(PointCurve, StoredCountBeyondTheRoomKeepsTheStreamInStep) {
  std::vector<CurvePoint> pts;
  for (int i = 0; i < 5; ++i) pts.push_back({0.2f * static_cast<float>(i), 0.1f * static_cast<float>(i), 0.0f});
  std::vector<uint8_t> bytes = curveBytes(pts);
  const int32_t marker = 0x5A17C0DE;
  int32_t pos = static_cast<int32_t>(bytes.size());
  bytes.resize(bytes.size() + 4);
  streamWriteInt(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), marker, 4);

  PointCurve c(2);
  pos = 0;
  EXPECT_EQ(c.deserialize(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), false), 1 + 5 * 12);
  EXPECT_EQ(c.count, 2);
  EXPECT_FLOAT_EQ(c.points[1].x, 0.2f);
  EXPECT_FLOAT_EQ(c.points[2].y, 0.1f);  // closed on the last point that fits
  EXPECT_EQ(streamReadInt(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), 4, 0), marker);

  // 255 points into the engine's 64-point room.
  std::vector<CurvePoint> many(255, CurvePoint{0.5f, 0.5f, 0.0f});
  std::vector<uint8_t> big = curveBytes(many);
  big.push_back(0x77);
  PointCurve lfo(64);
  pos = 0;
  lfo.deserialize(big.data(), &pos, static_cast<int32_t>(big.size()), false);
  EXPECT_EQ(lfo.count, 64);
  EXPECT_EQ(big[static_cast<size_t>(pos)], 0x77);
}

TEST(PointCurve, DamagedBytesGiveFinitePoints) {
  PointCurve c(8);
  load(c, {{kNaN, kInf, -kInf}, {5.0f, -3.0f, 7.0f}, {-kInf, kNaN, -0.5f}});
  for (int i = 0; i <= 3; ++i) {
    const CurvePoint& p = c.points[static_cast<size_t>(i)];
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.curve)) << i;
    EXPECT_GE(p.x, 0.0f);
    EXPECT_LE(p.x, 1.0f);
  }
  expectPoint(c.points[0], 0.0f, 0.0f, 0.0f);
  expectPoint(c.points[1], 1.0f, 0.0f, 1.0f);
  expectPoint(c.points[2], 0.0f, 0.0f, -0.5f);

  // Unsorted and repeated x, and a first point away from 0, still evaluate to finite values
  // within the range of the points.
  const std::vector<std::vector<CurvePoint>> shapes = {
      {{0.5f, 1.0f, 1.0f}, {0.5f, 0.0f, -1.0f}, {0.2f, 1.0f, 1.0f}},
      {{0.9f, 0.0f, 1.0f}, {0.1f, 1.0f, -1.0f}},
      {{0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 1.0f}, {0.0f, 0.5f, -1.0f}, {1.0f, 1.0f, 1.0f}},
  };
  for (const auto& shape : shapes) {
    PointCurve s(8);
    load(s, shape);
    for (int i = -10; i <= 110; ++i) {
      float y = kNaN;
      const float position = s.evaluate(static_cast<float>(i) / 100.0f, &y);
      ASSERT_TRUE(std::isfinite(y));
      ASSERT_TRUE(std::isfinite(position));
      ASSERT_GE(y, 0.0f);
      ASSERT_LE(y, 1.0f);
    }
  }
}

TEST(PointCurve, EvaluateDoesNotAllocate) {
  PointCurve c(64);
  c.loopMode = 1;
  for (int i = 1; i < 20; ++i) c.insertPoint({0.05f * static_cast<float>(i), 0.5f, 0.3f});
  AllocationCounter counter;
  float sum = 0.0f;
  for (int i = 0; i <= 1000; ++i) {
    float y = 0.0f;
    sum += c.evaluate(static_cast<float>(i) / 1000.0f, &y) + y;
  }
  EXPECT_EQ(counter.count(), 0);
  EXPECT_TRUE(std::isfinite(sum));
}

// The editor edits while the audio thread evaluates, without a lock: whatever state the
// audio thread catches, it stays in bounds and finite.
TEST(PointCurve, EvaluateWhileEditing) {
  PointCurve c(64);
  c.loopMode = 1;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> evaluations{0};
  std::thread audio([&] {
    int64_t n = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      for (int i = 0; i <= 64; ++i) {
        float y = kNaN;
        c.evaluate(static_cast<float>(i) / 64.0f, &y);
        if (!std::isfinite(y) || y < 0.0f || y > 1.0f) ADD_FAILURE() << y;
      }
      ++n;
    }
    evaluations.store(n);
  });
  uint32_t r = 99;
  const auto next = [&r] {
    r = r * 1664525u + 1013904223u;
    return static_cast<float>(r >> 8) / 16777216.0f;
  };
  std::vector<uint8_t> bytes = curveBytes({{0.0f, 1.0f, 1.0f}, {0.5f, 0.0f, -1.0f}, {0.2f, 1.0f, 1.0f}});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
  while (std::chrono::steady_clock::now() < deadline) {
    const float op = next();
    if (op < 0.4f) {
      c.insertPoint({next(), next(), 2.0f * next() - 1.0f});
    } else if (op < 0.7f) {
      c.removePoint(static_cast<int32_t>(next() * 70.0f) - 2);
    } else if (op < 0.9f) {
      c.setPoint(static_cast<int32_t>(next() * 66.0f), {next(), next(), 2.0f * next() - 1.0f});
    } else {
      int32_t pos = 0;
      c.deserialize(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), false);
    }
  }
  stop.store(true);
  audio.join();
  EXPECT_GT(evaluations.load(), 0);
}
