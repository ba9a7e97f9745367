#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/PosixFile.h"
#include "platform/WholeFile.h"
#include "support/TestAudio.h"

// Only a regular file opens for reading, with its size; a folder, a device or a pipe without a
// writer is no file, and opening one neither succeeds nor blocks.
TEST(PosixFile, OnlyRegularFilesOpenForReading) {
  testaudio::TempFolder folder;
  ASSERT_TRUE(testaudio::writeFileBytes(folder.file("f.bin"), std::vector<uint8_t>(1000, 7)));
  ASSERT_EQ(::mkfifo(folder.file("pipe").c_str(), 0600), 0);
  int64_t size = -1;
  const int fd = openFileForReading(folder.file("f.bin").c_str(), &size);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(size, 1000);
  EXPECT_TRUE(closeFile(fd));
  for (const std::string& path : {folder.path(), folder.file("pipe"), std::string("/dev/null"), folder.file("missing"),
                                  std::string()}) {
    size = -1;
    EXPECT_EQ(openFileForReading(path.c_str(), &size), -1) << path;
    EXPECT_EQ(size, 0) << path;
  }
  EXPECT_EQ(openFileForReading(nullptr, nullptr), -1);
  EXPECT_FALSE(closeFile(-1));
  EXPECT_TRUE(pathExists(folder.file("pipe").c_str()) && !pathExists(folder.file("missing").c_str()) && !pathExists(""));
}

// Through a pipe every call moves only part of a large transfer: reads and writes go on until
// all of it arrived, in order, and a read past the end returns what there was.
TEST(PosixFile, TransfersGoOnAfterShortReadsAndWrites) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::vector<uint8_t> sent(3 << 20), received(sent.size() + 100);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  bool written = false;
  std::thread writer([&] {
    written = writeFully(ends[1], sent.data(), 1 << 20);
    for (size_t at = 1 << 20; at < sent.size(); at += 4099)  // then in small pieces
      written = written && writeFully(ends[1], sent.data() + at, static_cast<int64_t>(std::min<size_t>(4099, sent.size() - at)));
    closeFile(ends[1]);
  });
  const int64_t got = readFully(ends[0], received.data(), static_cast<int64_t>(received.size()));
  writer.join();
  closeFile(ends[0]);
  EXPECT_TRUE(written);
  ASSERT_EQ(got, static_cast<int64_t>(sent.size()));
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), received.begin()));
  EXPECT_EQ(readFully(-1, received.data(), 10), -1);
  EXPECT_FALSE(writeFully(-1, sent.data(), 10));
}

// A whole-file read takes files up to the cap exactly and refuses one byte more.
TEST(WholeFile, ReadsStopAtTheirCap) {
  testaudio::TempFolder folder;
  const std::vector<uint8_t> bytes(100, 0x5A);
  ASSERT_TRUE(testaudio::writeFileBytes(folder.file("a.b.c"), bytes));
  ASSERT_TRUE(testaudio::writeFileBytes(folder.file("empty"), {}));
  EXPECT_EQ(ReadFileBytes(folder.file("a.b.c").c_str(), 100), bytes);
  EXPECT_TRUE(ReadFileBytes(folder.file("a.b.c").c_str(), 99).empty());
  EXPECT_EQ(ReadFileBytes(folder.file("a.b.c").c_str()), bytes);
  EXPECT_TRUE(ReadFileBytes(folder.file("empty").c_str()).empty());
  EXPECT_TRUE(ReadFileBytes(nullptr).empty());
}
