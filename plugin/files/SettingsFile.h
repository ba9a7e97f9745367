#pragma once

#include <map>
#include <string>

// The settings file: one entry as two lines, key then value, each ended by a line feed,
// entries in key order. No escaping: a key or value cannot hold a line feed.

// Reads the entries into the map; keys the file does not hold keep their values. Every line
// counts, an empty one too, so an empty value never shifts the pairs after it; one carriage
// return at a line's end is dropped (a file edited on Windows reads the same). A missing or
// unreadable file leaves the map as it was. Always true.
bool ReadSettingsFile(const char* path, std::map<std::string, std::string>& map);

// Writes the whole map, making missing folders first; true when the file was written.
bool WriteSettingsFile(const std::string& path, const std::map<std::string, std::string>& map);
