#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "engine/sequencer/Sequencer.h"
#include "support/AllocationCounter.h"

namespace {

constexpr int kSubBlock = 64;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// An event passed on to the engine: {sub-block, lane, velocity (0 = note-off)}.
using Played = std::array<int, 3>;
using PlayedList = std::vector<Played>;

// Drives the sequencer as the block processing does: one advance per 64-frame sub-block, then
// a poll of lanes 0 .. the lane advance returned.
PlayedList play(Sequencer& s, float sampleRate, int blocks, int firstBlock = 0) {
  PlayedList out;
  for (int b = 0; b < blocks; ++b) {
    const int last = s.advance(static_cast<float>(kSubBlock) / sampleRate);
    for (int lane = 0; lane <= last; ++lane) {
      const int v = s.pollLane(lane);
      if (v >= 0) out.push_back({firstBlock + b, lane, v});
    }
  }
  return out;
}

// Sub-block in which tick `tick` is crossed, from the ideal tick counts in double; the check
// keeps clear of ticks that float rounding could tip into the neighbouring sub-block.
int blockOf(int tick, double ticksPerBlock) {
  int k = static_cast<int>(std::floor(tick / ticksPerBlock));
  while (std::floor((k + 1) * ticksPerBlock) <= tick) ++k;
  while (k > 0 && std::floor(k * ticksPerBlock) > tick) --k;
  for (int edge : {k, k + 1}) EXPECT_GT(std::fabs(edge * ticksPerBlock - (tick + 1)), 0.01) << "too close: " << tick;
  return k;
}

// A state block written by hand: per lane a count byte, a length byte and per note start,
// length and velocity word (16 bits each), then the five parameters as floats.
struct BlockLane {
  int length = 16;
  std::vector<std::array<int, 3>> notes;
};

std::vector<uint8_t> makeBlock(const std::vector<BlockLane>& lanes,
                               std::vector<float> params = {120.0f, 0.0f, 0.0f, 0.0f, 0.0f}) {
  std::vector<uint8_t> out;
  const auto put = [&out](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (size_t i = 0; i < 8; ++i) {
    const BlockLane lane = i < lanes.size() ? lanes[i] : BlockLane{};
    put(static_cast<uint32_t>(lane.notes.size()), 1);
    put(static_cast<uint32_t>(lane.length), 1);
    for (const auto& n : lane.notes)
      for (int field : n) put(static_cast<uint32_t>(field), 2);
  }
  for (float f : params) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put(bits, 4);
  }
  return out;
}

// 255 notes on every lane, far beyond what editing allows.
std::vector<BlockLane> fullLanes(int spacing, int length) {
  std::vector<BlockLane> full(8);
  for (size_t l = 0; l < 8; ++l)
    for (int i = 0; i < 255; ++i) full[l].notes.push_back({i * spacing, length + static_cast<int>(l), 100});
  return full;
}

void load(Sequencer& s, const std::vector<uint8_t>& block) {
  s.deserialize(block.data(), static_cast<int>(block.size()), 4);
}

std::vector<uint8_t> save(const Sequencer& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.serialize(nullptr, 0)));
  EXPECT_EQ(s.serialize(out.data(), static_cast<int>(out.size())), static_cast<int>(out.size()));
  return out;
}

// Export events decoded back: {absolute tick, status, key, velocity}. A cut stream throws.
std::vector<std::array<int64_t, 4>> decode(const std::vector<uint8_t>& b) {
  std::vector<std::array<int64_t, 4>> out;
  int64_t tick = 0;
  for (size_t i = 0; i < b.size(); i += 3) {
    int64_t delta = 0;
    do delta = (delta << 7) | (b.at(i) & 0x7F);
    while (b.at(i++) & 0x80);
    tick += delta;
    out.push_back({tick, b.at(i), b.at(i + 1), b.at(i + 2)});
  }
  return out;
}

}  // namespace

