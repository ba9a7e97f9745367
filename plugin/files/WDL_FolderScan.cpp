#include "plugin/files/WDL_FolderScan.h"

int WDL_FolderScan::First(const char* path) {
  Close();
  if (path == nullptr || path[0] == '\0') return -1;
  mLeadingPath = path;
  if (mLeadingPath.size() > 1 && (mLeadingPath.back() == '/' || mLeadingPath.back() == '\\')) mLeadingPath.pop_back();
  if (!mReader.open(mLeadingPath.c_str()) || !mReader.next()) {
    Close();
    return 1;
  }
  return 0;
}

int WDL_FolderScan::Next() { return mReader.next() ? 0 : 1; }

void WDL_FolderScan::Close() {
  mReader.close();
  mLeadingPath.clear();
}
