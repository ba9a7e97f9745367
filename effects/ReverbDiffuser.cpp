#include "effects/ReverbDiffuser.h"

#include <algorithm>
#include <cmath>

#include "effects/SampleCount.h"
#include "effects/SampleGuard.h"
#include "engine/core/Clamp.h"

void ReverbDiffuser::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f);
  p[1].init(Param::kPower, 0.0f, 300.0f, 2.0f, "%.0f ms", "Pre-delay", 10.0f);
  FxBase::setup(p);
}

void ReverbDiffuser::setSampleRate(float rate) {
  if (!isUsableSampleRate(rate)) return;
  sampleRate = rate;
  for (int j = 0; j < kLines; ++j) {
    lines[j].init(sampleCount(std::exp2(-0.584f * static_cast<float>(j)) * 0.2f * rate));
    // The delays reached so far carry over, within the new lines.
    lineDelays[j] = std::min(lineDelays[j], lines[j].length());
  }
  // The longest pre-delay (300 ms) rounded down to whole chunks, and 256 samples to spare.
  preDelay.init(16 * (sampleCount(0.3f * rate) / 16 + 16), 2, 64);
}

// The delays glide on from where they stand.
void ReverbDiffuser::reset() {
  preDelay.clear();
  for (DelayLine& line : lines) line.clear();
}

void ReverbDiffuser::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  if (lines[0].buffer.empty()) {
    std::fill_n(out[0], nFrames, 0.0f);
    std::fill_n(out[1], nFrames, 0.0f);
    return;
  }
  const float scale = 0.9f * (paramValue(0) / 100.0f) + 0.1f;
  const float longestPreDelay = static_cast<float>(preDelay.length - 33);
  const int pre = static_cast<int>(
      clamp(paramValue(1) * 0.001f * sampleRate, 0.0f, longestPreDelay) + 0.5f);
  // The lows below about 343 Hz go to the middle.
  const float bassCoefficient = std::min(343.0f / (0.17f * sampleRate), 1.0f);

  for (int done = 0; done < nFrames; done += kChunk) {
    const int n = std::min(kChunk, nFrames - done);
    float dryL[kChunk], dryR[kChunk], workL[kChunk], workR[kChunk];
    for (int k = 0; k < n; ++k) {
      dryL[k] = guardSample(in[0][done + k]);
      dryR[k] = guardSample(in[1][done + k]);
    }
    const float* const dry[2] = {dryL, dryR};
    float* const work[2] = {workL, workR};
    preDelay.write(dry, n);
    preDelay.read(work, n, pre);
    for (int j = 0; j < kLines; ++j) {
      const int wanted = static_cast<int>(static_cast<float>(lines[j].length()) * scale);
      lineDelays[j] = std::clamp(wanted, lineDelays[j] - 1, lineDelays[j] + 1);
      lines[j].rotate(work, n, lineDelays[j], 0.0f);
    }
    float* const dst[2] = {out[0] + done, out[1] + done};
    bassToMono(bass, work, dst, n, bassCoefficient);
  }
}