TEST(Sequencer, DisplayTextsAndDegenerateSizes) {
  Sequencer s(8, 16, 32);
  char text[32];
  const auto shown = [&](int id) {
    s.params[static_cast<size_t>(id)].getDisplayText(text, 32);
    return std::string(text);
  };
  EXPECT_EQ(shown(Sequencer::kBpm), "120");
  EXPECT_EQ(shown(Sequencer::kHostSync), "off");
  s.params[Sequencer::kSwing].setValue(-25.0f);
  EXPECT_EQ(shown(Sequencer::kSwing), "-25%");

  Sequencer none(0, 0, -3);
  EXPECT_EQ(none.advance(0.01), -1);
  EXPECT_EQ(none.pollLane(0), -1);
  EXPECT_EQ(none.cycleLength, 1);
  EXPECT_EQ(none.serialize(nullptr, 0), 20);
}

TEST(SequencerTiming, TempoPositionAndWraps) {
  Sequencer s(8, 16, 32);
  EXPECT_EQ(s.advance(0.125), -1);  // one step at 120 BPM
  EXPECT_EQ(s.tickPosition, 1024);
  for (int i = 0; i < 15; ++i) s.advance(0.125);
  EXPECT_EQ(s.tickPosition, 0);  // wrapped at 16 steps
  EXPECT_NEAR(s.freePosition, 16.0, 1e-9);
  s.advance(0.0625);
  EXPECT_EQ(s.advance(0.0), -1);
  EXPECT_EQ(s.tickPosition, 512);

  Sequencer t(8, 16, 32);
  t.params[Sequencer::kBpm].setValue(90.0f);
  t.advance(0.5);
  EXPECT_EQ(t.tickPosition, 3 * 1024);

  Sequencer f(8, 16, 32);
  for (int i = 0; i < 97; ++i) f.advance(1.0);
  EXPECT_NEAR(f.freePosition, 97.0 * 8.0 - 768.0, 1e-6);  // the free position wraps at 768 steps
  const double before = f.position;
  EXPECT_EQ(f.advance(kInf), -1);  // a block timed from a missing sample rate moves nothing
  EXPECT_EQ(f.advance(kNaN), -1);
  EXPECT_EQ(f.position, before);
}

// Swing stretches the first step of each pair to 1 + swing/100 steps of time; the ticks follow
// that piecewise-linear map, computed here in double.
TEST(SequencerTiming, SwingMapsTimeOntoThePattern) {
  for (float swing : {-50.0f, -20.0f, 35.0f, 50.0f}) {
    Sequencer s(8, 16, 32);
    s.params[Sequencer::kSwing].setValue(swing);
    const double sw = swing / 100.0;
    int previous = 0;
    for (int i = 1; i <= 300; ++i) {
      s.advance(0.05 / 8.0);
      const double t = std::fmod(i * 0.05, 16.0), pair = 2.0 * std::floor(t / 2.0), p = t - pair;
      const double mapped = p < 1.0 + sw ? p / (1.0 + sw) : 1.0 + (p - 1.0 - sw) / (1.0 - sw);
      if (t < 0.05 - 1e-9) previous = 0;  // the cycle wrapped
      ASSERT_NEAR(s.tickPosition, std::max(static_cast<int>(std::floor((pair + mapped) * 1024.0)), previous), 1)
          << swing << " at " << i;
      previous = s.tickPosition;
    }
  }
}

