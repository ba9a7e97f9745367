// The file helpers: buffered reading and writing, whole-file helpers, paths, settings files, and
// folder listings.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "plugin/files/FileUtils.h"
#include "plugin/files/FolderListing.h"
#include "plugin/files/SettingsFile.h"
#include "plugin/files/WDL_FileRead.h"
#include "plugin/files/WDL_FileWrite.h"
#include "plugin/files/WDL_FolderScan.h"
#include "support/TestAudio.h"

using Pieces = std::vector<std::string>;

// Sizes around the writer's block and the reader's buffer, written and read back in uneven pieces.
TEST(BufferedFile, RoundTripsEverySizeInUnevenPieces) {
  testaudio::TempFolder folder;
  const std::string path = folder.file("f.bin");
  for (size_t size : {0u, 1u, 8191u, 8192u, 8193u, 32767u, 32769u, 3u * 1048576u + 5u}) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ (i >> 16));  // no period
    WDL_FileWrite out(path.c_str());
    for (size_t done = 0, i = 0, n; done < size; done += n, ++i) {
      n = std::min<size_t>(size_t{1} << (i * 7 % 17), size - done);  // 1 byte up to 64 KiB
      ASSERT_EQ(out.Write(bytes.data() + done, static_cast<int>(n)), static_cast<int>(n));
    }
    ASSERT_TRUE(out.Close());
    WDL_FileRead in(path.c_str());
    ASSERT_EQ(in.GetSize(), static_cast<int64_t>(size));
    std::vector<uint8_t> back(size + 100);
    size_t done = 0;
    for (int i = 0, n; (n = in.Read(back.data() + done, (1 << (i * 5 % 17)) + 3)) > 0; ++i) done += static_cast<size_t>(n);
    back.resize(done);
    EXPECT_EQ(back, bytes) << size;
    EXPECT_EQ(ReadFileText(path), std::string(bytes.begin(), bytes.end()));
  }
}

TEST(BufferedFile, FoldersDevicesMissingAndForbiddenPathsFail) {
  testaudio::TempFolder folder;
  const std::string locked = folder.file("five");
  ASSERT_TRUE(WriteTextFile("12345", locked));
  EXPECT_TRUE(ReadFileBytes(locked.c_str(), 4).empty());  // larger than allowed
  ::chmod(locked.c_str(), 0);
  Pieces paths = {folder.path(), folder.path() + "/", folder.file("missing"), "/dev/full", ""};
  if (::geteuid() != 0) paths.push_back(locked);  // root reads anything
  for (const std::string& path : paths) {
    WDL_FileRead in(path.c_str());
    char byte = 0;
    EXPECT_FALSE(in.IsOpen() || in.GetSize() != 0 || in.Read(&byte, 1) != 0 || FileExists(path)) << path;
    EXPECT_TRUE(ReadFileBytes(path.c_str()).empty());
  }
  // Writes that cannot land fail: never taken for a saved file.
  const std::vector<uint8_t> big(100000, 7);
  for (bool createFolders : {false, true}) {
    for (const std::string& path : {std::string("/dev/full"), folder.path(), folder.file("five/under/a/file")})
      for (int64_t size : {1, 100000}) EXPECT_FALSE(WriteFileBytes(big.data(), size, path.c_str(), createFolders)) << path;
    EXPECT_FALSE(WriteFileBytes(nullptr, 1, folder.file("null").c_str(), createFolders));
  }
  EXPECT_FALSE(WriteFileBytes(big.data(), 0, folder.file("no/such/f").c_str(), false));  // no file is no success
  WDL_FileWrite full("/dev/full");
  EXPECT_EQ(full.Write(nullptr, 100), 0);  // no source: nothing written, and not claimed
  EXPECT_EQ(full.Write(big.data(), 1), 1);  // buffered: the failure shows when it is flushed
  EXPECT_FALSE(full.Close());
  EXPECT_TRUE(WriteFileBytes(big.data(), 0, folder.file("new/deeper/empty").c_str(), true));
  EXPECT_FALSE(MakeFoldersForPath(folder.file("new/deeper/empty/x/y")));
}

TEST(FileUtils, AFailedWriteLeavesTheOldFileWhole) {
  testaudio::TempFolder folder;
  const std::string path = folder.file("kit.oskra");
  ASSERT_TRUE(WriteTextFile("the old preset", path));
  ::chmod(path.c_str(), 0640);
  rlimit saved{}, small{};  // a file-size limit makes the write fail part-way, even for root
  ::getrlimit(RLIMIT_FSIZE, &saved);
  small = {100, saved.rlim_max};
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  const bool written = WriteTextFile(std::string(1000, 'x'), path);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFileText(path), "the old preset");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);  // no temporary left
  ASSERT_TRUE(WriteTextFile("new", path));
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0u, 0640u);  // permissions kept
}

