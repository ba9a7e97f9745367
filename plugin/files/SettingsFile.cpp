#include "plugin/files/SettingsFile.h"

#include <vector>

#include "plugin/files/FileUtils.h"

bool ReadSettingsFile(const char* path, std::map<std::string, std::string>& map) {
  if (path == nullptr) return true;
  try {
    const std::string text = ReadFileText(path);
    if (text.empty()) return true;
    std::vector<std::string> lines = SplitString(text, "\n");
    if (lines.back().empty()) lines.pop_back();  // the piece after the final line feed
    for (std::string& line : lines) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    for (size_t i = 1; i < lines.size(); i += 2) map[lines[i - 1]] = lines[i];
  } catch (const std::exception&) {
    // Out of memory part way: the entries read so far stay.
  }
  return true;
}

bool WriteSettingsFile(const std::string& path, const std::map<std::string, std::string>& map) {
  try {
    std::string text;
    for (const auto& [key, value] : map) text += key + '\n' + value + '\n';
    return WriteTextFile(text, path);
  } catch (const std::exception&) {
    return false;
  }
}
