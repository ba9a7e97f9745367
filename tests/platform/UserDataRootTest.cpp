#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "platform/ModulePath.h"
#include "platform/UserDataRoot.h"
#include "support/ScopedEnvironment.h"

TEST(UserDataRoot, OwnFolderFirstThenXdgThenHome) {
  const std::array<const char*, 4> cases[] = {
      {"/tmp/oskra data", "/x", "/h", "/tmp/oskra data/"},
      {nullptr, "/x/share/", "/h", "/x/share/Tarnwick7/"},
      {"", "", "/home/u", "/home/u/.local/share/Tarnwick7/"},
  };
  for (const auto& [own, xdg, home, root] : cases) {
    ScopedEnvironment env;
    env.set("OSKRA_DATA_DIR", own), env.set("XDG_DATA_HOME", xdg), env.set("HOME", home);
    EXPECT_EQ(userDataRoot(), root);
  }
}

TEST(ModulePath, IsTheLoadedModulesOwnFile) {
  const std::string path = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(modulePath(), path);
  EXPECT_EQ(moduleFolder(), path.substr(0, path.rfind('/') + 1));
}
