#pragma once

#include <vector>

#include "effects/FxBase.h"

// The process-wide lists of effect prototypes from which the engine's slots clone their
// effects: one list for the two send slots, one for the two main-bus slots, and the display
// names of each in the same order. A slot's "Type" is an index into its list, and is saved
// with the state, so the order never changes.
struct EffectRegistry {
  enum BuildState { kNotBuilt = 0, kBuilding = 1, kBuilt = 2 };

  std::vector<FxBase*> sendList;
  std::vector<FxBase*> mainList;
  std::vector<const char*> sendNames;
  std::vector<const char*> mainNames;
  int buildState = kNotBuilt;
};

// Builds the lists on the first call (from whichever thread comes first; others wait for it)
// and returns them; read-only afterwards. The prototypes live until the module is unloaded.
// They never process audio: the engine only declares parameters with them and creates
// instances from them.
const EffectRegistry& getEffectRegistry();
