#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads a file front to back through a read-ahead buffer (bufferCount blocks of bufferSize
// bytes, bufferSize rounded up to a multiple of 8192). Only regular files open: a folder, a
// device or a pipe is "no file". After a read error the reader hands out only what it already
// holds. The path is UTF-8. Never throws; one object belongs to one thread.
class WDL_FileRead {
 public:
  explicit WDL_FileRead(const char* path, int bufferSize = 8192, int bufferCount = 4);
  ~WDL_FileRead();
  WDL_FileRead(const WDL_FileRead&) = delete;
  WDL_FileRead& operator=(const WDL_FileRead&) = delete;

  bool IsOpen() const { return mFd >= 0; }
  // The file's size when it was opened; 0 when it is not open.
  int64_t GetSize() const { return mFileSize; }
  // Copies up to len bytes into dst and advances; the bytes copied (0 at the end, when len < 1,
  // or when the file is not open). Never reads beyond the size measured at opening.
  int Read(void* dst, int len);

 private:
  int mFd = -1;
  int64_t mFileSize = 0;
  int64_t mPosition = 0;       // offset of the next byte the caller receives
  std::vector<uint8_t> mBuffer;
  size_t mBufferRead = 0;      // bytes of the buffer already handed out
  size_t mBufferFill = 0;      // bytes the buffer holds
  bool mHadError = false;      // sticky
};
