#include "tools/startkit/StartKit.h"

#include <exception>
#include <filesystem>

#include "engine/blob/Blob.h"
#include "engine/sequencer/Sequencer.h"
#include "plugin/Fennrake.h"
#include "plugin/files/UserDataPaths.h"
#include "plugin/framework/Timer.h"
#include "plugin/library/SoundLibrary.h"

namespace startkit {

namespace {

constexpr const char* kBlobExtension = ".blob";
constexpr int kTicks = Sequencer::kTicksPerStep;

struct Step {
  int lane;
  int step;
  uint8_t velocity;
};

// One bar: kick, snare on two and four, eighth-note hats, and a few touches of the others.
constexpr Step kPattern[] = {
    {0, 0, 127}, {0, 6, 100}, {0, 10, 112},
    {1, 15, 70},
    {2, 4, 118}, {2, 12, 118},
    {3, 12, 90},
    {4, 3, 76},  {4, 11, 84},
    {5, 14, 88},
    {6, 0, 100}, {6, 2, 64}, {6, 4, 100}, {6, 6, 64}, {6, 8, 100}, {6, 10, 64}, {6, 12, 100}, {6, 14, 64},
    {7, 0, 72},
};

bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// The instance the preset is written by; its timers run only when asked, so nothing happens
// behind the kit's back while it is being built.
struct ManualTimers {
  ManualTimers() { iplug::Timer::SetManualMode(true); }
  ~ManualTimers() { iplug::Timer::SetManualMode(false); }
};

bool writePreset(const std::string& path, std::string& error) {
  ManualTimers timers;
  Fennrake* plug = new Fennrake;
  bool ok = true;
  for (int track = 0; track < BandSynth::kTrackCount && ok; ++track) {
    const std::string name = kKitSounds[track].name;
    for (int slot = 0; slot < 2; ++slot) plug->mBandSynth.loadBlob(track, slot, name);
    const Blob& loaded = plug->mBandSynth.tracks[track].blobs[0];
    if (loaded.present == 0 || plug->mBandSynth.tracks[track].blobs[1].present == 0) {
      error = "the sound " + GetSoundsPath() + name + kBlobExtension + " does not load";
      ok = false;
    }
  }
  if (ok) {
    Sequencer& sequencer = plug->mSequencer;
    sequencer.clearLane(Sequencer::kAllLanes);
    for (const Step& s : kPattern) sequencer.addNote(s.lane, s.step * kTicks, kTicks, s.velocity);
    sequencer.params[Sequencer::kBpm].setValue(kStartKitBpm);
    ok = plug->SavePresetFile(path) && exists(path);
    if (!ok) error = "cannot write " + path;
  }
  plug->release();
  return ok;
}

}  // namespace

InstallReport InstallStartKit() {
  InstallReport report;
  try {
    if (GetSoundsPath().empty()) {
      report.error = "no user folders: neither HOME nor the user database names an absolute home";
      return report;
    }
    for (const KitSound& sound : kKitSounds) {
      const std::string path = GetSoundsPath() + sound.name + kBlobExtension;
      if (exists(path)) {
        report.kept.push_back(path);
        continue;
      }
      Blob blob;
      if (!blob.analyze(SynthesizeDrum(sound.drum), static_cast<float>(kDrumSampleRate), false, 0) ||
          !WriteSoundFile(blob, sound.name, false)) {
        report.error = "cannot write " + path;
        return report;
      }
      report.installed.push_back(path);
    }
    const std::string preset = GetPresetsPath() + kStartPresetFile;
    if (exists(preset)) {
      report.kept.push_back(preset);
    } else if (writePreset(preset, report.error)) {
      report.installed.push_back(preset);
    }
  } catch (const std::exception& e) {
    report.error = e.what();
  }
  return report;
}

}  // namespace startkit
