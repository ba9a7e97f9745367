#pragma once

#include <cstdint>

// One note of a sequencer lane, on the grid of 1024 ticks per sixteenth-note step.
struct SeqNote {
  uint16_t start = 0;      // start tick within the lane
  uint16_t length = 1024;  // in ticks
  uint8_t velocity = 100;  // 1..127
  uint8_t lane = 0;        // index of the lane that holds it
};
