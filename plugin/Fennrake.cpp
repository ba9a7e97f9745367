// The plug-in object: construction, reset, the framework's hooks towards the editor, the idle
// work, the undo history of the selected track's sounds, and the instance factory.
#include "plugin/Fennrake.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>

#include "graphics/IGraphics.h"
#include "gui/FennrakeGUI.h"
#include "platform/RuntimeClock.h"
#include "plugin/ProductInfo.h"
#include "plugin/files/FileUtils.h"
#include "plugin/files/FolderListing.h"
#include "plugin/files/UserDataPaths.h"

using namespace iplug;

namespace {

constexpr int kMaxBusNameLength = 20;
constexpr int kMinUiPercent = 10;
constexpr int kMaxUiPercent = 1000;
constexpr int kMaxParamNameLength = 100;
constexpr uint32_t kPrepareSeed = 2;

Config fennrakeConfig() {
  Config config;
  config.nParams = Fennrake::kNumHostParams;
  config.channelIOStr =
      "0-2 0-2.2 0-2.2.2 0-2.2.2.2 0-2.2.2.2.2 0-2.2.2.2.2.2 0-2.2.2.2.2.2.2 0-2.2.2.2.2.2.2.2 0-2.2.2.2.2.2.2.2.2";
  config.pluginName = "Oskra";
  config.productName = "Oskra";
  config.mfrName = "Tarnwick7";
  config.vendorVersion = 0x20000;
  config.uniqueID = static_cast<int>(Fennrake::kPluginCode);
  config.mfrID = static_cast<int>(Fennrake::kMakerCode);
  config.latency = 64;
  config.plugDoesMidiIn = true;
  config.plugDoesMidiOut = false;
  config.plugType = kInstrument;
  config.plugHasUI = true;
  config.plugHostResize = false;
  config.plugWidth = Fennrake::kEditorWidth;
  config.plugHeight = Fennrake::kEditorHeight;
  config.plugMinWidth = 264;
  config.plugMaxWidth = 2000;
  config.plugMinHeight = 200;
  config.plugMaxHeight = 2000;
  return config;
}

// The editor's scale from the "ui_size_percent" setting: a whole percentage within 10..1000,
// else 1.
float editorScale(const std::string& setting) {
  const long percent = std::strtol(setting.c_str(), nullptr, 10);
  return percent >= kMinUiPercent && percent <= kMaxUiPercent ? static_cast<float>(percent) / 100.0f : 1.0f;
}

}  // namespace

Steinberg::FUnknown* Fennrake::MakePlug(void*) {
  static std::mutex creationLock;
  try {
    std::lock_guard<std::mutex> hold(creationLock);
    return static_cast<Steinberg::Vst::IAudioProcessor*>(new Fennrake);
  } catch (...) {
    return nullptr;
  }
}

Fennrake::Fennrake() : IPlugVST3(fennrakeConfig()), ConstructionHold(InstanceLock()) {
  DeclareHostParams();
  mBandSynth.blobFolder = GetSoundsPath();
  for (Param& p : mBandSynth.params) p.listener = this;
  // The settings file was read (and made, on first use) by mUserSettings.
  EndConstruction();
}

Fennrake::~Fennrake() {
  // The idle work touches the members: no tick may run once they start to go. Stopped outside
  // the instance lock, which a running tick may be trying.
  StopTimer();
  // The editor's root control switches the engine's metering off as it goes, so it must go
  // while the engine is still there.
  CloseWindow();
}

