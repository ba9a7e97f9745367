#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "engine/core/ByteStream.h"
#include "engine/core/PointCurve.h"
#include "engine/core/ShapeCurve.h"
#include "platform/RuntimeRandom.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
using Points = std::vector<CurvePoint>;

// The bytes of a stored curve: a count byte and x, y, curve per point.
std::vector<uint8_t> curveBytes(const Points& pts, int storedCount = -1) {
  std::vector<uint8_t> out{static_cast<uint8_t>(storedCount < 0 ? pts.size() : storedCount)};
  for (const CurvePoint& p : pts) {
    for (float f : {p.x, p.y, p.curve}) {
      uint8_t b[4];
      std::memcpy(b, &f, 4);
      out.insert(out.end(), b, b + 4);
    }
  }
  return out;
}

PointCurve loaded(int32_t room, const Points& pts) {
  PointCurve c(room);
  const std::vector<uint8_t> bytes = curveBytes(pts);
  int32_t pos = 0;
  c.deserialize(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), false);
  return c;
}

float yAt(const PointCurve& c, float t) {
  float y = kNaN;
  c.evaluate(t, &y);
  return y;
}

void expectPoint(const CurvePoint& p, float x, float y, float c) {
  EXPECT_FLOAT_EQ(p.x, x);
  EXPECT_FLOAT_EQ(p.y, y);
  EXPECT_FLOAT_EQ(p.curve, c);
}

}  // namespace

// A bend of 0 is the straight line; either sign bends the curve to one side of it, further for
// a larger bend, and every curve runs from 0 to 1 without falling.
TEST(ShapeCurve, EndsStraightLineAndBends) {
  for (float c : {-1.0f, -0.75f, -0.25f, 0.0f, 0.25f, 0.5f, 1.0f}) {
    float previous = -1.0f;
    for (int i = 0; i <= 400; ++i) {
      const float u = i / 400.0f, v = shapeCurve(u, c);
      ASSERT_GE(v, previous - 1e-6f) << c << " " << u;
      ASSERT_TRUE(c != 0.0f || std::fabs(v - u) < 1e-6f) << u;
      if (i % 40 == 20) {
        const float milder = shapeCurve(u, c * 0.5f);
        ASSERT_TRUE(c <= 0.0f || (v > milder && milder > u)) << c << " " << u;
        ASSERT_TRUE(c >= 0.0f || (v < milder && milder < u)) << c << " " << u;
      }
      previous = v;
    }
    EXPECT_NEAR(shapeCurve(0.0f, c), 0.0f, 1e-6f);
    EXPECT_NEAR(shapeCurve(1.0f, c), 1.0f, 1e-6f);
  }
}

// A new curve has a random middle point: exactly two draws of the runtime generator.
TEST(PointCurve, ConstructorDrawsTwiceFromTheRuntimeGenerator) {
  crtSrand(4242);
  crtRand();
  crtRand();
  const int third = crtRand();
  crtSrand(4242);
  PointCurve c(64);
  EXPECT_EQ(crtRand(), third);
  EXPECT_EQ(c.count, 3);
  EXPECT_TRUE(c.points[1].x >= 0.1f && c.points[1].x <= 0.9f && c.points[1].y == 1.0f);
  expectPoint(c.points[3], 1.0f, 0.0f, 0.0f);  // the closing point
  for (int room : {1, 0, -7}) EXPECT_EQ(PointCurve(room).maxPoints(), 2) << room;  // raised to two
}

