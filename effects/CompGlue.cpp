#include "effects/CompGlue.h"

#include <algorithm>
#include <cmath>

#include "effects/FastMath.h"
#include "effects/FastMathLanes.h"
#include "effects/SampleGuard.h"

void CompGlue::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 48.0f, 0.0f, "%.0f dB", "Gain", 6.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Speed", 50.0f);
  FxBase::setup(p);
}

void CompGlue::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  const float gainDb = paramValue(0);
  const float speed = paramValue(1) / 100.0f;

  const float u = (1.0f - 0.98f * speed) * (1.0f - 0.98f * speed);
  const float attack = smoothingCoefficient(sampleRate * (0.0005f + 0.02f * u));
  const float release = smoothingCoefficient(sampleRate * (0.0005f + 0.2f * u));
  const float makeup = gainDb * kDecibelsToLog2;
  const float threshold = (-10.0f - 1.333f * gainDb) * kDecibelsToLog2;

  // Only the gain's smoothing waits on the sample before; the level before it and the gain's
  // use after it run four samples to a step. Within a chunk the three are skewed by a group of
  // four (the level of group j + 1 and the output of group j - 1 beside the smoothing of group
  // j), so the lane work fills the smoothing's wait. A sample is written only after it is read.
  constexpr int kChunk = 64;
  constexpr int kGroup = 4;
  const Lanes thresholdLanes = lanesSplat(threshold);
  const Lanes makeupLanes = lanesSplat(makeup);
  const Lanes attackLanes = lanesSplat(attack);
  const Lanes releaseLanes = lanesSplat(release);
  float g = gainLevel;
  for (int start = 0; start < nFrames; start += kChunk) {
    const int n = std::min(kChunk, nFrames - start);
    const float* inL = in[0] + start;
    const float* inR = in[1] + start;
    float* outL = out[0] + start;
    float* outR = out[1] + start;
    float left[kChunk];
    float right[kChunk];
    float targets[kChunk];
    float gains[kChunk];
    auto level = [&](int i) {
      const Lanes l = guardSampleLanes(lanesLoad(inL + i));
      const Lanes r = guardSampleLanes(lanesLoad(inR + i));
      lanesStore(left + i, l);
      lanesStore(right + i, r);
      const Lanes peak = fastLog2Lanes(linkedPeakLanes(l, r));
      lanesStore(targets + i,
                 lanesMin(thresholdLanes - peak, lanesZero()) * lanesSplat(0.6666666f) + makeupLanes);
    };
    // The smoothing in lanes (all four alike), so that the choice between attack and release
    // is a mask made beside the difference, and both products wait only on the difference.
    auto smooth = [&](int from, int to) {
      Lanes level = lanesSplat(g);
      for (int i = from; i < to; ++i) {
        const Lanes target = lanesSplat(targets[i]);
        const Lanes d = target - level;
        level = level + lanesSelect(lanesLess(target, level), attackLanes * d, releaseLanes * d);
        gains[i] = lanesFirst(level);
      }
      g = lanesFirst(level);
    };
    auto output = [&](int i) {
      const Lanes gain = fastPow2Lanes(lanesLoad(gains + i));
      lanesStore(outL + i, softClipLanes(gain * lanesLoad(left + i)));
      lanesStore(outR + i, softClipLanes(gain * lanesLoad(right + i)));
    };
    const int whole = n / kGroup;
    if (whole > 0) level(0);
    for (int j = 0; j < whole; ++j) {
      if (j + 1 < whole) level(kGroup * (j + 1));
      smooth(kGroup * j, kGroup * (j + 1));
      if (j > 0) output(kGroup * (j - 1));
    }
    if (whole > 0) output(kGroup * (whole - 1));
    int i = kGroup * whole;
    for (; i < n; ++i) {
      left[i] = guardSample(inL[i]);
      right[i] = guardSample(inR[i]);
      const float peak = fastLog2(linkedPeak(left[i], right[i]));
      targets[i] = std::min(threshold - peak, 0.0f) * 0.6666666f + makeup;
    }
    smooth(kGroup * whole, n);
    for (i = kGroup * whole; i < n; ++i) {
      const float gain = fastPow2(gains[i]);
      outL[i] = softClip(gain * left[i]);
      outR[i] = softClip(gain * right[i]);
    }
  }
  gainLevel = g;
}
