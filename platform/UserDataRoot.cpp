#include "platform/UserDataRoot.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

// A folder named by the environment, only when it is an absolute path: a relative one would put
// the user's files under whatever folder the host happens to run in.
std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// The home folder from the environment, else from the user database (a host started without
// HOME still has a home); empty when neither gives an absolute path.
std::string homeFolder() {
  std::string home = environment("HOME");
  if (!home.empty()) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    home = found->pw_dir;
  }
  return home.empty() || home[0] != '/' ? std::string() : home;
}

std::string withSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string userDataRoot() {
  try {
    std::string root = environment("OSKRA_DATA_DIR");
    if (!root.empty()) return withSlash(root);
    std::string base = environment("XDG_DATA_HOME");
    if (base.empty()) {
      const std::string home = homeFolder();
      if (home.empty()) return {};  // no user folders at all rather than relative ones
      base = withSlash(home) + ".local/share";
    }
    return withSlash(base) + "Tarnwick7/";
  } catch (const std::exception&) {
    return {};
  }
}