void Fennrake::DeclareHostParams() {
  const int count = std::min(NParams(), static_cast<int>(mBandSynth.modTargets.size()));
  for (int k = 0; k < count; ++k) {
    const Param& p = EngineParamForHost(k);
    std::string name = p.groupPrefix != nullptr ? std::string(p.groupPrefix) + " " + p.label : std::string(p.label);
    name.resize(std::min<size_t>(name.size(), kMaxParamNameLength));
    const float lo = p.fromNormalized(0.0f);
    const float hi = p.fromNormalized(1.0f);
    IParam* param = GetParam(k);
    if (p.kind == Param::kStepped) {
      const int first = static_cast<int>(lo);
      param->InitEnum(name.c_str(), static_cast<int>(p.defaultValue), first, static_cast<int>(hi));
      for (int i = 0; i < p.valueNameCount; ++i) param->SetDisplayText(first + i, p.valueNames[i]);
      continue;
    }
    const char* group = p.groupPrefix != nullptr ? p.groupPrefix : "";
    if (p.kind == Param::kPower) {
      param->InitDouble(name.c_str(), p.defaultValue, lo, hi, 0.001, "", 0, group, IParam::ShapePowCurve(p.shapeExponent));
    } else if (p.kind == Param::kExponential) {
      param->InitDouble(name.c_str(), p.defaultValue, lo, hi, 0.001, "", 0, group, IParam::ShapeExp());
    } else {
      param->InitDouble(name.c_str(), p.defaultValue, lo, hi, 0.001, "", 0, group);
    }
  }
}

Fennrake::LoadHold::LoadHold(Fennrake& plug) : mPlug(plug) {
  // Announced before waiting, so the audio thread starts no further block while the load waits.
  mPlug.mLoadsWaiting.fetch_add(1);
  mPlug.mLoadLock.lock();
}

Fennrake::LoadHold::~LoadHold() {
  mPlug.mLoadLock.unlock();
  mPlug.mLoadsWaiting.fetch_sub(1);
}

void Fennrake::OnParamChange(int paramIdx, EParamSource source, int) {
  if (source == kReset || !IsHostParam(paramIdx)) return;
  // The host's automation arrives on the audio thread, which never waits: while a load holds
  // the engine, the value is taken up by the next block that renders.
  std::unique_lock<std::recursive_mutex> engine(mLoadLock, std::defer_lock);
  if (source == kHost && !engine.try_lock()) {
    SetHostParamPending(paramIdx);
    return;
  }
  ApplyHostParam(paramIdx);
}

void Fennrake::ApplyHostParam(int paramIdx) {
  EngineParamForHost(paramIdx).setValue(static_cast<float>(GetParam(paramIdx)->Value()));
}

void Fennrake::SetHostParamPending(int paramIdx) {
  mPendingHostParams[paramIdx / 32].fetch_or(1u << (paramIdx % 32), std::memory_order_relaxed);
}

void Fennrake::TakePendingHostParams() {
  for (int w = 0; w < kPendingWords; ++w) {
    if (mPendingHostParams[w].load(std::memory_order_relaxed) == 0) continue;
    const uint32_t bits = mPendingHostParams[w].exchange(0, std::memory_order_relaxed);
    for (int b = 0; b < 32; ++b) {
      const int paramIdx = 32 * w + b;
      if ((bits >> b & 1u) != 0 && IsHostParam(paramIdx)) ApplyHostParam(paramIdx);
    }
  }
}

void Fennrake::OnParamChangeUI(int paramIdx, EParamSource) {
  FennrakeGUI* gui = GetGUI();
  if (gui != nullptr && IsHostParam(paramIdx)) gui->FlashKnobsForParam(mBandSynth.modTargets[static_cast<size_t>(paramIdx)]);
}

void Fennrake::OnMidiMsgUI(const IMidiMsg& msg) {
  FennrakeGUI* gui = GetGUI();
  const int kind = msg.StatusKind();
  if (gui != nullptr && (kind == 8 || kind == 9)) gui->OnNoteFromHost(msg.mData1 % 12, kind == 9);
}

igraphics::IGraphics* Fennrake::CreateGraphics() {
  const float scale = editorScale(GetUserSetting("ui_size_percent", false));
  return new igraphics::IGraphics(*this, kEditorWidth, kEditorHeight, kEditorFps, scale);
}

