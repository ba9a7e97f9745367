#pragma once

#include <string>

#include "tools/oskra-render/Song.h"

namespace oskrarender {

// Reads a Standard MIDI File (format 0 or 1, any number of tracks, ticks per quarter note or
// SMPTE time) into a song: the channel messages of every track at their times in seconds,
// through the file's tempo map (120 BPM until the first tempo event). System exclusive and meta
// events other than tempo are skipped. False, with a reason in `error` that names the file and
// the byte where reading stopped, for anything that is not a complete MIDI file; the song is
// then left as it was.
bool ReadMidiFile(const std::string& path, Song& song, std::string& error);

}  // namespace oskrarender
