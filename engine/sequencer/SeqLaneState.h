#pragma once

#include <atomic>
#include <cstdint>

// The play state of one sequencer lane. The audio thread owns it; the one field the editor
// also writes (noteIndex, when a lane is cleared) is atomic.
struct SeqLaneState {
  enum State : int32_t {
    kIdle = 0,
    kSounding = 1,
    kNoteOnPending = 2,
    kNoteOffPending = 3,
  };

  std::atomic<int32_t> noteIndex{-1};  // the note being played or next to play; -1 none
  int32_t laneTick = 0;                // 0 .. lane length x 1024 - 1
  int32_t timingOffset = 0;            // ticks added to laneTick: the humanised position
  float jitter = 0.0f;                 // the current timing looseness, in steps
  int32_t state = kIdle;
  // The velocity of the pending note-on, taken while the lanes were locked, so that polling
  // never reads a lane's notes while the editor may be changing them.
  int32_t velocity = 0;
  // The lane length as last seen under the lock; repositioning, which cannot take the lock,
  // uses this copy.
  int32_t laneLength = 16;
};
