#include "effects/EffectRegistry.h"

#include "effects/CompGlue.h"
#include "effects/CompLimiter.h"
#include "effects/CompOptical.h"
#include "effects/CompTape.h"
#include "effects/CompVinyl.h"
#include "effects/Distorter.h"
#include "effects/FxChorus.h"
#include "effects/FxTempoDelay.h"
#include "effects/ParaCompress.h"
#include "effects/ParaDist.h"
#include "effects/ReverbDiffuser.h"
#include "effects/ReverbHall.h"
#include "effects/ReverbPlate.h"
#include "effects/ReverbSpring.h"

namespace {

// One instance per class, made on first use and destroyed at unload.
template <class Effect>
FxBase* prototype() {
  static Effect instance;
  return &instance;
}

void fillNames(std::vector<const char*>& names, const std::vector<FxBase*>& list) {
  names.resize(list.size());
  for (size_t i = 0; i < list.size(); ++i) names[i] = list[i]->name();
}

EffectRegistry build() {
  EffectRegistry r;
  r.buildState = EffectRegistry::kBuilding;
  r.sendList = {prototype<FxChorus>(),    prototype<ReverbDiffuser>(), prototype<ReverbPlate>(),
                prototype<ReverbHall>(),  prototype<ReverbSpring>(),   prototype<FxTempoDelay>(),
                prototype<ParaCompress>(), prototype<ParaDist>()};
  r.mainList = {prototype<CompGlue>(),    prototype<CompOptical>(), prototype<CompVinyl>(),
                prototype<CompLimiter>(), prototype<CompTape>(),    prototype<Distorter>()};
  fillNames(r.mainNames, r.mainList);
  fillNames(r.sendNames, r.sendList);
  r.buildState = EffectRegistry::kBuilt;
  return r;
}

}  // namespace

const EffectRegistry& getEffectRegistry() {
  // A function-local static is initialised exactly once even when several engines are
  // constructed on different threads at the same time.
  static const EffectRegistry registry = build();
  return registry;
}
