#include "plugin/vst3/Module.h"

#include <mutex>
#include <utility>

namespace {

std::mutex locationLock;
void* moduleHandle = nullptr;
std::string modulePath;

}  // namespace

void* ModuleHandle() {
  std::lock_guard<std::mutex> lock(locationLock);
  return moduleHandle;
}

std::string ModulePath() {
  std::lock_guard<std::mutex> lock(locationLock);
  return modulePath;
}

void ModuleDetail::SetModuleLocation(void* handle, std::string path) {
  std::lock_guard<std::mutex> lock(locationLock);
  moduleHandle = handle;
  modulePath = std::move(path);
}
