#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "plugin/FileUtils.h"
#include "plugin/FolderListing.h"
#include "plugin/WDL_FolderScan.h"
#include "support/TestAudio.h"

using Names = std::vector<std::string>;

namespace {
Names names(const std::vector<FolderEntry>& entries) {
  Names out;
  for (const FolderEntry& e : entries) out.push_back(e.name + (e.isFolder ? "/" : ""));
  return out;
}
Names sorted(Names v) { return std::sort(v.begin(), v.end()), v; }
}  // namespace

TEST(FolderListing, FoldersFirstThenNamesWithoutCaseNonAsciiFirst) {
  testaudio::TempFolder folder;
  for (const char* name : {"b.wav", "A.wav", ".hidden", "a", "\xC3\xA9t\xC3\xA9.wav", "my kick.wav", "sub/x", "empty/"}) {
    ASSERT_TRUE(name[std::string(name).size() - 1] == '/' ? MakeFoldersForPath(folder.file(name)) : WriteTextFile("x", folder.file(name)));
  }
  ASSERT_EQ(::symlink("sub", folder.file("link").c_str()), 0);
  const Names expected = {"empty/", "link/", "sub/", "\xC3\xA9t\xC3\xA9.wav", "a", "A.wav", "b.wav", "my kick.wav"};
  for (const std::string& path : {folder.path(), folder.path() + "/", folder.path() + "\\"}) EXPECT_EQ(names(ListFolder(path)), expected);
  EXPECT_EQ(sorted(names(ListFolder(folder.path(), {2, "", 999, true, false}))), sorted(expected));
  Names all = expected;
  all.insert(all.end(), {"./", "../", ".hidden"});
  EXPECT_EQ(sorted(names(ListFolder(folder.path(), {2, "", 999, false, false}))), sorted(all));
  for (const char* none : {"empty", "missing", "a"}) EXPECT_TRUE(ListFolder(folder.file(none)).empty()) << none;
  const std::pair<std::string, int> kinds[] = {{folder.file("empty"), 2}, {folder.file("link"), 2}, {"/", 2},
                                               {folder.file("a"), 1},     {folder.file("missing"), 0}, {"", 0}};
  for (const auto& [path, kind] : kinds) EXPECT_EQ(GetPathKind(path), kind) << path;
  WDL_FolderScan scan;
  EXPECT_EQ(std::vector<int>({scan.First(""), scan.First(folder.file("missing").c_str()), scan.First(folder.file("empty/").c_str())}),
            std::vector<int>({-1, 1, 0}));  // an empty folder still holds "." and ".."
}

TEST(FolderListing, RecursiveListingKeepsFoldersTogetherAndEscapesLinkLoops) {
  testaudio::TempFolder folder;
  for (const char* name : {"x.blob", "kick/y.blob", "kick/deep/z.blob", "kick/deep/w.blob", ".git/h.blob",
                           "sp ace/\xC3\xBC.blob", "kick/.hidden/v.blob"}) {
    ASSERT_TRUE(WriteTextFile("x", folder.file(name)));
  }
  ASSERT_EQ(::symlink("..", folder.file("kick/up").c_str()), 0);  // back to the top: loops
  ASSERT_EQ(::symlink("../..", folder.file("kick/deep/top").c_str()), 0);
  ASSERT_EQ(::symlink("kick/deep", folder.file("alias").c_str()), 0);  // no loop: followed
  const Names files = ListFilesRecursive(folder.path());
  EXPECT_EQ(sorted(files), sorted({"x.blob", "kick/y.blob", "sp ace/\xC3\xBC.blob", "alias/z.blob", "alias/w.blob",
                                   "kick/deep/z.blob", "kick/deep/w.blob"}));
  // Each folder's files come together, at the folder's place.
  for (const std::string prefix : {"kick/", "kick/deep/", "alias/", "sp ace/"}) {
    auto inside = [&](const std::string& f) { return f.rfind(prefix, 0) == 0; };
    const auto first = std::find_if(files.begin(), files.end(), inside);
    EXPECT_EQ(std::find_if(std::find_if_not(first, files.end(), inside), files.end(), inside), files.end()) << prefix;
  }
  EXPECT_EQ(ListFilesRecursive(folder.path() + "/", {2, "", 0}), Names{"x.blob"});
  EXPECT_EQ(sorted(ListFilesRecursive(folder.path(), {2, "", 1})),
            sorted({"x.blob", "kick/y.blob", "sp ace/\xC3\xBC.blob", "alias/z.blob", "alias/w.blob"}));
  EXPECT_TRUE(ListFilesRecursive(folder.file("missing")).empty());
}
