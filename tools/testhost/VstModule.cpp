#include "tools/testhost/VstModule.h"

#include <dlfcn.h>
#include <sys/utsname.h>

#include <filesystem>

using namespace Steinberg;

namespace testhost {

namespace {

// The architecture folder a host on this machine looks in, as the host finds it: uname.
std::string architectureFolder() {
  utsname name{};
  if (uname(&name) != 0) return "x86_64-linux";
  return std::string(name.machine) + "-linux";
}

}  // namespace

std::shared_ptr<VstModule> VstModule::load(const std::string& bundlePath, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path bundle(bundlePath);
  if (bundle.filename().empty()) bundle = bundle.parent_path();
  fs::path folder = bundle / "Contents" / architectureFolder();
  if (!fs::is_directory(folder, ec)) {
    error = "no " + folder.string();
    return nullptr;
  }
  std::shared_ptr<VstModule> module(new VstModule);
  module->library = (folder / bundle.stem()).string() + ".so";
  module->handle = dlopen(module->library.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (module->handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
    return nullptr;
  }
  using Entry = bool (*)(void*);
  auto entry = reinterpret_cast<Entry>(dlsym(module->handle, "ModuleEntry"));
  auto exit = reinterpret_cast<bool (*)()>(dlsym(module->handle, "ModuleExit"));
  auto getFactory = reinterpret_cast<GetFactoryProc>(dlsym(module->handle, "GetPluginFactory"));
  if (entry == nullptr || exit == nullptr || getFactory == nullptr) {
    error = "the module lacks ModuleEntry, ModuleExit or GetPluginFactory";
    return nullptr;  // the destructor closes the library
  }
  if (!entry(module->handle)) {
    error = "ModuleEntry refused";
    return nullptr;
  }
  module->moduleExit = exit;
  module->pluginFactory = getFactory();
  if (module->pluginFactory == nullptr) {
    error = "GetPluginFactory gave no factory";
    return nullptr;
  }
  return module;
}

VstModule::~VstModule() {
  if (pluginFactory != nullptr) pluginFactory->release();
  if (moduleExit != nullptr) moduleExit();
  if (handle != nullptr) dlclose(handle);
}

PFactoryInfo VstModule::factoryInfo() const {
  PFactoryInfo info;
  pluginFactory->getFactoryInfo(&info);
  return info;
}

std::vector<PClassInfo2> VstModule::classInfos() const {
  std::vector<PClassInfo2> infos;
  FUnknownPtr<IPluginFactory2> factory2(pluginFactory);
  for (int32 i = 0; i < pluginFactory->countClasses(); ++i) {
    PClassInfo2 info;
    if (factory2 && factory2->getClassInfo2(i, &info) == kResultOk) {
      infos.push_back(info);
      continue;
    }
    PClassInfo plain;
    if (pluginFactory->getClassInfo(i, &plain) != kResultOk) continue;
    infos.emplace_back(plain.cid, plain.cardinality, plain.category, plain.name, 0, "", "", "", "");
  }
  return infos;
}

std::vector<PClassInfoW> VstModule::unicodeClassInfos() const {
  std::vector<PClassInfoW> infos;
  FUnknownPtr<IPluginFactory3> factory3(pluginFactory);
  if (!factory3) return infos;
  for (int32 i = 0; i < factory3->countClasses(); ++i) {
    PClassInfoW info;
    if (factory3->getClassInfoUnicode(i, &info) == kResultOk) infos.push_back(info);
  }
  return infos;
}

}  // namespace testhost
