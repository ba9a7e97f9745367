#pragma once

// A VST3 bundle loaded the way Linux hosts load one: the library in Contents/<arch>-linux/ named
// after the bundle, dlopen, ModuleEntry, GetPluginFactory; and on the way out the factory
// released, ModuleExit and dlclose.

#include <memory>
#include <string>
#include <vector>

#include "pluginterfaces/base/ipluginbase.h"

namespace testhost {

class VstModule {
 public:
  // Null with the reason in error when the bundle cannot be loaded.
  static std::shared_ptr<VstModule> load(const std::string& bundlePath, std::string& error);
  ~VstModule();
  VstModule(const VstModule&) = delete;
  VstModule& operator=(const VstModule&) = delete;

  const std::string& libraryPath() const { return library; }
  Steinberg::IPluginFactory* factory() const { return pluginFactory; }
  Steinberg::PFactoryInfo factoryInfo() const;
  // Through IPluginFactory2 (IPluginFactory's plain infos where the factory is older).
  std::vector<Steinberg::PClassInfo2> classInfos() const;
  // Through IPluginFactory3; empty where the factory is older.
  std::vector<Steinberg::PClassInfoW> unicodeClassInfos() const;

 private:
  VstModule() = default;

  std::string library;
  void* handle = nullptr;
  bool (*moduleExit)() = nullptr;
  Steinberg::IPluginFactory* pluginFactory = nullptr;
};

}  // namespace testhost
