#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>

#include "engine/BandSynth.h"
#include "engine/sequencer/Sequencer.h"
#include "plugin/KitRandomizer.h"
#include "plugin/SoundLibrary.h"
#include "plugin/UserDataPaths.h"
#include "support/ScopedDataRoot.h"

namespace {

// An engine and a sequencer on the test's library, with a note the pattern modes must clear.
struct Kit {
  std::unique_ptr<BandSynth> synth = std::make_unique<BandSynth>();
  Sequencer sequencer{8, 16, 32};
  Kit() {
    synth->blobFolder = GetSoundsPath();
    sequencer.addNote(3, 100, 7, 9);
  }
  std::vector<uint8_t> engineBytes() const {
    std::vector<uint8_t> b(size_t(synth->serialize(nullptr, 0)));
    synth->serialize(b.data(), int32_t(b.size()));
    return b;
  }
  std::vector<uint8_t> patternBytes() const {
    std::vector<uint8_t> b(size_t(sequencer.serialize(nullptr, 0)));
    sequencer.serialize(b.data(), int32_t(b.size()));
    return b;
  }
  // What a randomiser run decides: every parameter value and sound name, and the pattern.
  // (Fresh engines differ elsewhere: their LFO shapes start at random.)
  std::pair<std::vector<std::string>, std::vector<uint8_t>> choices() const {
    std::vector<std::string> c;
    for (const Param& p : synth->params) c.push_back(std::to_string(p.value));
    for (const DrumTrack& t : synth->tracks) c.insert(c.end(), {t.blobs[0].name, t.blobs[1].name});
    return {c, patternBytes()};
  }
  std::string sound(int t, int slot) const { return synth->tracks[t].blobs[slot].name; }
  float value(int32_t index) const { return synth->params[size_t(index)].value; }
};

std::vector<std::string> makeLibrary(const std::vector<std::string>& names) {
  for (const std::string& n : names) EXPECT_TRUE(WriteSoundFile(Blob(), n, false)) << n;
  return ListLibrarySounds();
}

TEST(KitRandomizer, PatternModeKeepsSoundsAndStaysInRange) {
  ScopedDataRoot root;
  std::set<float> tempos;
  int notesPerLane[8] = {}, total = 0;
  const int runs = 100;
  for (uint32_t run = 0; run < runs; ++run) {
    const uint32_t seed = run * 2654435761u;  // 0 first
    Kit kit;
    const std::vector<uint8_t> sounds = kit.engineBytes();
    ASSERT_TRUE(RandomizeKit(*kit.synth, kit.sequencer, {}, kRandomizePattern, seed));
    EXPECT_EQ(kit.engineBytes(), sounds);
    for (int lane = 0; lane < 8; ++lane) {
      const std::vector<SeqNote>& notes = kit.sequencer.lanes[size_t(lane)].notes;
      EXPECT_LE(notes.size(), 16u);
      notesPerLane[lane] += int(notes.size());
      total += int(notes.size());
      for (const SeqNote& n : notes) {
        EXPECT_EQ(n.start % 1024, 0) << lane;
        EXPECT_EQ(n.length, 1024) << lane;
        EXPECT_LE(n.velocity, 100);
        EXPECT_GE(n.velocity, lane == 0 ? 100 : 100 - 7 * lane);
        const int step = n.start / 1024;
        // Steps of weight 0 never play.
        EXPECT_FALSE(((lane == 1 || lane == 3) && step % 8 == 0) || (lane == 2 && step % 8 < 3 && step % 2 == 0) ||
                     (lane == 5 && step % 4 < 2) || (lane == 7 && step < 6))
            << "lane " << lane << " step " << step;
      }
    }
    const auto& p = kit.sequencer.params;
    const float bpm = p[Sequencer::kBpm].value;
    EXPECT_TRUE(bpm >= 105.0f && bpm <= 120.0f && bpm == std::round(bpm)) << bpm;
    tempos.insert(bpm);
    for (int k : {Sequencer::kSwing, Sequencer::kLooseTime, Sequencer::kLooseVelo})
      EXPECT_TRUE(p[k].value >= 0.0f && p[k].value < 20.0f) << k << " " << p[k].value;
  }
  EXPECT_GT(tempos.size(), 3u);
  for (int lane = 0; lane < 8; ++lane) EXPECT_GT(notesPerLane[lane], 0) << lane;
  // A note makes the next step of its lane less likely: fewer notes than the 28.1 a pattern
  // would hold on average from the step weights alone.
  EXPECT_GT(total, 20 * runs);
  EXPECT_LT(total, 25 * runs);
}

TEST(KitRandomizer, SameSeedSameKitAndZeroSeedTerminates) {
  ScopedDataRoot root;
  const std::vector<std::string> library = makeLibrary({"a", "b"});  // no category matches
  auto run = [&](uint32_t seed) {
    Kit kit;
    EXPECT_TRUE(RandomizeKit(*kit.synth, kit.sequencer, library, kRandomizeAll, seed));
    for (int t = 0; t < 8; ++t) EXPECT_NE(kit.sound(t, 0), kit.sound(t, 1)) << "track " << t << " seed " << seed;
    return kit.choices();
  };
  EXPECT_EQ(run(0), run(1));
  EXPECT_EQ(run(99), run(99));
  EXPECT_NE(run(99), run(100));
}

TEST(KitRandomizer, SoundsByCategoryWithFallbackAndRoute) {
  ScopedDataRoot root;
  const std::vector<std::string> library =
      makeLibrary({"Drums/Big Kick", "Snares/snare a", "Snares/SNARE b", "misc/thing"});
  const std::set<std::string> all = {"Big Kick", "snare a", "SNARE b", "thing"};
  for (int32_t mode : {kRandomizeSounds, kRandomizeAll}) {
    std::set<std::string> seeds;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
      Kit kit;
      const std::vector<uint8_t> pattern = kit.patternBytes();
      ASSERT_TRUE(RandomizeKit(*kit.synth, kit.sequencer, library, mode, seed * 7919u));
      EXPECT_EQ(kit.sound(0, 0), "Big Kick");  // the only kick, in both slots
      EXPECT_EQ(kit.sound(0, 1), "Big Kick");
      EXPECT_EQ((std::set<std::string>{kit.sound(2, 0), kit.sound(2, 1)}), (std::set<std::string>{"snare a", "SNARE b"}));
      for (int t : {1, 3, 4, 5, 6, 7}) {  // no such sounds: the whole library
        EXPECT_TRUE(all.count(kit.sound(t, 0)) && all.count(kit.sound(t, 1))) << t;
        EXPECT_NE(kit.sound(t, 0), kit.sound(t, 1)) << t;
      }
      for (int t = 0; t < 8; ++t) {
        const float s = kit.value(BandSynth::trackParam(t, TrackParam::kSeed));
        EXPECT_TRUE(s >= 0.0f && s <= 999.0f && s == std::round(s)) << s;
        seeds.insert(std::to_string(s));
      }
      const auto row = [&](int32_t k) { return kit.value(BandSynth::rowParam(1, k)); };
      if (mode == kRandomizeSounds) {
        EXPECT_EQ(kit.patternBytes(), pattern);
        EXPECT_EQ(row(ModRowParam::kSource), 0.0f);
        EXPECT_EQ(row(ModRowParam::kAmount), 0.0f);
      } else {
        for (const SeqLane& lane : kit.sequencer.lanes)
          for (const SeqNote& n : lane.notes) EXPECT_EQ(n.start % 1024, 0);  // the old note went
        EXPECT_EQ(row(ModRowParam::kSource), float(ModSource::kBpmOctave));
        EXPECT_FLOAT_EQ(row(ModRowParam::kAmount), -1.0f / 6.0f);
        ASSERT_EQ(row(ModRowParam::kTarget), 1.0f);
        EXPECT_EQ(kit.synth->exposedParams()[1], BandSynth::globalParam(GlobalParam::kTimescale));
      }
    }
    EXPECT_GT(seeds.size(), 8u);
  }
  // A single sound serves every slot of every track.
  Kit kit;
  ASSERT_TRUE(RandomizeKit(*kit.synth, kit.sequencer, {"Drums/Big Kick.blob"}, kRandomizeSounds, 5));
  for (int t = 0; t < 8; ++t) EXPECT_TRUE(kit.sound(t, 0) == "Big Kick" && kit.sound(t, 1) == "Big Kick") << t;
}

TEST(KitRandomizer, NothingChangesWithoutLibraryOrMode) {
  ScopedDataRoot root;
  const struct {
    int32_t mode;
    bool library;
  } rows[] = {{kRandomizeSounds, false}, {kRandomizeAll, false}, {0, true}, {4, true}, {-1, true}};
  const std::vector<std::string> library = makeLibrary({"kick"});
  for (const auto& r : rows) {
    Kit kit;
    const auto before = std::make_pair(kit.engineBytes(), kit.patternBytes());
    EXPECT_FALSE(RandomizeKit(*kit.synth, kit.sequencer, r.library ? library : std::vector<std::string>{}, r.mode, 3))
        << r.mode;
    EXPECT_EQ(std::make_pair(kit.engineBytes(), kit.patternBytes()), before) << r.mode;
  }
}

}  // namespace
