#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "plugin/framework/IPlugAPIBase.h"
#include "plugin/framework/Timer.h"

// Waits (generously, so a loaded machine does not fail the test) until the condition holds.
template <typename Condition>
bool eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return condition();
}

struct ManualTimers {  // the idle work runs only when a test fires it
  ManualTimers() { iplug::Timer::SetManualMode(true); }
  ~ManualTimers() { iplug::Timer::SetManualMode(false); }
};

inline int threadCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/task");
  while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) count += entry->d_name[0] != '.';
  if (dir != nullptr) closedir(dir);
  return count;
}

// A plug-in on the framework bases alone that records what reaches it.
class FrameworkTestPlugin : public iplug::IPlugAPIBase {
 public:
  explicit FrameworkTestPlugin(int nParams, bool hasUI = true)
      : IPlugAPIBase(iplug::Config{.nParams = nParams, .plugHasUI = hasUI}, iplug::kAPIVST3) {
    for (int i = 0; i < nParams; ++i) GetParam(i)->InitDouble("p", 0.0, -10.0, 10.0, 0.001);
  }
  ~FrameworkTestPlugin() override { StopTimer(); }  // before the members the idle work touches go

  void OnParamChange(int idx, iplug::EParamSource source, int offset) override { Log("change", idx, source, offset); }
  void OnParamChangeUI(int idx, iplug::EParamSource source) override { Log("ui", idx, source); }
  void OnMidiMsgUI(const iplug::IMidiMsg& msg) override { Log("midi", msg.mData1); }
  void OnHostIdentified() override { ++hostIdentified; }
  void OnIdle() override {
    idleWork.push_back(++idles);  // heap memory the idle work touches
    if (idleWork.size() > 64) idleWork.clear();
  }

  template <typename... Args>
  bool Log(const char* what, Args... args) {
    std::string line = what;
    ((line += ' ', line += std::to_string(args)), ...);
    log.push_back(line);
    return true;
  }

  using IPlugAPIBase::mMidiMsgsFromProcessor;
  using IPlugAPIBase::mSysExDataFromEditor;

  std::vector<std::string> log;
  std::vector<int> idleWork;
  std::atomic<int> idles{0};
  int hostIdentified = 0;
};