void Fennrake::LayoutUI(igraphics::IGraphics* graphics) {
  if (graphics == nullptr || graphics->GetControlWithTag(kRootControlTag) != nullptr) return;
  graphics->AttachControl(new FennrakeGUI(this, graphics), kRootControlTag, "");
}

FennrakeGUI* Fennrake::GetGUI() const {
  igraphics::IGraphics* graphics = GetUI();
  return graphics != nullptr ? dynamic_cast<FennrakeGUI*>(graphics->GetControlWithTag(kRootControlTag)) : nullptr;
}

void Fennrake::RefreshGUI() {
  if (FennrakeGUI* gui = GetGUI()) gui->RefreshFromState();
}

void Fennrake::HandOverToAudio(bool audioPaused) {
  if (!audioPaused) {
    if (mBandSynth.effectSwitchDue()) {
      // Installing an effect declares the slot's records anew: a load of its own.
      const LoadHold hold(*this);
      HandOverToAudio(true);
      return;
    }
    // Sounds only: no effect is installed, so the host's automation of an effect's values that
    // meets this hand-over on the audio thread still counts as an edit.
    mBandSynth.updateEffectTypes(false);
    return;
  }
  const FlagHold installing(mInstallingEffects);
  mBandSynth.updateEffectTypes(true);
}

void Fennrake::OnIdle() {
  // Runs on the timer under the instance lock.
  HandOverToAudio(false);
  const int index = mLoadQueueIndex.load();
  const int count = static_cast<int>(mLoadQueue.size());
  if (index >= 0 && index < count) {
    const LoadQueueEntry entry = mLoadQueue[static_cast<size_t>(index)];
    ImportSoundFile(entry.folder, entry.name, -1);
    mLoadQueueIndex.store(index + 1);
  } else if (index >= count) {
    mLoadQueue.clear();
    mLoadQueueIndex.store(-1);
  }
}

void Fennrake::OnReset() { Reset(static_cast<float>(GetSampleRate())); }

void Fennrake::Reset(float sampleRate) {
  // The same rate may come from the audio thread (processing switched off): voices only.
  if (sampleRate == mSampleRate.load()) {
    // This thread may be the audio thread, which never waits: while a load or a block has the
    // engine, the next block that renders silences the voices instead.
    std::unique_lock<std::recursive_mutex> engine(mLoadLock, std::try_to_lock);
    if (engine.owns_lock()) {
      mBandSynth.resetVoices(0);
    } else {
      mVoiceResetPending.store(true);
    }
    return;
  }
  if (!(sampleRate >= BandSynth::kMinSampleRate && sampleRate <= BandSynth::kMaxSampleRate)) return;
  std::lock_guard<std::recursive_mutex> instance(InstanceLock());
  const LoadHold hold(*this);
  mBandSynth.prepare(sampleRate, kPrepareSeed);
  // Published after the engine is ready: until then the audio thread renders silence.
  mSampleRate.store(sampleRate);
  if (mStateLoadCount.load() == 0) {
    LoadStartPreset();
    mStateLoadCount.fetch_add(1);
  }
  HandOverToAudio(true);
}

void Fennrake::LoadStartPreset() {
  const std::string folder = GetPresetsPath();
  std::vector<std::string> files;
  for (const FolderEntry& entry : ListFolder(folder)) {
    if (!entry.isFolder) files.push_back(entry.name);
  }
  for (const std::string& name : files) {
    if (StringMatch(name, "start", 2, true) && LoadPresetFile(folder + name)) return;
  }
  if (!files.empty()) {
    const size_t pick = static_cast<size_t>(runtimeClockMs() % static_cast<int64_t>(files.size()));
    if (LoadPresetFile(folder + files[pick])) return;
  }
  Randomize(3);
}

void Fennrake::GetBusName(ERoute direction, int busIdx, int, WDL_String& str) const {
  if (direction != kOutput) {
    str.Set("");
  } else if (busIdx == 0) {
    str.Set("Main");
  } else {
    char name[kMaxBusNameLength + 1];
    std::snprintf(name, sizeof(name), "Bus %d", busIdx);
    str.Set(name);
  }
}

