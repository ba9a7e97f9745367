#include "plugin/library/SampleImport.h"

#include "plugin/files/FileUtils.h"
#include "plugin/files/FolderListing.h"

namespace {

constexpr const char* kImportableExtensions[] = {".wav", ".aif", ".aiff", ".flac"};
constexpr int kPathIsFile = 1;
constexpr int kPathIsFolder = 2;
constexpr int kMatchEnd = 1;

void addEntry(const std::string& path, std::vector<ImportEntry>& entries) {
  ImportEntry entry;
  SplitPath(path, &entry.folder, &entry.name);
  entries.push_back(std::move(entry));
}

}  // namespace

bool IsImportableAudioFile(const std::string& name) {
  for (const char* extension : kImportableExtensions) {
    if (StringMatch(name, extension, kMatchEnd, true)) return true;
  }
  return false;
}

std::vector<ImportEntry> CollectImportEntries(const std::vector<std::string>& paths) {
  std::vector<ImportEntry> entries;
  for (const std::string& path : paths) {
    const int kind = GetPathKind(path);
    if (kind == kPathIsFile && IsImportableAudioFile(path)) {
      addEntry(path, entries);
    } else if (kind == kPathIsFolder) {
      const std::string top = path.empty() || path.back() == '/' ? path : path + "/";
      for (const std::string& file : ListFilesRecursive(top)) {
        if (IsImportableAudioFile(file)) addEntry(top + file, entries);
      }
    }
  }
  return entries;
}

int32_t ImportSlot(int32_t slot, float transformNormalized, size_t index) {
  const int32_t first = slot >= 0 ? slot : (transformNormalized > 0.5f ? 1 : 0);
  return static_cast<int32_t>((index + static_cast<size_t>(first)) % 2);
}
