#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "engine/EngineTestRig.h"
#include "plugin/FileUtils.h"
#include "plugin/SoundLibrary.h"
#include "plugin/UserDataPaths.h"
#include "support/ScopedDataRoot.h"

namespace {

using testaudio::AudioFileFormat;

TEST(SoundLibrary, AudioFilesImportedOrRefusedWritingNothing) {
  ScopedDataRoot root;
  testaudio::TempFolder source;
  const int rate = 44100;
  std::vector<float> nanFirst = testaudio::tom(rate);
  std::fill(nanFirst.begin(), nanFirst.begin() + 100, std::numeric_limits<float>::quiet_NaN());
  const struct {
    const char* file;
    AudioFileFormat format;
    std::vector<float> samples;  // empty: the file holds the bytes 1..200 instead
    const char* sound;           // empty: refused
  } rows[] = {{"Kick One.wav", AudioFileFormat::kWav16, testaudio::kick(rate), "0 User/Kick One"},
              {"SNARE.AIFF", AudioFileFormat::kAiff24, testaudio::snare(rate), "0 User/SNARE"},
              {"hat.flac", AudioFileFormat::kFlac16, testaudio::closedHat(rate), "0 User/hat"},
              {"nan.wav", AudioFileFormat::kWavFloat, nanFirst, "0 User/nan"},
              {"quiet.wav", AudioFileFormat::kWav16, std::vector<float>(rate, 0.0f), ""},
              {"faint.wav", AudioFileFormat::kWavFloat, std::vector<float>(rate, 1e-29f), ""},  // too low to analyse
              {"garbage.wav", AudioFileFormat::kWav16, {}, ""}};
  for (const auto& r : rows) {
    if (r.samples.empty()) {
      std::vector<uint8_t> bytes(200);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i + 1);
      ASSERT_TRUE(testaudio::writeFileBytes(source.file(r.file), bytes));
    } else {
      ASSERT_TRUE(testaudio::writeAudioFile(source.file(r.file), r.format, {r.samples}, rate));
    }
    EXPECT_EQ(ImportSoundToLibrary(source.path() + "/", r.file), r.sound) << r.file;
  }
  EXPECT_EQ(ImportSoundToLibrary(source.path() + "/", "missing.wav"), "");
  // Only the imported sounds exist, each a complete blob file.
  std::vector<std::string> sounds = ListLibrarySounds();
  std::sort(sounds.begin(), sounds.end());
  EXPECT_EQ(sounds, (std::vector<std::string>{"0 User/Kick One.blob", "0 User/SNARE.blob", "0 User/hat.blob",
                                              "0 User/nan.blob"}));
  for (const std::string& s : sounds) {
    const std::vector<uint8_t> bytes = ReadFileBytes((GetSoundsPath() + s).c_str());
    Blob blob;
    EXPECT_EQ(blob.deserialize(bytes.data(), int32_t(bytes.size()), nullptr), Blob::kByteSize) << s;
    EXPECT_NE(blob.gridA, Blob().gridA) << s << " holds no analysed sound";
  }
}

TEST(SoundLibrary, ImportedSoundPlaysThroughATrack) {
  ScopedDataRoot root;
  testaudio::TempFolder source;
  ASSERT_TRUE(testaudio::writeAudioFile(source.file("kick.wav"), AudioFileFormat::kWav16, {testaudio::kick(48000)}, 48000));
  const std::string name = ImportSoundToLibrary(source.path() + "/", "kick.wav");
  ASSERT_EQ(name, "0 User/kick");

  auto e = engine_test::makeEngine(48000.0f);
  e->blobFolder = GetSoundsPath();
  for (Blob& b : e->tracks[0].blobs) b.present = 0;  // silent until the sound arrives
  const std::vector<engine_test::NoteEvent> hit = {{0, 36, 1.0f}};
  EXPECT_EQ(engine_test::energy(engine_test::render(*e, 4800, 256, hit, 2)[0]), 0.0);
  e->loadBlob(0, 0, name);
  EXPECT_EQ(e->tracks[0].blobs[0].name, "kick");
  e->updateEffectTypes();
  const engine_test::Channels out = engine_test::render(*e, 9600, 256, hit, 2);
  EXPECT_TRUE(engine_test::allFinite(out, 4.0f));
  EXPECT_GT(engine_test::energy(out[0]), 1.0);
}

TEST(SoundLibrary, SoundFilesWrittenWhereAsked) {
  ScopedDataRoot root;
  Blob blob;
  blob.mirror(1);
  std::vector<uint8_t> expected;
  blob.toBytes(expected);
  const std::string other = root.folder.file("elsewhere/mine.blob");
  const struct {
    std::string name;
    bool isPath;
    std::string path;  // empty: the write fails
  } rows[] = {{"Kits/Deep/low", false, GetSoundsPath() + "Kits/Deep/low.blob"},
              {other, true, other},
              {root.folder.file("elsewhere/mine.blob/x.blob"), true, ""}};  // below a file
  for (const auto& r : rows) {
    EXPECT_EQ(WriteSoundFile(blob, r.name, r.isPath), !r.path.empty()) << r.name;
    if (!r.path.empty()) {
      EXPECT_EQ(ReadFileBytes(r.path.c_str()), expected) << r.name;
    }
  }
  // The listing holds the library's ".blob" files only, wherever they lie.
  for (const char* f : {"a.BLOB", "b.txt", ".hidden.blob"})
    ASSERT_TRUE(testaudio::writeFileBytes(GetSoundsPath() + f, {1}));
  EXPECT_EQ(ListLibrarySounds(), std::vector<std::string>{"Kits/Deep/low.blob"});
}

}  // namespace
