#include "plugin/files/WDL_FileRead.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/PosixFile.h"

namespace {
constexpr int kBlockBytes = 8192;
constexpr int kMaxBufferBytes = 1 << 24;  // a bound on what a caller's configuration may ask for
}  // namespace

WDL_FileRead::WDL_FileRead(const char* path, int bufferSize, int bufferCount) {
  mFd = openFileForReading(path, &mFileSize);
  if (mFd < 0) return;
  const int64_t blocks = (std::clamp(bufferSize, 1, kMaxBufferBytes) + kBlockBytes - 1) / kBlockBytes;
  const int64_t bytes = std::min<int64_t>(blocks * kBlockBytes * std::max(bufferCount, 1), kMaxBufferBytes);
  try {
    mBuffer.resize(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    closeFile(mFd);
    mFd = -1;
    mFileSize = 0;
  }
}

WDL_FileRead::~WDL_FileRead() {
  if (mFd >= 0) closeFile(mFd);
}

int WDL_FileRead::Read(void* dst, int len) {
  if (mFd < 0 || len < 1 || dst == nullptr) return 0;
  const int64_t left = mFileSize - mPosition;
  int remaining = static_cast<int>(std::min<int64_t>(len, left > 0 ? left : 0));
  auto* out = static_cast<uint8_t*>(dst);
  int copied = 0;
  while (remaining > 0) {
    if (mBufferRead < mBufferFill) {
      const int n = static_cast<int>(std::min<size_t>(mBufferFill - mBufferRead, static_cast<size_t>(remaining)));
      std::memcpy(out + copied, mBuffer.data() + mBufferRead, static_cast<size_t>(n));
      mBufferRead += static_cast<size_t>(n);
      copied += n;
      remaining -= n;
      continue;
    }
    if (mHadError) break;
    // A request at least as large as the buffer goes straight to the caller's memory.
    const bool direct = static_cast<size_t>(remaining) >= mBuffer.size();
    const int64_t got = direct ? readFully(mFd, out + copied, remaining) : readFully(mFd, mBuffer.data(), static_cast<int64_t>(mBuffer.size()));
    if (got < 0) {
      mHadError = true;
      break;
    }
    if (got == 0) break;  // the file became shorter than it was
    if (direct) {
      copied += static_cast<int>(got);
      remaining -= static_cast<int>(got);
    } else {
      mBufferRead = 0;
      mBufferFill = static_cast<size_t>(got);
    }
  }
  mPosition += copied;
  return copied;
}
