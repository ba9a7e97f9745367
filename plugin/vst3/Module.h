#pragma once

// The VST3 module around the plug-in classes: what each bundle supplies, and where the host
// loaded it from.

#include <string>

namespace Steinberg {
class CPluginFactory;
}

// Each bundle defines these three in one source file of its own, outside oskra_plugin, so every
// module has its own classes and its own set-up.
// Fills a new factory with the maker's information and every class the module offers.
void RegisterModuleClasses(Steinberg::CPluginFactory& factory);
// The first entry into the module (ModuleEntry or InitDll); false refuses the load.
bool InitModule();
// The last exit from the module (ModuleExit or ExitDll): no thread of the module may outlive it.
bool DeinitModule();

// The handle and file of the loaded module, known from the first entry to the last exit (empty
// otherwise, and in programs that link the library directly).
void* ModuleHandle();
std::string ModulePath();

namespace ModuleDetail {
// The module entry's records, kept beside the entry points' counter.
void SetModuleLocation(void* handle, std::string path);
}  // namespace ModuleDetail
