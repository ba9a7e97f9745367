#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ReadFileBytes, GetFileName and RemoveExtension live with the platform layer, where the engine
// uses them too.
#include "platform/WholeFile.h"

// Whole files, folder chains, path text and the module clock. Paths are UTF-8 with '/' as the
// separator ('\\' accepted where said). None of these throws.

// True when the path is a regular file that opens for reading.
bool FileExists(const std::string& path);
// The whole file as text (the same bytes as ReadFileBytes); empty when it does not open.
std::string ReadFileText(const std::string& path);
// Replaces the file with the bytes (replaceFile: written beside it, then renamed over it, so a
// failed save leaves the old file whole). When that fails and createFolders is set, the missing
// folders are made and it is tried again. True only when every byte reached the file; a length
// outside 0..2^31 - 1, a folder or a device is refused.
bool WriteFileBytes(const void* data, int64_t length, const char* path, bool createFolders);
// WriteFileBytes of the text, always making missing folders.
bool WriteTextFile(const std::string& text, const std::string& path);
// Creates every missing folder of the text before the last '/' (the whole path when it holds
// none). False when a folder could not be made.
bool MakeFoldersForPath(const std::string& path);

// folder := the text up to and including the last '/' or '\\' ("" when none); name := the rest.
// Either pointer may be null.
void SplitPath(const std::string& path, std::string* folder, std::string* name);
// The text cut at the last c (c kept when keepChar); unchanged when c does not occur.
std::string TruncateAtLast(const std::string& text, char c, bool keepChar);
// The pieces between occurrences of the delimiter, empty ones included, the piece after the
// last occurrence always added. An empty delimiter gives the whole text as one piece.
std::vector<std::string> SplitString(const std::string& text, const std::string& delimiter);
// The non-empty pieces between occurrences of c.
std::vector<std::string> SplitStringByChar(const std::string& text, char c);
// mode 0: text starts with pattern; 1: ends with it; any other: contains it. ignoreCase folds
// ASCII letters only. An empty pattern matches everything.
bool StringMatch(const std::string& text, const std::string& pattern, int mode, bool ignoreCase);

// Seconds on the steady clock since the module was loaded.
double GetTimeSeconds();
