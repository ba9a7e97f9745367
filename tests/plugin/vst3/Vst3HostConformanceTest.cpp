// What a careful host or validator does to a plug-in, and what careless hosts send, through the
// test host against the test synth's bundle.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "tools/testhost/HostedPlugin.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using testhost::HostedPlugin;
using testhost::VstModule;

namespace {

constexpr float kLevel = 0.8f;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A message whose attribute list is missing, which the edit controller's base would read.
struct BareMessage final : testhost::HostObject<IMessage> {
  FIDString PLUGIN_API getMessageID() override { return "TextMessage"; }
  void PLUGIN_API setMessageID(FIDString) override {}
  IAttributeList* PLUGIN_API getAttributes() override { return nullptr; }
};

class Vst3HostConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    module = VstModule::load(OSKRA_TEST_SYNTH_BUNDLE, error);
    ASSERT_TRUE(module) << error;
    plugin = HostedPlugin::create(module, module->classInfos().at(0).cid, error);
    ASSERT_TRUE(plugin) << error;
    ASSERT_EQ(plugin->initialize(), kResultOk);
  }
  void start(double rate = 48000.0, int32 maxBlock = 4096) {
    ASSERT_EQ(plugin->setupProcessing(rate, maxBlock), kResultOk);
    ASSERT_EQ(plugin->setActive(true), kResultOk);
    ASSERT_EQ(plugin->setProcessing(true), kResultOk);
  }
  tresult play(int32 frames, int32 offset = 0) {
    testhost::EventList events;
    events.addNoteOn(offset, 0, 60, 1.0f);
    return plugin->process(frames, &events);
  }
  std::vector<char> state() {
    std::vector<char> bytes;
    EXPECT_EQ(plugin->getState(bytes), kResultOk);
    return bytes;
  }
  std::shared_ptr<VstModule> module;
  std::unique_ptr<HostedPlugin> plugin;
};

}  // namespace

TEST_F(Vst3HostConformance, ZeroMaximumAndRandomBlockSizes) {
  start();
  ASSERT_EQ(play(0), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[0], HostedPlugin::kUntouched);
  ProcessData empty;  // no buffers at all, as some hosts send to flush parameters
  EXPECT_EQ(plugin->process(empty), kResultOk);
  ASSERT_EQ(play(4096), kResultOk);
  EXPECT_EQ(plugin->output(0, 1)[4095], kLevel);
  ASSERT_EQ(play(4097), kResultOk);  // longer than announced: rendered in pieces
  EXPECT_EQ(plugin->output(0, 0)[4096], kLevel);
  std::mt19937 random(17);
  for (int block = 0; block < 300; ++block) {
    int32 frames = std::uniform_int_distribution<int32>(1, 4096)(random);
    ASSERT_EQ(plugin->process(frames), kResultOk);
    ASSERT_EQ(plugin->output(0, 0)[frames - 1], kLevel) << frames;
    if (frames < 4096) {
      ASSERT_EQ(plugin->output(0, 0)[frames], HostedPlugin::kUntouched);
    }
  }
}

TEST_F(Vst3HostConformance, ActivationAndProcessingToggledManyTimes) {
  start();
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(plugin->setProcessing(false), kResultOk);
    if (i % 2 == 0) {
      ASSERT_EQ(plugin->setActive(false), kResultOk);
      ASSERT_EQ(plugin->setupProcessing(i % 4 == 0 ? 44100.0 : 96000.0, 64 + i), kResultOk);
      ASSERT_EQ(plugin->setActive(true), kResultOk);
    }
    ASSERT_EQ(plugin->setProcessing(true), kResultOk);
    ASSERT_EQ(play(64, i % 64), kResultOk);
    ASSERT_EQ(plugin->output(0, 0)[63], kLevel);
  }
}

