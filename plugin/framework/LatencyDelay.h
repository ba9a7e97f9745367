#pragma once

#include <vector>

namespace iplug {

// Delays each input channel by the plug-in's latency, so a bypassed plug-in stays aligned with
// the audio it would have rendered. Input channel c goes to output channel c.
class LatencyDelay {
 public:
  static constexpr int kMaxDelay = 1 << 20;

  LatencyDelay(int nInChans, int nOutChans) : mNInChans(nInChans), mNOutChans(nOutChans) {}

  // Resizes and clears the lines; a delay outside 0..kMaxDelay, or one that cannot be had, is
  // refused (false).
  bool SetDelayTime(int samples);
  int GetDelayTime() const { return mDelay; }
  // In place is fine: each sample is read before it is written.
  void ProcessBlock(float** inputs, float** outputs, int nFrames);

 private:
  std::vector<float> mBuffer;
  int mNInChans;
  int mNOutChans;
  int mWritePos = 0;
  int mDelay = 0;
};

}  // namespace iplug
