#pragma once

#include <string>

class Sequencer;

// Writes the sequencer's pattern, humanised and swung as it plays, as a Standard MIDI File
// (format 0, one track, 4096 ticks per quarter note) to the export path, making missing
// folders, and returns that path; "" when the file could not be written, so a caller never
// hands on a stale or missing file. Every export draws the looseness afresh. Never throws.
std::string ExportMidiFile(const Sequencer& sequencer);
