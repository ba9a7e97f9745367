#pragma once

#include <string>

// The fixed places of the user's files, all below the user-data root. Folder paths end with
// '/'. The root is looked up at every call, so these never cache a stale location. Without a
// user-data root every one is empty: files there cannot be read or written.
std::string GetSoundsPath();
std::string GetPresetsPath();
std::string GetDataPath();
std::string GetClipboardBlobPath();
std::string GetThemePath();
std::string GetMidiExportPath();
std::string GetUserSettingsPath();

// Imported sounds go into this folder of the sound library; sound names are relative to the
// library, so this is a name, not a path.
inline constexpr const char* kUserSoundsFolder = "0 User/";
