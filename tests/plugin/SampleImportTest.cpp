#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "plugin/SampleImport.h"
#include "support/TestAudio.h"

namespace {

TEST(SampleImport, ExtensionsInAnyCaseAtTheEndOnly) {
  const struct {
    const char* name;
    bool accepted;
  } rows[] = {{"kick.wav", true},  {"KICK.WAV", true},   {"a b.Aif", true},     {"x.aiff", true},
              {"x.FLAC", true},    {"dir.wav/x.flac", true}, {"x.mp3", false}, {"x.wav.txt", false},
              {"wav", false},      {"x.wave", false},    {"x.aifc", false},     {"", false}};
  for (const auto& r : rows) EXPECT_EQ(IsImportableAudioFile(r.name), r.accepted) << r.name;
}

TEST(SampleImport, FilesAndFoldersBecomeEntriesInOrder) {
  testaudio::TempFolder top;
  for (const char* f : {"KICK.WAV", "notes.txt", "drums/a.aif", "drums/c.ogg", "drums/deep/B.Flac", "drums/.x.wav"}) {
    std::filesystem::create_directories(std::filesystem::path(top.file(f)).parent_path());
    ASSERT_TRUE(testaudio::writeFileBytes(top.file(f), {1, 2, 3}));
  }
  const std::string t = top.path() + "/";
  const std::vector<ImportEntry> entries = CollectImportEntries(
      {top.file("KICK.WAV"), top.file("drums"), top.file("missing.wav"), top.file("notes.txt"), t + "drums/"});
  std::vector<std::pair<std::string, std::string>> got;
  for (const ImportEntry& e : entries) got.emplace_back(e.name, e.folder);
  // The dropped file first; each folder's files in the order the walk gives, so compared sorted.
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0], std::make_pair(std::string("KICK.WAV"), t));
  const std::vector<std::pair<std::string, std::string>> walked = {{"B.Flac", t + "drums/deep/"}, {"a.aif", t + "drums/"}};
  for (size_t from : {1, 3}) {
    std::vector<std::pair<std::string, std::string>> folder(got.begin() + from, got.begin() + from + 2);
    std::sort(folder.begin(), folder.end());
    EXPECT_EQ(folder, walked);
  }
}

TEST(SampleImport, SlotOfEachEntry) {
  const struct {
    int32_t slot;
    float transform;
    size_t index;
    int32_t expected;
  } rows[] = {{0, 0.9f, 0, 0},  {0, 0.9f, 1, 1},  {1, 0.0f, 0, 1},   {1, 0.0f, 1, 0},  {-1, 0.0f, 0, 0},
              {-1, 0.5f, 0, 0}, {-1, 0.51f, 0, 1}, {-1, 0.51f, 1, 0}, {-1, 1.0f, 1, 0}, {-5, 0.2f, 1, 1}};
  for (const auto& r : rows)
    EXPECT_EQ(ImportSlot(r.slot, r.transform, r.index), r.expected) << r.slot << " " << r.transform << " " << r.index;
}

TEST(SampleImport, BatchGoesOneEntryPerStepThenEmpties) {
  std::vector<ImportEntry> batch = {{"a.wav", "/x/"}, {"b.wav", "/x/"}, {"c.wav", "/y/"}};
  int32_t index = -1;
  EXPECT_FALSE(NextBatchImport(batch, index));  // not started: nothing happens
  EXPECT_EQ(batch.size(), 3u);
  EXPECT_EQ(index, -1);
  index = 0;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
    const auto entry = NextBatchImport(batch, index);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, name);
  }
  EXPECT_EQ(batch.size(), 3u);
  EXPECT_FALSE(NextBatchImport(batch, index));
  EXPECT_TRUE(batch.empty());
  EXPECT_EQ(index, -1);
}

}  // namespace
