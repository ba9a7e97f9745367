#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/ByteStream.h"
#include "engine/Sequencer.h"
#include "support/AllocationCounter.h"

namespace {

constexpr int kSubBlock = 64;


// One event the caller passed on to the engine: sub-block index, lane, velocity (0 = note-off).
struct Played {
  int block;
  int lane;
  int value;
  bool operator==(const Played& o) const { return block == o.block && lane == o.lane && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const Played& p) {
  return os << "{block " << p.block << ", lane " << p.lane << ", " << p.value << "}";
}

// Drives the sequencer the way the block processing does: one advance per 64-frame sub-block,
// then a poll of lanes 0 .. the returned lane.
std::vector<Played> play(Sequencer& s, float sampleRate, int blocks, int firstBlock = 0) {
  std::vector<Played> out;
  const float dt = static_cast<float>(kSubBlock) / sampleRate;
  for (int b = 0; b < blocks; ++b) {
    const int last = s.advance(dt);
    for (int lane = 0; lane <= last; ++lane) {
      const int v = s.pollLane(lane);
      if (v >= 0) out.push_back({firstBlock + b, lane, v});
    }
  }
  return out;
}

// Sub-block in which a tick is crossed: the k with floor(k * ticksPerBlock) <= tick <
// floor((k + 1) * ticksPerBlock), the ideal tick counts computed in double. The check keeps
// clear of cases that float rounding could tip into the neighbouring sub-block.
int blockOf(int tick, double ticksPerBlock) {
  int k = static_cast<int>(std::floor(tick / ticksPerBlock));
  while (std::floor((k + 1) * ticksPerBlock) <= tick) ++k;
  while (k > 0 && std::floor(k * ticksPerBlock) > tick) --k;
  for (int edge : {k, k + 1}) {
    EXPECT_GT(std::fabs(edge * ticksPerBlock - (tick + 1)), 0.01) << "too close to call: " << tick;
  }
  return k;
}

// A sequencer block written by hand: per lane a count byte, a length byte and 6 bytes a note,
// then the five parameters as floats.
struct BlockNote {
  int start, length, velocityWord;
};
struct BlockLane {
  int length = 16;
  std::vector<BlockNote> notes;
  int storedCount = -1;  // -1: the real count
};

std::vector<uint8_t> makeBlock(const std::vector<BlockLane>& lanes,
                               std::vector<float> params = {120.0f, 0.0f, 0.0f, 0.0f, 0.0f}) {
  std::vector<uint8_t> out;
  const auto put = [&out](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (size_t i = 0; i < 8; ++i) {
    const BlockLane lane = i < lanes.size() ? lanes[i] : BlockLane{};
    put(static_cast<uint32_t>(lane.storedCount < 0 ? static_cast<int>(lane.notes.size()) : lane.storedCount), 1);
    put(static_cast<uint32_t>(lane.length), 1);
    for (const BlockNote& n : lane.notes) {
      put(static_cast<uint32_t>(n.start), 2);
      put(static_cast<uint32_t>(n.length), 2);
      put(static_cast<uint32_t>(n.velocityWord), 2);
    }
  }
  for (float f : params) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put(bits, 4);
  }
  return out;
}

void load(Sequencer& s, const std::vector<uint8_t>& block, int version = 4) {
  s.deserialize(block.data(), static_cast<int>(block.size()), version);
}

std::vector<uint8_t> save(const Sequencer& s) {
  const int size = s.serialize(nullptr, 0);
  std::vector<uint8_t> out(static_cast<size_t>(size));
  EXPECT_EQ(s.serialize(out.data(), size), size);
  return out;
}

// Export events decoded back: absolute tick, status, key, velocity.
struct MidiEvent {
  int64_t tick;
  int status, key, velocity;
};

std::vector<MidiEvent> decode(const std::vector<uint8_t>& bytes) {
  std::vector<MidiEvent> out;
  size_t i = 0;
  int64_t tick = 0;
  while (i < bytes.size()) {
    uint32_t delta = 0;
    int groups = 0;
    while (true) {
      EXPECT_LT(i, bytes.size());
      if (i >= bytes.size()) return out;
      const uint8_t b = bytes[i++];
      delta = (delta << 7) | (b & 0x7Fu);
      ++groups;
      if ((b & 0x80) == 0) break;
    }
    EXPECT_LE(groups, 4);
    EXPECT_LE(i + 3, bytes.size());
    if (i + 3 > bytes.size()) return out;
    tick += delta;
    out.push_back({tick, bytes[i], bytes[i + 1], bytes[i + 2]});
    i += 3;
  }
  return out;
}

std::vector<int> velocitiesOf(const SeqLane& lane) {
  std::vector<int> out;
  for (const SeqNote& note : lane.notes) out.push_back(note.velocity);
  return out;
}

void seedRandom(uint32_t seed) { Sequencer::sharedRandom().reseed(seed); }

}  // namespace

TEST(Sequencer, ConstructionAndParameters) {
  Sequencer s(8, 16, 32);
  ASSERT_EQ(s.lanes.size(), 8u);
  ASSERT_EQ(s.laneStates.size(), 8u);
  EXPECT_EQ(s.cycleLength, 16);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(s.lanes[i].length, 16u);
    EXPECT_GE(s.lanes[i].notes.capacity(), 32u);
    EXPECT_EQ(s.laneStates[i].noteIndex.load(), -1);
    EXPECT_EQ(s.laneStates[i].state, SeqLaneState::kIdle);
  }
  EXPECT_EQ(s.position, 0.0);
  EXPECT_EQ(s.tickPosition, 0);

