#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/BandSynth.h"
#include "engine/blob/Blob.h"
#include "engine/core/Param.h"
#include "engine/sequencer/Sequencer.h"
#include "gui/StyleOwner.h"
#include "plugin/files/UserSettings.h"
#include "plugin/framework/IMidiQueue.h"
#include "plugin/vst3/IPlugVST3.h"

class FennrakeGUI;

namespace Steinberg {
class FUnknown;
}

namespace fennrake_detail {
// Holds the instance lock from before the plug-in's members exist until its constructor has
// finished, so the idle timer (running since the framework base was made) never reaches a
// half-built object.
class ConstructionHold {
 protected:
  explicit ConstructionHold(std::recursive_mutex& lock) : mHold(lock) {}
  void EndConstruction() { mHold.unlock(); }

 private:
  std::unique_lock<std::recursive_mutex> mHold;
};
}  // namespace fennrake_detail

// The instrument a host instantiates: framework plug-in (processor and controller in one), the
// editor's theme owner and the listener of every engine parameter. It owns the engine, the step
// sequencer, the queue of host MIDI for the audio thread, the list of sounds waiting to be
// imported, the undo history of the selected track's sounds, the user settings and the preset
// name.
//
// Threads: ProcessBlock and ProcessMidiMsg run on the audio thread, which never waits for a lock.
// Everything else that reads or changes the engine's sounds, the pattern, the undo history or
// the load list runs under the instance lock (InstanceLock()): the host calls through the
// binding, the idle timer, and the operations below, which take it themselves.
//
// A load (a state, a preset, an undo step, a sound put on a track, the randomiser, a new rate,
// an effect installed in a slot) replaces what a block reads, so it never runs while a block
// renders: it holds the load lock (LoadHold) for its whole length, after the instance lock.
// The audio thread only tries that lock: at the start of a block, for the host's automation and
// for a reset at the same rate. When a load holds it, or waits for it, the block is silent (host
// MIDI stays queued), automation and resets wait for the next block that renders, and what the
// load brought plays from that block on. A load therefore waits at most for the block in
// progress. Saving the state takes
// no load lock: the values the audio thread moves are read and written whole, so saving never
// silences a block.
class Fennrake : public iplug::IPlugVST3,
                 private fennrake_detail::ConstructionHold,
                 public StyleOwner,
                 public Param::Listener {
 public:
  // One host parameter per engine modulation target, in index order; host tags follow it.
  static constexpr int kNumHostParams = 117;
  static constexpr int kNumUndoSnapshots = 89;  // the current state and 88 steps back
  static constexpr int kSequencerLanes = 8;
  static constexpr int kSequencerSteps = 16;
  static constexpr int kReservedNotes = 32;
  static constexpr int kMidiQueueSize = 512;
  static constexpr int kMessageSize = 512;
  static constexpr int kEditorWidth = 792;
  static constexpr int kEditorHeight = 602;
  static constexpr int kEditorFps = 60;
  static constexpr int kRootControlTag = 0;
  static constexpr int kFirstSequencerNote = 36;
  static constexpr int kStateVersion = 0x20000;
  // The four-character codes 'Oskr' and 'TK27' read as big-endian numbers.
  static constexpr uint32_t kPluginCode = 0x4F736B72;
  static constexpr uint32_t kMakerCode = 0x544B3237;

  // The instance factory of the module's class: never lets an exception out, null on failure.
  static Steinberg::FUnknown* MakePlug(void* context);

  Fennrake();

  // Framework overrides.
  void OnParamChange(int paramIdx, iplug::EParamSource source, int sampleOffset) override;
  void OnParamChangeUI(int paramIdx, iplug::EParamSource source) override;
  void OnMidiMsgUI(const iplug::IMidiMsg& msg) override;
  iplug::igraphics::IGraphics* CreateGraphics() override;
  void LayoutUI(iplug::igraphics::IGraphics* graphics) override;
  bool SerializeState(iplug::IByteChunk& chunk) override;
  // The position after the state, -1 when the chunk was refused (nothing changed then).
  int UnserializeState(const iplug::IByteChunk& chunk, int startPos) override;
  void OnIdle() override;
  void ProcessBlock(float** inputs, float** outputs, int nFrames) override;
  void ProcessMidiMsg(const iplug::IMidiMsg& msg) override;
  void OnReset() override;
  void OnBypassedBlock(int nFrames) override;
  void GetBusName(iplug::ERoute direction, int busIdx, int nBuses, WDL_String& str) const override;
  void paramChanged(Param* param) override;

  // A new sample rate prepares the engine (and the very first one loads the start preset); the
  // same rate only silences the voices.
  void Reset(float sampleRate);

  // v >= 0 sets the play state, v < 0 toggles it; the sequencer restarts from step 0 in the next
  // block. Returns the new state.
  int SetSequencerPlaying(int v);
  // The user's settings: the value of key ("" when not set), with reload the file read first;
  // setting a value writes every key to the file.
  std::string GetUserSetting(std::string key, bool reload) { return mUserSettings.Get(key, reload); }
  void SetUserSetting(std::string key, std::string value) { mUserSettings.Set(std::move(key), std::move(value)); }
  // Mirrors the slots of the selected track the morph currently lets be heard.
  void MirrorSelectedBlobs(int axis);

  // Undo history of the selected track's two sounds.
  void PushUndoState(bool clearHistory);
  // direction < 0: steps that can be undone; > 0: steps that can be redone; 0: -1.
  int GetUndoCount(int direction) const;
  // steps < 0 undoes, > 0 redoes; ignored beyond what GetUndoCount allows.
  void Undo(int steps);

  // The editor's root control while the editor is open, else null.
  FennrakeGUI* GetGUI() const;
  void RefreshGUI();

  // Saved state: the same bytes as a preset file.
  // The bytes the state needs; writes only what fits in size (nothing with a null buffer).
  int WriteState(uint8_t* buffer, int size);
  // The position after the chunk; 0 when refused, with a message and nothing changed.
  int ReadState(const uint8_t* data, int size);
  // True when the file held exactly one chunk and it loaded; the preset then takes the file's
  // name. Anything else changes nothing. "Host Sync" is never taken from a preset.
  bool LoadPresetFile(const std::string& path);
  // Saves under the file's name, unmodified. False (name and modified mark as they were, and
  // any earlier file of that name whole) when the file could not be written.
  bool SavePresetFile(const std::string& path);
  // Edited since the last load or save (shown as "*" after the preset name).
  bool IsModified() const;

  // The pending message for the user (at most kMessageSize - 1 bytes are kept).
  void ShowMessage(const std::string& text);
  // Takes the pending message, if any, leaving none pending.
  bool TakeMessage(std::string& text);

  // The support text with this instance's audio set-up.
  std::string GetProductInfoText() const;

  // Sound library (the bodies live in FennrakeLibrary.cpp).
  void ImportSamples(const std::vector<std::string>& paths, int slot);
  bool ImportSoundFile(const std::string& folder, const std::string& fileName, int slot);
  bool SaveSoundFile(const Blob& blob, const std::string& name, bool isPath);
  void Randomize(int mode);

  // Holds the load lock for as long as it lives (recursively, so loads may nest). Take the
  // instance lock first.
  class LoadHold {
   public:
    explicit LoadHold(Fennrake& plug);
    ~LoadHold();
    LoadHold(const LoadHold&) = delete;
    LoadHold& operator=(const LoadHold&) = delete;

   private:
    Fennrake& mPlug;
  };

  struct LoadQueueEntry {
    std::string name;
    std::string folder;
  };
  // A track's two sounds, slot A and slot B, with their names.
  struct UndoSnapshot {
    Blob blobs[2];
  };

  std::string mPresetName;
  std::atomic<int32_t> mStateLoadCount{0};
  std::atomic<int32_t> mSeqPlaying{0};
  std::atomic<int32_t> mSeqStarted{0};
  int32_t mLastHostTransport = 0;  // audio thread only; -1 while "Host Sync" is off
  BandSynth mBandSynth;
  Sequencer mSequencer{kSequencerLanes, kSequencerSteps, kReservedNotes};
  std::vector<LoadQueueEntry> mLoadQueue;
  std::atomic<int32_t> mLoadQueueIndex{-1};
  char mStatusText[kMessageSize] = {};
  double mStatusTime = -1e9;
  char mMessage[kMessageSize] = {};
  double mMessageTime = -1e9;
  UserSettings mUserSettings;
  std::atomic<float> mSampleRate{0.0f};
  int32_t mSelectedTrack = 0;
  std::atomic<int32_t> mLastBlockSize{-1};
  std::atomic<int32_t> mOutputChannels{-1};
  std::atomic<int32_t> mChangeCount{0};
  uint32_t mSeqChangeMark = 0xFFFFFFFFu;  // a fresh instance counts as modified
  std::vector<UndoSnapshot> mUndoRing;
  int32_t mUndoPos = 0;
  int32_t mUndoTop = 0;
  iplug::IMidiQueue mMidiQueue{kMidiQueueSize, kMidiQueueSize};

 protected:
  // Destroyed by its last release.
  ~Fennrake() override;

 private:
  Param& EngineParamForHost(int paramIdx) {
    return mBandSynth.params[static_cast<size_t>(mBandSynth.modTargets[static_cast<size_t>(paramIdx)])];
  }
  bool IsHostParam(int paramIdx) const {
    return paramIdx >= 0 && paramIdx < NParams() && paramIdx < static_cast<int>(mBandSynth.modTargets.size());
  }
  void DeclareHostParams();
  void LoadStartPreset();
  // Installs the effects the slots ask for (once a slot is silent) and hands changed sounds to
  // the audio side. The idle timer does it, and so does everything that replaces the sounds
  // for the host: a restored state or a new rate must sound from the next block on, not from
  // whenever the timer next runs, or a render straight after a restore would play the old kit.
  // audioPaused: the caller holds the load lock.
  void HandOverToAudio(bool audioPaused);
  // The host parameter's value into its engine record.
  void ApplyHostParam(int paramIdx);
  // Host automation that came while a load held the load lock, for the next block that renders.
  void SetHostParamPending(int paramIdx);
  void TakePendingHostParams();
  // Silence in every output channel; the queued MIDI waits, aged by the block.
  void SilenceBlock(float** outputs, int channels, int frames);

  // Block processing.
  void HandleMidiMsg(const iplug::IMidiMsg& msg, int subBlockStart);
  bool HandleTransportKey(const iplug::IMidiMsg& msg);

  // State reading: a chunk is refused unless it ends within size (exactly at size with
  // requireWhole). ReadChunk does the work; ReadStateChecked keeps its exceptions in.
  int ReadStateChecked(const uint8_t* data, int size, bool requireWhole);
  int ReadChunk(const uint8_t* data, int size, bool requireWhole);
  // Engine block, host parameters, selected track and sequencer block from pos; the position
  // after the sequencer block, beyond size when the data ran out.
  int32_t ReadBlocks(const uint8_t* data, int32_t size, int32_t pos, int32_t version);
  // The engine and sequencer blocks as they stand, for putting back after a refused read.
  std::vector<uint8_t> CurrentBlocks() const;
  std::vector<uint8_t> StateBytes();

  // Set for as long as it lives, however the scope is left.
  class FlagHold {
   public:
    explicit FlagHold(std::atomic<bool>& flag) : mFlag(flag) { mFlag.store(true); }
    ~FlagHold() { mFlag.store(false); }

   private:
    std::atomic<bool>& mFlag;
  };

  std::recursive_mutex mLoadLock;
  std::atomic<int32_t> mLoadsWaiting{0};  // loads holding the load lock or waiting for it
  static constexpr int kPendingWords = (kNumHostParams + 31) / 32;
  std::atomic<uint32_t> mPendingHostParams[kPendingWords] = {};
  std::atomic<bool> mVoiceResetPending{false};  // a reset that met a load, for the next block
  std::atomic<bool> mReadingState{false};       // no change counting while a state is read
  std::atomic<bool> mInstallingEffects{false};  // an effect's set-up of its records is no edit
  std::mutex mMessageLock;
};
