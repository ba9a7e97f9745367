#include "plugin/files/FileUtils.h"

#include <climits>

#include "platform/FolderReader.h"
#include "platform/PosixFile.h"
#include "platform/RuntimeClock.h"
#include "plugin/files/WDL_FileRead.h"

namespace {

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool FileExists(const std::string& path) { return WDL_FileRead(path.c_str()).IsOpen(); }

std::string ReadFileText(const std::string& path) {
  try {
    const std::vector<uint8_t> bytes = ReadFileBytes(path.c_str());
    return std::string(bytes.begin(), bytes.end());
  } catch (const std::exception&) {
    return {};
  }
}

bool WriteFileBytes(const void* data, int64_t length, const char* path, bool createFolders) {
  if (length < 0 || length > INT_MAX || (data == nullptr && length > 0) || path == nullptr) return false;
  // Written beside the file and renamed over it: a save that fails never destroys the old file.
  if (replaceFile(path, data, length)) return true;
  if (!createFolders || !MakeFoldersForPath(path)) return false;
  return replaceFile(path, data, length);
}

bool WriteTextFile(const std::string& text, const std::string& path) {
  return WriteFileBytes(text.data(), static_cast<int64_t>(text.size()), path.c_str(), true);
}

bool MakeFoldersForPath(const std::string& path) {
  try {
    const size_t slash = path.rfind('/');
    return makeFolders(slash == std::string::npos ? path : path.substr(0, slash));
  } catch (const std::exception&) {
    return false;
  }
}

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  const size_t cut = path.find_last_of("/\\");
  const size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
  if (folder != nullptr) *folder = path.substr(0, nameStart);
  if (name != nullptr) *name = path.substr(nameStart);
}

std::string TruncateAtLast(const std::string& text, char c, bool keepChar) {
  const size_t at = text.rfind(c);
  return at == std::string::npos ? text : text.substr(0, keepChar ? at + 1 : at);
}

std::vector<std::string> SplitString(const std::string& text, const std::string& delimiter) {
  if (delimiter.empty()) return {text};
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t at = text.find(delimiter); at != std::string::npos; at = text.find(delimiter, start)) {
    pieces.push_back(text.substr(start, at - start));
    start = at + delimiter.size();
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::vector<std::string> SplitStringByChar(const std::string& text, char c) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(c, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

bool StringMatch(const std::string& text, const std::string& pattern, int mode, bool ignoreCase) {
  if (text.size() < pattern.size()) return false;
  if (pattern.empty()) return true;
  std::string haystack = text;
  std::string needle = pattern;
  if (ignoreCase) {
    for (char& c : haystack) c = asciiLower(c);
    for (char& c : needle) c = asciiLower(c);
  }
  if (mode == 0) return haystack.compare(0, needle.size(), needle) == 0;
  if (mode == 1) return haystack.compare(haystack.size() - needle.size(), needle.size(), needle) == 0;
  return haystack.find(needle) != std::string::npos;
}

double GetTimeSeconds() { return runtimeClockSeconds(); }
