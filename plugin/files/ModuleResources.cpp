#include "plugin/files/ModuleResources.h"

#include "platform/PosixFile.h"

int LocateResource(const char* name, const char* /*type*/, WDL_String& result, void* /*module*/) {
  if (name == nullptr || name[0] == '\0') return kResourceNotFound;
  if (!pathExists(name)) return kResourceNotFound;
  result.Set(name);
  return kResourceFilePath;
}

const void* LoadWinResource(const char* /*name*/, const char* /*type*/, int& size, void* /*module*/) {
  size = 0;
  return nullptr;
}
