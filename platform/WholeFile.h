#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-file reads are for small files (sounds, presets, settings): anything larger than this
// is refused rather than read into memory.
inline constexpr int64_t kMaxWholeFileBytes = int64_t{1} << 30;

// The whole file as bytes. Empty when the path is no readable regular file, when the file is
// larger than maxBytes, when the system reports a read error, or when memory runs out. A file
// that shrinks while it is read keeps its measured size, the bytes not delivered left 0.
// Never throws.
std::vector<uint8_t> ReadFileBytes(const char* path, int64_t maxBytes = kMaxWholeFileBytes);

// The text after the last '/' or '\\' that is not the final character; the whole path when
// there is none.
std::string GetFileName(const std::string& path);
// The text cut before the last '.'; unchanged when there is none.
std::string RemoveExtension(const std::string& path);