TEST(PointCurve, Evaluate) {
  PointCurve c(2);
  c.setPoint(1, {1.0f, 1.0f, 0.0f});
  for (float t : {0.0f, 0.3f, 0.65f, 1.0f}) EXPECT_FLOAT_EQ(yAt(c, t), t);
  EXPECT_FLOAT_EQ(yAt(c, -3.0f), 0.0f);  // outside 0..1 the curve holds its ends
  EXPECT_FLOAT_EQ(yAt(c, 7.0f), 1.0f);
  EXPECT_FLOAT_EQ(yAt(c, kNaN), 0.0f);
  c.setPoint(0, {0.0f, 0.0f, 0.5f});
  c.dirty = 0;
  EXPECT_FLOAT_EQ(yAt(c, 0.25f), 0.4375f);  // w = (0.75 + 1) * 0.25
  EXPECT_EQ(c.dirty, 0);                    // reading is no edit

  float y = 0.0f;
  const PointCurve tri = loaded(8, {{0.0f, 0.0f, 0.0f}, {0.5f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}});
  EXPECT_FLOAT_EQ(tri.evaluate(0.75f, &y), 1.5f);  // the position counts segments
  EXPECT_FLOAT_EQ(y, 0.5f);
  const PointCurve one = loaded(8, {{0.0f, 0.8f, 0.0f}});
  EXPECT_FLOAT_EQ(one.evaluate(0.6f, &y), 0.0f);  // fewer than two points: point 0's y
  EXPECT_FLOAT_EQ(y, 0.8f);

  PointCurve loop = loaded(64, {{0.0f, 0.2f, 0.0f}, {0.5f, 0.9f, 0.0f}});
  EXPECT_FLOAT_EQ(yAt(loop, 1.0f), 0.9f);
  loop.loopMode = 1;
  loop.updateEndPoint();
  EXPECT_FLOAT_EQ(yAt(loop, 1.0f), 0.2f);  // a looping shape closes on its first point
  for (int i = 1; i < 20; ++i) loop.insertPoint({0.05f * static_cast<float>(i), 0.5f, 0.3f});
  float sum = 0.0f;
  for (int i = 0; i <= 1000; ++i) sum += loop.evaluate(static_cast<float>(i) / 1000.0f, &y) + y;
  EXPECT_TRUE(std::isfinite(sum));
}

TEST(PointCurve, SetPointHoldsSpacingAndRanges) {
  PointCurve c = loaded(8, {{0.0f, 0.0f, 0.0f}, {0.5f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}});
  const struct { int32_t index; CurvePoint in, out; } edits[] = {
      {1, {0.001f, 0.5f, 0.0f}, {0.01f, 0.5f, 0.0f}},  // neighbours keep 0.01 apart
      {1, {0.999f, 0.5f, 0.0f}, {0.99f, 0.5f, 0.0f}},
      {0, {0.4f, 0.3f, 0.0f}, {0.0f, 0.3f, 0.0f}},  // the first point stays at 0
      {2, {1.0f, 0.6f, 0.0f}, {1.0f, 0.6f, 0.0f}},
      // Beyond their ranges values are held to them: a bend beyond +-1 could divide by zero.
      {1, {0.5f, 4.0f, 3.0f}, {0.5f, 1.0f, 1.0f}},
      {1, {0.5f, -2.0f, -9.0f}, {0.5f, 0.0f, -1.0f}},
      {1, {0.5f, kInf, kNaN}, {0.5f, 0.0f, 0.0f}},
  };
  for (const auto& e : edits) {
    c.dirty = 0;
    c.setPoint(e.index, e.in);
    expectPoint(c.points[static_cast<size_t>(e.index)], e.out.x, e.out.y, e.out.curve);
    EXPECT_EQ(c.dirty, 1);
  }
  c.setPoint(1, {kNaN, 0.5f, 0.0f});
  EXPECT_TRUE(std::isfinite(c.points[1].x));
  c.loopMode = 1;  // a looping shape's last point stops short of 1
  c.setPoint(2, {1.0f, 0.6f, 0.0f});
  EXPECT_FLOAT_EQ(c.points[2].x, 0.99f);
  expectPoint(c.points[3], 1.0f, 0.3f, 0.0f);

  const Points before = c.points;  // indices out of range change nothing
  c.setPoint(-1, {0.3f, 0.3f, 0.0f});
  c.setPoint(c.count + 1, {0.3f, 0.3f, 0.0f});
  for (size_t i = 0; i < before.size(); ++i) EXPECT_FLOAT_EQ(c.points[i].x, before[i].x);
}

