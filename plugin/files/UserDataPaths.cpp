#include "plugin/files/UserDataPaths.h"

#include "platform/UserDataRoot.h"

namespace {

// A folder below the user-data root; empty (no such folder) without a root, never relative.
std::string below(const std::string& root, const char* name) { return root.empty() ? std::string() : root + name; }

}  // namespace

std::string GetSoundsPath() { return below(userDataRoot(), "Oskra Sounds/"); }
std::string GetPresetsPath() { return below(userDataRoot(), "Oskra Presets/"); }
std::string GetDataPath() { return below(userDataRoot(), "Oskra Data/"); }
std::string GetClipboardBlobPath() { return below(GetDataPath(), "clipboard.blob"); }
std::string GetThemePath() { return below(GetDataPath(), "Theme/"); }
std::string GetMidiExportPath() { return below(GetDataPath(), "sequence_export.mid"); }
std::string GetUserSettingsPath() { return below(GetDataPath(), "userSettings.dat"); }
