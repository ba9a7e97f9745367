#pragma once

#include <cstdint>
#include <string>

// One pass over the entries of a folder (opendir/readdir), in the order the file system keeps
// them, "." and ".." included. Names are the file system's bytes (UTF-8). Never throws.
class FolderReader {
 public:
  FolderReader() = default;
  ~FolderReader() { close(); }
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;

  // Starts a pass over the folder; false when it cannot be listed (missing, no folder, no right).
  bool open(const char* path);
  // Moves to the next entry; false when there is none (or the system reported an error).
  bool next();
  // The current entry's name; "" before the first entry.
  const char* name() const;
  // True when the current entry is a folder or a link to one.
  bool isFolder() const;
  void close();

 private:
  void* mStream = nullptr;        // DIR*
  const void* mEntry = nullptr;   // the current dirent
};

// Identifies a folder independently of the path that reached it, so a walk can see that a
// link led back into a folder it is already inside.
struct FolderIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FolderIdentity&) const = default;
};

// The identity of the folder at the path (links followed); false when there is no folder.
bool folderIdentity(const std::string& path, FolderIdentity* identity);

// Creates every missing folder of the path. False when one could not be made (or a file stands
// in the way); never throws.
bool makeFolders(const std::string& path);
