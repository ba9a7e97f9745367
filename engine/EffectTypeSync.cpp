// The editor's periodic upkeep: effect switches and the blob hand-over to the audio side.
#include "effects/EffectRegistry.h"
#include "engine/BandSynth.h"

namespace {

int32_t slotTypeWanted(const Param& type) {
  const float v = type.effectiveValue();
  if (!(v > -1e9f && v < 1e9f)) return -1;
  return static_cast<int32_t>(v);
}

// Whether the slot can take the effect type wanted now: another, existing type, with the slot
// silent (its fade out finished) and the engine prepared.
bool switchDue(const FxSlot& fx, int32_t wanted, size_t typeCount, float sampleRate) {
  return wanted != fx.typeIndex.load() && fx.fade.load() == 0.0f && fx.target.load() == 0.0f && sampleRate > 0.0f &&
         wanted >= 0 && static_cast<size_t>(wanted) < typeCount;
}

// Copies a changed blob into the next ring entry, then publishes that entry. The entry keeps
// the revision of the blob it copies (assign raises the entry's own counter, so it is set
// afterwards), which is what the next call compares against. While the audio side may be in a
// pass, an entry it may still read is not touched: the hand-over waits for a later call.
void handOver(const Blob& blob, Blob (&ring)[DrumTrack::kRingSize], std::atomic<int32_t>& ringIndex,
              const std::atomic<int32_t>& readIndex, bool audioPaused) {
  const int32_t i = ringIndex.load(std::memory_order_relaxed);
  if (blob.revision == ring[i & (DrumTrack::kRingSize - 1)].revision) return;
  // Kept non-negative so "mod 4" stays a mask; 2^31 is a multiple of 4, so the sequence of
  // entries is unbroken across the wrap.
  const int32_t next = (i + 1) & 0x7FFFFFFF;
  // The audio side reads entry readIndex, or a newer one it has not announced yet; entries up
  // to three past readIndex are free.
  const int32_t ahead = (next - readIndex.load(std::memory_order_seq_cst)) & 0x7FFFFFFF;
  if (!audioPaused && ahead >= DrumTrack::kRingSize) return;
  Blob& entry = ring[next & (DrumTrack::kRingSize - 1)];
  entry.assign(blob, true);
  entry.revision = blob.revision;
  ringIndex.store(next, std::memory_order_release);
}

}  // namespace

bool BandSynth::effectSwitchDue() const {
  const EffectRegistry& registry = getEffectRegistry();
  for (int32_t s = 0; s < kSlotCount; ++s) {
    const std::vector<FxBase*>& list = s < 2 ? registry.sendList : registry.mainList;
    const int32_t wanted = slotTypeWanted(params[static_cast<size_t>(slotParam(s, SlotParam::kType))]);
    if (switchDue(slot(s), wanted, list.size(), sampleRate)) return true;
  }
  return false;
}

void BandSynth::updateEffectTypes(bool audioPaused) {
  const EffectRegistry& registry = getEffectRegistry();
  bool allMatch = true;
  for (int32_t s = 0; s < kSlotCount; ++s) {
    FxSlot& fx = slot(s);
    const std::vector<FxBase*>& list = s < 2 ? registry.sendList : registry.mainList;
    const int32_t wanted = slotTypeWanted(params[static_cast<size_t>(slotParam(s, SlotParam::kType))]);
    if (audioPaused && switchDue(fx, wanted, list.size(), sampleRate)) {
      FxBase* created = list[static_cast<size_t>(wanted)]->create();
      Param* records = &params[static_cast<size_t>(slotParam(s, SlotParam::kEffect0))];
      if (fx.setEffect(created, wanted, sampleRate, records, keepFxParams != 0) != nullptr) {
        mEffectParamTypes[s] = wanted;
      } else {
        delete created;
      }
    }
    if (fx.typeIndex.load() != wanted) allMatch = false;
  }
  if (keepFxParams == 1 && allMatch) keepFxParams = 0;

  for (DrumTrack& track : tracks) {
    handOver(track.blobs[0], track.snapshotsA, track.ringIndexA, track.readIndexA, audioPaused);
    handOver(track.blobs[1], track.snapshotsB, track.ringIndexB, track.readIndexB, audioPaused);
  }
}