TEST(SequencerPlay, EventsLandInTheirSubBlockAtEveryRate) {
  for (float sampleRate : {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
    Sequencer s(8, 16, 32);
    const float dt = static_cast<float>(kSubBlock) / sampleRate;
    const double tpb = static_cast<double>(dt) * 8192.0;
    PlayedList expected;
    for (auto [lane, start, length, velocity] : {std::array{0, 0, 100, 64}, {2, 1000, 700, 90}, {2, 5000, 300, 80}, {5, 9000, 2000, 127}}) {
      s.addNote(lane, start, length, static_cast<uint8_t>(velocity));
      expected.push_back({blockOf(start, tpb), lane, velocity});
      expected.push_back({blockOf(start + length, tpb), lane, 0});
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(play(s, sampleRate, static_cast<int>(1.95 / dt)), expected) << sampleRate;
  }
}

TEST(SequencerPlay, LaneLengthsRepeatOnTheirOwn) {
  Sequencer s(8, 16, 32);
  load(s, makeBlock({{16, {{0, 512, 100}}}, {12, {{0, 512, 100}}}, {8, {{0, 512, 100}}}}));
  const double blockSeconds = kSubBlock / 48000.0;
  std::vector<double> starts[3];
  for (const Played& p : play(s, 48000.0f, static_cast<int>(3.2 / blockSeconds)))
    if (p[2] > 0) starts[p[1]].push_back(p[0] * blockSeconds);
  const std::vector<double> want[3] = {{0.0, 2.0}, {0.0, 1.5, 3.0}, {0.0, 1.0, 2.0, 3.0}};
  for (int lane = 0; lane < 3; ++lane) {
    ASSERT_EQ(starts[lane].size(), want[lane].size()) << lane;
    for (size_t i = 0; i < want[lane].size(); ++i) EXPECT_NEAR(starts[lane][i], want[lane][i], blockSeconds) << lane;
  }
}

TEST(SequencerPlay, BackToBackOverlappingAndSkippedNotes) {
  const float sr = 44100.0f;
  const double tpb = static_cast<double>(static_cast<float>(kSubBlock) / sr) * 8192.0;
  Sequencer s(8, 16, 32);  // one note's end and the next one's start in a sub-block: only the on
  s.addNote(1, 0, 1024, 100);
  s.addNote(1, 1024, 1024, 70);
  EXPECT_EQ(play(s, sr, 207), (PlayedList{{0, 1, 100}, {blockOf(1024, tpb), 1, 70}, {blockOf(2048, tpb), 1, 0}}));
  Sequencer o(8, 16, 32);  // a note inside a sounding one is not started
  o.addNote(0, 0, 2048, 100);
  o.addNote(0, 1024, 512, 70);
  EXPECT_EQ(play(o, sr, 207), (PlayedList{{0, 0, 100}, {blockOf(2048, tpb), 0, 0}}));

  // A window of 512 ticks still plays; one of 513 is a jump and starts nothing.
  for (int window : {512, 513}) {
    Sequencer w(8, 16, 32);
    w.addNote(0, 511, 100, 100);
    EXPECT_EQ(w.advance(window / 8192.0), window == 512 ? 0 : -1);
    EXPECT_EQ(w.pollLane(0), window == 512 ? 100 : -1);
  }
  // After a relocation a far advance starts nothing and the pattern goes on from there; the
  // relocation by itself skips nothing.
  Sequencer c(8, 16, 32);
  c.addNote(0, 3584, 256, 100);  // step 3.5
  c.addNote(0, 6144, 256, 90);   // step 6
  c.setPosition(3.0);
  EXPECT_EQ(c.advance(0.1), -1);  // 819 ticks
  EXPECT_TRUE(play(c, 48000.0f, 200).empty());
  EXPECT_EQ(play(c, 48000.0f, 20).at(0)[2], 90);
  Sequencer d(8, 16, 32);
  d.addNote(0, 3584, 256, 100);
  d.setPosition(3.45);
  EXPECT_EQ(play(d, 48000.0f, 50).at(0)[2], 100);
}

TEST(SequencerPlay, BusyLockMovesOnlyThePositionAndTheLanesCatchUp) {
  Sequencer s(8, 16, 32);
  s.addNote(3, 300, 100, 100);
  std::atomic<int> phase{0};
  std::thread editor([&] {
    const std::lock_guard<std::mutex> held(s.lock);
    phase.store(1);
    while (phase.load() != 2) std::this_thread::yield();
  });
  while (phase.load() != 1) std::this_thread::yield();
  EXPECT_EQ(s.advance(0.03), 0);  // 245 ticks
  EXPECT_NEAR(s.position, 0.24, 1e-9);
  EXPECT_EQ(s.tickPosition, 0);
  EXPECT_EQ(s.pollLane(3), -1);
  phase.store(2);
  editor.join();
  EXPECT_EQ(s.advance(0.01), 3);  // the note at 300 lies in the combined window
  EXPECT_EQ(s.tickPosition, static_cast<int>(0.32 * 1024));
  EXPECT_EQ(s.laneStates[3].laneTick, s.tickPosition);
  EXPECT_EQ(s.pollLane(3), 100);
}

TEST(SequencerPlay, EmptiedLanesReleaseAllAndReset) {
  const float sr = 48000.0f;
  Sequencer s(8, 16, 32);
  for (int lane : {0, 1, 2, 4}) s.addNote(lane, 0, 8000, 100);
  ASSERT_EQ(play(s, sr, 5).size(), 4u);
  s.clearLane(0);  // a lane emptied under a sounding note still ends it
  EXPECT_EQ(play(s, sr, 1, 5), (PlayedList{{5, 0, 0}}));
  s.removeNote(1, 0);
  EXPECT_EQ(play(s, sr, 1, 6), (PlayedList{{6, 1, 0}}));
  EXPECT_EQ(s.releaseAll(), 4);  // lanes 2 and 4 still sound
  EXPECT_EQ(s.pollLane(2), 0);
  EXPECT_EQ(s.pollLane(4), 0);
  EXPECT_EQ(s.releaseAll(), -1);
  for (int lane : {4, 8, -1}) EXPECT_EQ(s.pollLane(lane), -1);
  s.resetPlayState();
  EXPECT_EQ(s.position + s.freePosition + s.tickPosition, 0.0);
  EXPECT_EQ(play(s, sr, 1), (PlayedList{{0, 2, 100}, {0, 4, 100}}));  // again from step 0
  load(s, makeBlock({}));  // loading an empty pattern ends what sounds
  EXPECT_EQ(play(s, sr, 1, 1), (PlayedList{{1, 2, 0}, {1, 4, 0}}));
  EXPECT_TRUE(play(s, sr, 100).empty());
}

TEST(SequencerPlay, SetPositionWrapsIntoEveryLane) {
  Sequencer s(8, 16, 32);
  load(s, makeBlock({{16, {}}, {12, {}}, {8, {{7680, 256, 100}}}}));
  s.advance(0.001);  // the player takes note of the loaded lane lengths
  s.setPosition(20.0);
  EXPECT_DOUBLE_EQ(s.position, 4.0);
  EXPECT_EQ(s.laneStates[1].laneTick, 20480 % 12288);
  EXPECT_EQ(s.laneStates[2].laneTick, 4096);
  s.setPosition(-1.0);  // a host's pre-roll wraps in from the end
  EXPECT_DOUBLE_EQ(s.position, 15.0);
  EXPECT_EQ(s.laneStates[0].laneTick, 15360);
  EXPECT_EQ(s.laneStates[1].laneTick, 12288 - 1024);
  EXPECT_EQ(s.laneStates[2].laneTick, 8192 - 1024);
  // The note at step 7.5 of the 8-step lane comes half a step later.
  EXPECT_EQ(play(s, 48000.0f, 60).at(0), (Played{blockOf(512, kSubBlock / 48000.0 * 8192.0), 2, 100}));

  for (double far : {1e15, -1e15, 123456789.123, -0.0001, 1e300}) {
    s.setPosition(far);
    EXPECT_TRUE(s.position >= 0.0 && s.position < 16.0) << far;
    EXPECT_TRUE(s.tickPosition >= 0 && s.tickPosition < 16384) << far;
    for (const SeqLaneState& st : s.laneStates)
      EXPECT_TRUE(st.laneTick >= 0 && st.laneTick < st.laneLength * 1024) << far;
  }
  s.setPosition(3.0);
  s.setPosition(kNaN);
  s.setPosition(kInf);
  EXPECT_DOUBLE_EQ(s.position, 3.0);
}

TEST(SequencerEditing, AddRemoveClearFindAndChangeCount) {
  Sequencer s(8, 16, 32);
  uint32_t seen = s.changeCount.load();
  const auto changes = [&] {
    const uint32_t n = s.changeCount.load() - seen;
    seen += n;
    return n;
  };
  for (auto [start, length, velocity] : {std::array{2048, 512, 100}, {0, 512, 90}, {2048, 256, 80}, {1024, 512, 70}})
    s.addNote(0, start, length, static_cast<uint8_t>(velocity));  // 80 goes before the 100 at 2048
  EXPECT_EQ(changes(), 4u);
  s.addNote(8, 0, 512, 100);  // out of range: ignored, no change
  s.addNote(-1, 0, 512, 100);
  s.removeNote(8, 0);
  s.removeNote(0, 4);
  s.removeNote(0, -1);
  for (int lane : {8, -1, -412}) s.clearLane(lane);
  EXPECT_EQ(changes(), 0u);
  s.removeNote(0, 1);
  EXPECT_EQ(changes(), 1u);
  std::vector<int> velocities;
  for (const SeqNote& n : s.lanes[0].notes) velocities.push_back(n.velocity);
  EXPECT_EQ(velocities, (std::vector<int>{90, 80, 100}));

  for (int i = 0; i < 40; ++i) s.addNote(5, i * 100, 50, 100);
  EXPECT_EQ(s.lanes[5].notes.size(), 32u);  // a full lane takes no more
  s.addNote(6, 70000, -5, 100);             // fields are held to their ranges, not wrapped
  EXPECT_EQ(s.lanes[6].notes[0].start, 65535);
  EXPECT_EQ(s.lanes[6].notes[0].length, 0);

  s.addNote(2, 1024, 1023, 100);
  s.addNote(2, 4096, 99, 100);
  const std::pair<int, float> finds[] = {{1536, 0.5f}, {1024, -1.0f}, {2046, 1022.0f / 1024.0f}, {2047, -1.0f},
                                         {4146, 1.5f}, {3000, -1.0f}};
  for (auto [tick, at] : finds) EXPECT_FLOAT_EQ(s.findNoteAt(2, tick), at) << tick;  // ends are outside
  EXPECT_FLOAT_EQ(s.findNoteAt(1, 1536) + s.findNoteAt(8, 1536) + s.findNoteAt(-1, 1536), -3.0f);
  EXPECT_FLOAT_EQ(s.findNoteAt(6, 65535), -1.0f);  // a zero-length note holds no tick

  load(s, makeBlock({{12, {{0, 100, 100}}}, {8, {{0, 100, 100}}}}));
  changes();
  s.clearLane(1);
  EXPECT_EQ(s.lanes[1].length, 16u);  // a cleared lane gets the cycle length back
  EXPECT_EQ(s.lanes[0].length, 12u);
  s.clearLane(Sequencer::kAllLanes);
  EXPECT_EQ(changes(), 2u);
  for (const SeqLane& lane : s.lanes) EXPECT_TRUE(lane.notes.empty() && lane.length == 16u);
}

TEST(SequencerState, LayoutAndRoundTrip) {
  Sequencer s(8, 16, 32);
  s.addNote(0, 0x1234, 0x0200, 0x55);
  const std::vector<uint8_t> want = makeBlock({{16, {{0x1234, 0x0200, 0x55}}}});
  EXPECT_EQ(want.size(), 8u * 2 + 6 + 20);
  EXPECT_EQ(save(s), want);
  std::vector<uint8_t> small(10, 0xEE);
  EXPECT_EQ(s.serialize(small.data(), 10), static_cast<int>(want.size()));  // the full size still counts

  const std::vector<uint8_t> block = makeBlock({{16, {{0, 512, 100}, {4096, 1024, 127}}},
                                                {12, {{1024, 100, 1}}},
                                                {},
                                                {8, {{7000, 2000, 64}, {7100, 30, 65}, {7200, 30, 66}}},
                                                {255, {{65535, 65535, 127}}}},
                                               {133.0f, 1.0f, 25.0f, 40.0f, 60.0f});
  Sequencer a(8, 16, 32);
  const uint32_t changes = a.changeCount.load();
  EXPECT_EQ(a.deserialize(block.data(), static_cast<int>(block.size()), 4), static_cast<int>(block.size()));
  EXPECT_EQ(a.changeCount.load(), changes + 1);
  EXPECT_EQ(a.params[Sequencer::kSwing].value, 25.0f);
  EXPECT_EQ(a.lanes[4].length, 255u);
  EXPECT_EQ(a.lanes[3].notes[2].lane, 3);
  EXPECT_EQ(save(a), block);
}

TEST(SequencerState, DamagedBlocksLoadAndPlay) {
  const auto exercise = [](Sequencer& s) {
    for (const SeqLane& lane : s.lanes) ASSERT_GE(lane.length, 1u);
    for (const Param& p : s.params) ASSERT_TRUE(std::isfinite(p.value));
    s.params[Sequencer::kBpm].setValue(400.0f);
    s.resetPlayState();
    for (const Played& p : play(s, 44100.0f, 400)) ASSERT_TRUE(p[1] >= 0 && p[1] < 8 && p[2] >= 0 && p[2] <= 127);
    s.buildExportEvents();
  };
  // Length 0 loads as the cycle length; unsorted notes are sorted, equal starts keep their
  // order; only the low byte of a velocity word counts; velocity 0 still plays as a note-on.
  Sequencer s(8, 16, 32);
  load(s, makeBlock({{0, {{3000, 100, 30}, {1000, 100, 11}, {2000, 100, 0x0140}, {1000, 100, 7}}}, {16, {{0, 200, 0}}}}));
  EXPECT_EQ(s.lanes[0].length, 16u);
  std::vector<std::array<int, 2>> notes;
  for (const SeqNote& n : s.lanes[0].notes) notes.push_back({n.start, n.velocity});
  EXPECT_EQ(notes, (std::vector<std::array<int, 2>>{{1000, 11}, {1000, 7}, {2000, 0x40}, {3000, 30}}));
  EXPECT_EQ(play(s, 44100.0f, 2).at(0), (Played{0, 1, 1}));
  exercise(s);

  Sequencer f(8, 16, 32);
  load(f, makeBlock(fullLanes(64, 32)));
  f.addNote(7, 5, 5, 5);  // further edits add nothing
  EXPECT_EQ(f.lanes[7].notes.size(), 255u);
  exercise(f);
  Sequencer w(8, 16, 32);  // notes beyond a short lane, zero lengths, lengths beyond the lane
  load(w, makeBlock({{1, {{60000, 10, 90}, {65535, 65535, 90}}}, {3, {{100, 0, 90}, {200, 65535, 90}}}}));
  exercise(w);

  const std::vector<uint8_t> valid = makeBlock(fullLanes(64, 32), {140.0f, 0.0f, 10.0f, 50.0f, 50.0f});
  for (size_t cut = 0; cut < valid.size(); cut += 97) {  // truncations of a valid block
    Sequencer t(8, 16, 32);
    EXPECT_GE(t.deserialize(valid.data(), static_cast<int>(cut), 4), static_cast<int>(cut));
    exercise(t);
  }
  uint32_t r = 7;
  const auto next = [&r] { return r = r * 1664525u + 1013904223u; };
  for (int round = 0; round < 40; ++round) {  // random bytes
    std::vector<uint8_t> junk(next() % 3000);
    for (uint8_t& b : junk) b = static_cast<uint8_t>(next() >> 24);
    Sequencer j(8, 16, 32);
    load(j, junk);
    exercise(j);
  }
  EXPECT_EQ(Sequencer(8, 16, 32).deserialize(nullptr, 0, 4), 36);
}

TEST(SequencerExport, EventBytes) {
  const struct { std::vector<std::array<int, 4>> notes; std::vector<uint8_t> bytes; } cases[] = {
      {{{0, 0, 512, 100}}, {0x00, 0x90, 36, 100, 0x83, 0x7F, 0x80, 36, 64}},
      // Two lanes interleave by tick; deltas are variable-length quantities.
      {{{0, 0, 1024, 100}, {3, 256, 256, 90}},
       {0x00, 0x90, 36, 100, 0x82, 0x00, 0x90, 39, 90, 0x81, 0x7F, 0x80, 39, 64, 0x84, 0x00, 0x80, 36, 64}},
      // A three-byte delta; a zero-length note ends on its start tick.
      {{{7, 16384, 0, 127}}, {0x81, 0x80, 0x00, 0x90, 43, 127, 0x00, 0x80, 43, 64}},
      // Overlapping notes: the first ends where the second starts.
      {{{0, 0, 2048, 100}, {0, 1024, 512, 70}},
       {0x00, 0x90, 36, 100, 0x88, 0x00, 0x80, 36, 64, 0x00, 0x90, 36, 70, 0x83, 0x7F, 0x80, 36, 64}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    Sequencer s(8, 16, 32);
    for (const auto& n : c.notes) s.addNote(n[0], n[1], n[2], static_cast<uint8_t>(n[3]));
    EXPECT_EQ(s.buildExportEvents(), c.bytes);
  }

  // Every note of a full block, in order, with no tick wrapped.
  Sequencer full(8, 16, 32);
  load(full, makeBlock(fullLanes(257, 200)));
  const auto events = decode(full.buildExportEvents());
  ASSERT_EQ(events.size(), 8u * 255u * 2u);
  for (size_t i = 1; i < events.size(); ++i) ASSERT_GE(events[i][0], events[i - 1][0]);
  for (const auto& e : events) ASSERT_TRUE(e[2] >= 36 && e[2] <= 43 && (e[1] == 0x90 || e[3] == 64));
  EXPECT_EQ(events.back()[0], 254 * 257 + 207 - 1);
}

TEST(SequencerExport, SwingPlacesNotesWhereThePlayerPlaysThem) {
  for (float swing : {50.0f, -50.0f, 20.0f}) {
    Sequencer s(8, 16, 32);
    s.params[Sequencer::kSwing].setValue(swing);
    s.addNote(0, 1024, 100, 100);  // the second step of a pair
    const auto events = decode(s.buildExportEvents());
    ASSERT_EQ(events.size(), 2u);
    const int64_t want = std::llround((1.0 + swing / 100.0) * 1024.0);
    EXPECT_EQ(events[0][0], want) << swing;
    const double ticksPerBlock = kSubBlock / 96000.0 * 8192.0;
    EXPECT_NEAR(play(s, 96000.0f, 450).at(0)[0] * ticksPerBlock, static_cast<double>(want), ticksPerBlock + 1.0);
  }
}

TEST(SequencerExport, LoosenessNeverWrapsTicksAndThePlayerDoesNotAllocate) {
  Sequencer s(8, 16, 32);
  s.params[Sequencer::kLooseTime].setValue(100.0f);
  s.params[Sequencer::kLooseVelo].setValue(100.0f);
  for (int lane = 0; lane < 8; ++lane) {
    s.addNote(lane, 1, 300, 100);
    s.addNote(lane, 2, 0, 3);
    s.addNote(lane, 3, 5, 126);
  }
  bool sawClampedStart = false, differ = false;
  std::vector<uint8_t> previous = s.buildExportEvents();
  for (int round = 0; round < 64; ++round) {
    const std::vector<uint8_t> bytes = s.buildExportEvents();
    differ = differ || bytes != previous;
    previous = bytes;
    const auto events = decode(bytes);
    ASSERT_EQ(events.size(), 48u);
    for (size_t i = 0; i < events.size(); ++i) {
      const auto& e = events[i];
      ASSERT_TRUE(e[0] < 1000 && (i == 0 || e[0] >= events[i - 1][0])) << "a tick wrapped";
      ASSERT_TRUE(e[1] == 0x80 || (e[3] >= 1 && e[3] <= 127));
      sawClampedStart = sawClampedStart || (e[1] == 0x90 && e[0] == 0);
    }
  }
  EXPECT_TRUE(sawClampedStart);  // some note was pulled before zero and held there
  EXPECT_TRUE(differ);           // every export draws anew

  // The audio side of the same busy, swung and loose pattern allocates nothing.
  s.params[Sequencer::kSwing].setValue(30.0f);
  for (int lane = 0; lane < 8; ++lane)
    for (int i = 1; i < 16; ++i) s.addNote(lane, i * 1024 + lane * 64, 300, 100);
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

TEST(SequencerRandom, GeneratorVelocityAndTimingWalk) {
  Sequencer s(8, 16, 32);
  s.params[Sequencer::kLooseVelo].setValue(100.0f);
  s.params[Sequencer::kLooseTime].setValue(100.0f);
  Sequencer::sharedRandom().reseed(12345u);
  std::vector<int> v;  // the spread stays in 1..127 and reaches both ends
  for (int i = 0; i < 2000; ++i) v.push_back(s.randomizeVelocity(i % 2 == 0 ? 1 : 127));
  EXPECT_EQ(*std::min_element(v.begin(), v.end()), 1);
  EXPECT_EQ(*std::max_element(v.begin(), v.end()), 127);

  // The timing walk moves, and stays finite whatever the step.
  float jitter = 0.0f;
  for (int i = 0; i < 1000; ++i) s.randomizeTiming(jitter, 64.0f / 48000.0f);
  EXPECT_TRUE(jitter != 0.0f && std::fabs(jitter) < 1.0f);
  jitter = 0.05f;
  s.randomizeTiming(jitter, 0.0f);
  EXPECT_FLOAT_EQ(jitter, 0.05f);  // no time, no move
  for (float dt : {-0.2f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    s.randomizeTiming(jitter, dt);
    EXPECT_TRUE(std::isfinite(jitter)) << dt;
  }
  Sequencer::sharedRandom().reseed(12345u);
}

// The editor changes and loads the pattern while the audio thread plays it.
TEST(SequencerPlay, EditingWhilePlaying) {
  Sequencer s(8, 16, 32);
  const std::vector<float> params = {400.0f, 0.0f, -30.0f, 60.0f, 60.0f};
  const std::vector<uint8_t> blocks[] = {
      makeBlock(fullLanes(64, 60), params),
      makeBlock({{12, {{0, 500, 90}, {3000, 500, 90}}}, {0, {{100, 0, 0}}}, {5, {{1, 9000, 127}}}}, params),
      makeBlock({}, params),
  };
  load(s, blocks[0]);
  std::atomic<bool> stop{false};
  std::atomic<int64_t> blocksPlayed{0}, notesPlayed{0};
  std::thread audio([&] {
    for (int64_t b = 1; !stop.load(std::memory_order_relaxed); ++b) {
      const int last = s.advance(64.0 / 48000.0);
      if (last < -1 || last > 7) ADD_FAILURE() << last;
      for (int lane = 0; lane <= last; ++lane) {
        const int v = s.pollLane(lane);
        if (v < -1 || v > 127) ADD_FAILURE() << v;
        if (v > 0) notesPlayed.fetch_add(1);
      }
      if (b % 997 == 0) s.setPosition(static_cast<double>(b % 37) - 5.0);
      if (b % 1499 == 0) s.releaseAll();
      if (b % 4001 == 0) s.resetPlayState();
      blocksPlayed.store(b);
    }
  });
  uint32_t r = 2024;
  const auto next = [&r] { return (r = r * 1664525u + 1013904223u) >> 8; };
  std::vector<uint8_t> scratch(4096);
  // The editor works until both sides have done enough to meet, however slow the machine; the
  // time bound only keeps a hang from running forever.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int edits = 0; (edits < 20000 || blocksPlayed.load() <= 200 || notesPlayed.load() == 0) &&
                      std::chrono::steady_clock::now() < giveUp;
       ++edits) {
    const uint32_t op = next() % 100;
    const int lane = static_cast<int>(next() % 9);
    if (op < 50) {
      s.addNote(lane, static_cast<int>(next() % 16384), static_cast<int>(next() % 2048), static_cast<uint8_t>(next() % 128));
    } else if (op < 75) {
      s.removeNote(lane, static_cast<int>(next() % 40) - 2);
    } else if (op < 85) {
      s.clearLane(next() % 4 == 0 ? Sequencer::kAllLanes : lane);
    } else if (op < 92) {
      load(s, blocks[next() % 3]);
    } else if (op < 96) {
      s.serialize(scratch.data(), static_cast<int>(scratch.size()));
      s.findNoteAt(lane, static_cast<int>(next() % 16384));
    } else {
      s.buildExportEvents();
    }
  }
  stop.store(true);
  audio.join();
  EXPECT_GT(blocksPlayed.load(), 200);
  EXPECT_GT(notesPlayed.load(), 0);
}
