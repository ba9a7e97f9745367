// The start kit: its sounds are drums of their tracks' categories that load and sound, its preset
// is what a fresh instance loads, and installing again never touches the user's files.
#include <filesystem>

#include "plugin/files/UserDataPaths.h"
#include "tests/plugin/FennrakeTestKit.h"
#include "tools/startkit/StartKit.h"

using startkit::InstallStartKit;
using startkit::kKitSounds;

namespace {

std::string soundPath(int track) { return GetSoundsPath() + kKitSounds[track].name + ".blob"; }

}  // namespace

using StartKit = FennrakeTest;

TEST_F(StartKit, SoundsAreAudibleDrumsOfTheirTracksCategories) {
  const startkit::InstallReport report = InstallStartKit();
  ASSERT_TRUE(report.ok()) << report.error;
  EXPECT_EQ(report.installed.size(), std::size(kKitSounds) + 1);
  // The library's drum category of each track, in track order; the eighth track takes any of the last three.
  const std::vector<std::vector<std::string>> categories = {
      {"kick"}, {"rim"}, {"snare"}, {"clap"}, {"percussion"}, {"tom"}, {"hihat"}, {"vocal", "cymbal", "fx"}};
  BandSynth synth;
  synth.blobFolder = GetSoundsPath();
  synth.prepare(48000.0f, 2);
  std::vector<std::vector<float>> out(BandSynth::kMaxOutputChannels, std::vector<float>(96000));
  std::vector<float*> pointers;
  for (auto& c : out) pointers.push_back(c.data());
  for (int t = 0; t < BandSynth::kTrackCount; ++t) {
    const std::string path = soundPath(t);
    EXPECT_EQ(path.rfind(std::getenv("OSKRA_DATA_DIR"), 0), 0u) << path;  // in the test's own folder
    EXPECT_TRUE(std::any_of(categories[t].begin(), categories[t].end(), [&](const std::string& word) { return path.find(word) != std::string::npos; }))
        << path;
    for (int slot = 0; slot < 2; ++slot) synth.loadBlob(t, slot, kKitSounds[t].name);
    ASSERT_EQ(synth.tracks[t].blobs[0].present, 1) << path;
    synth.updateEffectTypes();
    // A hit: loud at once, then gone, not a held tone. Levels of 50 ms pieces of the first 2 s.
    synth.processNote(36 + t, 1.0f, 0, 0);
    synth.processBlock(pointers.data(), 96000, BandSynth::kMaxOutputChannels, 0);
    synth.processNote(36 + t, 0.0f, 0, 0);
    std::vector<float> levels(40, 0.0f);
    for (int k = 0; k < 96000; ++k) levels[size_t(k / 2400)] = std::max({levels[size_t(k / 2400)], std::fabs(out[0][k]), std::fabs(out[1][k])});
    EXPECT_TRUE(levels[0] > 0.1f && levels.back() < 0.01f * levels[0]) << path << " " << levels[0] << " " << levels.back();
  }
}

TEST_F(StartKit, AFreshInstanceLoadsThePresetWithoutAMessage) {
  ASSERT_TRUE(InstallStartKit().ok());
  plug->Reset(48000.0f);
  std::string message;
  EXPECT_FALSE(plug->TakeMessage(message)) << message;
  EXPECT_EQ(plug->mPresetName, "Start Kit");
  EXPECT_FALSE(plug->IsModified());
  for (int t = 0; t < BandSynth::kTrackCount; ++t) {
    for (const Blob& blob : plug->mBandSynth.tracks[t].blobs)
      EXPECT_TRUE(blob.present == 1 && "Start Kit/" + blob.name == kKitSounds[t].name) << blob.name;
    EXPECT_FALSE(plug->mSequencer.lanes[static_cast<size_t>(t)].notes.empty()) << t;
  }
  EXPECT_EQ(plug->mSequencer.params[Sequencer::kBpm].value, startkit::kStartKitBpm);
}

TEST_F(StartKit, InstallingAgainLeavesTheUsersFilesAlone) {
  ASSERT_TRUE(InstallStartKit().ok());
  // The user changes the kick and the preset, and deletes the hi-hat.
  const std::vector<uint8_t> changedKick = testaudio::readFileBytes(soundPath(2)), changedPreset(100, 7);
  const std::string preset = GetPresetsPath() + startkit::kStartPresetFile;
  ASSERT_TRUE(testaudio::writeFileBytes(soundPath(0), changedKick) && testaudio::writeFileBytes(preset, changedPreset));
  ASSERT_TRUE(std::filesystem::remove(soundPath(6)));
  const startkit::InstallReport again = InstallStartKit();
  ASSERT_TRUE(again.ok()) << again.error;
  EXPECT_EQ(again.installed, std::vector<std::string>{soundPath(6)});
  EXPECT_EQ(again.kept.size(), std::size(kKitSounds));
  EXPECT_EQ(testaudio::readFileBytes(soundPath(0)), changedKick);
  EXPECT_EQ(testaudio::readFileBytes(preset), changedPreset);
  ASSERT_TRUE(testaudio::writeFileBytes(root.folder.file("a file"), {1}));  // an unwritable data folder is reported
  root.env.set("OSKRA_DATA_DIR", root.folder.file("a file").c_str());
  EXPECT_FALSE(InstallStartKit().ok());
}
