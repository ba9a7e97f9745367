#include <gtest/gtest.h>

#include <cmath>

#include "engine/BandSynth.h"
#include "engine/sequencer/Sequencer.h"
#include "plugin/files/UserDataPaths.h"
#include "plugin/library/KitRandomizer.h"
#include "plugin/library/SoundLibrary.h"
#include "support/ScopedDataRoot.h"

namespace {

// An engine on the test's library and a sequencer holding a note that the pattern modes clear.
struct Kit {
  std::unique_ptr<BandSynth> synth = std::make_unique<BandSynth>();
  Sequencer seq{8, 16, 32};
  Kit() { synth->blobFolder = GetSoundsPath(), seq.addNote(3, 100, 7, 9); }
  // Every parameter and sound name, then the sequencer (fresh engines differ in LFO shapes only).
  std::vector<std::string> state() const {
    std::vector<std::string> s;
    for (const Param& p : synth->params) s.push_back(std::to_string(p.value));
    for (const DrumTrack& t : synth->tracks) s.insert(s.end(), {t.blobs[0].name, t.blobs[1].name});
    std::vector<uint8_t> b(size_t(seq.serialize(nullptr, 0)));
    seq.serialize(b.data(), int32_t(b.size()));
    return s.push_back(std::string(b.begin(), b.end())), s;
  }
  std::string sounds(int t) const { return synth->tracks[t].blobs[0].name + "|" + synth->tracks[t].blobs[1].name; }
  float row1(int32_t k) const { return synth->params[size_t(BandSynth::rowParam(0, k))].value; }
};

}  // namespace

TEST(KitRandomizer, PatternModeKeepsSoundsAndStaysInRange) {
  int total = 0;
  for (uint32_t run = 0; run < 100; ++run) {
    Kit kit;
    std::vector<std::string> before = kit.state(), after;
    ASSERT_TRUE(RandomizeKit(*kit.synth, kit.seq, {}, kRandomizePattern, run * 2654435761u));  // 0 first
    for (int lane = 0; lane < 8; ++lane) {
      EXPECT_LE(kit.seq.lanes[lane].notes.size(), 16u);
      total += int(kit.seq.lanes[lane].notes.size());
      for (const SeqNote& n : kit.seq.lanes[lane].notes)
        EXPECT_TRUE(n.start % 1024 == 0 && n.length == 1024 && n.velocity <= 100 && n.velocity >= 100 - 7 * lane);
    }
    const float bpm = kit.seq.params[Sequencer::kBpm].value;
    EXPECT_TRUE(bpm >= 105.0f && bpm <= 120.0f && bpm == std::round(bpm)) << bpm;
    for (int k : {Sequencer::kSwing, Sequencer::kLooseTime, Sequencer::kLooseVelo})
      EXPECT_TRUE(kit.seq.params[k].value >= 0.0f && kit.seq.params[k].value < 20.0f) << k;
    after = kit.state();
    EXPECT_EQ(std::vector<std::string>(after.begin(), after.end() - 1), std::vector<std::string>(before.begin(), before.end() - 1));
  }
  // A note makes its lane's next step less likely: fewer notes than the weights' 28.1 alone.
  EXPECT_TRUE(total > 2000 && total < 2500) << total;
}

TEST(KitRandomizer, SoundsByCategoryTheRouteAndAZeroSeed) {
  ScopedDataRoot root;
  for (const char* n : {"Drums/Big Kick", "Snares/snare a", "Snares/SNARE b", "misc/thing"}) ASSERT_TRUE(WriteSoundFile(Blob(), n, false));
  for (int32_t mode : {kRandomizeSounds, kRandomizeAll})
    for (uint32_t seed = 0; seed < 12; ++seed) {
      Kit kit, one;
      ASSERT_TRUE(RandomizeKit(*kit.synth, kit.seq, ListLibrarySounds(), mode, seed * 7919u));
      EXPECT_EQ(kit.sounds(0), "Big Kick|Big Kick");  // the only kick
      EXPECT_TRUE(kit.sounds(2) == "snare a|SNARE b" || kit.sounds(2) == "SNARE b|snare a") << kit.sounds(2);
      for (int t : {1, 3, 4, 5, 6, 7}) EXPECT_NE(kit.synth->tracks[t].blobs[0].name, kit.synth->tracks[t].blobs[1].name);
      EXPECT_NE(kit.state()[BandSynth::trackParam(6, TrackParam::kSeed)], kit.state()[BandSynth::trackParam(7, TrackParam::kSeed)]);
      EXPECT_EQ((std::vector<float>{kit.row1(0), kit.row1(1), kit.row1(3)}),  // 1: "Global" "Timescale"
                (mode == kRandomizeAll ? std::vector<float>{10, -1.0f / 6, 1} : std::vector<float>{0, 0, 0}));
      EXPECT_EQ(kit.seq.lanes[3].notes.size() == 1 && kit.seq.lanes[3].notes[0].start == 100, mode == kRandomizeSounds);
      if (seed == 0) {  // taken as 1
        RandomizeKit(*one.synth, one.seq, ListLibrarySounds(), mode, 1);
        EXPECT_EQ(kit.state(), one.state());
      }
    }
  Kit kit;  // a single sound serves every slot
  ASSERT_TRUE(RandomizeKit(*kit.synth, kit.seq, {"Drums/Big Kick.blob"}, kRandomizeSounds, 5));
  for (int t = 0; t < 8; ++t) EXPECT_EQ(kit.sounds(t), "Big Kick|Big Kick");
}

TEST(KitRandomizer, NothingChangesWithoutLibraryOrMode) {
  for (auto [mode, sounds] : {std::pair{1, 0}, {3, 0}, {0, 1}, {4, 1}}) {
    Kit kit;
    const std::vector<std::string> before = kit.state();
    EXPECT_FALSE(RandomizeKit(*kit.synth, kit.seq, std::vector<std::string>(sounds, "x.blob"), mode, 3)) << mode;
    EXPECT_EQ(kit.state(), before) << mode;
  }
}
