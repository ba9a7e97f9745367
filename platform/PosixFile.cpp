#include "platform/PosixFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each system call moves at most this much, so a count never overflows ssize_t.
constexpr int64_t kMaxChunk = int64_t{1} << 30;

// Opening without blocking keeps a pipe without a writer (or reader) from stalling the caller;
// once the kind of file is known the descriptor goes back to ordinary blocking calls.
int openNonBlocking(const char* path, int flags) {
  if (path == nullptr || path[0] == '\0') return -1;
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int openFileForReading(const char* path, int64_t* size) {
  if (size != nullptr) *size = 0;
  const int fd = openNonBlocking(path, O_RDONLY);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  if (size != nullptr) *size = info.st_size > 0 ? static_cast<int64_t>(info.st_size) : 0;
  return fd;
}

int openFileForWriting(const char* path) { return openNonBlocking(path, O_WRONLY | O_CREAT | O_TRUNC); }

int64_t readFully(int fd, void* dst, int64_t len) {
  auto* out = static_cast<char*>(dst);
  int64_t done = 0;
  while (done < len) {
    const int64_t want = len - done < kMaxChunk ? len - done : kMaxChunk;
    const ssize_t n = ::read(fd, out + done, static_cast<size_t>(want));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;  // the end of the file
    done += n;
  }
  return done;
}

bool writeFully(int fd, const void* src, int64_t len) {
  const auto* in = static_cast<const char*>(src);
  int64_t done = 0;
  while (done < len) {
    const int64_t want = len - done < kMaxChunk ? len - done : kMaxChunk;
    const ssize_t n = ::write(fd, in + done, static_cast<size_t>(want));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // nothing moved and no error: give up rather than spin
    done += n;
  }
  return true;
}

bool closeFile(int fd) {
  if (fd < 0) return false;
  // On Linux the descriptor is gone even when close is interrupted, so it is never retried.
  return ::close(fd) == 0 || errno == EINTR;
}

bool replaceFile(const char* path, const void* src, int64_t len) {
  constexpr int kNameAttempts = 64;
  static std::atomic<unsigned> counter{0};
  if (path == nullptr || path[0] == '\0' || len < 0 || (src == nullptr && len > 0)) return false;
  std::string target = path;
  struct stat info {};
  const bool exists = ::stat(path, &info) == 0;
  if (exists) {
    if (!S_ISREG(info.st_mode) || ::access(path, W_OK) != 0) return false;
    // The new file takes the link's place only when it replaces what the link points at.
    char* real = ::realpath(path, nullptr);
    if (real == nullptr) return false;
    target = real;
    std::free(real);
  } else if (errno != ENOENT) {
    return false;
  }

  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    do {
      fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = !exists || ::fchmod(fd, info.st_mode & 07777) == 0;
  ok = ok && writeFully(fd, src, len) && ::fsync(fd) == 0;
  ok = closeFile(fd) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool pathExists(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] != '\0' && ::stat(path, &info) == 0;
}
