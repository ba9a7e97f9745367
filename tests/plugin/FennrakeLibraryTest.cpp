#include <gtest/gtest.h>

#include "plugin/FennrakeTestKit.h"
#include "plugin/FileUtils.h"
#include "plugin/UserDataPaths.h"

using testaudio::AudioFileFormat;

// Imports through the instance: one or two files land in the selected track (one undo step each,
// so an undo brings back the sounds that were there), a longer list waits for the editor to
// start the batch and then goes into the library one file per idle tick, leaving the kit alone.
TEST_F(FennrakeTest, ImportsReachTheTrackWithAnUndoStepOrTheLibraryInABatch) {
  testaudio::TempFolder in;
  for (const char* name : {"a.wav", "b.wav", "c.wav"})
    ASSERT_TRUE(testaudio::writeAudioFile(in.file(name), AudioFileFormat::kWav16, {testaudio::kick(44100)}, 44100));
  plug->mSelectedTrack = 2;
  plug->PushUndoState(true);
  const std::string before[2] = {plug->mBandSynth.tracks[2].blobs[0].name, plug->mBandSynth.tracks[2].blobs[1].name};

  // "Transform" above half way shows slot B: the first file goes there, the second into A.
  Engine(BandSynth::trackParam(2, TrackParam::kTransform)).setValue(100.0f);
  plug->ImportSamples({in.file("a.wav"), in.file("b.wav")}, -1);
  EXPECT_EQ(plug->mBandSynth.tracks[2].blobs[1].name, "a");
  EXPECT_EQ(plug->mBandSynth.tracks[2].blobs[0].name, "b");
  EXPECT_EQ(plug->GetUndoCount(-1), 2);
  plug->Undo(-2);
  EXPECT_EQ(plug->mBandSynth.tracks[2].blobs[0].name, before[0]);
  EXPECT_EQ(plug->mBandSynth.tracks[2].blobs[1].name, before[1]);

  const std::vector<uint8_t> kit = State();
  plug->ImportSamples({in.path()}, 0);  // a folder of three files: a batch, not started yet
  plug->OnIdle();
  EXPECT_EQ(plug->mLoadQueue.size(), 3u);
  plug->mLoadQueueIndex.store(0);
  for (int tick = 0; tick < 4; ++tick) plug->OnIdle();
  EXPECT_EQ(plug->mLoadQueueIndex.load(), -1);
  EXPECT_TRUE(plug->mLoadQueue.empty());
  EXPECT_TRUE(FileExists((GetSoundsPath() + "0 User/c.blob").c_str()));
  EXPECT_EQ(State(), kit);
  EXPECT_FALSE(plug->ImportSoundFile(in.path() + "/", "missing.wav", 0));
}

// The randomiser's host-visible changes (the tracks' "Seed") reach the host parameters.
TEST_F(FennrakeTest, RandomizedValuesReachTheHostParameters) {
  testaudio::TempFolder in;
  ASSERT_TRUE(testaudio::writeAudioFile(in.file("kick.wav"), AudioFileFormat::kWav16, {testaudio::kick(44100)}, 44100));
  ASSERT_TRUE(plug->ImportSoundFile(in.path() + "/", "kick.wav", -1));
  plug->Randomize(3);
  EXPECT_EQ(plug->mBandSynth.tracks[0].blobs[0].name, "kick");
  for (int i = 0; i < plug->NParams(); ++i) {
    const Param& engine = plug->mBandSynth.params[static_cast<size_t>(plug->mBandSynth.modTargets[static_cast<size_t>(i)])];
    EXPECT_EQ(plug->GetParam(i)->Value(), plug->GetParam(i)->Constrain(engine.value)) << i;
  }
}
