#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <vector>

#include "plugin/framework/Config.h"
#include "plugin/framework/IMidiMsg.h"
#include "plugin/framework/IOConfig.h"
#include "plugin/framework/ISysEx.h"
#include "plugin/framework/ITimeInfo.h"
#include "plugin/framework/LatencyDelay.h"
#include "plugin/framework/WDL_String.h"

namespace iplug {

// The audio side of the plug-in object: its channel configurations, one channel record per
// processor channel with its own scratch buffer, the sample rate, block size, latency, tail,
// bypass flag and transport, and the operations the plug-in overrides to render.
//
// ProcessBlock always receives a pointer for every channel of the widest configuration. A channel
// the host has not connected points at the processor's own scratch buffer, sized in SetBlockSize
// (the prepare step), so the plug-in can write every output and nothing allocates on the audio
// thread. No block renders more frames than the size prepared: the format binding prepares a
// larger size before it passes a longer block.
class IPlugProcessor {
 public:
  static constexpr int kMaxBlockSize = 1 << 16;
  static constexpr int kInfiniteTail = 0x7FFFFFFF;

  explicit IPlugProcessor(const Config& config);
  virtual ~IPlugProcessor();
  IPlugProcessor(const IPlugProcessor&) = delete;
  IPlugProcessor& operator=(const IPlugProcessor&) = delete;

  // Default: input i to output i where both exist; the other outputs silent.
  virtual void ProcessBlock(float** inputs, float** outputs, int nFrames);
  virtual void ProcessMidiMsg(const IMidiMsg& msg) { SendMidiMsg(msg); }
  virtual void ProcessSysEx(const ISysEx& /*msg*/) {}
  virtual void OnReset() {}
  virtual void OnActivate(bool /*active*/) {}
  // A piece of a block rendered while bypassed: ProcessBlock does not run for it, so whatever
  // the plug-in queued for those frames is its to drop here.
  virtual void OnBypassedBlock(int /*nFrames*/) {}
  virtual bool SendMidiMsg(const IMidiMsg& msg) = 0;
  // True only when every message was taken.
  virtual bool SendMidiMsgs(std::span<const IMidiMsg> msgs);
  virtual bool SendSysEx(const ISysEx& /*msg*/) { return false; }
  virtual void GetBusName(ERoute direction, int busIdx, int nBuses, WDL_String& str) const;
  virtual void SetLatency(int samples);
  virtual void SetTailSize(int samples) { mTailSize = samples; }

  int NIOConfigs() const { return static_cast<int>(mIOConfigs.size()); }
  const IOConfig* GetIOConfig(int index) const;
  // The most buses a configuration has on that side; configIdx gets the last one with that many.
  int MaxNBuses(ERoute direction, int* configIdx = nullptr) const;
  int MaxNChannels(ERoute direction) const { return static_cast<int>(mChannelData[direction].size()); }
  // -1 when the first configuration has a wildcard bus on that side; 0 without buses there.
  int MaxNChannelsForBus(ERoute direction, int busIdx) const;
  // The first configuration whose buses have exactly these channel counts; -1 when none.
  int GetIOConfigWithChanCounts(std::span<const int> inputChans, std::span<const int> outputChans) const;
  int NChannelsConnected(ERoute direction) const;
  bool IsChannelConnected(ERoute direction, int chIdx) const;

  // Set-up side (not the audio thread): sizes every scratch buffer for blocks of up to n frames
  // and clears it. Refused (false, nothing changed) for n outside 0..kMaxBlockSize.
  bool SetBlockSize(int n);
  void SetSampleRate(double sampleRate);

  // Audio side, once per block, by the format binding. Ranges are held to the channels there
  // are; a missing host array or buffer leaves the channel on its scratch buffer.
  void SetChannelConnections(ERoute direction, int first, int count, bool connected);
  void AttachBuffers(ERoute direction, int first, int count, float** buffers, int nFrames);
  // 64-bit host buffers: inputs are converted into scratch; outputs render into scratch and are
  // converted back after the block, connected channels only.
  void AttachBuffers(ERoute direction, int first, int count, double** buffers, int nFrames);
  void PassThroughBuffers(float, int nFrames);
  void PassThroughBuffers(double, int nFrames);
  void ProcessBuffers(float, int nFrames);
  void ProcessBuffers(double, int nFrames);
  void ZeroScratchBuffers();

  double GetSampleRate() const { return mSampleRate; }
  int GetBlockSize() const { return mBlockSize; }
  int GetLatency() const { return mLatency; }
  int GetTailSize() const { return mTailSize; }
  // Set by the audio thread, read by the state's writer on another.
  bool GetBypassed() const { return mBypassed.load(std::memory_order_relaxed); }
  void SetBypassed(bool bypassed) { mBypassed.store(bypassed, std::memory_order_relaxed); }
  bool GetRenderingOffline() const { return mRenderingOffline; }
  void SetRenderingOffline(bool offline) { mRenderingOffline = offline; }
  const ITimeInfo& GetTimeInfo() const { return mTimeInfo; }
  void SetTimeInfo(const ITimeInfo& timeInfo) { mTimeInfo = timeInfo; }
  EPlugType GetPlugType() const { return mPlugType; }
  bool IsInstrument() const { return mPlugType == kInstrument; }
  bool DoesMidiIn() const { return mDoesMidiIn; }
  bool DoesMidiOut() const { return mDoesMidiOut; }
  bool DoesMPE() const { return mDoesMPE; }

 private:
  struct ChannelData {
    bool mConnected = false;
    double* mIncomingData = nullptr;  // a 64-bit host output buffer, written after the block
    std::vector<float> mScratchBuf;
  };

  template <typename Sample, typename Attach>
  void ForEachConnected(ERoute direction, int first, int count, Sample** buffers, Attach attach);
  void ConvertOutputsTo64Bit(int nFrames);
  int FramesToRender(int nFrames) const { return nFrames < 0 ? 0 : (nFrames > mBlockSize ? mBlockSize : nFrames); }

  EPlugType mPlugType;
  bool mDoesMidiIn;
  bool mDoesMidiOut;
  bool mDoesMPE;
  int mLatency;
  double mSampleRate = 48000.0;
  int mBlockSize = 0;
  int mTailSize = 0;
  std::atomic<bool> mBypassed{false};
  bool mRenderingOffline = false;
  std::vector<IOConfig> mIOConfigs;
  std::vector<float*> mScratchData[2];  // the pointer arrays ProcessBlock receives
  std::vector<ChannelData> mChannelData[2];
  std::unique_ptr<LatencyDelay> mLatencyDelay;
  ITimeInfo mTimeInfo;
};

}  // namespace iplug