  const struct {
    int id;
    const char* label;
    uint32_t kind;
    float min, max, def;
  } expected[] = {
      {Sequencer::kBpm, "BPM", Param::kLinear, 1, 400, 120},
      {Sequencer::kHostSync, "Host Sync", Param::kStepped, 0, 1, 0},
      {Sequencer::kSwing, "Swing", Param::kLinear, -50, 50, 0},
      {Sequencer::kLooseTime, "Loose Time", Param::kLinear, 0, 100, 0},
      {Sequencer::kLooseVelo, "Loose Velo", Param::kLinear, 0, 100, 0},
  };
  for (const auto& e : expected) {
    const Param& p = s.params[static_cast<size_t>(e.id)];
    EXPECT_STREQ(p.label, e.label);
    EXPECT_EQ(p.kind, e.kind);
    EXPECT_EQ(p.min, e.min);
    EXPECT_EQ(p.max, e.max);
    EXPECT_EQ(p.value, e.def);
    EXPECT_EQ(p.modTargetIndex, -1);
    EXPECT_EQ(p.minStateVersion, 0);
  }
  EXPECT_EQ(s.params[Sequencer::kSwing].snapCount, 1);
  EXPECT_EQ(s.params[Sequencer::kSwing].snapValues[0], 0.0f);

  char text[32];
  s.params[Sequencer::kBpm].getDisplayText(text, sizeof text);
  EXPECT_STREQ(text, "120");
  s.params[Sequencer::kHostSync].getDisplayText(text, sizeof text);
  EXPECT_STREQ(text, "off");
  s.params[Sequencer::kHostSync].setValue(1.0f);
  s.params[Sequencer::kHostSync].getDisplayText(text, sizeof text);
  EXPECT_STREQ(text, "on");
  s.params[Sequencer::kSwing].setValue(-25.0f);
  s.params[Sequencer::kSwing].getDisplayText(text, sizeof text);
  EXPECT_STREQ(text, "-25%");
  s.params[Sequencer::kLooseVelo].getDisplayText(text, sizeof text);
  EXPECT_STREQ(text, "0%");

  // Degenerate arguments give a usable object.
  Sequencer none(0, 0, -3);
  EXPECT_EQ(none.advance(0.01), -1);
  EXPECT_EQ(none.pollLane(0), -1);
  EXPECT_EQ(none.cycleLength, 1);
  EXPECT_EQ(none.serialize(nullptr, 0), 20);
}

TEST(SequencerTiming, TempoPositionAndCycleWrap) {
  Sequencer s(8, 16, 32);
  EXPECT_EQ(s.advance(0.125), -1);  // one step at 120 BPM
  EXPECT_DOUBLE_EQ(s.position, 1.0);
  EXPECT_EQ(s.tickPosition, 1024);
  for (int i = 0; i < 14; ++i) s.advance(0.125);
  EXPECT_EQ(s.tickPosition, 15 * 1024);
  s.advance(0.125);
  EXPECT_EQ(s.tickPosition, 0);  // wrapped at 16 steps
  EXPECT_NEAR(s.position, 0.0, 1e-9);
  EXPECT_NEAR(s.freePosition, 16.0, 1e-9);  // the free position runs on
  s.advance(0.0625);
  EXPECT_EQ(s.tickPosition, 512);

  // Zero seconds moves nothing and reports nothing.
  EXPECT_EQ(s.advance(0.0), -1);
  EXPECT_EQ(s.tickPosition, 512);

  // 90 BPM: 6 steps a second.
  Sequencer t(8, 16, 32);
  t.params[Sequencer::kBpm].setValue(90.0f);
  t.advance(0.5);
  EXPECT_EQ(t.tickPosition, 3 * 1024);
  EXPECT_DOUBLE_EQ(t.position, 3.0);

  // The free position wraps at 768 steps (96 s at 120 BPM).
  Sequencer f(8, 16, 32);
  for (int i = 0; i < 97; ++i) f.advance(1.0);
  EXPECT_NEAR(f.freePosition, 97.0 * 8.0 - 768.0, 1e-6);
  EXPECT_GE(f.tickPosition, 0);
  EXPECT_LT(f.tickPosition, 16384);

  // A block timed from a missing sample rate leaves everything as it was.
  const double before = f.position;
  EXPECT_EQ(f.advance(std::numeric_limits<double>::infinity()), -1);
  EXPECT_EQ(f.advance(std::numeric_limits<double>::quiet_NaN()), -1);
  EXPECT_EQ(f.position, before);
}

TEST(SequencerTiming, SwingMapsTimeOntoThePattern) {
  // Known points: +50 plays the first step of a pair over 1.5 steps of time.
  const struct {
    float swing;
    double steps;
    int ticks;
  } points[] = {{50, 0.75, 512},  {50, 1.5, 1024},  {50, 1.75, 1536}, {50, 2.75, 2560},
                {-50, 0.25, 512}, {-50, 0.5, 1024}, {-50, 1.25, 1536}, {0, 1.25, 1280}};
  for (const auto& p : points) {
    Sequencer s(8, 16, 32);
    s.params[Sequencer::kSwing].setValue(p.swing);
    s.advance(p.steps / 8.0);
    EXPECT_EQ(s.tickPosition, p.ticks) << p.swing << " " << p.steps;
  }

  // A sweep against the piecewise-linear map computed in double.
  for (float swing : {-50.0f, -20.0f, 35.0f, 50.0f}) {
    Sequencer s(8, 16, 32);
    s.params[Sequencer::kSwing].setValue(swing);
    const double sw = swing / 100.0;
    double time = 0.0;
    int previous = 0;
    for (int i = 0; i < 300; ++i) {
      s.advance(0.05 / 8.0);
      time += 0.05;
      const double t = std::fmod(time, 16.0);
      const double pairStart = 2.0 * std::floor(t / 2.0);
      const double p = t - pairStart;
      const double mapped = p < 1.0 + sw ? p / (1.0 + sw) : 1.0 + (p - 1.0 - sw) / (1.0 - sw);
      const int ref = static_cast<int>(std::floor((pairStart + mapped) * 1024.0));
      if (t < 0.05 - 1e-9) previous = 0;  // the cycle wrapped
      const int expected = std::max(ref, previous);
      ASSERT_NEAR(s.tickPosition, expected, 1) << swing << " at " << time;
      previous = s.tickPosition;
    }
  }
}

