#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "plugin/FileUtils.h"
#include "plugin/WDL_FileRead.h"
#include "plugin/WDL_FileWrite.h"
#include "support/TestAudio.h"

namespace {

std::vector<uint8_t> pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = static_cast<uint32_t>(size) + 1;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
  return bytes;
}

}  // namespace

// Sizes around the writer's block and the reader's buffer, written and read back in uneven pieces.
TEST(BufferedFile, RoundTripsEverySizeInUnevenPieces) {
  testaudio::TempFolder folder;
  const std::string path = folder.file("f.bin");
  for (size_t size : {0u, 1u, 8191u, 8192u, 8193u, 32767u, 32769u, 3u * 1048576u + 5u}) {
    const std::vector<uint8_t> bytes = pattern(size);
    {
      WDL_FileWrite out(path.c_str());
      ASSERT_TRUE(out.IsOpen());
      const int pieces[] = {1, 8191, 3, 8192, 20000, 100000};
      size_t done = 0;
      for (int i = 0; done < size; ++i) {
        const int n = static_cast<int>(std::min<size_t>(pieces[i % 6], size - done));
        ASSERT_EQ(out.Write(bytes.data() + done, n), n);
        done += static_cast<size_t>(n);
      }
      ASSERT_TRUE(out.Close());
    }
    WDL_FileRead in(path.c_str());
    ASSERT_TRUE(in.IsOpen());
    ASSERT_EQ(in.GetSize(), static_cast<int64_t>(size));
    std::vector<uint8_t> back(size + 100);
    const int pieces[] = {4095, 1, 32768, 7, 100000};
    size_t done = 0;
    for (int i = 0, n; (n = in.Read(back.data() + done, pieces[i % 5])) > 0; ++i) done += static_cast<size_t>(n);
    EXPECT_EQ(done, size);
    back.resize(done);
    EXPECT_EQ(back, bytes) << size;
    EXPECT_EQ(in.Read(back.data(), 100), 0);
    EXPECT_EQ(ReadFileBytes(path.c_str()), bytes);
    EXPECT_EQ(ReadFileText(path), std::string(bytes.begin(), bytes.end()));
  }
  // A read larger than the rest gets the rest.
  ASSERT_TRUE(WriteTextFile("0123456789", path));
  WDL_FileRead in(path.c_str());
  char buffer[100];
  EXPECT_EQ(in.Read(buffer, 100), 10);
  EXPECT_EQ(in.Read(buffer, 100), 0);
}

TEST(BufferedFile, FoldersDevicesMissingAndForbiddenFilesAreNoFiles) {
  testaudio::TempFolder folder;
  const std::string locked = folder.file("locked");
  ASSERT_TRUE(WriteTextFile("secret", locked));
  ::chmod(locked.c_str(), 0);
  std::vector<std::string> paths = {folder.path(), folder.path() + "/", folder.file("missing"), "/dev/full", "/dev/null", ""};
  if (::geteuid() != 0) paths.push_back(locked);  // root reads anything
  for (const std::string& path : paths) {
    WDL_FileRead in(path.c_str());
    char byte = 0;
    EXPECT_FALSE(in.IsOpen()) << path;
    EXPECT_EQ(in.GetSize(), 0);
    EXPECT_EQ(in.Read(&byte, 1), 0);
    EXPECT_TRUE(ReadFileBytes(path.c_str()).empty());
    EXPECT_FALSE(FileExists(path));
  }
  EXPECT_TRUE(ReadFileBytes(nullptr).empty());
  ASSERT_TRUE(WriteTextFile("12345", folder.file("five")));
  EXPECT_TRUE(ReadFileBytes(folder.file("five").c_str(), 4).empty());  // larger than allowed
  EXPECT_EQ(ReadFileBytes(folder.file("five").c_str(), 5).size(), 5u);
}

// Failures are reported, never taken for a saved file.
TEST(BufferedFile, WritesThatCannotLandFail) {
  testaudio::TempFolder folder;
  const char small[] = "x";
  const std::vector<uint8_t> big = pattern(100000);
  ASSERT_TRUE(WriteTextFile("12345", folder.file("five")));
  for (bool createFolders : {false, true}) {
    EXPECT_FALSE(WriteFileBytes(small, 1, "/dev/full", createFolders));  // the disk is full
    EXPECT_FALSE(WriteFileBytes(big.data(), 100000, "/dev/full", createFolders));
    EXPECT_FALSE(WriteFileBytes(small, 1, folder.path().c_str(), createFolders));  // a folder
    EXPECT_FALSE(WriteFileBytes(small, 0, folder.file("no/such/f").c_str(), false));
    EXPECT_FALSE(WriteFileBytes(small, 1, folder.file("five/under/a/file").c_str(), createFolders));
    EXPECT_FALSE(WriteFileBytes(small, -1, folder.file("neg").c_str(), createFolders));
    EXPECT_FALSE(WriteFileBytes(nullptr, 1, folder.file("null").c_str(), createFolders));
  }
  WDL_FileWrite full("/dev/full");
  ASSERT_TRUE(full.IsOpen());
  EXPECT_EQ(full.Write(small, 1), 1);  // buffered: the failure shows at the flush
  EXPECT_FALSE(full.Close());
  EXPECT_EQ(WDL_FileWrite(folder.file("no/f").c_str()).Write(small, 1), 0);
  // Missing folders are made when asked for; the empty file counts as written.
  EXPECT_TRUE(WriteFileBytes(small, 0, folder.file("new/deeper/empty").c_str(), true));
  EXPECT_TRUE(FileExists(folder.file("new/deeper/empty")));
  EXPECT_TRUE(MakeFoldersForPath(folder.file("made/a/")));
  EXPECT_FALSE(MakeFoldersForPath(folder.file("new/deeper/empty/x/y")));
}
