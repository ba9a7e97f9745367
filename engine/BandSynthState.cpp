// The engine state block: parameter values, both blobs of every track with their names, the
// velocity curves, the LFO shapes, and the mute and solo settings. It has no length field: the
// reader consumes exactly what the writer produced.
#include <string>

#include "effects/EffectRegistry.h"
#include "engine/BandSynth.h"
#include "engine/core/ByteStream.h"

namespace {

constexpr char kModifiedMark = '*';
constexpr const char* kOffName = "<off>";

int32_t wantedType(const Param& type) {
  const float v = type.value;
  if (!(v > -1e9f && v < 1e9f)) return -1;
  return static_cast<int32_t>(v);
}

void writeSlot(const Blob& blob, uint8_t* buffer, int32_t* pos, int32_t size) {
  const bool present = blob.present != 0;
  streamWriteInt(buffer, pos, size, present ? 1 : 0, 1);
  if (!present) return;
  if (blob.modified > 0) {
    // The mark must survive the length limit, or the edit would be forgotten on reload.
    std::string marked = blob.name.substr(0, kStreamStringMaxLen - 1);
    marked += kModifiedMark;
    streamWriteString(buffer, pos, size, marked.c_str(), kStreamStringMaxLen);
  } else {
    streamWriteString(buffer, pos, size, blob.name.c_str(), kStreamStringMaxLen);
  }
  blob.serialize(buffer, size, pos);
}

void readSlot(Blob& blob, const uint8_t* buffer, int32_t* pos, int32_t size) {
  const int32_t present = streamReadInt(buffer, pos, size, 1, 0);
  blob.present = present != 0 ? 1 : 0;
  if (present != 0) {
    std::string name;
    streamReadString(name, buffer, pos, size);
    blob.modified = 0;
    if (!name.empty() && name.back() == kModifiedMark) {
      name.pop_back();
      blob.modified = 1;
    }
    blob.name = name;
    const int32_t start = *pos;
    blob.deserialize(buffer, size, pos);
    // A blob cut short by the end of the block is left as it was; stepping over its full
    // length keeps the position where the writer's would be.
    if (*pos - start == 1 && static_cast<int64_t>(start) + Blob::kByteSize > size) {
      *pos = start + Blob::kByteSize;
    }
  } else {
    blob.name = kOffName;
    blob.clear();
  }
  blob.revision += 1;
}

}  // namespace

int32_t BandSynth::serialize(uint8_t* buffer, int32_t size) const {
  int32_t pos = 0;
  streamWriteInt(buffer, &pos, size, kStateVersion, 2);
  for (const Param& p : params) p.serialize(buffer, &pos, size);
  for (const DrumTrack& track : tracks) {
    writeSlot(track.blobs[0], buffer, &pos, size);
    writeSlot(track.blobs[1], buffer, &pos, size);
    track.velocityCurve.serialize(buffer, &pos, size, false);
  }
  for (const PointCurve& shape : lfoShapes) shape.serialize(buffer, &pos, size, false);
  streamWriteInt(buffer, &pos, size, muteMask, 2);
  streamWriteInt(buffer, &pos, size, soloTrack, 2);
  return pos;
}

int32_t BandSynth::deserialize(const uint8_t* buffer, int32_t size) {
  keepFxParams = 1;
  int32_t pos = 0;
  const int32_t version = streamReadInt(buffer, &pos, size, 2, 0);
  for (int32_t i = 0; i < kParamCount; ++i) {
    params[static_cast<size_t>(i)].deserialize(buffer, &pos, size, version);
    // Right after a slot's "Type", its two effect records are declared by that type, so the
    // values that follow are held to the ranges of the effect they belong to.
    const int32_t s = (i - kSlotParamsStart) / SlotParam::kCount;
    if (i >= kSlotParamsStart && i < kSynthParamsStart && i == slotParam(s, SlotParam::kType)) {
      const int32_t type = wantedType(params[static_cast<size_t>(i)]);
      if (type != mEffectParamTypes[s]) declareEffectParams(s, type);
    }
  }
  for (DrumTrack& track : tracks) {
    readSlot(track.blobs[0], buffer, &pos, size);
    readSlot(track.blobs[1], buffer, &pos, size);
    track.velocityCurve.deserialize(buffer, &pos, size, false);
  }
  for (PointCurve& shape : lfoShapes) shape.deserialize(buffer, &pos, size, false);
  muteMask = static_cast<int16_t>(streamReadInt(buffer, &pos, size, 2, 0));
  const int32_t solo = streamReadInt(buffer, &pos, size, 2, 1);
  // Only "none" or a real track: any other value would silence every track.
  soloTrack = static_cast<int16_t>(solo >= -1 && solo < kTrackCount ? solo : -1);
  return pos;
}
