#include <gtest/gtest.h>

#include <thread>

#include "plugin/FileUtils.h"
#include "plugin/UserDataPaths.h"
#include "plugin/UserSettings.h"
#include "support/ScopedDataRoot.h"

TEST(UserSettings, ReadsTheFileAsItStandsAndWritesInKeyOrder) {
  const std::array<const char*, 3> cases[] = {  // file before (null: none); a|c|k|ui_theme|; file after setting a size
      {nullptr, "|||Default.txt|", "ui_size_percent\n150\nui_theme\nDefault.txt\n"},
      // A file saved on Windows with an empty value and a stray key line; no default theme over it.
      {"a\r\nb\r\nk\r\n\r\nc\r\n", "b||||", "a\nb\nk\n\nui_size_percent\n150\n"},
  };
  for (const auto& [before, values, after] : cases) {
    ScopedDataRoot root;
    ASSERT_TRUE(before == nullptr || WriteTextFile(before, GetUserSettingsPath()));
    UserSettings settings;
    EXPECT_EQ(settings.path(), root.folder.file("Oskra Data/userSettings.dat"));
    std::string seen;
    for (const char* key : {"a", "c", "k", "ui_theme"}) seen += settings.Get(key, false) + "|";
    EXPECT_EQ(seen, values);
    settings.Set("ui_size_percent", "150");
    EXPECT_EQ(ReadFileText(settings.path()), after);
    ASSERT_TRUE(WriteTextFile("ui_theme\nY\n", settings.path()));
    EXPECT_EQ(settings.Get("ui_theme", true), "Y");
  }
}

TEST(UserSettings, AnUnwritableRootChangesOnlyTheMap) {
  ScopedDataRoot root;
  ASSERT_TRUE(WriteTextFile("x", root.folder.file("Oskra Data")));  // a file where the data folder belongs
  UserSettings settings;
  settings.Set("ui_size_percent", "200");
  EXPECT_EQ(settings.Get("ui_theme", true) + settings.Get("ui_size_percent", true), "Default.txt200");
  EXPECT_EQ(ReadFileText(root.folder.file("Oskra Data")), "x");
}

TEST(UserSettings, InstancesKeepEachOthersKeysAlsoFromTwoThreads) {
  ScopedDataRoot root;
  UserSettings first, second;
  auto setKeys = [](UserSettings* settings, std::string prefix) { for (int i = 0; i < 40; ++i) settings->Set(std::to_string(i) + prefix, "v"); };
  std::thread a(setKeys, &first, "a"), b(setKeys, &second, "b");
  a.join(), b.join();
  UserSettings reader;
  for (int i = 0; i < 40; ++i) EXPECT_EQ(reader.Get(std::to_string(i) + "a", false) + reader.Get(std::to_string(i) + "b", false), "vv") << i;
}
