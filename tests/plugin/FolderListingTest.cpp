#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "plugin/FileUtils.h"
#include "plugin/FolderListing.h"
#include "plugin/WDL_FolderScan.h"
#include "support/TestAudio.h"

namespace {

std::vector<std::string> names(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> out;
  for (const FolderEntry& e : entries) out.push_back(e.name + (e.isFolder ? "/" : ""));
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

void touch(const std::string& path) { ASSERT_TRUE(WriteTextFile("x", path)); }

}  // namespace

TEST(FolderListing, FoldersFirstThenNamesWithoutCaseNonAsciiFirst) {
  testaudio::TempFolder folder;
  for (const char* name : {"b.wav", "A.wav", ".hidden", "a", "\xC3\xA9t\xC3\xA9.wav", "my kick.wav", "sub/x"}) touch(folder.file(name));
  ASSERT_EQ(::symlink("sub", folder.file("link").c_str()), 0);
  const std::vector<std::string> expected = {"link/", "sub/", "\xC3\xA9t\xC3\xA9.wav", "a", "A.wav", "b.wav", "my kick.wav"};
  for (const std::string& path : {folder.path(), folder.path() + "/", folder.path() + "\\"}) {
    EXPECT_EQ(names(ListFolder(path)), expected) << path;
  }
  ListOptions unsorted;
  unsorted.sortEntries = false;
  EXPECT_EQ(sorted(names(ListFolder(folder.path(), unsorted))), sorted(expected));
  unsorted.skipDotNames = false;
  std::vector<std::string> all = expected;
  all.insert(all.end(), {"./", "../", ".hidden"});
  EXPECT_EQ(sorted(names(ListFolder(folder.path(), unsorted))), sorted(all));

  std::filesystem::create_directory(folder.file("empty"));
  EXPECT_TRUE(ListFolder(folder.file("empty")).empty());
  EXPECT_TRUE(ListFolder(folder.file("missing")).empty());
  EXPECT_TRUE(ListFolder(folder.file("a")).empty());
  struct Kind { std::string path; int kind; } kinds[] = {
      {folder.file("empty"), 2}, {folder.file("link"), 2}, {"/", 2}, {folder.file("a"), 1}, {folder.file("missing"), 0}, {"", 0}};
  for (const Kind& k : kinds) EXPECT_EQ(GetPathKind(k.path), k.kind) << k.path;
  WDL_FolderScan scan;
  EXPECT_EQ(scan.First(""), -1);
  EXPECT_EQ(scan.First(nullptr), -1);
  EXPECT_EQ(scan.First(folder.file("missing").c_str()), 1);
  EXPECT_EQ(scan.First(folder.file("empty/").c_str()), 0);  // "." and ".." are there
}

TEST(FolderListing, RecursiveListingKeepsFoldersTogetherAndEscapesLinkLoops) {
  testaudio::TempFolder folder;
  for (const char* name : {"x.blob", "kick/y.blob", "kick/deep/z.blob", "kick/deep/w.blob", ".git/h.blob",
                           "sp ace/\xC3\xBC.blob", "kick/.hidden/v.blob"}) {
    touch(folder.file(name));
  }
  ASSERT_EQ(::symlink("..", folder.file("kick/up").c_str()), 0);        // back to the top: a loop
  ASSERT_EQ(::symlink("../..", folder.file("kick/deep/top").c_str()), 0);
  ASSERT_EQ(::symlink("kick/deep", folder.file("alias").c_str()), 0);   // no loop: followed
  const std::vector<std::string> files = ListFilesRecursive(folder.path());
  EXPECT_EQ(sorted(files), sorted({"x.blob", "kick/y.blob", "kick/deep/z.blob", "kick/deep/w.blob",
                                   "sp ace/\xC3\xBC.blob", "alias/z.blob", "alias/w.blob"}));
  // Each folder's files come together, at the folder's place.
  for (const std::string prefix : {"kick/", "kick/deep/", "alias/", "sp ace/"}) {
    auto inside = [&](const std::string& f) { return f.rfind(prefix, 0) == 0; };
    const auto first = std::find_if(files.begin(), files.end(), inside);
    EXPECT_EQ(std::find_if(std::find_if_not(first, files.end(), inside), files.end(), inside), files.end()) << prefix;
  }
  ListOptions shallow;
  shallow.maxDepth = 0;
  EXPECT_EQ(ListFilesRecursive(folder.path() + "/", shallow), (std::vector<std::string>{"x.blob"}));
  shallow.maxDepth = 1;
  EXPECT_EQ(sorted(ListFilesRecursive(folder.path(), shallow)), sorted({"x.blob", "kick/y.blob", "sp ace/\xC3\xBC.blob", "alias/z.blob", "alias/w.blob"}));
  EXPECT_TRUE(ListFilesRecursive(folder.file("missing")).empty());
  EXPECT_TRUE(ListFilesRecursive("").empty());
}