TEST(SequencerPlay, EventsLandInTheirSubBlock) {
  for (float sampleRate : {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
    Sequencer s(8, 16, 32);
    s.addNote(0, 0, 100, 64);
    s.addNote(2, 1000, 700, 90);
    s.addNote(2, 5000, 300, 80);
    s.addNote(5, 9000, 2000, 127);
    const float dt = static_cast<float>(kSubBlock) / sampleRate;
    const double ticksPerBlock = static_cast<double>(dt) * 8.0 * 1024.0;
    const int blocks = static_cast<int>(1.95 / dt);

    std::vector<Played> expected = {
        {0, 0, 64},
        {blockOf(100, ticksPerBlock), 0, 0},
        {blockOf(1000, ticksPerBlock), 2, 90},
        {blockOf(1700, ticksPerBlock), 2, 0},
        {blockOf(5000, ticksPerBlock), 2, 80},
        {blockOf(5300, ticksPerBlock), 2, 0},
        {blockOf(9000, ticksPerBlock), 5, 127},
        {blockOf(11000, ticksPerBlock), 5, 0},
    };
    std::sort(expected.begin(), expected.end(),
              [](const Played& a, const Played& b) { return std::tie(a.block, a.lane) < std::tie(b.block, b.lane); });
    EXPECT_EQ(play(s, sampleRate, blocks), expected) << sampleRate;
  }
}

TEST(SequencerPlay, LaneLengthsRepeatOnTheirOwn) {
  Sequencer s(8, 16, 32);
  load(s, makeBlock({{16, {{0, 512, 100}}}, {12, {{0, 512, 100}}}, {8, {{0, 512, 100}}}}));
  const float sampleRate = 48000.0f;
  const double blockSeconds = kSubBlock / static_cast<double>(sampleRate);
  const float dt = static_cast<float>(kSubBlock) / sampleRate;
  std::vector<double> starts[3];
  int64_t unwrapped = 0;
  int previousTick = 0;
  for (int b = 0; b < static_cast<int>(3.2 / blockSeconds); ++b) {
    const int last = s.advance(dt);
    unwrapped += (s.tickPosition - previousTick + 16384) % 16384;
    previousTick = s.tickPosition;
    for (int lane = 0; lane <= last; ++lane) {
      if (s.pollLane(lane) > 0 && lane < 3) starts[lane].push_back(b * blockSeconds);
    }
    ASSERT_EQ(s.laneStates[0].laneTick, s.tickPosition);
    ASSERT_EQ(s.laneStates[2].laneTick, s.tickPosition % 8192);
    ASSERT_EQ(s.laneStates[1].laneTick, unwrapped % 12288);
  }
  const std::vector<double> want[3] = {{0.0, 2.0}, {0.0, 1.5, 3.0}, {0.0, 1.0, 2.0, 3.0}};
  for (int lane = 0; lane < 3; ++lane) {
    ASSERT_EQ(starts[lane].size(), want[lane].size()) << lane;
    for (size_t i = 0; i < want[lane].size(); ++i) EXPECT_NEAR(starts[lane][i], want[lane][i], blockSeconds) << lane;
  }
}

TEST(SequencerPlay, BackToBackAndOverlappingNotes) {
  const float sr = 44100.0f;
  const double tpb = static_cast<double>(static_cast<float>(kSubBlock) / sr) * 8192.0;

  // The end of one note and the start of the next in one sub-block: only the note-on.
  Sequencer s(8, 16, 32);
  s.addNote(1, 0, 1024, 100);
  s.addNote(1, 1024, 1024, 70);
  const std::vector<Played> back = play(s, sr, static_cast<int>(0.3 / (kSubBlock / sr)));
  const std::vector<Played> wantBack = {{0, 1, 100}, {blockOf(1024, tpb), 1, 70}, {blockOf(2048, tpb), 1, 0}};
  EXPECT_EQ(back, wantBack);

  // A note inside a sounding one on the same lane is not started; the first note ends at its end.
  Sequencer o(8, 16, 32);
  o.addNote(0, 0, 2048, 100);
  o.addNote(0, 1024, 512, 70);
  const std::vector<Played> overlap = play(o, sr, static_cast<int>(0.3 / (kSubBlock / sr)));
  const std::vector<Played> wantOverlap = {{0, 0, 100}, {blockOf(2048, tpb), 0, 0}};
  EXPECT_EQ(overlap, wantOverlap);
}

TEST(SequencerPlay, WideWindowsAreSkipped) {
  // A window of exactly 512 ticks still plays; one of 513 is a jump and starts nothing.
  Sequencer a(8, 16, 32);
  a.addNote(0, 511, 100, 100);
  EXPECT_EQ(a.advance(512.0 / 8192.0), 0);
  EXPECT_EQ(a.pollLane(0), 100);

  Sequencer b(8, 16, 32);
  b.addNote(0, 511, 100, 100);
  EXPECT_EQ(b.advance(513.0 / 8192.0), -1);
  EXPECT_EQ(b.pollLane(0), -1);
  EXPECT_EQ(b.tickPosition, 513);

  // After a relocation, a far advance starts nothing and the pattern goes on from there.
  Sequencer c(8, 16, 32);
  c.addNote(0, 3584, 256, 100);  // step 3.5
  c.addNote(0, 6144, 256, 90);   // step 6
  c.setPosition(3.0);
  EXPECT_EQ(c.advance(0.1), -1);  // 0.8 steps: 819 ticks
  EXPECT_NEAR(c.position, 3.8, 1e-9);
  const std::vector<Played> after = play(c, 48000.0f, 200);  // to about step 5.9
  EXPECT_TRUE(after.empty());
  const std::vector<Played> later = play(c, 48000.0f, 20);
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(later[0].value, 90);

  // A relocation by itself skips nothing: the next note plays.
  Sequencer d(8, 16, 32);
  d.addNote(0, 3584, 256, 100);
  d.setPosition(3.45);
  const std::vector<Played> near = play(d, 48000.0f, 50);
  ASSERT_FALSE(near.empty());
  EXPECT_EQ(near[0].value, 100);
}

TEST(SequencerPlay, BusyLockMovesOnlyThePosition) {
  Sequencer s(8, 16, 32);
  s.addNote(3, 300, 100, 100);
  std::atomic<int> phase{0};
  std::thread editor([&] {
    s.lock.lock();
    phase.store(1);
    while (phase.load() != 2) std::this_thread::yield();
    s.lock.unlock();
  });
  while (phase.load() != 1) std::this_thread::yield();
  EXPECT_EQ(s.advance(0.03), 0);  // 0.24 steps, 245 ticks
  EXPECT_NEAR(s.position, 0.24, 1e-9);
  EXPECT_EQ(s.tickPosition, 0);
  EXPECT_EQ(s.laneStates[3].laneTick, 0);
  EXPECT_EQ(s.pollLane(0), -1);
  EXPECT_EQ(s.pollLane(3), -1);
  phase.store(2);
  editor.join();

  // The lanes catch up: the note at tick 300 lies in the combined window.
  EXPECT_EQ(s.advance(0.01), 3);
  EXPECT_EQ(s.tickPosition, static_cast<int>(0.32 * 1024));
  EXPECT_EQ(s.laneStates[3].laneTick, s.tickPosition);
  EXPECT_EQ(s.pollLane(3), 100);
}

TEST(SequencerPlay, EmptiedLaneStillEndsItsNote) {
  const float sr = 48000.0f;
  Sequencer s(8, 16, 32);
  s.addNote(0, 0, 8000, 100);
  s.addNote(1, 0, 8000, 100);
  s.addNote(2, 0, 8000, 100);
  s.addNote(4, 0, 8000, 100);
  ASSERT_EQ(play(s, sr, 5).size(), 4u);

  s.clearLane(0);
  EXPECT_EQ(s.laneStates[0].noteIndex.load(), 0);
  EXPECT_EQ(play(s, sr, 1, 5), (std::vector<Played>{{5, 0, 0}}));
  s.removeNote(1, 0);
  EXPECT_EQ(play(s, sr, 1, 6), (std::vector<Played>{{6, 1, 0}}));
  load(s, makeBlock({}));  // loading an empty pattern ends the rest
  EXPECT_EQ(play(s, sr, 1, 7), (std::vector<Played>{{7, 2, 0}, {7, 4, 0}}));
  EXPECT_TRUE(play(s, sr, 100).empty());
}

TEST(SequencerPlay, ReleaseAllAndResetPlayState) {
  Sequencer s(8, 16, 32);
  s.addNote(1, 0, 8000, 100);
  s.addNote(4, 0, 8000, 100);
  play(s, 44100.0f, 3);
  EXPECT_EQ(s.releaseAll(), 4);
  EXPECT_EQ(s.pollLane(1), 0);
  EXPECT_EQ(s.pollLane(4), 0);
  EXPECT_EQ(s.releaseAll(), -1);
  EXPECT_EQ(s.pollLane(4), -1);
  EXPECT_EQ(s.pollLane(8), -1);
  EXPECT_EQ(s.pollLane(-1), -1);

  s.resetPlayState();
  EXPECT_EQ(s.position, 0.0);
  EXPECT_EQ(s.freePosition, 0.0);
  EXPECT_EQ(s.tickPosition, 0);
  for (const SeqLaneState& st : s.laneStates) {
    EXPECT_EQ(st.noteIndex.load(), -1);
    EXPECT_EQ(st.laneTick, 0);
    EXPECT_EQ(st.timingOffset, 0);
    EXPECT_EQ(st.jitter, 0.0f);
    EXPECT_EQ(st.state, SeqLaneState::kIdle);
  }
  // It starts again from step 0.
  EXPECT_EQ(play(s, 44100.0f, 1), (std::vector<Played>{{0, 1, 100}, {0, 4, 100}}));
}

TEST(SequencerPlay, SetPositionWrapsIntoEveryLane) {
  Sequencer s(8, 16, 32);
  load(s, makeBlock({{16, {}}, {12, {}}, {8, {{7680, 256, 100}}}}));
  s.advance(0.001);  // the player takes note of the loaded lane lengths

  s.setPosition(20.0);
  EXPECT_DOUBLE_EQ(s.position, 4.0);
  EXPECT_DOUBLE_EQ(s.freePosition, 4.0);
  EXPECT_EQ(s.tickPosition, 4096);
  EXPECT_EQ(s.laneStates[0].laneTick, 4096);
  EXPECT_EQ(s.laneStates[1].laneTick, 20480 % 12288);
  EXPECT_EQ(s.laneStates[2].laneTick, 4096);

  // A host's pre-roll: positions before zero wrap in from the end.
  s.setPosition(-1.0);
  EXPECT_DOUBLE_EQ(s.position, 15.0);
  EXPECT_EQ(s.tickPosition, 15360);
  EXPECT_EQ(s.laneStates[0].laneTick, 15360);
  EXPECT_EQ(s.laneStates[1].laneTick, 12288 - 1024);
  EXPECT_EQ(s.laneStates[2].laneTick, 8192 - 1024);
  // ... and the note at step 7.5 of the 8-step lane plays half a step later.
  const std::vector<Played> pre = play(s, 48000.0f, 60);
  ASSERT_FALSE(pre.empty());
  EXPECT_EQ(pre[0].lane, 2);
  EXPECT_EQ(pre[0].value, 100);

  for (double far : {1e15, -1e15, 123456789.123, -0.0001, 1e300}) {
    s.setPosition(far);
    EXPECT_GE(s.position, 0.0) << far;
    EXPECT_LT(s.position, 16.0) << far;
    EXPECT_GE(s.tickPosition, 0) << far;
    EXPECT_LT(s.tickPosition, 16384) << far;
    for (int i = 0; i < 3; ++i) {
      EXPECT_GE(s.laneStates[static_cast<size_t>(i)].laneTick, 0) << far;
      EXPECT_LT(s.laneStates[static_cast<size_t>(i)].laneTick, s.laneStates[static_cast<size_t>(i)].laneLength * 1024) << far;
    }
  }
  s.setPosition(3.0);
  s.setPosition(std::numeric_limits<double>::quiet_NaN());
  s.setPosition(std::numeric_limits<double>::infinity());
  EXPECT_DOUBLE_EQ(s.position, 3.0);
}

TEST(SequencerEditing, AddRemoveClearAndChangeCount) {
  Sequencer s(8, 16, 32);
  uint32_t changes = s.changeCount.load();
  s.addNote(0, 2048, 512, 100);
  s.addNote(0, 0, 512, 90);
  s.addNote(0, 2048, 256, 80);  // goes before the note already at 2048
  s.addNote(0, 1024, 512, 70);
  EXPECT_EQ(s.changeCount.load(), changes + 4);
  const std::vector<SeqNote>& n = s.lanes[0].notes;
  EXPECT_EQ(velocitiesOf(s.lanes[0]), (std::vector<int>{90, 70, 80, 100}));
  EXPECT_EQ(n[3].lane, 0);

  // Lanes out of range are ignored and count as no change.
  changes = s.changeCount.load();
  s.addNote(8, 0, 512, 100);
  s.addNote(-1, 0, 512, 100);
  s.removeNote(8, 0);
  s.removeNote(0, 4);
  s.removeNote(0, -1);
  EXPECT_EQ(s.changeCount.load(), changes);

  s.removeNote(0, 1);
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[1].velocity, 80);
  EXPECT_EQ(s.changeCount.load(), changes + 1);

  // A full lane takes no more notes but the attempt still counts as a change.
  for (int i = 0; i < 40; ++i) s.addNote(5, i * 100, 50, 100);
  EXPECT_EQ(s.lanes[5].notes.size(), 32u);
  changes = s.changeCount.load();
  s.addNote(5, 0, 50, 100);
  EXPECT_EQ(s.changeCount.load(), changes + 1);
  EXPECT_EQ(s.lanes[5].notes.size(), 32u);

  // Values beyond the note fields are held to them rather than wrapped.
  s.addNote(6, 70000, -5, 100);
  EXPECT_EQ(s.lanes[6].notes[0].start, 65535);
  EXPECT_EQ(s.lanes[6].notes[0].length, 0);

  // Clearing.
  load(s, makeBlock({{12, {{0, 100, 100}}}, {8, {{0, 100, 100}}}}));
  s.clearLane(1);
  EXPECT_TRUE(s.lanes[1].notes.empty());
  EXPECT_EQ(s.lanes[1].length, 16u);
  EXPECT_EQ(s.lanes[0].length, 12u);
  changes = s.changeCount.load();
  s.clearLane(8);
  s.clearLane(-1);
  s.clearLane(-412);
  EXPECT_EQ(s.changeCount.load(), changes);
  EXPECT_EQ(s.lanes[0].notes.size(), 1u);
  s.clearLane(Sequencer::kAllLanes);
  EXPECT_EQ(s.changeCount.load(), changes + 1);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_TRUE(s.lanes[i].notes.empty());
    EXPECT_EQ(s.lanes[i].length, 16u);
    EXPECT_EQ(s.laneStates[i].noteIndex.load(), 0);
  }
}