TEST(FileUtils, PathsSplitAtTheLastSeparator) {
  const std::array<std::string, 5> cases[] = {  // path, file name, folder, name, without extension
      {"C:/a/b.wav", "b.wav", "C:/a/", "b.wav", "C:/a/b"},    {"a/b/", "b/", "a/b/", "", "a/b/"},
      {"name", "name", "", "name", "name"},                   {"b.wav", "b.wav", "", "b.wav", "b"},
      {"a\\take.2\\kick", "kick", "a\\take.2\\", "kick", "a\\take"},
      {"s/.hidden", ".hidden", "s/", ".hidden", "s/"},        {"s/kit.tar.gz", "kit.tar.gz", "s/", "kit.tar.gz", "s/kit.tar"},
      {"/", "/", "/", "", "/"},                               {"", "", "", "", ""}};
  for (const auto& c : cases) {
    std::string folder = "?", name = "?";
    SplitPath(c[0], &folder, &name);
    EXPECT_EQ(Pieces({GetFileName(c[0]), folder, name, RemoveExtension(c[0])}), Pieces(c.begin() + 1, c.end())) << c[0];
  }
  EXPECT_EQ(TruncateAtLast("a/b/c", '/', true), "a/b/");
}

TEST(FileUtils, SplittingAndMatching) {
  EXPECT_EQ(SplitString("a,,b", ","), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitString("a--b--", "--"), (Pieces{"a", "b", ""}));
  EXPECT_EQ(SplitString("a,b", ""), (Pieces{"a,b"}));  // an empty delimiter used to spin forever
  EXPECT_EQ(SplitStringByChar("\nx\n\ny\n", '\n'), (Pieces{"x", "y"}));
  const std::tuple<const char*, const char*, int, bool, bool> matches[] = {  // text, pattern, mode, ignore case
      {"Kick01.blob", ".BLOB", 1, true, true}, {"Kick01.blob", ".BLOB", 1, false, false},
      {"Kick01.blob", "kick", 0, true, true},  {"Kick01.blob", "01", 1, false, false},
      {"Kick01.blob", "ick0", 7, false, true}, {"\xC3\x89", "\xC3\xA9", 2, true, false},
      {"anything", "", 1, false, true},        {"ab", "abc", 2, true, false}};
  for (const auto& [text, pattern, mode, ignoreCase, result] : matches) EXPECT_EQ(StringMatch(text, pattern, mode, ignoreCase), result) << pattern;
}

namespace {
// Seconds since this process started, from the system's own records (clock ticks since boot).
double processAgeSeconds() {
  std::ifstream statFile("/proc/self/stat"), uptimeFile("/proc/uptime");
  std::string stat((std::istreambuf_iterator<char>(statFile)), {});
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));  // after the program's name
  std::string field;
  for (int i = 3; i <= 22; ++i) fields >> field;  // field 22: the start time
  double uptime = 0.0;
  uptimeFile >> uptime;
  return uptime - std::stod(field) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}
}  // namespace

// Wall-clock seconds (a sleeping thread's time counts, unlike CPU time) since the module was
// loaded, never since boot or an epoch.
TEST(FileUtils, TheClockCountsWallSecondsSinceTheModuleLoaded) {
  const double start = GetTimeSeconds();
  EXPECT_GE(start, 0.0);
  EXPECT_LE(start, processAgeSeconds() + 0.1);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const double later = GetTimeSeconds();
  EXPECT_GE(later - start, 0.03);
  EXPECT_LT(later - start, 30.0);  // seconds, not milliseconds
}

TEST(SettingsFile, EveryLineCountsAndCarriageReturnsGo) {
  testaudio::TempFolder folder;
  const std::string path = folder.file("Oskra Data/userSettings.dat");
  using Map = std::map<std::string, std::string>;
  const std::pair<std::string, Map> cases[] = {{"k1\n\nk2\nv2\n", {{"k1", ""}, {"k2", "v2"}}}, {"a\nb\nc\n", {{"a", "b"}}},
      {"a\r\nb\r\nc\r\n\r\nd\r\ne", {{"a", "b"}, {"c", ""}, {"d", "e"}}}, {"a\r\r\n\n\n", {{"a\r", ""}}}};
  for (const auto& [text, read] : cases) {
    ASSERT_TRUE(WriteTextFile(text, path));
    Map map = {{"kept", "1"}}, expected = read;
    expected.emplace("kept", "1");
    EXPECT_TRUE(ReadSettingsFile(path.c_str(), map));
    EXPECT_EQ(map, expected) << text;
  }
  // What is written reads back exactly, in key order, empty values included.
  const Map written = {{"ui_theme", ""}, {"b", "1"}, {"ui_size_percent", "100"}, {"", "empty key"}};
  ASSERT_TRUE(WriteSettingsFile(folder.file("new/s.dat"), written));
  EXPECT_EQ(ReadFileText(folder.file("new/s.dat")), "\nempty key\nb\n1\nui_size_percent\n100\nui_theme\n\n");
  Map back;
  ReadSettingsFile(folder.file("new/s.dat").c_str(), back);
  EXPECT_TRUE(ReadSettingsFile(folder.file("missing.dat").c_str(), back));  // a missing file changes nothing
  EXPECT_EQ(back, written);
  EXPECT_FALSE(WriteSettingsFile("/dev/full", written));
}

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
