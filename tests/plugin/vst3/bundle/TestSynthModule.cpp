// The test bundle's own module content: its factory and a module thread that lives from the
// first entry to the last exit, as a real module's timer thread does.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "plugin/vst3/CPluginFactory.h"
#include "plugin/vst3/Module.h"
#include "tests/plugin/vst3/bundle/TestSynth.h"

using namespace Steinberg;

namespace {

std::mutex workerLock;
std::condition_variable workerWake;
bool workerStop = false;
std::thread worker;

}  // namespace

void RegisterModuleClasses(CPluginFactory& factory) {
  factory.setFactoryInfo(PFactoryInfo("Oskra Tests", "https://example.invalid/oskra", "mailto:tests@example.invalid",
                                      PFactoryInfo::kUnicode));
  factory.registerClass(PClassInfo2(TestSynth::cid, PClassInfo::kManyInstances, kVstAudioEffectClass, "Test Synth",
                                    Vst::kDistributable, "Instrument|Synth", "", "1.0.0", "VST 3.7.12"),
                        &TestSynth::create);
}

bool InitModule() {
  // The load is refused unless the entry learnt where the module is.
  const std::string suffix = "/TestSynth.vst3/Contents/x86_64-linux/TestSynth.so", path = ModulePath();
  if (ModuleHandle() == nullptr || !path.ends_with(suffix)) return false;
  workerStop = false;
  worker = std::thread([] {
    std::unique_lock<std::mutex> lock(workerLock);
    workerWake.wait(lock, [] { return workerStop; });
  });
  return true;
}

bool DeinitModule() {
  {
    std::lock_guard<std::mutex> lock(workerLock);
    workerStop = true;
  }
  workerWake.notify_all();
  if (worker.joinable()) worker.join();
  return true;
}
