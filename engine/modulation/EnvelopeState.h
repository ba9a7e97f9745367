#pragma once

#include <cstdint>

class Param;

// The eight settings of one envelope, as effective values, in the order its parameters are
// declared: start level, attack time (ms), decay time (s), sustain level, release time (s) and
// the bends of the attack, decay and release segments (-1..1).
struct EnvelopeSettings {
  float initial = 0.2f;
  float attackMs = 10.0f;
  float decay = 0.3f;
  float sustain = 0.5f;
  float release = 0.2f;
  float attackShape = -0.5f;
  float decayShape = 0.3f;
  float releaseShape = 0.5f;

  // Reads the eight consecutive records that start at first.
  static EnvelopeSettings fromParams(const Param* first);
};

// Running state of one envelope. The position runs 0..1 through the attack, 1..2 through the
// decay, rests at 2 (sustain) until a note-off moves it to 3, runs 3..4 through the release
// and stays ended at 4 and above.
struct EnvelopeState {
  static constexpr float kReleaseStart = 3.0f;

  float position = 0.0f;
  float level = 0.0f;
  float output = 0.0f;  // mean level over the last step
  // The level held when the note-off came. The release fades from here, so a note released
  // during its attack or decay falls smoothly instead of jumping to the sustain level first.
  float releaseStartLevel = 0.0f;

  // Advances by dt seconds. One long step may cross several stages; output is the mean level
  // over the step (trapezoid rule per stage), or the level itself when dt is 0. A NaN or
  // enormous dt, or absurd settings, end the step after a bounded number of sub-steps.
  void advance(float dt, const EnvelopeSettings& s);

  // Note-off: go to the release from the level held now.
  void startRelease();
};

// The level at a position without advancing anything, for the editor's envelope display. The
// display draws the release from the sustain level.
float envelopeLevelAt(float position, const EnvelopeSettings& s);
