#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/DrumTrack.h"
#include "engine/FxSlot.h"
#include "engine/blob/Blob.h"
#include "engine/core/Param.h"
#include "engine/core/PointCurve.h"
#include "engine/modulation/ModMatrix.h"
#include "engine/modulation/ModSourceState.h"
#include "engine/voice/BandLayout.h"
#include "engine/voice/VoiceBandSynth.h"

// Positions of a parameter within its group member.
namespace TrackParam {
enum : int32_t {
  kAmp = 0,
  kPan,
  kFilter,
  kClip,
  kSend1,
  kSend2,
  kOutput,
  kWidth,
  kTimescale,
  kFrequency,
  kContrast,
  kTransform,
  kModel,
  kDynamics,
  kDensity,
  kSeedMode,
  kSeed,
  kPolyphony,
  kRelease,
  kDamping,
  kCount
};
}

namespace GlobalParam {
enum : int32_t { kAmp = 0, kTimescale, kFrequency, kContrast, kTransform, kDensity, kCount };
}

namespace SlotParam {
enum : int32_t { kPower = 0, kType, kEffect0, kEffect1, kCount };
}

namespace SynthParam {
enum : int32_t {
  kSynthTrack = 0,
  kOscillator,
  kStretch,
  kUnison,
  kKeyTrack,
  kSustainPos,
  kLegato,
  kGlideTime,
  kDetune,
  kPitchbendDown,
  kPitchbendUp,
  kCount
};
}

// The sound engine: eight drum tracks with eight voices each, every engine parameter, the
// modulation matrix and its sources, the four effect slots and the MIDI controller state.
//
// Its work is spread over files by concern: BandSynthParams (the parameter set),
// BandSynthNotes (a note picks a track and a voice), BandSynthVoices (the voice pass, where
// voices become band values), BandSynthRender (prepare and processBlock: control passes, track
// audio, sends and effect slots), BandSynthModulation, BandSynthState (the saved block),
// BandSynthBlobLoad (".blob" files into a slot) and EffectTypeSync (effects installed when a
// slot's "Type" changes, edited blobs handed to the audio side).
class BandSynth {
 public:
  static constexpr int32_t kTrackCount = 8;
  static constexpr int32_t kParamCount = 281;
  static constexpr int32_t kStateVersion = 4;
  static constexpr int32_t kSlotCount = 4;
  static constexpr int32_t kChannelCount = 16;

  // Parameter groups, in index order, and where each starts.
  enum Group : int32_t { kTracks = 0, kGlobal, kEnvelopes, kLfos, kModRows, kSlots, kSynth, kGroupCount };
  static constexpr int32_t kTrackParamsStart = 0;
  static constexpr int32_t kGlobalParamsStart = 160;
  static constexpr int32_t kEnvParamsStart = 166;
  static constexpr int32_t kLfoParamsStart = 198;
  static constexpr int32_t kRowParamsStart = 222;
  static constexpr int32_t kSlotParamsStart = 254;
  static constexpr int32_t kSynthParamsStart = 270;

  static constexpr int32_t trackParam(int32_t track, int32_t k) { return kTrackParamsStart + 20 * track + k; }
  static constexpr int32_t globalParam(int32_t k) { return kGlobalParamsStart + k; }
  static constexpr int32_t envParam(int32_t env, int32_t k) { return kEnvParamsStart + 8 * env + k; }
  static constexpr int32_t lfoParam(int32_t lfo, int32_t k) { return kLfoParamsStart + 6 * lfo + k; }
  static constexpr int32_t rowParam(int32_t row, int32_t k) { return kRowParamsStart + 4 * row + k; }
  static constexpr int32_t slotParam(int32_t slot, int32_t k) { return kSlotParamsStart + 4 * slot + k; }
  static constexpr int32_t synthParam(int32_t k) { return kSynthParamsStart + k; }

  // The track parameter each "Global" parameter drives, in "Global" order.
  static constexpr int32_t kGlobalToTrack[GlobalParam::kCount] = {
      TrackParam::kAmp,     TrackParam::kTimescale, TrackParam::kFrequency,
      TrackParam::kContrast, TrackParam::kTransform, TrackParam::kDensity};

  // Controller record of one MIDI channel.
  enum Controller : int32_t { kPitchBend = 0, kModWheel = 1, kSustain = 2, kChannelPressure = 3 };

  DrumTrack tracks[kTrackCount];
  // Per group, the index of each member's first parameter; the last entry holds the count.
  std::vector<std::vector<int32_t>> paramGroups;
  int16_t muteMask = 0;
  int16_t soloTrack = -1;
  std::vector<Param> params;
  // The parameters declared as modulation targets, in index order.
  std::vector<int32_t> modTargets;
  std::vector<PointCurve> lfoShapes;
  ModMatrix modMatrix;  // holds the tempo and exposedParams
  ModSourceState globalSources;
  std::vector<int32_t> trackModParams[kTrackCount];
  std::vector<int32_t> sharedModParams;
  FxSlot sendSlots[2];
  FxSlot mainSlots[2];
  std::string blobFolder;
  uint8_t keepFxParams = 0;  // 1 while an effect switch must keep the slot's two values
  float controllers[kChannelCount][4] = {};

