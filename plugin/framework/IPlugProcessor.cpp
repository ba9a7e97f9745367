#include "plugin/framework/IPlugProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace iplug {

namespace {

void clearFrames(float* data, int nFrames) {
  if (data != nullptr && nFrames > 0) std::memset(data, 0, sizeof(float) * static_cast<size_t>(nFrames));
}

}  // namespace

IPlugProcessor::IPlugProcessor(const Config& config)
    : mPlugType(config.plugType),
      mDoesMidiIn(config.plugDoesMidiIn),
      mDoesMidiOut(config.plugDoesMidiOut),
      mDoesMPE(config.plugDoesMPE),
      mLatency(std::clamp(config.latency, 0, LatencyDelay::kMaxDelay)) {
  int maxNInChans = 0;
  int maxNOutChans = 0;
  int maxNInBuses = 0;
  int maxNOutBuses = 0;
  ParseChannelIOStr(config.channelIOStr, mIOConfigs, maxNInChans, maxNOutChans, maxNInBuses, maxNOutBuses);
  const int totals[2] = {maxNInChans, maxNOutChans};
  for (ERoute direction : {kInput, kOutput}) {
    mChannelData[direction].resize(static_cast<size_t>(totals[direction]));
    mScratchData[direction].assign(static_cast<size_t>(totals[direction]), nullptr);
  }
  if (maxNInChans > 0) {
    mLatencyDelay = std::make_unique<LatencyDelay>(maxNInChans, maxNOutChans);
    mLatencyDelay->SetDelayTime(mLatency);
  }
}

IPlugProcessor::~IPlugProcessor() = default;

void IPlugProcessor::ProcessBlock(float** inputs, float** outputs, int nFrames) {
  const int nIn = MaxNChannels(kInput);
  const int nOut = MaxNChannels(kOutput);
  for (int i = 0; i < nOut; ++i) {
    if (i < nIn) {
      if (inputs[i] != outputs[i] && nFrames > 0)
        std::memmove(outputs[i], inputs[i], sizeof(float) * static_cast<size_t>(nFrames));
    } else {
      clearFrames(outputs[i], nFrames);
    }
  }
}

bool IPlugProcessor::SendMidiMsgs(std::span<const IMidiMsg> msgs) {
  bool all = true;
  for (const IMidiMsg& msg : msgs) all = SendMidiMsg(msg) && all;
  return all;
}

void IPlugProcessor::GetBusName(ERoute direction, int busIdx, int nBuses, WDL_String& str) const {
  if (direction == kOutput) {
    if (nBuses == 1) {
      str.Set("Output");
    } else {
      str.SetFormatted(64, "Output %i", busIdx);
    }
  } else if (nBuses == 1) {
    str.Set("Input");
  } else if (nBuses == 2) {
    str.Set(busIdx == 0 ? "Main" : "Aux");
  } else {
    str.SetFormatted(64, "Input %i", busIdx);
  }
}

void IPlugProcessor::SetLatency(int samples) {
  mLatency = std::clamp(samples, 0, LatencyDelay::kMaxDelay);
  if (mLatencyDelay) mLatencyDelay->SetDelayTime(mLatency);
}

const IOConfig* IPlugProcessor::GetIOConfig(int index) const {
  return index >= 0 && index < NIOConfigs() ? &mIOConfigs[static_cast<size_t>(index)] : nullptr;
}

int IPlugProcessor::MaxNBuses(ERoute direction, int* configIdx) const {
  int most = 0;
  int at = 0;
  for (int i = 0; i < NIOConfigs(); ++i) {
    const int n = mIOConfigs[static_cast<size_t>(i)].NBuses(direction);
    if (n >= most) {
      most = n;
      at = i;
    }
  }
  if (configIdx != nullptr) *configIdx = at;
  return most;
}

int IPlugProcessor::MaxNChannelsForBus(ERoute direction, int busIdx) const {
  if (mIOConfigs.empty()) return 0;
  if (mIOConfigs.front().ContainsWildcard(direction)) return -1;
  int most = 0;
  for (const IOConfig& config : mIOConfigs) most = std::max(most, config.NChansOnBus(direction, busIdx));
  return most;
}

int IPlugProcessor::GetIOConfigWithChanCounts(std::span<const int> inputChans, std::span<const int> outputChans) const {
  const std::span<const int> wanted[2] = {inputChans, outputChans};
  for (int i = 0; i < NIOConfigs(); ++i) {
    const IOConfig& config = mIOConfigs[static_cast<size_t>(i)];
    bool matches = true;
    for (ERoute direction : {kInput, kOutput}) {
      if (config.NBuses(direction) != static_cast<int>(wanted[direction].size())) {
        matches = false;
        break;
      }
      for (int bus = 0; bus < config.NBuses(direction) && matches; ++bus) {
        matches = config.NChansOnBus(direction, bus) == wanted[direction][static_cast<size_t>(bus)];
      }
      if (!matches) break;
    }
    if (matches) return i;
  }
  return -1;
}

int IPlugProcessor::NChannelsConnected(ERoute direction) const {
  return static_cast<int>(std::count_if(mChannelData[direction].begin(), mChannelData[direction].end(),
                                        [](const ChannelData& channel) { return channel.mConnected; }));
}

bool IPlugProcessor::IsChannelConnected(ERoute direction, int chIdx) const {
  return chIdx >= 0 && chIdx < MaxNChannels(direction) &&
         mChannelData[direction][static_cast<size_t>(chIdx)].mConnected;
}

