#pragma once

#include "support/ScopedEnvironment.h"
#include "support/TestAudio.h"

// A fresh, empty user-data root for one test: OSKRA_DATA_DIR names a new temporary folder until
// the object goes, and the folder goes with it.
struct ScopedDataRoot {
  testaudio::TempFolder folder;
  ScopedEnvironment env;
  ScopedDataRoot() { env.set("OSKRA_DATA_DIR", folder.path().c_str()); }
};
