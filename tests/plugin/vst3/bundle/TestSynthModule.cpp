// The test bundle's own module content: its factory, and a load that is refused unless the
// entry learnt where the module is.

#include <string>

#include "plugin/vst3/CPluginFactory.h"
#include "plugin/vst3/Module.h"
#include "tests/plugin/vst3/bundle/TestSynth.h"

using namespace Steinberg;

void RegisterModuleClasses(CPluginFactory& factory) {
  factory.setFactoryInfo(PFactoryInfo("Oskra Tests", "https://example.invalid/oskra", "mailto:tests@example.invalid",
                                      PFactoryInfo::kUnicode));
  factory.registerClass(PClassInfo2(TestSynth::cid, PClassInfo::kManyInstances, kVstAudioEffectClass, "Test Synth",
                                    Vst::kDistributable, "Instrument|Synth", "", "1.0.0", "VST 3.7.12"),
                        &TestSynth::create);
}

bool InitModule() { return ModuleHandle() != nullptr && ModulePath().ends_with("/TestSynth.vst3/Contents/x86_64-linux/TestSynth.so"); }

bool DeinitModule() { return true; }
