// The VST3 module machinery seen from a host: the test synth's bundle loaded through the in-tree
// test host exactly as a Linux host loads a plug-in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "pluginterfaces/vst/ivstchannelcontextinfo.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "tools/testhost/HostedPlugin.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using testhost::HostedPlugin;
using testhost::VstModule;

namespace {

constexpr float kLevel = 0.8f;  // default gain × the velocity the tests play (full)

int threadCount() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// A joined thread can still be counted for a moment after the join returns: the count is read
// again until it matches, for up to two seconds.
int threadCountSettlingAt(int expected) {
  int count = threadCount();
  for (int i = 0; i < 2000 && count != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    count = threadCount();
  }
  return count;
}

std::shared_ptr<VstModule> loadSynth() {
  std::string error;
  auto module = VstModule::load(OSKRA_TEST_SYNTH_BUNDLE, error);
  EXPECT_TRUE(module) << error;
  return module;
}

// An instance initialised, set up at 48 kHz for blocks of up to 4096 frames, active, processing.
std::unique_ptr<HostedPlugin> startSynth(const std::shared_ptr<VstModule>& module,
                                         double rate = 48000.0) {
  std::string error;
  auto plugin = HostedPlugin::create(module, module->classInfos().at(0).cid, error);
  EXPECT_TRUE(plugin) << error;
  if (!plugin) return nullptr;
  EXPECT_EQ(plugin->initialize(), kResultOk);
  EXPECT_EQ(plugin->setupProcessing(rate, 4096), kResultOk);
  EXPECT_EQ(plugin->setActive(true), kResultOk);
  EXPECT_EQ(plugin->setProcessing(true), kResultOk);
  return plugin;
}

void noteOn(HostedPlugin& plugin, int32 frames, int32 offset = 0) {
  testhost::EventList events;
  events.addNoteOn(offset, 0, 60, 1.0f);
  ASSERT_EQ(plugin.process(frames, &events), kResultOk);
}

std::vector<char> stateOf(HostedPlugin& plugin) {
  std::vector<char> bytes;
  EXPECT_EQ(plugin.getState(bytes), kResultOk);
  return bytes;
}

}  // namespace

TEST(Vst3Bundle, LifeCycleTwiceInOneProcessLeavesNoThreadAndUnloads) {
  const int threadsBefore = threadCount();
  for (int round = 0; round < 2; ++round) {
    std::string library;
    {
      auto module = loadSynth();
      ASSERT_TRUE(module);
      library = module->libraryPath();
      EXPECT_EQ(threadCount(), threadsBefore + 1);  // the module's own thread runs
      // The Windows-style entry pair shares the counter: the module stays entered.
      void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
      ASSERT_NE(handle, nullptr);
      auto initDll = reinterpret_cast<bool (*)()>(dlsym(handle, "InitDll"));
      auto exitDll = reinterpret_cast<bool (*)()>(dlsym(handle, "ExitDll"));
      EXPECT_TRUE(initDll() && exitDll());
      dlclose(handle);
      EXPECT_EQ(threadCount(), threadsBefore + 1);
      auto plugin = startSynth(module);
      ASSERT_TRUE(plugin);
      for (int block = 0; block < 20; ++block) noteOn(*plugin, 512);
      EXPECT_EQ(plugin->output(0, 1)[511], kLevel);
      std::vector<char> state = stateOf(*plugin);
      EXPECT_EQ(plugin->setState(state), kResultOk);
      plugin->teardown();
    }
    EXPECT_EQ(threadCountSettlingAt(threadsBefore), threadsBefore);        // ModuleExit joined it
    EXPECT_EQ(dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD), nullptr);  // really unloaded
  }
}

