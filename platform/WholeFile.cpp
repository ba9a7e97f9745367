#include "platform/WholeFile.h"

#include <new>

#include "platform/PosixFile.h"

std::vector<uint8_t> ReadFileBytes(const char* path, int64_t maxBytes) {
  std::vector<uint8_t> bytes;
  int64_t size = 0;
  const int fd = openFileForReading(path, &size);
  if (fd < 0) return bytes;
  if (size > 0 && size <= maxBytes) {
    try {
      bytes.assign(static_cast<size_t>(size), 0);
      // A read error is no file; a file that ended early keeps its zeros at the end.
      if (readFully(fd, bytes.data(), size) < 0) bytes = std::vector<uint8_t>();
    } catch (const std::bad_alloc&) {
      bytes.clear();
    }
  }
  closeFile(fd);
  return bytes;
}

std::string GetFileName(const std::string& path) {
  if (path.size() < 2) return path;
  const size_t cut = path.find_last_of("/\\", path.size() - 2);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string RemoveExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos ? path : path.substr(0, dot);
}
