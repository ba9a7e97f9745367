#pragma once

#include <string>
#include <vector>

#include "tools/startkit/DrumSynth.h"

// The start kit: eight drum sounds made by DrumSynth and analysed into library sounds, and a
// preset that puts them on the eight tracks with a simple pattern. A fresh instance loads that
// preset first, so it plays drums from the start.
namespace startkit {

struct KitSound {
  Drum drum;
  const char* name;  // a library name; it holds the drum category word of its track
};

// In track order: each sound goes on the track whose category its name holds.
inline constexpr KitSound kKitSounds[] = {
    {Drum::kKick, "Start Kit/kick"},     {Drum::kRim, "Start Kit/rim"},
    {Drum::kSnare, "Start Kit/snare"},   {Drum::kClap, "Start Kit/clap"},
    {Drum::kPercussion, "Start Kit/percussion"}, {Drum::kTom, "Start Kit/tom"},
    {Drum::kHihat, "Start Kit/hihat"},   {Drum::kCymbal, "Start Kit/cymbal"},
};
// The preset's file name in the Presets folder; its name holds "Start", so a fresh instance
// loads it.
inline constexpr const char* kStartPresetFile = "Start Kit.oskra";
inline constexpr float kStartKitBpm = 100.0f;

struct InstallReport {
  std::vector<std::string> installed;  // files written, as full paths
  std::vector<std::string> kept;       // files that were there already and were left alone
  std::string error;                   // empty when every missing file was written
  bool ok() const { return error.empty(); }
};

// Writes every file of the kit that is missing from the user's folders (Sounds folder +
// name + ".blob", Presets folder + kStartPresetFile) and never touches one that exists, so a
// user's changes survive a second install. The preset takes the sounds from the library as
// they then are.
InstallReport InstallStartKit();

}  // namespace startkit
