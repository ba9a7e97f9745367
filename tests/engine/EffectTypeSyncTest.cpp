#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "effects/FxBase.h"
#include "engine/BandSynth.h"

namespace {

class EffectTypeSync : public ::testing::Test {
 protected:
  Param& param(int index) { return engine->params[static_cast<size_t>(index)]; }
  Param& slotParam(int s, int k) { return param(BandSynth::slotParam(s, k)); }
  std::string installedName(int s) {
    FxBase* e = engine->slot(s).effect.load();
    return e != nullptr ? e->name() : "";
  }

  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
};

TEST_F(EffectTypeSync, NothingIsInstalledBeforeTheEngineHasARate) {
  engine->updateEffectTypes();
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(engine->slot(s).typeIndex.load(), -1);
    EXPECT_EQ(engine->slot(s).effect.load(), nullptr);
  }
}

TEST_F(EffectTypeSync, SilentSlotsGetTheirTypes) {
  engine->sampleRate = 48000.0f;
  engine->updateEffectTypes();
  const int types[4] = {0, 1, 0, 1};
  const char* names[4] = {"Chorus", "Diffuser", "Sticky Compressor", "L.A. Optical"};
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(engine->slot(s).typeIndex.load(), types[s]);
    EXPECT_EQ(installedName(s), names[s]);
    EXPECT_EQ(engine->slot(s).sampleRate.load(), 48000.0f);
    EXPECT_EQ(engine->slot(s).effect.load()->params, &slotParam(s, SlotParam::kEffect0));
  }
  // Nothing to do on the next call.
  FxBase* before = engine->slot(0).effect.load();
  engine->updateEffectTypes();
  EXPECT_EQ(engine->slot(0).effect.load(), before);
}

TEST_F(EffectTypeSync, ASoundingSlotSwitchesOnlyOnceFadedOut) {
  engine->sampleRate = 44100.0f;
  engine->updateEffectTypes();
  slotParam(0, SlotParam::kType).setValue(3.0f);
  FxSlot& slot = engine->slot(0);
  slot.target = 1.0f;
  slot.fade = 1.0f;
  engine->updateEffectTypes();
  EXPECT_EQ(installedName(0), "Chorus");
  slot.target = 0.0f;
  slot.fade = 0.4f;
  engine->updateEffectTypes();
  EXPECT_EQ(installedName(0), "Chorus");
  slot.fade = 0.0f;
  engine->updateEffectTypes();
  EXPECT_EQ(installedName(0), "Room Reverb");
  EXPECT_EQ(slot.typeIndex.load(), 3);
  EXPECT_STREQ(slotParam(0, SlotParam::kEffect0).label, "Length");
  EXPECT_STREQ(slotParam(0, SlotParam::kEffect1).label, "Color");
}

TEST_F(EffectTypeSync, SwitchWithoutKeepingTakesTheNewDefaults) {
  engine->sampleRate = 48000.0f;
  engine->updateEffectTypes();
  slotParam(2, SlotParam::kEffect0).setValue(30.0f);
  slotParam(2, SlotParam::kType).setValue(1.0f);  // "L.A. Optical"
  engine->updateEffectTypes();
  EXPECT_EQ(installedName(2), "L.A. Optical");
  EXPECT_EQ(slotParam(2, SlotParam::kEffect0).value, 12.0f);
}