TEST(SequencerEditing, FindNoteAt) {
  Sequencer s(8, 16, 32);
  s.addNote(2, 1024, 1023, 100);
  s.addNote(2, 4096, 99, 100);
  EXPECT_FLOAT_EQ(s.findNoteAt(2, 1536), 0.5f);
  EXPECT_FLOAT_EQ(s.findNoteAt(2, 1024), -1.0f);  // the start itself is not inside
  EXPECT_FLOAT_EQ(s.findNoteAt(2, 2046), 1022.0f / 1024.0f);
  EXPECT_FLOAT_EQ(s.findNoteAt(2, 2047), -1.0f);  // nor the end
  EXPECT_FLOAT_EQ(s.findNoteAt(2, 4146), 1.5f);
  EXPECT_FLOAT_EQ(s.findNoteAt(2, 3000), -1.0f);
  EXPECT_FLOAT_EQ(s.findNoteAt(1, 1536), -1.0f);
  EXPECT_FLOAT_EQ(s.findNoteAt(8, 1536), -1.0f);
  EXPECT_FLOAT_EQ(s.findNoteAt(-1, 1536), -1.0f);
  // A zero-length note holds no tick.
  s.addNote(3, 100, 0, 100);
  EXPECT_FLOAT_EQ(s.findNoteAt(3, 100), -1.0f);
}