  float sampleRate = 0.0f;  // 0 until the engine is prepared
  bool meteringOn = false;
  bool effectsReady = true;

  // Rendering. Voices, LFOs and modulation run once per control period of 64 frames, on a
  // countdown that carries over from one call to the next however the host cuts its blocks.
  static constexpr int32_t kControlPeriod = 64;
  static constexpr int32_t kMaxOutputChannels = 18;
  static constexpr float kMinSampleRate = 8000.0f;
  static constexpr float kMaxSampleRate = 768000.0f;
  double tempo = 120.0;          // BPM; modMatrix.tempo holds a float copy
  double beatPosition = -100.0;  // host position in quarter notes, read while playing
  bool playing = false;
  BandLayout bands;
  int32_t controlCountdown = 0;  // frames left before the next control pass
  int32_t renderCalls = 0;
  int32_t renderedFrames = 0;
  int64_t sampleCounter = 0;
  float outputMeter[kMaxOutputChannels] = {};
  int32_t lastTrack = 0;

  BandSynth();
  ~BandSynth();
  BandSynth(const BandSynth&) = delete;
  BandSynth& operator=(const BandSynth&) = delete;

  // The parameters a modulation row can target, in the order of the rows' "Target" values.
  const std::vector<int32_t>& exposedParams() const { return modMatrix.exposedParams; }
  // Slot 0, 1: the sends; 2, 3: the main bus.
  FxSlot& slot(int32_t s) { return s < 2 ? sendSlots[s] : mainSlots[s - 2]; }
  const FxSlot& slot(int32_t s) const { return s < 2 ? sendSlots[s] : mainSlots[s - 2]; }

  // Whether track t is heard: the solo track alone when one is set, else every unmuted track.
  bool isTrackAudible(int32_t track) const;

  // Editor's periodic update: installs the effect a slot's "Type" asks for once the slot is
  // silent, and hands changed blobs over to the audio side. An installation declares the slot's
  // records anew, which the audio side reads in every pass: it is made only with audioPaused,
  // which says that no block renders meanwhile (a caller on the thread that renders, or one
  // that holds the audio side between blocks). The hand-over works either way.
  void updateEffectTypes(bool audioPaused = true);
  // Whether updateEffectTypes(true) would install an effect now.
  bool effectSwitchDue() const;

  // Copies two blobs (a track's slots A and B) with their names into another pair, for the
  // main object's undo and preset copies and back.
  static void copyTrackBlobs(const Blob (&source)[2], Blob (&destination)[2]);

  // Once per control pass, before the tracks render: clears the modulation of every exposed
  // parameter, applies the global routes and spreads the "Global" group to the tracks.
  void applyGlobalModulation();
  // Per sounding voice: the voice's own routes onto its track's parameters and the shared ones.
  void applyVoiceModulation(const DrumVoice& voice);

  // Sets every rate-dependent table up, replaces the track synthesisers, tells the installed
  // effects the rate and ends with resetVoices(seed). Rates outside kMinSampleRate ..
  // kMaxSampleRate are ignored. Allocates: never on the audio thread.
  void prepare(float rate, int32_t seed);
  // Renders nFrames frames into outputs[c][startFrame ..] for c < nOutputChannels (at most
  // 18 are written): the tracks, the synth track, the sends, the buses and the effect slots.
  // Allocates nothing, locks nothing.
  void processBlock(float** outputs, int32_t nFrames, int32_t nOutputChannels, int32_t startFrame);

  // A note on (velocity above 0) or off. A note off with a negative channel matches every
  // channel. frameOffset is not used: the caller cuts its block at the event.
  void processNote(int32_t note, float velocity, int32_t frameOffset, int32_t channel);
  // Every voice idle, voice v of track t seeded with the (8t + v)-th state of the generator
  // sequence that starts at seed.
  void resetVoices(uint32_t seed);
  // id 0: pitch bend (-1..1), 1: channel pressure, 1001: mod wheel; other ids are ignored.
  void setController(int32_t id, float value, int32_t channel);
  void setPolyPressure(float pressure, int32_t note, int32_t channel);
  // The track a note goes to, or -1 when it reaches none.
  int32_t trackForNote(int32_t note) const;
  // The chosen synth track, or -1 for none.
  int32_t synthTrack() const;

  // The voice pass's arithmetic, for inspection: a drum voice v of track t works in lane
  // 8t + v.
  const VoiceBandSynth& voiceBands() const { return mVoiceBands; }

  // Loads blobFolder + name (".blob" added when missing) into slot 0 (A) or 1 (B) of a track.
  // Anything but a complete blob file leaves the slot as it was.
  void loadBlob(int32_t track, int32_t slot, const std::string& name);

