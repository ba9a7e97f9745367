#pragma once

#include "effects/BassToMono.h"
#include "effects/DelayLine.h"
#include "effects/MultiDelay.h"
#include "effects/ResonantHighpass.h"
#include "engine/dsp/RampedFilter.h"

// A stereo reverb tank: two long lines read with a slow wobble, a damping tone filter, then
// twelve diffusing lines (rotations around allpasses) whose lengths grow geometrically, and
// back into the tank. Every delay in the loop loses the same level per sample, so the tail
// falls by the same number of decibels per second at any line length. After the loop a
// resonant high-pass and an optional mono-bass stage shape what is heard.
struct ReverbNetwork {
  static constexpr int kChunk = 64;
  static constexpr int kGroupLines = 6;
  static constexpr int kTankLength = 8256;
  static constexpr float kMaxPreDelayMs = 300.0f;

  // The network's settings.
  float preDelayMs = 5.0f;
  float decayTime = 1.0f;  // seconds to fall by about 30 dB
  float damping = 30.0f;   // darkness of the tone filter, percent
  float monoBass = 100.0f; // percent; 100 keeps the lows as they are
  float modDepth = 5.0f;   // tank wobble, 1.28 samples per unit
  float spare = 0.5f;      // kept with the settings, read nowhere
  float toneKHz = 2.0f;    // high-pass frequency
  float toneDamping = 50.0f;

  float sampleRate = 0.0f;
  DelayLine groupA[kGroupLines];  // rotations
  DelayLine groupB[kGroupLines];  // allpasses
  DelayLine tank[2];
  MultiDelay preDelay;
  float lfoPhase = 0.0f;
  ResonantHighpassState highpass;
  RampedFilter tone;
  float totalLength = 0.0f;     // samples: a tenth of a second plus the twelve lines
  float lineLengthSum = 0.0f;   // samples, before truncation
  BassToMonoState bass;

  // Sizes every line for `rate`: line i of the twelve gets base * ratio^i seconds. Allocates.
  void init(float rate, float baseSeconds, float ratio);
  // Silences every line and the pre-delay and restarts the wobble; filter states remain.
  void reset();
  void process(const float* const in[2], float* const out[2], int nFrames);

 private:
  void processChunk(const float* inL, const float* inR, float* outL, float* outR, int n,
                    float decayRate, float inputGain);
};