TEST(SequencerState, LayoutAndRoundTrip) {
  Sequencer s(8, 16, 32);
  s.addNote(0, 0x1234, 0x0200, 0x55);
  const std::vector<uint8_t> bytes = save(s);
  std::vector<uint8_t> want = {1, 16, 0x34, 0x12, 0x00, 0x02, 0x55, 0x00};
  for (int i = 1; i < 8; ++i) want.insert(want.end(), {0, 16});
  for (float f : {120.0f, 0.0f, 0.0f, 0.0f, 0.0f}) {
    uint8_t b[4];
    std::memcpy(b, &f, 4);
    want.insert(want.end(), b, b + 4);
  }
  EXPECT_EQ(bytes, want);
  EXPECT_EQ(Sequencer(8, 16, 32).serialize(nullptr, 0), 16 + 20);
  // A buffer too small gets nothing past its end; the count stays the full size.
  std::vector<uint8_t> small(10, 0xEE);
  EXPECT_EQ(s.serialize(small.data(), 10), static_cast<int>(want.size()));

  // A richer pattern through bytes and back.
  const std::vector<uint8_t> block =
      makeBlock({{16, {{0, 512, 100}, {4096, 1024, 127}}},
                 {12, {{1024, 100, 1}}},
                 {},
                 {8, {{7000, 2000, 64}, {7100, 30, 65}, {7200, 30, 66}}},
                 {255, {{65535, 65535, 127}}}},
                {133.0f, 1.0f, 25.0f, 40.0f, 60.0f});
  Sequencer a(8, 16, 32);
  const uint32_t changes = a.changeCount.load();
  EXPECT_EQ(a.deserialize(block.data(), static_cast<int>(block.size()), 4), static_cast<int>(block.size()));
  EXPECT_EQ(a.changeCount.load(), changes + 1);
  EXPECT_EQ(a.params[Sequencer::kBpm].value, 133.0f);
  EXPECT_EQ(a.params[Sequencer::kSwing].value, 25.0f);
  EXPECT_EQ(a.lanes[1].length, 12u);
  EXPECT_EQ(a.lanes[4].length, 255u);
  EXPECT_EQ(a.lanes[3].notes[2].lane, 3);
  const std::vector<uint8_t> once = save(a);
  EXPECT_EQ(once, block);
  Sequencer b(8, 16, 32);
  load(b, once);
  EXPECT_EQ(save(b), once);
}

