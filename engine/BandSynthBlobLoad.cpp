// Loading a ".blob" file into one of a track's two sound slots.
#include <exception>

#include "engine/BandSynth.h"
#include "platform/WholeFile.h"

namespace {
constexpr const char* kBlobExtension = ".blob";
// A blob file is 1137 bytes; anything much larger is not worth reading.
constexpr int64_t kMaxBlobFileBytes = 1 << 20;
}  // namespace

void BandSynth::loadBlob(int32_t track, int32_t slot, const std::string& name) {
  if (track < 0 || track >= kTrackCount || slot < 0 || slot > 1) return;
  try {
    std::vector<uint8_t> bytes;
    // Without a sound library folder there is nothing to load (a relative path would read from
    // wherever the host runs).
    if (!name.empty() && !blobFolder.empty()) {
      std::string path = blobFolder + name;
      const std::string extension = kBlobExtension;
      if (path.size() < extension.size() ||
          path.compare(path.size() - extension.size(), extension.size(), extension) != 0) {
        path += extension;
      }
      bytes = ReadFileBytes(path.c_str(), kMaxBlobFileBytes);
    }
    Blob loaded;
    const int32_t size = static_cast<int32_t>(bytes.size());
    const int32_t consumed = loaded.deserialize(bytes.data(), size, nullptr);
    // Only a complete read counts. A reader that stops after the version byte consumed 1: a
    // 1-byte file must not pass for a blob.
    if (consumed != size || consumed <= 1) return;
    Blob& target = tracks[track].blobs[slot];
    target.assign(loaded, false);
    target.modified = 0;
    target.name = RemoveExtension(GetFileName(name));
    target.present = 1;
  } catch (const std::exception&) {
    // Out of memory: the slot stays as it was.
  }
}
