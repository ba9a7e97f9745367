#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "engine/blob/Blob.h"
#include "plugin/files/FileUtils.h"
#include "plugin/library/SampleImport.h"
#include "plugin/library/SoundLibrary.h"
#include "support/ScopedDataRoot.h"

using testaudio::AudioFileFormat;

TEST(SampleImport, AcceptedFilesOfPathsAndFoldersAndTheirSlots) {
  testaudio::TempFolder top;
  for (const char* f : {"KICK.WAV", "x.wav.txt", "d/a.aif", "d/c.ogg", "d/e/B.Flac"}) {
    std::filesystem::create_directories(std::filesystem::path(top.file(f)).parent_path());
    ASSERT_TRUE(testaudio::writeFileBytes(top.file(f), {1}));
  }
  std::vector<std::string> got(1);  // a folder's files come in the walk's order: sorted after the first
  for (const ImportEntry& e : CollectImportEntries({top.file("KICK.WAV"), top.file("x.wav.txt"), top.file("no.wav"), top.file("d")}))
    got.push_back(e.folder + e.name);
  std::sort(got.begin() + std::min<size_t>(got.size(), 2), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"", top.file("KICK.WAV"), top.file("d/a.aif"), top.file("d/e/B.Flac")}));
  // {slot, "Transform" position, entry, its slot}: two files with B shown go to B, then A.
  for (auto [slot, transform, index, to] : {std::tuple{0, 0.9f, 1, 1}, {1, 0.0f, 0, 1}, {-1, 0.5f, 0, 0}, {-1, 0.51f, 0, 1}, {-1, 0.51f, 1, 0}})
    EXPECT_EQ(ImportSlot(slot, transform, size_t(index)), to) << slot << " " << transform << " " << index;
}

// Whether a written sound loads and plays the start kit's test shows: it takes the same road.
TEST(SoundLibrary, AudioFilesBecomeSoundsOrWriteNothing) {
  ScopedDataRoot root;
  testaudio::TempFolder in;
  std::vector<float> nanFirst = testaudio::tom(44100);
  std::fill(nanFirst.begin(), nanFirst.begin() + 100, std::numeric_limits<float>::quiet_NaN());
  const std::tuple<const char*, AudioFileFormat, std::vector<float>, const char*> rows[] = {
      {"Kick 1.wav", AudioFileFormat::kWav16, testaudio::kick(44100), "0 User/Kick 1"},
      {"nan.wav", AudioFileFormat::kWavFloat, nanFirst, "0 User/nan"},  // a damaged start hides nothing
      {"quiet.flac", AudioFileFormat::kFlac16, std::vector<float>(9000, 0.0f), ""},
      {"faint.wav", AudioFileFormat::kWavFloat, std::vector<float>(9000, 1e-29f), ""},  // too low to analyse
      {"junk.wav", AudioFileFormat::kWav16, {}, ""}};  // no audio file at all
  for (const auto& [file, format, samples, sound] : rows) {
    ASSERT_TRUE(samples.empty() ? testaudio::writeFileBytes(in.file(file), std::vector<uint8_t>(300, 7))
                                : testaudio::writeAudioFile(in.file(file), format, {samples}, 44100));
    EXPECT_EQ(ImportSoundToLibrary(in.path() + "/", file), sound) << file;
  }
  std::vector<std::string> sounds = ListLibrarySounds();
  EXPECT_TRUE(sounds.size() == 2 && std::is_permutation(sounds.begin(), sounds.end(), std::begin({"0 User/Kick 1.blob", "0 User/nan.blob"})));
  // A sound saved to a path as given; none below a file.
  EXPECT_TRUE(WriteSoundFile(Blob(), root.folder.file("x/y.blob"), true) && FileExists(root.folder.file("x/y.blob")));
  EXPECT_FALSE(WriteSoundFile(Blob(), root.folder.file("x/y.blob/z.blob"), true));
}
