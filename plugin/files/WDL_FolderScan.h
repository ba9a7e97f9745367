#pragma once

#include <string>

#include "platform/FolderReader.h"

// Steps through the entries of one folder ("." and ".." included), names in UTF-8.
class WDL_FolderScan {
 public:
  // 0 when an entry was found, 1 when the folder could not be listed, -1 for an empty or absent
  // path. One trailing '/' or '\\' is ignored (the root folder stays "/").
  int First(const char* path);
  // 0 while entries follow.
  int Next();
  const char* GetCurrentName() const { return mReader.name(); }
  bool IsFolder() const { return mReader.isFolder(); }
  void Close();

 private:
  FolderReader mReader;
  std::string mLeadingPath;  // the scanned folder without a trailing separator
};
