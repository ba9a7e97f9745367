// The sound library as the editor reaches it: audio files imported as sounds into the selected
// track or, in a batch, into the library only; sounds saved; the randomiser.
#include <mutex>

#include "engine/core/Param.h"
#include "gui/FennrakeGUI.h"
#include "platform/RuntimeClock.h"
#include "plugin/Fennrake.h"
#include "plugin/library/KitRandomizer.h"
#include "plugin/library/SampleImport.h"
#include "plugin/library/SoundLibrary.h"

void Fennrake::ImportSamples(const std::vector<std::string>& paths, int slot) {
  std::lock_guard<std::recursive_mutex> hold(InstanceLock());
  mLoadQueueIndex.store(-1);
  mLoadQueue.clear();
  const std::vector<ImportEntry> entries = CollectImportEntries(paths);
  for (const ImportEntry& e : entries) mLoadQueue.push_back({e.name, e.folder});
  // More files than an immediate import takes wait until the editor starts the batch.
  if (entries.size() > kMaxImmediateImports) return;
  const Param& transform = mBandSynth.params[static_cast<size_t>(BandSynth::trackParam(mSelectedTrack, TrackParam::kTransform))];
  const float shown = transform.toNormalized(loadShared(transform.value));
  for (size_t i = 0; i < entries.size(); ++i)
    ImportSoundFile(entries[i].folder, entries[i].name, ImportSlot(slot, shown, i));
}

bool Fennrake::ImportSoundFile(const std::string& folder, const std::string& fileName, int slot) {
  std::lock_guard<std::recursive_mutex> hold(InstanceLock());
  const std::string name = ImportSoundToLibrary(folder, fileName);
  if (name.empty()) return false;
  if (slot >= 0) {
    const LoadHold hold(*this);
    mBandSynth.loadBlob(mSelectedTrack, slot > 0 ? 1 : 0, name);
    // The import is an edit of the track's sounds: one undo step brings back what was there.
    PushUndoState(false);
    if (FennrakeGUI* gui = GetGUI()) gui->SelectTrack(mSelectedTrack, true);
    RefreshGUI();
  }
  return true;
}

bool Fennrake::SaveSoundFile(const Blob& blob, const std::string& name, bool isPath) {
  return WriteSoundFile(blob, name, isPath);
}

void Fennrake::Randomize(int mode) {
  std::lock_guard<std::recursive_mutex> instance(InstanceLock());
  const std::vector<std::string> library = mode == kRandomizePattern ? std::vector<std::string>{} : ListLibrarySounds();
  const LoadHold hold(*this);
  if (!RandomizeKit(mBandSynth, mSequencer, library, mode, static_cast<uint32_t>(runtimeClockMs()))) return;
  // The randomiser moves host-visible values too (the tracks' "Seed", a modulation "Amount").
  for (int i = 0; i < NParams(); ++i) {
    if (IsHostParam(i)) GetParam(i)->Set(GetParam(i)->Constrain(EngineParamForHost(i).value));
  }
  InformHostOfPresetChange();
  RefreshGUI();
}
