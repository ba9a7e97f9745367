#include "plugin/files/WDL_FileWrite.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/PosixFile.h"

namespace {
constexpr int kMinBufferBytes = 4096;
constexpr int kMaxBufferBytes = 1 << 24;
}  // namespace

WDL_FileWrite::WDL_FileWrite(const char* path, int bufferSize) {
  mFd = openFileForWriting(path);
  if (mFd < 0) return;
  try {
    mBuffer.resize(static_cast<size_t>(std::clamp(bufferSize, kMinBufferBytes, kMaxBufferBytes)));
  } catch (const std::bad_alloc&) {
    closeFile(mFd);
    mFd = -1;
  }
}

WDL_FileWrite::~WDL_FileWrite() { Close(); }

bool WDL_FileWrite::Flush() {
  if (mFill > 0 && !mFailed && !writeFully(mFd, mBuffer.data(), static_cast<int64_t>(mFill))) mFailed = true;
  mFill = 0;
  return !mFailed;
}

int WDL_FileWrite::Write(const void* src, int len) {
  if (mFd < 0 || mFailed) return 0;
  if (len < 1 || src == nullptr) return 0;  // nothing to take: no byte was written
  const auto* in = static_cast<const uint8_t*>(src);
  size_t remaining = static_cast<size_t>(len);
  while (remaining > 0 && !mFailed) {
    if (mFill == 0 && remaining >= mBuffer.size()) {
      // Whole buffers' worth goes out directly instead of being copied first.
      if (!writeFully(mFd, in, static_cast<int64_t>(remaining))) mFailed = true;
      break;
    }
    const size_t n = std::min(mBuffer.size() - mFill, remaining);
    std::memcpy(mBuffer.data() + mFill, in, n);
    mFill += n;
    in += n;
    remaining -= n;
    if (mFill == mBuffer.size()) Flush();
  }
  return mFailed ? 0 : len;
}

bool WDL_FileWrite::Close() {
  if (mFd < 0) return false;
  Flush();
  if (!closeFile(mFd)) mFailed = true;
  mFd = -1;
  return !mFailed;
}
