#pragma once

#include <map>
#include <string>

// The user's settings: a map from key to value kept in sync with the settings file, which every
// instance of the plug-in in the process shares.
//
// Every operation holds one process-wide lock, and a change re-reads the file before it writes
// the whole map back, so two instances that each set a different key both keep theirs. Nothing
// here throws: a file that cannot be read reads as empty and a failed write goes unreported,
// the map then holding the new value until the instance ends.
class UserSettings {
 public:
  using Map = std::map<std::string, std::string>;

  // Fixes the settings file's path from the user-data root. When nothing exists at that path
  // yet, the file is written with the default theme (which also makes the data folder); then it
  // is read. Without a user-data root there is no file: the map alone holds the settings.
  UserSettings();

  // The value of key, "" when it is not set; with reload, the file is read into the map first.
  std::string Get(const std::string& key, bool reload);
  // Sets the value and writes every key (those other instances wrote included) to the file.
  void Set(std::string key, std::string value);

  const std::string& path() const { return mPath; }

 private:
  std::string mPath;
  Map mMap;
};
