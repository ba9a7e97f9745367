#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include <pwd.h>
#include <unistd.h>

#include "platform/ModulePath.h"
#include "platform/UserDataRoot.h"
#include "support/ScopedEnvironment.h"

TEST(UserDataRoot, OwnFolderFirstThenXdgThenHome) {
  // A folder that is no absolute path counts as none: the user's files never land below the
  // folder the host runs in. Without a usable HOME the user database names the home.
  const passwd* user = ::getpwuid(::getuid());
  ASSERT_TRUE(user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/');
  const std::string own = std::string(user->pw_dir) + (std::string(user->pw_dir) == "/" ? "" : "/") + ".local/share/Tarnwick7/";
  const std::array<const char*, 4> cases[] = {
      {"/tmp/oskra data", "/x", "/h", "/tmp/oskra data/"},
      {nullptr, "/x/share/", "/h", "/x/share/Tarnwick7/"},
      {"", "", "/home/u", "/home/u/.local/share/Tarnwick7/"},
      {"data", "share", "/home/u", "/home/u/.local/share/Tarnwick7/"},
      {nullptr, "./share", "home", own.c_str()},
      {nullptr, nullptr, nullptr, own.c_str()},
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
