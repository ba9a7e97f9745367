#include <gtest/gtest.h>

#include "platform/OpenFileDialog.h"
#include "plugin/AudioFileDialog.h"
#include "plugin/ModuleResources.h"
#include "support/TestAudio.h"

namespace {
struct RecordingGraphics {
  std::vector<std::string>* log;
  void ReleaseMouseCapture() { log->push_back("released"); }
};
}  // namespace

TEST(AudioFileDialog, ResultReachesTheCompletionBeforeTheMouseIsReleased) {
  OpenFileDialogRequest seen;
  std::vector<std::string> answer = {"/s/1.wav", "/s/2 b.aif", "/s/3.AIFF"};
  setOpenFileDialogBackend([&](const OpenFileDialogRequest& r) {
    seen = r;
    return answer;
  });
  std::vector<std::string> log;
  RecordingGraphics graphics{&log};
  auto completion = [&](const std::vector<std::string>& paths) {
    log.push_back("done");
    log.insert(log.end(), paths.begin(), paths.end());
  };
  PromptForAudioFiles(&graphics, "/start", "wav WAV aif AIF aiff AIFF", completion);
  EXPECT_EQ(seen.initialFolder, "/start");
  EXPECT_EQ(seen.patterns, (std::vector<std::string>{"*.wav", "*.WAV", "*.aif", "*.AIF", "*.aiff", "*.AIFF"}));
  EXPECT_EQ(log, (std::vector<std::string>{"done", "/s/1.wav", "/s/2 b.aif", "/s/3.AIFF", "released"}));

  answer.clear();  // cancelled
  log.clear();
  PromptForAudioFiles(&graphics, "", "", completion);
  EXPECT_TRUE(seen.patterns.empty());
  EXPECT_EQ(log, (std::vector<std::string>{"done", "released"}));
  PromptForAudioFiles<RecordingGraphics>(nullptr, "", "wav", nullptr);
  setOpenFileDialogBackend({});
}

TEST(ModuleResources, OnlyFilesAreFound) {
  testaudio::TempFolder folder;
  const std::string file = folder.file("Roboto-Regular.ttf");
  ASSERT_TRUE(testaudio::writeFileBytes(file, {1, 2, 3}));
  struct Case {
    const char* name;
    int location;
  } cases[] = {{file.c_str(), kResourceFilePath}, {folder.path().c_str(), kResourceFilePath},
               {"Roboto-Regular.ttf", kResourceNotFound}, {"", kResourceNotFound}, {nullptr, kResourceNotFound}};
  for (const Case& c : cases) {
    WDL_String result("unchanged");
    EXPECT_EQ(LocateResource(c.name, "ttf", result, nullptr), c.location);
    EXPECT_STREQ(result.Get(), c.location == kResourceFilePath ? c.name : "unchanged");
  }
  int size = 99;
  EXPECT_EQ(LoadWinResource("font", "ttf", size, nullptr), nullptr);
  EXPECT_EQ(size, 0);
}