  // The engine state block. serialize with a null buffer measures. Both return byte counts.
  int32_t serialize(uint8_t* buffer, int32_t size) const;
  int32_t deserialize(const uint8_t* buffer, int32_t size);

 private:
  void declareParams();
  void buildIndexLists();
  // Declares a slot's two effect parameters as effect type `type` of its list declares them.
  void declareEffectParams(int32_t slot, int32_t type);
  float scalerValue(const DrumVoice& voice, int32_t scaler) const;
  float paramValue(int32_t index) const { return params[static_cast<size_t>(index)].effectiveValue(); }
  float trackValue(int32_t track, int32_t k) const { return paramValue(trackParam(track, k)); }
  // The tracks' audio for the next n frames in three steps: every synthesiser's output through
  // its track's clip, the pan and width stages of all sounding tracks at once, and each
  // track's mix into its output bus and the sends.
  void readTrackAudio(float** outputs, int32_t nOutputChannels, int32_t n);
  void panTrackAudio(int32_t n);
  void mixTrackAudio(int32_t track, float** outputs, int32_t pos);
  // The voice pass in two steps: every track's voices render their band frames (in track
  // order, as the modulation and the shared generators require), then the band values of all
  // drum voices of all tracks are made at once and each track's synthesiser takes its hop.
  void collectVoices(int32_t track, int32_t synth);
  void finishVoicePass();
  // Everything of one voice's hop up to its band frames; the synth path completes the hop. True
  // when a drum hop is still to be made, with its density and whether it is the note's first.
  bool renderVoice(DrumTrack& track, int32_t t, DrumVoice& voice, int32_t synth, bool presentA, bool presentB,
                   float& hopDensity, bool& hopFirst);
  void startVoice(DrumTrack& track, int32_t t, DrumVoice& voice, int32_t synth, int32_t model, const Blob* blobA,
                  const Blob* blobB, float weightB);
  void renderPartials(DrumTrack& track, DrumVoice& voice, float density);
  // After a voice's hop: its age, and its end once released or faded away.
  void endHop(DrumVoice& voice);
  void runEffectSlots(float** outputs, int32_t nOutputChannels, int32_t pos, int32_t n);
  // What every voice of a control pass shares, read once before the first: the per-voice
  // routes and the step of the modulation sources. The rows and the sources' settings are no
  // modulation targets, so no voice changes them for the next.
  void beginVoicePass();
  void applyVoiceModulation(const DrumVoice& voice, const ModRoute* routes, int32_t routeCount);

  ModRoute mVoiceRoutes[ModMatrix::kMaxRows];
  int32_t mVoiceRouteCount = 0;
  ModMatrix::StepSettings mVoiceStep;
  bool mVoiceEnvelopesRead = false;
  // Per parameter, who may move it with a voice's offset: a track (0 .. 7), every voice
  // (kSharedOwner) or nobody (kNoOwner). The parameters that may carry an offset are listed, so
  // a voice clears the last ones' offsets without looking at every parameter it could move.
  static constexpr int8_t kSharedOwner = -2;
  static constexpr int8_t kNoOwner = -1;
  int8_t mModOwner[kParamCount] = {};
  int32_t mVoiceTouched[kParamCount] = {};
  bool mVoiceListed[kParamCount] = {};
  int32_t mVoiceTouchedCount = 0;

  // The effect type whose ranges each slot's two effect records carry.
  int32_t mEffectParamTypes[kSlotCount] = {-1, -1, -1, -1};

  VoiceBandSynth mVoiceBands;
  // The drum voices of this control pass that wait for their band values, track by track.
  static constexpr int32_t kMaxPending = kTrackCount * DrumTrack::kVoiceCount;
  DrumVoice* mPending[kMaxPending] = {};
  float mPendingDensity[kMaxPending] = {};
  bool mPendingFirstHop[kMaxPending] = {};
  int32_t mPendingLane[kMaxPending] = {};
  int32_t mPendingCount = 0;
  // Per track in this control pass: whether its voice pass ran, the voices it visited, and
  // where its drum voices start in mPending.
  struct TrackPass {
    bool active = false;
    int32_t visited = 0;
    int32_t firstPending = 0;
    int32_t pendingCount = 0;
  };
  TrackPass mTrackPass[kTrackCount];
  // What all the additions of a track's running band sums come to (low bands, then high bins).
  std::vector<std::complex<float>> mHopTotal;
  // Each track's audio of the current stretch: mono, then left and right, and how it is mixed.
  struct TrackAudio {
    float mono[kControlPeriod] = {};
    float left[kControlPeriod] = {};
    float right[kControlPeriod] = {};
    bool sounding = false;
    int32_t bus = 0;
    int32_t frames = 0;
    float gain = 0.0f;
    float pan = 0.0f;
    float width = 0.0f;
  };
  TrackAudio mTrackAudio[kTrackCount];
  // The inputs of the two send slots: left 64, then right 64.
  float mSendBus[2][2 * kControlPeriod] = {};
};