TEST(PointCurve, InsertIntoAFullCurveAndRemoveDownToNothing) {
  // 64 points: 0..0.31 in steps of 0.01, then 0.5..0.81, leaving a gap to insert into.
  Points pts;
  for (int i = 0; i < 64; ++i) pts.push_back({0.01f * static_cast<float>(i % 32) + (i < 32 ? 0.0f : 0.5f), i / 64.0f, 0.0f});
  PointCurve c = loaded(64, pts);
  c.insertPoint({0.4f, 0.9f, 0.25f});
  ASSERT_EQ(c.count, 64);
  for (size_t i = 0; i < 64; ++i) EXPECT_FLOAT_EQ(c.points[i].x, i < 32 ? pts[i].x : i == 32 ? 0.4f : pts[i - 1].x);
  expectPoint(c.points[64], 1.0f, pts[62].y, 0.0f);  // the old last point fell off
  c.insertPoint({0.95f, 0.1f, 0.0f});  // past every point of a full curve: no place left
  EXPECT_FLOAT_EQ(c.points[63].x, pts[62].x);

  PointCurve d = loaded(8, {{0.0f, 0.2f, 0.1f}, {0.5f, 1.0f, 0.0f}, {1.0f, 0.9f, 0.0f}});
  d.insertPoint({-0.3f, 0.7f, 0.0f});  // at or before 0: first, at x = 0
  d.insertPoint({0.75f, 0.4f, 0.0f});
  ASSERT_EQ(d.count, 5);
  expectPoint(d.points[0], 0.0f, 0.7f, 0.0f);
  EXPECT_FLOAT_EQ(d.points[3].x, 0.75f);
  d.removePoint(0);
  expectPoint(d.points[0], 0.0f, 0.2f, 0.1f);  // the new first point moves to x = 0
  d.removePoint(1);
  d.removePoint(0);
  expectPoint(d.points[0], 0.0f, 0.4f, 0.0f);
  for (int32_t bad : {5, -1, 2}) d.removePoint(bad);  // 2 is the closing point, not one in use
  EXPECT_EQ(d.count, 2);
  for (int i = 0; i < 3; ++i) d.removePoint(0);
  EXPECT_EQ(d.count, 0);
  expectPoint(d.points[0], 0.0f, 0.5f, 0.0f);
  EXPECT_FLOAT_EQ(yAt(d, 0.7f), 0.5f);
  d.insertPoint({0.0f, 0.3f, 0.0f});  // and it grows again
  d.insertPoint({0.6f, 0.8f, 0.0f});
  EXPECT_NEAR(yAt(d, 0.3f), 0.55f, 1e-6f);
}

