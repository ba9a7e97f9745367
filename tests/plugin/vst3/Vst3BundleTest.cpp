// The test synth's bundle seen from a host: the module's life, one object behind every interface,
// the state's bytes, and what a careful host or validator does and careless hosts send.
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <tuple>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstchannelcontextinfo.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"
#include "tests/plugin/vst3/Vst3TestKit.h"

namespace {

// A message whose attribute list is missing, which the edit controller's base would read.
struct BareMessage final : testhost::HostObject<IMessage> {
  FIDString PLUGIN_API getMessageID() override { return "TextMessage"; }
  void PLUGIN_API setMessageID(FIDString) override {}
  IAttributeList* PLUGIN_API getAttributes() override { return nullptr; }
};

// A stream that never ends, or says it read more than it was asked for; it takes no byte.
struct EndlessStream final : testhost::HostObject<IBStream> {
  explicit EndlessStream(int32 claim) : claim(claim) {}
  tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override {
    std::memset(buffer, 'T', static_cast<size_t>(numBytes));
    if (numBytesRead != nullptr) *numBytesRead = claim;
    return kResultOk;
  }
  tresult PLUGIN_API write(void*, int32, int32*) override { return kResultFalse; }
  tresult PLUGIN_API seek(int64, int32, int64*) override { return kResultFalse; }
  tresult PLUGIN_API tell(int64*) override { return kResultFalse; }
  int32 claim;
};

}  // namespace

TEST(Vst3Module, LifeCycleTwiceInOneProcessLeavesNoThreadAndUnloads) {
  const int threadsBefore = threadCount();
  for (int round = 0; round < 2; ++round) {
    std::string library, error;
    {
      auto module = testhost::VstModule::load(OSKRA_TEST_SYNTH_BUNDLE, error);
      ASSERT_TRUE(module) << error;
      library = module->libraryPath();
      // The Windows-style entry pair shares the counter: the module stays entered.
      void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
      ASSERT_NE(handle, nullptr);
      EXPECT_TRUE(reinterpret_cast<bool (*)()>(dlsym(handle, "InitDll"))() && reinterpret_cast<bool (*)()>(dlsym(handle, "ExitDll"))());
      dlclose(handle);
      auto plugin = HostedPlugin::create(module, module->classInfos().at(0).cid, error);
      ASSERT_TRUE(plugin && plugin->initialize() == kResultOk && plugin->setupProcessing(48000.0, 512) == kResultOk);
      ASSERT_TRUE(plugin->setActive(true) == kResultOk && plugin->setProcessing(true) == kResultOk);
      EXPECT_EQ(plugin->process(512), kResultOk);
      EXPECT_EQ(threadCount(), threadsBefore + 1);  // the instance's timer thread runs
      plugin->teardown();
    }
    EXPECT_TRUE(eventually([&] { return threadCount() == threadsBefore; }));  // and is gone with the instance
    EXPECT_EQ(dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD), nullptr);     // really unloaded
  }
}

