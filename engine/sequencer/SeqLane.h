#pragma once

#include <cstdint>
#include <vector>

#include "engine/sequencer/SeqNote.h"

// One sequencer lane: its own length in steps and its notes, kept sorted by start tick.
// Guarded by the sequencer's lock.
struct SeqLane {
  uint32_t length = 16;
  std::vector<SeqNote> notes;
};