TEST(SequencerState, DamagedBlocksLoadAndPlay) {
  const auto exercise = [](Sequencer& s) {
    s.params[Sequencer::kBpm].setValue(400.0f);
    s.resetPlayState();
    for (int b = 0; b < 400; ++b) {
      const int last = s.advance(64.0 / 44100.0);
      ASSERT_GE(last, -1);
      ASSERT_LT(last, 8);
      for (int lane = 0; lane <= last; ++lane) {
        const int v = s.pollLane(lane);
        ASSERT_GE(v, -1);
        ASSERT_LE(v, 127);
      }
    }
    s.buildExportEvents();
    s.findNoteAt(0, 100);
  };

  // Length 0 loads as the cycle length; unsorted notes are sorted, equal starts keep their
  // order; only the low byte of a velocity word counts; velocity 0 still plays as a note-on.
  Sequencer s(8, 16, 32);
  load(s, makeBlock({{0, {{3000, 100, 30}, {1000, 100, 11}, {2000, 100, 0x0140}, {1000, 100, 7}}},
                     {16, {{0, 200, 0}}}}));
  EXPECT_EQ(s.lanes[0].length, 16u);
  EXPECT_EQ(velocitiesOf(s.lanes[0]), (std::vector<int>{11, 7, 0x40, 30}));
  EXPECT_EQ(s.lanes[0].notes[0].start, 1000);
  EXPECT_EQ(s.lanes[0].notes[3].start, 3000);
  const std::vector<Played> first = play(s, 44100.0f, 2);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[0].lane, 1);
  EXPECT_EQ(first[0].value, 1);
  exercise(s);

  // 255 notes on every lane, far beyond what editing allows; further edits add nothing.
  std::vector<BlockLane> full(8);
  for (BlockLane& lane : full) {
    for (int i = 0; i < 255; ++i) lane.notes.push_back({i * 64, 32, 100});
  }
  Sequencer f(8, 16, 32);
  load(f, makeBlock(full));
  EXPECT_EQ(f.lanes[7].notes.size(), 255u);
  f.addNote(7, 5, 5, 5);
  EXPECT_EQ(f.lanes[7].notes.size(), 255u);
  exercise(f);

  // Notes beyond a short lane, zero lengths, lengths longer than the lane.
  Sequencer w(8, 16, 32);
  load(w, makeBlock({{1, {{60000, 10, 90}, {65535, 65535, 90}}}, {3, {{100, 0, 90}, {200, 65535, 90}}}}));
  exercise(w);

  // Every truncation of a valid block.
  const std::vector<uint8_t> valid = makeBlock(full, {140.0f, 0.0f, 10.0f, 50.0f, 50.0f});
  for (size_t cut = 0; cut < valid.size(); cut += 97) {
    Sequencer t(8, 16, 32);
    EXPECT_GE(t.deserialize(valid.data(), static_cast<int>(cut), 4), static_cast<int>(cut));
    for (const SeqLane& lane : t.lanes) EXPECT_GE(lane.length, 1u);
    exercise(t);
  }

  // Random bytes.
  uint32_t r = 7;
  const auto next = [&r] { return r = r * 1664525u + 1013904223u; };
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> junk(next() % 3000);
    for (uint8_t& b : junk) b = static_cast<uint8_t>(next() >> 24);
    Sequencer j(8, 16, 32);
    load(j, junk);
    for (const Param& p : j.params) ASSERT_TRUE(std::isfinite(p.value));
    exercise(j);
  }
  // And a null buffer.
  Sequencer z(8, 16, 32);
  EXPECT_EQ(z.deserialize(nullptr, 0, 4), 36);
}