TEST_F(Vst3Bundle, ExportsExactlyTheFiveEntryPoints) {
  FILE* pipe = popen(("nm -D --defined-only '" + module->libraryPath() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  for (char line[512], name[256]; std::fgets(line, sizeof line, pipe) != nullptr;)
    if (std::sscanf(line, "%*s %*s %255s", name) == 1) names.insert(name);
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(names, (std::set<std::string>{"ExitDll", "GetPluginFactory", "InitDll", "ModuleEntry", "ModuleExit"}));
}

TEST_F(Vst3Bundle, EveryInterfaceIsOneObjectWithOneReferenceCount) {
  IComponent* component = plugin->component();
  FUnknown* identity = nullptr;
  ASSERT_EQ(component->queryInterface(FUnknown::iid, reinterpret_cast<void**>(&identity)), kResultOk);
  const uint32 count = component->addRef();
  for (const FUID* iid : {&IComponent::iid, &IAudioProcessor::iid, &IEditController::iid, &IEditController2::iid,
                          &IUnitInfo::iid, &IConnectionPoint::iid, &IPluginBase::iid, &IProcessContextRequirements::iid,
                          &IMidiMapping::iid, &ChannelContext::IInfoListener::iid, &FUnknown::iid}) {
    FUnknown *part = nullptr, *back = nullptr;
    ASSERT_EQ(component->queryInterface(iid->toTUID(), reinterpret_cast<void**>(&part)), kResultOk);
    part->queryInterface(FUnknown::iid, reinterpret_cast<void**>(&back));
    EXPECT_EQ(back, identity);
    EXPECT_EQ(back->release(), count + 1);  // the count part raised, seen through the identity
    EXPECT_EQ(part->release(), count);
  }
  component->release(), identity->release();
  FUnknown* none = identity;
  EXPECT_EQ(component->queryInterface(IPluginFactory::iid, reinterpret_cast<void**>(&none)), kNoInterface);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(component->queryInterface(nullptr, reinterpret_cast<void**>(&none)), kInvalidArgument);
  EXPECT_EQ(plugin->controller()->getState(nullptr), kNotImplemented);  // the controller keeps no state
  EXPECT_EQ(component->initialize(nullptr), kResultFalse);               // once only,
  ASSERT_EQ(component->terminate(), kResultOk);  // even when the first initialize came without a host context
  ASSERT_EQ(component->initialize(nullptr), kResultOk);
  EXPECT_EQ(component->initialize(nullptr), kResultFalse);
}

TEST_F(Vst3Bundle, StateRoundTripIntoAnotherInstanceByteForByte) {
  Start(44100.0);
  std::string error;
  auto second = HostedPlugin::create(module, module->classInfos().at(0).cid, error);
  ASSERT_TRUE(second && second->initialize() == kResultOk && second->setupProcessing(96000.0, 512) == kResultOk);
  ASSERT_TRUE(second->setActive(true) == kResultOk && second->setProcessing(true) == kResultOk);
  testhost::ParameterChanges changes;
  changes.add(0, 0, 0.1), changes.add(0, 7, 0.25);  // the last point counts
  changes.add(1, 3, 0.5);                            // 3.5 of 0..7 steps: 4
  changes.add(2, 0, 1.0);
  ASSERT_EQ(plugin->process(16, nullptr, &changes), kResultOk);
  // 'TSYN', version 1, the values 0.25, 4, 1 and 1000 as little-endian doubles, the bypass flag (0).
  const char expected[] = "TSYN\x01\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\xD0\x3F" "\x00\x00\x00\x00\x00\x00\x10\x40"
                          "\x00\x00\x00\x00\x00\x00\xF0\x3F" "\x00\x00\x00\x00\x00\x40\x8F\x40" "\x00\x00\x00\x00";
  const std::vector<char> state = State();
  ASSERT_EQ(state, std::vector<char>(expected, expected + 44));
  ASSERT_EQ(second->setState(state), kResultOk);
  plugin = std::move(second);
  EXPECT_EQ(State(), state);
  EXPECT_EQ(plugin->controller()->getParamNormalized(0), 0.25);
  EXPECT_EQ(plugin->controller()->getParamNormalized(1), 4.0 / 7.0);
  ASSERT_EQ(Play(64), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[63], 0.25f);
  changes.clear();  // bypassed, the instrument is silent and its state says so
  changes.add(65536, 0, 0.6);
  ASSERT_EQ(plugin->process(64, nullptr, &changes), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[63], 0.0f);
  EXPECT_EQ(std::make_pair(State()[40], State().back()), std::make_pair(char(1), char(0)));
}

TEST_F(Vst3Bundle, ZeroMaximumAndRandomBlockSizes) {
  Start();
  ASSERT_EQ(Play(0), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[0], HostedPlugin::kUntouched);
  ProcessData empty;  // no buffers at all, as some hosts send to flush parameters
  EXPECT_EQ(plugin->process(empty), kResultOk);
  ASSERT_EQ(Play(4096), kResultOk);
  EXPECT_EQ(plugin->output(0, 1)[4095], kLevel);
  std::mt19937 random(17);
  for (int block = 0; block < 300; ++block) {
    const int32 frames = std::uniform_int_distribution<int32>(1, 4096)(random);
    ASSERT_EQ(plugin->process(frames), kResultOk);
    ASSERT_EQ(plugin->output(0, 0)[frames - 1], kLevel) << frames;
    ASSERT_TRUE(frames == 4096 || plugin->output(0, 0)[frames] == HostedPlugin::kUntouched) << frames;
  }
}

TEST_F(Vst3Bundle, BusActivationAndArrangements) {
  const SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;
  const std::tuple<std::vector<SpeakerArrangement>, std::vector<SpeakerArrangement>, tresult, int32> cases[] = {
      {{}, {stereo}, kResultTrue, 1},         {{}, {stereo, stereo}, kResultTrue, 2}, {{}, {mono, stereo}, kResultFalse, 2},
      {{}, {stereo, stereo, stereo}, kResultFalse, 2}, {{}, {}, kResultFalse, 2}, {{stereo}, {stereo, stereo}, kResultFalse, 2}};
  for (const auto& [in, out, result, buses] : cases) {  // the output buses afterwards
    EXPECT_EQ(plugin->setBusArrangements(in, out), result);
    EXPECT_EQ(plugin->component()->getBusCount(kAudio, kOutput), buses);
  }
  IAudioProcessor* processor = plugin->processor();
  EXPECT_EQ(processor->setBusArrangements(nullptr, 0, nullptr, 2), kInvalidArgument);
  EXPECT_EQ(processor->setBusArrangements(nullptr, -1, nullptr, 0), kInvalidArgument);
  SpeakerArrangement arrangement = 0;
  EXPECT_EQ(processor->getBusArrangement(kOutput, 1, arrangement), kResultTrue);
  EXPECT_EQ(arrangement, stereo);
  EXPECT_EQ(processor->getBusArrangement(kOutput, 2, arrangement), kInvalidArgument);
  EXPECT_EQ(processor->getBusArrangement(kInput, 0, arrangement), kInvalidArgument);
  BusInfo info{};
  for (auto [type, dir, index] : {std::tuple<MediaType, BusDirection, int32>{kAudio, kOutput, 2}, {kAudio, kOutput, -1},
                                  {kAudio, kInput, 0}, {kEvent, kOutput, 0}, {7, kOutput, 0}, {kAudio, 9, 0}}) {
    EXPECT_EQ(plugin->activateBus(type, dir, index, true), kInvalidArgument);
    EXPECT_EQ(plugin->component()->getBusInfo(type, dir, index, info), kInvalidArgument);
  }
  ASSERT_EQ(plugin->component()->getBusInfo(kAudio, kOutput, 1, info), kResultTrue);
  EXPECT_TRUE(std::u16string(info.name) == u"Aux" && info.busType == kAux && info.flags == 0);
  ASSERT_EQ(plugin->component()->getBusInfo(kEvent, kInput, 0, info), kResultTrue);
  EXPECT_TRUE(std::u16string(info.name) == u"MIDI Input" && info.channelCount == 1);
  Start();  // asking again for the buses there are keeps the host's activation of them
  ASSERT_EQ(plugin->setActive(false), kResultOk);
  ASSERT_EQ(plugin->setBusArrangements({}, {stereo, stereo}), kResultTrue);
  ASSERT_EQ(plugin->setActive(true), kResultOk);
  ASSERT_EQ(Play(64), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[63], kLevel);
}

// Activation and processing toggled many times, through every common rate; refused set-ups change nothing.
TEST_F(Vst3Bundle, ActivationProcessingAndSampleRates) {
  Start();
  const double rates[] = {22050.0, 44100.0, 48000.0, 96000.0, 192000.0};
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(plugin->setProcessing(false), kResultOk);
    if (i % 2 == 0) {
      ASSERT_EQ(plugin->setActive(false), kResultOk);
      ASSERT_EQ(plugin->setupProcessing(rates[i / 2 % 5], 64 + i), kResultOk) << rates[i / 2 % 5];
      ASSERT_EQ(plugin->setActive(true), kResultOk);
    }
    ASSERT_EQ(plugin->setProcessing(true), kResultOk);
    ASSERT_EQ(Play(64, i % 64), kResultOk);
    ASSERT_EQ(plugin->output(0, 0)[63], kLevel);
  }
  ASSERT_EQ(plugin->setActive(false), kResultOk);
  const std::tuple<double, int32, int32> refused[] = {{0.0, 512, kSample32}, {-48000.0, 512, kSample32}, {7999.0, 512, kSample32},
      {1e9, 512, kSample32}, {kNaN, 512, kSample32}, {INFINITY, 512, kSample32}, {48000.0, 0, kSample32},
      {48000.0, -64, kSample32}, {48000.0, 512, 2}, {48000.0, 512, -1}};
  for (auto [rate, block, size] : refused) EXPECT_EQ(plugin->setupProcessing(rate, block, size), kResultFalse) << rate << " " << block;
  for (auto [size, result] : {std::pair<int32, tresult>{kSample32, kResultTrue}, {kSample64, kResultTrue}, {2, kResultFalse}, {-1, kResultFalse}})
    EXPECT_EQ(plugin->processor()->canProcessSampleSize(size), result) << size;
  ASSERT_EQ(plugin->setActive(true), kResultOk);
  ASSERT_EQ(Play(262), kResultOk);  // blocks of up to 262 frames, the last accepted set-up
  EXPECT_EQ(plugin->output(0, 1)[261], kLevel);
}

TEST_F(Vst3Bundle, UnknownIdsAndValuesOutOfRange) {
  Start();
  IEditController* controller = plugin->controller();
  testhost::ParameterChanges changes;
  changes.add(999, 0, 0.5);                            // unknown id
  changes.add(0, 5000, 1.7);                           // too large, at an offset beyond the block
  changes.add(1, -3, kNaN), changes.add(65536, 0, 0.5);  // bypass exactly at 0.5 stays off
  ASSERT_EQ(plugin->process(64, nullptr, &changes), kResultOk);
  ASSERT_EQ(Play(64), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[0], 1.0f);  // gain held to 1, the rest ignored
  EXPECT_EQ(controller->setParamNormalized(999, 0.5), kResultFalse);
  EXPECT_EQ(controller->getParamNormalized(0), 0.8);  // the host's automation is not the editor's value
  EXPECT_EQ(controller->getParamNormalized(999), 0.0);
  ParameterInfo info{};
  String128 text = {};
  FUnknownPtr<IUnitInfo> units(controller);
  UnitInfo unit{};
  for (tresult result : {controller->getParameterInfo(134, info), controller->getParameterInfo(-1, info),
                         controller->getParamStringByValue(0, 0.5, nullptr), controller->getParamValueByString(0, nullptr, info.defaultNormalizedValue),
                         controller->getParamStringByValue(0, kNaN, text), controller->getParamStringByValue(999, 0.5, text),
                         units->getUnitInfo(5, unit), units->getUnitInfo(-5, unit), units->getProgramName(0, 0, nullptr)})
    EXPECT_NE(result, kResultTrue);
  FUnknownPtr<IConnectionPoint> connection(controller);
  BareMessage bare;
  EXPECT_EQ(connection->notify(nullptr), kInvalidArgument);
  EXPECT_EQ(connection->notify(&bare), kInvalidArgument);
}

TEST_F(Vst3Bundle, DamagedStateIsRefusedAndChangesNothing) {
  Start();
  testhost::ParameterChanges changes;
  changes.add(0, 0, 0.3);
  ASSERT_EQ(plugin->process(8, nullptr, &changes), kResultOk);
  const std::vector<char> good = State();
  const double half = 0.5;
  std::vector<std::vector<char>> bad(3, good);  // a wrong marker, a version from the future, none
  bad[0][0] = 'X', bad[1][4] = 2, bad[2].clear();
  for (long cut = 1; cut < 40; cut += 3) bad.emplace_back(good.begin(), good.begin() + cut);
  for (const auto& bytes : bad) {
    EXPECT_EQ(plugin->setState(bytes), kResultFalse) << bytes.size();
    EXPECT_EQ(State(), good);
  }
  for (int32 claim : {200, -5}) {
    EndlessStream endless(claim);
    EXPECT_EQ(plugin->component()->setState(&endless), kResultFalse);
    EXPECT_EQ(State(), good);
  }
  EndlessStream full(0);
  EXPECT_EQ(plugin->component()->getState(&full), kResultFalse);
  EXPECT_EQ(plugin->component()->setState(nullptr), kInvalidArgument);
  EXPECT_EQ(plugin->component()->getState(nullptr), kInvalidArgument);
  std::vector<char> other(good.begin(), good.begin() + 40);  // without its bypass flag: loaded, and accepted
  std::memcpy(other.data() + 8, &half, 8);
  EXPECT_EQ(plugin->setState(other), kResultOk);
  EXPECT_EQ(plugin->controller()->getParamNormalized(0), 0.5);
  EXPECT_EQ(plugin->setState(good), kResultOk);
  EXPECT_EQ(State(), good);
}