TEST(Vst3Bundle, FactoryAndClassInfos) {
  auto module = loadSynth();
  ASSERT_TRUE(module);
  PFactoryInfo factory = module->factoryInfo();
  EXPECT_STREQ(factory.vendor, "Oskra Tests");
  EXPECT_EQ(factory.flags, 16);
  auto infos = module->classInfos();
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_STREQ(infos[0].category, "Audio Module Class");
  EXPECT_STREQ(infos[0].name, "Test Synth");
  EXPECT_STREQ(infos[0].subCategories, "Instrument|Synth");
  EXPECT_STREQ(infos[0].version, "1.0.0");
  EXPECT_STREQ(infos[0].sdkVersion, "VST 3.7.12");
  EXPECT_EQ(infos[0].cardinality, 0x7FFFFFFF);
  // The class id keeps its four words in reading order: 11223344 55667788 "TSyn" "Test".
  char text[33] = {};
  FUID::fromTUID(infos[0].cid).toString(text);
  EXPECT_STREQ(text, "11223344556677885453796E54657374");
  EXPECT_EQ(std::memcmp(infos[0].cid, "\x11\x22\x33\x44\x55\x66\x77\x88TSynTest", 16), 0);
  auto unicode = module->unicodeClassInfos();
  ASSERT_EQ(unicode.size(), 1u);
  EXPECT_EQ(std::u16string(unicode[0].name), u"Test Synth");
  EXPECT_EQ(std::u16string(unicode[0].sdkVersion), u"VST 3.7.12");

  IPluginFactory* f = module->factory();
  PClassInfo plain;
  EXPECT_EQ(f->getClassInfo(1, &plain), kInvalidArgument);
  EXPECT_EQ(f->getClassInfo(-1, &plain), kInvalidArgument);
  EXPECT_EQ(f->getClassInfo(0, nullptr), kInvalidArgument);
  void* obj = &plain;
  EXPECT_EQ(f->createInstance(nullptr, IComponent::iid, &obj), kInvalidArgument);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(f->createInstance(IComponent::iid, IComponent::iid, &obj), kInvalidArgument);
  EXPECT_EQ(f->createInstance(reinterpret_cast<FIDString>(infos[0].cid), IPluginFactory::iid, &obj),
            kNoInterface);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(f->createInstance(reinterpret_cast<FIDString>(infos[0].cid), IComponent::iid, nullptr),
            kInvalidArgument);
}

TEST(Vst3Bundle, EveryInterfaceIsOneObjectWithOneReferenceCount) {
  auto module = loadSynth();
  auto plugin = startSynth(module);
  ASSERT_TRUE(plugin);
  IComponent* component = plugin->component();
  FUnknown* identity = nullptr;
  ASSERT_EQ(component->queryInterface(FUnknown::iid, reinterpret_cast<void**>(&identity)),
            kResultOk);
  const TUID* iids[] = {&IComponent::iid.toTUID(),      &IAudioProcessor::iid.toTUID(),
                        &IEditController::iid.toTUID(), &IEditController2::iid.toTUID(),
                        &IUnitInfo::iid.toTUID(),       &IConnectionPoint::iid.toTUID(),
                        &IPluginBase::iid.toTUID(),     &IProcessContextRequirements::iid.toTUID(),
                        &IMidiMapping::iid.toTUID(),    &ChannelContext::IInfoListener::iid.toTUID(),
                        &FUnknown::iid.toTUID()};
  uint32 count = component->addRef();
  for (const TUID* iid : iids) {
    FUnknown* part = nullptr;
    ASSERT_EQ(component->queryInterface(*iid, reinterpret_cast<void**>(&part)), kResultOk);
    FUnknown* back = nullptr;
    part->queryInterface(FUnknown::iid, reinterpret_cast<void**>(&back));
    EXPECT_EQ(back, identity);
    EXPECT_EQ(back->release(), count + 1);  // the count part raised, seen through the identity
    EXPECT_EQ(part->release(), count);
  }
  component->release();
  identity->release();
  FUnknown* none = identity;
  EXPECT_EQ(component->queryInterface(IPluginFactory::iid, reinterpret_cast<void**>(&none)),
            kNoInterface);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(component->queryInterface(nullptr, reinterpret_cast<void**>(&none)), kInvalidArgument);
  // The component's state pair and the controller's are two: the controller keeps none.
  std::vector<char> state = stateOf(*plugin);
  EXPECT_EQ(state.size(), 44u);
  EXPECT_EQ(plugin->controller()->getState(nullptr), kNotImplemented);
  EXPECT_EQ(plugin->component()->getState(nullptr), kInvalidArgument);
  EXPECT_EQ(component->initialize(nullptr), kResultFalse);  // once only
  // Even when the first initialize came without a host context.
  ASSERT_EQ(component->terminate(), kResultOk);
  ASSERT_EQ(component->initialize(nullptr), kResultOk);
  EXPECT_EQ(component->initialize(nullptr), kResultFalse);
  EXPECT_EQ(component->getBusCount(kAudio, kOutput), 2);
}

