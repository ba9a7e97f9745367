#include "plugin/framework/LatencyDelay.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace iplug {

bool LatencyDelay::SetDelayTime(int samples) {
  if (samples < 0 || samples > kMaxDelay) return false;
  try {
    std::vector<float> buffer(static_cast<size_t>(samples) * static_cast<size_t>(std::max(mNInChans, 0)), 0.0f);
    mBuffer.swap(buffer);
  } catch (const std::bad_alloc&) {
    return false;
  }
  mDelay = samples;
  mWritePos = 0;
  return true;
}

void LatencyDelay::ProcessBlock(float** inputs, float** outputs, int nFrames) {
  const int nChans = std::min(mNInChans, mNOutChans);
  if (mDelay == 0) {
    for (int c = 0; c < nChans; ++c) {
      if (inputs[c] != outputs[c])
        std::memmove(outputs[c], inputs[c], sizeof(float) * static_cast<size_t>(std::max(nFrames, 0)));
    }
    return;
  }
  for (int i = 0; i < nFrames; ++i) {
    for (int c = 0; c < nChans; ++c) {
      float& stored = mBuffer[static_cast<size_t>(mWritePos + c * mDelay)];
      const float in = inputs[c][i];
      outputs[c][i] = stored;
      stored = in;
    }
    if (++mWritePos == mDelay) mWritePos = 0;
  }
}

}  // namespace iplug
