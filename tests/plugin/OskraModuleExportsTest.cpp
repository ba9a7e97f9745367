// The Oskra module as installed: a host sees its five entry points and no other symbol, so the
// SDK classes inside it never meet another module's copy of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

TEST(OskraModule, ExportsExactlyTheFiveEntryPoints) {
  const std::string library = std::string(OSKRA_BUNDLE) + "/Contents/x86_64-linux/Oskra.so";
  FILE* pipe = popen(("nm -D --defined-only '" + library + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  for (char line[512], name[256]; std::fgets(line, sizeof line, pipe) != nullptr;)
    if (std::sscanf(line, "%*s %*s %255s", name) == 1) names.insert(name);
  ASSERT_EQ(pclose(pipe), 0) << library;
  EXPECT_EQ(names, (std::set<std::string>{"ExitDll", "GetPluginFactory", "InitDll", "ModuleEntry", "ModuleExit"}));
}