TEST_F(Vst3HostConformance, BusActivationAndArrangements) {
  const SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;
  struct Case {
    std::vector<SpeakerArrangement> in, out;
    tresult expected;
    int32 buses;  // output buses afterwards
  } cases[] = {{{}, {stereo}, kResultTrue, 1},
               {{}, {stereo, stereo}, kResultTrue, 2},
               {{}, {mono, stereo}, kResultFalse, 2},
               {{}, {stereo, stereo, stereo}, kResultFalse, 2},
               {{}, {}, kResultFalse, 2},
               {{stereo}, {stereo, stereo}, kResultFalse, 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(plugin->setBusArrangements(c.in, c.out), c.expected);
    EXPECT_EQ(plugin->component()->getBusCount(kAudio, kOutput), c.buses);
  }
  IAudioProcessor* processor = plugin->processor();
  EXPECT_EQ(processor->setBusArrangements(nullptr, 0, nullptr, 2), kInvalidArgument);
  EXPECT_EQ(processor->setBusArrangements(nullptr, -1, nullptr, 0), kInvalidArgument);
  SpeakerArrangement arrangement = 0;
  EXPECT_EQ(processor->getBusArrangement(kOutput, 1, arrangement), kResultTrue);
  EXPECT_EQ(arrangement, stereo);
  EXPECT_EQ(processor->getBusArrangement(kOutput, 2, arrangement), kInvalidArgument);
  EXPECT_EQ(processor->getBusArrangement(kInput, 0, arrangement), kInvalidArgument);
  using Bus = std::tuple<MediaType, BusDirection, int32>;
  for (auto [type, dir, index] :
       {Bus{kAudio, kOutput, 2}, Bus{kAudio, kOutput, -1}, Bus{kAudio, kInput, 0},
        Bus{kEvent, kOutput, 0}, Bus{7, kOutput, 0}, Bus{kAudio, 9, 0}}) {
    EXPECT_EQ(plugin->activateBus(type, dir, index, true), kInvalidArgument);
    BusInfo info{};
    EXPECT_EQ(plugin->component()->getBusInfo(type, dir, index, info), kInvalidArgument);
  }
  BusInfo info{};
  ASSERT_EQ(plugin->component()->getBusInfo(kAudio, kOutput, 1, info), kResultTrue);
  EXPECT_TRUE(std::u16string(info.name) == u"Aux" && info.busType == kAux && info.flags == 0);
  ASSERT_EQ(plugin->component()->getBusInfo(kEvent, kInput, 0, info), kResultTrue);
  EXPECT_EQ(info.channelCount, 1);
  EXPECT_EQ(std::u16string(info.name), u"MIDI Input");
  // Asking again for the buses there are keeps the host's activation of them.
  start();
  ASSERT_EQ(plugin->setActive(false), kResultOk);
  ASSERT_EQ(plugin->setBusArrangements({}, {stereo, stereo}), kResultTrue);
  ASSERT_EQ(plugin->setActive(true), kResultOk);
  ASSERT_EQ(play(64), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[63], kLevel);
}

TEST_F(Vst3HostConformance, SampleRatesAndProcessSetups) {
  for (double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
    ASSERT_EQ(plugin->setupProcessing(rate, 512), kResultOk) << rate;
    ASSERT_EQ(plugin->setActive(true), kResultOk);
    ASSERT_EQ(play(512), kResultOk);
    EXPECT_EQ(plugin->output(0, 0)[511], kLevel);
    ASSERT_EQ(plugin->setActive(false), kResultOk);
  }
  for (double rate : {0.0, -48000.0, 7999.0, 1e9, kNaN, std::numeric_limits<double>::infinity()})
    EXPECT_EQ(plugin->setupProcessing(rate, 512), kResultFalse) << rate;
  EXPECT_EQ(plugin->setupProcessing(48000.0, 0), kResultFalse);
  EXPECT_EQ(plugin->setupProcessing(48000.0, -64), kResultFalse);
  EXPECT_EQ(plugin->setupProcessing(48000.0, 512, kSample64), kResultFalse);
  EXPECT_EQ(plugin->processor()->canProcessSampleSize(kSample64), kResultFalse);
  EXPECT_EQ(plugin->processor()->canProcessSampleSize(kSample32), kResultTrue);
  // The refused set-ups changed nothing: blocks of the last accepted one still render.
  ASSERT_EQ(plugin->setActive(true), kResultOk);
  ASSERT_EQ(play(512), kResultOk);
  EXPECT_EQ(plugin->output(0, 1)[511], kLevel);
}

TEST_F(Vst3HostConformance, UnknownIdsAndValuesOutOfRange) {
  start();
  IEditController* controller = plugin->controller();
  testhost::ParameterChanges changes;
  changes.add(999, 0, 0.5);   // unknown id
  changes.add(0, 5000, 1.7);  // too large, at an offset beyond the block
  changes.add(1, -3, kNaN);
  changes.add(65536, 0, 0.5);  // bypass exactly at 0.5 stays off
  testhost::EventList events;
  events.addNoteOn(-10, 0, 300, 0.5f);  // pitch out of range
  events.addNoteOn(9999, 16, 60, 0.5f);  // a channel MIDI does not have
  ASSERT_EQ(plugin->process(64, &events, &changes), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[0], 0.0f);  // no note started
  ASSERT_EQ(play(64), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[0], 1.0f);  // gain held to 1, the rest ignored
  EXPECT_EQ(controller->setParamNormalized(999, 0.5), kResultFalse);
  EXPECT_NE(controller->setParamNormalized(0, kNaN), kResultTrue);
  EXPECT_EQ(controller->getParamNormalized(0), 0.8);  // the host's automation is not the editor's value
  EXPECT_EQ(controller->getParamNormalized(999), 0.0);
  ParameterInfo info{};
  EXPECT_NE(controller->getParameterInfo(134, info), kResultTrue);
  EXPECT_NE(controller->getParameterInfo(-1, info), kResultTrue);
  EXPECT_NE(controller->getParamStringByValue(0, 0.5, nullptr), kResultTrue);
  EXPECT_NE(controller->getParamValueByString(0, nullptr, info.defaultNormalizedValue),
            kResultTrue);
  String128 text = {};
  EXPECT_NE(controller->getParamStringByValue(0, kNaN, text), kResultTrue);
  EXPECT_NE(controller->getParamStringByValue(999, 0.5, text), kResultTrue);
  FUnknownPtr<IUnitInfo> units(controller);
  UnitInfo unit{};
  EXPECT_NE(units->getUnitInfo(5, unit), kResultTrue);
  EXPECT_NE(units->getUnitInfo(-5, unit), kResultTrue);
  EXPECT_NE(units->getProgramName(0, 0, nullptr), kResultTrue);
  EXPECT_EQ(units->getProgramName(65537, 0, text), kResultFalse);  // no presets
  FUnknownPtr<IConnectionPoint> connection(controller);
  EXPECT_EQ(connection->notify(nullptr), kInvalidArgument);
  BareMessage bare;
  EXPECT_EQ(connection->notify(&bare), kInvalidArgument);
}

namespace {

// A stream that never ends, or says it read more than it was asked for.
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

TEST_F(Vst3HostConformance, DamagedStateIsRefusedAndChangesNothing) {
  start();
  testhost::ParameterChanges changes;
  changes.add(0, 0, 0.3);
  ASSERT_EQ(plugin->process(8, nullptr, &changes), kResultOk);
  const std::vector<char> good = state();
  auto damaged = [&](auto change) {
    std::vector<char> bytes = good;
    change(bytes);
    return bytes;
  };
  const double nan = kNaN, far = 1e9;
  std::vector<std::vector<char>> bad = {
      {},
      damaged([](auto& b) { b[0] = 'X'; }),                             // wrong marker
      damaged([](auto& b) { b[4] = 2; }),                               // version from the future
      damaged([&](auto& b) { std::memcpy(b.data() + 16, &nan, 8); }),   // NaN value
      damaged([&](auto& b) { std::memcpy(b.data() + 32, &far, 8); })};  // out of range
  for (size_t cut = 1; cut < 40; cut += 3)
    bad.emplace_back(good.begin(), good.begin() + static_cast<long>(cut));
  for (const auto& bytes : bad) {
    EXPECT_EQ(plugin->setState(bytes), kResultFalse) << bytes.size();
    EXPECT_EQ(state(), good);
  }
  for (int32 claim : {200, -5}) {
    EndlessStream endless(claim);
    EXPECT_EQ(plugin->component()->setState(&endless), kResultFalse);
    EXPECT_EQ(state(), good);
  }
  EXPECT_EQ(plugin->component()->setState(nullptr), kInvalidArgument);
  EXPECT_EQ(plugin->component()->getState(nullptr), kInvalidArgument);
  EndlessStream full(0);  // takes no byte
  EXPECT_EQ(plugin->component()->getState(&full), kResultFalse);
  // A chunk without its bypass flag is loaded, and still answered as a failure.
  std::vector<char> other = good;
  const double half = 0.5;
  std::memcpy(other.data() + 8, &half, 8);
  other.resize(40);
  EXPECT_EQ(plugin->setState(other), kResultFalse);
  EXPECT_EQ(plugin->controller()->getParamNormalized(0), 0.5);
  EXPECT_EQ(plugin->setState(good), kResultOk);
  EXPECT_EQ(state(), good);
}