TEST(SequencerExport, SingleNoteAndEncoding) {
  Sequencer s(8, 16, 32);
  s.addNote(0, 0, 512, 100);
  EXPECT_EQ(s.buildExportEvents(), (std::vector<uint8_t>{0x00, 0x90, 36, 100, 0x83, 0x7F, 0x80, 36, 64}));

  // Two lanes interleave by tick; deltas are variable-length quantities.
  Sequencer t(8, 16, 32);
  t.addNote(0, 0, 1024, 100);
  t.addNote(3, 256, 256, 90);
  EXPECT_EQ(t.buildExportEvents(), (std::vector<uint8_t>{0x00, 0x90, 36, 100,        // on 0 at 0
                                                         0x82, 0x00, 0x90, 39, 90,   // on 3 at 256
                                                         0x81, 0x7F, 0x80, 39, 64,   // off 3 at 511
                                                         0x84, 0x00, 0x80, 36, 64}));  // off 0 at 1023

  // A three-byte delta, and a zero-length note whose note-off shares the note-on's tick.
  Sequencer u(8, 16, 32);
  u.addNote(7, 16384, 0, 127);
  EXPECT_EQ(u.buildExportEvents(), (std::vector<uint8_t>{0x81, 0x80, 0x00, 0x90, 43, 127, 0x00, 0x80, 43, 64}));

  // Overlapping notes: the first one ends where the second starts.
  Sequencer o(8, 16, 32);
  o.addNote(0, 0, 2048, 100);
  o.addNote(0, 1024, 512, 70);
  EXPECT_EQ(o.buildExportEvents(), (std::vector<uint8_t>{0x00, 0x90, 36, 100, 0x88, 0x00, 0x80, 36, 64,
                                                         0x00, 0x90, 36, 70, 0x83, 0x7F, 0x80, 36, 64}));

  EXPECT_TRUE(Sequencer(8, 16, 32).buildExportEvents().empty());
}

TEST(SequencerExport, SwingPlacesNotesWhereThePlayerPlaysThem) {
  for (float swing : {50.0f, -50.0f, 20.0f}) {
    Sequencer s(8, 16, 32);
    s.params[Sequencer::kSwing].setValue(swing);
    s.addNote(0, 1024, 100, 100);  // step 1, the second step of a pair
    const std::vector<MidiEvent> events = decode(s.buildExportEvents());
    ASSERT_EQ(events.size(), 2u);
    const int64_t want = std::llround((1.0 + swing / 100.0) * 1024.0);
    EXPECT_EQ(events[0].tick, want) << swing;

    // The live player starts it at the same point of time.
    const float sr = 96000.0f;
    const std::vector<Played> live = play(s, sr, static_cast<int>(0.3 / (kSubBlock / sr)));
    ASSERT_FALSE(live.empty());
    const double playedAtTicks = live[0].block * (kSubBlock / static_cast<double>(sr)) * 8192.0;
    EXPECT_NEAR(playedAtTicks, static_cast<double>(want), kSubBlock / static_cast<double>(sr) * 8192.0 + 1.0);
  }
}

TEST(SequencerExport, LoosenessNeverWrapsTicks) {
  Sequencer s(8, 16, 32);
  s.params[Sequencer::kLooseTime].setValue(100.0f);
  s.params[Sequencer::kLooseVelo].setValue(100.0f);
  for (int lane = 0; lane < 8; ++lane) {
    s.addNote(lane, 1, 300, 100);
    s.addNote(lane, 2, 0, 3);
    s.addNote(lane, 3, 5, 126);
  }
  bool sawClampedStart = false;
  std::vector<uint8_t> previous;
  bool differ = false;
  for (int round = 0; round < 64; ++round) {
    const std::vector<uint8_t> bytes = s.buildExportEvents();
    if (!previous.empty() && bytes != previous) differ = true;
    previous = bytes;
    const std::vector<MidiEvent> events = decode(bytes);
    ASSERT_EQ(events.size(), 48u);
    int64_t last = 0;
    for (const MidiEvent& e : events) {
      ASSERT_GE(e.tick, last);
      ASSERT_LT(e.tick, 1000) << "a tick wrapped";
      last = e.tick;
      if (e.status == 0x90) {
        ASSERT_GE(e.velocity, 1);
        ASSERT_LE(e.velocity, 127);
        if (e.tick == 0) sawClampedStart = true;
      }
    }
  }
  EXPECT_TRUE(sawClampedStart);  // some note was pulled before zero and held there
  EXPECT_TRUE(differ);           // every export draws anew
}

TEST(SequencerExport, FullBlockOfNotes) {
  std::vector<BlockLane> full(8);
  for (size_t l = 0; l < 8; ++l) {
    for (int i = 0; i < 255; ++i) full[l].notes.push_back({i * 257, 200 + static_cast<int>(l), 100});
  }
  Sequencer s(8, 16, 32);
  load(s, makeBlock(full));
  const std::vector<MidiEvent> events = decode(s.buildExportEvents());
  ASSERT_EQ(events.size(), 8u * 255u * 2u);
  int ons = 0;
  int64_t last = 0;
  for (const MidiEvent& e : events) {
    ASSERT_GE(e.tick, last);
    last = e.tick;
    ASSERT_GE(e.key, 36);
    ASSERT_LE(e.key, 43);
    if (e.status == 0x90) ++ons;
    else ASSERT_EQ(e.velocity, 64);
  }
  EXPECT_EQ(ons, 8 * 255);
  EXPECT_EQ(last, 254 * 257 + 207 - 1);
}

