// The saved state (what the host keeps in its project, and what a preset file holds), preset
// files, and the pending message through which failures reach the user.
//
// The chunk: "FenrakState" and its NUL, the int32 version, the engine block, the sequencer
// block, and (from version 0x10011 on) the preset name with "*" when the state was modified.
#include <algorithm>
#include <cstdio>

#include "engine/core/ByteStream.h"
#include "gui/FennrakeGUI.h"
#include "platform/DebugOutput.h"
#include "plugin/Fennrake.h"
#include "plugin/files/FileUtils.h"

using namespace iplug;

namespace {

constexpr const char* kMarker = "FenrakState";
constexpr int32_t kMarkerBytes = 12;  // with its NUL
constexpr int32_t kOldestVersion = 2308;
constexpr int32_t kFirstVersionWithName = 0x10011;
constexpr char kModifiedMark = '*';
// A state is measured before it is written; a write that finds it grown (another thread
// editing between the two) measures again, at most this often.
constexpr int kWriteAttempts = 4;

constexpr const char* kNotRecognized = "The saved data is not recognized, possibly corrupted data.";
constexpr const char* kTooNew = "This preset was created with a newer version of Oskra. You need to upgrade to load this.";
constexpr const char* kTooOld = "This preset is too old to open with your version of Oskra, sorry!";

// Where a block starts within a buffer of size bytes, and how much room it has there.
uint8_t* at(uint8_t* buffer, int32_t pos, int32_t size) { return buffer != nullptr && pos < size ? buffer + pos : nullptr; }
const uint8_t* at(const uint8_t* buffer, int32_t pos, int32_t size) {
  return buffer != nullptr && pos < size ? buffer + pos : nullptr;
}
int32_t room(int32_t pos, int32_t size) { return pos < size ? size - pos : 0; }

// The sum of two block positions, held at INT32_MAX.
int32_t advanced(int32_t pos, int32_t by) {
  const int64_t sum = static_cast<int64_t>(pos) + by;
  return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

// The preset's name as a file's: without folder and extension.
std::string presetNameOf(const std::string& path) { return RemoveExtension(GetFileName(path)); }

}  // namespace

bool Fennrake::IsModified() const {
  return mChangeCount.load() >= 1 || mSequencer.changeCount.load() != mSeqChangeMark;
}

int Fennrake::WriteState(uint8_t* buffer, int size) {
  std::lock_guard<std::recursive_mutex> hold(InstanceLock());
  if (size < 0) size = 0;
  int32_t pos = 0;
  streamWriteString(buffer, &pos, size, kMarker, kStreamStringMaxLen);
  streamWriteInt(buffer, &pos, size, kStateVersion, 4);
  pos = advanced(pos, mBandSynth.serialize(at(buffer, pos, size), room(pos, size)));
  pos = advanced(pos, mSequencer.serialize(at(buffer, pos, size), room(pos, size)));
  std::string name = mPresetName;
  if (IsModified()) {
    // The mark must survive the length limit, or the state would read back as saved.
    name.resize(std::min<size_t>(name.size(), kStreamStringMaxLen - 1));
    name += kModifiedMark;
  }
  streamWriteString(buffer, &pos, size, name.c_str(), kStreamStringMaxLen);
  return pos;
}

std::vector<uint8_t> Fennrake::StateBytes() {
  std::vector<uint8_t> bytes;
  try {
    int needed = WriteState(nullptr, 0);
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
      bytes.assign(static_cast<size_t>(needed), 0);
      const int written = WriteState(bytes.data(), needed);
      if (written == needed) return bytes;
      needed = written;
    }
  } catch (const std::exception&) {
    // Out of memory: no state.
  }
  bytes.clear();
  return bytes;
}

bool Fennrake::SerializeState(IByteChunk& chunk) {
  std::lock_guard<std::recursive_mutex> hold(InstanceLock());
  // Measured first and stored whole, however large the state has grown.
  const std::vector<uint8_t> bytes = StateBytes();
  if (bytes.empty()) return false;
  chunk.Clear();
  return chunk.PutBytes(bytes.data(), static_cast<int>(bytes.size())) >= 0;
}

