#include "plugin/library/SoundLibrary.h"

#include <cmath>
#include <exception>

#include "engine/blob/AudioFileLoader.h"
#include "engine/blob/Blob.h"
#include "plugin/files/FileUtils.h"
#include "plugin/files/FolderListing.h"
#include "plugin/files/UserDataPaths.h"

namespace {

constexpr const char* kBlobExtension = ".blob";
constexpr float kMinSampleRate = 1.0f;
// Anything summing above this counts as sound; below it analysis has nothing to measure.
constexpr double kSilenceLevel = 1e-30;
constexpr int kMatchEnd = 1;

// True when some sample is not silent. Samples that are not finite count as silence, as they
// do in the analysis, so a damaged sample at the start can't hide the sound behind it.
bool hasSound(const std::vector<float>& samples) {
  double sum = 0.0;
  for (float s : samples) {
    if (std::isfinite(s)) sum += std::fabs(s);
    if (sum > kSilenceLevel) return true;
  }
  return false;
}

}  // namespace

std::string ImportSoundToLibrary(const std::string& folder, const std::string& fileName) {
  try {
    float rate = 0.0f;
    const std::string path = folder + fileName;
    const std::vector<float> samples = LoadAudioFileMono(path.c_str(), &rate, true, nullptr);
    if (!(rate >= kMinSampleRate) || !hasSound(samples)) return {};

    Blob blob;
    if (!blob.analyze(samples, rate, false, 0)) return {};
    const std::string name = std::string(kUserSoundsFolder) + RemoveExtension(fileName);
    return WriteSoundFile(blob, name, false) ? name : std::string();
  } catch (const std::exception&) {
    return {};  // out of memory: nothing was written
  }
}

bool WriteSoundFile(const Blob& blob, const std::string& name, bool isPath) {
  try {
    const int32_t size = blob.serialize(nullptr, 0, nullptr);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (blob.serialize(bytes.data(), size, nullptr) != size) return false;
    const std::string library = GetSoundsPath();
    if (!isPath && library.empty()) return false;  // no user folders: nowhere to keep the sound
    const std::string path = isPath ? name : library + name + kBlobExtension;
    return WriteFileBytes(bytes.data(), size, path.c_str(), true);
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<std::string> ListLibrarySounds() {
  std::vector<std::string> sounds;
  try {
    for (std::string& file : ListFilesRecursive(GetSoundsPath())) {
      if (StringMatch(file, kBlobExtension, kMatchEnd, false)) sounds.push_back(std::move(file));
    }
  } catch (const std::exception&) {
    sounds.clear();
  }
  return sounds;
}
