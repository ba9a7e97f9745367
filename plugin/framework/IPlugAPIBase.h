#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "plugin/framework/Config.h"
#include "plugin/framework/IMidiMsg.h"
#include "plugin/framework/IPlugQueue.h"
#include "plugin/framework/IPluginBase.h"
#include "plugin/framework/ISysEx.h"
#include "plugin/framework/Timer.h"

namespace iplug {

// What every plug-in format needs above the plug-in base: the configuration, the host's
// identity, the lock-free queues of MIDI and system-exclusive data between the audio thread and
// the editor side, and the 20 ms timer that drains the queues towards the editor and gives the
// plug-in its idle call.
//
// The timer runs on the module's timer thread, not on the host's UI thread. Its work and the
// host's non-audio calls on one instance are serialised by the instance lock: the format binding
// and the plug-in take it (InstanceLock()) around every host call that reads or changes state
// the idle work touches; the timer only tries it and skips a tick when it is taken. The audio
// thread never takes it. A plug-in must call StopTimer() first thing in its destructor, before
// the members its idle work touches are gone.
class IPlugAPIBase : public IPluginBase {
 public:
  static constexpr uint32_t kTimerIntervalMs = 20;
  static constexpr int kParamValueQueueSize = 512;
  static constexpr int kMidiQueueSize = 32;
  static constexpr int kSysExQueueSize = 4;
  static constexpr int kMaxHostNameLength = 255;

  struct ParamTuple {
    int idx = 0;
    double value = 0.0;
  };

  IPlugAPIBase(const Config& config, EAPI api);
  ~IPlugAPIBase() override;

  // True when every parameter's value equals, in single precision and within 0.00001, the
  // double at its place in the data, starting at the double with index startPos; false when the
  // data holds too few doubles.
  virtual bool CompareState(const uint8_t* data, int dataSize, int startPos) const;
  virtual void OnHostIdentified() {}
  virtual void OnIdle() {}
  // The host's channel context; the format binding answers from what the host told it.
  virtual void GetChannelColor(int& red, int& green, int& blue) const { red = green = blue = 0; }
  virtual void GetChannelName(WDL_String& /*name*/) const {}
  virtual int GetChannelIndex() const { return 0; }
  virtual void GetChannelNamespace(WDL_String& /*name*/) const {}
  virtual int GetChannelNamespaceOrder() const { return 0; }
  virtual void SendParameterValueFromAPI(int paramIdx, double value, bool normalized);
  virtual bool EditorResize(int /*width*/, int /*height*/) { return false; }
  virtual void BeginInformHostOfParamChange(int /*paramIdx*/) {}
  virtual void EndInformHostOfParamChange(int /*paramIdx*/) {}
  virtual void InformHostOfParamChange(int /*paramIdx*/, double /*normalizedValue*/) {}

  void DirtyParametersFromUI() override;
  void BeginInformHostOfParamChangeFromUI(int paramIdx) override { BeginInformHostOfParamChange(paramIdx); }
  void SendParameterValueFromUI(int paramIdx, double normalizedValue) override;
  void EndInformHostOfParamChangeFromUI(int paramIdx) override { EndInformHostOfParamChange(paramIdx); }
  bool EditorResizeFromUI(int width, int height, bool needsPlatformResize) override;
  void SendMidiMsgFromUI(const IMidiMsg& msg) override { PushMidiMsgToProcessor(msg); }
  void SendSysexMsgFromUI(const ISysEx& msg) override { PushSysExToProcessor(msg); }
  void SendArbitraryMsgFromUI(int msgTag, int ctrlTag, int dataSize, const void* data) override {
    OnMessage(msgTag, ctrlTag, dataSize, data);
  }
  bool PushMidiMsgToProcessor(const IMidiMsg& msg) override { return mMidiMsgsFromEditor.Push(msg); }
  // Refused (false) when the message does not fit a SysExData.
  bool PushSysExToProcessor(const ISysEx& msg) override;

  // Keeps at most kMaxHostNameLength bytes of the name; version packed 0xMMMMmmbb.
  void SetHost(const char* name, int version);
  // The editor's change: value, host notification and the plug-in's OnParamChange(kUI).
  void SetParameterValue(int paramIdx, double normalizedValue);

  void StartTimer();
  // Returns once no idle work of this instance runs or will run.
  void StopTimer();
  void OnTimer(Timer& timer);
  std::recursive_mutex& InstanceLock() { return mInstanceLock; }

 protected:
  IPlugQueue<ParamTuple> mParamValuesFromAPI{kParamValueQueueSize};
  IPlugQueue<IMidiMsg> mMidiMsgsFromEditor{kMidiQueueSize};
  IPlugQueue<IMidiMsg> mMidiMsgsFromProcessor{kMidiQueueSize};
  IPlugQueue<SysExData> mSysExDataFromEditor{kSysExQueueSize};
  IPlugQueue<SysExData> mSysExDataFromProcessor{kSysExQueueSize};
  SysExData mSysexBuf;  // the binding's buffer for editor sysex sent on to the host

 private:
  std::recursive_mutex mInstanceLock;
  std::unique_ptr<Timer> mTimer;
};

}  // namespace iplug