int Fennrake::UnserializeState(const IByteChunk& chunk, int startPos) {
  if (startPos < 0 || startPos > chunk.Size()) return -1;
  const int n = ReadState(chunk.GetData() + startPos, chunk.Size() - startPos);
  return n > 0 ? startPos + n : -1;
}

int Fennrake::ReadState(const uint8_t* data, int size) { return ReadStateChecked(data, size, false); }

int Fennrake::ReadStateChecked(const uint8_t* data, int size, bool requireWhole) {
  try {
    return ReadChunk(data, size, requireWhole);
  } catch (const std::exception&) {
    // Out of memory before anything was read (the copies of what is there come first).
    ShowMessage(kNotRecognized);
    return 0;
  }
}

std::vector<uint8_t> Fennrake::CurrentBlocks() const {
  const int32_t engineSize = mBandSynth.serialize(nullptr, 0);
  const int32_t sequencerSize = mSequencer.serialize(nullptr, 0);
  std::vector<uint8_t> bytes(static_cast<size_t>(engineSize) + static_cast<size_t>(sequencerSize));
  mBandSynth.serialize(bytes.data(), engineSize);
  mSequencer.serialize(bytes.data() + engineSize, sequencerSize);
  return bytes;
}

int32_t Fennrake::ReadBlocks(const uint8_t* data, int32_t size, int32_t pos, int32_t version) {
  pos = advanced(pos, mBandSynth.deserialize(at(data, pos, size), room(pos, size)));
  // A chunk that ended inside the engine block is refused: the sequencer is not touched.
  if (pos > size) return pos;
  for (int i = 0; i < NParams(); ++i) {
    if (IsHostParam(i)) GetParam(i)->Set(GetParam(i)->Constrain(EngineParamForHost(i).value));
  }
  for (int i = 0; i < NParams(); ++i) {
    OnParamChange(i, kPresetRecall, -1);
    OnParamChangeUI(i, kPresetRecall);
  }
  const float synthTrack = mBandSynth.params[static_cast<size_t>(BandSynth::synthParam(SynthParam::kSynthTrack))].value;
  mSelectedTrack = std::clamp(synthTrack >= 0.0f ? static_cast<int32_t>(synthTrack) : 0, 0, BandSynth::kTrackCount - 1);
  return advanced(pos, mSequencer.deserialize(at(data, pos, size), room(pos, size), version));
}

int Fennrake::ReadChunk(const uint8_t* data, int size, bool requireWhole) {
  std::lock_guard<std::recursive_mutex> instance(InstanceLock());
  mStateLoadCount.fetch_add(1);
  if (data == nullptr || size < 0) size = 0;
  if (size < kMarkerBytes || !streamMatchString(data, 0, size, kMarker, kStreamStringMaxLen)) {
    ShowMessage(kNotRecognized);
    return 0;
  }
  int32_t pos = kMarkerBytes;
  const int32_t version = streamReadInt(data, &pos, size, 4, 1);
  if (version > kStateVersion) {
    ShowMessage(kTooNew);
    return 0;
  }
  if (version < kOldestVersion) {
    ShowMessage(kTooOld);
    return 0;
  }

  // What is there now, to be put back when the chunk turns out to be cut short: the blocks
  // are read in place, so a refusal must undo them. Taken before the audio thread is held, so
  // the copies cost no silence.
  const std::vector<uint8_t> before = CurrentBlocks();
  // The sounds are kept as they are in memory too: a picture does not always read back from
  // its bytes to exactly the same values.
  std::vector<Blob> soundsBefore(2 * BandSynth::kTrackCount);
  for (int t = 0; t < BandSynth::kTrackCount; ++t) {
    for (int k = 0; k < 2; ++k) soundsBefore[static_cast<size_t>(2 * t + k)].assign(mBandSynth.tracks[t].blobs[k], true);
  }
  const int32_t selectedBefore = mSelectedTrack;
  const uint32_t sequencerChangesBefore = mSequencer.changeCount.load();

  const LoadHold hold(*this);
  const FlagHold reading(mReadingState);
  pos = ReadBlocks(data, size, pos, version);
  std::string name;
  bool complete = pos <= size;
  if (complete && version >= kFirstVersionWithName) {
    // The name ends with its NUL inside the chunk; a chunk that ends before it was cut.
    complete = pos < size;
    streamReadString(name, data, &pos, size);
    complete = complete && pos <= size;
  }
  if (!complete || (requireWhole && pos != size)) {
    ReadBlocks(before.data(), static_cast<int32_t>(before.size()), 0, kStateVersion);
    for (int t = 0; t < BandSynth::kTrackCount; ++t) {
      for (int k = 0; k < 2; ++k) mBandSynth.tracks[t].blobs[k].assign(soundsBefore[static_cast<size_t>(2 * t + k)], true);
    }
    mSelectedTrack = selectedBefore;
    // Whether the pattern counted as modified stays as it was.
    mSeqChangeMark += mSequencer.changeCount.load() - sequencerChangesBefore;
    ShowMessage(kNotRecognized);
    return 0;
  }

  PushUndoState(true);
  mPresetName.clear();
  mChangeCount.store(0);
  mSeqChangeMark = mSequencer.changeCount.load();
  if (!name.empty() && name.back() == kModifiedMark) {
    name.pop_back();
    mChangeCount.store(100);
  }
  mPresetName = name;
  HandOverToAudio(true);
  return pos;
}

