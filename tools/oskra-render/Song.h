#pragma once

#include <cstdint>
#include <vector>

// What the renderer plays: MIDI channel messages at times in seconds, and the tempo map that
// turns those times into the musical positions a host reports to a plug-in.
namespace oskrarender {

struct SongEvent {
  double seconds = 0.0;
  uint8_t status = 0;  // channel message: kind in the high nibble, channel in the low one
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

// A tempo that holds from `seconds` (and the quarter-note position `quarters`) on.
struct TempoPoint {
  double seconds = 0.0;
  double quarters = 0.0;
  double bpm = 120.0;
};

struct Song {
  std::vector<SongEvent> events;  // in time order; at equal times note-offs come first
  std::vector<TempoPoint> tempo;  // in time order, the first at 0 s; never empty once built

  // The tempo in force at a time, and the position in quarter notes there.
  double bpmAt(double seconds) const;
  double quartersAt(double seconds) const;
  // The time of the last event, 0 for a song without events.
  double endSeconds() const;
  // Orders the events by time, note-offs (and note-ons of velocity 0) before the other messages
  // of the same time, keeping the order of equal ones; a new note on the same key then never
  // has its release cut by the old note's off.
  void sortEvents();
};

}  // namespace oskrarender
