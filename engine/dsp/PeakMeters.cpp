#include "engine/dsp/PeakMeters.h"

#include <cmath>

#include "engine/dsp/SimdLanes.h"

namespace {
constexpr float kFallSeconds = 0.1f;
constexpr float kRestLevel = 1e-9f;
}  // namespace

void updatePeakMeters(float meters[], const float* const channels[], int32_t nFrames, int32_t nChannels,
                      float sampleRate) {
  const float seconds = nFrames > 0 && sampleRate > 0.0f ? static_cast<float>(nFrames) / sampleRate : 0.0f;
  const float fall = seconds / (seconds + kFallSeconds);
  for (int32_t c = 0; c < nChannels; ++c) {
    const float* x = channels[c];
    // The largest magnitude, a NaN never taken: four running maxima of four lanes each (so that
    // no maximum waits on the one before), then the lanes' largest. The largest of a set does
    // not depend on the order it is looked at in.
    Lanes run[4] = {lanesZero(), lanesZero(), lanesZero(), lanesZero()};
    int32_t i = 0;
    for (; i + 16 <= nFrames; i += 16) {
      for (int32_t r = 0; r < 4; ++r) run[r] = lanesMax(run[r], lanesAbs(lanesLoad(x + i + 4 * r)));
    }
    for (; i + 4 <= nFrames; i += 4) run[0] = lanesMax(run[0], lanesAbs(lanesLoad(x + i)));
    const Lanes lanes = lanesMax(lanesMax(run[0], run[1]), lanesMax(run[2], run[3]));
    float each[4];
    lanesStore(each, lanes);
    float peak = 0.0f;
    for (float a : each) peak = a > peak ? a : peak;
    for (; i < nFrames; ++i) {
      const float a = std::fabs(x[i]);
      if (a > peak) peak = a;
    }
    float& m = meters[c];
    if (peak > m) {
      m = peak;
    } else {
      m += (peak - m) * fall;
    }
    if (!(m > kRestLevel)) m = 0.0f;
  }
}
