#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "engine/BandLayout.h"
#include "engine/DrumVoice.h"

// What a synth-track voice plays in one hop, from the "Synth" group and the voice's track.
struct PartialSettings {
  int32_t oscillator = 0;      // 0..11
  float stretch = 0.0f;        // -1..1
  float fundamentalHz = 0.0f;  // the glided pitch with bend and detune
  float lookupHz = 0.0f;       // the key-tracked frequency whose harmonics read the band frame
  float density = 0.0f;        // -1..1
  float unison = 10.0f;        // cents
};

// The voice pass's arithmetic: one hop of band values for one voice at a time. The work
// vectors are sized once per sample rate and reused by every voice, so a hop allocates
// nothing.
class VoiceBandSynth {
 public:
  static constexpr int32_t kBands = DrumVoiceSynth::kBands;

  // Sizes the work vectors for the layout's band count. Allocates.
  void prepare(const BandLayout& layout);

  // Drum voices: turns the three latest frames of the voice's ring into the voice's complex
  // band states (low bands, then high bins). firstHop starts the noise from the layout's noise
  // spectrum.
  void drumHop(const BandLayout& layout, DrumVoice& voice, float density, bool firstHop);

  // Synth-track voices: the partials of one hop, read from the middle of the three latest
  // frames. Returns their count; partialHz() and partialValues() hold them.
  int32_t partialHop(DrumVoice& voice, const PartialSettings& settings, float sampleRate, float unisonDraw);
  const float* partialHz() const { return mPartialHz.data(); }
  const std::complex<float>* partialValues() const { return mPartialValues.data(); }

 private:
  // Per band: frequency (cycles per hop), time offset, tonality, transience and their share.
  float mFrequency[kBands] = {};
  float mOffset[kBands] = {};
  float mTonal[kBands] = {};
  float mTransient[kBands] = {};
  float mShare[kBands] = {};
  // Per synthesis band or bin.
  std::vector<float> mAmplitude;
  std::vector<float> mMoved;
  std::vector<float> mTonalWeight;
  std::vector<float> mTransientWeight;
  std::vector<float> mNoiseAmount;
  std::vector<float> mBinFrequency;
  std::vector<float> mPhasorPower;
  std::vector<float> mPivots;
  std::vector<std::complex<float>> mPhasor;
  std::vector<float> mPartialHz;
  std::vector<std::complex<float>> mPartialValues;
};

// The shaping of a fresh band frame (82 values: guard, 80 bands, guard): the release fade and
// damping, the "Filter" low- or high-pass over the bands (filter -1..1), and the two guard
// values extrapolated from the end bands.
void shapeBandFrame(float* frame, float fade, float damping, float filter);
