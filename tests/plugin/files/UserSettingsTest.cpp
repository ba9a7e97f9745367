#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "plugin/files/FileUtils.h"
#include "plugin/files/UserDataPaths.h"
#include "plugin/files/UserSettings.h"
#include "support/ScopedDataRoot.h"

// Without a file the default theme is written; every set writes the file in key order (reading
// and writing the format itself: SettingsFile's tests).
TEST(UserSettings, AMissingFileGetsTheDefaultThemeAndSetsWriteInKeyOrder) {
  ScopedDataRoot root;
  UserSettings settings;
  EXPECT_EQ(settings.path(), root.folder.file("Oskra Data/userSettings.dat"));
  EXPECT_EQ(settings.Get("a", false) + "|" + settings.Get("ui_theme", false), "|Default.txt");
  EXPECT_EQ(settings.Get("ui_size_percent", true), "");  // no editor size until one is chosen
  settings.Set("ui_size_percent", "150");
  EXPECT_EQ(ReadFileText(settings.path()), "ui_size_percent\n150\nui_theme\nDefault.txt\n");
  ASSERT_TRUE(WriteTextFile("ui_theme\nY\n", settings.path()));
  EXPECT_EQ(settings.Get("ui_theme", true), "Y");
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

// Something at the settings file's place that cannot be read is the user's: it is never replaced
// by the defaults, and the map starts without them.
TEST(UserSettings, AFileThatCannotBeReadIsNotReplacedByTheDefaults) {
  ScopedDataRoot root;
  const std::string path = root.folder.file("Oskra Data/userSettings.dat");
  ASSERT_TRUE(MakeFoldersForPath(path + "/x"));  // a folder where the file belongs: there, but unreadable
  UserSettings settings;
  EXPECT_EQ(settings.Get("ui_theme", true), "");
  EXPECT_TRUE(std::filesystem::is_directory(path));
}