bool IPlugProcessor::SetBlockSize(int n) {
  if (n < 0 || n > kMaxBlockSize) return false;
  if (n == mBlockSize) return true;
  // All new buffers first, so a refusal leaves every channel as it was.
  std::vector<std::vector<float>> fresh[2];
  try {
    for (ERoute direction : {kInput, kOutput}) {
      fresh[direction].resize(mChannelData[direction].size());
      for (std::vector<float>& buffer : fresh[direction]) buffer.assign(static_cast<size_t>(n), 0.0f);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (ERoute direction : {kInput, kOutput}) {
    for (size_t ch = 0; ch < mChannelData[direction].size(); ++ch) {
      mChannelData[direction][ch].mScratchBuf.swap(fresh[direction][ch]);
      mScratchData[direction][ch] = mChannelData[direction][ch].mScratchBuf.data();
    }
  }
  mBlockSize = n;
  return true;
}

void IPlugProcessor::SetSampleRate(double sampleRate) {
  if (std::isfinite(sampleRate) && sampleRate > 0.0) mSampleRate = sampleRate;
}

namespace {

// The channels first .. first + count - 1 that exist, without overflow for any host numbers.
void channelRange(int total, int first, int count, int& begin, int& end) {
  const int64_t b = std::clamp<int64_t>(first, 0, total);
  const int64_t e = std::clamp<int64_t>(int64_t{first} + count, b, total);
  begin = static_cast<int>(b);
  end = static_cast<int>(e);
}

}  // namespace

void IPlugProcessor::SetChannelConnections(ERoute direction, int first, int count, bool connected) {
  int begin = 0;
  int end = 0;
  channelRange(MaxNChannels(direction), first, count, begin, end);
  for (int ch = begin; ch < end; ++ch) {
    ChannelData& channel = mChannelData[direction][static_cast<size_t>(ch)];
    channel.mConnected = connected;
    if (!connected) {
      channel.mIncomingData = nullptr;
      mScratchData[direction][static_cast<size_t>(ch)] = channel.mScratchBuf.data();
    }
  }
}

template <typename Sample, typename Attach>
void IPlugProcessor::ForEachConnected(ERoute direction, int first, int count, Sample** buffers, Attach attach) {
  int begin = 0;
  int end = 0;
  channelRange(MaxNChannels(direction), first, count, begin, end);
  int next = 0;  // unconnected channels take no host buffer
  for (int ch = begin; ch < end; ++ch) {
    ChannelData& channel = mChannelData[direction][static_cast<size_t>(ch)];
    if (!channel.mConnected) continue;
    Sample* host = buffers != nullptr ? buffers[next] : nullptr;
    ++next;
    attach(channel, mScratchData[direction][static_cast<size_t>(ch)], host);
  }
}

void IPlugProcessor::AttachBuffers(ERoute direction, int first, int count, float** buffers, int) {
  ForEachConnected(direction, first, count, buffers, [](ChannelData& channel, float*& entry, float* host) {
    channel.mIncomingData = nullptr;
    entry = host != nullptr ? host : channel.mScratchBuf.data();
  });
}

void IPlugProcessor::AttachBuffers(ERoute direction, int first, int count, double** buffers, int nFrames) {
  const int frames = FramesToRender(nFrames);
  ForEachConnected(direction, first, count, buffers,
                   [direction, frames](ChannelData& channel, float*& entry, double* host) {
                     float* scratch = channel.mScratchBuf.data();
                     entry = scratch;
                     channel.mIncomingData = direction == kOutput ? host : nullptr;
                     if (direction == kOutput) return;
                     if (host == nullptr) {
                       clearFrames(scratch, frames);
                       return;
                     }
                     for (int i = 0; i < frames; ++i) scratch[i] = static_cast<float>(host[i]);
                   });
}

void IPlugProcessor::ConvertOutputsTo64Bit(int nFrames) {
  for (size_t ch = 0; ch < mChannelData[kOutput].size(); ++ch) {
    const ChannelData& channel = mChannelData[kOutput][ch];
    if (!channel.mConnected || channel.mIncomingData == nullptr) continue;
    const float* rendered = mScratchData[kOutput][ch];
    for (int i = 0; i < nFrames; ++i) channel.mIncomingData[i] = rendered[i];
  }
}

void IPlugProcessor::PassThroughBuffers(float, int nFrames) {
  const int frames = FramesToRender(nFrames);
  float** inputs = mScratchData[kInput].data();
  float** outputs = mScratchData[kOutput].data();
  const int nIn = MaxNChannels(kInput);
  if (mLatency > 0 && mLatencyDelay) {
    mLatencyDelay->ProcessBlock(inputs, outputs, frames);
    for (int ch = nIn; ch < MaxNChannels(kOutput); ++ch) clearFrames(outputs[ch], frames);
  } else {
    IPlugProcessor::ProcessBlock(inputs, outputs, frames);
  }
}

void IPlugProcessor::PassThroughBuffers(double, int nFrames) {
  PassThroughBuffers(0.0f, nFrames);
  ConvertOutputsTo64Bit(FramesToRender(nFrames));
}

void IPlugProcessor::ProcessBuffers(float, int nFrames) {
  ProcessBlock(mScratchData[kInput].data(), mScratchData[kOutput].data(), FramesToRender(nFrames));
}

void IPlugProcessor::ProcessBuffers(double, int nFrames) {
  ProcessBuffers(0.0f, nFrames);
  ConvertOutputsTo64Bit(FramesToRender(nFrames));
}

void IPlugProcessor::ZeroScratchBuffers() {
  for (ERoute direction : {kInput, kOutput}) {
    for (ChannelData& channel : mChannelData[direction]) clearFrames(channel.mScratchBuf.data(), mBlockSize);
  }
}

}  // namespace iplug
