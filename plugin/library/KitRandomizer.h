#pragma once

#include <cstdint>
#include <string>
#include <vector>

class BandSynth;
class Sequencer;

// The dice of the editor: fills the kit with sounds of the library by drum category, and writes
// a random pattern with a random tempo, swing and looseness.
enum RandomizeMode : int32_t {
  kRandomizeSounds = 1,
  kRandomizePattern = 2,
  // Sounds and pattern, and a modulation route that slows the sounds down as the tempo rises.
  kRandomizeAll = 3,
};

// Randomises what `mode` names. `library` lists the sounds as BandSynth::loadBlob takes them
// (ListLibrarySounds, relative to the engine's blob folder); only the sound modes read it. The
// same seed gives the same result; a seed of 0 is taken as 1. Returns false, having changed
// nothing, for a mode that names nothing or for a sound mode with an empty library (then not
// even the pattern of mode 3 is written).
bool RandomizeKit(BandSynth& synth, Sequencer& sequencer, const std::vector<std::string>& library,
                  int32_t mode, uint32_t seed);
