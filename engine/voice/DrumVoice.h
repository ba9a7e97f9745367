#pragma once

#include <cstdint>
#include <vector>

#include "engine/modulation/ModSourceState.h"
#include "engine/voice/DrumVoiceSynth.h"

// One voice of a drum track: the note it plays, the modulation sources that run per voice, and
// the rendering state of the voice pass: its position, its release, the last band frames the
// renderer produced and a complex state per synthesis band.
struct DrumVoice {
  static constexpr int32_t kPartialCount = 512;
  enum State : int32_t { kIdle = 0, kHeld = 1, kReleased = 2 };
  static constexpr int32_t kFrameRing = 4;
  // A band frame: one guard value, the 80 bands, one guard value; rows padded to a multiple of
  // four values.
  static constexpr int32_t kFrameSize = 82;
  static constexpr int32_t kFrameStride = 84;

  float velocity = 0.0f;      // 0..1
  float polyPressure = 0.0f;  // polyphonic pressure 0..1
  ModSourceState sources;     // the voice's own envelopes, LFOs and noises
  int32_t note = 0;
  int32_t channel = 0;
  int32_t track = -1;  // -1: free
  // The partial phase tables of the synth track's oscillator.
  float partialPhases[2][kPartialCount] = {};

  float elapsed = 0.0f;          // seconds since the note started
  float releaseProgress = 0.0f;  // grows while released; the voice ends above 1
  float damping = 0.0f;          // accumulated damping of the high bands
  int32_t state = kIdle;
  int32_t newNote = 0;  // 1 until the next control pass has started the renderer
  float pitch = 0.0f;   // the synth track's gliding note number
  uint32_t seed = 0;    // the voice's own noise generator
  // The velocity after the track's velocity curve, as the note was started with.
  float curvedVelocity = 0.0f;

  DrumVoiceSynth renderer;
  int32_t fillCount = 0;  // frames in the ring, at most 4
  int32_t ringIndex = 0;  // where the next frame goes
  float frames[kFrameRing][kFrameStride] = {};
  // Per synthesis band (low bands, then high bins), real and imaginary parts apart: the band's
  // running state and its noise. Sized to the band count rounded up to a multiple of 4.
  std::vector<float> stateRe;
  std::vector<float> stateIm;
  std::vector<float> noiseRe;
  std::vector<float> noiseIm;
  // Set by clearSpectra: copies of the band states kept elsewhere (the voice pass's lanes) are
  // to be cleared too.
  bool statesCleared = true;

  // Room for n bands, all zero.
  void sizeSpectra(int32_t n);
  // Zeroes both band state vectors.
  void clearSpectra();
  // Silent and free for a new note: the running values, the frame ring, the envelopes and the
  // band states back to 0. The note, its seed and the pitch stay.
  void goIdle();
  // The note-off: every envelope releases from the level it holds now.
  void release();
};
