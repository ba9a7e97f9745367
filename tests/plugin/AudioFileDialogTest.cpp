#include <gtest/gtest.h>

#include "platform/OpenFileDialog.h"
#include "plugin/AudioFileDialog.h"
#include "plugin/ModuleResources.h"

using Paths = std::vector<std::string>;

struct RecordingGraphics {
  Paths* log;
  void ReleaseMouseCapture() { log->push_back("released"); }
};

TEST(AudioFileDialog, ResultReachesTheCompletionBeforeTheMouseIsReleased) {
  OpenFileDialogRequest seen;
  Paths answer = {"/s/1.wav", "/s/2 b.aif"}, log;
  setOpenFileDialogBackend([&](const OpenFileDialogRequest& r) { return seen = r, answer; });
  RecordingGraphics graphics{&log};
  auto completion = [&](const Paths& paths) { log.push_back("done"), log.insert(log.end(), paths.begin(), paths.end()); };
  PromptForAudioFiles(&graphics, "/start", "wav WAV aif AIF aiff AIFF", completion);
  EXPECT_EQ(seen.initialFolder, "/start");
  EXPECT_EQ(seen.patterns, (Paths{"*.wav", "*.WAV", "*.aif", "*.AIF", "*.aiff", "*.AIFF"}));
  EXPECT_EQ(log, (Paths{"done", "/s/1.wav", "/s/2 b.aif", "released"}));
  answer.clear();  // cancelled
  log.clear();
  PromptForAudioFiles(&graphics, "", "", completion);
  EXPECT_TRUE(seen.patterns.empty());
  EXPECT_EQ(log, (Paths{"done", "released"}));
  setOpenFileDialogBackend({});
}

TEST(ModuleResources, OnlyFilesAreFound) {
  WDL_String result("unchanged");
  int size = 99;
  for (const char* name : {"/no/such/font.ttf", "font.ttf", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(LocateResource(name, "ttf", result, nullptr), kResourceNotFound);
  }
  EXPECT_EQ(LocateResource("/dev/null", "ttf", result, nullptr), kResourceFilePath);
  EXPECT_STREQ(result.Get(), "/dev/null");
  EXPECT_EQ(LoadWinResource("font", "ttf", size, nullptr), nullptr);
  EXPECT_EQ(size, 0);
}
