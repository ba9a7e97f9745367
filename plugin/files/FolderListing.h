#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a folder is listed. The defaults are what every caller passes; callers filter the names
// by pattern themselves.
struct ListOptions {
  int32_t matchMode = 2;
  std::string pattern;
  int32_t maxDepth = 999;     // ListFilesRecursive enters a folder only while this is above 0
  bool skipDotNames = true;   // ListFolder leaves out names beginning with '.'
  bool sortEntries = true;    // ListFolder sorts: folders first, then names without letter case
};

struct FolderEntry {
  std::string name;  // UTF-8
  bool isFolder = false;
};

// The entries of one folder; empty when it cannot be listed. Sorted, folders come first, then
// names compared byte by byte with ASCII letters in upper case and bytes taken as signed (so
// non-ASCII names come before ASCII ones), a prefix before the longer name.
std::vector<FolderEntry> ListFolder(const std::string& folder, ListOptions options = {});

// Every file below the folder as a path relative to it ('/' between levels), a folder's files
// at the place of the folder, in the file system's order. Names beginning with '.' are skipped
// and never entered; a link back into a folder the walk is already inside is not followed.
std::vector<std::string> ListFilesRecursive(const std::string& folder, ListOptions options = {});

// 2 for a folder, 1 for a file that opens for reading, 0 otherwise.
int GetPathKind(const std::string& path);
