#pragma once

#include <cstdint>

#include "engine/BandSynth.h"

// The scene the engine's and the shell's benchmarks render: uneven sounds on every track (so
// the band analysis sees peaks and edges rather than a flat ramp), the given polyphony, both
// sends in use, a morph between the slots, and every effect slot on (plate reverb, tempo delay,
// compressor, tape). The effects are installed by the engine's next updateEffectTypes.
inline void configureBenchScene(BandSynth& e, int32_t polyphony) {
  auto set = [&e](int32_t index, float v) { e.params[static_cast<size_t>(index)].setValue(v); };
  uint32_t x = 777u;
  for (int32_t t = 0; t < BandSynth::kTrackCount; ++t) {
    for (Blob& blob : e.tracks[t].blobs) {
      blob.clear();
      for (auto& curve : blob.gridA)
        for (size_t i = 1; i + 1 < curve.size(); ++i) {
          x = x * 1664525u + 1013904223u;
          curve[i] += static_cast<float>(static_cast<int32_t>(x)) * 4.6e-10f;
        }
      blob.refresh();
    }
    set(BandSynth::trackParam(t, TrackParam::kPolyphony), static_cast<float>(polyphony));
    set(BandSynth::trackParam(t, TrackParam::kSend1), 0.3f);
    set(BandSynth::trackParam(t, TrackParam::kSend2), 0.3f);
    set(BandSynth::trackParam(t, TrackParam::kTransform), 40.0f);
  }
  const float types[BandSynth::kSlotCount] = {2.0f, 5.0f, 0.0f, 4.0f};
  for (int32_t s = 0; s < BandSynth::kSlotCount; ++s) {
    set(BandSynth::slotParam(s, SlotParam::kPower), 1.0f);
    set(BandSynth::slotParam(s, SlotParam::kType), types[s]);
  }
}
