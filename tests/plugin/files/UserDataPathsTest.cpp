#include <gtest/gtest.h>

#include "plugin/files/UserDataPaths.h"
#include "support/ScopedDataRoot.h"

// Every fixed place below the root, folders ending with '/'.
TEST(UserDataPaths, FixedPlacesBelowTheRoot) {
  ScopedDataRoot root;
  const std::string base = root.folder.path() + "/";
  const std::pair<std::string, std::string> paths[] = {
      {GetSoundsPath(), "Oskra Sounds/"},
      {GetPresetsPath(), "Oskra Presets/"},
      {GetDataPath(), "Oskra Data/"},
      {GetClipboardBlobPath(), "Oskra Data/clipboard.blob"},
      {GetThemePath(), "Oskra Data/Theme/"},
      {GetMidiExportPath(), "Oskra Data/sequence_export.mid"},
      {GetUserSettingsPath(), "Oskra Data/userSettings.dat"},
      {GetSoundsPath() + kUserSoundsFolder, "Oskra Sounds/0 User/"}};
  for (const auto& [got, below] : paths) EXPECT_EQ(got, base + below);
}
