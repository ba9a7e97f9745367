#include <gtest/gtest.h>

#include "plugin/FileUtils.h"
#include "plugin/SettingsFile.h"
#include "support/TestAudio.h"

using Pieces = std::vector<std::string>;

TEST(FileUtils, PathsSplitAtTheLastSeparator) {
  struct Case {
    std::string path, fileName, folder, name, noExtension;
  } cases[] = {
      {"C:/a/b.wav", "b.wav", "C:/a/", "b.wav", "C:/a/b"},
      {"a/b/", "b/", "a/b/", "", "a/b/"},
      {"name", "name", "", "name", "name"},
      {"b.wav", "b.wav", "", "b.wav", "b"},
      {"a\\take.2\\kick", "kick", "a\\take.2\\", "kick", "a\\take"},
      {"s/.hidden", ".hidden", "s/", ".hidden", "s/"},
      {"s/kit.tar.gz", "kit.tar.gz", "s/", "kit.tar.gz", "s/kit.tar"},
      {"/", "/", "/", "", "/"},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    std::string folder = "?", name = "?";
    SplitPath(c.path, &folder, &name);
    EXPECT_EQ(GetFileName(c.path), c.fileName) << c.path;
    EXPECT_EQ(folder, c.folder) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
    EXPECT_EQ(RemoveExtension(c.path), c.noExtension) << c.path;
  }
  SplitPath("a/b", nullptr, nullptr);
  EXPECT_EQ(TruncateAtLast("a/b/c", '/', true), "a/b/");
  EXPECT_EQ(TruncateAtLast("abc", '/', true), "abc");
}

TEST(FileUtils, SplittingAndMatching) {
  EXPECT_EQ(SplitString("a,,b", ","), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitString("a,", ","), (Pieces{"a", ""}));
  EXPECT_EQ(SplitString("a--b--", "--"), (Pieces{"a", "b", ""}));
  EXPECT_EQ(SplitString("", ","), (Pieces{""}));
  EXPECT_EQ(SplitString("a,b", ""), (Pieces{"a,b"}));  // an empty delimiter used to spin forever
  EXPECT_EQ(SplitStringByChar("\nx\n\ny\n", '\n'), (Pieces{"x", "y"}));
  EXPECT_EQ(SplitStringByChar("", '\n'), Pieces{});
  struct Match {
    const char* text;
    const char* pattern;
    int mode;
    bool ignoreCase, result;
  } matches[] = {
      {"Kick01.blob", ".BLOB", 1, true, true},  {"Kick01.blob", ".BLOB", 1, false, false},
      {"Kick01.blob", "kick", 0, true, true},   {"Kick01.blob", "kick", 0, false, false},
      {"Kick01.blob", "01", 1, false, false},   {"Kick01.blob", "ick0", 7, false, true},
      {"Kick01.blob", "KICK0", 5, false, false},  {"Kick01.blob", "CK01", 2, true, true},
      {"\xC3\x89", "\xC3\xA9", 2, true, false}, {"anything", "", 1, false, true},
      {"ab", "abc", 2, true, false},            {"", "", 0, false, true},
  };
  for (const Match& m : matches) EXPECT_EQ(StringMatch(m.text, m.pattern, m.mode, m.ignoreCase), m.result) << m.text << " " << m.pattern;
  const double t0 = GetTimeSeconds();
  EXPECT_GE(t0, 0.0);
  EXPECT_GE(GetTimeSeconds(), t0);
}

TEST(SettingsFile, EveryLineCountsAndCarriageReturnsGo) {
  testaudio::TempFolder folder;
  const std::string path = folder.file("Oskra Data/userSettings.dat");
  using Map = std::map<std::string, std::string>;
  struct Case {
    std::string text;
    Map read;
  } cases[] = {
      {"k1\n\nk2\nv2\n", {{"k1", ""}, {"k2", "v2"}}},
      {"a\nb\nc\n", {{"a", "b"}}},
      {"a\r\nb\r\nc\r\n\r\nd\r\ne", {{"a", "b"}, {"c", ""}, {"d", "e"}}},
      {"a\r\r\n\n\n", {{"a\r", ""}}},
      {"ui_size_percent\n100\nui_theme\n\n", {{"ui_size_percent", "100"}, {"ui_theme", ""}}},
      {"a\nb\na\nc\n", {{"a", "c"}}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteTextFile(c.text, path));
    Map map = {{"kept", "1"}};
    EXPECT_TRUE(ReadSettingsFile(path.c_str(), map));
    Map expected = c.read;
    expected.emplace("kept", "1");
    EXPECT_EQ(map, expected) << c.text;
  }
  // What is written reads back exactly, in key order, empty values included.
  const Map written = {{"ui_theme", ""}, {"b", "1"}, {"ui_size_percent", "100"}, {"", "empty key"}};
  ASSERT_TRUE(WriteSettingsFile(folder.file("new/s.dat"), written));
  EXPECT_EQ(ReadFileText(folder.file("new/s.dat")), "\nempty key\nb\n1\nui_size_percent\n100\nui_theme\n\n");
  Map back;
  ReadSettingsFile(folder.file("new/s.dat").c_str(), back);
  EXPECT_EQ(back, written);
  Map untouched = {{"a", "b"}};
  EXPECT_TRUE(ReadSettingsFile(folder.file("missing.dat").c_str(), untouched));
  EXPECT_TRUE(ReadSettingsFile(nullptr, untouched));
  EXPECT_EQ(untouched, (Map{{"a", "b"}}));
  EXPECT_FALSE(WriteSettingsFile("/dev/full", written));
}
