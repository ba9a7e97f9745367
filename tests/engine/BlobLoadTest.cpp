#include <gtest/gtest.h>

#include <filesystem>

#include "engine/BandSynth.h"
#include "engine/EngineTestRig.h"
#include "engine/blob/BlobTestSupport.h"
#include "support/TestAudio.h"

namespace {

// A sound loads only from a complete blob file of a version the reader knows: by name with or
// without ".blob", from a subfolder too; anything else leaves the slot exactly as it was.
TEST(BlobLoad, OnlyCompleteBlobFilesLoad) {
  testaudio::TempFolder folder;
  std::filesystem::create_directories(folder.file("sub"));
  Blob source;
  source.clear();
  blob_test::perturb(source, 0.3f, 99u);
  source.refresh();
  const std::vector<uint8_t> bytes = blob_test::bytesOf(source);
  std::vector<uint8_t> version2 = bytes, longer = bytes;
  version2[0] = 2;
  longer.push_back(0);
  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"kick.blob", bytes},     {"sub/snare.blob", bytes},  {"one.blob", {1}},
      {"short.blob", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)},
      {"long.blob", longer},    {"version2.blob", version2}, {"noext", bytes}};
  for (const auto& [name, content] : files) ASSERT_TRUE(testaudio::writeFileBytes(folder.file(name), content));
  const std::pair<const char*, const char*> rows[] = {  // name asked for, name loaded (null: refused)
      {"kick", "kick"},   {"kick.blob", "kick"}, {"sub/snare.blob", "snare"}, {"one", nullptr}, {"short", nullptr},
      {"long", nullptr},  {"version2", nullptr}, {"missing", nullptr},        {"", nullptr},    {"noext", nullptr}};
  for (const auto& [asked, loadedAs] : rows) {
    auto e = std::make_unique<BandSynth>();
    e->blobFolder = folder.path() + "/";
    Blob& slot = e->tracks[5].blobs[1];
    slot.clear();
    slot.name = "<off>";
    slot.present = 0;
    slot.modified = 1;
    const Blob before = slot;
    e->loadBlob(5, 1, asked);
    if (loadedAs != nullptr) {
      EXPECT_TRUE(slot.name == loadedAs && slot.present == 1u && slot.modified == 0 && slot.revision != before.revision) << asked;
      EXPECT_LT(blob_test::maxDifference(slot.gridA, source.gridA), 1e-3f) << asked;
    } else {
      EXPECT_TRUE(slot.name == "<off>" && slot.present == 0u && slot.modified == 1 && slot.revision == before.revision) << asked;
      EXPECT_EQ(slot.gridA, before.gridA) << asked;
    }
  }
  // Tracks and slots outside the engine are ignored.
  BandSynth e;
  e.blobFolder = folder.path() + "/";
  e.loadBlob(8, 0, "kick");
  e.loadBlob(0, 2, "kick");
  e.loadBlob(-1, -1, "kick");
}

}  // namespace

namespace {

// A recorded hit, analysed into a blob, stored as a ".blob" file, loaded into a track and
// played: the note sounds, and the sound stays finite.
TEST(BlobLoad, AnalysedHitRoundTrip) {
  testaudio::TempFolder folder;
  Blob analysed;
  ASSERT_TRUE(analysed.analyze(testaudio::kick(44100.0), 44100.0f, true, 0));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(testaudio::writeFileBytes(folder.file("kick.blob"), analysed.toBytes(bytes)));

  auto e = std::make_unique<BandSynth>();
  e->blobFolder = folder.path() + "/";
  e->loadBlob(3, 0, "kick");
  e->tracks[3].blobs[1].present = 0;
  ASSERT_EQ(e->tracks[3].blobs[0].name, "kick");
  e->updateEffectTypes();
  e->prepare(48000.0f, 2);
  const engine_test::Channels out = engine_test::render(*e, 24000, 256, {{0, 39, 1.0f}});
  EXPECT_TRUE(engine_test::allFinite(out, 100.0f));
  EXPECT_GT(engine_test::energy(out[0]), 1.0);
}

}  // namespace
