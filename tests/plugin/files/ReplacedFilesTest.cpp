// Saving over a file that is already there (every save of the plug-in takes this road): the new
// bytes land in the file the path names, a symbolic link stays a link, the file keeps its
// permissions, and a file the user may not write is refused and left whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/files/FileUtils.h"
#include "support/TestAudio.h"

namespace {

namespace fs = std::filesystem;

bool save(const std::string& text, const std::string& path) {
  return WriteFileBytes(text.data(), static_cast<int64_t>(text.size()), path.c_str(), false);
}

unsigned modeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
}

// Every name below the folder, links included and not followed: a temporary left behind shows.
std::vector<std::string> namesBelow(const std::string& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
    names.push_back(fs::relative(entry.path(), folder).string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// The link's text and the file it names as they were; only the file's content is new.
TEST(ReplacedFiles, ALinkStaysALinkAndItsTargetTakesTheBytes) {
  struct Row {
    const char* link;
    const char* text;  // "@" stands for the folder's absolute path
    const char* target;
  };
  const Row rows[] = {{"same.oskra", "kit.oskra", "kit.oskra"},
                      {"absolute.oskra", "@/kit.oskra", "kit.oskra"},
                      {"elsewhere.oskra", "sub/deep.oskra", "sub/deep.oskra"},
                      {"chain.oskra", "same.oskra", "kit.oskra"}};  // a link to a link
  testaudio::TempFolder folder;
  ASSERT_TRUE(save("kit", folder.file("kit.oskra")));
  ASSERT_TRUE(WriteFileBytes("deep", 4, folder.file("sub/deep.oskra").c_str(), true));
  for (const char* file : {"kit.oskra", "sub/deep.oskra"}) ::chmod(folder.file(file).c_str(), 0640);
  for (const Row& row : rows) {
    std::string text = row.text;
    if (text[0] == '@') text = folder.path() + text.substr(1);
    ASSERT_EQ(::symlink(text.c_str(), folder.file(row.link).c_str()), 0) << row.link;
  }
  const std::vector<std::string> names = namesBelow(folder.path());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.link);
    const std::string path = folder.file(row.link), bytes = std::string("saved through ") + row.link;
    const fs::path textBefore = fs::read_symlink(path);
    ASSERT_TRUE(save(bytes, path));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path)));
    std::error_code notALink;
    EXPECT_EQ(fs::read_symlink(path, notALink), textBefore);
    EXPECT_EQ(ReadFileText(folder.file(row.target)), bytes);
    EXPECT_EQ(modeOf(folder.file(row.target)), 0640u);
    EXPECT_EQ(namesBelow(folder.path()), names);  // nothing added, nothing left behind
  }
}

// Whatever the permission bits, the replaced file has the old ones, not those a new file gets.
TEST(ReplacedFiles, TheFileKeepsItsMode) {
  testaudio::TempFolder folder;
  const std::string path = folder.file("settings.dat");
  for (unsigned mode : {0600u, 0604u, 0640u, 0660u, 0700u, 0755u, 0620u}) {
    ASSERT_TRUE(save("old", path));
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    EXPECT_TRUE(save("new", path)) << std::oct << mode;
    EXPECT_EQ(ReadFileText(path), "new") << std::oct << mode;
    EXPECT_EQ(modeOf(path), mode) << std::oct << mode;
  }
}

// A file the user may not write is refused, even in a folder where a new file could take its
// place: content and mode stay, and no temporary is left. Root may write anything, so then the
// save runs in a child process as the unprivileged "nobody" (uid and gid 65534), on a file of
// root's; the test skips, saying why, only when that user cannot be taken or cannot save at all.
TEST(ReplacedFiles, AFileTheUserMayNotWriteIsRefused) {
  testaudio::TempFolder folder;
  const std::string locked = folder.file("factory.oskra");
  ASSERT_TRUE(save("factory", locked));
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  enum : int { kRefused = 0, kWritten = 1, kCannotSave = 2, kNoOtherUser = 3 };
  // A new file, then a save over it, must work for the saving user, or a refusal proves nothing.
  const auto attempt = [&] {
    const std::string control = folder.file("control.oskra");
    if (!save("a", control) || !save("b", control) || ReadFileText(control) != "b") return kCannotSave;
    return save("changed", locked) ? kWritten : kRefused;
  };
  int outcome = kRefused;
  if (::geteuid() != 0) {
    outcome = attempt();
  } else {
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);  // the other user may add files here
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
      ::_exit(dropped ? attempt() : kNoOtherUser);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    outcome = WEXITSTATUS(status);
  }
  if (outcome == kNoOtherUser) GTEST_SKIP() << "running as root, and the unprivileged user 65534 cannot be taken";
  if (outcome == kCannotSave) GTEST_SKIP() << "the saving user cannot save in " << folder.path() << " at all";
  EXPECT_EQ(outcome, kRefused);
  EXPECT_EQ(ReadFileText(locked), "factory");
  EXPECT_EQ(modeOf(locked), 0444u);
  EXPECT_EQ(namesBelow(folder.path()), (std::vector<std::string>{"control.oskra", "factory.oskra"}));
}
