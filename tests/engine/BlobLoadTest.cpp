#include <gtest/gtest.h>

#include <filesystem>

#include "engine/BandSynth.h"
#include "engine/EngineTestRig.h"
#include "engine/blob/BlobTestSupport.h"
#include "support/TestAudio.h"

namespace {

TEST(BlobLoad, OnlyCompleteBlobFilesLoad) {
  testaudio::TempFolder folder;
  std::filesystem::create_directories(folder.file("sub"));
  Blob source;
  source.clear();
  blob_test::perturb(source, 0.3f, 99u);
  source.refresh();
  std::vector<uint8_t> bytes;
  source.toBytes(bytes);
  ASSERT_EQ(bytes.size(), 1137u);

  auto write = [&](const std::string& name, std::vector<uint8_t> content) {
    ASSERT_TRUE(testaudio::writeFileBytes(folder.file(name), content));
  };
  write("kick.blob", bytes);
  write("sub/snare.blob", bytes);
  write("one.blob", {1});
  write("short.blob", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
  write("long.blob", [&] {
    auto b = bytes;
    b.push_back(0);
    return b;
  }());
  write("version2.blob", [&] {
    auto b = bytes;
    b[0] = 2;
    return b;
  }());
  write("noext", bytes);

  const struct {
    const char* name;
    const char* loadedAs;  // null: the slot stays as it was
  } rows[] = {{"kick", "kick"},   {"kick.blob", "kick"}, {"sub/snare.blob", "snare"}, {"one", nullptr},
              {"short", nullptr}, {"long", nullptr},     {"version2", nullptr},       {"missing", nullptr},
              {"", nullptr},      {"noext", nullptr}};
  for (const auto& r : rows) {
    auto e = std::make_unique<BandSynth>();
    e->blobFolder = folder.path() + "/";
    Blob& slot = e->tracks[5].blobs[1];
    slot.clear();
    slot.name = "<off>";
    slot.present = 0;
    slot.modified = 1;
    const uint32_t revision = slot.revision;
    const FloatGrid before = slot.gridA;
    e->loadBlob(5, 1, r.name);
    if (r.loadedAs != nullptr) {
      EXPECT_EQ(slot.name, r.loadedAs) << r.name;
      EXPECT_EQ(slot.present, 1u);
      EXPECT_EQ(slot.modified, 0);
      EXPECT_NE(slot.revision, revision);
      EXPECT_LT(blob_test::maxDifference(slot.gridA, source.gridA), 1e-3f) << r.name;
    } else {
      EXPECT_EQ(slot.name, "<off>") << r.name;
      EXPECT_EQ(slot.present, 0u);
      EXPECT_EQ(slot.modified, 1);
      EXPECT_EQ(slot.revision, revision);
      EXPECT_EQ(slot.gridA, before);
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
