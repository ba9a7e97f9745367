#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "effects/FxBase.h"
#include "engine/BandSynth.h"

namespace {

class EffectTypeSync : public ::testing::Test {
 protected:
  Param& slotParam(int s, int k) { return engine->params[static_cast<size_t>(BandSynth::slotParam(s, k))]; }
  std::string installed(int s) {
    FxBase* e = engine->slot(s).effect.load();
    return e != nullptr ? e->name() : "";
  }

  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
};

TEST_F(EffectTypeSync, SilentSlotsGetTheirTypesOnceTheEngineHasARate) {
  engine->updateEffectTypes();
  for (int s = 0; s < 4; ++s) EXPECT_EQ(installed(s), "");
  engine->sampleRate = 48000.0f;
  engine->updateEffectTypes();
  const char* names[4] = {"Chorus", "Diffuser", "Sticky Compressor", "L.A. Optical"};
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(engine->slot(s).typeIndex.load(), s % 2);
    EXPECT_EQ(installed(s), names[s]);
    EXPECT_EQ(engine->slot(s).sampleRate.load(), 48000.0f);
    EXPECT_EQ(engine->slot(s).effect.load()->params, &slotParam(s, SlotParam::kEffect0));
  }
  FxBase* before = engine->slot(0).effect.load();
  engine->updateEffectTypes();  // nothing to do
  EXPECT_EQ(engine->slot(0).effect.load(), before);

  // A sounding slot switches only once faded out, then with the new effect's defaults.
  slotParam(0, SlotParam::kType).setValue(3.0f);
  slotParam(0, SlotParam::kEffect0).setValue(30.0f);
  FxSlot& slot = engine->slot(0);
  for (const auto& [target, fade, name] : {std::tuple{1.0f, 1.0f, "Chorus"}, {0.0f, 0.4f, "Chorus"}, {0.0f, 0.0f, "Room Reverb"}}) {
    slot.target = target;
    slot.fade = fade;
    engine->updateEffectTypes();
    EXPECT_EQ(installed(0), name);
  }
  EXPECT_EQ(slot.typeIndex.load(), 3);
  EXPECT_STREQ(slotParam(0, SlotParam::kEffect1).label, "Color");
  EXPECT_EQ(slotParam(0, SlotParam::kEffect0).value, 50.0f);
}

TEST_F(EffectTypeSync, KeepingValuesUntilEveryTypeMatches) {
  engine->sampleRate = 48000.0f;
  engine->updateEffectTypes();
  slotParam(1, SlotParam::kType).setValue(3.0f);
  engine->updateEffectTypes();
  // Room to spring reverb keeps the values; slot 2 still sounds, so the flag stays until it
  // has switched too.
  slotParam(1, SlotParam::kEffect0).setValue(80.0f);
  slotParam(1, SlotParam::kType).setValue(4.0f);
  slotParam(2, SlotParam::kType).setValue(1.0f);
  slotParam(2, SlotParam::kEffect0).setValue(30.0f);
  engine->keepFxParams = 1;
  engine->slot(2).target = 1.0f;
  engine->updateEffectTypes();
  EXPECT_EQ(installed(1), "Spring Reverb");
  EXPECT_EQ(slotParam(1, SlotParam::kEffect0).value, 80.0f);
  EXPECT_EQ(installed(2), "Sticky Compressor");
  EXPECT_EQ(engine->keepFxParams, 1);
  engine->slot(2).target = 0.0f;
  engine->updateEffectTypes();
  EXPECT_EQ(installed(2), "L.A. Optical");
  EXPECT_EQ(slotParam(2, SlotParam::kEffect0).value, 30.0f);
  EXPECT_EQ(engine->keepFxParams, 0);
}