bool Fennrake::LoadPresetFile(const std::string& path) {
  std::lock_guard<std::recursive_mutex> instance(InstanceLock());
  const std::vector<uint8_t> bytes = ReadFileBytes(path.c_str(), IPlugVST3::kMaxStateSize);
  if (bytes.empty()) {
    ShowMessage(std::string("couldn't open preset: ").append(path));
    return false;
  }
  std::string name;
  try {
    name = presetNameOf(path);
  } catch (const std::exception&) {
    return false;
  }
  // From the host sync kept to the end: no block renders in between.
  const LoadHold hold(*this);
  Param& hostSync = mSequencer.params[Sequencer::kHostSync];
  const bool syncOn = hostSync.effectiveValue() != 0.0f;
  // A preset is one whole chunk; anything else is refused and changes nothing.
  const int n = ReadStateChecked(bytes.data(), static_cast<int>(bytes.size()), true);
  // Loading a preset never changes host sync.
  hostSync.setNormalized(syncOn ? 1.0f : 0.0f);
  if (n <= 0) return false;
  mPresetName.swap(name);
  mChangeCount.store(0);
  InformHostOfPresetChange();
  RefreshGUI();
  return true;
}

bool Fennrake::SavePresetFile(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(InstanceLock());
  std::string name;
  try {
    name = presetNameOf(path);
  } catch (const std::exception&) {
    return false;
  }
  const int32_t changesBefore = mChangeCount.load();
  const uint32_t markBefore = mSeqChangeMark;
  // Saved under the file's name and without the modified mark.
  mPresetName.swap(name);
  mChangeCount.store(0);
  mSeqChangeMark = mSequencer.changeCount.load();
  const std::vector<uint8_t> bytes = StateBytes();
  if (!bytes.empty() && WriteFileBytes(bytes.data(), static_cast<int64_t>(bytes.size()), path.c_str(), true)) return true;
  // Nothing was saved: the state keeps its name and stays modified.
  mPresetName.swap(name);
  mChangeCount.store(changesBefore);
  mSeqChangeMark = markBefore;
  ShowMessage(std::string("couldn't save preset: ").append(path));
  return false;
}

void Fennrake::ShowMessage(const std::string& text) {
  std::lock_guard<std::mutex> hold(mMessageLock);
  std::snprintf(mMessage, sizeof(mMessage), "%s", text.c_str());
  mMessageTime = GetTimeSeconds();
  // No editor shows it on this platform; the developer's output does.
  char line[kMessageSize + 8];
  std::snprintf(line, sizeof(line), "Oskra: %s\n", mMessage);
  debugOutput(line);
}

bool Fennrake::TakeMessage(std::string& text) {
  std::lock_guard<std::mutex> hold(mMessageLock);
  if (mMessage[0] == '\0') return false;
  text = mMessage;
  mMessage[0] = '\0';
  return true;
}
