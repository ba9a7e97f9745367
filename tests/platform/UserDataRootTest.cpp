#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "platform/ModulePath.h"
#include "platform/UserDataRoot.h"
#include "support/ScopedEnvironment.h"

TEST(UserDataRoot, OwnFolderFirstThenXdgThenHome) {
  struct Case {
    const char* own;
    const char* xdg;
    const char* home;
    const char* root;
  } cases[] = {
      {"/tmp/oskra data", "/x", "/h", "/tmp/oskra data/"},
      {"/tmp/od/", "/x", "/h", "/tmp/od/"},
      {nullptr, "/x/share", "/h", "/x/share/Tarnwick7/"},
      {"", "/x/share/", "/h", "/x/share/Tarnwick7/"},
      {nullptr, "", "/home/u", "/home/u/.local/share/Tarnwick7/"},
      {nullptr, nullptr, "/home/u/", "/home/u/.local/share/Tarnwick7/"},
  };
  for (const Case& c : cases) {
    ScopedEnvironment env;
    env.set("OSKRA_DATA_DIR", c.own);
    env.set("XDG_DATA_HOME", c.xdg);
    env.set("HOME", c.home);
    EXPECT_EQ(userDataRoot(), c.root);
  }
  // Without HOME the user database still knows a home.
  ScopedEnvironment env;
  env.set("OSKRA_DATA_DIR", nullptr);
  env.set("XDG_DATA_HOME", nullptr);
  env.set("HOME", nullptr);
  const std::string root = userDataRoot();
  EXPECT_EQ(root.front(), '/');
  EXPECT_EQ(root.substr(root.size() - 24), "/.local/share/Tarnwick7/");
}

TEST(ModulePath, IsTheLoadedModulesOwnFile) {
  char self[PATH_MAX];
  ASSERT_NE(::realpath("/proc/self/exe", self), nullptr);
  EXPECT_EQ(modulePath(), self);
  const std::string folder = moduleFolder();
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(modulePath().rfind(folder, 0), 0u);
  EXPECT_EQ(modulePath().find('/', folder.size()), std::string::npos);
}
