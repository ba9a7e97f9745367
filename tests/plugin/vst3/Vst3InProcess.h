#pragma once

// The test synth linked into the test program, with a log of what reaches it, hosted through the
// test host's interfaces: initialised, set up at 48 kHz for blocks of up to 4096 frames, active
// and processing. Timers are manual, so the idle work runs only when a test fires it.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "plugin/framework/Timer.h"
#include "tests/plugin/vst3/bundle/TestSynth.h"
#include "tools/testhost/HostedPlugin.h"

class RecordingSynth : public TestSynth {
 public:
  ~RecordingSynth() override { StopTimer(); }
  void ProcessMidiMsg(const iplug::IMidiMsg& msg) override { midi.push_back(msg), TestSynth::ProcessMidiMsg(msg); }
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
  std::vector<std::string> log;
  std::vector<iplug::IKeyPress> keys;
};

class Vst3InProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    iplug::Timer::SetManualMode(true);
    synth = new RecordingSynth;
    std::string error;
    plugin = testhost::HostedPlugin::adopt(static_cast<Steinberg::Vst::IAudioProcessor*>(synth), error);
    ASSERT_TRUE(plugin) << error;
    plugin->host().setName(hostName);
    ASSERT_EQ(plugin->initialize(), Steinberg::kResultOk);
    ASSERT_EQ(plugin->setupProcessing(48000.0, 4096), Steinberg::kResultOk);
    ASSERT_EQ(plugin->setActive(true), Steinberg::kResultOk);
    ASSERT_EQ(plugin->setProcessing(true), Steinberg::kResultOk);
    controller = plugin->controller();
  }
  void TearDown() override {
    plugin.reset();
    iplug::Timer::SetManualMode(false);
  }

  std::string hostName = "Oskra Test Host";
  RecordingSynth* synth = nullptr;  // owned by its reference count, which the host holds
  std::unique_ptr<testhost::HostedPlugin> plugin;
  Steinberg::Vst::IEditController* controller = nullptr;
};