TEST(PointCurve, BytesRoundTripAndDamagedStreams) {
  const Points pts = {{0.0f, 0.25f, -0.5f}, {0.125f, 1.0f, 0.75f}, {0.625f, 0.5f, 0.0f}, {1.0f, 0.0f, 1.0f}};
  const PointCurve a = loaded(16, pts);
  int32_t pos = 0;
  EXPECT_EQ(a.serialize(nullptr, &pos, 0, false), 49);
  std::vector<uint8_t> bytes(49), noCount(48);
  pos = 0;
  EXPECT_EQ(a.serialize(bytes.data(), &pos, 49, false), 49);
  EXPECT_EQ(bytes, curveBytes(pts));
  pos = 0;
  a.serialize(noCount.data(), &pos, 48, true);
  EXPECT_TRUE(std::equal(noCount.begin(), noCount.end(), bytes.begin() + 1));
  // Without the count byte the reader keeps its own count.
  PointCurve c = loaded(16, {{0.0f, 0.0f, 0.0f}, {0.2f, 0.0f, 0.0f}, {0.4f, 0.0f, 0.0f}, {0.6f, 0.0f, 0.0f}});
  c.dirty = 0;
  pos = 0;
  EXPECT_EQ(c.deserialize(noCount.data(), &pos, 48, true), 48);
  EXPECT_EQ(c.dirty, 1);
  for (size_t i = 0; i < 5; ++i) expectPoint(c.points[i], a.points[i].x, a.points[i].y, a.points[i].curve);
  // Truncated: zeros for what is missing, and the position still moves past it.
  pos = 0;
  EXPECT_EQ(c.deserialize(bytes.data(), &pos, 20, false), 49);
  EXPECT_FLOAT_EQ(c.points[3].x, 0.0f);

  // A stored count beyond the room: the extra points are skipped, so the next field is intact.
  for (int stored : {5, 255}) {
    std::vector<uint8_t> many = curveBytes(Points(static_cast<size_t>(stored), CurvePoint{0.5f, 0.25f, 0.0f}));
    many.push_back(0x77);
    PointCurve small(2);
    pos = 0;
    small.deserialize(many.data(), &pos, static_cast<int32_t>(many.size()), false);
    EXPECT_EQ(small.count, 2);
    expectPoint(small.points[2], 1.0f, 0.25f, 0.0f);  // closed on the last point that fits
    EXPECT_EQ(pos, 1 + 12 * stored);
    EXPECT_EQ(many[static_cast<size_t>(pos)], 0x77);
  }

  // Non-finite and out-of-range bytes become finite points in range.
  const PointCurve damaged = loaded(8, {{kNaN, kInf, -kInf}, {5.0f, -3.0f, 7.0f}, {-kInf, kNaN, -0.5f}});
  expectPoint(damaged.points[0], 0.0f, 0.0f, 0.0f);
  expectPoint(damaged.points[1], 1.0f, 0.0f, 1.0f);
  expectPoint(damaged.points[2], 0.0f, 0.0f, -0.5f);
  // Unsorted and repeated x, and a first point away from 0, still evaluate within 0..1.
  for (const Points& shape : {Points{{0.5f, 1.0f, 1.0f}, {0.5f, 0.0f, -1.0f}, {0.2f, 1.0f, 1.0f}},
                              Points{{0.9f, 0.0f, 1.0f}, {0.1f, 1.0f, -1.0f}},
                              Points{{0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 1.0f}, {0.0f, 0.5f, -1.0f}, {1.0f, 1.0f, 1.0f}}}) {
    const PointCurve s = loaded(8, shape);
    for (int i = -10; i <= 110; ++i) {
      float y = kNaN;
      ASSERT_TRUE(std::isfinite(s.evaluate(static_cast<float>(i) / 100.0f, &y)));
      ASSERT_TRUE(y >= 0.0f && y <= 1.0f) << y;
    }
  }
}

// The editor edits while the audio thread evaluates, without a lock: whatever state the audio
// thread catches, it stays in bounds and finite.
TEST(PointCurve, EvaluateWhileEditing) {
  PointCurve c(64);
  c.loopMode = 1;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> evaluations{0};
  std::thread audio([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      for (int i = 0; i <= 64; ++i) {
        const float y = yAt(c, static_cast<float>(i) / 64.0f);
        if (!(y >= 0.0f && y <= 1.0f)) ADD_FAILURE() << y;
      }
      evaluations.fetch_add(1);
    }
  });
  uint32_t r = 99;
  const auto next = [&r] { return static_cast<float>((r = r * 1664525u + 1013904223u) >> 8) / 16777216.0f; };
  const std::vector<uint8_t> bytes = curveBytes({{0.0f, 1.0f, 1.0f}, {0.5f, 0.0f, -1.0f}, {0.2f, 1.0f, 1.0f}});
  // Edits go on until the audio thread has evaluated often enough to catch them, however slow
  // the machine; the time bound only keeps a hang from running forever.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int edits = 0; (edits < 20000 || evaluations.load() < 200) && std::chrono::steady_clock::now() < giveUp;
       ++edits) {
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
  EXPECT_GE(evaluations.load(), 200);
}
