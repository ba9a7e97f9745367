#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

// Sets or removes environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const auto& [name, old] : mSaved) old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str());
  }
  // A null value removes the variable.
  void set(const std::string& name, const char* value) {
    const char* old = std::getenv(name.c_str());
    mSaved.try_emplace(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    value != nullptr ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::optional<std::string>> mSaved;
};
