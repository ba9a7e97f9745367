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

void DrumTrack::beginPass() {
  // Published before any read of the entries, so the writer sees the pass's entries as taken.
  // An entry already announced stays announced (only this side writes readIndex, and the
  // writer never writes the newest entry in place), so most passes need no fenced store.
  const int32_t a = ringIndexA.load(std::memory_order_acquire);
  if (a != readIndexA.load(std::memory_order_relaxed)) readIndexA.store(a, std::memory_order_seq_cst);
  const int32_t b = ringIndexB.load(std::memory_order_acquire);
  if (b != readIndexB.load(std::memory_order_relaxed)) readIndexB.store(b, std::memory_order_seq_cst);
}

const Blob& DrumTrack::passSnapshot(int32_t slot) const {
  if (slot == 0) return snapshotsA[readIndexA.load(std::memory_order_relaxed) & (kRingSize - 1)];
  return snapshotsB[readIndexB.load(std::memory_order_relaxed) & (kRingSize - 1)];
}