TEST(Vst3Bundle, StateRoundTripIntoAnotherInstanceByteForByte) {
  auto module = loadSynth();
  auto first = startSynth(module, 44100.0);
  auto second = startSynth(module, 96000.0);
  ASSERT_TRUE(first && second);
  testhost::ParameterChanges changes;
  changes.add(0, 0, 0.1);
  changes.add(0, 7, 0.25);  // the last point counts
  changes.add(1, 3, 0.5);   // 3.5 of 0..7 steps: 4
  changes.add(2, 0, 1.0);
  ASSERT_EQ(first->process(16, nullptr, &changes), kResultOk);
  std::vector<char> state = stateOf(*first);
  // 'TSYN', version 1, the values 0.25, 4, 1 and 1000 as little-endian doubles, then the bypass
  // flag (0), written out by hand.
  const char expected[] =
      "TSYN\x01\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\xD0\x3F"
      "\x00\x00\x00\x00\x00\x00\x10\x40"
      "\x00\x00\x00\x00\x00\x00\xF0\x3F"
      "\x00\x00\x00\x00\x00\x40\x8F\x40"
      "\x00\x00\x00\x00";
  ASSERT_EQ(state, std::vector<char>(expected, expected + 44));
  ASSERT_EQ(second->setState(state), kResultOk);
  EXPECT_EQ(stateOf(*second), state);
  EXPECT_EQ(second->controller()->getParamNormalized(0), 0.25);
  EXPECT_EQ(second->controller()->getParamNormalized(1), 4.0 / 7.0);
  noteOn(*second, 64);  // mode 1 sounds on the second output too, once the host switches it on
  EXPECT_EQ(second->output(0, 0)[63], 0.25f);
  EXPECT_EQ(second->output(1, 0)[0], HostedPlugin::kUntouched);
  ASSERT_EQ(second->setActive(false), kResultOk);
  ASSERT_EQ(second->activateBus(kAudio, kOutput, 1, true), kResultTrue);
  ASSERT_EQ(second->setActive(true), kResultOk);
  noteOn(*second, 64);
  EXPECT_EQ(second->output(1, 1)[63], 0.25f);
  // Bypassed, the instrument is silent and its state says so.
  changes.clear();
  changes.add(65536, 0, 0.6);
  ASSERT_EQ(second->process(64, nullptr, &changes), kResultOk);
  EXPECT_EQ(second->output(0, 0)[63], 0.0f);
  EXPECT_EQ(stateOf(*second).back(), 0);
  EXPECT_EQ(stateOf(*second)[40], 1);
}

TEST(Vst3Bundle, ExportsExactlyTheFiveEntryPoints) {
  auto module = loadSynth();
  ASSERT_TRUE(module);
  std::string command = "nm -D --defined-only '" + module->libraryPath() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char name[256] = {};
    if (std::sscanf(line, "%*s %*s %255s", name) == 1) names.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(names, (std::set<std::string>{"ExitDll", "GetPluginFactory", "InitDll", "ModuleEntry",
                                          "ModuleExit"}));
}
