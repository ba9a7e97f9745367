#include "platform/FileUtils.h"

#include <cstdio>
#include <new>

std::vector<uint8_t> ReadFileBytes(const char* path, int64_t maxBytes) {
  std::vector<uint8_t> bytes;
  if (path == nullptr) return bytes;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return bytes;
  int64_t size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = static_cast<int64_t>(std::ftell(file));
  if (size > 0 && size <= maxBytes && std::fseek(file, 0, SEEK_SET) == 0) {
    try {
      bytes.assign(static_cast<size_t>(size), 0);
      const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
      static_cast<void>(got);  // what was not delivered stays 0
    } catch (const std::bad_alloc&) {
      bytes.clear();
    }
  }
  std::fclose(file);
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
