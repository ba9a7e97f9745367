#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/blob/Blob.h"
#include "engine/core/PointCurve.h"
#include "engine/dsp/PanWidth.h"
#include "engine/dsp/TrackClip.h"
#include "engine/voice/DrumVoice.h"

class SpectralSynth;

// One of the engine's eight drum tracks: its two sounds (slots A and B), the synthesiser that
// turns its voices into audio, its velocity curve, its voices, and the rings through which
// edited sounds reach the audio side.
//
// The editor edits `blobs`; the audio side reads only the ring entry at ringIndex mod 4. The
// editor's periodic update copies a changed blob into the next entry and then publishes the
// new index (release); the audio side loads the index (acquire) once per control pass
// (beginPass), reads only that entry during the pass, and says so in readIndex. An entry is
// written again only once the audio side has left it: the writer never runs more than three
// entries ahead of readIndex, unless the audio side is known to be between blocks.
struct DrumTrack {
  static constexpr int32_t kVoiceCount = 8;
  static constexpr int32_t kRingSize = 4;

  Blob blobs[2];
  std::unique_ptr<SpectralSynth> processor;  // null until the engine is prepared
  PointCurve velocityCurve{2};               // (0, 0, 0), (1, 1, 0): velocity passes unchanged
  DrumVoice voices[kVoiceCount];
  Blob snapshotsA[kRingSize];
  Blob snapshotsB[kRingSize];
  std::atomic<int32_t> ringIndexA{0};
  std::atomic<int32_t> ringIndexB{0};
  // The entries the audio side's current or last pass reads (written by the audio side only).
  std::atomic<int32_t> readIndexA{0};
  std::atomic<int32_t> readIndexB{0};

  // Rendering state.
  ClipState clip;
  PanWidthState panWidth;
  int32_t voiceCount = 0;  // voices 0..voiceCount - 1 may sound
  float lastVelocity = 0.0f;
  // For the editor, which reads them without a lock: whether the track is silent, and how
  // many voices the last control pass rendered.
  std::atomic<bool> silent{true};
  std::atomic<int32_t> soundingVoices{0};

  DrumTrack();
  ~DrumTrack();
  DrumTrack(const DrumTrack&) = delete;
  DrumTrack& operator=(const DrumTrack&) = delete;

  // The latest entry handed over for slot 0 (A) or 1 (B).
  const Blob& currentSnapshot(int32_t slot) const;
  // Audio side: takes the latest entries for this control pass, then reads them with
  // passSnapshot until the next pass begins.
  void beginPass();
  const Blob& passSnapshot(int32_t slot) const;
};
