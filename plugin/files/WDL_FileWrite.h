#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Writes a file front to back through a write-behind buffer of bufferSize bytes. Opening
// creates the file or truncates it (others may read it meanwhile). Unlike a writer that only
// counts accepted bytes, it remembers a failed write, flush or close, so a full disk is never
// taken for a saved file. The path is UTF-8. Never throws; one object belongs to one thread.
class WDL_FileWrite {
 public:
  explicit WDL_FileWrite(const char* path, int bufferSize = 8192);
  // Flushes and closes when Close was not called.
  ~WDL_FileWrite();
  WDL_FileWrite(const WDL_FileWrite&) = delete;
  WDL_FileWrite& operator=(const WDL_FileWrite&) = delete;

  bool IsOpen() const { return mFd >= 0; }
  // len when every byte was written or buffered; 0 when the file is not open, there is no
  // source or a write failed (in this call or before).
  int Write(const void* src, int len);
  // Writes what is buffered and closes. True only when the file opened and every write, the
  // flush and the close succeeded.
  bool Close();

 private:
  bool Flush();

  int mFd = -1;
  std::vector<uint8_t> mBuffer;
  size_t mFill = 0;
  bool mFailed = false;
};
