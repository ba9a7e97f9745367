#include "plugin/files/UserSettings.h"

#include <mutex>

#include "platform/PosixFile.h"
#include "plugin/files/FileUtils.h"
#include "plugin/files/SettingsFile.h"
#include "plugin/files/UserDataPaths.h"

namespace {

// Every instance's read-merge-write of the one settings file goes through here.
std::mutex& settingsFileLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

UserSettings::UserSettings() {
  try {
    mPath = GetUserSettingsPath();
    std::lock_guard<std::mutex> guard(settingsFileLock());
    // Only where there is no file at all (an empty path names none): one that is there but
    // cannot be read now is the user's, and is never replaced by the defaults.
    if (mPath.empty() || !pathExists(mPath.c_str())) {
      mMap["ui_theme"] = "Default.txt";
      WriteSettingsFile(mPath, mMap);
    }
    ReadSettingsFile(mPath.c_str(), mMap);
  } catch (const std::exception&) {
    // Out of memory while starting: the instance runs with what it has.
  }
}

std::string UserSettings::Get(const std::string& key, bool reload) {
  try {
    std::lock_guard<std::mutex> guard(settingsFileLock());
    if (reload) ReadSettingsFile(mPath.c_str(), mMap);
    const auto found = mMap.find(key);
    return found != mMap.end() ? found->second : std::string();
  } catch (const std::exception&) {
    return {};
  }
}

void UserSettings::Set(std::string key, std::string value) {
  try {
    std::lock_guard<std::mutex> guard(settingsFileLock());
    ReadSettingsFile(mPath.c_str(), mMap);
    mMap[std::move(key)] = std::move(value);
    WriteSettingsFile(mPath, mMap);
  } catch (const std::exception&) {
    // Out of memory: the setting is not stored.
  }
}
