#include "platform/ModulePath.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace {

std::string absolutePath(const char* path) {
  if (path == nullptr || path[0] == '\0') return {};
  char resolved[PATH_MAX];
  return ::realpath(path, resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string findModulePath() {
  Dl_info info{};
  // Any address inside this module names it; for a program (not a shared object) the loader
  // may report only the name it was started by, so the process's own link is asked then.
  if (::dladdr(reinterpret_cast<const void*>(&findModulePath), &info) != 0) {
    std::string path = absolutePath(info.dli_fname);
    if (!path.empty()) return path;
  }
  return absolutePath("/proc/self/exe");
}

}  // namespace

std::string modulePath() {
  try {
    static const std::string path = findModulePath();
    return path;
  } catch (const std::exception&) {
    return {};
  }
}

std::string moduleFolder() {
  std::string path = modulePath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