TEST(SequencerRandom, GeneratorVelocityAndTimingWalk) {
  Sequencer s(8, 16, 32);
  seedRandom(12345u);
  const uint32_t x1 = static_cast<uint32_t>((12345ull * 1664525ull + 1013904223ull) & 0xFFFFFFFFull);
  const float r1 = static_cast<float>(x1) * 2.3283e-10f;
  s.params[Sequencer::kLooseVelo].setValue(50.0f);
  EXPECT_EQ(s.randomizeVelocity(100), 100 + static_cast<int>((r1 - 0.5f) * 50.0f));
  EXPECT_EQ(Sequencer::sharedRandom().peek(), x1);

  // Velocity spread stays in 1..127 and reaches both ends.
  s.params[Sequencer::kLooseVelo].setValue(100.0f);
  int lowest = 127, highest = 1;
  for (int i = 0; i < 2000; ++i) {
    const int v = s.randomizeVelocity(i % 2 == 0 ? 1 : 127);
    ASSERT_GE(v, 1);
    ASSERT_LE(v, 127);
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
  }
  EXPECT_EQ(lowest, 1);
  EXPECT_EQ(highest, 127);

  // The timing walk: a stationary spread of a / sqrt(3) with a = 0.2 steps at full looseness.
  s.params[Sequencer::kLooseTime].setValue(100.0f);
  float jitter = 0.0f;
  double sumSquares = 0.0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    s.randomizeTiming(jitter, 64.0f / 48000.0f);
    sumSquares += static_cast<double>(jitter) * jitter;
  }
  EXPECT_NEAR(std::sqrt(sumSquares / n), 0.2 / std::sqrt(3.0), 0.02);

  // No time, no move; a broken interval keeps the value finite.
  jitter = 0.05f;
  s.randomizeTiming(jitter, 0.0f);
  EXPECT_FLOAT_EQ(jitter, 0.05f);
  for (float dt : {-0.2f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    s.randomizeTiming(jitter, dt);
    EXPECT_TRUE(std::isfinite(jitter)) << dt;
  }
  seedRandom(12345u);
}

TEST(SequencerPlay, AudioSideDoesNotAllocate) {
  Sequencer s(8, 16, 32);
  s.params[Sequencer::kSwing].setValue(30.0f);
  s.params[Sequencer::kLooseTime].setValue(50.0f);
  s.params[Sequencer::kLooseVelo].setValue(50.0f);
  for (int lane = 0; lane < 8; ++lane) {
    for (int i = 0; i < 16; ++i) s.addNote(lane, i * 1024 + lane * 64, 300, 100);
  }
  AllocationCounter counter;
  int events = 0;
  for (int b = 0; b < 3000; ++b) {
    const int last = s.advance(64.0 / 44100.0);
    for (int lane = 0; lane <= last; ++lane) events += s.pollLane(lane) >= 0 ? 1 : 0;
    if (b == 1000) s.setPosition(7.3);
    if (b == 2000) {
      s.releaseAll();
      s.resetPlayState();
    }
  }
  EXPECT_EQ(counter.count(), 0);
  EXPECT_GT(events, 100);
}

// The editor changes the pattern while the audio thread plays it.
TEST(SequencerPlay, EditingWhilePlaying) {
  Sequencer s(8, 16, 32);
  s.params[Sequencer::kBpm].setValue(400.0f);
  s.params[Sequencer::kSwing].setValue(-30.0f);
  s.params[Sequencer::kLooseTime].setValue(60.0f);
  s.params[Sequencer::kLooseVelo].setValue(60.0f);

  std::vector<BlockLane> full(8);
  for (BlockLane& lane : full) {
    for (int i = 0; i < 255; ++i) lane.notes.push_back({i * 64, 60, 100});
  }
  const std::vector<uint8_t> blocks[] = {
      makeBlock(full, {400.0f, 0.0f, -30.0f, 60.0f, 60.0f}),
      makeBlock({{12, {{0, 500, 90}, {3000, 500, 90}}}, {0, {{100, 0, 0}}}, {5, {{1, 9000, 127}}}},
                {400.0f, 0.0f, -30.0f, 60.0f, 60.0f}),
      makeBlock({}, {400.0f, 0.0f, -30.0f, 60.0f, 60.0f}),
  };

  std::atomic<bool> stop{false};
  std::atomic<int64_t> blocksPlayed{0};
  std::atomic<int64_t> notesPlayed{0};
  std::thread audio([&] {
    int64_t b = 0, played = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      const int last = s.advance(64.0 / 48000.0);
      if (last < -1 || last > 7) ADD_FAILURE() << last;
      for (int lane = 0; lane <= last; ++lane) {
        const int v = s.pollLane(lane);
        if (v < -1 || v > 127) ADD_FAILURE() << v;
        if (v > 0) ++played;
      }
      ++b;
      if (b % 997 == 0) s.setPosition(static_cast<double>(b % 37) - 5.0);
      if (b % 1499 == 0) s.releaseAll();
      if (b % 4001 == 0) s.resetPlayState();
    }
    blocksPlayed.store(b);
    notesPlayed.store(played);
  });

  uint32_t r = 2024;
  const auto next = [&r] { return (r = r * 1664525u + 1013904223u) >> 8; };
  std::vector<uint8_t> scratch(4096);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  while (std::chrono::steady_clock::now() < deadline) {
    const uint32_t op = next() % 100;
    const int lane = static_cast<int>(next() % 9);
    if (op < 50) {
      s.addNote(lane, static_cast<int>(next() % 16384), static_cast<int>(next() % 2048), static_cast<uint8_t>(next() % 128));
    } else if (op < 75) {
      s.removeNote(lane, static_cast<int>(next() % 40) - 2);
    } else if (op < 85) {
      s.clearLane(next() % 4 == 0 ? Sequencer::kAllLanes : lane);
    } else if (op < 92) {
      const std::vector<uint8_t>& block = blocks[next() % 3];
      s.deserialize(block.data(), static_cast<int>(block.size()), 4);
    } else if (op < 96) {
      s.serialize(scratch.data(), static_cast<int>(scratch.size()));
      s.findNoteAt(lane, static_cast<int>(next() % 16384));
    } else {
      s.buildExportEvents();
    }
  }
  stop.store(true);
  audio.join();
  EXPECT_GT(blocksPlayed.load(), 100);
  EXPECT_GT(notesPlayed.load(), 0);
}
