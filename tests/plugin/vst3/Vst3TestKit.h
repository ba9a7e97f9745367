#pragma once

// The test synth hosted through the test host's interfaces: loaded from its bundle as a Linux host
// loads a plug-in, or linked into the test program with a log of what reaches it. Timers are
// manual in process, so the idle work runs only when a test fires it.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "plugin/framework/Timer.h"
#include "tests/plugin/vst3/bundle/TestSynth.h"
#include "tools/testhost/HostedPlugin.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using testhost::HostedPlugin;

constexpr float kLevel = 0.8f;  // the default gain × the velocity the tests play (full)
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class RecordingSynth : public TestSynth {
 public:
  ~RecordingSynth() override { StopTimer(); }
  void ProcessMidiMsg(const iplug::IMidiMsg& msg) override { midi.push_back(msg), TestSynth::ProcessMidiMsg(msg); }
  void ProcessBlock(float** inputs, float** outputs, int nFrames) override {
    times.push_back(GetTimeInfo()), TestSynth::ProcessBlock(inputs, outputs, nFrames);
  }
  void OnMidiMsgUI(const iplug::IMidiMsg& msg) override { midiUI.push_back(msg); }
  void OnParamChange(int idx, iplug::EParamSource source, int offset) override {
    log.push_back("change " + std::to_string(idx) + " " + std::to_string(source) + " " + std::to_string(offset));
    TestSynth::OnParamChange(idx, source, offset);
  }
  void OnParamChangeUI(int idx, iplug::EParamSource source) override {
    log.push_back("ui " + std::to_string(idx) + " " + std::to_string(source));
  }
  bool OnKeyDown(const iplug::IKeyPress& key) override { return keys.push_back(key), true; }
  bool OnKeyUp(const iplug::IKeyPress& key) override { return keys.push_back(key), true; }
  bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

  std::vector<iplug::IMidiMsg> midi, midiUI;
  std::vector<iplug::ITimeInfo> times;  // the transport each rendered piece saw
  std::vector<std::string> log;
  std::vector<iplug::IKeyPress> keys;
};

class Vst3Hosted : public ::testing::Test {
 protected:
  void TearDown() override { plugin.reset(), iplug::Timer::SetManualMode(false); }
  // Set up for blocks of up to `maxBlock` frames, active and processing.
  void Start(double rate = 48000.0, int32 maxBlock = 4096) {
    ASSERT_EQ(plugin->setupProcessing(rate, maxBlock), kResultOk);
    ASSERT_EQ(plugin->setActive(true), kResultOk);
    ASSERT_EQ(plugin->setProcessing(true), kResultOk);
  }
  tresult Play(int32 frames, int32 offset = 0) {
    testhost::EventList events;
    events.addNoteOn(offset, 0, 60, 1.0f);
    return plugin->process(frames, &events);
  }
  std::vector<char> State() {
    std::vector<char> bytes;
    EXPECT_EQ(plugin->getState(bytes), kResultOk);
    return bytes;
  }

  std::unique_ptr<HostedPlugin> plugin;
};

// Loaded from the bundle and initialised.
class Vst3Bundle : public Vst3Hosted {
 protected:
  void SetUp() override {
    std::string error;
    module = testhost::VstModule::load(OSKRA_TEST_SYNTH_BUNDLE, error);
    ASSERT_TRUE(module) << error;
    plugin = HostedPlugin::create(module, module->classInfos().at(0).cid, error);
    ASSERT_TRUE(plugin) << error;
    ASSERT_EQ(plugin->initialize(), kResultOk);
  }
  std::shared_ptr<testhost::VstModule> module;
};

// In process, initialised, at 48 kHz for blocks of up to 4096 frames, active and processing.
class Vst3InProcess : public Vst3Hosted {
 protected:
  void SetUp() override {
    iplug::Timer::SetManualMode(true);
    synth = new RecordingSynth;
    std::string error;
    plugin = HostedPlugin::adopt(static_cast<IAudioProcessor*>(synth), error);
    ASSERT_TRUE(plugin) << error;
    plugin->host().setName("Oskra Test Host");
    ASSERT_EQ(plugin->initialize(), kResultOk);
    Start();
    controller = plugin->controller();
  }

  RecordingSynth* synth = nullptr;  // owned by its reference count, which the host holds
  IEditController* controller = nullptr;
};
