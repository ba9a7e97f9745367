// Text conversion, and the open-file dialog and module resources a host's editor asks for.
#include <gtest/gtest.h>

#include "platform/OpenFileDialog.h"
#include "plugin/files/ModuleResources.h"
#include "plugin/files/TextConversion.h"
#include "plugin/library/AudioFileDialog.h"

using Paths = std::vector<std::string>;

TEST(TextConversion, ValidTextRoundTripsAndInvalidIsReplaced) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"", u""},
      {"Kick 01~", u"Kick 01~"},
      {"\xC3\xA9\xDF\xBF", {0x00E9, 0x07FF}},                              // 2-byte forms
      {"\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBF\xBF", {0x65E5, 0x672C, 0xFFFF}},  // 3-byte forms
      {"\xF0\x9F\xA5\x81", {0xD83E, 0xDD41}},                              // U+1F941: a surrogate pair
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", {0xD800, 0xDC00, 0xDBFF, 0xDFFF}},
  };
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  }
  // Invalid sequences become replacement characters.
  constexpr char16_t R = 0xFFFD;
  const std::pair<std::string, std::u16string> invalid[] = {
      {"\xC3(", {R, '('}},                                 // a lead without its follower
      {"\xFF\x80", {R, R}},                                // never a lead; a follower alone
      {"\xC0\xAF", {R, R}},         {"\xE0\x80\xAF", {R, R, R}}, {"\xF0\x80\x80\xAF", {R, R, R, R}},  // overlong
      {"\xED\xA0\x80", {R, R, R}},                         // an encoded surrogate
      {"\xF4\x90\x80\x80", {R, R, R, R}},                  // above U+10FFFF
      {"a\xE6\x97", {'a', R}},      {"\xF0\x9F\xA5z", {R, 'z'}},  // truncated: one replacement
  };
  for (const auto& [utf8, utf16] : invalid) EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << testing::PrintToString(utf8);
  const std::pair<std::u16string, std::string> backs[] = {
      {{0xD800}, "\xEF\xBF\xBD"}, {{0xDC00, 0xD83E}, "\xEF\xBF\xBD\xEF\xBF\xBD"}, {{0xD83E, 'A', 0xDD41}, "\xEF\xBF\xBD" "A" "\xEF\xBF\xBD"}};
  for (const auto& [utf16, utf8] : backs) EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
}

TEST(AudioFileDialog, ResultReachesTheCompletionBeforeTheMouseIsReleased) {
  struct RecordingGraphics {
    Paths* log;
    void ReleaseMouseCapture() { log->push_back("released"); }
  };
  OpenFileDialogRequest seen;
  Paths answer = {"/s/1.wav", "/s/2 b.aif"}, log;
  setOpenFileDialogBackend([&](const OpenFileDialogRequest& r) { return seen = r, answer; });
  RecordingGraphics graphics{&log};
  auto completion = [&](const Paths& paths) { log.push_back("done"), log.insert(log.end(), paths.begin(), paths.end()); };
  PromptForAudioFiles(&graphics, "/start", "wav WAV aif AIF aiff AIFF", completion);
  EXPECT_EQ(seen.initialFolder, "/start");
  EXPECT_EQ(seen.patterns, (Paths{"*.wav", "*.WAV", "*.aif", "*.AIF", "*.aiff", "*.AIFF"}));
  EXPECT_EQ(log, (Paths{"done", "/s/1.wav", "/s/2 b.aif", "released"}));
  answer.clear(), log.clear();  // cancelled
  PromptForAudioFiles(&graphics, "", "", completion);
  EXPECT_TRUE(seen.patterns.empty());
  EXPECT_EQ(log, (Paths{"done", "released"}));
  setOpenFileDialogBackend({});
}

TEST(ModuleResources, OnlyFilesAreFound) {
  WDL_String result("unchanged");
  int size = 99;
  for (const char* name : {"/no/such/font.ttf", "font.ttf", "", static_cast<const char*>(nullptr)})
    EXPECT_EQ(LocateResource(name, "ttf", result, nullptr), kResourceNotFound);
  EXPECT_EQ(LocateResource("/dev/null", "ttf", result, nullptr), kResourceFilePath);
  EXPECT_STREQ(result.Get(), "/dev/null");
  EXPECT_EQ(LoadWinResource("font", "ttf", size, nullptr), nullptr);
  EXPECT_EQ(size, 0);
}
