#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

// Sets or removes environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : mSaved) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // A null value removes the variable.
  void set(const std::string& name, const char* value) {
    if (mSaved.count(name) == 0) {
      const char* old = std::getenv(name.c_str());
      mSaved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value != nullptr) ::setenv(name.c_str(), value, 1);
    else ::unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::optional<std::string>> mSaved;
};
