#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "engine/voice/BandLayout.h"
#include "engine/voice/DrumVoice.h"

struct BandHopTables;

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
// by side, each in its own lane of the vector arithmetic, up to sixteen to a register where the
// processor allows and four otherwise; a lane gives exactly what the same voice would give
// alone. A voice alone has its entries side by side instead, with the same arithmetic. The
// work space is sized once per sample rate, so a hop allocates nothing.
class VoiceBandSynth {
 public:
  static constexpr int32_t kBands = DrumVoiceSynth::kBands;
  // Lanes: every voice of every track, so the independent chains of many voices overlap in
  // time.
  static constexpr int32_t kMaxVoices = 64;
  static constexpr int32_t kLaneArrayStride = 216 * kMaxVoices + 16;  // bandhop::kArrayStride

  // Sizes the work space for the layout. Allocates.
  void prepare(const BandLayout& layout);

  // Drum voices (any count; more than kMaxVoices go in turns): turns the three latest frames
  // of each voice's ring into its complex band states (low bands, then high bins), read from
  // and written back to the voice. firstHop[v] starts voice v's noise from the layout's noise
  // spectrum; density[v] is its "Density" (-1..1).
  void drumHops(const BandLayout& layout, DrumVoice* const* voices, const float* density, const bool* firstHop,
                int32_t count);

  // The same for at most kMaxVoices voices that keep their band states here between hops,
  // voice v in lane lanes[v] (0 .. kMaxVoices - 1, one voice per lane, the same every hop): the
  // voices' own state and noise vectors are read only when a voice comes to a lane, and cleared states
  // (DrumVoice::clearSpectra) start from zero. A voice whose lane is worked on without it
  // keeps its states. Called once per control pass, even without voices: a voice's frames
  // are taken over from the last hop only when it was in that hop. runningSums reads the
  // results.
  void laneHops(const BandLayout& layout, DrumVoice* const* voices, const int32_t* lanes, const float* density,
                const bool* firstHop, int32_t count);
  // After laneHops, per synthesis entry e < n: in the order of `lanes`, each voice's state
  // joins a running sum, and the sum as it stands counts once after every voice and once more
  // after the last; total[e] is what all of these come to (0 for no voices).
  void runningSums(const int32_t* lanes, int32_t count, int32_t n, std::complex<float>* total) const;
  // After laneHops, for inspection: the band state and the noise state of a lane at a
  // synthesis entry.
  std::complex<float> laneState(int32_t lane, int32_t entry) const { return laneValue(lane, entry, 0); }
  std::complex<float> laneNoise(int32_t lane, int32_t entry) const { return laneValue(lane, entry, 2); }

  // Synth-track voices: the partials of one hop, read from the middle of the three latest
  // frames. Returns their count; partialHz() and partialValues() hold them.
  int32_t partialHop(DrumVoice& voice, const PartialSettings& settings, float sampleRate, float unisonDraw);
  const float* partialHz() const { return mPartialHz.data(); }
  const std::complex<float>* partialValues() const { return mPartialValues.data(); }

 private:
  bool readyFor(const BandLayout& layout, DrumVoice* const* voices, int32_t count) const;
  std::complex<float> laneValue(int32_t lane, int32_t entry, int32_t array) const;
  // A voice alone, with its entries side by side; its states and noise end up in the voice
  // and in mSingleState, and mSingleLane names its lane until the next hop.
  void singleHop(const BandLayout& layout, DrumVoice& voice, int32_t lane, float density, bool firstHop);
  BandHopTables hopTables(const BandLayout& layout) const;
  // Every call of laneHops ends a hop, with or without voices: the frame ring turns.
  void endHop();
  // Up to kMaxVoices voices in the given lanes; statesInVoices reads the states from the voices
  // and writes them back.
  void hops(const BandLayout& layout, DrumVoice* const* voices, const int32_t* lanes, const float* density,
            const bool* firstHop, int32_t count, bool statesInVoices);

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
  // Lane arrays, kMaxVoices lanes per value, in one block (bandhop::LaneArray). The frames are
  // a ring of three (the oldest at mOldestFrame); the states stay from hop to hop.
  // The block starts on a cache line (it has a line's room for that), so that no load of a
  // group of lanes spans two lines.
  static constexpr size_t kLineFloats = 16;
  std::vector<float> mLaneBlock;
  // Floats from the block's allocation to its first line boundary.
  size_t laneBlockLead() const {
    constexpr size_t kLine = kLineFloats * sizeof(float);
    return (kLine - reinterpret_cast<uintptr_t>(mLaneBlock.data()) % kLine) % kLine / sizeof(float);
  }
  float* laneBlock() { return mLaneBlock.data() + laneBlockLead(); }
  const float* laneBlock() const { return mLaneBlock.data() + laneBlockLead(); }
  float* laneArray(int32_t array) { return laneBlock() + static_cast<size_t>(array) * kLaneArrayStride; }
  const float* laneArray(int32_t array) const {
    return laneBlock() + static_cast<size_t>(array) * kLaneArrayStride;
  }
  int32_t mOldestFrame = 0;
  // Per lane: the voice whose states it holds (null: none, or not kept), the hop that last
  // wrote its frames, and the voice's density and tonal scale.
  const DrumVoice* mLaneVoice[kMaxVoices] = {};
  uint32_t mLaneFramesHop[kMaxVoices] = {};
  float mLaneDensity[kMaxVoices] = {};
  float mLaneTonalScale[kMaxVoices] = {};
  float mLaneFirstHop[kMaxVoices] = {};
  uint32_t mHopCount = 1;
  // The states of lanes worked on without their voices, kept aside meanwhile.
  std::vector<float> mKeptRe;
  std::vector<float> mKeptIm;
  std::vector<float> mKeptNoiseRe;
  std::vector<float> mKeptNoiseIm;
  // A voice alone: its states and noise while it is worked on, and work space; rows of
  // mSingleStride floats.
  int32_t mSingleStride = 0;
  int32_t mSingleLane = -1;
  std::vector<float> mSingleState[4];
  std::vector<float> mSingleScratch;
  std::vector<float> mPartialHz;
  std::vector<std::complex<float>> mPartialValues;
};

// The shaping of a fresh band frame (82 values: guard, 80 bands, guard): the release fade and
// damping, the "Filter" low- or high-pass over the bands (filter -1..1), and the two guard
// values extrapolated from the end bands.
void shapeBandFrame(float* frame, float fade, float damping, float filter);
