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

  // Steps put off while nobody reads the envelope (see defer), and whether a further step of
  // that length and those settings is known to change nothing (sustain or end reached).
  int32_t deferred = 0;
  float deferredDt = 0.0f;
  const EnvelopeSettings* deferredSettings = nullptr;
  bool steady = false;
  bool restartPending = false;  // back to position 0 once the steps put off have run
  int32_t releaseAfter = -1;    // a note-off waiting after so many of the steps put off
  // A bound on the steps put off, so a late reader never waits for many of them at once: about
  // 0.7 s at 48 kHz, longer than most drum voices sound before they start again.
  static constexpr int32_t kMaxDeferred = 512;

  // Advances by dt seconds. One long step may cross several stages; output is the mean level
  // over the step (trapezoid rule per stage), or the level itself when dt is 0. A NaN or
  // enormous dt, or absurd settings, end the step after a bounded number of sub-steps.
  void advance(float dt, const EnvelopeSettings& s);
  // advance(dt, s), put off until settle: the record's fields are then stale. s is kept by
  // address; before its values change, settle(true). Steps of another length or other
  // settings make the record settle first.
  void defer(float dt, const EnvelopeSettings& s) {
    // The usual step: the same length and settings, nothing pending, room left.
    if (!restartPending && deferredSettings == &s && deferredDt == dt && deferred + 1 < kMaxDeferred) {
      if (!steady) ++deferred;
      return;
    }
    deferSlowly(dt, s);
  }
  // Runs the steps put off, in order; once a step changes nothing the rest would not either.
  // newSettings: the settings the steps were put off with are about to change.
  void settle(bool newSettings = false);
  // A restart at position 0 followed by a step: what came before it no longer counts, so the
  // steps put off go.
  void restart();
  // Back to position 0 (a note that starts again), after any steps put off.
  void retrigger();

  // Note-off: go to the release from the level held now (after the steps put off).
  void startRelease();

 private:
  void deferSlowly(float dt, const EnvelopeSettings& s);
  void release();
};

// The level at a position without advancing anything, for the editor's envelope display. The
// display draws the release from the sustain level.
float envelopeLevelAt(float position, const EnvelopeSettings& s);