TEST_F(EffectTypeSync, RingAdvancesOnlyWhenTheBlobChanges) {
  DrumTrack& track = engine->tracks[2];
  for (int i = 0; i < 3; ++i) engine->updateEffectTypes();
  EXPECT_EQ(track.ringIndexA.load(), 0);
  for (int edit = 1; edit <= 6; ++edit) {
    track.blobs[0].attract(0.3f, 0.2f, 0.1f, 0.1f, 0.5f);
    track.blobs[0].name = "kick";
    for (int i = 0; i < 3; ++i) engine->updateEffectTypes();  // idle calls leave the ring alone
    EXPECT_EQ(track.ringIndexA.load(), edit);
    const Blob& entry = track.currentSnapshot(0);
    EXPECT_EQ(&entry, &track.snapshotsA[edit % 4]);
    EXPECT_EQ(entry.revision, track.blobs[0].revision);
    EXPECT_EQ(entry.gridA, track.blobs[0].gridA);
    EXPECT_EQ(entry.name, "kick");
  }
  for (int t = 0; t < 8; ++t) EXPECT_EQ(engine->tracks[t].ringIndexA.load() + track.ringIndexB.load(), t == 2 ? 6 : 0);

  // copyTrackBlobs carries names and marks; copied back, the hand-over notices. An entry is
  // overwritten in place: its grids keep their storage.
  Blob pair[2];
  track.blobs[0].modified = 3;
  track.blobs[1].present = 0;
  BandSynth::copyTrackBlobs(track.blobs, pair);
  EXPECT_EQ(pair[0].name, "kick");
  EXPECT_EQ(pair[0].modified, 3);
  EXPECT_EQ(pair[0].gridA, track.blobs[0].gridA);
  EXPECT_EQ(pair[1].present, 0u);
  pair[1].present = 1;
  pair[1].name = "hat";
  pair[1].mirror(1);
  const float* storage = track.snapshotsB[1].gridA[3].data();
  BandSynth::copyTrackBlobs(pair, track.blobs);
  engine->updateEffectTypes();
  EXPECT_EQ(track.ringIndexB.load(), 1);
  EXPECT_EQ(track.currentSnapshot(1).name, "hat");
  EXPECT_EQ(track.snapshotsB[1].gridA[3].data(), storage);
}

}  // namespace

namespace {

// While the audio side may be in a pass, the hand-over runs at most three entries ahead of the
// entry the audio side announced; the fourth waits until a pass has taken a newer one. Told that
// no block renders, it goes on regardless, and only then installs effects.
TEST_F(EffectTypeSync, HandOverNeverOverwritesTheEntryAPassMayRead) {
  DrumTrack& track = engine->tracks[1];
  auto edit = [&] { track.blobs[0].attract(0.3f, 0.2f, 0.1f, 0.1f, 0.5f); };
  for (int expected : {1, 2, 3, 3, 3}) {
    edit();
    engine->updateEffectTypes(false);
    EXPECT_EQ(track.ringIndexA.load(), expected);
  }
  EXPECT_EQ(&track.passSnapshot(0), &track.snapshotsA[0]);  // what the audio side still reads
  track.beginPass();
  EXPECT_EQ(&track.passSnapshot(0), &track.snapshotsA[3]);
  engine->updateEffectTypes(false);
  EXPECT_EQ(track.ringIndexA.load(), 4);
  EXPECT_EQ(track.currentSnapshot(0).revision, track.blobs[0].revision);
  for (int i = 0; i < 3; ++i) edit(), engine->updateEffectTypes(false);
  EXPECT_EQ(track.ringIndexA.load(), 6);
  engine->updateEffectTypes(true);
  EXPECT_EQ(track.ringIndexA.load(), 7);

  engine->sampleRate = 48000.0f;
  EXPECT_TRUE(engine->effectSwitchDue());
  engine->updateEffectTypes(false);
  EXPECT_EQ(installed(0), "");
  EXPECT_TRUE(engine->effectSwitchDue());
  engine->updateEffectTypes(true);
  EXPECT_EQ(installed(0), "Chorus");
  EXPECT_FALSE(engine->effectSwitchDue());
}

}  // namespace