TEST_F(EffectTypeSync, KeepingValuesUntilEveryTypeMatches) {
  engine->sampleRate = 48000.0f;
  engine->updateEffectTypes();
  // Room to spring reverb: the same two parameters keep their values.
  slotParam(1, SlotParam::kType).setValue(3.0f);
  engine->updateEffectTypes();
  slotParam(1, SlotParam::kEffect0).setValue(80.0f);
  slotParam(1, SlotParam::kEffect1).setValue(20.0f);
  slotParam(1, SlotParam::kType).setValue(4.0f);
  slotParam(2, SlotParam::kType).setValue(1.0f);
  slotParam(2, SlotParam::kEffect0).setValue(30.0f);
  engine->keepFxParams = 1;
  // Slot 2 still sounds: no switch there, so the flag stays.
  engine->slot(2).target = 1.0f;
  engine->updateEffectTypes();
  EXPECT_EQ(installedName(1), "Spring Reverb");
  EXPECT_EQ(slotParam(1, SlotParam::kEffect0).value, 80.0f);
  EXPECT_EQ(slotParam(1, SlotParam::kEffect1).value, 20.0f);
  EXPECT_EQ(installedName(2), "Sticky Compressor");
  EXPECT_EQ(engine->keepFxParams, 1);
  engine->slot(2).target = 0.0f;
  engine->updateEffectTypes();
  EXPECT_EQ(installedName(2), "L.A. Optical");
  EXPECT_EQ(slotParam(2, SlotParam::kEffect0).value, 30.0f);
  EXPECT_EQ(engine->keepFxParams, 0);
}

TEST_F(EffectTypeSync, RingAdvancesOnlyWhenTheBlobChanges) {
  DrumTrack& track = engine->tracks[2];
  for (int i = 0; i < 5; ++i) engine->updateEffectTypes();
  EXPECT_EQ(track.ringIndexA.load(), 0);
  EXPECT_EQ(track.ringIndexB.load(), 0);

  for (int edit = 1; edit <= 6; ++edit) {
    track.blobs[0].attract(0.3f, 0.2f, 0.1f, 0.1f, 0.5f);
    track.blobs[0].name = "kick";
    engine->updateEffectTypes();
    EXPECT_EQ(track.ringIndexA.load(), edit);
    const Blob& entry = track.currentSnapshot(0);
    EXPECT_EQ(&entry, &track.snapshotsA[edit % 4]);
    EXPECT_EQ(entry.revision, track.blobs[0].revision);
    EXPECT_EQ(entry.gridA, track.blobs[0].gridA);
    EXPECT_EQ(entry.gridB, track.blobs[0].gridB);
    EXPECT_EQ(entry.name, "kick");
    // Idle calls leave the ring alone.
    engine->updateEffectTypes();
    engine->updateEffectTypes();
    EXPECT_EQ(track.ringIndexA.load(), edit);
  }
  EXPECT_EQ(track.ringIndexB.load(), 0);
  for (int t = 0; t < 8; ++t) {
    if (t != 2) {
      EXPECT_EQ(engine->tracks[t].ringIndexA.load(), 0);
    }
  }
  // An entry is overwritten in place: its grids keep their storage.
  const float* storage = track.snapshotsB[1].gridA[3].data();
  track.blobs[1].mirror(1);
  engine->updateEffectTypes();
  EXPECT_EQ(track.ringIndexB.load(), 1);
  EXPECT_EQ(track.snapshotsB[1].gridA[3].data(), storage);
}

TEST_F(EffectTypeSync, CopyTrackBlobsCarriesNames) {
  Blob pair[2];
  DrumTrack& track = engine->tracks[0];
  track.blobs[0].attract(0.5f, 0.5f, 0.2f, 0.2f, 1.0f);
  track.blobs[0].name = "snare";
  track.blobs[0].modified = 3;
  track.blobs[1].present = 0;
  track.blobs[1].name = "<off>";
  BandSynth::copyTrackBlobs(track.blobs, pair);
  EXPECT_EQ(pair[0].name, "snare");
  EXPECT_EQ(pair[0].modified, 3);
  EXPECT_EQ(pair[0].gridA, track.blobs[0].gridA);
  EXPECT_EQ(pair[1].present, 0u);
  EXPECT_EQ(pair[1].name, "<off>");
  // And back, which the hand-over then notices.
  pair[1].present = 1;
  pair[1].name = "hat";
  BandSynth::copyTrackBlobs(pair, track.blobs);
  EXPECT_EQ(track.blobs[1].name, "hat");
  engine->updateEffectTypes();
  EXPECT_EQ(track.ringIndexB.load(), 1);
  EXPECT_EQ(track.currentSnapshot(1).name, "hat");
}

}  // namespace
