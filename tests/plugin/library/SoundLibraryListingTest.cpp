// Which files of the Sounds folder the library offers: those whose names end in ".blob", at any
// depth, and nothing that merely holds ".blob" somewhere else in its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "plugin/files/FileUtils.h"
#include "plugin/files/UserDataPaths.h"
#include "plugin/library/SoundLibrary.h"
#include "support/ScopedDataRoot.h"

TEST(SoundLibrary, ListsOnlyNamesEndingInBlob) {
  ScopedDataRoot root;
  const std::pair<const char*, bool> files[] = {  // the name in the Sounds folder, listed
      {"kick.blob", true},           {"0 User/snare.blob", true},     {"Kits.blob/deep/tom.blob", true},
      {"kick.blob.tmp", false},      {"notes.blob.txt", false},       {"0 User/hat.blob~", false},
      {"kickblob", false},           {"kick.blo", false},             {"blob", false},
      {"Kits.blob/readme", false},   {"kick.blob.tmp123-4", false}};  // what an interrupted save leaves
  std::vector<std::string> listed;
  for (const auto& [name, shown] : files) {
    ASSERT_TRUE(WriteTextFile("x", GetSoundsPath() + name)) << name;
    if (shown) listed.emplace_back(name);
  }
  std::vector<std::string> sounds = ListLibrarySounds();
  std::sort(sounds.begin(), sounds.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(sounds, listed);
}
