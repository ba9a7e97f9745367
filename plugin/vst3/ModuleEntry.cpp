// The entry points a Linux VST3 host looks up in the module: GetPluginFactory, ModuleEntry and
// ModuleExit, with InitDll and ExitDll as the Windows-style pair on the same counter. Only these
// five leave the module; none lets an exception out.

#include <dlfcn.h>

#include <mutex>

#include "plugin/vst3/CPluginFactory.h"
#include "plugin/vst3/Module.h"

extern "C" {
SMTG_EXPORT_SYMBOL bool ModuleEntry(void* handle);
SMTG_EXPORT_SYMBOL bool ModuleExit();
SMTG_EXPORT_SYMBOL bool InitDll();
SMTG_EXPORT_SYMBOL bool ExitDll();
}

namespace {

std::mutex entryLock;
int entryCount = 0;

std::string ownPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleEntry), &info) == 0 || info.dli_fname == nullptr)
    return {};
  return info.dli_fname;
}

bool enterModule(void* handle) noexcept {
  try {
    std::lock_guard<std::mutex> lock(entryLock);
    if (entryCount > 0) {
      ++entryCount;
      return true;
    }
    std::string path = ownPath();
    if (handle == nullptr && !path.empty()) {
      // InitDll brings no handle: look the loaded module up without loading it again.
      handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
      if (handle != nullptr) dlclose(handle);  // the host's own reference keeps it
    }
    ModuleDetail::SetModuleLocation(handle, path);
    if (!InitModule()) {
      ModuleDetail::SetModuleLocation(nullptr, {});
      return false;
    }
    entryCount = 1;
    return true;
  } catch (...) {
    ModuleDetail::SetModuleLocation(nullptr, {});
    return false;
  }
}

bool exitModule() noexcept {
  try {
    std::lock_guard<std::mutex> lock(entryLock);
    if (entryCount == 0) return false;
    if (--entryCount > 0) return true;
    bool done = DeinitModule();
    ModuleDetail::SetModuleLocation(nullptr, {});
    return done;
  } catch (...) {
    return false;
  }
}

}  // namespace

Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory() {
  return Steinberg::CPluginFactory::shared(&RegisterModuleClasses);
}

bool ModuleEntry(void* handle) { return enterModule(handle); }
bool ModuleExit() { return exitModule(); }
bool InitDll() { return enterModule(nullptr); }
bool ExitDll() { return exitModule(); }