void Fennrake::paramChanged(Param* param) {
  if (mReadingState.load(std::memory_order_relaxed)) return;
  // An effect installed for a slot's "Type" sets its two records up: a loaded preset whose
  // effects are installed afterwards is not thereby modified.
  const int k = (param->index - BandSynth::kSlotParamsStart) % SlotParam::kCount;
  const bool effectRecord = param->index >= BandSynth::kSlotParamsStart && param->index < BandSynth::kSynthParamsStart &&
                            k >= SlotParam::kEffect0;
  if (effectRecord && mInstallingEffects.load(std::memory_order_relaxed)) return;
  mChangeCount.fetch_add(1, std::memory_order_relaxed);
}

int Fennrake::SetSequencerPlaying(int v) {
  const int playing = v >= 0 ? v : (mSeqPlaying.load() < 1 ? 1 : 0);
  mSeqPlaying.store(playing);
  mSeqStarted.store(0);
  return playing;
}

void Fennrake::MirrorSelectedBlobs(int axis) {
  // The editor's own sounds only: the audio side hears them once they are handed over, so this
  // is no load.
  std::lock_guard<std::recursive_mutex> hold(InstanceLock());
  const int track = std::clamp(mSelectedTrack, 0, BandSynth::kTrackCount - 1);
  const Param& transform = mBandSynth.params[static_cast<size_t>(BandSynth::trackParam(track, TrackParam::kTransform))];
  const float p = transform.toNormalized(loadShared(transform.value));
  for (int k = 0; k < 2; ++k) {
    if (std::fabs(static_cast<float>(k) - p) < 0.999f) mBandSynth.tracks[track].blobs[k].mirror(axis);
  }
  PushUndoState(false);
}

void Fennrake::PushUndoState(bool clearHistory) {
  std::lock_guard<std::recursive_mutex> hold(InstanceLock());
  if (clearHistory || mUndoRing.empty()) {
    mUndoPos = 0;
    try {
      mUndoRing.resize(kNumUndoSnapshots);
    } catch (const std::bad_alloc&) {
      // Without memory for the history there is none; the edit itself stands.
      mUndoRing.clear();
      mUndoTop = 0;
      return;
    }
  } else {
    ++mUndoPos;
    mChangeCount.fetch_add(1, std::memory_order_relaxed);
  }
  mUndoTop = mUndoPos;
  const int track = std::clamp(mSelectedTrack, 0, BandSynth::kTrackCount - 1);
  BandSynth::copyTrackBlobs(mBandSynth.tracks[track].blobs, mUndoRing[static_cast<size_t>(mUndoPos % kNumUndoSnapshots)].blobs);
}

int Fennrake::GetUndoCount(int direction) const {
  if (direction > 0) return mUndoTop - mUndoPos;
  // The ring holds the current state too, so it reaches one step less far back than it has
  // snapshots.
  if (direction < 0) return std::min(mUndoPos, kNumUndoSnapshots - 1 - (mUndoTop - mUndoPos));
  return -1;
}

void Fennrake::Undo(int steps) {
  std::lock_guard<std::recursive_mutex> instance(InstanceLock());
  if (steps == 0 || mUndoRing.empty() || steps < -GetUndoCount(-1) || steps > GetUndoCount(1)) return;
  const LoadHold hold(*this);
  mUndoPos += steps;
  const int track = std::clamp(mSelectedTrack, 0, BandSynth::kTrackCount - 1);
  BandSynth::copyTrackBlobs(mUndoRing[static_cast<size_t>(mUndoPos % kNumUndoSnapshots)].blobs, mBandSynth.tracks[track].blobs);
  RefreshGUI();
}

std::string Fennrake::GetProductInfoText() const {
  ProductInfo info = CurrentProductInfo();
  info.lastBlockSize = mLastBlockSize.load();
  info.sampleRate = mSampleRate.load();
  info.outputChannels = mOutputChannels.load();
  return ::GetProductInfoText(info);
}
