#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "plugin/FileUtils.h"
#include "plugin/WDL_FileRead.h"
#include "plugin/WDL_FileWrite.h"
#include "support/TestAudio.h"

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
  std::vector<std::string> paths = {folder.path(), folder.path() + "/", folder.file("missing"), "/dev/full", ""};
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
    for (const std::string& path : {std::string("/dev/full"), folder.path(), folder.file("five/under/a/file")}) {
      EXPECT_FALSE(WriteFileBytes(big.data(), 1, path.c_str(), createFolders)) << path;
      EXPECT_FALSE(WriteFileBytes(big.data(), 100000, path.c_str(), createFolders)) << path;
    }
    EXPECT_FALSE(WriteFileBytes(nullptr, 1, folder.file("null").c_str(), createFolders));
  }
  EXPECT_FALSE(WriteFileBytes(big.data(), 0, folder.file("no/such/f").c_str(), false));  // no file is no success
  WDL_FileWrite full("/dev/full");
  EXPECT_EQ(full.Write(big.data(), 1), 1);  // buffered: the failure shows when it is flushed
  EXPECT_FALSE(full.Close());
  EXPECT_TRUE(WriteFileBytes(big.data(), 0, folder.file("new/deeper/empty").c_str(), true));
  EXPECT_FALSE(MakeFoldersForPath(folder.file("new/deeper/empty/x/y")));
}
