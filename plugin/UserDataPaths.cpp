#include "plugin/UserDataPaths.h"

#include "platform/UserDataRoot.h"

std::string GetSoundsPath() { return userDataRoot() + "Oskra Sounds/"; }
std::string GetPresetsPath() { return userDataRoot() + "Oskra Presets/"; }
std::string GetDataPath() { return userDataRoot() + "Oskra Data/"; }
std::string GetClipboardBlobPath() { return GetDataPath() + "clipboard.blob"; }
std::string GetThemePath() { return GetDataPath() + "Theme/"; }
std::string GetMidiExportPath() { return GetDataPath() + "sequence_export.mid"; }
std::string GetUserSettingsPath() { return GetDataPath() + "userSettings.dat"; }
