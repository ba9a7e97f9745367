#include "engine/DrumTrack.h"

#include "engine/dsp/SpectralSynth.h"

DrumTrack::DrumTrack() {
  velocityCurve.points[0] = {0.0f, 0.0f, 0.0f};
  velocityCurve.points[1] = {1.0f, 1.0f, 0.0f};
  velocityCurve.count = 2;
  velocityCurve.updateEndPoint();
}

DrumTrack::~DrumTrack() = default;

const Blob& DrumTrack::currentSnapshot(int32_t slot) const {
  if (slot == 0) return snapshotsA[ringIndexA.load(std::memory_order_acquire) & (kRingSize - 1)];
  return snapshotsB[ringIndexB.load(std::memory_order_acquire) & (kRingSize - 1)];
}
