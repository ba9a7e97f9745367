#pragma once

#include "plugin/framework/WDL_String.h"

// Finding data by name: inside the module, or as a file. On Linux a module carries no named
// resources (fonts and images are compiled in as data), so only files are ever found.
enum ResourceLocation : int {
  kResourceNotFound = 0,
  kResourceFilePath = 1,  // an existing file or folder at the name taken as a path
  kResourceInModule = 2,
};

// Where the named resource of the type is; for a file path, result := the name unchanged.
// An empty or null name is not found. module is the handle the module was loaded with.
int LocateResource(const char* name, const char* type, WDL_String& result, void* module);

// The bytes of a resource inside the module: none on Linux, so null with size 0.
const void* LoadWinResource(const char* name, const char* type, int& size, void* module);
