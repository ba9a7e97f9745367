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

// The voice pass's arithmetic: one hop of band values per voice. Drum voices are worked side
// by side, each in its own lane of the vector arithmetic, eight to a register where the
// processor allows and four otherwise; a lane gives exactly what the same voice would give
// alone. The work space is sized once per sample rate and shared by every voice in turn, so a
// hop allocates nothing.
class VoiceBandSynth {
 public:
  static constexpr int32_t kBands = DrumVoiceSynth::kBands;
  // Voices worked at once: every voice of every track, so the independent chains of many
  // voices overlap in time.
  static constexpr int32_t kMaxVoices = 64;

  // Sizes the work space for the layout. Allocates.
  void prepare(const BandLayout& layout);

  // Drum voices (any count; more than kMaxVoices go in turns): turns the three latest frames
  // of each voice's ring into its complex band states (low bands, then high bins). firstHop[v]
  // starts voice v's noise from the layout's noise spectrum; density[v] is its "Density"
  // (-1..1).
  void drumHops(const BandLayout& layout, DrumVoice* const* voices, const float* density, const bool* firstHop,
                int32_t count);

  // Synth-track voices: the partials of one hop, read from the middle of the three latest
  // frames. Returns their count; partialHz() and partialValues() hold them.
  int32_t partialHop(DrumVoice& voice, const PartialSettings& settings, float sampleRate, float unisonDraw);
  const float* partialHz() const { return mPartialHz.data(); }
  const std::complex<float>* partialValues() const { return mPartialValues.data(); }

 private:
  void updateNoise(const BandLayout& layout, DrumVoice& voice, bool firstHop);
  // Up to kMaxVoices voices in lanes of the given width.
  void hops(const BandLayout& layout, DrumVoice* const* voices, const float* density, int32_t count, int32_t width);

  int32_t mStride = 0;  // entries per lane vector array: the band count rounded up to 4
  // Layout tables apart by component.
  std::vector<float> mCurve[3];
  std::vector<float> mRotationRe;
  std::vector<float> mRotationIm;
  std::vector<float> mNoiseGain;
  std::vector<float> mNoiseSpectrumRe;
  std::vector<float> mNoiseSpectrumIm;
  std::vector<int32_t> mHighBand;
  std::vector<float> mHighWeightLow;
  std::vector<float> mHighWeightHigh;
  std::vector<float> mHighPositionLow;
  std::vector<float> mHighPositionHigh;
  std::vector<float> mHighNorm;
  // Lane arrays for up to kMaxVoices voices.
  std::vector<float> mFrames[3];  // oldest, middle, newest
  std::vector<float> mSum;
  std::vector<float> mFrequency;  // per band
  std::vector<float> mOffset;
  std::vector<float> mTonal;
  std::vector<float> mTransient;
  std::vector<float> mShare;
  std::vector<float> mAmplitude;  // per synthesis band or bin
  std::vector<float> mMoved;
  std::vector<float> mEntryTonal;
  std::vector<float> mTonalWeight;
  std::vector<float> mTransientWeight;
  std::vector<float> mNoiseAmount;
  std::vector<float> mEntryFrequency;
  std::vector<float> mPhasorRe;
  std::vector<float> mPhasorIm;
  std::vector<float> mPhasorPower;
  std::vector<float> mStateRe;
  std::vector<float> mStateIm;
  std::vector<float> mNoiseRe;
  std::vector<float> mNoiseIm;
  std::vector<float> mPivots;
  std::vector<float> mPartialHz;
  std::vector<std::complex<float>> mPartialValues;
};

// The shaping of a fresh band frame (82 values: guard, 80 bands, guard): the release fade and
// damping, the "Filter" low- or high-pass over the bands (filter -1..1), and the two guard
// values extrapolated from the end bands.
void shapeBandFrame(float* frame, float fade, float damping, float filter);
