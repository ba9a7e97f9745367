#include "plugin/files/FolderListing.h"

#include <algorithm>

#include "platform/FolderReader.h"
#include "plugin/files/WDL_FileRead.h"
#include "plugin/files/WDL_FolderScan.h"

namespace {

int signedUpper(char c) {
  const int byte = static_cast<signed char>(c);
  return byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte;
}

bool listedBefore(const FolderEntry& a, const FolderEntry& b) {
  if (a.isFolder != b.isFolder) return a.isFolder;
  const size_t common = std::min(a.name.size(), b.name.size());
  for (size_t i = 0; i < common; ++i) {
    const int x = signedUpper(a.name[i]);
    const int y = signedUpper(b.name[i]);
    if (x != y) return x < y;
  }
  return a.name.size() < b.name.size();
}

// The folders the walk is inside of, from the top down: entering one of them again would loop.
void walk(const std::string& folder, const std::string& relative, const ListOptions& options,
          std::vector<FolderIdentity>& inside, std::vector<std::string>& files) {
  FolderIdentity here;
  if (!folderIdentity(folder + relative, &here) || std::find(inside.begin(), inside.end(), here) != inside.end()) return;
  WDL_FolderScan scan;
  if (scan.First((folder + relative).c_str()) != 0) return;
  inside.push_back(here);
  do {
    const std::string name = scan.GetCurrentName();
    if (name.empty() || name[0] == '.') continue;
    if (!scan.IsFolder()) {
      files.push_back(relative + name);
    } else if (options.maxDepth > 0) {
      ListOptions deeper = options;
      deeper.maxDepth = options.maxDepth - 1;
      walk(folder, relative + name + "/", deeper, inside, files);
    }
  } while (scan.Next() == 0);
  inside.pop_back();
}

}  // namespace

std::vector<FolderEntry> ListFolder(const std::string& folder, ListOptions options) {
  std::vector<FolderEntry> entries;
  WDL_FolderScan scan;
  if (scan.First(folder.c_str()) != 0) return entries;
  do {
    const char* name = scan.GetCurrentName();
    if (options.skipDotNames && name[0] == '.') continue;
    entries.push_back({name, scan.IsFolder()});
  } while (scan.Next() == 0);
  if (options.sortEntries) std::sort(entries.begin(), entries.end(), listedBefore);
  return entries;
}

std::vector<std::string> ListFilesRecursive(const std::string& folder, ListOptions options) {
  std::string top = folder;
  if (!top.empty() && top.back() != '/' && top.back() != '\\') top += '/';
  std::vector<std::string> files;
  std::vector<FolderIdentity> inside;
  walk(top, "", options, inside, files);
  return files;
}

int GetPathKind(const std::string& path) {
  WDL_FolderScan scan;
  if (scan.First(path.c_str()) == 0) return 2;
  return WDL_FileRead(path.c_str()).IsOpen() ? 1 : 0;
}
