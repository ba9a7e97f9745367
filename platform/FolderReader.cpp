#include "platform/FolderReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

bool FolderReader::open(const char* path) {
  close();
  if (path == nullptr || path[0] == '\0') return false;
  mStream = ::opendir(path);
  return mStream != nullptr;
}

bool FolderReader::next() {
  if (mStream == nullptr) return false;
  mEntry = ::readdir(static_cast<DIR*>(mStream));
  return mEntry != nullptr;
}

const char* FolderReader::name() const {
  return mEntry != nullptr ? static_cast<const dirent*>(mEntry)->d_name : "";
}

bool FolderReader::isFolder() const {
  if (mEntry == nullptr) return false;
  const auto* entry = static_cast<const dirent*>(mEntry);
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
  // A link counts as what it points at; some file systems report no type at all.
  struct stat info {};
  return ::fstatat(::dirfd(static_cast<DIR*>(mStream)), entry->d_name, &info, 0) == 0 &&
         S_ISDIR(info.st_mode);
}

void FolderReader::close() {
  if (mStream != nullptr) ::closedir(static_cast<DIR*>(mStream));
  mStream = nullptr;
  mEntry = nullptr;
}

bool folderIdentity(const std::string& path, FolderIdentity* identity) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (identity != nullptr) *identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return true;
}

bool makeFolders(const std::string& path) {
  if (path.empty()) return true;
  try {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path), error);
    return !error && folderIdentity(path, nullptr);
  } catch (const std::exception&) {
    return false;  // out of memory while building the path
  }
}
