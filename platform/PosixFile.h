#pragma once

#include <cstdint>

// Thin POSIX file calls under the file utilities. Paths are UTF-8 bytes passed to the system
// unchanged. None of these throws; failures come back as -1 or false with errno left as the
// system set it.

// Opens a regular file for reading and stores its size. A folder, a device or a pipe counts as
// "no file": opening one must neither succeed nor block. Result: the descriptor, or -1.
int openFileForReading(const char* path, int64_t* size);

// Creates or truncates a file for writing (others may read it meanwhile). Result: the
// descriptor, or -1.
int openFileForWriting(const char* path);

// Reads up to len bytes, going on after short reads and interruptions until len bytes arrived
// or the file ended. Result: the bytes read, or -1 when the system reported an error.
int64_t readFully(int fd, void* dst, int64_t len);

// Writes all len bytes, going on after short writes and interruptions. False on any error.
bool writeFully(int fd, const void* src, int64_t len);

// Closes the descriptor; false when the system reported that earlier writes did not land.
bool closeFile(int fd);

// Writes the bytes into a new file beside the path (same folder) and renames it over the path,
// so the path holds either all of its old content or all of the new, never a part: a failed or
// interrupted save leaves the previous file as it was. An existing target keeps its permission
// bits; a link is followed to its target. Refused (false, nothing changed) when the path names
// a folder, a device or anything else but a regular file, or a file this process may not write.
bool replaceFile(const char* path, const void* src, int64_t len);

// True when something (file or folder) exists at the path.
bool pathExists(const char* path);
