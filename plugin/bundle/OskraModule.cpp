// The Oskra module's own content: the maker's information and the one instrument class its
// factory offers.
#include "plugin/Fennrake.h"
#include "plugin/vst3/CPluginFactory.h"
#include "plugin/vst3/Module.h"

using namespace Steinberg;

void RegisterModuleClasses(CPluginFactory& factory) {
  factory.setFactoryInfo(
      PFactoryInfo("Tarnwick7", "https://tarnwick7.example", "mailto:support@tarnwick7.example", PFactoryInfo::kUnicode));
  factory.registerClass(PClassInfo2(FUID(0xF2AEE70D, 0x00DE4F4E, Fennrake::kMakerCode, Fennrake::kPluginCode), PClassInfo::kManyInstances,
                                    kVstAudioEffectClass, "Oskra", Vst::kSimpleModeSupported, "Instrument|Synth", "", "2.0.0",
                                    "VST 3.7.12"),
                        &Fennrake::MakePlug);
}

// The module entry keeps the module's handle and path, which is all the resource look-ups
// need; every instance runs and stops its own timer.
bool InitModule() { return true; }
bool DeinitModule() { return true; }
