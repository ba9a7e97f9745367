#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "plugin/framework/IPlugAPIBase.h"

// A plug-in on the framework bases alone that records what reaches it.
class FrameworkTestPlugin : public iplug::IPlugAPIBase {
 public:
  static iplug::Config MakeConfig(int nParams, bool hasUI = true) {
    iplug::Config config;
    config.nParams = nParams;
    config.pluginName = "Test";
    config.plugHasUI = hasUI;
    config.plugWidth = 792;
    config.plugHeight = 602;
    config.plugMinWidth = 2000;  // given the wrong way round on purpose
    config.plugMaxWidth = 264;
    config.plugMinHeight = 200;
    config.plugMaxHeight = 2000;
    return config;
  }

  explicit FrameworkTestPlugin(int nParams, bool hasUI = true)
      : IPlugAPIBase(MakeConfig(nParams, hasUI), iplug::kAPIVST3) {
    for (int i = 0; i < nParams; ++i) GetParam(i)->InitDouble("p", 0.0, -10.0, 10.0, 0.001);
  }
  // Stop the timer before the members its idle work touches are gone.
  ~FrameworkTestPlugin() override { StopTimer(); }

  void OnParamChange(int paramIdx, iplug::EParamSource source, int sampleOffset) override {
    log.push_back("change " + std::to_string(paramIdx) + " " + std::to_string(source) + " " +
                  std::to_string(sampleOffset));
  }
  void OnParamChangeUI(int paramIdx, iplug::EParamSource source) override {
    log.push_back("ui " + std::to_string(paramIdx) + " " + std::to_string(source));
  }
  void OnMidiMsgUI(const iplug::IMidiMsg& msg) override { log.push_back("midi " + std::to_string(msg.mData1)); }
  void OnSysexMsgUI(const iplug::ISysEx& msg) override { log.push_back("sysex " + std::to_string(msg.mSize)); }
  bool OnMessage(int msgTag, int ctrlTag, int dataSize, const void*) override {
    log.push_back("message " + std::to_string(msgTag) + " " + std::to_string(ctrlTag) + " " + std::to_string(dataSize));
    return true;
  }
  void InformHostOfParamChange(int paramIdx, double normalized) override {
    log.push_back("inform " + std::to_string(paramIdx) + " " + std::to_string(normalized));
  }
  void OnHostIdentified() override { ++hostIdentified; }
  void OnIdle() override {
    ++idles;
    idleWork.push_back(idles);  // heap memory the idle work touches
    if (idleWork.size() > 64) idleWork.clear();
  }

  using IPlugAPIBase::mMidiMsgsFromEditor;
  using IPlugAPIBase::mMidiMsgsFromProcessor;
  using IPlugAPIBase::mParamValuesFromAPI;
  using IPlugAPIBase::mPresets;
  using IPlugAPIBase::mSysExDataFromEditor;
  using IPlugAPIBase::mSysExDataFromProcessor;

  std::vector<std::string> log;
  std::vector<int> idleWork;
  std::atomic<int> idles{0};
  int hostIdentified = 0;
};
